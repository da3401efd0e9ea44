// A frame as the capture driver delivered it, handed to the analysis as an argument.
#pragma once

#include <cstdint>

namespace kinetiscan {

// The bytes of a frame: blue, green, red per pixel, bottom row first. `count` may be below or
// above kFrameBytes. Null bytes or a zero count mean there is no frame.
struct FrameView {
  const std::uint8_t* bytes = nullptr;
  std::uint32_t count = 0;
};

inline bool hasFrame(FrameView frame) { return frame.bytes != nullptr && frame.count != 0; }

}  // namespace kinetiscan
