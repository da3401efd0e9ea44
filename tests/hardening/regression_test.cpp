// Regression tests of faults the fault sweep, the sanitizer build and the fuzzers found, each
// named after the defect it pins.
#include <gtest/gtest.h>

#include "host/values.h"
#include "sprite/panel_cache.h"
#include "standin/gdi_control.h"
#include "tests/hardening/scenario_programs.h"

namespace kinetiscan::hardening {
namespace {

// Region lists leaked every item when the host could not make the list or refused an append.
TEST(Regression, RegionListItemsTheHostRefusesAreReleased) {
  for (int position : {3, 4}) {
    Rig rig;
    rig.addOurCast();
    CastMemberInterface* member = rig.createMember();
    ASSERT_NE(member, nullptr);
    ASSERT_EQ(rig.deliver({movingSquareFrame(0), movingSquareFrame(1)}), 2);
    rig.world->values.listLog.failures[position] = host::kHostFailure;
    EXPECT_EQ(rig.getProperty(member, "loclist"), kOk);
    EXPECT_EQ(rig.getProperty(member, "boundingboxlist"), kOk);
    rig.world->values.listLog.failures[position] = kOk;
    EXPECT_TRUE(rig.leftovers().empty())
        << "list position " << position << ": " << ::testing::PrintToString(rig.leftovers());
  }
}

// A driver delivering zero-byte frames made the simulated camera copy from a null buffer, which
// the sanitizer build reports as undefined behaviour.
TEST(Regression, ZeroByteFramesAreNotCopiedFromNull) {
  camera::DriverBehaviour behaviour;
  behaviour.frameBytes = 0;
  Rig rig(behaviour);
  rig.addOurCast();
  ASSERT_NE(rig.createMember(), nullptr);
  rig.deliver({movingSquareFrame(0), movingSquareFrame(1)});
  EXPECT_EQ(rig.getProperty(rig.members[0], "cameraimage"), kOk);
  EXPECT_TRUE(rig.leftovers().empty());
}

// Sprites that drew while no member was ever destroyed left the PanelCache's device context and
// bitmap behind when the host released every object and unloaded the library.
TEST(Regression, PanelCacheIsReleasedWithTheLastInterfaceObject) {
  Rig rig;
  const int before = standin::liveGdiObjects();
  SpriteActorInterface* actor = rig.createActor();
  ASSERT_NE(actor, nullptr);
  DrawRequest request{};
  request.bottom = 120, request.right = 160;
  rig.drawSprite(actor, request);
  EXPECT_NE(panelCache().memoryDc, nullptr);
  rig.releaseAll();
  EXPECT_EQ(rig.plugin->canUnloadNow(), kOk);
  EXPECT_EQ(panelCache().memoryDc, nullptr);
  EXPECT_EQ(standin::liveGdiObjects(), before);
}

}  // namespace
}  // namespace kinetiscan::hardening
