// The --show window over SDL2's window surface: no renderer, so it works on any X server, Xvfb
// included, and what is on screen is exactly the picture scaled up.
#include "live_window.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "stage_labels.h"

namespace kinetiscan::play {

LiveWindow::~LiveWindow() {
  if (window_ != nullptr) SDL_DestroyWindow(window_);
  if (videoUp_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
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
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    *error = prefix + SDL_GetError() + suffix;
    return false;
  }
  videoUp_ = true;
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver != nullptr &&
      (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0)) {
    *error = prefix + "SDL's " + driver + " video driver shows nothing" + suffix;
    return false;
  }
  // Scaled up as far as 90% of the display's width allows, up to 4 times.
  SDL_DisplayMode mode;
  if (SDL_GetDesktopDisplayMode(0, &mode) == 0 && mode.w > 0) {
    scale_ = std::clamp(mode.w * 9 / 10 / width, 1, 4);
  }
  window_ = SDL_CreateWindow("kinetiscan-play", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                             width * scale_, height * scale_, SDL_WINDOW_SHOWN);
  if (window_ == nullptr) {
    *error = prefix + SDL_GetError() + suffix;
    return false;
  }
  scaledWidth_ = width * scale_, scaledHeight_ = height * scale_;
  scaled_.assign(std::size_t(scaledWidth_) * scaledHeight_ * 3, 0);
  present();
  return true;
}

void LiveWindow::show(const Picture& picture) {
  if (window_ == nullptr || picture.width * scale_ != scaledWidth_ ||
      picture.height * scale_ != scaledHeight_) {
    return;
  }
  scaled_ = scaledUp(picture, scale_).rgb;
  present();
}

void LiveWindow::present() {
  SDL_Surface* surface = SDL_GetWindowSurface(window_);
  if (surface == nullptr || surface->w < scaledWidth_ || surface->h < scaledHeight_) return;
  if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return;
  SDL_ConvertPixels(scaledWidth_, scaledHeight_, SDL_PIXELFORMAT_RGB24, scaled_.data(),
                    scaledWidth_ * 3, surface->format->format, surface->pixels, surface->pitch);
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  SDL_UpdateWindowSurface(window_);
}

bool LiveWindow::closeAsked() {
  if (window_ == nullptr) return closeAsked_;
  SDL_Event event;
  while (SDL_PollEvent(&event) != 0) {
    if (event.type == SDL_QUIT ||
        (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE) ||
        (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE)) {
      closeAsked_ = true;
    } else if (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_EXPOSED) {
      present();
    }
  }
  return closeAsked_;
}

}  // namespace kinetiscan::play
