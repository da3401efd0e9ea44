// Each frame goes to the file with write() as it passes, no buffer in between: a run that is
// killed leaves every frame written before it. A frame that cannot be written whole (a full
// disk) is cut off again, so the recording stays a whole number of frames, and ends the run as
// a failing input does.
#include "recording_tee.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kinetiscan::play {
namespace {

class RecordingTee : public camera::FrameSourceDecorator {
 public:
  RecordingTee(std::unique_ptr<camera::FrameSource> inner, int descriptor, std::string path)
      : FrameSourceDecorator(std::move(inner)), descriptor_(descriptor), path_(std::move(path)) {}
  ~RecordingTee() override {
    close(descriptor_);
    // Nothing recorded: the file the run created is of no use to anyone.
    if (frames_ == 0) unlink(path_.c_str());
  }
  RecordingTee(const RecordingTee&) = delete;
  RecordingTee& operator=(const RecordingTee&) = delete;

  bool next(camera::Frame& frame) override {
    if (!failure_.empty() || !inner().next(frame)) return false;
    if (writeWhole(frame)) {
      ++frames_;
      return true;
    }
    failure_ = "--record " + path_ + ": frame " + std::to_string(frames_) + " cannot be written (" +
               std::strerror(errno) + "); the recording keeps " + std::to_string(frames_) +
               (frames_ == 1 ? " whole frame" : " whole frames");
    // Back to the last whole frame, so --raw plays what is there.
    if (ftruncate(descriptor_, static_cast<off_t>(frames_) * camera::kFrameBytes) != 0) {
      failure_ += " and a partial one (" + std::string(std::strerror(errno)) + ")";
    }
    return false;
  }
  std::string failure() const override {
    return failure_.empty() ? FrameSourceDecorator::failure() : failure_;
  }

 private:
  bool writeWhole(const camera::Frame& frame) {
    std::size_t done = 0;
    while (done < frame.size()) {
      const ssize_t wrote = write(descriptor_, frame.data() + done, frame.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) {
        if (wrote == 0) errno = EIO;
        return false;
      }
      done += static_cast<std::size_t>(wrote);
    }
    return true;
  }

  int descriptor_;
  std::string path_;
  long frames_ = 0;
  std::string failure_;
};

}  // namespace

std::unique_ptr<camera::FrameSource> recordTo(std::unique_ptr<camera::FrameSource> source,
                                              const std::string& path, std::string* error) {
  const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (descriptor < 0) {
    *error = "--record " + path + ": cannot create (" + std::strerror(errno) + ")" +
             (errno == EEXIST ? "; a recording never replaces a file, choose a new name" : "");
    return nullptr;
  }
  return std::make_unique<RecordingTee>(std::move(source), descriptor, path);
}

}  // namespace kinetiscan::play
