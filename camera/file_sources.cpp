// File-based frame sources.
#include "camera/file_sources.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "camera/image_decoder.h"

namespace kinetiscan::camera {
namespace {

// Images decoded one at a time as they are played, so a folder of any length plays in the memory
// of one image.
class ImageSequence : public FrameSource {
 public:
  ImageSequence(std::vector<std::string> files, bool loop)
      : files_(std::move(files)), loop_(loop) {}
  bool next(Frame& frame) override {
    if (!failure_.empty()) return false;
    if (position_ == files_.size()) {
      if (!loop_) return false;
      position_ = 0;
    }
    const std::string& file = files_[position_++];
    DecodedImage image;
    std::string why;
    if (!readImageFile(file, &image, &why)) {
      failure_ = file + ": " + why;
      return false;
    }
    if (image.width != kWidth || image.height != kHeight) {
      ++scaled_;
      if (firstScaled_.empty()) {
        firstScaled_ = file;
        scaledSize_ = std::to_string(image.width) + "x" + std::to_string(image.height);
      }
    }
    ++played_;
    frame = frameFromImage(image.rgb.data(), image.width, image.height, 3);
    return true;
  }
  std::string failure() const override { return failure_; }
  std::string note() const override {
    if (scaled_ == 0) return {};
    return std::to_string(scaled_) + " of " + std::to_string(played_) +
           " frames scaled to 160x120 from other sizes, the first from " + scaledSize_ + " (" +
           firstScaled_ + ")";
  }

 private:
  std::vector<std::string> files_;
  bool loop_;
  std::size_t position_ = 0;
  long played_ = 0, scaled_ = 0;
  std::string firstScaled_, scaledSize_, failure_;
};

// Frames read from the file one at a time as they are played.
class RawFrames : public FrameSource {
 public:
  RawFrames(std::FILE* file, std::string path, std::uint64_t frames, bool loop)
      : file_(file), path_(std::move(path)), frames_(frames), loop_(loop) {}
  ~RawFrames() override { std::fclose(file_); }
  RawFrames(const RawFrames&) = delete;
  RawFrames& operator=(const RawFrames&) = delete;
  bool next(Frame& frame) override {
    if (!failure_.empty()) return false;
    if (position_ == frames_) {
      if (!loop_ || std::fseek(file_, 0, SEEK_SET) != 0) return false;
      position_ = 0;
    }
    frame.resize(kFrameBytes);
    if (std::fread(frame.data(), 1, kFrameBytes, file_) != kFrameBytes) {
      failure_ = path_ + ": frame " + std::to_string(position_) + " cannot be read (" +
                 (std::ferror(file_) != 0 ? "read error" : "the file is shorter than it was") + ")";
      return false;
    }
    ++position_;
    return true;
  }
  std::string failure() const override { return failure_; }

 private:
  std::FILE* file_;
  std::string path_;
  std::uint64_t frames_;
  bool loop_;
  std::uint64_t position_ = 0;
  std::string failure_;
};

// Frames read from a descriptor that may be a pipe: it has no size to check, so a frame is
// read whole or the stream ends, and only one frame is ever held.
class RawStream : public FrameSource {
 public:
  RawStream(int descriptor, std::string name) : descriptor_(descriptor), name_(std::move(name)) {}
  bool next(Frame& frame) override {
    if (ended_) return false;
    frame.resize(kFrameBytes);
    std::size_t have = 0;
    while (have < kFrameBytes) {
      const ssize_t got = read(descriptor_, frame.data() + have, kFrameBytes - have);
      if (got > 0) {
        have += static_cast<std::size_t>(got);
        continue;
      }
      ended_ = true;
      // A signal asking the run to stop; what was read of this frame is dropped with it.
      if (got < 0 && errno == EINTR) return false;
      if (got < 0) {
        failure_ = name_ + ": frame " + std::to_string(frames_) + " cannot be read (" +
                   std::strerror(errno) + ")";
      } else if (have > 0) {
        failure_ = name_ + ": the stream ends inside frame " + std::to_string(frames_) + " (" +
                   std::to_string(have) + " of 57600 bytes); a raw stream holds whole 160x120 " +
                   "BGR frames";
      }
      return false;
    }
    ++frames_;
    return true;
  }
  std::string failure() const override { return failure_; }

