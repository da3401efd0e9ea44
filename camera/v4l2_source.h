// A V4L2 webcam as a frame source: YUYV or MJPEG at the smallest size the device offers that
// covers 160x120, converted to the 160x120 bottom-up BGR frames a capture driver delivers.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "camera/frame_source.h"

namespace kinetiscan::play {

// A source that can say why it stopped delivering frames.
class ExplainedSource : public camera::FrameSource {
 public:
  // Empty while all is well.
  virtual std::string failure() const = 0;
};

// The calls the webcam source makes into its driver. The system's are used unless a test stands
// in for a driver that answers what no well-behaved one would.
class VideoDriver {
 public:
  virtual ~VideoDriver() = default;
  // A descriptor, or -1 with the reason in `problem`.
  virtual int open(const std::string& path, std::string* problem) = 0;
  virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
  virtual ssize_t read(int fd, void* buffer, std::size_t length) = 0;
  // > 0 when `fd` has a frame, 0 after `timeoutMs`, < 0 on failure with errno set.
  virtual int wait(int fd, int timeoutMs) = 0;
  // The mapping, or null.
  virtual void* map(int fd, std::size_t length, off_t offset) = 0;
  virtual void unmap(void* start, std::size_t length) = 0;
  virtual void close(int fd) = 0;
};

// The device's own calls.
VideoDriver& systemVideoDriver();

// Waits with poll(), which takes descriptors of any number (select() writes past its set for a
// descriptor of FD_SETSIZE or more). As VideoDriver::wait.
int waitReadable(int fd, int timeoutMs);

// Null with a message naming the device when it is missing, not a capture device, offers
// neither YUYV nor MJPEG, or asks for frame sizes or buffers beyond reason.
std::unique_ptr<ExplainedSource> openVideoDevice(const std::string& path, std::string* error,
                                                 VideoDriver& driver = systemVideoDriver());

// The largest frame buffer a device may ask for: an 8192x8192 frame of 3 bytes a pixel.
constexpr std::uint64_t kMaxDeviceFrameBytes = 8192ull * 8192 * 3;
// Padding a driver may add after a YUYV row's packed bytes.
constexpr std::uint64_t kMaxRowPadding = 4096;

// Packed 4:2:2 YUYV rows (BT.601, studio range) to top-down RGB, 3 bytes per pixel. The width is
// even, as YUYV pairs pixels; `stride` is the byte length of a source row.
void yuyvToRgb(const std::uint8_t* yuyv, int width, int height, std::size_t stride,
               std::uint8_t* rgb);

// One YUYV frame of `length` bytes to a frame; false, leaving `frame` alone, when the geometry
// is not one a device may report or the data is shorter than its rows. `rgb` is scratch space.
bool frameFromYuyv(const std::uint8_t* data, std::size_t length, int width, int height,
                   std::size_t stride, camera::Frame& frame, std::vector<std::uint8_t>& rgb);
// One MJPEG frame (a JPEG image, nothing else) to a frame; false with the reason otherwise.
bool frameFromMjpeg(const std::uint8_t* data, std::size_t length, camera::Frame& frame,
                    std::string* error);

}  // namespace kinetiscan::play
