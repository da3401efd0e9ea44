// The module frame seen from a host: class listing, class forms, interface objects, reference
// counts and unloading, through the five exports only.
#include <cstring>
#include <vector>

#include "kinetiscan/plugin_tables.h"
#include "platform/win32api.h"
#include "scenario_fixture.h"

namespace kinetiscan::scenario {
namespace {

using ModuleFrame = Scenario;

constexpr std::uint32_t kPattern = 0xCDCDCDCDu;  // what the host's fresh blocks hold

TEST_F(ModuleFrame, ClassInfoListsSevenEntriesInTableOrder) {
  ClassInfoEntry* table = nullptr;
  ASSERT_EQ(plugin().getClassInfo(&host_->allocator, &table), kOk);
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(host_->allocator.requests(), 1);
  EXPECT_EQ(host_->allocator.lastSize(), 280u);

  const Guid classes[] = {kRegistrarClassId, kCastMemberClassId, kSpriteActorClassId};
  const Guid interfaces[] = {kRegistrarInterfaceId, kCastMemberInterfaceId,
                             kSpriteActorInterfaceId};
  for (int i = 0; i < 3; ++i) {
    const ClassInfoEntry& own = table[2 * i];
    const ClassInfoEntry& offered = table[2 * i + 1];
    EXPECT_EQ(own.classId, classes[i]);
    EXPECT_EQ(own.classVersion, kModuleVersion);
    EXPECT_EQ(own.interfaceId, kClassFactoryInterfaceId);
    EXPECT_EQ(own.interfaceVersion, 1u);
    EXPECT_EQ(offered.classId, classes[i]);
    EXPECT_EQ(offered.classVersion, kModuleVersion);
    EXPECT_EQ(offered.interfaceId, interfaces[i]);
    EXPECT_EQ(offered.interfaceVersion, kModuleVersion);
  }
  EXPECT_EQ(table[6].classId, kNullGuid);
  EXPECT_EQ(table[6].interfaceId, kNullGuid);
  EXPECT_EQ(table[6].classVersion, kPattern) << "the terminator's versions are not written";
  EXPECT_EQ(table[6].interfaceVersion, kPattern);
  host_->allocator.freeBlock(table);
}

TEST_F(ModuleFrame, ClassInfoReportsARefusedAllocation) {
  host_->allocator.refuseNext(1);
  ClassInfoEntry* table = reinterpret_cast<ClassInfoEntry*>(&table);  // must be overwritten
  EXPECT_EQ(plugin().getClassInfo(&host_->allocator, &table), kNoMemory);
  EXPECT_EQ(table, nullptr);
  EXPECT_EQ(host_->allocator.requests(), 1) << "no retry for the class table";
}

TEST_F(ModuleFrame, ClassFormsGiveSizesAndOperations) {
  std::uint32_t size = 0;
  CreateOperation create = nullptr;
  DestroyOperation destroy = nullptr;
  ASSERT_EQ(plugin().getClassForm(nullptr, &size, &create, &destroy), kOk);
  EXPECT_EQ(size, sizeof(InstanceHeader)) << "no class id: the registration class answers";
  std::uint32_t registrarSize = 0;
  CreateOperation registrarCreate = nullptr;
  DestroyOperation registrarDestroy = nullptr;
  ASSERT_EQ(plugin().getClassForm(&kRegistrarClassId, &registrarSize, &registrarCreate,
                                  &registrarDestroy),
            kOk);
  EXPECT_EQ(create, registrarCreate);
  EXPECT_EQ(destroy, registrarDestroy);
  EXPECT_EQ(create(nullptr), kOk);

  ASSERT_EQ(plugin().getClassForm(&kCastMemberClassId, &size, &create, &destroy), kOk);
  EXPECT_EQ(size, sizeof(InstanceHeader) + 9 * sizeof(void*));
  ASSERT_EQ(plugin().getClassForm(&kSpriteActorClassId, &size, &create, &destroy), kOk);
  EXPECT_EQ(size, sizeof(InstanceHeader) + 7 * sizeof(void*) + 3 * sizeof(std::int32_t) +
                      (sizeof(void*) == 8 ? 4 : 0));
#if defined(__i386__)
  EXPECT_EQ(size, 64u);
  ASSERT_EQ(plugin().getClassForm(&kCastMemberClassId, &size, &create, &destroy), kOk);
  EXPECT_EQ(size, 60u);
#endif
}

TEST_F(ModuleFrame, UnknownClassFormWritesNothing) {
  std::uint32_t size = 7;
  CreateOperation create = nullptr;
  DestroyOperation destroy = nullptr;
  EXPECT_EQ(plugin().getClassForm(&kCastMemberInterfaceId, &size, &create, &destroy), kNoClass);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(create, nullptr);
  EXPECT_EQ(destroy, nullptr);
}

TEST_F(ModuleFrame, ClassObjectIsNeverOffered) {
  void* out = &out;
  EXPECT_EQ(plugin().getClassObject(&kRegistrarClassId, &kClassFactoryInterfaceId, &out), kNoClass);
  EXPECT_EQ(out, &out);
}

TEST_F(ModuleFrame, InterfaceLookupFollowsTheClassFilter) {
  InstanceHeader* instance = host_->createInstance(kRegistrarClassId);
  ASSERT_NE(instance, nullptr);
  void* out = &out;
  // Interfaces of another class, and the only-listed class-factory id, are not offered.
  EXPECT_EQ(plugin().getInterface(instance, &kCastMemberClassId, &kSpriteActorInterfaceId, &out),
            kNoInterface);
  EXPECT_EQ(plugin().getInterface(instance, &kRegistrarClassId, &kClassFactoryInterfaceId, &out),
            kNoInterface);
  EXPECT_EQ(out, &out);
  EXPECT_EQ(plugin().canUnloadNow(), kOk);

  // Without a class id the first class offering the interface answers; the module does not
  // check which class the instance belongs to.
  ASSERT_EQ(plugin().getInterface(instance, nullptr, &kCastMemberInterfaceId, &out), kOk);
  auto* member = static_cast<CastMemberInterface*>(out);
  EXPECT_EQ(plugin().canUnloadNow(), kLibraryInUse);
  HostRect rect{};
  EXPECT_EQ(member->ops->memberRect(member, &rect), kOk);
  EXPECT_EQ(member->ops->release(member), 0);
  EXPECT_EQ(plugin().canUnloadNow(), kOk);
  host_->releaseInstance(instance);
}

TEST_F(ModuleFrame, InterfaceObjectsHoldTheirOwnerByTheirCount) {
  InstanceHeader* instance = host_->createInstance(kRegistrarClassId);
  ASSERT_NE(instance, nullptr);
  void* out = nullptr;
  ASSERT_EQ(plugin().getInterface(instance, &kRegistrarClassId, &kRegistrarInterfaceId, &out), kOk);
  auto* registrar = static_cast<RegistrarInterface*>(out);
  EXPECT_EQ(host_->allocator.outstanding(), 1u);
  EXPECT_EQ(host_->instanceReferences(instance), 3) << "host + count 1 + existence";
  EXPECT_EQ(registrar->ops->addRef(registrar), 2);
  EXPECT_EQ(host_->instanceReferences(instance), 4);
  EXPECT_EQ(registrar->ops->release(registrar), 1);
  EXPECT_EQ(host_->instanceReferences(instance), 3);
  EXPECT_EQ(plugin().canUnloadNow(), kLibraryInUse);
  EXPECT_EQ(registrar->ops->release(registrar), 0);
  EXPECT_EQ(host_->instanceReferences(instance), 1);
  EXPECT_EQ(host_->allocator.outstanding(), 0u);
  EXPECT_EQ(host_->allocator.frees(), 1);
  EXPECT_EQ(plugin().canUnloadNow(), kOk);
  host_->releaseInstance(instance);
}

TEST_F(ModuleFrame, QueryInterfaceIsTheOwnersAnswer) {
  InstanceHeader* instance = host_->createInstance(kRegistrarClassId);
  ASSERT_NE(instance, nullptr);
  void* out = nullptr;
  ASSERT_EQ(plugin().getInterface(instance, &kSpriteActorClassId, &kSpriteActorInterfaceId, &out),
            kOk);
  auto* sprite = static_cast<SpriteActorInterface*>(out);
  int marker = 0;
  host_->setInstanceQueryAnswer(instance, code(0x80004002u), &marker);
  void* answer = nullptr;
  EXPECT_EQ(sprite->ops->queryInterface(sprite, &kValueServicesId, &answer), code(0x80004002u));
  EXPECT_EQ(answer, &marker);
  host_->setInstanceQueryAnswer(instance, kOk, nullptr);
  EXPECT_EQ(sprite->ops->queryInterface(sprite, &kSpriteActorInterfaceId, &answer), kOk);
  EXPECT_EQ(answer, nullptr);
  EXPECT_EQ(sprite->ops->release(sprite), 0);
  host_->releaseInstance(instance);
}

TEST_F(ModuleFrame, RefusedAllocationLeavesOwnerAndCountAlone) {
  InstanceHeader* instance = host_->createInstance(kRegistrarClassId);
  ASSERT_NE(instance, nullptr);
  host_->allocator.refuseNext(1);
  void* out = &out;
  EXPECT_EQ(plugin().getInterface(instance, &kRegistrarClassId, &kRegistrarInterfaceId, &out),
            kNoMemory);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(host_->allocator.requests(), 1) << "no new-handler installed: one attempt";
  EXPECT_EQ(host_->instanceReferences(instance), 1);
  EXPECT_EQ(plugin().canUnloadNow(), kOk);
  host_->releaseInstance(instance);
}

// The out-of-memory handler a host process installs: the C runtime's, which takes the size.
using RuntimeNewHandler = int (*)(std::size_t);
std::vector<std::size_t> handlerSizes;
int recordingHandler(std::size_t size) {
  handlerSizes.push_back(size);
  return 1;
}
RuntimeNewHandler setRuntimeNewHandler(RuntimeNewHandler handler) {
  HMODULE runtime = GetModuleHandleA("msvcrt.dll");
  auto set = reinterpret_cast<RuntimeNewHandler (*)(RuntimeNewHandler)>(
      reinterpret_cast<void*>(GetProcAddress(runtime, "?_set_new_handler@@YAP6AHI@ZP6AHI@Z@Z")));
  return set != nullptr ? set(handler) : nullptr;
}

TEST_F(ModuleFrame, TheRuntimesNewHandlerGetsTheSizeUntilTheHostGives) {
  InstanceHeader* instance = host_->createInstance(kRegistrarClassId);
  ASSERT_NE(instance, nullptr);
  handlerSizes.clear();
  setRuntimeNewHandler(recordingHandler);
  host_->allocator.refuseNext(2);
  void* out = nullptr;
  const Result result =
      plugin().getInterface(instance, &kRegistrarClassId, &kRegistrarInterfaceId, &out);
  setRuntimeNewHandler(nullptr);
  ASSERT_EQ(result, kOk);
  const std::size_t objectSize = sizeof(void*) == 4 ? 12 : 24;  // table, owner, count
  EXPECT_EQ(handlerSizes, (std::vector<std::size_t>{objectSize, objectSize}));
  EXPECT_EQ(host_->allocator.requests(), 3);
  auto* registrar = static_cast<RegistrarInterface*>(out);
  EXPECT_EQ(registrar->ops->release(registrar), 0);
  host_->releaseInstance(instance);
}

}  // namespace
}  // namespace kinetiscan::scenario