 private:
  int descriptor_;
  std::string name_;
  std::uint64_t frames_ = 0;
  bool ended_ = false;
  std::string failure_;
};

std::string lowerExtension(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool isImageFile(const std::filesystem::path& path) {
  const std::string extension = lowerExtension(path);
  for (const char* known : {".png", ".jpg", ".jpeg", ".bmp"}) {
    if (extension == known) return true;
  }
  return false;
}

// The format named by an extension of an image format that is not read, or null. Such files are
// refused rather than skipped without a word.
const char* unreadImageFormat(const std::filesystem::path& path) {
  static const std::pair<const char*, const char*> kOthers[] = {
      {".gif", "GIF"},  {".ppm", "PNM"},   {".pgm", "PNM"},  {".pbm", "PNM"}, {".pnm", "PNM"},
      {".pam", "PAM"},  {".tga", "TGA"},   {".psd", "PSD"},  {".hdr", "HDR"}, {".pic", "PIC"},
      {".tif", "TIFF"}, {".tiff", "TIFF"}, {".webp", "WebP"}};
  const std::string extension = lowerExtension(path);
  for (const auto& [name, format] : kOthers) {
    if (extension == name) return format;
  }
  return nullptr;
}

}  // namespace

Frame frameFromImage(const std::uint8_t* pixels, int width, int height, int channels) {
  Frame frame(kFrameBytes, 0);
  if (pixels == nullptr || width <= 0 || height <= 0 || channels <= 0) return frame;
  // Positions in 64 bits: a column index times a width of millions overflows an int.
  const std::int64_t w = width, h = height;
  for (std::int64_t row = 0; row < kHeight; ++row) {
    // Frame row 0 is the bottom of the picture; image row 0 is its top.
    const std::int64_t top = (kHeight - 1 - row) * h / kHeight;
    const std::int64_t bottom = std::max(top + 1, (kHeight - row) * h / kHeight);
    for (std::int64_t column = 0; column < kWidth; ++column) {
      const std::int64_t left = column * w / kWidth;
      const std::int64_t right = std::max(left + 1, (column + 1) * w / kWidth);
      std::uint64_t sum[3] = {0, 0, 0};
      for (std::int64_t y = top; y < bottom; ++y) {
        const std::uint8_t* line = pixels + static_cast<std::size_t>(y * w) * channels;
        for (std::int64_t x = left; x < right; ++x) {
          const std::uint8_t* source = line + static_cast<std::size_t>(x) * channels;
          for (int k = 0; k < 3; ++k) sum[k] += source[channels >= 3 ? k : 0];
        }
      }
      const std::uint64_t count = static_cast<std::uint64_t>((bottom - top) * (right - left));
      std::uint8_t* target = &frame[static_cast<std::size_t>(row * kWidth + column) * 3];
      target[0] = static_cast<std::uint8_t>(sum[2] / count);  // blue
      target[1] = static_cast<std::uint8_t>(sum[1] / count);  // green
      target[2] = static_cast<std::uint8_t>(sum[0] / count);  // red
    }
  }
  return frame;
}

std::unique_ptr<FrameSource> openImageFiles(const std::vector<std::string>& files, bool loop,
                                            std::string* error) {
  // Only the headers now: what they declare is checked before anything is played.
  for (const std::string& file : files) {
    ImageHeader header;
    std::string why;
    if (!readImageFileHeader(file, &header, &why)) {
      if (error != nullptr) *error = file + ": " + why;
      return nullptr;
    }
  }
  if (files.empty()) {
    if (error != nullptr) *error = "no images given";
    return nullptr;
  }
  return std::make_unique<ImageSequence>(files, loop);
}

bool naturalLess(const std::string& a, const std::string& b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      // Compare the numbers by value: leading zeros off, then length, then digits.
      std::size_t startA = i, startB = j;
      while (startA < a.size() && a[startA] == '0') ++startA;
      while (startB < b.size() && b[startB] == '0') ++startB;
      std::size_t endA = startA, endB = startB;
      while (endA < a.size() && digit(a[endA])) ++endA;
      while (endB < b.size() && digit(b[endB])) ++endB;
      if (endA - startA != endB - startB) return endA - startA < endB - startB;
      const int order = a.compare(startA, endA - startA, b, startB, endB - startB);
      if (order != 0) return order < 0;
      // Equal values: fewer leading zeros first, so the order stays total.
      if (startA - i != startB - j) return startA - i < startB - j;
      i = endA, j = endB;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i, ++j;
  }
  return a.size() - i < b.size() - j;
}

std::unique_ptr<FrameSource> openImageFolder(const std::string& folder, bool loop,
                                             std::string* error) {
  namespace fs = std::filesystem;
  std::error_code failure;
  std::vector<std::string> files;
  // Error codes throughout: an entry that cannot be examined (a symlink loop, a dangling link,
  // a name the folder lost meanwhile) must not end the program with an exception.
  fs::directory_iterator entries(folder, failure);
  for (; !failure && entries != fs::directory_iterator(); entries.increment(failure)) {
    const fs::path& path = entries->path();
    if (const char* format = unreadImageFormat(path)) {
      if (error != nullptr) {
        *error = path.string() + ": named as a " + format +
                 " image; only PNG, JPEG and BMP images are read";
      }
      return nullptr;
    }
    if (!isImageFile(path)) continue;
    std::error_code status;
    const bool regular = entries->is_regular_file(status);
    if (status) {
      if (error != nullptr) *error = path.string() + ": " + status.message();
      return nullptr;
    }
    if (regular) files.push_back(path.string());
  }
  if (failure) {
    if (error != nullptr) *error = folder + ": " + failure.message();
    return nullptr;
  }
  if (files.empty()) {
    if (error != nullptr)
      *error = folder + ": no image files (.png, .jpg, .jpeg or .bmp) in this folder";
    return nullptr;
  }
  std::sort(files.begin(), files.end(), naturalLess);
  return openImageFiles(files, loop, error);
}

std::unique_ptr<FrameSource> openRawFile(const std::string& file, bool loop, std::string* error) {
  auto refuse = [&](const std::string& why) {
    if (error != nullptr) *error = file + ": " + why;
    return nullptr;
  };
  std::error_code failure;
  if (std::filesystem::is_directory(file, failure)) {
    return refuse(
        "a folder; --raw takes one file of 160x120 BGR frames (play a folder of images "
        "with --images)");
  }
  // Opened without blocking, so a FIFO with no writer is refused at once instead of holding the
  // program in open() where no signal ends it.
  const int descriptor = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (descriptor < 0) return refuse(std::string("cannot open (") + std::strerror(errno) + ")");
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(descriptor);
    return refuse("not a regular file; --raw takes a file of 160x120 BGR frames");
  }
  std::FILE* opened = nullptr;
  if (fcntl(descriptor, F_SETFL, 0) != 0 || (opened = fdopen(descriptor, "rb")) == nullptr) {
    close(descriptor);
    return refuse(std::string("cannot open (") + std::strerror(errno) + ")");
  }
  const auto size = static_cast<std::uint64_t>(status.st_size);
  if (size == 0 || size % kFrameBytes != 0) {
    std::fclose(opened);
    if (size == 0) {
      return refuse(
          "the file is empty; a raw file holds 160x120 bottom-up BGR frames of 57600 "
          "bytes each");
    }
    const std::uint64_t whole = size / kFrameBytes;
    return refuse(std::to_string(size) +
                  " bytes is not a whole number of 160x120 BGR frames of "
                  "57600 bytes (" +
                  std::to_string(whole) + (whole == 1 ? " frame and " : " frames and ") +
                  std::to_string(size % kFrameBytes) +
                  " bytes more); a recording cut short keeps its whole frames with truncate -s " +
                  std::to_string(whole * kFrameBytes));
  }
  return std::make_unique<RawFrames>(opened, file, size / kFrameBytes, loop);
}

}  // namespace kinetiscan::camera

namespace kinetiscan::camera {

std::unique_ptr<FrameSource> openRawStream(int descriptor, const std::string& name) {
  return std::make_unique<RawStream>(descriptor, name);
}

void flipRows(Frame& frame) {
  constexpr std::size_t kRow = kWidth * 3;
  for (std::size_t top = 0, bottom = kHeight - 1; top < bottom; ++top, --bottom) {
    std::swap_ranges(frame.begin() + top * kRow, frame.begin() + (top + 1) * kRow,
                     frame.begin() + bottom * kRow);
  }
}

}  // namespace kinetiscan::camera
