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

}  // namespace kinetiscan
