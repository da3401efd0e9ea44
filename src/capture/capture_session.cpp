// The capture session. Frames arrive through the capture window's messages on the host's thread,
// so onFrame can run inside any call here that shows a box or a dialog; nothing keeps a pointer
// into the session across such a call. Each frame is copied, then handed to the sink.
#include "capture/capture_session.h"

#include <cstdlib>
#include <cstring>

#include "analysis/analysis_state.h"
#include "platform/dib_header.h"

namespace kinetiscan {
namespace {

constexpr char kWindowClass[] = "VideoCapWindow";
constexpr int kFrameWidth = kColumns;
constexpr int kFrameHeight = kRows;
constexpr WPARAM kPreviewRateMs = 50;
constexpr char kFormatText[] =
    "The current video source does not support\nthe Kinetiscan format [160x120 RGB-24].\n\n"
    "Let's choose another source.\n";

constinit CaptureSession session;
constinit FrameSink frameSink = nullptr;

bool captureWindowAlive() { return IsWindow(session.captureWindow) != FALSE; }

LRESULT sendToCapture(UINT message, WPARAM wParam, LPARAM lParam) {
  return SendMessageA(session.captureWindow, message, wParam, lParam);
}

template <class Callback>
LPARAM callbackParameter(Callback callback) {
  return reinterpret_cast<LPARAM>(reinterpret_cast<void*>(callback));
}

void freeFrameBuffer() {
  std::free(session.frameBuffer.bytes);
  session.frameBuffer = FrameBuffer{};
}

}  // namespace

const CaptureSession& captureSession() { return session; }

void resetCaptureSessionForTest() {
  freeFrameBuffer();
  session = CaptureSession{};
  frameSink = nullptr;
}

void setFrameSink(FrameSink sink) { frameSink = sink; }

FrameView latestFrame() {
  const FrameBuffer& buffer = session.frameBuffer;
  if (buffer.bytes == nullptr || buffer.used == 0) return {};
  return FrameView{buffer.bytes, buffer.used};
}

HWND createParentWindow(OwnerWindow owner) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = parentWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);  // from the second open on the class exists; that is fine

  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kWindowClass, nullptr, WS_POPUP,
                                0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) {
    MessageBoxA(owner != nullptr ? owner() : nullptr, "VideoCapWindow Creation Error.", "ERROR",
                MB_OK | MB_ICONWARNING);
    return nullptr;
  }
  ShowWindow(window, SW_SHOW);
  return window;
}

LRESULT CALLBACK parentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Keep the screen saver and monitor power saving from starting through this window. The whole
  // wParam is compared on purpose.
  if (message == WM_SYSCOMMAND && (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER)) {
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void negotiateFormat() {
  for (;;) {
    BITMAPINFO format = dibHeader(kFrameWidth, kFrameHeight, 24);  // bottom-up rows
    if (captureWindowAlive() && sendToCapture(WM_CAP_SET_VIDEOFORMAT, sizeof format,
                                              reinterpret_cast<LPARAM>(&format)) != 0) {
      return;
    }
    if (MessageBoxA(session.parentWindow, kFormatText, "Kinetiscan", MB_OKCANCEL | MB_ICONHAND) !=
        IDOK) {
      return;  // the driver keeps whatever format it has
    }
    // A dialog that cannot be shown can never lead to another format: end as Cancel does.
    if (!captureWindowAlive() || sendToCapture(WM_CAP_DLG_VIDEOSOURCE, 0, 0) == 0) return;
  }
}

void openCaptureSession(OwnerWindow owner) {
  if (session.captureOpen) return;
  // Open from the start: a member created while the creation-error box below is up must not
  // open a second session.
  session.captureOpen = true;
  char name[100] = "";
  char version[100] = "";
  capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version);
  name[sizeof name - 1] = '\0';

  HWND parent = createParentWindow(owner);
  // Inside the creation-error box's modal loop the session may have been closed, or closed and
  // opened again; this open is then over.
  if (!session.captureOpen || session.parentWindow != nullptr) return;
  session.parentWindow = parent;
  session.captureWindow = capCreateCaptureWindowA(name, WS_CHILD | WS_VISIBLE, 0, 0, kFrameWidth,
                                                  kFrameHeight, session.parentWindow, 0);
  if (captureWindowAlive()) sendToCapture(WM_CAP_DRIVER_DISCONNECT, 0, 0);
  if (!captureWindowAlive() || sendToCapture(WM_CAP_DRIVER_CONNECT, 0, 0) == 0) return;
  session.driverConnected = true;

  negotiateFormat();

  // Each step only while the ones before it succeeded; a refusal leaves the session open and
  // silent, without frames.
  if (!captureWindowAlive() ||
      sendToCapture(WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, callbackParameter(onVideoStream)) == 0) {
    return;
  }
  if (!captureWindowAlive() ||
      sendToCapture(WM_CAP_SET_CALLBACK_FRAME, 0, callbackParameter(onFrame)) == 0) {
    return;
  }
  if (!captureWindowAlive() || sendToCapture(WM_CAP_SET_PREVIEWRATE, kPreviewRateMs, 0) == 0) {
    return;
  }
  if (!captureWindowAlive()) return;
  sendToCapture(WM_CAP_SET_PREVIEW, 1, 0);
}

