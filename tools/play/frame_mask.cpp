// The mask, read with the camera's image decoder and scaler.
#include "frame_mask.h"

#include "camera/file_sources.h"
#include "camera/image_decoder.h"

namespace kinetiscan::play {
namespace {

constexpr std::size_t kPixels = static_cast<std::size_t>(camera::kWidth) * camera::kHeight;

class MaskedSource : public camera::FrameSourceDecorator {
 public:
  MaskedSource(std::unique_ptr<camera::FrameSource> inner, std::shared_ptr<const FrameMask> mask,
               std::string path)
      : FrameSourceDecorator(std::move(inner)), mask_(std::move(mask)), path_(std::move(path)) {}
  bool next(camera::Frame& frame) override {
    if (!inner().next(frame)) return false;
    for (std::size_t i = 0; i < kPixels && 3 * i + 2 < frame.size(); ++i) {
      if (!mask_->ignored[i]) continue;
      frame[3 * i] = frame[3 * i + 1] = frame[3 * i + 2] = kMaskedGrey;
    }
    return true;
  }
  std::string description() const override {
    return FrameSourceDecorator::description() + ", masked by " + path_ + " (" +
           std::to_string(mask_->count) + " of 19200 pixels ignored)";
  }

 private:
  std::shared_ptr<const FrameMask> mask_;
  std::string path_;
};

}  // namespace

bool loadFrameMask(const std::string& path, FrameMask* mask, std::string* error) {
  camera::ImageHeader header;
  std::string why;
  if (!camera::readImageFileHeader(path, &header, &why)) {
    *error = "--mask " + path + ": " + why;
    return false;
  }
  if (header.format != camera::ImageFormat::kPng) {
    *error = "--mask " + path + ": a " + camera::imageFormatName(header.format) +
             " image; the mask is a PNG (black: ignored)";
    return false;
  }
  camera::DecodedImage image;
  if (!camera::readImageFile(path, &image, &why)) {
    *error = "--mask " + path + ": " + why;
    return false;
  }
  const camera::Frame scaled =
      camera::frameFromImage(image.rgb.data(), image.width, image.height, 3);
  mask->ignored.assign(kPixels, false);
  mask->count = 0;
  for (std::size_t i = 0; i < kPixels; ++i) {
    const std::uint8_t* bgr = &scaled[3 * i];
    if (bgr[0] < kMaskBlackBelow && bgr[1] < kMaskBlackBelow && bgr[2] < kMaskBlackBelow) {
      mask->ignored[i] = true;
      ++mask->count;
    }
  }
  return true;
}

std::unique_ptr<camera::FrameSource> maskSource(std::unique_ptr<camera::FrameSource> source,
                                                std::shared_ptr<const FrameMask> mask,
                                                const std::string& path) {
  return std::make_unique<MaskedSource>(std::move(source), std::move(mask), path);
}

void darkenMasked(const FrameMask& mask, Picture* stage) {
  if (mask.count == 0) return;
  for (int y = 0; y < stage->height && y < camera::kHeight; ++y) {
    // Picture rows run top-down, frame rows bottom-up.
    const std::size_t row = static_cast<std::size_t>(camera::kHeight - 1 - y) * camera::kWidth;
    for (int x = 0; x < stage->width; ++x) {
      if (!mask.ignored[row + x % camera::kWidth]) continue;
      std::uint8_t* rgb = &stage->rgb[(static_cast<std::size_t>(y) * stage->width + x) * 3];
      for (int k = 0; k < 3; ++k) rgb[k] = static_cast<std::uint8_t>(rgb[k] * 2 / 5);
    }
  }
}

}  // namespace kinetiscan::play
