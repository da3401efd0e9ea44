// The library loaded, lived with and unloaded again as a host does over a long session: each
// cycle dlopens the plug-in, runs members in several casts, sprites, frames of any size, script
// calls and a driver that changes its mind, releases everything in the input's order and dlcloses
// it. Each cycle must start from load-time state and leave nothing of the library behind: no
// host reference, instance, window, window class or GDI object, and the library really unmapped.
//
// The library is loaded by the process for every cycle, so libFuzzer cannot see its coverage
// (see CMakeLists.txt); what it answered goes to libFuzzer's extra counters instead.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/queued_frames.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/values.h"
#include "host/world.h"
#include "testbed/control.h"

namespace kinetiscan::fuzz {
namespace {

constexpr const char* kLibrary = "libkinetiscan_reloadable.so";
constexpr int kMaxCycles = 3;
constexpr int kMaxSteps = 16;
constexpr std::size_t kMaxMembers = 3;
constexpr std::size_t kMaxActors = 3;
constexpr std::int32_t kSpriteNumber = 3;

// Operation and outcome of every call the cycle made, as features for libFuzzer.
__attribute__((section("__libfuzzer_extra_counters"))) std::uint8_t answers[64 * 8];

void count(int operation, Result result, int detail = 0) {
  const int outcome = result == kOk ? 0 : 1 + static_cast<int>(result & 3u);
  const int slot = (operation * 8 + outcome + detail * 5) % static_cast<int>(sizeof answers);
  if (answers[slot] != 255) ++answers[slot];
}

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "reload: %s\n", what.c_str());
  std::abort();
}

constexpr const char* kProperties[] = {"adaptivity",      "sensitivity", "mindensity", "loclist",
                                       "boundingboxlist", "cameraimage", "globsimage", "version"};
constexpr std::uint32_t kFrameSizes[] = {57600, 57599, 1, 0, 38400, 115200};

class Cycle {
 public:
  Cycle(host::Plugin& plugin, FuzzedDataProvider& input)
      : input_(input),
        host_(plugin),
        world_(host_),
        callback_(host_.ledger, kSpriteNumber),
        surface_(host_.ledger, 200, 150) {
    world_.movies.setSpriteColour(kSpriteNumber, 255, 0, 0);
    standin::installCamera(behaviour_, &frames_);
    windowsAtStart_ = standin::liveWindowCount();  // the host's own
  }

  ~Cycle() { standin::installCamera(camera::DriverBehaviour{}, nullptr); }

  void run() {
    for (int step = 0; step < kMaxSteps && input_.remaining_bytes() > 0; ++step) {
      const int operation = input_.ConsumeIntegralInRange(0, 9);
      switch (operation) {
        case 0:
          addCast();
          break;
        case 1:
          createMember();
          break;
        case 2:
          if (!members_.empty()) releaseMember(pickIndex(members_.size()));
          break;
        case 3:
          createActor();
          break;
        case 4:
          if (!actors_.empty()) releaseActor(pickIndex(actors_.size()));
          break;
        case 5:
          deliver();
          break;
        case 6:
          scriptCall();
          break;
        case 7:
          draw();
          break;
        case 8:
          changeDriver();
          break;
        default:
          world_.movies.closeMovies();
          break;
      }
    }
    // The host releases what is left in the order the input chose, as it tears a movie down.
    while (!actors_.empty() || !members_.empty()) {
      if (!actors_.empty() && (members_.empty() || input_.ConsumeBool())) {
        releaseActor(actors_.size() - 1);
      } else {
        releaseMember(pickIndex(members_.size()));
      }
    }
    world_.movies.closeMovies();
    check();
  }

 private:
  std::size_t pickIndex(std::size_t size) {
    return input_.ConsumeIntegralInRange<std::size_t>(0, size - 1);
  }

