// File-based frame sources.
#include "camera/file_sources.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_NO_STDIO_FAILURE_STRINGS
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace kinetiscan::camera {
namespace {

class FrameList : public FrameSource {
 public:
  FrameList(std::vector<Frame> frames, bool loop) : frames_(std::move(frames)), loop_(loop) {}
  bool next(Frame& frame) override {
    if (position_ == frames_.size()) {
      if (!loop_) return false;
      position_ = 0;
    }
    frame = frames_[position_++];
    return true;
  }

 private:
  std::vector<Frame> frames_;
  bool loop_;
  std::size_t position_ = 0;
};

bool isImageFile(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* known : {".png", ".jpg", ".jpeg", ".ppm", ".pgm", ".bmp", ".tga", ".gif"}) {
    if (extension == known) return true;
  }
  return false;
}

}  // namespace

Frame frameFromImage(const std::uint8_t* pixels, int width, int height, int channels) {
  Frame frame(kFrameBytes, 0);
  for (int row = 0; row < kHeight; ++row) {
    // Frame row 0 is the bottom of the picture; image row 0 is its top.
    const int top = (kHeight - 1 - row) * height / kHeight;
    const int bottom = std::max(top + 1, (kHeight - row) * height / kHeight);
    for (int column = 0; column < kWidth; ++column) {
      const int left = column * width / kWidth;
      const int right = std::max(left + 1, (column + 1) * width / kWidth);
      unsigned sum[3] = {0, 0, 0};
      for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
          const std::uint8_t* source =
              pixels + (static_cast<std::size_t>(y) * width + x) * channels;
          for (int k = 0; k < 3; ++k) sum[k] += source[channels >= 3 ? k : 0];
        }
      }
      const unsigned count = static_cast<unsigned>((bottom - top) * (right - left));
      std::uint8_t* target = &frame[(row * kWidth + column) * 3];
      target[0] = static_cast<std::uint8_t>(sum[2] / count);  // blue
      target[1] = static_cast<std::uint8_t>(sum[1] / count);  // green
      target[2] = static_cast<std::uint8_t>(sum[0] / count);  // red
    }
  }
  return frame;
}

std::unique_ptr<FrameSource> openImageFiles(const std::vector<std::string>& files, bool loop,
                                            std::string* error) {
  std::vector<Frame> frames;
  for (const std::string& file : files) {
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load(file.c_str(), &width, &height, &channels, 3);
    if (pixels == nullptr) {
      if (error != nullptr)
        *error = file + ": not a readable image (" + stbi_failure_reason() + ")";
      return nullptr;
    }
    frames.push_back(frameFromImage(pixels, width, height, 3));
    stbi_image_free(pixels);
  }
  if (frames.empty()) {
    if (error != nullptr) *error = "no images given";
    return nullptr;
  }
  return std::make_unique<FrameList>(std::move(frames), loop);
}

std::unique_ptr<FrameSource> openImageFolder(const std::string& folder, bool loop,
                                             std::string* error) {
  std::error_code failure;
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder, failure)) {
    if (entry.is_regular_file() && isImageFile(entry.path()))
      files.push_back(entry.path().string());
  }
  if (failure) {
    if (error != nullptr) *error = folder + ": " + failure.message();
    return nullptr;
  }
  if (files.empty()) {
    if (error != nullptr) *error = folder + ": no image files in this folder";
    return nullptr;
  }
  std::sort(files.begin(), files.end());
  return openImageFiles(files, loop, error);
}

std::unique_ptr<FrameSource> openRawFile(const std::string& file, bool loop, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error != nullptr) *error = file + ": cannot open";
    return nullptr;
  }
  std::vector<Frame> frames;
  Frame frame(kFrameBytes);
  while (in.read(reinterpret_cast<char*>(frame.data()), kFrameBytes)) frames.push_back(frame);
  if (in.gcount() != 0 || frames.empty()) {
    if (error != nullptr) {
      *error = file + ": not a whole number of 160x120 BGR frames (57600 bytes each)";
    }
    return nullptr;
  }
  return std::make_unique<FrameList>(std::move(frames), loop);
}

}  // namespace kinetiscan::camera
