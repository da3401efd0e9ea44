// Image decoding with the size checked first and short data refused.
#include "camera/image_decoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>

// libjpeg's headers need FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

// stb_image reads the BMPs only: libpng and libjpeg-turbo report short data, stb does not.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_STDIO_FAILURE_STRINGS
#define STBI_MAX_DIMENSIONS 8192
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace kinetiscan::camera {
namespace {

static_assert(kMaxImageSide <= STBI_MAX_DIMENSIONS);

// A progressive JPEG buffers its coefficients whole: 8192x8192 at 4:4:4 needs 384 MiB.
constexpr long kJpegMemory = 512l << 20;
// Progressive JPEGs of a few bytes per scan can declare thousands of scans, each a full pass.
constexpr int kMaxJpegScans = 256;

bool startsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t n) {
  return size >= n && std::memcmp(data, magic, n) == 0;
}

std::uint32_t little32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}
std::uint16_t little16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t big32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

bool checkSize(std::int64_t width, std::int64_t height, const char* format, std::string* error) {
  if (width <= 0 || height <= 0) {
    *error = std::string("a ") + format + " image of " + std::to_string(width) + "x" +
             std::to_string(height) + " pixels has no pixels";
    return false;
  }
  if (width > kMaxImageSide || height > kMaxImageSide) {
    *error = std::string("a ") + format + " image of " + std::to_string(width) + "x" +
             std::to_string(height) + " pixels; at most " + std::to_string(kMaxImageSide) +
             " pixels a side are read";
    return false;
  }
  return true;
}

// BMP: the header fields stb reads, and the bytes the pixel rows need.
struct BmpLayout {
  std::int64_t width = 0, height = 0;
  std::uint64_t bytesNeeded = 0;
};

bool readBmpLayout(const std::uint8_t* data, std::size_t size, BmpLayout* layout,
                   std::string* error) {
  if (size < 26) {
    *error = "a BMP header cut short";
    return false;
  }
  const std::uint32_t offset = little32(data + 10);
  const std::uint32_t headerSize = little32(data + 14);
  std::uint32_t bitsPerPixel = 0, compression = 0;
  if (headerSize == 12) {
    layout->width = little16(data + 18);
    layout->height = little16(data + 20);
    bitsPerPixel = little16(data + 24);
  } else if (headerSize == 40 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
    if (size < 34) {
      *error = "a BMP header cut short";
      return false;
    }
    layout->width = static_cast<std::int32_t>(little32(data + 18));
    // Negative heights are top-down images.
    const std::int64_t height = static_cast<std::int32_t>(little32(data + 22));
    layout->height = height < 0 ? -height : height;
    bitsPerPixel = little16(data + 28);
    compression = little32(data + 30);
  } else {
    *error = "a BMP with an unknown header of " + std::to_string(headerSize) + " bytes";
    return false;
  }
  if (!checkSize(layout->width, layout->height, "BMP", error)) return false;
  if (compression != 0 && compression != 3) {
    *error = "a compressed BMP (method " + std::to_string(compression) + "), which is not read";
    return false;
  }
  if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
      bitsPerPixel != 24 && bitsPerPixel != 32) {
    *error = "a BMP of " + std::to_string(bitsPerPixel) + " bits per pixel";
    return false;
  }
  // Rows are padded to whole 32-bit words.
  const std::uint64_t rowBytes = (std::uint64_t(layout->width) * bitsPerPixel + 31) / 32 * 4;
  layout->bytesNeeded = std::uint64_t{offset} + rowBytes * std::uint64_t(layout->height);
  return true;
}

bool readPngHeader(const std::uint8_t* data, std::size_t size, ImageHeader* header,
                   std::string* error) {
  // The signature, then the IHDR chunk: length, type, width, height.
  if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) {
    *error = "a PNG without its IHDR header";
    return false;
  }
  header->width = big32(data + 16);
  header->height = big32(data + 20);
  return checkSize(header->width, header->height, "PNG", error);
}

struct JpegErrors {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr common) {
  auto* errors = reinterpret_cast<JpegErrors*>(common->err);
  (*common->err->format_message)(common, errors->message);
  std::longjmp(errors->jump, 1);
}

// Warnings are tolerated (webcams often send a few stray bytes), except running out of data: the
// library would fill the rest of the picture with grey and call it a success.
void jpegMessage(j_common_ptr common, int level) {
  if (level < 0 && common->err->msg_code == JWRN_JPEG_EOF) jpegFail(common);
}

