// The library unloaded and loaded again as a host does over hours, through the exports only: each
// cycle loads it (every other one at another address), lives a member with frames, script reads
// and drawing, and unloads it once the library says it may. Nothing of the library (class,
// window, GDI object, host reference) may outlive a cycle, and every cycle's frames must reach
// the analysis. A separate program, so that no other test keeps the library loaded.
#include <gtest/gtest.h>

#include <set>

#include "camera/frame_source.h"
#include "host/host.h"
#include "host/sprite_callback.h"
#include "host/surface.h"
#include "host/world.h"
#include "member_fixture.h"
#include "testbed/control.h"

namespace kinetiscan {
namespace {

constexpr int kCycles = 20;

// Grey 100, with a white 20 x 20 square when asked.
camera::Frame greyFrame(bool square) {
  camera::Frame frame(camera::kFrameBytes, 100);
  if (!square) return frame;
  for (int row = 10; row < 30; ++row) {
    for (int column = 30; column < 50; ++column) {
      std::fill_n(&frame[(row * camera::kWidth + column) * 3], 3, 255);
    }
  }
  return frame;
}

// One member's life with a sprite of it in a fresh host. The number of regions the member's
// "loclist" gave after the square frame, or -1.
int liveOneMember(host::Plugin& plugin, host::QueuedFrames& frames, double* adaptivityAtStart) {
  host::Host host(plugin);
  int regions = -1;
  {
    host::World world(host);
    const std::int32_t movie = world.movies.addMovie();
    world.movies.addCast(movie, host::CastSetup{{{1, "Kinetiscan"}}, {}, false});
    world.movies.setSpriteColour(3, 255, 0, 0);

    InstanceHeader* instance = host.createInstance(kCastMemberClassId);
    EXPECT_NE(instance, nullptr);
    if (instance == nullptr) return -1;
    void* out = nullptr;
    EXPECT_EQ(plugin.getInterface(instance, &kCastMemberClassId, &kCastMemberInterfaceId, &out),
              kOk);
    host.releaseInstance(instance);
    auto* member = static_cast<CastMemberInterface*>(out);

    HostValue value{};
    EXPECT_EQ(member->ops->getProperty(member, world.values.symbol("adaptivity"), &value), kOk);
    if (const host::Value* read = world.values.find(value)) *adaptivityAtStart = read->real;
    world.values.release(value);

    frames.frames = {greyFrame(false), greyFrame(true)};
    if (standin::pumpFrames(2) == 2) {
      EXPECT_EQ(member->ops->getProperty(member, world.values.symbol("loclist"), &value), kOk);
      if (const host::Value* list = world.values.find(value)) {
        regions = static_cast<int>(list->items.size());
      }
      world.values.release(value);
    }

    // A sprite draws the globs view with both overlays, which makes the panel cache.
    instance = host.createInstance(kSpriteActorClassId);
    EXPECT_NE(instance, nullptr);
    out = nullptr;
    plugin.getInterface(instance, &kSpriteActorClassId, &kSpriteActorInterfaceId, &out);
    host.releaseInstance(instance);
    if (auto* actor = static_cast<SpriteActorInterface*>(out)) {
      host::SpriteCallback callback(host.ledger, 3);
      host::Surface surface(host.ledger, 200, 150);
      actor->ops->setSpriteCallback(actor, &callback);
      for (const char* name : {"view", "showboundingboxes", "showcenterpoints"}) {
        HostValue setting = world.values.integer(name[0] == 'v' ? 4 : 1);
        actor->ops->setProperty(actor, world.values.symbol(name), &setting);
        world.values.release(setting);
      }
      DrawRequest request{};
      request.top = 10, request.left = 20, request.bottom = 130, request.right = 180;
      EXPECT_EQ(actor->ops->drawSprite(actor, &request, 0, &surface), kOk);
      EXPECT_EQ(actor->ops->release(actor), 0);
    }
    EXPECT_EQ(member->ops->release(member), 0);
    EXPECT_EQ(world.values.liveValues(), 0u);
  }
  EXPECT_EQ(host.liveInstances(), 0u);
  EXPECT_TRUE(host.ledger.imbalances().empty())
      << ::testing::PrintToString(host.ledger.imbalances());
  return regions;
}

TEST(Reload, EveryCycleAnalysesFramesAndLeavesNothingOfTheLibraryBehind) {
  standin::resetForTest();
  host::QueuedFrames frames;
  const camera::DriverBehaviour behaviour;
  standin::installCamera(behaviour, &frames);
  int gdiAtStart = 0;
  const bool countsGdi = standin::liveGdiObjectCount(&gdiAtStart);

  std::set<std::uintptr_t> bases;
  standin::LibraryRange held{0, 0};
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    SCOPED_TRACE(cycle);
    std::string error;
    std::unique_ptr<host::Plugin> plugin = host::Plugin::load(&error);
    ASSERT_NE(plugin, nullptr) << error;
    const standin::LibraryRange range =
        standin::libraryRange(static_cast<HMODULE>(plugin->module()));
    ASSERT_NE(range.size, 0u);
    if (held.size != 0) {
      EXPECT_NE(range.base, held.base) << "the old range was held";
      standin::releaseRange(held);
      held = standin::LibraryRange{0, 0};
    }
    bases.insert(range.base);

    double adaptivity = 0.0;
    EXPECT_EQ(liveOneMember(*plugin, frames, &adaptivity), 1) << "the frames reached the analysis";
    EXPECT_EQ(adaptivity, 1000.0) << "a freshly loaded library starts at its defaults";
    EXPECT_EQ(plugin->canUnloadNow(), kOk);

    EXPECT_EQ(standin::liveWindowCount(), 0);
    WNDCLASSA attributes{};
    EXPECT_FALSE(standin::windowClass("VideoCapWindow", &attributes));
    int gdi = 0;
    if (countsGdi && standin::liveGdiObjectCount(&gdi)) {
      EXPECT_EQ(gdi, gdiAtStart);
    }

    plugin.reset();  // FreeLibrary
    if (cycle % 2 == 0) {
      ASSERT_TRUE(standin::reserveRange(range)) << "the library was really unloaded";
      held = range;
    }
  }
  standin::releaseRange(held);
  EXPECT_GE(bases.size(), 2u);
  std::printf("reload: %d cycles, %zu distinct bases:", kCycles, bases.size());
  for (std::uintptr_t base : bases) std::printf(" %#llx", static_cast<unsigned long long>(base));
  std::printf("\n");
  standin::resetForTest();
}

}  // namespace
}  // namespace kinetiscan
