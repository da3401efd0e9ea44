// --osc-in PORT: the run steered by OSC messages over UDP, as the window's keys steer it.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "control_source.h"

namespace kinetiscan::play {

// A liblo server on `port` of every interface, taking
//   /kinetiscan/set NAME VALUE   (s, then i, h, f or d) a live setting, as a script sets it
//   /kinetiscan/adapt            the current frame becomes the background
//   /kinetiscan/pause [ON]       toggles, or with 1 / 0 (i, f, T, F) pauses / resumes
//   /kinetiscan/step             one frame while paused
// Anything refused (an unknown name or address, a value out of range or not finite, the wrong
// argument types) is written to `err` with the reason and not applied. Null with the reason in
// `error` when the port cannot be had.
std::unique_ptr<ControlSource> openOscControls(int port, std::ostream& err, std::string* error);

}  // namespace kinetiscan::play
