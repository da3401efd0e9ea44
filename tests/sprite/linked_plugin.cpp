// The linked-in entry points, reached without the platform's headers in sight.
#include "linked_plugin.h"

#include "module/exports.h"
#include "objects/interface_object.h"

namespace kinetiscan::sprite_test {

std::unique_ptr<host::Plugin> linkedPlugin() {
  return host::Plugin::linkedIn(DllGetClassForm, DllGetInterface, DllGetClassInfo,
                                DllGetClassObject, DllCanUnloadNow);
}

void resetModuleFrame() { resetInterfaceObjectStateForTest(); }

}  // namespace kinetiscan::sprite_test
