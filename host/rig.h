// A whole simulated host around the plug-in, for the fuzz targets and their corpus replays, the
// fault sweep, the soak and the benchmarks: every service offered, a camera whose frames the caller
// queues, and the books every run must end with balanced. Module state goes back to load time
// between runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/member_services.h"
#include "host/queued_frames.h"
#include "host/registry.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/world.h"
#include "testbed/control.h"

namespace kinetiscan::host {

struct Value;

// Restores the load-time state of every module-wide struct of the plug-in and of the stand-in.
// Natively, for the linked-in plug-in.
void resetPluginForTest();

// Where a rig's plug-in comes from, and how it goes back to load time between runs.
struct PluginSource {
  std::unique_ptr<Plugin> (*open)();
  // Restores the module's state in place; null: the library is unloaded and loaded again.
  void (*backToLoadTime)();
};
// Natively: the plug-in linked into the program, reset through its test hooks.
PluginSource linkedInPlugin();
// The library file built beside the program, loaded as a host loads it (Kinetiscan.x32 under
// Wine): each reset unloads it and loads it again.
PluginSource pluginFile();

class Rig {
 public:
  // Natively only: the linked-in plug-in.
  explicit Rig(const camera::DriverBehaviour& behaviour = {});
  Rig(const camera::DriverBehaviour& behaviour, PluginSource source);
  ~Rig();
  Rig(const Rig&) = delete;
  Rig& operator=(const Rig&) = delete;

  // Back to the state of a new rig without building a new host: every interface released, a new
  // world of movies, values and windows, the plug-in and the stand-in at load time, every
  // answer and refusal of the host's objects at its default. For callers that run many short
  // sessions (the fuzz targets), where building the host would cost more than the session.
  void reset();

  // Interfaces the rig keeps until released here or by releaseAll. Null when the plug-in or the
  // host refused.
  CastMemberInterface* createMember();
  SpriteActorInterface* createActor();
  RegistrarInterface* createRegistrar();
  void releaseMember(std::size_t index);
  void releaseActor(std::size_t index);
  void releaseAll();

  // One movie with one cast holding a member of the type, as a host shows a member in use.
  void addOurCast();
  // Queues and delivers frames; the number delivered.
  int deliver(std::vector<camera::Frame> frames);
  // Releases a value the plug-in wrote, if it wrote one.
  void dropResult(const HostValue& value);

  Result getProperty(CastMemberInterface* member, const char* name);
  // The value is released after the call.
  Result setProperty(CastMemberInterface* member, const char* name, HostValue value);
  // Argument 0 is the member itself; the others are released after the call.
  Result callMethod(CastMemberInterface* member, const char* name, std::vector<HostValue> values);
  Result drawSprite(SpriteActorInterface* actor, const DrawRequest& request);

  // Releases every interface, then lists everything left over: ledger faults and imbalances,
  // live values (unless not judged), instances, windows and GDI objects beyond those at start.
  // Empty when all balance.
  std::vector<std::string> leftovers(bool judgeValues = true);

  // When on, every answer of the plug-in through the calls above (result codes, and the content
  // of every value it wrote and dropResult releases) folds into `journal`, an FNV-1a hash that
  // reset() starts again: corpus replays compare it across targets.
  bool journalling = false;
  std::uint64_t journal = kJournalStart;
  static constexpr std::uint64_t kJournalStart = 14695981039346656037ull;
  void note(const void* data, std::size_t size);

  camera::DriverBehaviour behaviour;
  QueuedFrames frames;
  std::unique_ptr<Plugin> plugin;
  std::unique_ptr<Host> host;
  std::unique_ptr<World> world;
  std::unique_ptr<AssetCallback> assetCallback;
  std::unique_ptr<SpriteCallback> spriteCallback;
  std::unique_ptr<Registry> registry;
  std::unique_ptr<Surface> surface;
  std::vector<CastMemberInterface*> members;
  std::vector<SpriteActorInterface*> actors;
  std::vector<RegistrarInterface*> registrars;

 private:
  template <class Interface>
  Interface* make(const Guid& classId, const Guid& interfaceId);
  // Everything a new rig builds, and its undoing in reverse, the plug-in last.
  void open();
  void close();
  void noteValue(const Value& value);
  PluginSource source_;
  // A world (made if there is none) with the sprite's colour, and the counts leftovers() judges by.
  void startWorld();
  camera::DriverBehaviour initialBehaviour_;
  int windowsAtStart_ = 0;
  int gdiAtStart_ = 0;
};

}  // namespace kinetiscan::host
