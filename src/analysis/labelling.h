// Splits the motion mask into 8-connected regions, numbers them, and keeps a bounding box per
// region that has at least `mindensity` pixels.
#pragma once

#include <array>
#include <cstdint>

#include "analysis/analysis_state.h"

namespace kinetiscan {

// The motion mask as bits in pixel order: bit p % 32 of word p / 32 for pixel p. A row is five
// whole words.
using MotionBits = std::array<std::uint32_t, kPixels / 32>;

// Labels the mask in `motion` and reads the parameters; rewrites every entry of labelMap and sets
// blobCount. Labels run from 1 in the order of each region's first pixel (rows from 0, columns
// from 0 within a row). With fewer than kMaxBlobRecords - 1 regions, records 1 .. blobCount - 1
// get their boxes and regions below `mindensity` pixels are discarded: their labels go back to 0
// in the map and their record's maxRow to -1, while later labels keep their numbers. With more
// regions no record is written and no label is discarded.
void labelMotion(const MotionBits& motion);

// labelMotion on the mask in globsPlane: a pixel moves when component 0 is not 0.0.
void labelBlobs();

}  // namespace kinetiscan
