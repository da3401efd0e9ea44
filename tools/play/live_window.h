// The live window of --show (SDL2): the labelled stage scaled up as far as the display allows,
// redrawn after every frame, with lines of the run's controls below it (never in the files).
// Escape or closing the window asks the run to stop; other keys are kept for the run's controls.
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

  // Rows of controls text under each picture.
  static constexpr int kControlLines = 2;

  // A window for pictures of width x height, and the control lines below. False with one line
  // saying why when there is no display to open it on.
  bool open(int width, int height, std::string* error);
  bool isOpen() const { return window_ != nullptr; }
  // Shows a picture of the size given to open, above the control lines.
  void show(const Picture& picture);
  // Replaces the control lines (values, the key legend), redrawing at once when they changed:
  // a paused run shows its changes without new pictures.
  void setControls(const std::vector<std::string>& lines);
  // Handles what happened to the window since the last call; true once Escape was pressed or the
  // window was closed.
  bool closeAsked();
  // The keys pressed since the last call, as their characters ('b', ' ', '2'); held keys repeat.
  // Keys without a character are not kept.
  std::vector<char> takeKeys();
  // Whether the display went away (the X server ended, the window was killed); closeAsked() is
  // then true and nothing more is drawn.
  bool displayLost() const { return lost_; }
  int scale() const { return scale_; }

 private:
  void compose();
  void present();

  SDL_Window* window_ = nullptr;
  bool videoUp_ = false;
  bool closeAsked_ = false;
  bool lost_ = false;  // written by Xlib's handler through its address
  int scale_ = 1;
  Picture picture_;
  std::vector<std::string> controls_;
  std::vector<char> keys_;
  std::vector<std::uint8_t> scaled_;
  int scaledWidth_ = 0, scaledHeight_ = 0;
};

}  // namespace kinetiscan::play
