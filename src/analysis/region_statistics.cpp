// Region statistics from the strip runs: a run adds its columns, its rows and its pixels to its
// region's record, so a frame costs one step per strip run, never one per pixel.
#include "analysis/region_statistics.h"

#include <algorithm>
#include <array>

#include "analysis/row_runs.h"
#include "analysis/strip_runs.h"

namespace kinetiscan {
namespace {

using row_runs::forEachRun;
using namespace strip_runs;

constinit std::array<std::int32_t, kMaxBlobRecords> pixelCount{};

void addRun(BlobBox& record, int bottomRow, std::uint8_t rows, int first, int last) {
  const std::int32_t low = (rows & kInBottom) != 0 ? bottomRow : bottomRow + 1;
  const std::int32_t high = (rows & kInTop) != 0 ? bottomRow + 1 : bottomRow;
  record.maxRow = std::max(record.maxRow, high);
  record.maxCol = std::max<std::int32_t>(record.maxCol, last);
  record.minRow = std::min(record.minRow, low);
  record.minCol = std::min<std::int32_t>(record.minCol, first);
}

}  // namespace

bool measureRegions(AnalysisState& state, std::int32_t regions) {
  for (std::int32_t label = 1; label <= regions; ++label) {
    state.blobBoxes[label] = {-1, -1, kRows + 1, kColumns + 1};
    pixelCount[label] = 0;
  }
  for (int strip = 0; strip < kStrips; ++strip) {
    const int bottomRow = 2 * strip;
    if (!table.cut[strip]) {
      // Runs of a strip that was never cut are not stored: they are read from the bits again,
      // and each one's label from the map, at its first column in whichever row moves there.
      const std::int32_t* entries = &state.labelMap[bottomRow * kColumns];
      const std::uint32_t* bottom = rowBits(bottomRow);
      const std::uint32_t* top = rowBits(bottomRow + 1);
      forEachRun(table.either[strip].data(), [&](int first, int last) {
        const std::int32_t label = entries[first] != 0 ? entries[first] : entries[kColumns + first];
        const RunFacts facts = factsOf(bottom, top, first, last);
        addRun(state.blobBoxes[label], bottomRow, facts.rows, first, last);
        pixelCount[label] += facts.pixels;
      });
      continue;
    }
    for (int run = table.stripBegin[strip]; run < table.stripBegin[strip + 1]; ++run) {
      const std::int32_t label = table.label[run];
      addRun(state.blobBoxes[label], bottomRow, table.rows[run], table.first[run], table.last[run]);
      pixelCount[label] += table.pixels[run];
    }
  }
  const std::int32_t mindensity = state.parameters.mindensity;
  bool anyDiscarded = false;
  for (std::int32_t label = 1; label <= regions; ++label) {
    if (pixelCount[label] < mindensity) {
      state.blobBoxes[label].maxRow = -1;
      anyDiscarded = true;
    }
  }
  return anyDiscarded;
}

}  // namespace kinetiscan
