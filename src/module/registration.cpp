// Register: one dictionary request, then six keyed values in a fixed order; the first failure
// ends it with the host's code and nothing written is undone.
#include "module/registration.h"

#include "member/cast_member.h"
#include "objects/interface_object.h"

namespace kinetiscan {
namespace {

constexpr char kDisplayCategory[] = "Tamsworth Xtras";
// Capability bits 0, 1, 3, 4 and 6.
constexpr std::int32_t kAssetCaps = 0x5B;

Result KINETISCAN_CALL registerType(RegistrarInterface*, ClassRegistry* registry, void* context) {
  if (registry == nullptr || registry->ops == nullptr) return kNoInterface;
  RegistryDictionary* dictionary = nullptr;
  Result result = registry->ops->getDictionary(registry, context, &kCastMemberClassId,
                                               &kCastMemberInterfaceId, &dictionary);
  if (result != kOk) return result;
  // A host that reports success without a dictionary has given us nothing to write into.
  if (dictionary == nullptr || dictionary->ops == nullptr) return kNoInterface;

  const std::int32_t actorType = 1;
  const std::int32_t assetCaps = kAssetCaps;
  const std::uint8_t safeForShockwave = 1;
  struct Entry {
    std::int32_t kind;
    const void* value;
    std::uint32_t length;
    const char* key;
  };
  const Entry entries[] = {
      {kRegistryText, kTypeSymbol, 0, "symbolString"},
      {kRegistryText, kTypeSymbol, 0, "displayNameString"},
      {kRegistryText, kDisplayCategory, 0, "displayCategoryString"},
      {kRegistryInteger, &actorType, 0, "actorType"},
      {kRegistryBytes, &assetCaps, 4, "assetCaps"},
      {kRegistryBoolean, &safeForShockwave, 1, "safeForShockwave"},
  };
  for (const Entry& entry : entries) {
    result = dictionary->ops->put(dictionary, entry.kind, entry.value, entry.length, entry.key);
    if (result != kOk) return result;
  }
  return kOk;
}

}  // namespace

constinit const RegistrarOps kRegistrarOps = {
    .queryInterface = queryInterface<RegistrarInterface>,
    .addRef = addRef<RegistrarInterface>,
    .release = release<RegistrarInterface>,
    .registerType = registerType,
};

}  // namespace kinetiscan
