// The face that tests and tools use to drive the platform underneath the plug-in: the camera
// behind the capture window, the message boxes and their answers, the windows that exist, and
// the message loop that delivers preview frames. Natively the stand-in implements it; under Wine
// wine_control.cpp does the same over real windows and our AVICAP32. It sees nothing of src/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "camera/capture_device.h"
// The platform's types only: the real ones on Windows, the stand-in's elsewhere.
#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "standin/win32.h"
#endif

namespace kinetiscan::standin {

// The camera that the next capture window connects to. The source must outlive the windows.
void installCamera(const camera::DriverBehaviour& behaviour, camera::FrameSource* source);
const camera::CaptureRecord& captureRecord();
void clearCaptureRecord();
// Runs while the driver's source dialog is up (inside its modal loop).
void setSourceDialogHook(std::function<void()> hook);

// Runs the message loop until `frames` preview frames have been delivered or nothing more can be
// delivered; returns the number delivered.
int pumpFrames(int frames);
// Frames to deliver inside every modal loop (message boxes and the source dialog).
void setFramesPerModalLoop(int frames);

struct MessageBoxRecord {
  HWND owner;
  std::string text;
  std::string caption;
  unsigned style;
  int answer;
};
// Runs while a message box is up (inside its modal loop), before it is answered.
void setMessageBoxHook(std::function<void()> hook);
// Answers for the next boxes, in order; after them OK boxes answer IDOK and others IDCANCEL.
void scriptMessageBoxAnswers(std::vector<int> answers);
std::vector<MessageBoxRecord> messageBoxes();
void clearMessageBoxes();

struct WindowInfo {
  std::string className;
  int x, y, width, height;
  bool visible;
  DWORD style;
  DWORD exStyle;
  HWND parent;
  std::string title;
  std::intptr_t id;  // a child window's identifier
};
bool windowInfo(HWND window, WindowInfo* info);
// The attributes a window class was registered with.
bool windowClass(const char* name, WNDCLASSA* attributes);
// Top-level and child windows alive in this thread.
int liveWindowCount();
// The next `count` window creations fail.
void failWindowCreations(int count);
// How often default processing was reached for a message; false where the platform cannot tell.
bool defaultProcessingCount(unsigned message, std::uintptr_t wParam, int* count);

// GDI objects alive in this process; false where the platform cannot tell.
bool liveGdiObjectCount(int* count);
// The next `count` memory device contexts asked for are refused; false where the platform's GDI
// cannot be made to refuse.
bool failMemoryDcCreations(int count);
// New bitmaps hold leftovers (a pattern, never black) until turned off; false where the
// platform's GDI cannot be made to.
bool dirtyNewBitmaps(bool on);

// The address range a loaded library occupies. After the library is unloaded, reserveRange takes
// the range, so that loading it again must place it elsewhere; false when the range is still in
// use. releaseRange gives it back.
struct LibraryRange {
  std::uintptr_t base;
  std::size_t size;
};
LibraryRange libraryRange(HMODULE module);
bool reserveRange(const LibraryRange& range);
void releaseRange(const LibraryRange& range);

// Back to the state at start: windows destroyed, boxes and records cleared, camera present.
void resetForTest();

}  // namespace kinetiscan::standin
