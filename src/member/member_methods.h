// The cast member's script methods: colour tracking, block averages, the background reset and
// the video source dialog.
#pragma once

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

Result KINETISCAN_CALL callMethod(CastMemberInterface* self, Symbol name, std::int32_t count,
                                  HostValue* arguments, HostValue* result);

}  // namespace kinetiscan
