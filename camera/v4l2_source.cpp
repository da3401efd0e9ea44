// The V4L2 webcam source. Memory-mapped streaming where the driver offers it, read() otherwise.
#include "camera/v4l2_source.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "camera/file_sources.h"
#include "camera/image_decoder.h"

namespace kinetiscan::play {
namespace {

// A driver that asks for more buffers than this is not believed.
constexpr std::uint32_t kMaxBuffers = 32;

class SystemDriver : public VideoDriver {
 public:
  int open(const std::string& path, std::string* problem) override {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
      *problem = "no such device (is a webcam connected?)";
      return -1;
    }
    if (!S_ISCHR(info.st_mode)) {
      *problem = "not a video device";
      return -1;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) *problem = std::string("cannot open: ") + std::strerror(errno);
    return fd;
  }
  int ioctl(int fd, unsigned long request, void* argument) override {
    return ::ioctl(fd, request, argument);
  }
  ssize_t read(int fd, void* buffer, std::size_t length) override {
    return ::read(fd, buffer, length);
  }
  int wait(int fd, int timeoutMs) override { return waitReadable(fd, timeoutMs); }
  void* map(int fd, std::size_t length, off_t offset) override {
    void* start = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
    return start == MAP_FAILED ? nullptr : start;
  }
  void unmap(void* start, std::size_t length) override { munmap(start, length); }
  void close(int fd) override { ::close(fd); }
};

int xioctl(VideoDriver& driver, int fd, unsigned long request, void* argument) {
  int result;
  do {
    result = driver.ioctl(fd, request, argument);
  } while (result == -1 && errno == EINTR);
  return result;
}

std::uint8_t clampByte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

struct Size {
  std::uint32_t width = 0, height = 0;
};

// The smallest offered size that covers a frame, else the largest offered, else the frame size.
Size chooseSize(VideoDriver& driver, int fd, std::uint32_t pixelFormat) {
  Size best, largest;
  v4l2_frmsizeenum size{};
  size.pixel_format = pixelFormat;
  // A driver that answers every index would keep this going; no device offers that many.
  for (size.index = 0; size.index < 1024 && xioctl(driver, fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0;
       ++size.index) {
    if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE) {
      const auto& range = size.stepwise;
      return {std::clamp<std::uint32_t>(camera::kWidth, range.min_width, range.max_width),
              std::clamp<std::uint32_t>(camera::kHeight, range.min_height, range.max_height)};
    }
    const Size offered{size.discrete.width, size.discrete.height};
    const auto area = [](Size s) { return std::uint64_t{s.width} * s.height; };
    if (offered.width >= camera::kWidth && offered.height >= camera::kHeight &&
        (best.width == 0 || area(offered) < area(best))) {
      best = offered;
    }
    if (area(offered) > area(largest)) largest = offered;
  }
  if (best.width != 0) return best;
  if (largest.width != 0) return largest;
  return {camera::kWidth, camera::kHeight};
}

class VideoDevice : public ExplainedSource {
 public:
  VideoDevice(std::string path, VideoDriver& driver) : path_(std::move(path)), driver_(driver) {}
  ~VideoDevice() override {
    if (streaming_) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      xioctl(VIDIOC_STREAMOFF, &type);
    }
    for (const Mapping& mapping : mappings_) driver_.unmap(mapping.start, mapping.length);
    if (fd_ >= 0) driver_.close(fd_);
  }
  VideoDevice(const VideoDevice&) = delete;
  VideoDevice& operator=(const VideoDevice&) = delete;

  bool open(std::string* error);
  bool next(camera::Frame& frame) override;
  bool paced() const override { return true; }
  std::string failure() const override { return failure_; }
  std::string note() const override {
    if (width_ == camera::kWidth && height_ == camera::kHeight) return {};
    return "webcam frames of " + std::to_string(width_) + "x" + std::to_string(height_) +
           " scaled to 160x120";
  }

 private:
  struct Mapping {
    void* start;
    std::size_t length;
  };
  bool fail(std::string* error, const std::string& what) {
    *error = path_ + ": " + what;
    return false;
  }
  int xioctl(unsigned long request, void* argument) {
    return play::xioctl(driver_, fd_, request, argument);
  }
  bool acceptFormat(const v4l2_pix_format& format, std::string* error);
  bool startStreaming(std::string* error);
  bool convert(const std::uint8_t* data, std::size_t length, camera::Frame& frame);

  std::string path_;
  VideoDriver& driver_;
  int fd_ = -1;
  std::uint32_t pixelFormat_ = 0;
  int width_ = 0, height_ = 0;
  std::size_t stride_ = 0, imageBytes_ = 0;
  bool streaming_ = false;
  std::vector<Mapping> mappings_;
  std::vector<std::uint8_t> readBuffer_, rgb_;
  std::string failure_;
};

