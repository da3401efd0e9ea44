// Helpers for the simulated host's interface objects. A host object derives from the interface
// struct (so its first word is the table) and holds a ReferenceCount named `references`.
#pragma once

#include <cstdio>
#include <cstdlib>

#include "host/ledger.h"
#include "kinetiscan/host_services.h"

namespace kinetiscan::host {

template <class Impl, class Self>
Result KINETISCAN_CALL noOtherInterface(Self*, const Guid*, void** out) {
  if (out != nullptr) *out = nullptr;
  return kNoInterface;
}
template <class Impl, class Self>
std::int32_t KINETISCAN_CALL countedAddRef(Self* self) {
  return static_cast<Impl*>(self)->references.addRef();
}
template <class Impl, class Self>
std::int32_t KINETISCAN_CALL countedRelease(Self* self) {
  return static_cast<Impl*>(self)->references.release();
}

// Fills the placeholder positions: the plug-in must never call them, and a test that makes it
// do so must fail at once rather than corrupt the stack.
[[noreturn]] inline void KINETISCAN_CALL unexpectedPosition() {
  std::fputs("simulated host: the plug-in called a table position it has no business calling\n",
             stderr);
  std::abort();
}

}  // namespace kinetiscan::host
