// The soak: a million frames (by default) of a synthetic scene through the capture session, with
// script calls and sprite drawing in between, reporting resident memory after a warm-up and at
// the end. Exits 1 when memory grew or anything was left over.
//   kinetiscan-soak [--frames N]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "camera/synthetic_scene.h"
#include "host/rig.h"
#include "host/values.h"

namespace kinetiscan {
namespace {

constexpr long kBatch = 100;             // frames between rounds of script calls and drawing
constexpr long kWarmUp = 2000;           // frames before the first memory reading
constexpr long kAllowedGrowthKb = 1024;  // allocator noise, far below one frame buffer per batch

long residentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// One round of what a script and the stage do between frames.
void scriptRound(host::Rig& rig, CastMemberInterface* member, SpriteActorInterface* actor,
                 long round) {
  host::Values& values = rig.world->values;
  for (const char* name : {"loclist", "boundingboxlist", "cameraimage", "globsimage"}) {
    rig.getProperty(member, name);
  }
  rig.callMethod(member, "trackcolor", {values.colour(250, 240, 230), values.integer(30)});
  rig.callMethod(member, "differenceblock", {values.rect({0, 0, 120, 160})});
  rig.setProperty(member, "sensitivity", values.real(round % 2 == 0 ? 0.4 : 0.5));
  HostValue view = values.integer(static_cast<std::int32_t>(1 + round % 4));
  actor->ops->setProperty(actor, values.symbol("view"), &view);
  rig.dropResult(view);
  DrawRequest request{};
  request.top = 10, request.left = 20, request.bottom = 130, request.right = 180;
  request.level = static_cast<std::int32_t>(round % 256);
  rig.drawSprite(actor, request);
  const HostRect rect{0, 0, 120, 160};
  member->ops->drawMemberPreview(member, rig.surface.get(), &rect);
  rig.surface->clearClip();
  if (round % 500 == 0) rig.callMethod(member, "adapt", {});
}

}  // namespace
}  // namespace kinetiscan

int main(int argc, char** argv) {
  using namespace kinetiscan;
  long frames = 1000000;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::strtol(argv[++i], nullptr, 10);
    } else {
      std::fprintf(stderr, "usage: %s [--frames N]\n", argv[0]);
      return 2;
    }
  }
  if (frames < kWarmUp + kBatch) frames = kWarmUp + kBatch;

  long startKb = -1, delivered = 0, rounds = 0;
  {
    host::Rig rig;
    rig.addOurCast();
    CastMemberInterface* member = rig.createMember();
    SpriteActorInterface* actor = rig.createActor();
    if (member == nullptr || actor == nullptr) return 1;
    camera::SceneOptions options;
    options.lightingChangeAt = 50000;
    camera::SyntheticScene scene(options);
    while (delivered < frames) {
      std::vector<camera::Frame> batch(kBatch);
      for (camera::Frame& frame : batch) scene.next(frame);
      const int got = rig.deliver(std::move(batch));
      if (got == 0) {
        std::printf("soak: FAILED, capture stopped delivering frames\n");
        return 1;
      }
      delivered += got;
      scriptRound(rig, member, actor, rounds++);
      // The stand-in keeps a record of every capture message; it is the test's, not ours.
      standin::clearCaptureRecord();
      if (startKb < 0 && delivered >= kWarmUp) startKb = residentKb();
    }
    const long endKb = residentKb();
    std::printf("soak: %ld frames, %ld rounds of script calls and drawing\n", delivered, rounds);
    std::printf("soak: resident memory %ld kB after %ld frames, %ld kB at the end\n", startKb,
                kWarmUp, endKb);
    const std::vector<std::string> leftovers = rig.leftovers();
    for (const std::string& leftover : leftovers) std::printf("left over: %s\n", leftover.c_str());
    if (!leftovers.empty() || endKb - startKb > kAllowedGrowthKb) {
      std::printf("soak: FAILED\n");
      return 1;
    }
  }
  std::printf("soak: passed\n");
  return 0;
}
