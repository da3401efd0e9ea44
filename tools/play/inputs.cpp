// Opening the inputs of kinetiscan-play.
#include "inputs.h"

#include <unistd.h>

#include <filesystem>

#include "camera/file_sources.h"
#include "camera/v4l2_source.h"
#include "camera/video_source.h"
#include "recording_tee.h"

namespace kinetiscan::play {
namespace {

camera::SceneOptions withoutDiscs(camera::SceneOptions scene) {
  scene.discs = 0;
  scene.frames = -1;
  return scene;
}

// The input as the summary names it.
class Described : public camera::FrameSourceDecorator {
 public:
  Described(std::unique_ptr<camera::FrameSource> inner, std::string text)
      : FrameSourceDecorator(std::move(inner)), text_(std::move(text)) {}
  std::string description() const override { return text_; }

 private:
  std::string text_;
};

// Raw frames stored top-down, as ffmpeg writes bgr24, turned to the plug-in's bottom-up order.
class TopDownFrames : public camera::FrameSourceDecorator {
 public:
  using FrameSourceDecorator::FrameSourceDecorator;
  bool next(camera::Frame& frame) override {
    if (!inner().next(frame)) return false;
    camera::flipRows(frame);
    return true;
  }
};

std::unique_ptr<camera::FrameSource> openRaw(const PlayOptions& options, std::string* error) {
  std::unique_ptr<camera::FrameSource> raw =
      options.inputPath == "-" ? camera::openRawStream(STDIN_FILENO, "standard input")
                               : camera::openRawFile(options.inputPath, options.loop, error);
  if (raw == nullptr || !options.rawTopDown) return raw;
  return std::make_unique<TopDownFrames>(std::move(raw));
}

std::unique_ptr<camera::FrameSource> openSource(const PlayOptions& options, std::string* error) {
  switch (options.input) {
    case InputKind::kSynthetic: {
      camera::SceneOptions scene;
      scene.seed = options.seed;
      scene.discs = options.discs;
      scene.noise = options.noise;
      return std::make_unique<SceneWithEmptyStart>(scene, options.emptyFrames);
    }
    case InputKind::kImages: {
      std::error_code failure;
      if (!std::filesystem::is_directory(options.inputPath, failure)) {
        *error = options.inputPath + ": no such folder";
        return nullptr;
      }
      return camera::openImageFolder(options.inputPath, options.loop, error);
    }
    case InputKind::kRaw:
      return openRaw(options, error);
    case InputKind::kDevice:
      return openVideoDevice(options.inputPath, error);
    case InputKind::kVideo:
      return camera::openVideoFile(options.inputPath, options.loop, error);
  }
  *error = "unknown input";
  return nullptr;
}

}  // namespace

SceneWithEmptyStart::SceneWithEmptyStart(const camera::SceneOptions& scene, int emptyFrames)
    : empty_(withoutDiscs(scene)), scene_(scene), emptyLeft_(emptyFrames) {}

bool SceneWithEmptyStart::next(camera::Frame& frame) {
  if (emptyLeft_ > 0) {
    --emptyLeft_;
    return empty_.next(frame);
  }
  inScene_ = true;
  return scene_.next(frame);
}

const camera::GroundTruth* SceneWithEmptyStart::truth() const {
  return inScene_ ? scene_.truth() : empty_.truth();
}

std::unique_ptr<camera::FrameSource> openInput(const PlayOptions& options, std::string* error) {
  std::unique_ptr<camera::FrameSource> source = openSource(options, error);
  if (source == nullptr) return nullptr;
  // What the source gave, before anything between it and the plug-in changes it.
  if (!options.recordPath.empty()) {
    source = recordTo(std::move(source), options.recordPath, error);
    if (source == nullptr) return nullptr;
  }
  return std::make_unique<Described>(std::move(source), describeInput(options));
}

std::string describeInput(const PlayOptions& options) {
  switch (options.input) {
    case InputKind::kSynthetic:
      return "built-in scene (seed " + std::to_string(options.seed) + ", " +
             std::to_string(options.discs) + " discs, noise " + std::to_string(options.noise) +
             ", " + std::to_string(options.emptyFrames) + " empty frames first)";
    case InputKind::kImages:
      return "images in " + options.inputPath;
    case InputKind::kRaw:
      return (options.inputPath == "-" ? std::string("raw frames from standard input")
                                       : "raw frames from " + options.inputPath) +
             (options.rawTopDown ? " (top-down)" : "");
    case InputKind::kDevice:
      return "webcam " + options.inputPath;
    case InputKind::kVideo:
      return options.inputPath == "-" ? "video from standard input" : "video " + options.inputPath;
  }
  return "?";
}

}  // namespace kinetiscan::play
