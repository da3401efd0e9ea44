// The plug-in linked into the program, as a host::Plugin reached through the five entry points
// alone. Kept apart from the platform's headers, which declare two of the entry points their own
// way.
#pragma once

#include <memory>

#include "host/plugin.h"

namespace kinetiscan::host {

std::unique_ptr<Plugin> linkedPlugin();

}  // namespace kinetiscan::host
