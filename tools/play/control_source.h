// What steers a run from outside its frames: signals, the window's keys, the --at schedule. Each
// source puts commands on one queue, which the run polls between frames and while it waits; a new
// way to steer is one new source.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "options.h"

namespace kinetiscan::play {

class LiveWindow;

struct Command {
  enum Kind { kStop, kCall };
  Kind kind = kStop;
  // kStop: what stopped the run, for the summary ("SIGINT", "closing the window"), and the exit
  // code it ends with.
  std::string by;
  int exitCode = 0;
  // kCall: a script call, made after the frame's reads.
  ScriptCall call;
};

class ControlSource {
 public:
  virtual ~ControlSource() = default;
  // Adds what happened since the last poll; `frame` is the frame being played or next to play.
  virtual void poll(int frame, std::deque<Command>* commands) = 0;
};

// The sources of a run in the order they are polled.
std::vector<std::unique_ptr<ControlSource>> makeControls(const PlayOptions& options,
                                                         LiveWindow* window);

}  // namespace kinetiscan::play
