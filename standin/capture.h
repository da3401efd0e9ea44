// Video for Windows capture subset of the stand-in: driver description, capture windows and
// their messages, the frame callback's header.
#pragma once

#include <cstdint>

struct VIDEOHDR {
  BYTE* lpData;
  DWORD dwBufferLength;
  DWORD dwBytesUsed;
  DWORD dwTimeCaptured;
  std::uintptr_t dwUser;
  DWORD dwFlags;
  std::uintptr_t dwReserved[4];
};
using LPVIDEOHDR = VIDEOHDR*;
using CAPVIDEOCALLBACK = LRESULT (*)(HWND, LPVIDEOHDR);

#define WM_CAP_START WM_USER
#define WM_CAP_SET_CALLBACK_ERRORA (WM_CAP_START + 2)
#define WM_CAP_SET_CALLBACK_STATUSA (WM_CAP_START + 3)
#define WM_CAP_SET_CALLBACK_YIELD (WM_CAP_START + 4)
#define WM_CAP_SET_CALLBACK_FRAME (WM_CAP_START + 5)
#define WM_CAP_SET_CALLBACK_VIDEOSTREAM (WM_CAP_START + 6)
#define WM_CAP_SET_CALLBACK_WAVESTREAM (WM_CAP_START + 7)
#define WM_CAP_DRIVER_CONNECT (WM_CAP_START + 10)
#define WM_CAP_DRIVER_DISCONNECT (WM_CAP_START + 11)
#define WM_CAP_DLG_VIDEOSOURCE (WM_CAP_START + 42)
#define WM_CAP_SET_VIDEOFORMAT (WM_CAP_START + 45)
#define WM_CAP_SET_PREVIEW (WM_CAP_START + 50)
#define WM_CAP_SET_PREVIEWRATE (WM_CAP_START + 52)
#define WM_CAP_SET_CALLBACK_CAPCONTROL (WM_CAP_START + 85)

extern "C" {
BOOL capGetDriverDescriptionA(UINT driverIndex, LPSTR name, int nameSize, LPSTR version,
                              int versionSize);
HWND capCreateCaptureWindowA(LPCSTR windowName, DWORD style, int x, int y, int width, int height,
                             HWND parent, int id);
}