bool VideoDevice::open(std::string* error) {
  std::string problem;
  fd_ = driver_.open(path_, &problem);
  if (fd_ < 0) return fail(error, problem);
  v4l2_capability capability{};
  if (xioctl(VIDIOC_QUERYCAP, &capability) != 0) return fail(error, "not a V4L2 device");
  const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                 ? capability.device_caps
                                 : capability.capabilities;
  if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0) return fail(error, "not a video capture device");

  bool yuyv = false, mjpeg = false;
  v4l2_fmtdesc description{};
  description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (description.index = 0;
       description.index < 1024 && xioctl(VIDIOC_ENUM_FMT, &description) == 0;
       ++description.index) {
    yuyv = yuyv || description.pixelformat == V4L2_PIX_FMT_YUYV;
    mjpeg = mjpeg || description.pixelformat == V4L2_PIX_FMT_MJPEG;
  }
  if (!yuyv && !mjpeg) return fail(error, "offers neither YUYV nor MJPEG frames");
  // YUYV costs no decoding and most webcams offer it at small sizes.
  const std::uint32_t wanted = yuyv ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
  const Size size = chooseSize(driver_, fd_, wanted);
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = size.width;
  format.fmt.pix.height = size.height;
  format.fmt.pix.pixelformat = wanted;
  format.fmt.pix.field = V4L2_FIELD_ANY;
  if (xioctl(VIDIOC_S_FMT, &format) != 0) {
    return fail(error, std::string("refuses the frame format: ") + std::strerror(errno));
  }
  if (!acceptFormat(format.fmt.pix, error)) return false;
  if ((caps & V4L2_CAP_STREAMING) != 0) return startStreaming(error);
  if ((caps & V4L2_CAP_READWRITE) == 0) return fail(error, "offers neither streaming nor read()");
  readBuffer_.resize(imageBytes_);
  return true;
}

// The format the driver settled on, checked in 64 bits before anything is sized by it.
bool VideoDevice::acceptFormat(const v4l2_pix_format& format, std::string* error) {
  pixelFormat_ = format.pixelformat;
  const std::uint64_t width = format.width, height = format.height;
  if ((pixelFormat_ != V4L2_PIX_FMT_YUYV && pixelFormat_ != V4L2_PIX_FMT_MJPEG) ||
      (pixelFormat_ == V4L2_PIX_FMT_YUYV && width % 2 != 0)) {
    return fail(error, "switched to a frame format other than YUYV or MJPEG");
  }
  if (width == 0 || height == 0 || width > camera::kMaxImageSide ||
      height > camera::kMaxImageSide) {
    return fail(error, "frames of " + std::to_string(width) + "x" + std::to_string(height) +
                           " pixels; at most " + std::to_string(camera::kMaxImageSide) +
                           " pixels a side are read");
  }
  width_ = static_cast<int>(width);
  height_ = static_cast<int>(height);
  // MJPEG rows have no fixed length; a YUYV row holds two bytes a pixel, maybe padded.
  std::uint64_t stride = width * 2;
  if (pixelFormat_ == V4L2_PIX_FMT_YUYV) {
    stride = std::max<std::uint64_t>(format.bytesperline, stride);
    if (stride > width * 2 + kMaxRowPadding) {
      return fail(error, "YUYV rows of " + std::to_string(stride) + " bytes for " +
                             std::to_string(width) + " pixels");
    }
  }
  const std::uint64_t bytes = std::max<std::uint64_t>(format.sizeimage, stride * height);
  if (bytes > kMaxDeviceFrameBytes) {
    return fail(error, "asks for frames of " + std::to_string(bytes) + " bytes; at most " +
                           std::to_string(kMaxDeviceFrameBytes) + " are read");
  }
  stride_ = static_cast<std::size_t>(stride);
  imageBytes_ = static_cast<std::size_t>(bytes);
  return true;
}

bool VideoDevice::startStreaming(std::string* error) {
  v4l2_requestbuffers request{};
  request.count = 4;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (xioctl(VIDIOC_REQBUFS, &request) != 0 || request.count == 0) {
    return fail(error, "cannot get capture buffers");
  }
  if (request.count > kMaxBuffers) {
    return fail(error, "offers " + std::to_string(request.count) + " capture buffers");
  }
  for (std::uint32_t i = 0; i < request.count; ++i) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = i;
    if (xioctl(VIDIOC_QUERYBUF, &buffer) != 0) return fail(error, "cannot query a buffer");
    if (buffer.length == 0 || buffer.length > kMaxDeviceFrameBytes) {
      return fail(error, "a capture buffer of " + std::to_string(buffer.length) + " bytes");
    }
    void* start = driver_.map(fd_, buffer.length, buffer.m.offset);
    if (start == nullptr) return fail(error, "cannot map a capture buffer");
    mappings_.push_back({start, buffer.length});
    if (xioctl(VIDIOC_QBUF, &buffer) != 0) return fail(error, "cannot queue a buffer");
  }
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (xioctl(VIDIOC_STREAMON, &type) != 0) return fail(error, "cannot start streaming");
  streaming_ = true;
  return true;
}

