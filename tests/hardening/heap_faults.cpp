// The malloc wrapper behind heap_faults.h. Single-threaded, like everything the plug-in does.
#include "tests/hardening/heap_faults.h"

#include <cstddef>

extern "C" void* __real_malloc(std::size_t size);

namespace {

bool armed = false;
int calls = 0;
int failingCall = 0;

}  // namespace

extern "C" void* __wrap_malloc(std::size_t size) {
  if (armed && ++calls == failingCall) return nullptr;
  return __real_malloc(size);
}

namespace kinetiscan::hardening {

void armHeapFaults(int failAt) {
  armed = true;
  calls = 0;
  failingCall = failAt;
}

int disarmHeapFaults() {
  armed = false;
  return calls;
}

}  // namespace kinetiscan::hardening
