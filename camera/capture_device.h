// A simulated capture driver behind a capture window: answers the capture messages the way a
// Video for Windows driver does, with behaviours a test can choose, and produces preview frames.
// Platform-neutral: the window plumbing (the Linux stand-in, or our AVICAP32 for Wine) passes
// messages in as plain integers and delivers the frames.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "camera/frame_source.h"
#include "camera/synthetic_scene.h"

namespace kinetiscan::camera {

// Message numbers of the capture window (WM_CAP_START = WM_USER = 0x400).
enum CaptureMessage : std::uint32_t {
  kCapStart = 0x400,
  kCapSetCallbackError = 0x402,
  kCapSetCallbackStatus = 0x403,
  kCapSetCallbackYield = 0x404,
  kCapSetCallbackFrame = 0x405,
  kCapSetCallbackVideoStream = 0x406,
  kCapSetCallbackWaveStream = 0x407,
  kCapDriverConnect = 0x40A,
  kCapDriverDisconnect = 0x40B,
  kCapDlgVideoSource = 0x42A,
  kCapSetVideoFormat = 0x42D,
  kCapSetPreview = 0x432,
  kCapSetPreviewRate = 0x434,
  kCapSetCallbackCapControl = 0x455,
  kCapEnd = 0x4FF,
};

struct DriverBehaviour {
  bool installed = true;    // false: no capture driver at all
  bool describable = true;  // false: the driver description cannot be read
  // Above 0: the description is this many letters (longDescriptionLetter), and the driver fills
  // a buffer too small for it to the last byte with no terminator, as a careless driver may.
  int longDescription = 0;
  bool refuseConnect = false;  // the driver is there but will not connect
  // The format is refused until the source dialog has been shown this many times; negative:
  // refused for ever.
  int formatRefusals = 0;
  std::uint32_t refusedMessage = 0;        // a callback or preview message answered with 0
  std::uint32_t frameBytes = kFrameBytes;  // bytes used per frame once 160x120 RGB-24 is set
  std::uint32_t ownFormatBytes = 38400;    // bytes used per frame in the driver's own format
  // false: frames come as fast as the message loop takes them, whatever preview rate was set, for
  // runs that want the frames and not their pace (replays, soaks).
  bool keepsPreviewRate = true;
};

constexpr char longDescriptionLetter(int index) { return static_cast<char>('a' + index % 26); }

// What the driver saw, for tests to read back.
struct CaptureMessageRecord {
  std::uint32_t message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  std::vector<std::uint8_t> format;  // the 44-byte record of a format request
};
struct CaptureRecord {
  std::vector<CaptureMessageRecord> messages;
  int connects = 0;
  int dialogsShown = 0;
  int formatsAccepted = 0;
  int framesDelivered = 0;
  // Deliveries that found the source empty: whoever waits for frames can stop waiting.
  int sourceRanDry = 0;
  // How long the frame callback of the last delivered frame took, for timing the host's road.
  std::int64_t lastCallbackNanoseconds = 0;
};

class CaptureDevice {
 public:
  CaptureDevice(const DriverBehaviour& behaviour, FrameSource* source, CaptureRecord& record);

  // Answers one capture message; other messages are not the device's (answered 0).
  std::intptr_t handle(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

  // Shown while the driver's source dialog is up; the plumbing makes it modal.
  std::function<void()> showSourceDialog;

  bool previewing() const { return connected_ && preview_ && frameCallback_ != 0; }
  std::intptr_t frameCallback() const { return frameCallback_; }
  std::intptr_t videoStreamCallback() const { return videoStreamCallback_; }
  std::uint32_t previewRate() const { return previewRate_; }
  bool connected() const { return connected_; }
  const DriverBehaviour& behaviour() const { return behaviour_; }

  // The next preview frame: its bytes and their count, which a driver set so may make 0; false
  // when the source has run out.
  bool nextFrame(const std::uint8_t** data, std::uint32_t* used);
  void noteCallbackTime(std::int64_t nanoseconds) { record_.lastCallbackNanoseconds = nanoseconds; }

 private:
  bool acceptFormat(const std::uint8_t* record, std::uintptr_t size) const;

  const DriverBehaviour& behaviour_;
  FrameSource* source_;
  CaptureRecord& record_;
  bool connected_ = false;
  bool preview_ = false;
  bool formatSet_ = false;
  std::uint32_t previewRate_ = 66;
  std::intptr_t frameCallback_ = 0;
  std::intptr_t videoStreamCallback_ = 0;
  Frame frame_;
  std::vector<std::uint8_t> delivered_;
};

// What a capture driver keeps besides its devices' own state: the camera a test chose, the record
// of what the driver saw, and one device per capture window. Shared by the stand-in's driver and
// our AVICAP32 for Wine; `Window` is the platform's window handle.
template <class Window>
struct DriverState {
  DriverBehaviour behaviour;
  SyntheticScene defaultScene{SceneOptions{}};
  FrameSource* source = &defaultScene;
  CaptureRecord record;
  // Shared so that a device destroyed from inside its own frame callback outlives the delivery.
  std::map<Window, std::shared_ptr<CaptureDevice>> devices;

  // The camera the next capture window connects to; without a source, the default scene.
  void install(const DriverBehaviour& chosen, FrameSource* chosenSource) {
    behaviour = chosen;
    source = chosenSource != nullptr ? chosenSource : &defaultScene;
  }
  // The camera and record of a freshly loaded driver; open windows keep their devices.
  void resetCamera() {
    behaviour = DriverBehaviour{};
    defaultScene = SyntheticScene(SceneOptions{});
    source = &defaultScene;
    record = CaptureRecord{};
  }
};

// Hands the device's next preview frame to its frame callback, as a driver does: in a video
// header over the frame's bytes. False when the device is not previewing or its source has run
// out. `Callback` and `VideoHeader` are the platform's frame callback and VIDEOHDR.
template <class Callback, class VideoHeader, class Window>
bool deliverPreviewFrame(Window window, std::shared_ptr<CaptureDevice> device,
                         std::uint32_t timeCaptured) {
  if (!device->previewing()) return false;
  const std::uint8_t* data = nullptr;
  std::uint32_t used = 0;
  if (!device->nextFrame(&data, &used)) return false;
  VideoHeader header{};
  header.lpData = const_cast<std::uint8_t*>(data);
  header.dwBufferLength = used;
  header.dwBytesUsed = used;
  header.dwTimeCaptured = timeCaptured;
  // The callback may destroy this very window; `device` keeps the frame alive until it returns.
  const auto start = std::chrono::steady_clock::now();
  reinterpret_cast<Callback>(device->frameCallback())(window, &header);
  device->noteCallbackTime(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start)
          .count());
  return true;
}

}  // namespace kinetiscan::camera