bool VideoDevice::convert(const std::uint8_t* data, std::size_t length, camera::Frame& frame) {
  if (pixelFormat_ == V4L2_PIX_FMT_YUYV) {
    return frameFromYuyv(data, length, width_, height_, stride_, frame, rgb_);
  }
  std::string ignored;
  return frameFromMjpeg(data, length, frame, &ignored);
}

bool VideoDevice::next(camera::Frame& frame) {
  if (!failure_.empty()) return false;
  // A frame the decoder rejects (a damaged JPEG) is skipped; a run of them ends the input.
  for (int attempt = 0; attempt < 30; ++attempt) {
    const int waited = driver_.wait(fd_, 2000);
    if (waited < 0 && errno == EINTR) continue;
    if (waited < 0) {
      failure_ = path_ + ": cannot wait for a frame: " + std::strerror(errno);
      return false;
    }
    if (waited == 0) {
      failure_ = path_ + ": no frame within 2 seconds";
      return false;
    }
    if (!streaming_) {
      const ssize_t got = driver_.read(fd_, readBuffer_.data(), readBuffer_.size());
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got < 0) {
        failure_ = path_ + ": read failed: " + std::strerror(errno);
        return false;
      }
      // A driver may claim more than it was given room for.
      const std::size_t used = std::min(static_cast<std::size_t>(got), readBuffer_.size());
      if (convert(readBuffer_.data(), used, frame)) return true;
      continue;
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_DQBUF, &buffer) != 0) {
      if (errno == EAGAIN) continue;
      failure_ = path_ + ": cannot take a frame: " + std::strerror(errno);
      return false;
    }
    bool converted = false;
    if (buffer.index < mappings_.size()) {
      const std::size_t used =
          std::min<std::size_t>(buffer.bytesused, mappings_[buffer.index].length);
      converted =
          convert(static_cast<const std::uint8_t*>(mappings_[buffer.index].start), used, frame);
    }
    xioctl(VIDIOC_QBUF, &buffer);
    if (converted) return true;
  }
  failure_ = path_ + ": frames keep arriving damaged or too short";
  return false;
}

}  // namespace

void yuyvToRgb(const std::uint8_t* yuyv, int width, int height, std::size_t stride,
               std::uint8_t* rgb) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = yuyv + static_cast<std::size_t>(y) * stride;
    std::uint8_t* out = rgb + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 3;
    for (int x = 0; x < width; ++x) {
      // Each pair of pixels shares one U and one V.
      const std::uint8_t* pair = row + static_cast<std::size_t>(x / 2) * 4;
      const int c = (x % 2 == 0 ? pair[0] : pair[2]) - 16;
      const int d = pair[1] - 128;
      const int e = pair[3] - 128;
      out[x * 3 + 0] = clampByte((298 * c + 409 * e + 128) >> 8);
      out[x * 3 + 1] = clampByte((298 * c - 100 * d - 208 * e + 128) >> 8);
      out[x * 3 + 2] = clampByte((298 * c + 516 * d + 128) >> 8);
    }
  }
}

bool frameFromYuyv(const std::uint8_t* data, std::size_t length, int width, int height,
                   std::size_t stride, camera::Frame& frame, std::vector<std::uint8_t>& rgb) {
  if (data == nullptr || width <= 0 || height <= 0 || width % 2 != 0 ||
      width > camera::kMaxImageSide || height > camera::kMaxImageSide) {
    return false;
  }
  const std::uint64_t packed = std::uint64_t(width) * 2;
  if (stride < packed || stride > packed + kMaxRowPadding) return false;
  // The last row needs its packed bytes only, not its padding.
  if (std::uint64_t(length) < std::uint64_t(stride) * std::uint64_t(height - 1) + packed) {
    return false;
  }
  rgb.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3);
  yuyvToRgb(data, width, height, stride, rgb.data());
  frame = camera::frameFromImage(rgb.data(), width, height, 3);
  return true;
}

bool frameFromMjpeg(const std::uint8_t* data, std::size_t length, camera::Frame& frame,
                    std::string* error) {
  camera::DecodedImage image;
  if (!camera::decodeJpeg(data, length, &image, error)) return false;
  frame = camera::frameFromImage(image.rgb.data(), image.width, image.height, 3);
  return true;
}

int waitReadable(int fd, int timeoutMs) {
  pollfd wanted{fd, POLLIN, 0};
  const int ready = poll(&wanted, 1, timeoutMs);
  if (ready > 0 && (wanted.revents & (POLLERR | POLLNVAL)) != 0 && (wanted.revents & POLLIN) == 0) {
    errno = EIO;
    return -1;
  }
  return ready;
}

VideoDriver& systemVideoDriver() {
  static SystemDriver driver;
  return driver;
}

std::unique_ptr<ExplainedSource> openVideoDevice(const std::string& path, std::string* error,
                                                 VideoDriver& driver) {
  auto device = std::make_unique<VideoDevice>(path, driver);
  if (!device->open(error)) return nullptr;
  return device;
}

}  // namespace kinetiscan::play
