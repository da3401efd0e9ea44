// The simulated capture driver.
#include "camera/capture_device.h"

#include <algorithm>
#include <cstring>

namespace kinetiscan::camera {
namespace {

constexpr std::size_t kFormatRecordBytes = 44;

std::uint32_t readWord(const std::uint8_t* bytes, int offset) {
  std::uint32_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}
std::uint16_t readHalf(const std::uint8_t* bytes, int offset) {
  std::uint16_t value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

}  // namespace

CaptureDevice::CaptureDevice(const DriverBehaviour& behaviour, FrameSource* source,
                             CaptureRecord& record)
    : behaviour_(behaviour), source_(source), record_(record) {}

// Only the exact RGB-24 160x120 bottom-up layout is this driver's format.
bool CaptureDevice::acceptFormat(const std::uint8_t* record, std::uintptr_t size) const {
  if (record == nullptr || size < 40) return false;
  return readWord(record, 0) == 40 && readWord(record, 4) == 160 && readWord(record, 8) == 120 &&
         readHalf(record, 12) == 1 && readHalf(record, 14) == 24 && readWord(record, 16) == 0;
}

std::intptr_t CaptureDevice::handle(std::uint32_t message, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
  if (message < kCapStart || message > kCapEnd) return 0;
  CaptureMessageRecord entry{message, wParam, lParam, {}};
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(lParam);
  if (message == kCapSetVideoFormat && bytes != nullptr) {
    entry.format.assign(bytes, bytes + std::min<std::uintptr_t>(wParam, kFormatRecordBytes));
  }
  record_.messages.push_back(std::move(entry));
  if (message == behaviour_.refusedMessage) return 0;

  switch (message) {
    case kCapDriverConnect:
      if (!behaviour_.installed || behaviour_.refuseConnect || wParam != 0) return 0;
      connected_ = true;
      ++record_.connects;
      return 1;
    case kCapDriverDisconnect:
      connected_ = preview_ = false;
      return 1;
    case kCapSetCallbackFrame:
      frameCallback_ = lParam;
      return 1;
    case kCapSetCallbackVideoStream:
      videoStreamCallback_ = lParam;
      return 1;
    case kCapSetCallbackError:
    case kCapSetCallbackStatus:
    case kCapSetCallbackYield:
    case kCapSetCallbackWaveStream:
    case kCapSetCallbackCapControl:
      return 1;
    case kCapDlgVideoSource:
      if (!connected_) return 0;
      ++record_.dialogsShown;
      if (showSourceDialog) showSourceDialog();
      return 1;
    case kCapSetVideoFormat: {
      if (!connected_) return 0;
      const bool allowed = behaviour_.formatRefusals >= 0 &&
                           record_.dialogsShown >= behaviour_.formatRefusals &&
                           acceptFormat(bytes, wParam);
      if (!allowed) return 0;
      formatSet_ = true;
      ++record_.formatsAccepted;
      return 1;
    }
    case kCapSetPreviewRate:
      previewRate_ = static_cast<std::uint32_t>(wParam);
      return 1;
    case kCapSetPreview:
      if (!connected_) return 0;
      preview_ = wParam != 0;
      return 1;
    default:
      return 0;
  }
}

bool CaptureDevice::nextFrame(const std::uint8_t** data, std::uint32_t* used) {
  *data = nullptr;
  *used = 0;
  if (source_ == nullptr || !source_->next(frame_)) {
    ++record_.sourceRanDry;
    return false;
  }
  *used = formatSet_ ? behaviour_.frameBytes : behaviour_.ownFormatBytes;
  // A header with no bytes used still points at a buffer, as a driver's does.
  delivered_.assign(std::max<std::uint32_t>(*used, 1), 0);
  const std::size_t copied = std::min<std::size_t>(*used, frame_.size());
  if (copied != 0) std::memcpy(delivered_.data(), frame_.data(), copied);
  ++record_.framesDelivered;
  *data = delivered_.data();
  return true;
}

}  // namespace kinetiscan::camera
