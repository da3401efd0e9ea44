// The --show window over SDL2's window surface: no renderer, so it works on any X server, Xvfb
// included, and what is on screen is exactly the picture scaled up.
#include "live_window.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "stage_labels.h"

namespace kinetiscan::play {

namespace {

// Xlib ends the process when a connection breaks (SDL keeps more than one), after calling the
// handler below. The handler leaves Xlib instead, back to where the window last called into SDL,
// and the window never calls it again: the run ends after the current frame, keeping everything.
sigjmp_buf* armed = nullptr;
bool* lostFlag = nullptr;

extern "C" int connectionBroken(Display*) {
  if (lostFlag != nullptr) *lostFlag = true;
  if (armed != nullptr) siglongjmp(*armed, 1);
  return 0;  // outside the window's calls: Xlib ends the process, as it would have
}

// Runs `calls` (SDL calls only, no objects that need destroying) with the jump point armed.
template <class Calls>
void guarded(Calls calls) {
  sigjmp_buf here;
  if (sigsetjmp(here, 0) == 0) {
    armed = &here;
    calls();
  }
  armed = nullptr;
}

std::string displayName() {
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if (x != nullptr && *x != '\0') return std::string("DISPLAY=") + x;
  return std::string("WAYLAND_DISPLAY=") + (wayland != nullptr ? wayland : "");
}

}  // namespace

LiveWindow::~LiveWindow() {
  if (lostFlag == &lost_) lostFlag = nullptr;
  // A lost display cannot be closed politely; the process is ending anyway.
  if (lost_) return;
  guarded([this] {
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    if (videoUp_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  });
}

bool LiveWindow::open(int width, int height, std::string* error) {
  // The run's own handlers end it after the current frame; SDL's would turn Ctrl-C into a quit
  // event instead.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  const std::string prefix = "--show: no display to open a window on (";
  const std::string suffix = "); set DISPLAY or run without --show";
  // Without an X or Wayland display there is no window to be had; asking SDL would only make it
  // try a console's graphics or the Wayland library print complaints of its own.
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  if (!set("DISPLAY") && !set("WAYLAND_DISPLAY") && !set("SDL_VIDEODRIVER")) {
    *error = prefix + "neither DISPLAY nor WAYLAND_DISPLAY is set" + suffix;
    return false;
  }
  // Only drivers that show a window; otherwise a display that does not answer would end in SDL's
  // offscreen driver and be reported as that.
  if (!set("SDL_VIDEODRIVER")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,wayland");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    *error = prefix + displayName() + " does not answer: " + SDL_GetError() + suffix;
    return false;
  }
  videoUp_ = true;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver != nullptr &&
      (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0)) {
    *error =
        prefix + "SDL_VIDEODRIVER chose SDL's " + driver + " driver, which shows nothing" + suffix;
    return false;
  }
  // Scaled up as far as 90% of the display's width allows, up to 4 times.
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0) {
    scale_ = std::clamp(mode.w * 9 / 10 / width, 1, 4);
  }
  picture_ = Picture{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 3)};
  height += kControlLines * kBandHeight;
  window_ = SDL_CreateWindow("kinetiscan-play", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                             width * scale_, height * scale_, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) {
    *error = prefix + SDL_GetError() + suffix;
    return false;
  }
  SDL_SysWMinfo system;
  SDL_VERSION(&system.version);
  if (SDL_GetWindowWMInfo(window_, &system) == SDL_TRUE && system.subsystem == SDL_SYSWM_X11) {
    lostFlag = &lost_;
    XSetIOErrorHandler(connectionBroken);  // in place of SDL's, which only restores video modes
  }
  scaledWidth_ = width * scale_, scaledHeight_ = height * scale_;
  compose();
  return true;
}

void LiveWindow::show(const Picture& picture) {
  if (window_ == nullptr || lost_ || picture.width != picture_.width ||
      picture.height != picture_.height) {
    return;
  }
  picture_ = picture;
  compose();
}

void LiveWindow::setControls(const std::vector<std::string>& lines) {
  if (lines == controls_) return;
  controls_ = lines;
  if (window_ != nullptr && !lost_) compose();
}

void LiveWindow::compose() {
  static constexpr std::uint8_t kText[3] = {200, 200, 200};
  Picture whole{picture_.width, picture_.height + kControlLines * kBandHeight, picture_.rgb};
  whole.rgb.resize(std::size_t(whole.width) * whole.height * 3, 0);
  for (std::size_t i = 0; i < controls_.size() && i < kControlLines; ++i) {
    drawText(whole, 2, picture_.height + static_cast<int>(i) * kBandHeight + 1, controls_[i],
             kText);
  }
  scaled_ = scaledUp(whole, scale_).rgb;
  present();
}

void LiveWindow::present() {
  if (lost_) return;
  guarded([this] {
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (surface == nullptr || surface->w < scaledWidth_ || surface->h < scaledHeight_) return;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
    SDL_ConvertPixels(scaledWidth_, scaledHeight_, SDL_PIXELFORMAT_RGB24, scaled_.data(),
                      scaledWidth_ * 3, surface->format->format, surface->pixels, surface->pitch);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(window_);
  });
}

bool LiveWindow::closeAsked() {
  if (window_ == nullptr || lost_) return closeAsked_ = closeAsked_ || lost_;
  bool exposed = false;
  guarded([this, &exposed] {
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
      if (event.type == SDL_QUIT ||
          (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) ||
          (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)) {
        closeAsked_ = true;
      } else if (event.type == SDL_KEYDOWN && event.key.keysym.sym >= SDLK_SPACE &&
                 event.key.keysym.sym < SDLK_DELETE && keys_.size() < 256) {
        keys_.push_back(static_cast<char>(event.key.keysym.sym));
      } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) {
        exposed = true;
      }
    }
  });
  if (exposed) present();
  return closeAsked_ = closeAsked_ || lost_;
}

std::vector<char> LiveWindow::takeKeys() {
  std::vector<char> keys;
  keys.swap(keys_);
  return keys;
}

}  // namespace kinetiscan::play
