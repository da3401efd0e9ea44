// GDI subset of the stand-in: device contexts, bitmaps, DIB transfer, clip regions, pens, lines.
#pragma once
