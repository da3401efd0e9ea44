// Heap allocation failures for programs linked with -Wl,--wrap=malloc: every malloc call from the
// objects linked into the program (the plug-in's frame buffer and drawing buffers, the host's
// blocks) is counted while armed, and the chosen one fails.
#pragma once

namespace kinetiscan::hardening {

// Starts counting from zero; `failAt` (1-based) is the call that answers null, 0 for none.
void armHeapFaults(int failAt);
// Stops counting; the number of calls counted while armed.
int disarmHeapFaults();

}  // namespace kinetiscan::hardening
