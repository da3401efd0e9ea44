// kinetiscan-play as the plug-in's host: loads libkinetiscan.so, registers it, opens a movie
// whose cast holds one member of the type, makes the member and four sprite actors showing the
// four views with outlines and centre crosses, and then, frame by frame, lets the camera deliver,
// reads what scripts would read, makes the script calls and draws the stage. It reaches the
// plug-in only through the five exports and the operation tables.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/frame_source.h"
#include "host/stage_session.h"
#include "options.h"
#include "track_log.h"

namespace kinetiscan::play {

constexpr int kStageWidth = 4 * camera::kWidth;
constexpr int kStageHeight = camera::kHeight;

// Sprite numbers 1-4 show views 1-4: camera, retina, difference, globs. Each draws its overlays
// in its sprite's colour, picked to stand out on that view.
constexpr const char* kViewNames[4] = {"camera", "retina", "difference", "globs"};
constexpr ColourRecord kViewColours[4] = {
    {255, 255, 0, 0}, {255, 255, 0, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};

// What the member reports about itself and its parameters.
struct MemberFacts {
  std::string registeredSymbol;
  std::string version;
  double adaptivity = 0;
  double sensitivity = 0;
  std::int32_t mindensity = 0;
};

class PluginSession {
 public:
  PluginSession();
  ~PluginSession();
  PluginSession(const PluginSession&) = delete;
  PluginSession& operator=(const PluginSession&) = delete;

  // The camera must outlive the session.
  bool start(camera::FrameSource* camera, const PlayOptions& options, std::string* error);
  // Lets the capture driver deliver one frame; false when the camera has no more.
  bool deliverFrame();
  // "loclist" and "boundingboxlist" as a script reads them; false with the reason otherwise.
  bool readRegions(std::vector<HostPoint>* centres, std::vector<HostRect>* rects,
                   std::string* error);
  CallRecord call(const ScriptCall& call);
  // Sets "sensitivity", "adaptivity" (floats) or "mindensity" (an integer) as a script would; the
  // record's value is what the member answers when asked for it again.
  CallRecord set(const std::string& property, double value);
  // Draws the four sprites side by side; the stage as GetDIBits gives it.
  std::vector<std::uint8_t> drawStage();
  MemberFacts facts();
  // Sets the member's "adaptivity" as a script would.
  void setAdaptivity(double adaptivity);
  // The preview rate the plug-in asked the capture driver for, in milliseconds; 0 if none.
  int previewRateMs() const;
  // Interfaces the host handed out and did not get back, once everything is released.
  std::vector<std::string> finish();

 private:
  // The symbol the plug-in registers its type under, which the cast holds the member by.
  static constexpr const char* kRegisteredSymbol = "Kinetiscan";

  Result setMemberProperty(const char* name, HostValue value);
  std::optional<host::Value> getMemberProperty(const char* name, Result* result);
  HostValue makeArgument(const ScriptArgument& argument);

  std::unique_ptr<host::StageSession> stage_;
};

}  // namespace kinetiscan::play
