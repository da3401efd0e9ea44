// Host interfaces a class instance holds: asked for once, released once.
#pragma once

#include "kinetiscan/host_services.h"

namespace kinetiscan {

// Asks the host for a service. A refused request leaves nothing held, whatever the host wrote:
// nothing is ever called or released through an interface that was not given.
template <class Service>
Service* acquire(HostCallback* callback, const Guid& id) {
  if (callback == nullptr || callback->ops == nullptr) return nullptr;
  void* out = nullptr;
  if (callback->ops->queryInterface(callback, &id, &out) != kOk) return nullptr;
  return static_cast<Service*>(out);
}

// Releases a held interface and forgets it first, so a re-entrant call cannot release it twice.
template <class Interface>
void releaseHeld(Interface*& held) {
  if (held == nullptr) return;
  Interface* target = held;
  held = nullptr;
  target->ops->release(target);
}

// Holds a new callback from the host and the service it gives for `serviceId`, then gives back
// the callback and service held before, so repeated calls leak nothing. The new one is held
// before the old one is let go, in case they are the same object.
template <class Service>
void replaceCallback(Unknown*& heldCallback, Service*& heldService, Unknown* callback,
                     const Guid& serviceId) {
  if (callback != nullptr) callback->ops->addRef(callback);
  Unknown* oldCallback = heldCallback;
  Service* oldService = heldService;
  heldCallback = callback;
  heldService = nullptr;
  if (callback != nullptr) {
    void* service = nullptr;
    if (callback->ops->queryInterface(callback, &serviceId, &service) == kOk) {
      heldService = static_cast<Service*>(service);
    }
  }
  releaseHeld(oldService);
  releaseHeld(oldCallback);
}

}  // namespace kinetiscan