  // Movies and casts of any number of members of the type, so that the cast scan finds several
  // in one cast or one in each of several.
  void addCast() {
    const std::int32_t movie = world_.movies.addMovie();
    const int casts = input_.ConsumeIntegralInRange(1, 2);
    for (int c = 0; c < casts; ++c) {
      host::CastSetup cast;
      const int members = input_.ConsumeIntegralInRange(0, 3);
      for (int m = 0; m < members; ++m) {
        cast.members.push_back({m + 1, input_.ConsumeBool() ? "Kinetiscan" : "bitmap", false});
      }
      world_.movies.addCast(movie, std::move(cast));
    }
  }

  void createMember() {
    if (members_.size() >= kMaxMembers) return;
    InstanceHeader* instance = host_.createInstance(kCastMemberClassId);
    if (instance == nullptr) return count(1, host::kHostFailure);
    void* out = nullptr;
    const Result result =
        host_.plugin.getInterface(instance, &kCastMemberClassId, &kCastMemberInterfaceId, &out);
    host_.releaseInstance(instance);
    count(1, result, static_cast<int>(members_.size()));
    if (result != kOk || out == nullptr) return;
    auto* member = static_cast<CastMemberInterface*>(out);
    members_.push_back(member);
    if (!parametersTouched_) checkDefaults(member);
  }

  // A library loaded again knows nothing of the last cycle's settings.
  void checkDefaults(CastMemberInterface* member) {
    HostValue value{};
    const Result result =
        member->ops->getProperty(member, world_.values.symbol("adaptivity"), &value);
    const host::Value* read = world_.values.find(value);
    if (result != kOk || read == nullptr || read->real != 1000.0) {
      fail("a member of a freshly loaded library does not read adaptivity 1000");
    }
    world_.values.release(value);
  }

