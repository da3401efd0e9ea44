// The V4L2 webcam source. Memory-mapped streaming where the driver offers it, read() otherwise.
#include "v4l2_source.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "camera/file_sources.h"

// The decoder's implementation lives in kinetiscan_camera; only the declarations are wanted here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb_image.h>
#pragma GCC diagnostic pop

namespace kinetiscan::play {
namespace {

int xioctl(int fd, unsigned long request, void* argument) {
  int result;
  do {
    result = ioctl(fd, request, argument);
  } while (result == -1 && errno == EINTR);
  return result;
}

std::uint8_t clampByte(int value) { return static_cast<std::uint8_t>(std::clamp(value, 0, 255)); }

struct Size {
  std::uint32_t width = 0, height = 0;
};

// The smallest offered size that covers a frame, else the largest offered, else the frame size.
Size chooseSize(int fd, std::uint32_t pixelFormat) {
  Size best, largest;
  v4l2_frmsizeenum size{};
  size.pixel_format = pixelFormat;
  for (size.index = 0; xioctl(fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
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
  explicit VideoDevice(std::string path) : path_(std::move(path)) {}
  ~VideoDevice() override {
    if (streaming_) {
      v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
      xioctl(fd_, VIDIOC_STREAMOFF, &type);
    }
    for (const Mapping& mapping : mappings_) munmap(mapping.start, mapping.length);
    if (fd_ >= 0) close(fd_);
  }
  VideoDevice(const VideoDevice&) = delete;
  VideoDevice& operator=(const VideoDevice&) = delete;

  bool open(std::string* error);
  bool next(camera::Frame& frame) override;
  std::string failure() const override { return failure_; }

 private:
  struct Mapping {
    void* start;
    std::size_t length;
  };
  bool fail(std::string* error, const std::string& what) {
    *error = path_ + ": " + what;
    return false;
  }
  bool startStreaming(std::string* error);
  bool convert(const std::uint8_t* data, std::size_t length, camera::Frame& frame);

  std::string path_;
  int fd_ = -1;
  std::uint32_t pixelFormat_ = 0;
  int width_ = 0, height_ = 0, stride_ = 0;
  std::size_t imageBytes_ = 0;
  bool streaming_ = false;
  std::vector<Mapping> mappings_;
  std::vector<std::uint8_t> readBuffer_, rgb_;
  std::string failure_;
};

bool VideoDevice::open(std::string* error) {
  struct stat info {};
  if (stat(path_.c_str(), &info) != 0) {
    return fail(error, "no such device (is a webcam connected?)");
  }
  if (!S_ISCHR(info.st_mode)) return fail(error, "not a video device");
  fd_ = ::open(path_.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return fail(error, std::string("cannot open: ") + std::strerror(errno));
  v4l2_capability capability{};
  if (xioctl(fd_, VIDIOC_QUERYCAP, &capability) != 0) return fail(error, "not a V4L2 device");
  const std::uint32_t caps = (capability.capabilities & V4L2_CAP_DEVICE_CAPS) != 0
                                 ? capability.device_caps
                                 : capability.capabilities;
  if ((caps & V4L2_CAP_VIDEO_CAPTURE) == 0) return fail(error, "not a video capture device");

  bool yuyv = false, mjpeg = false;
  v4l2_fmtdesc description{};
  description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  for (description.index = 0; xioctl(fd_, VIDIOC_ENUM_FMT, &description) == 0;
       ++description.index) {
    yuyv = yuyv || description.pixelformat == V4L2_PIX_FMT_YUYV;
    mjpeg = mjpeg || description.pixelformat == V4L2_PIX_FMT_MJPEG;
  }
  if (!yuyv && !mjpeg) return fail(error, "offers neither YUYV nor MJPEG frames");
  // YUYV costs no decoding and most webcams offer it at small sizes.
  const std::uint32_t wanted = yuyv ? V4L2_PIX_FMT_YUYV : V4L2_PIX_FMT_MJPEG;
  const Size size = chooseSize(fd_, wanted);
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.width = size.width;
  format.fmt.pix.height = size.height;
  format.fmt.pix.pixelformat = wanted;
  format.fmt.pix.field = V4L2_FIELD_ANY;
  if (xioctl(fd_, VIDIOC_S_FMT, &format) != 0) {
    return fail(error, std::string("refuses the frame format: ") + std::strerror(errno));
  }
  pixelFormat_ = format.fmt.pix.pixelformat;
  width_ = static_cast<int>(format.fmt.pix.width);
  height_ = static_cast<int>(format.fmt.pix.height);
  stride_ = static_cast<int>(std::max(format.fmt.pix.bytesperline, format.fmt.pix.width * 2));
  imageBytes_ =
      std::max<std::size_t>(format.fmt.pix.sizeimage, static_cast<std::size_t>(stride_) * height_);
  if ((pixelFormat_ != V4L2_PIX_FMT_YUYV && pixelFormat_ != V4L2_PIX_FMT_MJPEG) || width_ <= 0 ||
      height_ <= 0 || width_ > 8192 || height_ > 8192 ||
      (pixelFormat_ == V4L2_PIX_FMT_YUYV && width_ % 2 != 0)) {
    return fail(error, "switched to a frame format other than YUYV or MJPEG");
  }
  if ((caps & V4L2_CAP_STREAMING) != 0) return startStreaming(error);
  if ((caps & V4L2_CAP_READWRITE) == 0) return fail(error, "offers neither streaming nor read()");
  readBuffer_.resize(imageBytes_);
  return true;
}

bool VideoDevice::startStreaming(std::string* error) {
  v4l2_requestbuffers request{};
  request.count = 4;
  request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  request.memory = V4L2_MEMORY_MMAP;
  if (xioctl(fd_, VIDIOC_REQBUFS, &request) != 0 || request.count == 0) {
    return fail(error, "cannot get capture buffers");
  }
  for (std::uint32_t i = 0; i < request.count; ++i) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    buffer.index = i;
    if (xioctl(fd_, VIDIOC_QUERYBUF, &buffer) != 0) return fail(error, "cannot query a buffer");
    void* start =
        mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, buffer.m.offset);
    if (start == MAP_FAILED) return fail(error, "cannot map a capture buffer");
    mappings_.push_back({start, buffer.length});
    if (xioctl(fd_, VIDIOC_QBUF, &buffer) != 0) return fail(error, "cannot queue a buffer");
  }
  v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  if (xioctl(fd_, VIDIOC_STREAMON, &type) != 0) return fail(error, "cannot start streaming");
  streaming_ = true;
  return true;
}

bool VideoDevice::convert(const std::uint8_t* data, std::size_t length, camera::Frame& frame) {
  if (pixelFormat_ == V4L2_PIX_FMT_YUYV) {
    if (length < static_cast<std::size_t>(stride_) * height_) return false;
    rgb_.resize(static_cast<std::size_t>(width_) * height_ * 3);
    yuyvToRgb(data, width_, height_, stride_, rgb_.data());
    frame = camera::frameFromImage(rgb_.data(), width_, height_, 3);
    return true;
  }
  if (length == 0 || length > static_cast<std::size_t>(INT32_MAX)) return false;
  int width = 0, height = 0, channels = 0;
  stbi_uc* pixels =
      stbi_load_from_memory(data, static_cast<int>(length), &width, &height, &channels, 3);
  if (pixels == nullptr) return false;
  frame = camera::frameFromImage(pixels, width, height, 3);
  stbi_image_free(pixels);
  return true;
}

bool VideoDevice::next(camera::Frame& frame) {
  if (!failure_.empty()) return false;
  // A frame the decoder rejects (a damaged JPEG) is skipped; a run of them ends the input.
  for (int attempt = 0; attempt < 30; ++attempt) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(fd_, &ready);
    timeval timeout{2, 0};
    const int waited = select(fd_ + 1, &ready, nullptr, nullptr, &timeout);
    if (waited < 0 && errno == EINTR) continue;
    if (waited <= 0) {
      failure_ = path_ + ": no frame within 2 seconds";
      return false;
    }
    if (!streaming_) {
      const ssize_t got = read(fd_, readBuffer_.data(), readBuffer_.size());
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got < 0) {
        failure_ = path_ + ": read failed: " + std::strerror(errno);
        return false;
      }
      if (convert(readBuffer_.data(), static_cast<std::size_t>(got), frame)) return true;
      continue;
    }
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (xioctl(fd_, VIDIOC_DQBUF, &buffer) != 0) {
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
    xioctl(fd_, VIDIOC_QBUF, &buffer);
    if (converted) return true;
  }
  failure_ = path_ + ": frames keep arriving damaged or too short";
  return false;
}

}  // namespace

void yuyvToRgb(const std::uint8_t* yuyv, int width, int height, int stride, std::uint8_t* rgb) {
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* row = yuyv + static_cast<std::size_t>(y) * stride;
    std::uint8_t* out = rgb + static_cast<std::size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x) {
      // Each pair of pixels shares one U and one V.
      const std::uint8_t* pair = row + (x / 2) * 4;
      const int c = (x % 2 == 0 ? pair[0] : pair[2]) - 16;
      const int d = pair[1] - 128;
      const int e = pair[3] - 128;
      out[x * 3 + 0] = clampByte((298 * c + 409 * e + 128) >> 8);
      out[x * 3 + 1] = clampByte((298 * c - 100 * d - 208 * e + 128) >> 8);
      out[x * 3 + 2] = clampByte((298 * c + 516 * d + 128) >> 8);
    }
  }
}

std::unique_ptr<ExplainedSource> openVideoDevice(const std::string& path, std::string* error) {
  auto device = std::make_unique<VideoDevice>(path);
  if (!device->open(error)) return nullptr;
  return device;
}

}  // namespace kinetiscan::play
