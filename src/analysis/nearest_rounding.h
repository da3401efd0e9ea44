// The rounding scope, by the name the member and sprite layers include; it lives beside the pixel
// arithmetic it protects.
#pragma once

#include "analysis/pixel_math.h"  // IWYU pragma: export
