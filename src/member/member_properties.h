// The cast member's script properties: the analysis parameters, the region lists, the images
// and the version.
#pragma once

#include "kinetiscan/plugin_tables.h"

namespace kinetiscan {

Result KINETISCAN_CALL getMemberProperty(CastMemberInterface* self, Symbol name, HostValue* out);
Result KINETISCAN_CALL setMemberProperty(CastMemberInterface* self, Symbol name,
                                         const HostValue* value);

}  // namespace kinetiscan
