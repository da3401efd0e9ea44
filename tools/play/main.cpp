// kinetiscan-play: shows the motion sensor at work, with no Windows machine and no host
// application. See --help.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <new>

#include "options.h"
#include "play_run.h"

namespace {

extern "C" void requestStop(int signal) { kinetiscan::play::stopRequested = signal; }

// A program started with standard input, output or error closed would hand the descriptor to the
// first file it opens, and its progress or records would land in a result file.
void keepStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1) continue;
    const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
    if (opened != descriptor && opened >= 0) close(opened);  // another thread took it: none here
  }
}

// Ctrl-C, a service manager's stop and a closed terminal all end the run the same way. Without
// SA_RESTART, so a blocking open or write (a FIFO, a reader that never reads) returns and the
// run ends instead of waiting on. A closed pipe ends it through the failed write, not SIGPIPE.
void installSignalHandlers() {
  struct sigaction stop {};
  stop.sa_handler = requestStop;
  sigemptyset(&stop.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &stop, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  keepStandardDescriptors();
  // Whatever escapes the run (a file system error, memory running out) ends it with a message
  // and exit code 1; unwinding to here has removed the staging folder and left earlier results
  // as they were.
  try {
    const kinetiscan::play::ParseOutcome parsed = kinetiscan::play::parseOptions(argc, argv);
    if (!parsed.options) {
      (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.message << "\n";
      return parsed.exitCode;
    }
    for (const std::string& warning : parsed.warnings) std::cerr << warning << "\n";
    installSignalHandlers();
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
