// What tests ask the stand-in's GDI beyond the Win32 calls: whether anything leaked.
#pragma once

namespace kinetiscan::standin {

// Device contexts, bitmaps, pens and regions made and not yet gone; stock objects do not count.
int liveGdiObjects();

// The next `count` memory device contexts asked for (CreateCompatibleDC) are refused.
void failMemoryDcs(int count);

// New bitmaps hold a pattern instead of black, as the platform may give them.
void holdLeftoversInNewBitmaps(bool on);
bool newBitmapsHoldLeftovers();

}  // namespace kinetiscan::standin