void jpegProgress(j_common_ptr common) {
  if (!common->is_decompressor) return;
  auto* info = reinterpret_cast<j_decompress_ptr>(common);
  if (info->input_scan_number > kMaxJpegScans) {
    auto* errors = reinterpret_cast<JpegErrors*>(common->err);
    std::snprintf(errors->message, sizeof errors->message, "more than %d scans", kMaxJpegScans);
    std::longjmp(errors->jump, 1);
  }
}

bool readJpegHeaderAndDecode(const std::uint8_t* data, std::size_t size, bool decode,
                             ImageHeader* header, DecodedImage* image, std::string* error) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  jpeg_progress_mgr progress{};
  progress.progress_monitor = jpegProgress;
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = jpegFail;
  errors.base.emit_message = jpegMessage;
  // Only plain C objects live between here and the jumps back.
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_decompress(&info);
    *error = std::string("a damaged JPEG (") + errors.message + ")";
    return false;
  }
  jpeg_create_decompress(&info);
  info.progress = &progress;
  info.mem->max_memory_to_use = kJpegMemory;
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  header->format = ImageFormat::kJpeg;
  header->width = info.image_width;
  header->height = info.image_height;
  if (const bool fits = checkSize(header->width, header->height, "JPEG", error); !fits || !decode) {
    jpeg_destroy_decompress(&info);
    return fits;
  }
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (info.output_components != 3) {
    jpeg_destroy_decompress(&info);
    *error = "a JPEG that does not convert to RGB";
    return false;
  }
  image->width = static_cast<int>(info.output_width);
  image->height = static_cast<int>(info.output_height);
  image->rgb.assign(std::size_t(image->width) * std::size_t(image->height) * 3, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = &image->rgb[std::size_t(info.output_scanline) * std::size_t(image->width) * 3];
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

bool decodePng(const std::uint8_t* data, std::size_t size, DecodedImage* image,
               std::string* error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&png, data, size) == 0) {
    *error = std::string("a damaged PNG (") + png.message + ")";
    return false;
  }
  if (!checkSize(png.width, png.height, "PNG", error)) {
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_RGB;
  image->width = static_cast<int>(png.width);
  image->height = static_cast<int>(png.height);
  image->rgb.assign(PNG_IMAGE_SIZE(png), 0);
  // Short or corrupt data fails here, unlike in a reader that pads with zeros.
  if (png_image_finish_read(&png, nullptr, image->rgb.data(), 0, nullptr) == 0) {
    *error = std::string("a damaged PNG (") + png.message + ")";
    image->rgb.clear();
    return false;
  }
  return true;
}

bool decodeBmp(const std::uint8_t* data, std::size_t size, DecodedImage* image,
               std::string* error) {
  BmpLayout layout;
  if (!readBmpLayout(data, size, &layout, error)) return false;
  if (layout.bytesNeeded > size) {
    *error = "a BMP cut short: its pixels need " + std::to_string(layout.bytesNeeded) +
             " bytes, the file has " + std::to_string(size);
    return false;
  }
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels =
      stbi_load_from_memory(data, static_cast<int>(size), &width, &height, &channels, 3);
  if (pixels == nullptr) {
    *error = std::string("a damaged BMP (") + stbi_failure_reason() + ")";
    return false;
  }
  image->width = width;
  image->height = height;
  image->rgb.assign(pixels, pixels + std::size_t(width) * std::size_t(height) * 3);
  stbi_image_free(pixels);
  return true;
}

bool refuseFormat(ImageFormat format, std::string* error) {
  if (format == ImageFormat::kUnknown) {
    *error = "not a PNG, JPEG or BMP image";
  } else {
    *error = std::string("a ") + imageFormatName(format) +
             " image; only PNG, JPEG and BMP images are read";
  }
  return false;
}

}  // namespace

ImageFormat sniffImageFormat(const std::uint8_t* data, std::size_t size) {
  if (startsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return ImageFormat::kPng;
  if (startsWith(data, size, "\xff\xd8\xff", 3)) return ImageFormat::kJpeg;
  if (startsWith(data, size, "BM", 2)) return ImageFormat::kBmp;
  if (startsWith(data, size, "GIF8", 4)) return ImageFormat::kGif;
  if (startsWith(data, size, "8BPS", 4)) return ImageFormat::kPsd;
  if (startsWith(data, size, "#?RADIANCE", 10) || startsWith(data, size, "#?RGBE", 6)) {
    return ImageFormat::kHdr;
  }
  if (size >= 2 && data[0] == 'P' && data[1] >= '1' && data[1] <= '7') return ImageFormat::kPnm;
  if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4)) {
    return ImageFormat::kTiff;
  }
  if (size >= 12 && startsWith(data, size, "RIFF", 4) && std::memcmp(data + 8, "WEBP", 4) == 0) {
    return ImageFormat::kWebp;
  }
  if (startsWith(data, size, "\x53\x80\xf6\x34", 4)) return ImageFormat::kPic;
  return ImageFormat::kUnknown;
}

