// The whole road of a frame through the plug-in as a host drives it, for timing: the host's stage
// (one movie whose cast holds a Kinetiscan member with capture open, four sprite actors showing
// views 1-4 with region outlines and centre crosses on a 640x120 stage surface) and a script's
// reads. Shared by the native benchmark (plug-in linked in) and kinetiscan-roadtime (the shipped
// library loaded by file, on both targets).
#pragma once

#include <memory>

#include "camera/frame_source.h"
#include "host/plugin.h"
#include "host/stage_session.h"

namespace kinetiscan::road {

struct MemberSettings {
  float adaptivity = 1000.0f;
  float sensitivity = 0.5f;
  std::int32_t mindensity = 100;
};

// Whether the simulated driver keeps the 50 ms preview rate (under Wine a real window timer) or
// delivers each frame as soon as the message loop asks for it. A paced driver lets the processor
// idle between frames, and its caches, clock and vector units are then cold when a frame comes:
// that costs a timed frame as much as the analysis itself, and is none of the plug-in's doing.
enum class Pacing { BackToBack, PreviewRate };

class Session {
 public:
  // The first frame of `camera` becomes the background. Check ready() before use.
  Session(std::unique_ptr<host::Plugin> plugin, camera::FrameSource& camera,
          const MemberSettings& settings, Pacing pacing = Pacing::BackToBack);

  bool ready() const { return ready_; }
  // The driver delivers one frame: its callback copies it, runs the cast scan and the analysis.
  // False when no frame came.
  bool deliverFrame() { return stage_.deliverFrame(); }
  // Every sprite draws; each panel is stale after a frame, so each renders first.
  void drawSprites() { stage_.drawSprites(); }
  // Reads the member's property as a script would and gives the value back.
  void read(const char* name) { stage_.readProperty(name); }

 private:
  host::StageSession stage_;
  bool ready_ = false;
};

}  // namespace kinetiscan::road
