// What steers a run from outside its frames: signals, the window's keys, the --at schedule, OSC
// input. Each source puts commands on one queue, which the run polls between frames and while it
// waits; a new way to steer is one new source.
#pragma once

#include <deque>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "options.h"

namespace kinetiscan::play {

class LiveWindow;

struct Command {
  enum Kind { kStop, kCall, kSet, kPause, kStep, kSave };
  Kind kind = kStop;
  // kStop: what stopped the run, for the summary ("SIGINT", "closing the window"), and the exit
  // code it ends with. The other kinds: where they came from ("key", "OSC"); empty for --at.
  std::string by;
  int exitCode = 0;
  // kCall: a script call, made after the frame's reads.
  ScriptCall call;
  // kSet: the member's property set to `value` after the frame's reads, as a script sets it; or,
  // when `steps` is not 0, that many key steps from its current value (see steppedSetting).
  // kPause: `value` 1 pauses, 0 resumes, -1 toggles. kStep: one frame while paused (pauses a
  // running run). kSave: the current settings written to kinetiscan-settings.json.
  std::string property;
  double value = 0;
  int steps = 0;
};

class ControlSource {
 public:
  virtual ~ControlSource() = default;
  // Adds what happened since the last poll; `frame` is the frame being played or next to play.
  virtual void poll(int frame, std::deque<Command>* commands) = 0;
};

// The sources of a run in the order they are polled; false with the reason when one cannot be
// had (the --osc-in port is taken). `err` takes their notes, such as refused OSC values.
bool makeControls(const PlayOptions& options, LiveWindow* window, std::ostream& err,
                  std::vector<std::unique_ptr<ControlSource>>* controls, std::string* error);

}  // namespace kinetiscan::play
