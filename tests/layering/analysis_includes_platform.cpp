// Compiled only by the test that expects it to fail: with the analysis's include roots the
// platform's header must not be found.
#include "analysis/frame_analysis.h"
#include "platform/win32api.h"
