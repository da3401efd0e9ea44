// The simulated class registry.
#include "host/registry.h"

#include <cstring>

#include "host/host_object.h"

namespace kinetiscan::host {

Registry::Registry(Ledger& ledger)
    : references(ledger, "ClassRegistry"), dictionary_(ledger, *this) {
  static constexpr ClassRegistryOps kOps = {
      .queryInterface = noOtherInterface<Registry, ClassRegistry>,
      .addRef = countedAddRef<Registry, ClassRegistry>,
      .release = countedRelease<Registry, ClassRegistry>,
      .reserved3 = {unexpectedPosition, unexpectedPosition, unexpectedPosition, unexpectedPosition},
      .getDictionary = getDictionary,
  };
  ops = &kOps;
}

Registry::Dictionary::Dictionary(Ledger& ledger, Registry& owner)
    : registry(owner), references(ledger, "RegistryDictionary") {
  static constexpr RegistryDictionaryOps kOps = {
      .queryInterface = noOtherInterface<Dictionary, RegistryDictionary>,
      .addRef = countedAddRef<Dictionary, RegistryDictionary>,
      .release = countedRelease<Dictionary, RegistryDictionary>,
      .reserved3 = {unexpectedPosition, unexpectedPosition, unexpectedPosition},
      .put = put,
  };
  ops = &kOps;
}

// The dictionary is lent, not given: the caller holds no reference on it and releases none.
Result KINETISCAN_CALL Registry::getDictionary(ClassRegistry* self, void* context,
                                               const Guid* classId, const Guid* interfaceId,
                                               RegistryDictionary** out) {
  auto* registry = static_cast<Registry*>(self);
  ++registry->dictionaryRequests;
  registry->lastContext = context;
  if (classId != nullptr) registry->lastClassId = *classId;
  if (interfaceId != nullptr) registry->lastInterfaceId = *interfaceId;
  if (registry->dictionaryAnswer != kOk || registry->giveNullDictionary) {
    *out = nullptr;
    return registry->dictionaryAnswer;
  }
  *out = &registry->dictionary_;
  return kOk;
}

Result KINETISCAN_CALL Registry::put(RegistryDictionary* self, std::int32_t kind, const void* value,
                                     std::uint32_t length, const char* key) {
  Registry& registry = static_cast<Dictionary*>(self)->registry;
  RegistryWrite write{kind, key != nullptr ? key : "", length, {}};
  const auto* bytes = static_cast<const unsigned char*>(value);
  if (bytes != nullptr) {
    const std::size_t size = kind == kRegistryText
                                 ? std::strlen(static_cast<const char*>(value)) + 1
                                 : (length == 0 ? 4 : length);
    write.value.assign(bytes, bytes + size);
  }
  registry.writes.push_back(std::move(write));
  if (static_cast<int>(registry.writes.size()) == registry.failingWrite) {
    return registry.writeFailure;
  }
  return kOk;
}

}  // namespace kinetiscan::host
