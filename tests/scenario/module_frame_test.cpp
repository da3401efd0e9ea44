// The module frame seen from a host: class listing, class forms, interface objects, reference
// counts and unloading, through the five exports only.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kinetiscan/plugin_tables.h"
#include "platform/win32api.h"
#include "scenario_fixture.h"

namespace kinetiscan::scenario {
namespace {

using ModuleFrame = Scenario;

// Each id as the host sees it in memory: the braced text's first three groups little-endian, the
// last eight bytes in order. The bytes are written out by hand from the braced form.
TEST(Guids, EveryIdHasItsPublishedBytes) {
  struct Pinned {
    const char* name;
    const Guid& id;
    const char* bytes;
  };
  const Pinned table[] = {
      // {5D2E8A41-7C3B-4F19-A6D2-3E91B07C4F58}
      {"RegistrarClass", kRegistrarClassId, "41 8A 2E 5D 3B 7C 19 4F A6 D2 3E 91 B0 7C 4F 58"},
      // {9B4F1C76-2E8D-4A35-8C17-D6A05E93B2C1}
      {"CastMemberClass", kCastMemberClassId, "76 1C 4F 9B 8D 2E 35 4A 8C 17 D6 A0 5E 93 B2 C1"},
      // {C18E5D29-6A47-4B03-9F5E-72B4C8D1A06E}
      {"SpriteActorClass", kSpriteActorClassId, "29 5D 8E C1 47 6A 03 4B 9F 5E 72 B4 C8 D1 A0 6E"},
      // {AC3E7803-0002-8FE5-0000-080007160DC3}
      {"RegistrarInterface", kRegistrarInterfaceId,
       "03 78 3E AC 02 00 E5 8F 00 00 08 00 07 16 0D C3"},
      // {AC401E5C-0001-A855-0000-0800072C6326}
      {"CastMemberInterface", kCastMemberInterfaceId,
       "5C 1E 40 AC 01 00 55 A8 00 00 08 00 07 2C 63 26"},
      // {AC401E76-0001-AEA7-0000-0800072C6326}
      {"SpriteActorInterface", kSpriteActorInterfaceId,
       "76 1E 40 AC 01 00 A7 AE 00 00 08 00 07 2C 63 26"},
      // {00000001-0000-0000-C000-000000000046}
      {"class factory", kClassFactoryInterfaceId,
       "01 00 00 00 00 00 00 00 C0 00 00 00 00 00 00 46"},
      // {151A5780-32BD-11D0-8151-00AA005F3C08}
      {"ValueServices", kValueServicesId, "80 57 1A 15 BD 32 D0 11 81 51 00 AA 00 5F 3C 08"},
      // {AC96CF98-0045-5C0B-0000-0040105023FB}
      {"ListServices", kListServicesId, "98 CF 96 AC 45 00 0B 5C 00 00 00 40 10 50 23 FB"},
      // {F36721D0-11E7-11D2-9D18-00104B2797F3}
      {"ColorServices", kColorServicesId, "D0 21 67 F3 E7 11 D2 11 9D 18 00 10 4B 27 97 F3"},
      // {F367FFFF-11E7-11D2-9D18-00104B2797F3}
      {"ImageServices", kImageServicesId, "FF FF 67 F3 E7 11 D2 11 9D 18 00 10 4B 27 97 F3"},
      // {AC401B78-0000-FA7D-0000-0800072C6326}
      {"MovieServices", kMovieServicesId, "78 1B 40 AC 00 00 7D FA 00 00 08 00 07 2C 63 26"},
      // {D9088161-32BF-11D0-8151-00AA005F3C08}
      {"WindowServices", kWindowServicesId, "61 81 08 D9 BF 32 D0 11 81 51 00 AA 00 5F 3C 08"},
      // {3F698780-32BE-11D0-8151-00AA005F3C08}
      {"spareService1", kSpareService1Id, "80 87 69 3F BE 32 D0 11 81 51 00 AA 00 5F 3C 08"},
      // {ACC33D03-0136-8B39-0000-080007FC20C1}
      {"spareService2", kSpareService2Id, "03 3D C3 AC 36 01 39 8B 00 00 08 00 07 FC 20 C1"},
      // {ACC33F91-0137-24E7-0000-080007FC20C1}
      {"callbackService", kCallbackServiceId, "91 3F C3 AC 37 01 E7 24 00 00 08 00 07 FC 20 C1"},
      // {ACC33FCA-0137-3251-0000-080007FC20C1}
      {"spriteCallbackService", kSpriteCallbackServiceId,
       "CA 3F C3 AC 37 01 51 32 00 00 08 00 07 FC 20 C1"},
      {"null", kNullGuid, "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
  };
  for (const Pinned& pinned : table) {
    unsigned char stored[sizeof(Guid)];
    std::memcpy(stored, &pinned.id, sizeof stored);
    std::string text;
    for (unsigned char byte : stored) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02X ", byte);
      text += hex;
    }
    text.pop_back();
    EXPECT_EQ(text, pinned.bytes) << pinned.name;
  }
}

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
  // A known class asked with any one place to write missing: nothing written anywhere.
  EXPECT_EQ(plugin().getClassForm(&kCastMemberClassId, nullptr, &create, &destroy), kNoClass);
  EXPECT_EQ(plugin().getClassForm(&kCastMemberClassId, &size, nullptr, &destroy), kNoClass);
  EXPECT_EQ(plugin().getClassForm(&kCastMemberClassId, &size, &create, nullptr), kNoClass);
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
