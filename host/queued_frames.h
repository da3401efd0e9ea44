// A camera whose frames the caller queues: none left means no frame arrives.
#pragma once

#include <deque>
#include <utility>

#include "camera/frame_source.h"

namespace kinetiscan::host {

class QueuedFrames : public camera::FrameSource {
 public:
  bool next(camera::Frame& frame) override {
    if (frames.empty()) return false;
    frame = std::move(frames.front());
    frames.pop_front();
    return true;
  }
  std::deque<camera::Frame> frames;
};

}  // namespace kinetiscan::host
