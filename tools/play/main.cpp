// kinetiscan-play: shows the motion sensor at work, with no Windows machine and no host
// application. See --help.
#include <csignal>
#include <iostream>

#include "options.h"
#include "play_run.h"

namespace {

extern "C" void requestStop(int) { kinetiscan::play::stopRequested = 1; }

}  // namespace

int main(int argc, char** argv) {
  const kinetiscan::play::ParseOutcome parsed = kinetiscan::play::parseOptions(argc, argv);
  if (!parsed.options) {
    (parsed.exitCode == 0 ? std::cout : std::cerr) << parsed.message << "\n";
    return parsed.exitCode;
  }
  std::signal(SIGINT, requestStop);
  std::signal(SIGTERM, requestStop);
  return kinetiscan::play::runPlay(*parsed.options, std::cout, std::cerr);
}
