// The live window of --show (SDL2): the labelled stage scaled up as far as the display allows,
// redrawn after every frame. Escape or closing the window asks the run to stop.
#pragma once

#include <string>
#include <vector>

#include "picture_writers.h"

struct SDL_Window;

namespace kinetiscan::play {

class LiveWindow {
 public:
  LiveWindow() = default;
  ~LiveWindow();
  LiveWindow(const LiveWindow&) = delete;
  LiveWindow& operator=(const LiveWindow&) = delete;

  // A window for pictures of width x height. False with one line saying why when there is no
  // display to open it on.
  bool open(int width, int height, std::string* error);
  bool isOpen() const { return window_ != nullptr; }
  // Shows a picture of the size given to open.
  void show(const Picture& picture);
  // Handles what happened to the window since the last call; true once Escape was pressed or the
  // window was closed.
  bool closeAsked();
  // Whether the display went away (the X server ended, the window was killed); closeAsked() is
  // then true and nothing more is drawn.
  bool displayLost() const { return lost_; }
  int scale() const { return scale_; }

 private:
  void present();

  SDL_Window* window_ = nullptr;
  bool videoUp_ = false;
  bool closeAsked_ = false;
  bool lost_ = false;  // written by Xlib's handler through its address
  int scale_ = 1;
  std::vector<std::uint8_t> scaled_;
  int scaledWidth_ = 0, scaledHeight_ = 0;
};

}  // namespace kinetiscan::play
