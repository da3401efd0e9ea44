// Run-based connected-component labelling. Every row is cut into runs of mask pixels; runs that
// touch a run of the row below (8-connected) are merged with union-find. The root of every set
// is its earliest run, so numbering the roots in run order numbers the regions by their first
// pixel, as a flood fill started from each unlabelled pixel in scan order would. Counts, boxes
// and discards then take one pass over the runs instead of one pass over the frame per label.
#include "analysis/labelling.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "analysis/analysis_state.h"

namespace kinetiscan {
namespace {

// Runs are separated by at least one still pixel.
constexpr int kMaxRunsPerRow = (kColumns + 1) / 2;
constexpr int kMaxRuns = kMaxRunsPerRow * kRows;

struct Run {
  std::int32_t row;
  std::int32_t first;  // columns first .. last, inclusive
  std::int32_t last;
};

// Working storage of one call, static so a frame allocates nothing and needs little stack.
// Nothing in it survives from one call to the next.
struct LabellingScratch {
  std::array<Run, kMaxRuns> runs;
  // Indexed by run number + 1. While merging: the union-find parent, never above the run
  // itself. After numbering: the region label of the run.
  std::array<std::int32_t, kMaxRuns + 1> link;
  std::array<std::int32_t, kMaxBlobRecords> pixelCount;
};

constinit LabellingScratch scratch{};

std::int32_t findRoot(std::int32_t node) {
  auto& link = scratch.link;
  for (;;) {
    const std::int32_t parent = link[node];
    if (parent == node) return node;
    const std::int32_t grandparent = link[parent];
    if (grandparent == parent) return parent;
    link[node] = grandparent;  // path halving keeps later look-ups short
    node = grandparent;
  }
}

bool isMoving(const AnalysisState& state, int row, int column) {
  return state.globsPlane[row][column][0] != 0.0f;
}

// Cuts the mask into runs and merges runs of neighbouring rows that touch, corners included.
// Returns the number of runs.
int collectRuns(const AnalysisState& state) {
  int count = 0;
  int belowBegin = 0;  // runs of the row below: belowBegin .. belowEnd - 1
  int belowEnd = 0;
  for (int row = 0; row < kRows; ++row) {
    const int rowBegin = count;
    int below = belowBegin;  // first run below that can still touch a run of this row
    int column = 0;
    while (column < kColumns) {
      if (!isMoving(state, row, column)) {
        ++column;
        continue;
      }
      const int first = column;
      while (column < kColumns && isMoving(state, row, column)) ++column;
      const int last = column - 1;
      const std::int32_t node = count + 1;
      scratch.runs[count] = {row, first, last};
      scratch.link[node] = node;
      ++count;

      // Merge with every touching run below. The smaller root wins, so a root is always the
      // earliest run of its set; `root` tracks this run's root so it is never looked up.
      std::int32_t root = node;
      while (below < belowEnd && scratch.runs[below].last < first - 1) ++below;
      for (int other = below; other < belowEnd && scratch.runs[other].first <= last + 1; ++other) {
        const std::int32_t otherRoot = findRoot(other + 1);
        if (otherRoot < root) {
          scratch.link[root] = otherRoot;
          root = otherRoot;
        } else if (otherRoot > root) {
          scratch.link[otherRoot] = root;
        }
      }
    }
    belowBegin = rowBegin;
    belowEnd = count;
  }
  return count;
}

// Replaces every run's link by its region label. Returns the number of regions.
std::int32_t numberRegions(int runCount) {
  auto& link = scratch.link;
  std::int32_t regions = 0;
  // A parent precedes its child, so its label is known by the time the child is reached.
  for (std::int32_t node = 1; node <= runCount; ++node) {
    link[node] = link[node] == node ? ++regions : link[link[node]];
  }
  return regions;
}

void writeLabels(AnalysisState& state, int runCount) {
  state.labelMap.fill(0);
  for (int i = 0; i < runCount; ++i) {
    const Run& run = scratch.runs[i];
    std::int32_t* entry = &state.labelMap[run.row * kColumns + run.first];
    for (int column = run.first; column <= run.last; ++column) *entry++ = scratch.link[i + 1];
  }
}

void buildRecords(AnalysisState& state, int runCount, std::int32_t regions) {
  for (std::int32_t label = 1; label <= regions; ++label) {
    state.blobBoxes[label] = {-1, -1, kRows + 1, kColumns + 1};
    scratch.pixelCount[label] = 0;
  }
  // Neighbouring runs mostly belong to one region. Gathering them in locals before touching the
  // record keeps a large region from chaining every update through memory.
  std::int32_t current = 0;
  BlobBox box{};
  std::int32_t pixels = 0;
  const auto flush = [&] {
    if (current == 0) return;
    BlobBox& record = state.blobBoxes[current];
    record.maxRow = std::max(record.maxRow, box.maxRow);
    record.maxCol = std::max(record.maxCol, box.maxCol);
    record.minRow = std::min(record.minRow, box.minRow);
    record.minCol = std::min(record.minCol, box.minCol);
    scratch.pixelCount[current] += pixels;
  };
  for (int i = 0; i < runCount; ++i) {
    const Run& run = scratch.runs[i];
    if (scratch.link[i + 1] != current) {
      flush();
      current = scratch.link[i + 1];
      box = {run.row, run.last, run.row, run.first};
      pixels = 0;
    }
    // Runs come in row order, so the row only grows.
    box.maxRow = run.row;
    box.maxCol = std::max(box.maxCol, run.last);
    box.minCol = std::min(box.minCol, run.first);
    pixels += run.last - run.first + 1;
  }
  flush();

  const std::int32_t mindensity = state.parameters.mindensity;
  bool anyDiscarded = false;
  for (std::int32_t label = 1; label <= regions; ++label) {
    if (scratch.pixelCount[label] < mindensity) {
      state.blobBoxes[label].maxRow = -1;
      anyDiscarded = true;
    }
  }
  if (!anyDiscarded) return;
  for (int i = 0; i < runCount; ++i) {
    const Run& run = scratch.runs[i];
    if (scratch.pixelCount[scratch.link[i + 1]] >= mindensity) continue;
    std::int32_t* entry = &state.labelMap[run.row * kColumns + run.first];
    for (int column = run.first; column <= run.last; ++column) *entry++ = 0;
  }
}

}  // namespace

void labelBlobs() {
  AnalysisState& state = analysisState();
  const int runCount = collectRuns(state);
  const std::int32_t regions = numberRegions(runCount);
  writeLabels(state, runCount);
  state.blobCount = regions + 1;
  // Records exist for labels below kMaxBlobRecords - 1 only; with more regions the frame has
  // none and its labels all stay in the map.
  if (state.blobCount >= kMaxBlobRecords) return;
  buildRecords(state, runCount, regions);
}

}  // namespace kinetiscan
