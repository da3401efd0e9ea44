// The camera behind the plug-in's capture window: the built-in scene, image folders, raw files or
// a V4L2 webcam, each a frame source of 160x120 bottom-up BGR frames.
#pragma once

#include <memory>
#include <string>

#include "camera/synthetic_scene.h"
#include "options.h"

namespace kinetiscan::play {

// The synthetic scene, preceded by frames of its empty background: a script that adapts to an
// empty room before anything moves is how the sensor is meant to be used. Ground truth of the
// empty frames has no discs.
class SceneWithEmptyStart : public camera::FrameSource {
 public:
  SceneWithEmptyStart(const camera::SceneOptions& scene, int emptyFrames);
  bool next(camera::Frame& frame) override;
  const camera::GroundTruth* truth() const override;
  bool knowsTruth() const override { return true; }

 private:
  camera::SyntheticScene empty_;
  camera::SyntheticScene scene_;
  int emptyLeft_;
  bool inScene_ = false;
};

// Null, with a message naming the file or device, when the input cannot be opened.
std::unique_ptr<camera::FrameSource> openInput(const PlayOptions& options, std::string* error);

// A short description of the input for the summary.
std::string describeInput(const PlayOptions& options);

}  // namespace kinetiscan::play
