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
#include "host/linked_plugin.h"
#include "road_session.h"

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

// What one iteration does besides delivering the frame.
enum Parts : unsigned { kFrameOnly = 0, kDraws = 1, kReads = 2, kWholeRoad = kDraws | kReads };

template <unsigned kParts>
void frameRoad(benchmark::State& bench, const Scene& scene) {
  LoopedScene camera(scene);
  road::Session session(
      host::linkedPlugin(), camera,
      road::MemberSettings{scene.adaptivity, scene.sensitivity, scene.mindensity});
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
