// kinetiscan-play: shows the motion sensor at work, with no Windows machine and no host
// application. See --help.
#include <csignal>
#include <exception>
#include <iostream>
#include <new>

#include "options.h"
#include "play_run.h"

namespace {

extern "C" void requestStop(int signal) { kinetiscan::play::stopRequested = signal; }

}  // namespace

int main(int argc, char** argv) {
  // Whatever escapes the run (a file system error, memory running out) ends it with a message
  // and exit code 1; unwinding to here has removed the staging folder and left earlier results
  // as they were.
  try {
    const kinetiscan::play::ParseOutcome parsed = kinetiscan::play::parseOptions(argc, argv);
    if (!parsed.options) {
      (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.message << "\n";
      return parsed.exitCode;
    }
    // Ctrl-C, a service manager's stop and a closed terminal all end the run the same way.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, requestStop);
    return kinetiscan::play::runPlay(*parsed.options, std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << "kinetiscan-play: out of memory; no results kept\n";
  } catch (const std::exception& error) {
    std::cerr << "kinetiscan-play: " << error.what() << "; no results kept\n";
  } catch (...) {
    std::cerr << "kinetiscan-play: unexpected failure; no results kept\n";
  }
  return 1;
}
