// A V4L2 webcam as a frame source: YUYV or MJPEG at the smallest size the device offers that
// covers 160x120, converted to the 160x120 bottom-up BGR frames a capture driver delivers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "camera/frame_source.h"

namespace kinetiscan::play {

// A source that can say why it stopped delivering frames.
class ExplainedSource : public camera::FrameSource {
 public:
  // Empty while all is well.
  virtual std::string failure() const = 0;
};

// Null with a message naming the device when it is missing, not a capture device, or offers
// neither YUYV nor MJPEG.
std::unique_ptr<ExplainedSource> openVideoDevice(const std::string& path, std::string* error);

// Packed 4:2:2 YUYV rows (BT.601, studio range) to top-down RGB, 3 bytes per pixel. The width is
// even, as YUYV pairs pixels; `stride` is the byte length of a source row.
void yuyvToRgb(const std::uint8_t* yuyv, int width, int height, int stride, std::uint8_t* rgb);

}  // namespace kinetiscan::play
