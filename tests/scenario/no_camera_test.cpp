// A machine without a camera: natively a capture library with no driver installed, under Wine
// Wine's own AVICAP32 with no device. Creating a member is quiet, the source dialog asks nothing
// that could never lead anywhere, the properties answer, and the member leaves nothing behind.
#include <gtest/gtest.h>

#include <cstdio>

#include "host/host.h"
#include "host/world.h"
#include "testbed/control.h"

namespace kinetiscan {
namespace {

TEST(NoCamera, TheSourceDialogEndsAndTheMemberLeavesNothingBehind) {
  standin::resetForTest();
  camera::DriverBehaviour noDriver;
  noDriver.installed = false;
  standin::installCamera(noDriver, nullptr);
  std::string error;
  std::unique_ptr<host::Plugin> plugin = host::Plugin::load(&error);
  ASSERT_NE(plugin, nullptr) << error;
  {
    host::Host host(*plugin);
    {
      host::World world(host);
      world.movies.addCast(world.movies.addMovie(),
                           host::CastSetup{{{1, "Kinetiscan"}}, {}, false});
      InstanceHeader* instance = host.createInstance(kCastMemberClassId);
      ASSERT_NE(instance, nullptr);
      void* out = nullptr;
      ASSERT_EQ(plugin->getInterface(instance, &kCastMemberClassId, &kCastMemberInterfaceId, &out),
                kOk);
      host.releaseInstance(instance);
      auto* member = static_cast<CastMemberInterface*>(out);
      EXPECT_TRUE(standin::messageBoxes().empty()) << "creating a member is quiet";

      // A person who keeps pressing OK.
      standin::scriptMessageBoxAnswers({IDOK, IDOK, IDOK, IDOK, IDOK, IDOK});
      EXPECT_EQ(member->ops->chooseVideoSource(member, 0), kOk);
      HostValue result{};
      HostValue arguments[1] = {};
      EXPECT_EQ(
          member->ops->callMethod(member, world.values.symbol("editsource"), 1, arguments, &result),
          kOk);
      const std::size_t boxes = standin::messageBoxes().size();
      EXPECT_LE(boxes, 1u);
      std::printf("no camera: %zu boxes shown by the source dialog and \"editsource\"\n", boxes);

      HostValue value{};
      EXPECT_EQ(member->ops->getProperty(member, world.values.symbol("adaptivity"), &value), kOk);
      world.values.release(value);
      EXPECT_EQ(member->ops->getProperty(member, world.values.symbol("loclist"), &value), kOk);
      const host::Value* list = world.values.find(value);
      ASSERT_NE(list, nullptr);
      EXPECT_TRUE(list->items.empty());
      world.values.release(value);

      EXPECT_EQ(member->ops->release(member), 0);
      EXPECT_EQ(world.values.liveValues(), 0u);
    }
    EXPECT_EQ(host.liveInstances(), 0u);
    EXPECT_TRUE(host.ledger.imbalances().empty())
        << ::testing::PrintToString(host.ledger.imbalances());
  }
  EXPECT_EQ(plugin->canUnloadNow(), kOk);
  EXPECT_EQ(standin::liveWindowCount(), 0);
  WNDCLASSA attributes{};
  EXPECT_FALSE(standin::windowClass("VideoCapWindow", &attributes));
  standin::resetForTest();
}

}  // namespace
}  // namespace kinetiscan
