// AVICAP32 for Wine: the two capture functions the plug-in imports, over our simulated camera.
// The capture window is a real window; preview frames come from a real window timer and reach
// the frame callback through the window's own messages, as with a real driver. A few extra
// exports let a test choose the camera and read back what it saw.
#include <windows.h>
// windows.h first.
#include <vfw.h>

#include <cstring>

#include "camera/capture_device.h"

namespace {

using kinetiscan::camera::CaptureDevice;

constexpr char kCaptureClass[] = "StandinCaptureWindow";
constexpr UINT_PTR kFrameTimer = 1;

struct Rig : kinetiscan::camera::DriverState<HWND> {
  void (*dialogHook)(void*) = nullptr;
  void* dialogContext = nullptr;
  int dialogFrames = 0;
};

Rig& rig() {
  static Rig state;
  return state;
}

HINSTANCE moduleInstance = nullptr;

// The driver's source dialog: a modal loop that keeps dispatching (so frames arrive) until the
// test's frames have come, or briefly when it asked for none.
void runSourceDialog() {
  if (rig().dialogHook != nullptr) rig().dialogHook(rig().dialogContext);
  const int target = rig().record.framesDelivered + rig().dialogFrames;
  const DWORD deadline = GetTickCount() + (rig().dialogFrames > 0 ? 5000 : 50);
  MSG message;
  while (static_cast<LONG>(deadline - GetTickCount()) > 0 &&
         (rig().dialogFrames == 0 || rig().record.framesDelivered < target)) {
    if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    } else {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
  }
}

void updateTimer(HWND window, const CaptureDevice& device) {
  if (device.previewing()) {
    SetTimer(window, kFrameTimer, device.previewRate() == 0 ? 1 : device.previewRate(), nullptr);
  } else {
    KillTimer(window, kFrameTimer);
  }
}

LRESULT CALLBACK captureWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto found = rig().devices.find(window);
  if (found == rig().devices.end()) return DefWindowProcA(window, message, wParam, lParam);
  std::shared_ptr<CaptureDevice> device = found->second;
  if (message == WM_DESTROY) {
    KillTimer(window, kFrameTimer);
    rig().devices.erase(found);
    return 0;
  }
  if (message == WM_TIMER && wParam == kFrameTimer) {
    const bool delivered = kinetiscan::camera::deliverPreviewFrame<CAPVIDEOCALLBACK, VIDEOHDR>(
        window, device, GetTickCount());
    // Unpaced, the next frame follows at once while the source has frames; the timer takes over
    // when it runs dry.
    if (delivered && !device->behaviour().keepsPreviewRate && IsWindow(window)) {
      PostMessageA(window, WM_TIMER, kFrameTimer, 0);
    }
    return 0;
  }
  if (message >= WM_CAP_START && message <= WM_CAP_START + 0xFF) {
    const LRESULT answer = device->handle(message, wParam, lParam);
    if (IsWindow(window)) updateTimer(window, *device);
    return answer;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

extern "C" BOOL WINAPI capGetDriverDescriptionA(UINT driverIndex, LPSTR name, int nameSize,
                                                LPSTR version, int versionSize) {
  const auto& behaviour = rig().behaviour;
  if (driverIndex != 0 || !behaviour.installed || !behaviour.describable) return FALSE;
  if (name != nullptr && nameSize > 0 && behaviour.longDescription > 0) {
    // A careless driver: the buffer filled to its end, with no terminator if the name is longer.
    const int length = behaviour.longDescription;
    for (int i = 0; i < nameSize && i <= length; ++i) {
      name[i] = i < length ? kinetiscan::camera::longDescriptionLetter(i) : '\0';
    }
  } else if (name != nullptr && nameSize > 0) {
    lstrcpynA(name, "Kinetiscan simulated camera", nameSize);
  }
  if (version != nullptr && versionSize > 0) lstrcpynA(version, "1.0", versionSize);
  return TRUE;
}

extern "C" HWND WINAPI capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y,
                                               int width, int height, HWND parent, int id) {
  WNDCLASSA attributes{};
  attributes.lpfnWndProc = captureWindowProcedure;
  attributes.hInstance = moduleInstance;
  attributes.lpszClassName = kCaptureClass;
  RegisterClassA(&attributes);
  HWND window =
      CreateWindowExA(0, kCaptureClass, windowName, style, x, y, width, height, parent,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), moduleInstance, nullptr);
  if (window == nullptr) return nullptr;
  auto device = std::make_shared<CaptureDevice>(rig().behaviour, rig().source, rig().record);
  device->showSourceDialog = runSourceDialog;
  rig().devices[window] = std::move(device);
  return window;
}

// The test's controls.
extern "C" void standinInstallCamera(const kinetiscan::camera::DriverBehaviour* behaviour,
                                     kinetiscan::camera::FrameSource* source) {
  rig().install(*behaviour, source);
}
extern "C" kinetiscan::camera::CaptureRecord* standinCaptureRecord() { return &rig().record; }
extern "C" void standinSetSourceDialog(void (*hook)(void*), void* context, int frames) {
  rig().dialogHook = hook;
  rig().dialogContext = context;
  rig().dialogFrames = frames;
}
extern "C" int standinPreviewingWindows() {
  int count = 0;
  for (const auto& [window, device] : rig().devices) count += device->previewing() ? 1 : 0;
  return count;
}
extern "C" void standinResetCamera() {
  rig().resetCamera();
  rig().dialogHook = nullptr;
  rig().dialogFrames = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) moduleInstance = instance;
  return TRUE;
}
