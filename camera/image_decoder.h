// Still images as frame sources read them: PNG (libpng), JPEG (libjpeg-turbo) and BMP (stb_image),
// recognised by their first bytes, never by their name. The size an image declares is checked
// against kMaxImageSide before anything is decoded, and an image shorter than its header says is
// an error, so no file can make the reader allocate more than a bounded amount or show memory
// it never filled.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kinetiscan::camera {

// The largest width or height read, in pixels: 8192x8192 RGB decodes into 192 MiB.
constexpr std::int64_t kMaxImageSide = 8192;
// The largest image file read whole; a 32-bit 8192x8192 BMP with a palette fits.
constexpr std::uint64_t kMaxImageFileBytes = 8192ull * 8192 * 4 + (1u << 20);

enum class ImageFormat { kUnknown, kPng, kJpeg, kBmp, kGif, kPsd, kHdr, kPnm, kTiff, kWebp, kPic };

// Recognised by the first bytes alone.
ImageFormat sniffImageFormat(const std::uint8_t* data, std::size_t size);
const char* imageFormatName(ImageFormat format);
// The formats decoded: PNG, JPEG and BMP.
bool isReadableFormat(ImageFormat format);

struct ImageHeader {
  ImageFormat format = ImageFormat::kUnknown;
  std::int64_t width = 0, height = 0;
};

// Reads the format and the declared size without decoding pixels. False with the reason in
// `error` for a format that is not read, a header that cannot be parsed, or a side of zero or
// beyond kMaxImageSide.
bool readImageHeader(const std::uint8_t* data, std::size_t size, ImageHeader* header,
                     std::string* error);

// A decoded image: top-down RGB, 3 bytes per pixel.
struct DecodedImage {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

// Decodes a PNG, JPEG or BMP image whole. False with the reason in `error` for anything else,
// for a size beyond the limit, and for damaged or truncated data.
bool decodeImage(const std::uint8_t* data, std::size_t size, DecodedImage* image,
                 std::string* error);
// The same for JPEG only (a webcam's MJPEG frames).
bool decodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage* image,
                std::string* error);

// Reads a whole image file, refusing files larger than kMaxImageFileBytes, then decodes it.
bool readImageFile(const std::string& path, DecodedImage* image, std::string* error);
// Reads as little of an image file as its header needs (its first 256 KiB, or all of it when the
// header reaches further) and checks it as readImageHeader does, and the file's size as
// readImageFile does.
bool readImageFileHeader(const std::string& path, ImageHeader* header, std::string* error);

}  // namespace kinetiscan::camera
