// The one capture session of the module: a hidden parent window, the first capture driver at
// 160x120 RGB-24 with preview every 50 ms, and the frame callback that feeds the analysis.
#pragma once

#include <cstdint>

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

void openCaptureSession();
void closeCaptureSession();
Result chooseVideoSource();
void negotiateFormat();
HWND createParentWindow();

LRESULT CALLBACK parentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK onFrame(HWND window, LPVIDEOHDR header);
LRESULT CALLBACK onVideoStream(HWND window, LPVIDEOHDR header);

// The owner of the session's error box: the host's main window, supplied by the cast member.
using HostWindowSource = HWND (*)();
void setHostWindowSource(HostWindowSource source);

}  // namespace kinetiscan
