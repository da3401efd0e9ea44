// The plug-in linked into the benchmark, reached as a host reaches it. Kept apart from the
// platform's headers, which declare two of the entry points their own way.
#include <memory>

#include "host/plugin.h"
#include "module/exports.h"

namespace kinetiscan::bench {

std::unique_ptr<host::Plugin> linkedPlugin() {
  return host::Plugin::linkedIn(DllGetClassForm, DllGetInterface, DllGetClassInfo,
                                DllGetClassObject, DllCanUnloadNow);
}

}  // namespace kinetiscan::bench
