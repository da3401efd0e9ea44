// A synthetic scene with known ground truth: a textured static background, coloured discs that
// move and bounce, sensor noise and an optional sudden change of lighting. The same seed gives
// the same frames on every platform.
#pragma once

#include <cstdint>

#include "camera/frame_source.h"

namespace kinetiscan::camera {

struct SceneOptions {
  std::uint32_t seed = 1;
  int discs = 3;
  int noise = 3;              // peak amplitude of the per-byte sensor noise
  int lightingChangeAt = -1;  // frame index from which the scene is brighter; -1 for never
  int frames = -1;            // frames before the source ends; -1 for endless
};

class SyntheticScene : public FrameSource {
 public:
  explicit SyntheticScene(const SceneOptions& options);
  bool next(Frame& frame) override;
  const GroundTruth* truth() const override { return &truth_; }
  bool knowsTruth() const override { return true; }
  int frameIndex() const { return index_; }

 private:
  struct Mover {
    Disc disc;
    double rowStep, columnStep;
  };
  std::uint32_t random();
  std::uint8_t background(int row, int column, int channel) const;

  SceneOptions options_;
  std::uint64_t state_;
  std::vector<Mover> movers_;
  GroundTruth truth_;
  int index_ = 0;
};

}  // namespace kinetiscan::camera
