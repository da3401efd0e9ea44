// Where simulated cameras get their pictures: 160x120 frames of bottom-up BGR bytes, the layout
// a Video for Windows driver delivers for RGB-24.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kinetiscan::camera {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr std::uint32_t kFrameBytes = kWidth * kHeight * 3;

using Frame = std::vector<std::uint8_t>;

// One moving object of a synthetic scene, in frame coordinates: row 0 is the bottom row.
struct Disc {
  double row;
  double column;
  double radius;
  std::uint8_t blue, green, red;
};

// What a synthetic frame really shows, for judging the tracking.
struct GroundTruth {
  std::vector<Disc> discs;
  bool lightingChanged = false;  // this frame is the first one after a sudden lighting change
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // Fills `frame` with the next kFrameBytes bytes; false when the source has no more frames.
  virtual bool next(Frame& frame) = 0;
  // The truth behind the frame `next` gave last, when the source knows it.
  virtual const GroundTruth* truth() const { return nullptr; }
  // Why `next` gave no frame before the source's end (a file that cannot be read, a camera
  // gone); empty while all is well.
  virtual std::string failure() const { return {}; }
  // What the user should know about the frames given so far, such as their scaling; or empty.
  virtual std::string note() const { return {}; }
};

}  // namespace kinetiscan::camera
