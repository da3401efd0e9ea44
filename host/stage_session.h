// The stage a host shows the sensor on: one movie whose cast holds one member of the type, the
// member with capture open over a camera, and four sprite actors showing views 1-4 with region
// outlines and centre crosses on a 640x120 stage surface. kinetiscan-play and the road benchmark
// drive the plug-in through it, reaching it only through the five exports and the tables.
#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "camera/capture_device.h"
#include "camera/frame_source.h"
#include "host/host.h"
#include "host/member_services.h"
#include "host/plugin.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/world.h"

namespace kinetiscan::host {

struct StageSetup {
  std::string memberType = "Kinetiscan";  // the symbol the cast holds the member under
  std::array<ColourRecord, 4> colours{};  // each sprite's, in which it draws its overlays
  bool assetCallback = false;             // hand the member an asset callback, as an editor does
  camera::DriverBehaviour driver{};       // how the simulated driver behind the camera behaves
};

class StageSession {
 public:
  static constexpr int kViews = 4;

  explicit StageSession(std::unique_ptr<Plugin> plugin);
  ~StageSession();
  StageSession(const StageSession&) = delete;
  StageSession& operator=(const StageSession&) = delete;

  // Asks the registration interface to register the type; false with the reason unless it wrote
  // `symbol` as the type's.
  bool registerType(const std::string& symbol, std::string* error);
  // The movie and the member over `camera` (which must outlive the session). `configure` runs
  // between the member's creation and the sprites', where a host sets the member's properties.
  template <class Configure>
  bool open(camera::FrameSource* camera, const StageSetup& setup, Configure configure,
            std::string* error) {
    return openMember(camera, setup, error) && (configure(), true) && openSprites(setup, error);
  }

  // The driver delivers one frame: its callback copies it, runs the cast scan and the analysis.
  bool deliverFrame();
  // Every sprite draws into its panel of the stage, fully opaque.
  void drawSprites();
  Surface& stage() { return *stage_; }
  World& world() { return *world_; }

  // The member's property set or read as a script would; the value given is released.
  Result setProperty(const char* name, HostValue value);
  std::optional<Value> getProperty(const char* name, Result* result);
  // Reads it and gives the value back unseen, as a timed script read does.
  Result readProperty(const char* name);
  // A method called as a script would, `arguments` released after; its result left in `result`.
  Result callMethod(const char* name, std::vector<HostValue> arguments, HostValue* result);

  // Everything released, sprites first; the host's references not given back.
  std::vector<std::string> finish();

 private:
  bool openMember(camera::FrameSource* camera, const StageSetup& setup, std::string* error);
  bool openSprites(const StageSetup& setup, std::string* error);

  std::unique_ptr<Plugin> plugin_;
  std::unique_ptr<Host> host_;
  std::unique_ptr<World> world_;
  std::unique_ptr<AssetCallback> assetCallback_;
  std::vector<std::unique_ptr<SpriteCallback>> spriteCallbacks_;
  std::unique_ptr<Surface> stage_;
  CastMemberInterface* member_ = nullptr;
  std::vector<SpriteActorInterface*> sprites_;
  bool finished_ = false;
};

}  // namespace kinetiscan::host
