// Capture windows of the stand-in over a simulated camera, and the message loop that delivers
// their preview frames.
#include <cstring>

#include "camera/capture_device.h"
#include "standin/gdi_control.h"
#include "standin/internal.h"
#include "testbed/control.h"

namespace kinetiscan::standin {
namespace {

constexpr char kCaptureClass[] = "StandinCaptureWindow";
constexpr char kDriverName[] = "Kinetiscan simulated camera";
constexpr char kDriverVersion[] = "1.0";

struct Rig : camera::DriverState<HWND> {
  std::function<void()> dialogHook;
};

Rig& rig() {
  static Rig state;
  return state;
}

LRESULT captureWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto found = rig().devices.find(window);
  if (found == rig().devices.end()) return 0;
  if (message == WM_DESTROY) {
    rig().devices.erase(found);
    return 0;
  }
  std::shared_ptr<camera::CaptureDevice> device = found->second;
  return device->handle(message, wParam, lParam);
}

void registerCaptureClass() {
  WNDCLASSA attributes{};
  attributes.lpfnWndProc = captureWindowProcedure;
  attributes.lpszClassName = kCaptureClass;
  RegisterClassA(&attributes);  // fails harmlessly once registered
}

}  // namespace

void installCamera(const camera::DriverBehaviour& behaviour, camera::FrameSource* source) {
  rig().install(behaviour, source);
}
const camera::CaptureRecord& captureRecord() { return rig().record; }
void clearCaptureRecord() { rig().record = camera::CaptureRecord{}; }
void setSourceDialogHook(std::function<void()> hook) { rig().dialogHook = std::move(hook); }

// Counts every frame delivered meanwhile, also those delivered by modal loops inside callbacks.
int pumpFrames(int frames) {
  const int start = rig().record.framesDelivered;
  auto delivered = [&] { return rig().record.framesDelivered - start; };
  while (delivered() < frames) {
    std::vector<std::pair<HWND, std::shared_ptr<camera::CaptureDevice>>> previewing;
    for (const auto& [window, device] : rig().devices) {
      if (device->previewing()) previewing.emplace_back(window, device);
    }
    bool any = false;
    for (auto& [window, device] : previewing) {
      if (delivered() >= frames) break;
      if (!IsWindow(window)) continue;
      if (camera::deliverPreviewFrame<CAPVIDEOCALLBACK, VIDEOHDR>(window, device, 0)) any = true;
    }
    if (!any) break;
  }
  return delivered();
}

void resetCameraForTest() {
  rig().resetCamera();
  rig().dialogHook = nullptr;
}

void resetForTest() {
  resetWindowsForTest();
  resetCameraForTest();
  failMemoryDcs(0);
  holdLeftoversInNewBitmaps(false);
}

}  // namespace kinetiscan::standin

using namespace kinetiscan::standin;

extern "C" BOOL capGetDriverDescriptionA(UINT driverIndex, LPSTR name, int nameSize, LPSTR version,
                                         int versionSize) {
  const kinetiscan::camera::DriverBehaviour& behaviour = rig().behaviour;
  if (driverIndex != 0 || !behaviour.installed || !behaviour.describable) return FALSE;
  if (name != nullptr && nameSize > 0 && behaviour.longDescription > 0) {
    const int length = behaviour.longDescription;
    for (int i = 0; i < nameSize && i <= length; ++i) {
      name[i] = i < length ? kinetiscan::camera::longDescriptionLetter(i) : '\0';
    }
  } else if (name != nullptr && nameSize > 0) {
    std::strncpy(name, kDriverName, static_cast<std::size_t>(nameSize - 1));
    name[nameSize - 1] = '\0';
  }
  if (version != nullptr && versionSize > 0) {
    std::strncpy(version, kDriverVersion, static_cast<std::size_t>(versionSize - 1));
    version[versionSize - 1] = '\0';
  }
  return TRUE;
}

extern "C" HWND capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y, int width,
                                        int height, HWND parent, int id) {
  registerCaptureClass();
  HWND window = CreateWindowExA(0, kCaptureClass, windowName, style, x, y, width, height, parent,
                                reinterpret_cast<HMENU>(static_cast<std::intptr_t>(id)),
                                GetModuleHandleA(nullptr), nullptr);
  if (window == nullptr) return nullptr;
  auto device = std::make_shared<kinetiscan::camera::CaptureDevice>(rig().behaviour, rig().source,
                                                                    rig().record);
  device->showSourceDialog = [] {
    if (rig().dialogHook) rig().dialogHook();
    runModalLoop();
  };
  rig().devices[window] = std::move(device);
  return window;
}
