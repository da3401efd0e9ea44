// Interface objects against a minimal owner: allocation with the runtime's new-handler, the
// reference invariant and the order of teardown.
#include "objects/interface_object.h"

#include <gtest/gtest.h>

#include <vector>

#include "host/allocator.h"
#include "module/class_table.h"
#include "module/registration.h"
#include "platform/win32api.h"

namespace kinetiscan {
namespace {

// An owner that logs what happens to it, so the order of frees and releases can be checked.
struct Owner {
  InstanceHeader header{};
  int references = 1;
  std::vector<std::string>* log = nullptr;
  host::Allocator* allocator = nullptr;
};

Owner* ownerOfHeader(InstanceHeader* header) { return reinterpret_cast<Owner*>(header); }

std::int32_t KINETISCAN_CALL ownerAddRef(InstanceHeader* self) {
  return ++ownerOfHeader(self)->references;
}
std::int32_t KINETISCAN_CALL ownerRelease(InstanceHeader* self) {
  Owner* owner = ownerOfHeader(self);
  owner->log->push_back("release, outstanding blocks " +
                        std::to_string(owner->allocator->outstanding()));
  return --owner->references;
}
Result KINETISCAN_CALL ownerQuery(InstanceHeader*, const Guid*, void**) { return kNoInterface; }

constexpr InstanceOps kOwnerOps = {ownerQuery, ownerAddRef, ownerRelease};

class InterfaceObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resetInterfaceObjectStateForTest();
    owner_.header.ops = &kOwnerOps;
    owner_.header.allocator = &allocator_;
    owner_.log = &log_;
    owner_.allocator = &allocator_;
  }
  void TearDown() override { resetInterfaceObjectStateForTest(); }

  host::Ledger ledger_;
  host::Allocator allocator_{ledger_};
  std::vector<std::string> log_;
  Owner owner_;
};

int handlerCalls = 0;
host::Allocator* handlerAllocator = nullptr;
int freeingHandler(std::size_t) {
  ++handlerCalls;
  handlerAllocator->refuseNext(0);  // "memory was freed"
  return 1;
}

// The handler as a host process installs it: through the C runtime's _set_new_handler.
using RuntimeNewHandler = int (*)(std::size_t);
void setRuntimeNewHandler(RuntimeNewHandler handler) {
  auto set = reinterpret_cast<RuntimeNewHandler (*)(RuntimeNewHandler)>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("msvcrt.dll"), "?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z")));
  ASSERT_NE(set, nullptr);
  set(handler);
}

TEST_F(InterfaceObjectTest, NewHandlerIsConsultedUntilTheAllocatorGives) {
  handlerCalls = 0;
  handlerAllocator = &allocator_;
  allocator_.refuseNext(1);
  setRuntimeNewHandler(freeingHandler);
  void* block = hostAllocate(12, &allocator_);
  setRuntimeNewHandler(nullptr);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(handlerCalls, 1);
  EXPECT_EQ(allocator_.requests(), 2);
  hostFree(block, &allocator_);
  EXPECT_EQ(allocator_.outstanding(), 0u);
}

TEST_F(InterfaceObjectTest, AbsentAllocatorGivesNothing) {
  EXPECT_EQ(hostAllocate(12, nullptr), nullptr);
  owner_.header.allocator = nullptr;
  void* out = &out;
  EXPECT_EQ(makeRegistrarInterface(&owner_.header, &out), kNoMemory);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(owner_.references, 1);
  EXPECT_EQ(interfaceObjectState().liveObjectCount, 0);
}

TEST_F(InterfaceObjectTest, FinalReleaseFreesTheRecordBeforeReleasingTheOwnerTwice) {
  void* out = nullptr;
  ASSERT_EQ(makeRegistrarInterface(&owner_.header, &out), kOk);
  auto* object = static_cast<InterfaceObject*>(out);
  EXPECT_EQ(object->count, 1);
  EXPECT_EQ(object->owner, &owner_.header);
  EXPECT_EQ(object->ops, &kRegistrarOps);
  EXPECT_EQ(owner_.references, 3);
  EXPECT_EQ(interfaceObjectState().liveObjectCount, 1);

  EXPECT_EQ(releaseOf(object, false), 0);
  EXPECT_EQ(owner_.references, 1);
  EXPECT_EQ(interfaceObjectState().liveObjectCount, 0);
  const std::vector<std::string> expected = {"release, outstanding blocks 0",
                                             "release, outstanding blocks 0"};
  EXPECT_EQ(log_, expected);
}

TEST_F(InterfaceObjectTest, CurrentCastMemberObjectFollowsMakingAndAnyFree) {
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(makeCastMemberInterface(&owner_.header, &first), kOk);
  EXPECT_EQ(interfaceObjectState().currentCastMemberObject, first);
  ASSERT_EQ(makeCastMemberInterface(&owner_.header, &second), kOk);
  EXPECT_EQ(interfaceObjectState().currentCastMemberObject, second);

  // A sprite actor object going away does not touch it; any cast member object does.
  void* sprite = nullptr;
  ASSERT_EQ(makeSpriteActorInterface(&owner_.header, &sprite), kOk);
  release(static_cast<SpriteActorInterface*>(sprite));
  EXPECT_EQ(interfaceObjectState().currentCastMemberObject, second);
  release(static_cast<CastMemberInterface*>(first));
  EXPECT_EQ(interfaceObjectState().currentCastMemberObject, nullptr);
  release(static_cast<CastMemberInterface*>(second));
  EXPECT_EQ(interfaceObjectState().liveObjectCount, 0);
  EXPECT_EQ(owner_.references, 1);
}

TEST_F(InterfaceObjectTest, ClassTableWalkStopsAtTheFirstNonZeroVisitor) {
  struct Seen {
    std::vector<Guid> classes;
    int stopAfter;
  } seen{{}, 2};
  auto onClass = [](const Guid& id, std::uint32_t, std::uint32_t, CreateOperation, DestroyOperation,
                    void* context) {
    auto* s = static_cast<Seen*>(context);
    s->classes.push_back(id);
    return static_cast<int>(s->classes.size()) == s->stopAfter ? 42 : 0;
  };
  EXPECT_EQ(walkClassTable(nullptr, onClass, nullptr, &seen), 42);
  ASSERT_EQ(seen.classes.size(), 2u);
  EXPECT_EQ(seen.classes[0], kRegistrarClassId);
  EXPECT_EQ(seen.classes[1], kCastMemberClassId);

  seen = {{}, 0};
  EXPECT_EQ(walkClassTable(&kSpriteActorClassId, onClass, nullptr, &seen), 0);
  ASSERT_EQ(seen.classes.size(), 1u);
  EXPECT_EQ(seen.classes[0], kSpriteActorClassId);
}

}  // namespace
}  // namespace kinetiscan
