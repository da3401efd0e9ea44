// The plug-in linked into this test program, as a host::Plugin. Kept apart from the platform's
// headers, which declare two of the entry points their own way.
#pragma once

#include <memory>

#include "host/plugin.h"

namespace kinetiscan::sprite_test {

std::unique_ptr<host::Plugin> linkedPlugin();
// Back to no interface objects, as at load.
void resetModuleFrame();

}  // namespace kinetiscan::sprite_test
