// PNG and GIF writing.
#include "picture_writers.h"

#include <fcntl.h>
#include <gif_lib.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace kinetiscan::play {

namespace {

// Why the last write failed, as " (No space left on device)"; errno is what the C library left.
std::string reason() {
  return std::string(" (") + (errno != 0 ? std::strerror(errno) : "short write") + ")";
}

constexpr int kCubeLevels = 6;
constexpr int kCubeSize = kCubeLevels * kCubeLevels * kCubeLevels;  // 216
constexpr int kGreys = 256 - kCubeSize;                             // 40, between 0 and 255

int cubeLevel(int value) { return (value * (kCubeLevels - 1) + 127) / 255; }
int cubeValue(int level) { return level * 255 / (kCubeLevels - 1); }
int greyValue(int grey) { return ((grey + 1) * 255 + (kGreys + 1) / 2) / (kGreys + 1); }

int distance(const std::uint8_t a[3], const std::uint8_t b[3]) {
  int sum = 0;
  for (int k = 0; k < 3; ++k) sum += (a[k] - b[k]) * (a[k] - b[k]);
  return sum;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

Picture pictureFromDib(const std::vector<std::uint8_t>& bgrx, int width, int height) {
  Picture picture{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  if (bgrx.size() < picture.rgb.size() / 3 * 4) return picture;
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* source = &bgrx[std::size_t(height - 1 - y) * width * 4];
    std::uint8_t* target = &picture.rgb[std::size_t(y) * width * 3];
    for (int x = 0; x < width; ++x) {
      target[x * 3 + 0] = source[x * 4 + 2];
      target[x * 3 + 1] = source[x * 4 + 1];
      target[x * 3 + 2] = source[x * 4 + 0];
    }
  }
  return picture;
}

bool writePng(const std::string& path, const Picture& picture, std::string* error) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (file == nullptr) {
    *error = path + ": cannot create";
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png == nullptr ? nullptr : png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    *error = path + ": out of memory";
    return false;
  }
  errno = 0;
  // libpng reports failures by jumping back here; nothing with a destructor is created below.
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    *error = path + ": cannot write the PNG" + reason();
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(picture.width),
               static_cast<png_uint_32>(picture.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < picture.height; ++y) {
    png_write_row(png, &picture.rgb[std::size_t(y) * picture.width * 3]);
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0 || std::ferror(file.get()) != 0) {
    *error = path + ": cannot write" + reason();
    return false;
  }
  return true;
}

void paletteColour(std::uint8_t index, std::uint8_t rgb[3]) {
  if (index < kCubeSize) {
    rgb[0] = static_cast<std::uint8_t>(cubeValue(index / 36));
    rgb[1] = static_cast<std::uint8_t>(cubeValue(index / 6 % 6));
    rgb[2] = static_cast<std::uint8_t>(cubeValue(index % 6));
    return;
  }
  rgb[0] = rgb[1] = rgb[2] = static_cast<std::uint8_t>(greyValue(index - kCubeSize));
}

std::uint8_t paletteIndex(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  const std::uint8_t wanted[3] = {red, green, blue};
  const int cube = cubeLevel(red) * 36 + cubeLevel(green) * 6 + cubeLevel(blue);
  int best = cube;
  std::uint8_t colour[3];
  paletteColour(static_cast<std::uint8_t>(cube), colour);
  int bestDistance = distance(wanted, colour);
  // The greys nearest the mean brightness.
  const int mean = (red + green + blue) / 3;
  const int nearest = (mean * (kGreys + 1) + 127) / 255 - 1;
  for (int grey = nearest - 1; grey <= nearest + 1; ++grey) {
    if (grey < 0 || grey >= kGreys) continue;
    paletteColour(static_cast<std::uint8_t>(kCubeSize + grey), colour);
    const int d = distance(wanted, colour);
    if (d < bestDistance) best = kCubeSize + grey, bestDistance = d;
  }
  return static_cast<std::uint8_t>(best);
}

int gifDelay(std::int64_t rateMs, std::int64_t gifEvery, bool* clamped) {
  const std::int64_t wanted = (std::max<std::int64_t>(rateMs, 50) * gifEvery + 5) / 10;
  *clamped = wanted > kMaxGifDelay;
  return static_cast<int>(std::clamp<std::int64_t>(wanted, 2, kMaxGifDelay));
}

GifAnimation::~GifAnimation() {
  if (file_ != nullptr) EGifCloseFile(file_, nullptr);
}

bool GifAnimation::open(const std::string& path, int width, int height, int delayCentiseconds,
                        std::string* error) {
  // Opened here rather than by giflib, which would make the file readable by its owner only.
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  int code = 0;
  file_ = descriptor < 0 ? nullptr : EGifOpenFileHandle(descriptor, &code);
  if (file_ == nullptr) {
    if (descriptor >= 0) ::close(descriptor);
    *error = path + ": cannot create";
    return false;
  }
  width_ = width, height_ = height, delay_ = std::clamp(delayCentiseconds, 0, kMaxGifDelay);
  GifColorType colours[256];
  for (int i = 0; i < 256; ++i) {
    std::uint8_t rgb[3];
    paletteColour(static_cast<std::uint8_t>(i), rgb);
    colours[i] = {rgb[0], rgb[1], rgb[2]};
  }
  ColorMapObject* map = GifMakeMapObject(256, colours);
  EGifSetGifVersion(file_, true);
  const int put = EGifPutScreenDesc(file_, width, height, 8, 0, map);
  GifFreeMapObject(map);
  // The NETSCAPE2.0 application block makes viewers loop the animation.
  static const unsigned char kLoop[] = {1, 0, 0};
  if (put == GIF_ERROR || EGifPutExtensionLeader(file_, APPLICATION_EXT_FUNC_CODE) == GIF_ERROR ||
      EGifPutExtensionBlock(file_, 11, "NETSCAPE2.0") == GIF_ERROR ||
      EGifPutExtensionBlock(file_, 3, kLoop) == GIF_ERROR ||
      EGifPutExtensionTrailer(file_) == GIF_ERROR) {
    *error = path + ": cannot write the GIF header" + reason();
    return false;
  }
  return true;
}

bool GifAnimation::add(const Picture& picture, std::string* error) {
  if (file_ == nullptr || picture.width != width_ || picture.height != height_) {
    *error = "a GIF frame of the wrong size";
    return false;
  }
  errno = 0;
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.DelayTime = delay_;
  control.TransparentColor = NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  const std::size_t length = EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(file_, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length), extension) ==
          GIF_ERROR ||
      EGifPutImageDesc(file_, 0, 0, width_, height_, false, nullptr) == GIF_ERROR) {
    *error = "cannot write a GIF frame" + reason();
    return false;
  }
  std::vector<GifPixelType> line(static_cast<std::size_t>(width_));
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* row = &picture.rgb[std::size_t(y) * width_ * 3];
    for (int x = 0; x < width_; ++x) {
      line[x] = paletteIndex(row[x * 3], row[x * 3 + 1], row[x * 3 + 2]);
    }
    if (EGifPutLine(file_, line.data(), width_) == GIF_ERROR) {
      *error = "cannot write a GIF frame" + reason();
      return false;
    }
  }
  ++frames_;
  return true;
}

bool GifAnimation::close(std::string* error) {
  if (file_ == nullptr) return true;
  int code = 0;
  const int closed = EGifCloseFile(file_, &code);
  file_ = nullptr;
  if (closed == GIF_ERROR) {
    *error = std::string("cannot finish the GIF (") + GifErrorString(code) + ")";
    return false;
  }
  return true;
}

}  // namespace kinetiscan::play
