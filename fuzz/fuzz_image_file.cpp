// The image-file reader as a folder of images uses it: any bytes, recognised by content, the size
// checked from the header, decoded (PNG, JPEG, BMP) and scaled to a frame.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camera/file_sources.h"
#include "camera/image_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan::camera;
  std::string error;
  ImageHeader header;
  const bool headerRead = readImageHeader(data, size, &header, &error);
  DecodedImage image;
  if (!decodeImage(data, size, &image, &error)) return 0;
  // What decodes had a header within the limit, and its pixels are all there.
  if (!headerRead || image.width <= 0 || image.height <= 0 || image.width > kMaxImageSide ||
      image.height > kMaxImageSide ||
      image.rgb.size() != std::size_t(image.width) * std::size_t(image.height) * 3) {
    std::abort();
  }
  const Frame frame = frameFromImage(image.rgb.data(), image.width, image.height, 3);
  if (frame.size() != kFrameBytes) std::abort();
  return 0;
}
