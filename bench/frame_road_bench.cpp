// The whole road of one frame through the plug-in, as a host drives it: the capture driver
// delivers the frame (onFrame, the cast scan and the analysis), four sprites showing views 1-4
// with outlines and centre crosses draw with every panel stale, and a script reads "loclist",
// "boundingboxlist" and one image. Everything goes through the exports and the operation tables
// over the simulated host; only the linking is static.
#include <cstddef>
#include <memory>
#include <vector>

#include "bench_registry.h"
#include "camera/frame_source.h"
#include "host/host.h"
#include "host/linked_plugin.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/world.h"
#include "testbed/control.h"

namespace kinetiscan::bench {

namespace {

// The scene's background once, then its frames in a loop for as long as the benchmark runs.
class LoopedScene : public camera::FrameSource {
 public:
  explicit LoopedScene(const Scene& scene) : scene_(scene) {}
  bool next(camera::Frame& frame) override {
    if (!startedLoop_) {
      frame = scene_.background;
      startedLoop_ = true;
      return true;
    }
    frame = scene_.frames[index_];
    index_ = index_ + 1 == scene_.frames.size() ? 0 : index_ + 1;
    return true;
  }

 private:
  const Scene& scene_;
  bool startedLoop_ = false;
  std::size_t index_ = 0;
};

constexpr int kViews = 4;
constexpr int kPanelWidth = 160;
constexpr int kPanelHeight = 120;

// A host with one movie whose cast holds the member, the member with capture open, and four
// sprite actors on a stage surface; torn down in the order a host would.
class Session {
 public:
  explicit Session(const Scene& scene)
      : plugin_(host::linkedPlugin()),
        host_(*plugin_),
        world_(host_),
        camera_(scene),
        stage_(host_.ledger, kViews * kPanelWidth, kPanelHeight) {
    world_.movies.addCast(world_.movies.addMovie(),
                          host::CastSetup{{{1, "Kinetiscan"}}, {}, false});
    standin::installCamera(camera::DriverBehaviour{}, &camera_);
    member_ = makeInterface<CastMemberInterface>(kCastMemberClassId, kCastMemberInterfaceId);
    if (member_ == nullptr) return;
    setMember("adaptivity", world_.values.real(scene.adaptivity));
    setMember("sensitivity", world_.values.real(scene.sensitivity));
    setMember("mindensity", world_.values.integer(scene.mindensity));
    for (std::int32_t view = 1; view <= kViews; ++view) addSprite(view);
    // The background frame arrives first and becomes the retina.
    standin::pumpFrames(1);
    HostValue unused{};
    HostValue arguments[1]{};
    member_->ops->callMethod(member_, world_.values.symbol("adapt"), 1, arguments, &unused);
  }

  ~Session() {
    for (SpriteActorInterface* sprite : sprites_) sprite->ops->release(sprite);
    if (member_ != nullptr) member_->ops->release(member_);
    standin::installCamera(camera::DriverBehaviour{}, nullptr);
    world_.movies.closeMovies();
  }

  bool ready() const { return member_ != nullptr && sprites_.size() == kViews; }

  void deliverFrame() { standin::pumpFrames(1); }

  void drawSprites() {
    for (int i = 0; i < kViews; ++i) {
      DrawRequest request{};
      request.left = i * kPanelWidth;
      request.right = request.left + kPanelWidth;
      request.bottom = kPanelHeight;
      sprites_[i]->ops->drawSprite(sprites_[i], &request, 0, &stage_);
    }
  }

  // Reads the property as a script would and gives the value back.
  void read(const char* name) {
    HostValue out{};
    member_->ops->getProperty(member_, world_.values.symbol(name), &out);
    world_.values.release(out);
  }

 private:
  template <class Interface>
  Interface* makeInterface(const Guid& classId, const Guid& interfaceId) {
    InstanceHeader* instance = host_.createInstance(classId);
    if (instance == nullptr) return nullptr;
    void* out = nullptr;
    const Result result = plugin_->getInterface(instance, &classId, &interfaceId, &out);
    host_.releaseInstance(instance);
    return result == kOk ? static_cast<Interface*>(out) : nullptr;
  }

  void setMember(const char* name, HostValue value) {
    member_->ops->setProperty(member_, world_.values.symbol(name), &value);
    world_.values.release(value);
  }

  void addSprite(std::int32_t view) {
    void* out = nullptr;
    if (member_->ops->newSpriteActor(member_, &out) != kOk || out == nullptr) return;
    auto* sprite = static_cast<SpriteActorInterface*>(out);
    sprites_.push_back(sprite);
    world_.movies.setSpriteColour(view, 255, 0, 0);
    callbacks_.push_back(std::make_unique<host::SpriteCallback>(host_.ledger, view));
    sprite->ops->setSpriteCallback(sprite, callbacks_.back().get());
    for (const char* name : {"view", "showboundingboxes", "showcenterpoints"}) {
      HostValue value = world_.values.integer(name[0] == 'v' ? view : 1);
      sprite->ops->setProperty(sprite, world_.values.symbol(name), &value);
      world_.values.release(value);
    }
  }

  std::unique_ptr<host::Plugin> plugin_;
  host::Host host_;
  host::World world_;
  LoopedScene camera_;
  host::Surface stage_;
  CastMemberInterface* member_ = nullptr;
  std::vector<SpriteActorInterface*> sprites_;
  std::vector<std::unique_ptr<host::SpriteCallback>> callbacks_;
};

// What one iteration does besides delivering the frame.
enum Parts : unsigned { kFrameOnly = 0, kDraws = 1, kReads = 2, kWholeRoad = kDraws | kReads };

template <unsigned kParts>
void frameRoad(benchmark::State& bench, const Scene& scene) {
  Session session(scene);
  if (!session.ready()) {
    bench.SkipWithError("the plug-in did not make its member and sprites");
    return;
  }
  for (auto _ : bench) {
    session.deliverFrame();
    if constexpr ((kParts & kDraws) != 0) session.drawSprites();
    if constexpr ((kParts & kReads) != 0) {
      session.read("loclist");
      session.read("boundingboxlist");
      session.read("differenceimage");
    }
  }
}

[[maybe_unused]] const bool registered = registerPerScene("road", &frameRoad<kWholeRoad>);

// The road of the discs scene in parts: the frame alone, with the draws, with the reads.
void registerParts() {
  const Scene& discs = sceneNamed("discs");
  benchmark::RegisterBenchmark("road-frame/discs", &frameRoad<kFrameOnly>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("road-frame+draws/discs", &frameRoad<kDraws>, discs)
      ->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("road-frame+reads/discs", &frameRoad<kReads>, discs)
      ->Unit(benchmark::kMicrosecond);
}

[[maybe_unused]] const bool partsRegistered = (registerParts(), true);

}  // namespace
}  // namespace kinetiscan::bench
