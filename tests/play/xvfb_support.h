// An X server of a test's own and synthetic key presses sent to a window on it.
#pragma once

#include <signal.h>

#include <chrono>
#include <thread>

#include "play_test_support.h"

// Last: Xlib's macros (None, Bool, Status) would clash with names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace kinetiscan::play {

class XvfbFolder : public ScratchFolder {
 protected:
  void TearDown() override {
    stopXvfb();
    ScratchFolder::TearDown();
  }
  // On a free display number, ended with the test; its display name, or "" when it did not start.
  std::string startXvfb() {
    const std::string start =
        "cd '" + folder_.string() +
        "' && { timeout 300 Xvfb -displayfd 3 -screen 0 1600x900x24 -nolisten tcp "
        "3>display.txt 2>xvfb.log & echo $! >xvfb.pid; }";
    if (std::system(start.c_str()) != 0) return "";
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
         read("display.txt").empty() && std::chrono::steady_clock::now() < end;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string number = read("display.txt");
    return number.empty() ? "" : ":" + number.substr(0, number.find('\n'));
  }
  void stopXvfb() {
    std::ifstream in(path("xvfb.pid"));
    if (int pid = 0; in >> pid && pid > 0) ::kill(pid, SIGTERM);
    std::filesystem::remove(path("xvfb.pid"));
  }
};

// A window may go between listing and asking; Xlib's default would end the test at that.
inline int ignoreXError(Display*, XErrorEvent*) { return 0; }

// A connection to the test's X server that outlives windows going away under it.
inline Display* openDisplay(const std::string& name) {
  XSetErrorHandler(ignoreXError);
  return XOpenDisplay(name.c_str());
}

// The last mapped top-level window of that name (a replaced window lies below its successor), or 0.
inline Window findMappedWindow(Display* display, const char* name) {
  Window root, parent, *children = nullptr, found = 0;
  unsigned count = 0;
  if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) {
    return 0;
  }
  for (unsigned i = 0; i < count; ++i) {
    char* title = nullptr;
    XWindowAttributes attributes;
    if (XFetchName(display, children[i], &title) != 0 && title != nullptr) {
      if (std::string(title) == name && XGetWindowAttributes(display, children[i], &attributes) &&
          attributes.map_state == IsViewable) {
        found = children[i];
      }
      XFree(title);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

// The grey of the control lines' text drawn in the window's rows from `top` down, counted as a
// screenshot takes them.
inline int greyPixelsBelow(Display* display, Window window, int top) {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(display, window, &attributes) == 0 || top >= attributes.height) {
    return 0;
  }
  XImage* image = XGetImage(display, window, 0, top, attributes.width, attributes.height - top,
                            AllPlanes, ZPixmap);
  if (image == nullptr) return 0;
  int count = 0;
  for (int y = 0; y < image->height; ++y) {
    for (int x = 0; x < image->width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      count += (pixel & image->red_mask) >> __builtin_ctzl(image->red_mask) == 200 &&
               (pixel & image->green_mask) >> __builtin_ctzl(image->green_mask) == 200;
    }
  }
  XDestroyImage(image);
  return count;
}

// A press and a release of the key as the keyboard would give them (XTest), to the window of
// that name on screen now, given the input focus first: a loaded machine has seen the window
// replaced, and without a window manager nobody else gives it the focus.
inline void pressKey(Display* display, const char* name, KeySym symbol) {
  const Window window = findMappedWindow(display, name);
  if (window != 0) XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
  XSync(display, False);
  const KeyCode code = XKeysymToKeycode(display, symbol);
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XFlush(display);
}

}  // namespace kinetiscan::play
