// Video files, pipes and bytes in memory as frame sources.
#include "camera/video_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "camera/file_sources.h"
#include "camera/video_decoder.h"

extern "C" {
#include <libavformat/avio.h>
#include <libavutil/error.h>
}

namespace kinetiscan::camera {
namespace {

class MemoryInput : public ByteInput {
 public:
  MemoryInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int read(std::uint8_t* buffer, int size) override {
    const std::size_t left = size_ - position_;
    if (left == 0) return AVERROR_EOF;
    const std::size_t count = std::min(left, static_cast<std::size_t>(size));
    std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    return static_cast<int>(count);
  }
  std::int64_t seek(std::int64_t offset, int whence) override {
    const auto size = static_cast<std::int64_t>(size_);
    if ((whence & AVSEEK_SIZE) != 0) return size;
    const std::int64_t base = whence == SEEK_CUR   ? static_cast<std::int64_t>(position_)
                              : whence == SEEK_END ? size
                                                   : 0;
    if (offset < -base || offset > size - base) return AVERROR(EINVAL);
    position_ = static_cast<std::size_t>(base + offset);
    return base + offset;
  }
  bool seekable() const override { return true; }

 private:
  const std::uint8_t* data_;
  std::size_t size_, position_ = 0;
};

// A file or pipe; closes the descriptor unless it is standard input.
class DescriptorInput : public ByteInput {
 public:
  DescriptorInput(int descriptor, bool seekable) : fd_(descriptor), seekable_(seekable) {}
  ~DescriptorInput() override {
    if (fd_ != STDIN_FILENO) close(fd_);
  }
  DescriptorInput(const DescriptorInput&) = delete;
  DescriptorInput& operator=(const DescriptorInput&) = delete;
  int read(std::uint8_t* buffer, int size) override {
    // A signal interrupts the read: the run is being stopped and should not wait on the pipe.
    const ssize_t count = ::read(fd_, buffer, static_cast<std::size_t>(size));
    if (count > 0) return static_cast<int>(count);
    return count == 0 ? AVERROR_EOF : AVERROR(errno);
  }
  std::int64_t seek(std::int64_t offset, int whence) override {
    if (!seekable_) return AVERROR(ESPIPE);
    if ((whence & AVSEEK_SIZE) != 0) {
      struct stat status {};
      return fstat(fd_, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = lseek(fd_, offset, whence);
    return position < 0 ? AVERROR(errno) : position;
  }
  bool seekable() const override { return seekable_; }

 private:
  int fd_;
  bool seekable_;
};

// A fresh reader of the video's bytes, or null with the reason in `error`.
using InputOpener = std::function<std::unique_ptr<ByteInput>(std::string* error)>;

// The pictures of a video scaled to frames, one decoded per frame played; with `loop` the video
// is opened again at its end.
class VideoFrames : public FrameSource {
 public:
  VideoFrames(InputOpener opener, bool loop, std::string name)
      : opener_(std::move(opener)), loop_(loop), name_(std::move(name)) {}

  bool open(std::string* error) {
    if (reopen(error)) return true;
    *error = name_ + ": " + *error;
    return false;
  }
  bool next(Frame& frame) override {
    if (!failure_.empty()) return false;
    std::string why;
    int got = decoder_->next(&why);
    if (got == 0 && loop_ && playedThisPass_ > 0) {
      playedThisPass_ = 0;
      got = reopen(&why) ? decoder_->next(&why) : -1;
    }
    if (got == 0 && played_ == 0) why = "no frame could be decoded", got = -1;
    if (got < 0) failure_ = name_ + ": " + why;
    if (got <= 0) return false;
    recordSize();
    frame = frameFromImage(decoder_->rgb().data(), decoder_->width(), decoder_->height(), 3);
    return true;
  }
  std::string failure() const override { return failure_; }
  std::string note() const override {
    if (scaled_ == 0) return {};
    return std::to_string(scaled_) + " of " + std::to_string(played_) +
           " frames scaled to 160x120 from other sizes, the first from " + scaledSize_;
  }

 private:
  bool reopen(std::string* error) {
    decoder_.reset();  // the old one first: one decoder's memory at a time
    std::unique_ptr<ByteInput> input = opener_(error);
    if (input == nullptr) return false;
    decoder_ = std::make_unique<VideoDecoder>();
    return decoder_->open(std::move(input), error);
  }
  void recordSize() {
    ++played_, ++playedThisPass_;
    if (decoder_->width() == kWidth && decoder_->height() == kHeight) return;
    if (scaled_++ == 0) scaledSize_ = sizeText(decoder_->width(), decoder_->height());
  }

  InputOpener opener_;
  bool loop_;
  std::string name_;
  std::unique_ptr<VideoDecoder> decoder_;
  long played_ = 0, playedThisPass_ = 0, scaled_ = 0;
  std::string scaledSize_, failure_;
};

std::unique_ptr<FrameSource> openFrames(InputOpener opener, bool loop, const std::string& name,
                                        std::string* error) {
  auto frames = std::make_unique<VideoFrames>(std::move(opener), loop, name);
  if (!frames->open(error)) return nullptr;
  return frames;
}

// A video file or a named pipe, checked each time it is opened.
std::unique_ptr<ByteInput> openNamedInput(const std::string& file, std::string* error) {
  // A FIFO waits here for its writer; a signal ends the wait, as it ends the run.
  const int descriptor = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    *error = std::string("cannot open (") + std::strerror(errno) + ")";
    return nullptr;
  }
  struct stat status {};
  std::string why;
  if (fstat(descriptor, &status) != 0) {
    why = std::string("cannot examine (") + std::strerror(errno) + ")";
  } else if (S_ISDIR(status.st_mode)) {
    why = "a folder; --video takes one video file (play a folder of images with --images)";
  } else if (!S_ISREG(status.st_mode) && !S_ISFIFO(status.st_mode)) {
    why = "not a regular file or a pipe; --video takes a video file";
  }
  if (!why.empty()) {
    close(descriptor);
    *error = why;
    return nullptr;
  }
  return std::make_unique<DescriptorInput>(descriptor, S_ISREG(status.st_mode));
}

}  // namespace

std::unique_ptr<FrameSource> openVideoMemory(const std::uint8_t* data, std::size_t size,
                                             std::string* error) {
  return openFrames(
      [data, size](std::string*) { return std::make_unique<MemoryInput>(data, size); }, false,
      "video in memory", error);
}

std::unique_ptr<FrameSource> openVideoFile(const std::string& file, bool loop, std::string* error) {
  if (file == "-") {
    const char* why = loop                        ? "is read once; --loop needs a file"
                      : isatty(STDIN_FILENO) != 0 ? "is a terminal, not a video"
                                                  : nullptr;
    if (why != nullptr) {
      *error = std::string("standard input ") + why;
      return nullptr;
    }
    struct stat status {};
    const bool seekable = fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode);
    return openFrames(
        [seekable](std::string*) { return std::make_unique<DescriptorInput>(0, seekable); }, false,
        "standard input", error);
  }
  struct stat status {};
  if (loop && stat(file.c_str(), &status) == 0 && S_ISFIFO(status.st_mode)) {
    *error = file + ": a pipe is read once; --loop needs a file";
    return nullptr;
  }
  return openFrames([file](std::string* why) { return openNamedInput(file, why); }, loop, file,
                    error);
}

}  // namespace kinetiscan::camera
