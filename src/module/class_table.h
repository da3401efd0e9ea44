// The constant table of the module's three classes and the one walk every entry point shares.
#pragma once

#include "kinetiscan/exports.h"
#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

using Factory = Result (*)(InstanceHeader* owner, void** out);

struct ClassEntry {
  Guid classId;
  std::uint32_t classVersion;
  std::uint32_t instanceSize;
  CreateOperation create;
  DestroyOperation destroy;
  Guid interfaceId;
  std::uint32_t interfaceVersion;
  Factory factory;
};

// Visitors return 0 to go on; anything else ends the walk with that value.
using OnClass = int (*)(const Guid& classId, std::uint32_t classVersion, std::uint32_t instanceSize,
                        CreateOperation create, DestroyOperation destroy, void* context);
using OnInterface = int (*)(const Guid& classId, std::uint32_t classVersion,
                            const Guid& interfaceId, std::uint32_t interfaceVersion,
                            Factory factory, void* context);

int walkClassTable(const Guid* classFilter, OnClass onClass, OnInterface onInterface,
                   void* context);

// The factories named in the table.
Result makeRegistrarInterface(InstanceHeader* owner, void** out);
Result makeCastMemberInterface(InstanceHeader* owner, void** out);
Result makeSpriteActorInterface(InstanceHeader* owner, void** out);

}  // namespace kinetiscan
