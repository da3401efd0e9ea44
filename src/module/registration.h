// The registrar interface: tells the host the cast member type's name, category and abilities.
#pragma once

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

extern const RegistrarOps kRegistrarOps;

}  // namespace kinetiscan
