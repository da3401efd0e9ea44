// One run of kinetiscan-play, from opening the input to the published results.
#pragma once

#include <csignal>
#include <iosfwd>

#include "options.h"

namespace kinetiscan::play {

constexpr int kExitFailure = 1;

// Set from a signal handler to the signal's number: the run ends after the frame it is playing,
// keeps what it recorded up to there and exits with 128 + the signal's number, as shells expect.
extern volatile std::sig_atomic_t stopRequested;

// Prints the summary to `out`, progress and errors to `err`; returns the exit code.
int runPlay(const PlayOptions& options, std::ostream& out, std::ostream& err);

}  // namespace kinetiscan::play
