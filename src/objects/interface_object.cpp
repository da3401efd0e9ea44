// Interface objects: reference counting that forwards to the owning instance.
#include "objects/interface_object.h"

#include <cstddef>

#include "platform/win32api.h"

namespace kinetiscan {
namespace {

constinit InterfaceObjectState state;
constinit LastObjectFreed lastObjectFreed = nullptr;

// The out-of-memory handler a host process installs is the C runtime's (msvcrt's, which takes the
// size): a handler of our own statically linked C++ runtime could never be set by the host.
// msvcrt exports the query only under its C++ name, so it is looked up at run time.
using RuntimeNewHandler = int (*)(std::size_t);
RuntimeNewHandler runtimeNewHandler() {
  HMODULE runtime = GetModuleHandleA("msvcrt.dll");
  if (runtime == nullptr) return nullptr;
  auto query = reinterpret_cast<RuntimeNewHandler (*)()>(
      reinterpret_cast<void*>(GetProcAddress(runtime, "?_query_new_handler@@YAP6AHI@ZXZ")));
  return query != nullptr ? query() : nullptr;
}

std::int32_t ownerAddRef(InstanceHeader* owner) { return owner->ops->addRef(owner); }
std::int32_t ownerRelease(InstanceHeader* owner) { return owner->ops->release(owner); }

}  // namespace

InterfaceObjectState& interfaceObjectState() { return state; }
void resetInterfaceObjectStateForTest() { state = InterfaceObjectState{}; }

void setLastObjectFreed(LastObjectFreed handler) { lastObjectFreed = handler; }

void* hostAllocate(std::uint32_t size, HostAllocator* allocator) {
  if (allocator == nullptr || allocator->ops == nullptr) return nullptr;
  for (;;) {
    if (void* block = allocator->ops->allocate(allocator, size)) return block;
    // As operator new does: give the process's handler a chance to free memory, then retry.
    const RuntimeNewHandler handler = runtimeNewHandler();
    if (handler == nullptr) return nullptr;
    handler(size);
  }
}

void hostFree(void* block, HostAllocator* allocator) {
  if (allocator == nullptr || allocator->ops == nullptr) return;
  allocator->ops->free(allocator, block);
}

Result makeInterfaceObject(InstanceHeader* owner, const void* ops, void** out) {
  if (out == nullptr) return kNoInterface;
  if (owner == nullptr || owner->ops == nullptr) {
    *out = nullptr;  // no allocator to be reached
    return kNoMemory;
  }
  auto* object =
      static_cast<InterfaceObject*>(hostAllocate(sizeof(InterfaceObject), owner->allocator));
  if (object == nullptr) {
    *out = nullptr;
    return kNoMemory;
  }
  object->owner = owner;
  object->count = 1;
  // One reference for the object's existence, one for its first own reference.
  ownerAddRef(owner);
  ownerAddRef(owner);
  ++state.liveObjectCount;
  object->ops = ops;
  *out = object;
  return kOk;
}

Result queryInterfaceOf(InterfaceObject* object, const Guid* interfaceId, void** out) {
  InstanceHeader* owner = object->owner;
  return owner->ops->queryInterface(owner, interfaceId, out);
}

std::int32_t addRefOf(InterfaceObject* object) {
  ownerAddRef(object->owner);
  return ++object->count;
}

std::int32_t releaseOf(InterfaceObject* object, bool castMember) {
  // The record may be freed below, so everything needed afterwards is read first.
  InstanceHeader* owner = object->owner;
  const std::int32_t n = --object->count;
  if (n == 0) {
    if (castMember) state.currentCastMemberObject = nullptr;
    hostFree(object, owner->allocator);
    if (--state.liveObjectCount == 0 && lastObjectFreed != nullptr) lastObjectFreed();
    ownerRelease(owner);
  }
  ownerRelease(owner);
  return n;
}

}  // namespace kinetiscan
