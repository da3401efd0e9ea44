// Splits the motion mask into 8-connected regions, numbers them, and keeps a bounding box per
// region that has at least `mindensity` pixels.
#pragma once

namespace kinetiscan {

// Reads globsPlane (a pixel moves when component 0 is not 0.0) and the parameters; rewrites
// every entry of labelMap and sets blobCount. Labels run from 1 in the order of each region's
// first pixel (rows from 0, columns from 0 within a row). With fewer than kMaxBlobRecords - 1
// regions, records 1 .. blobCount - 1 get their boxes and regions below `mindensity` pixels are
// discarded: their labels go back to 0 in the map and their record's maxRow to -1, while later
// labels keep their numbers. With more regions no record is written and no label is discarded.
void labelBlobs();

}  // namespace kinetiscan
