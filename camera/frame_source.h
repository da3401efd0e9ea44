// Where simulated cameras get their pictures: 160x120 frames of bottom-up BGR bytes, the layout
// a Video for Windows driver delivers for RGB-24.
#pragma once

#include <cstdint>
#include <memory>
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
  // Whether the source gives frames at its own pace, as a camera does: nobody need wait between
  // them.
  virtual bool paced() const { return false; }
  // Whether it knows the truth behind its frames (a synthetic scene), so tracking can be judged.
  virtual bool knowsTruth() const { return false; }
  // What it is, for a person: "webcam /dev/video0", "raw frames from f.raw".
  virtual std::string description() const { return {}; }
};

// What sits between a source and the plug-in (a recording tee, a mask): it forwards whatever it
// does not change.
class FrameSourceDecorator : public FrameSource {
 public:
  explicit FrameSourceDecorator(std::unique_ptr<FrameSource> inner) : inner_(std::move(inner)) {}
  bool next(Frame& frame) override { return inner_->next(frame); }
  const GroundTruth* truth() const override { return inner_->truth(); }
  std::string failure() const override { return inner_->failure(); }
  std::string note() const override { return inner_->note(); }
  bool paced() const override { return inner_->paced(); }
  bool knowsTruth() const override { return inner_->knowsTruth(); }
  std::string description() const override { return inner_->description(); }

 protected:
  FrameSource& inner() { return *inner_; }

 private:
  std::unique_ptr<FrameSource> inner_;
};

}  // namespace kinetiscan::camera
