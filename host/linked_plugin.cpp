// The linked-in entry points, reached without the platform's headers in sight.
#include "host/linked_plugin.h"

#include "module/entry_points.h"

namespace kinetiscan::host {

std::unique_ptr<Plugin> linkedPlugin() {
  return Plugin::linkedIn(DllGetClassForm, DllGetInterface, DllGetClassInfo, DllGetClassObject,
                          DllCanUnloadNow);
}

}  // namespace kinetiscan::host
