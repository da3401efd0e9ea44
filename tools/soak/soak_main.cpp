// The soak: a million frames (by default) of a synthetic scene through the capture session, with
// script calls, colour tracking and sprite drawing in between, and optionally the plug-in taken
// back to load time every so often: natively through its test hooks, under Wine by unloading
// Kinetiscan.x32 and loading it again, as a host does. Reports resident memory, the bytes in use on
// the heaps and the host's reference ledger after a warm-up and at the end. Exits 1 when memory
// grew, a cycle or the end left anything over, or frames stopped coming.
//   kinetiscan-soak [--frames N] [--reloads N] [--trace]   (--trace: memory after every reload)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera/synthetic_scene.h"
#include "host/rig.h"
#include "host/values.h"

#if defined(_WIN32)
#include <psapi.h>
#else
#include <malloc.h>

#include <fstream>
#endif

namespace kinetiscan {
namespace {

constexpr long kBatch = 100;             // frames between rounds of script calls and drawing
constexpr long kWarmUp = 2000;           // frames before the first memory reading
constexpr long kAllowedGrowthKb = 1024;  // allocator noise, far below one frame buffer per batch

#if defined(_WIN32)
// Bytes in use on every heap of the process: ours, the C runtime's and the system's own.
long heapBusyKb() {
  HANDLE heaps[64];
  const DWORD count = GetProcessHeaps(64, heaps);
  unsigned long long busy = 0;
  for (DWORD i = 0; i < count && i < 64; ++i) {
    if (!HeapLock(heaps[i])) continue;
    PROCESS_HEAP_ENTRY entry{};
    while (HeapWalk(heaps[i], &entry)) {
      if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
    }
    HeapUnlock(heaps[i]);
  }
  return static_cast<long>(busy / 1024);
}
#else
// The C library's count of bytes handed out and not given back.
long heapBusyKb() { return static_cast<long>(mallinfo2().uordblks / 1024); }
#endif

long residentKb() {
#if defined(_WIN32)
  PROCESS_MEMORY_COUNTERS counters{};
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<long>(counters.WorkingSetSize / 1024);
#else
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
#endif
}

// One round of what a script and the stage do between frames.
void scriptRound(host::Rig& rig, CastMemberInterface* member, SpriteActorInterface* actor,
                 long round) {
  host::Values& values = rig.world->values;
  for (const char* name : {"loclist", "boundingboxlist", "cameraimage", "globsimage"}) {
    rig.getProperty(member, name);
  }
  rig.callMethod(member, "trackcolor", {values.colour(250, 240, 230), values.integer(30)});
  rig.callMethod(member, "trackcolorbounds", {values.colour(40, 60, 200), values.integer(40)});
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

struct Session {
  CastMemberInterface* member = nullptr;
  SpriteActorInterface* actor = nullptr;
};

Session startSession(host::Rig& rig) {
  rig.addOurCast();
  return Session{rig.createMember(), rig.createActor()};
}

bool reportLeftovers(host::Rig& rig, const char* when) {
  const std::vector<std::string> leftovers = rig.leftovers();
  for (const std::string& leftover : leftovers) {
    std::printf("left over %s: %s\n", when, leftover.c_str());
  }
  return leftovers.empty();
}

}  // namespace
}  // namespace kinetiscan

int main(int argc, char** argv) {
  using namespace kinetiscan;
  long frames = 1000000, reloads = 0;
  bool trace = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
      frames = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--reloads") == 0 && i + 1 < argc) {
      reloads = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--trace") == 0) {
      trace = true;
    } else {
      std::fprintf(stderr, "usage: %s [--frames N] [--reloads N] [--trace]\n", argv[0]);
      return 2;
    }
  }
  if (frames < kWarmUp + kBatch) frames = kWarmUp + kBatch;
  if (reloads < 0) reloads = 0;
  // Cycles fall on batch boundaries, evenly over the frames after the warm-up.
  const long batchesPerReload =
      reloads > 0 ? std::max(1L, (frames - kWarmUp) / kBatch / (reloads + 1)) : 0;

  long startKb = -1, startHeapKb = -1, delivered = 0, rounds = 0, cycles = 0;
  std::int64_t startHeld = 0;
  {
#if defined(_WIN32)
    camera::DriverBehaviour unpaced;  // frames as fast as they are taken
    unpaced.keepsPreviewRate = false;
    host::Rig rig(unpaced, host::pluginFile());
#else
    host::Rig rig;
#endif
    Session session = startSession(rig);
    if (session.member == nullptr || session.actor == nullptr) return 1;
    camera::SceneOptions options;
    options.lightingChangeAt = 50000;
    camera::SyntheticScene scene(options);
    long batches = 0;
    while (delivered < frames) {
      std::vector<camera::Frame> batch(kBatch);
      for (camera::Frame& frame : batch) scene.next(frame);
      const int got = rig.deliver(std::move(batch));
      if (got == 0) {
        std::printf("soak: FAILED, capture stopped delivering frames\n");
        return 1;
      }
      delivered += got;
      scriptRound(rig, session.member, session.actor, rounds++);
      // The driver keeps a record of every capture message; it is the test's, not ours.
      standin::clearCaptureRecord();
      if (startKb < 0 && delivered >= kWarmUp) {
        startKb = residentKb();
        startHeapKb = heapBusyKb();
        startHeld = rig.host->ledger.referencesHeld();
      } else if (startKb >= 0 && cycles < reloads && ++batches % batchesPerReload == 0) {
        if (!reportLeftovers(rig, "before a reload")) return 1;
        rig.reset();
        ++cycles;
        session = startSession(rig);
        if (session.member == nullptr || session.actor == nullptr) return 1;
        if (trace) {
          std::printf("soak: reload %ld: resident memory %ld kB, heaps %ld kB in use\n", cycles,
                      residentKb(), heapBusyKb());
        }
      }
    }
    const long endKb = residentKb();
    const long endHeapKb = heapBusyKb();
    const std::int64_t endHeld = rig.host->ledger.referencesHeld();
    std::printf("soak: %ld frames, %ld rounds of script calls and drawing, %ld reloads\n",
                delivered, rounds, cycles);
    std::printf("soak: resident memory %ld kB after %ld frames, %ld kB at the end\n", startKb,
                kWarmUp, endKb);
    std::printf("soak: heaps %ld kB in use after %ld frames, %ld kB at the end\n", startHeapKb,
                kWarmUp, endHeapKb);
    std::printf("soak: host references held %lld after %ld frames, %lld at the end\n",
                static_cast<long long>(startHeld), kWarmUp, static_cast<long long>(endHeld));
#if defined(_WIN32)
    // Under Wine the resident set swings by megabytes from one reload to the next (the system's
    // mappings come and go) while the heaps hold steady to the kB: there the heaps decide.
    const long growthKb = endHeapKb - startHeapKb;
#else
    const long growthKb = std::max(endKb - startKb, endHeapKb - startHeapKb);
#endif
    if (!reportLeftovers(rig, "at the end") || growthKb > kAllowedGrowthKb ||
        endHeld != startHeld) {
      std::printf("soak: FAILED\n");
      return 1;
    }
  }
  std::printf("soak: passed\n");
  return 0;
}
