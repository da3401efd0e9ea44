// The scan of every cast of every open movie at the start of each frame analysis: one member of
// the type per cast, and capture running exactly while a member exists.
#pragma once

namespace kinetiscan {

void scanCasts();

}  // namespace kinetiscan