  void releaseMember(std::size_t index) {
    CastMemberInterface* member = members_[index];
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(index));
    count(2, member->ops->release(member) == 0 ? kOk : host::kHostFailure);
  }

  void createActor() {
    if (actors_.size() >= kMaxActors) return;
    void* out = nullptr;
    Result result = host::kHostFailure;
    if (!members_.empty() && input_.ConsumeBool()) {
      CastMemberInterface* member = members_[pickIndex(members_.size())];
      result = member->ops->newSpriteActor(member, &out);
    } else if (InstanceHeader* instance = host_.createInstance(kSpriteActorClassId)) {
      result =
          host_.plugin.getInterface(instance, &kSpriteActorClassId, &kSpriteActorInterfaceId, &out);
      host_.releaseInstance(instance);
    }
    count(3, result);
    if (result != kOk || out == nullptr) return;
    auto* actor = static_cast<SpriteActorInterface*>(out);
    actor->ops->setSpriteCallback(actor, &callback_);
    for (const char* name : {"view", "showboundingboxes", "showcenterpoints"}) {
      HostValue setting = world_.values.integer(input_.ConsumeIntegralInRange(0, 5));
      count(3, actor->ops->setProperty(actor, world_.values.symbol(name), &setting), 1);
      world_.values.release(setting);
    }
    actors_.push_back(actor);
  }

  void releaseActor(std::size_t index) {
    SpriteActorInterface* actor = actors_[index];
    actors_.erase(actors_.begin() + static_cast<std::ptrdiff_t>(index));
    count(4, actor->ops->release(actor) == 0 ? kOk : host::kHostFailure);
  }

  void deliver() {
    const int frames = input_.ConsumeIntegralInRange(1, 2);
    for (int i = 0; i < frames; ++i) {
      frames_.frames.emplace_back(camera::kFrameBytes, input_.ConsumeIntegral<std::uint8_t>());
    }
    const int delivered = standin::pumpFrames(frames);
    frames_.frames.clear();
    count(5, kOk, delivered);
  }

  void scriptCall() {
    if (members_.empty()) return;
    CastMemberInterface* member = members_[pickIndex(members_.size())];
    const char* name = input_.PickValueInArray(kProperties);
    HostValue value{};
    Result result;
    if (input_.ConsumeBool()) {
      result = member->ops->getProperty(member, world_.values.symbol(name), &value);
    } else {
      value = input_.ConsumeBool() ? world_.values.real(input_.ConsumeFloatingPoint<double>())
                                   : world_.values.integer(input_.ConsumeIntegral<std::int32_t>());
      result = member->ops->setProperty(member, world_.values.symbol(name), &value);
      parametersTouched_ = true;
    }
    if (world_.values.find(value) != nullptr) world_.values.release(value);
    count(6, result, static_cast<int>(name[0]));
  }

  void draw() {
    if (actors_.empty()) return;
    SpriteActorInterface* actor = actors_[pickIndex(actors_.size())];
    DrawRequest request{};
    request.top = input_.ConsumeIntegralInRange(-20, 60);
    request.left = input_.ConsumeIntegralInRange(-20, 60);
    request.bottom = request.top + input_.ConsumeIntegralInRange(0, 160);
    request.right = request.left + input_.ConsumeIntegralInRange(0, 200);
    request.level = input_.ConsumeIntegralInRange(0, 255);
    count(7, actor->ops->drawSprite(actor, &request, 0, &surface_));
    surface_.clearClip();
  }

  // The driver mid-session: frames of another size, one message refused from now on, or gone
  // (no more frames, no connection on the next open).
  void changeDriver() {
    switch (input_.ConsumeIntegralInRange(0, 2)) {
      case 0:
        behaviour_.frameBytes = input_.PickValueInArray(kFrameSizes);
        break;
      case 1:
        behaviour_.refusedMessage = input_.ConsumeIntegralInRange<std::uint32_t>(0x400, 0x4FF);
        break;
      default:
        behaviour_.installed = false;
        standin::installCamera(behaviour_, nullptr);
        return;
    }
    standin::installCamera(behaviour_, &frames_);
  }

  void check() {
    std::vector<std::string> found = host_.ledger.imbalances();
    if (world_.values.liveValues() != 0) found.push_back("values not released");
    if (host_.liveInstances() != 0) found.push_back("instances alive");
    if (host_.allocator.outstanding() != 0) found.push_back("host blocks not freed");
    if (host_.plugin.canUnloadNow() != kOk) found.push_back("library still in use");
    if (standin::liveWindowCount() != windowsAtStart_) found.push_back("windows left");
    WNDCLASSA attributes{};
    if (standin::windowClass("VideoCapWindow", &attributes)) found.push_back("class left");
    for (const std::string& line : found) std::fprintf(stderr, "left over: %s\n", line.c_str());
    if (!found.empty()) std::abort();
  }

  FuzzedDataProvider& input_;
  host::Host host_;
  host::World world_;
  host::SpriteCallback callback_;
  host::Surface surface_;
  camera::DriverBehaviour behaviour_;
  host::QueuedFrames frames_;
  std::vector<CastMemberInterface*> members_;
  std::vector<SpriteActorInterface*> actors_;
  bool parametersTouched_ = false;
  int windowsAtStart_ = 0;
};

}  // namespace
}  // namespace kinetiscan::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan;
  FuzzedDataProvider input(data, size);
  standin::resetForTest();
  int gdiAtStart = 0;
  standin::liveGdiObjectCount(&gdiAtStart);
  for (int cycle = 0; cycle < fuzz::kMaxCycles && input.remaining_bytes() > 0; ++cycle) {
    std::string error;
    std::unique_ptr<host::Plugin> plugin = host::Plugin::load(&error, fuzz::kLibrary);
    if (plugin == nullptr) fuzz::fail(error);
    const standin::LibraryRange range =
        standin::libraryRange(static_cast<HMODULE>(plugin->module()));
    fuzz::Cycle(*plugin, input).run();
    int gdi = 0;
    if (standin::liveGdiObjectCount(&gdi) && gdi != gdiAtStart) fuzz::fail("GDI objects left");
    if (standin::liveWindowCount() != 0) fuzz::fail("windows left after the host went");
    plugin.reset();  // dlclose
    // Unloaded means unmapped: its address range is free to take.
    if (!standin::reserveRange(range)) fuzz::fail("the library stayed mapped after dlclose");
    standin::releaseRange(range);
  }
  return 0;
}