const char* imageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::kPng:
      return "PNG";
    case ImageFormat::kJpeg:
      return "JPEG";
    case ImageFormat::kBmp:
      return "BMP";
    case ImageFormat::kGif:
      return "GIF";
    case ImageFormat::kPsd:
      return "PSD";
    case ImageFormat::kHdr:
      return "HDR";
    case ImageFormat::kPnm:
      return "PNM";
    case ImageFormat::kTiff:
      return "TIFF";
    case ImageFormat::kWebp:
      return "WebP";
    case ImageFormat::kPic:
      return "Softimage PIC";
    case ImageFormat::kUnknown:
      break;
  }
  return "unknown";
}

bool isReadableFormat(ImageFormat format) {
  return format == ImageFormat::kPng || format == ImageFormat::kJpeg || format == ImageFormat::kBmp;
}

bool readImageHeader(const std::uint8_t* data, std::size_t size, ImageHeader* header,
                     std::string* error) {
  error->clear();
  header->format = sniffImageFormat(data, size);
  switch (header->format) {
    case ImageFormat::kPng:
      return readPngHeader(data, size, header, error);
    case ImageFormat::kJpeg:
      return readJpegHeaderAndDecode(data, size, false, header, nullptr, error);
    case ImageFormat::kBmp: {
      BmpLayout layout;
      if (!readBmpLayout(data, size, &layout, error)) return false;
      header->width = layout.width;
      header->height = layout.height;
      return true;
    }
    default:
      return refuseFormat(header->format, error);
  }
}

bool decodeImage(const std::uint8_t* data, std::size_t size, DecodedImage* image,
                 std::string* error) {
  ImageHeader header;
  if (!readImageHeader(data, size, &header, error)) return false;
  switch (header.format) {
    case ImageFormat::kPng:
      return decodePng(data, size, image, error);
    case ImageFormat::kJpeg:
      return readJpegHeaderAndDecode(data, size, true, &header, image, error);
    default:
      return decodeBmp(data, size, image, error);
  }
}

bool decodeJpeg(const std::uint8_t* data, std::size_t size, DecodedImage* image,
                std::string* error) {
  error->clear();
  const ImageFormat format = sniffImageFormat(data, size);
  if (format != ImageFormat::kJpeg) {
    *error = format == ImageFormat::kUnknown
                 ? std::string("not a JPEG image")
                 : std::string("a ") + imageFormatName(format) + " image, not a JPEG";
    return false;
  }
  ImageHeader header;
  return readJpegHeaderAndDecode(data, size, true, &header, image, error);
}

namespace {

// The first `limit` bytes of a file (all of it if shorter), refusing files larger than
// kMaxImageFileBytes; `length` is the file's whole size.
bool readFileStart(const std::string& path, std::uint64_t limit, std::vector<std::uint8_t>* bytes,
                   std::uint64_t* length, std::string* error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    *error = "cannot open";
    return false;
  }
  const std::streamoff end = in.tellg();
  if (end < 0 || static_cast<std::uint64_t>(end) > kMaxImageFileBytes) {
    *error = end < 0 ? "cannot read"
                     : std::to_string(end) + " bytes; image files of at most " +
                           std::to_string(kMaxImageFileBytes) + " bytes are read";
    return false;
  }
  *length = static_cast<std::uint64_t>(end);
  bytes->resize(static_cast<std::size_t>(std::min(*length, limit)));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes->data()), std::streamsize(bytes->size()))) {
    *error = "cannot read";
    return false;
  }
  return true;
}

}  // namespace

bool readImageFile(const std::string& path, DecodedImage* image, std::string* error) {
  std::vector<std::uint8_t> bytes;
  std::uint64_t length = 0;
  return readFileStart(path, kMaxImageFileBytes, &bytes, &length, error) &&
         decodeImage(bytes.data(), bytes.size(), image, error);
}

bool readImageFileHeader(const std::string& path, ImageHeader* header, std::string* error) {
  // Enough for the header of nearly every file; a JPEG with large metadata before its frame
  // header, or a BMP checked against its length, is read whole once.
  constexpr std::uint64_t kStart = 256 * 1024;
  std::vector<std::uint8_t> bytes;
  std::uint64_t length = 0;
  if (!readFileStart(path, kStart, &bytes, &length, error)) return false;
  const bool read = readImageHeader(bytes.data(), bytes.size(), header, error);
  if (read || length <= kStart) return read;
  return readFileStart(path, length, &bytes, &length, error) &&
         readImageHeader(bytes.data(), bytes.size(), header, error);
}

}  // namespace kinetiscan::camera
