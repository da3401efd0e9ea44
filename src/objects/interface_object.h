// The per-interface record the host receives from DllGetInterface, its three shared operations
// and the host allocation it lives in. Everything above (module, member, sprite) builds on this;
// it knows nothing of them.
#pragma once

#include <cstdint>
#include <type_traits>

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

struct InterfaceObject {
  const void* ops;        // 0: the interface's table; the host calls through this word
  InstanceHeader* owner;  // 4: the class instance the object speaks for
  std::int32_t count;     // 8: own references; the owner holds count + 1 for the object
};
#if defined(__i386__)
static_assert(sizeof(InterfaceObject) == 12 && offsetof(InterfaceObject, count) == 8);
#endif

struct InterfaceObjectState {
  std::int32_t liveObjectCount = 0;
  // The newest cast member interface object; none after any of them is freed.
  InterfaceObject* currentCastMemberObject = nullptr;
};
InterfaceObjectState& interfaceObjectState();
void resetInterfaceObjectStateForTest();

// Runs when the last interface object is freed, before its owner is released: with no object
// left the host may unload the library, so whatever must not outlive it goes then. Installed by
// the class table; kept across resetInterfaceObjectStateForTest.
using LastObjectFreed = void (*)();
void setLastObjectFreed(LastObjectFreed handler);

// The one conversion from an interface pointer the host holds to our record.
template <class Interface>
InterfaceObject* objectOf(Interface* object) {
  return reinterpret_cast<InterfaceObject*>(object);
}
template <class Interface>
InstanceHeader* ownerOf(Interface* object) {
  return object == nullptr ? nullptr : objectOf(object)->owner;
}

// Allocates from the host, consulting the runtime's new-handler between attempts as operator
// new does. Returns null when the allocator is absent or gives up with no handler installed.
void* hostAllocate(std::uint32_t size, HostAllocator* allocator);
void hostFree(void* block, HostAllocator* allocator);

// Makes an InterfaceObject for owner with the given table and writes it through out.
Result makeInterfaceObject(InstanceHeader* owner, const void* ops, void** out);

Result queryInterfaceOf(InterfaceObject* object, const Guid* interfaceId, void** out);
std::int32_t addRefOf(InterfaceObject* object);
std::int32_t releaseOf(InterfaceObject* object, bool castMember);

// Positions 0-2 of each of the three tables.
template <class Interface>
Result KINETISCAN_CALL queryInterface(Interface* self, const Guid* interfaceId, void** out) {
  return queryInterfaceOf(objectOf(self), interfaceId, out);
}
template <class Interface>
std::int32_t KINETISCAN_CALL addRef(Interface* self) {
  return addRefOf(objectOf(self));
}
template <class Interface>
std::int32_t KINETISCAN_CALL release(Interface* self) {
  return releaseOf(objectOf(self), std::is_same_v<Interface, CastMemberInterface>);
}

}  // namespace kinetiscan
