// The one capture session of the module: a hidden parent window, the first capture driver at
// 160x120 RGB-24 with preview every 50 ms, and the frame callback that hands each frame on.
#pragma once

#include <cstdint>

#include "analysis/frame_view.h"
#include "kinetiscan/abi.h"
#include "platform/win32api.h"

namespace kinetiscan {

// The latest frame as the driver delivered it. Sized by the first frame after an open; later
// frames fill at most that much, and `used` says how much the latest one filled.
struct FrameBuffer {
  std::uint8_t* bytes = nullptr;
  std::uint32_t capacity = 0;
  std::uint32_t used = 0;
};

struct CaptureSession {
  bool captureOpen = false;
  bool driverConnected = false;  // the format is negotiated only with a connected driver
  HWND parentWindow = nullptr;
  HWND captureWindow = nullptr;
  FrameBuffer frameBuffer;
};
const CaptureSession& captureSession();
void resetCaptureSessionForTest();

// The owner of the session's error box, asked only when the box is shown: the host's main
// window. Null (or a null answer) gives a box without owner.
using OwnerWindow = HWND (*)();

// Where each frame goes once it is copied; installed by the cast member. The view is good until
// the next call that can dispatch messages or close capture: ask latestFrame() again after one.
// Without a sink frames are kept but go nowhere.
using FrameSink = void (*)(FrameView frame);
void setFrameSink(FrameSink sink);

// The latest frame; {nullptr, 0} while capture is closed or before the first frame.
FrameView latestFrame();

void openCaptureSession(OwnerWindow owner = nullptr);
void closeCaptureSession();
Result chooseVideoSource();
void negotiateFormat();
HWND createParentWindow(OwnerWindow owner = nullptr);

LRESULT CALLBACK parentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK onFrame(HWND window, LPVIDEOHDR header);
LRESULT CALLBACK onVideoStream(HWND window, LPVIDEOHDR header);

}  // namespace kinetiscan
