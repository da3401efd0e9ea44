// The linked-in entry points, reached without the platform's headers in sight.
#include "linked_plugin.h"

#include "module/exports.h"
#include "module/interface_object.h"

namespace kinetiscan::sprite_test {

std::unique_ptr<host::Plugin> linkedPlugin() {
  return host::Plugin::linkedIn(DllGetClassForm, DllGetInterface, DllGetClassInfo,
                                DllGetClassObject, DllCanUnloadNow);
}

void resetModuleFrame() { resetModuleFrameStateForTest(); }

}  // namespace kinetiscan::sprite_test
