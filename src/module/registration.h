// The registrar interface: tells the host the cast member type's name, category and abilities.
#pragma once

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

extern const RegistrarOps kRegistrarOps;

// The symbol under which the cast member type is registered and recognised in casts.
inline constexpr char kTypeSymbol[] = "Kinetiscan";

}  // namespace kinetiscan
