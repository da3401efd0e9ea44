// The host's class registry and the registration dictionary it hands out: records every write.
#pragma once

#include <string>
#include <vector>

#include "host/ledger.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

struct RegistryWrite {
  std::int32_t kind;
  std::string key;
  std::uint32_t length;
  std::vector<unsigned char> value;  // the text with its NUL, or `length` bytes (4 when 0)
};

class Registry : public ClassRegistry {
 public:
  explicit Registry(Ledger& ledger);

  // What the dictionary request answers, and which write (1-based; 0 = none) fails with what.
  Result dictionaryAnswer = kOk;
  bool giveNullDictionary = false;
  int failingWrite = 0;
  Result writeFailure = kOk;

  int dictionaryRequests = 0;
  void* lastContext = nullptr;
  Guid lastClassId{};
  Guid lastInterfaceId{};
  std::vector<RegistryWrite> writes;

  ReferenceCount references;

 private:
  class Dictionary : public RegistryDictionary {
   public:
    Dictionary(Ledger& ledger, Registry& registry);
    Registry& registry;
    ReferenceCount references;
  };

  static Result KINETISCAN_CALL getDictionary(ClassRegistry* self, void* context,
                                              const Guid* classId, const Guid* interfaceId,
                                              RegistryDictionary** out);
  static Result KINETISCAN_CALL put(RegistryDictionary* self, std::int32_t kind, const void* value,
                                    std::uint32_t length, const char* key);
  Dictionary dictionary_;
};

}  // namespace kinetiscan::host