void closeCaptureSession() {
  if (!session.captureOpen) return;
  const UINT callbacks[] = {WM_CAP_SET_CALLBACK_ERRORA,      WM_CAP_SET_CALLBACK_STATUSA,
                            WM_CAP_SET_CALLBACK_YIELD,       WM_CAP_SET_CALLBACK_FRAME,
                            WM_CAP_SET_CALLBACK_VIDEOSTREAM, WM_CAP_SET_CALLBACK_WAVESTREAM,
                            WM_CAP_SET_CALLBACK_CAPCONTROL};
  for (UINT message : callbacks) {
    if (captureWindowAlive()) sendToCapture(message, 0, 0);
  }
  // Destroying the parent takes the capture window with it, which ends preview and releases the
  // driver. captureWindow keeps its stale value; every use is behind IsWindow.
  DestroyWindow(session.parentWindow);
  // The class names our window procedure: it must not outlive the library, which the host may
  // unload once the last member is gone. The next open registers it again.
  UnregisterClassA(kWindowClass, GetModuleHandleA(nullptr));
  session.parentWindow = nullptr;
  session.captureOpen = false;
  session.driverConnected = false;
  freeFrameBuffer();
}

Result chooseVideoSource() {
  MoveWindow(session.parentWindow, 0, 0, kFrameWidth, kFrameHeight, TRUE);
  if (captureWindowAlive()) sendToCapture(WM_CAP_DLG_VIDEOSOURCE, 0, 0);
  MoveWindow(session.parentWindow, 0, 0, 1, 1, TRUE);
  // Without a connected driver no format can be set, and asking would only show a box that
  // leads nowhere.
  if (session.driverConnected && captureWindowAlive()) negotiateFormat();
  return kOk;
}

LRESULT CALLBACK onFrame(HWND, LPVIDEOHDR header) {
  // A frame without bytes is not a frame; it is neither copied nor analysed.
  if (header == nullptr || header->lpData == nullptr || header->dwBytesUsed == 0) return 0;
  FrameBuffer& buffer = session.frameBuffer;
  if (buffer.bytes == nullptr) {
    buffer.bytes = static_cast<std::uint8_t*>(std::malloc(header->dwBytesUsed));
    if (buffer.bytes == nullptr) return 0;  // dropped, not analysed
    buffer.capacity = header->dwBytesUsed;
  }
  // The buffer keeps the size of the first frame after the open; never write past it.
  buffer.used = header->dwBytesUsed < buffer.capacity ? header->dwBytesUsed : buffer.capacity;
  std::memcpy(buffer.bytes, header->lpData, buffer.used);
  if (frameSink != nullptr) frameSink(latestFrame());
  return 0;
}

LRESULT CALLBACK onVideoStream(HWND, LPVIDEOHDR) { return 0; }

}  // namespace kinetiscan
