// Run-based connected-component labelling. Every row of the motion bits is cut into runs; runs
// that touch a run of the row below (8-connected) are merged with union-find. The root of every
// set is its earliest run, so numbering the roots in run order numbers the regions by their first
// pixel, as a flood fill started from each unlabelled pixel in scan order would. Counts, boxes and
// discards then take one pass over the runs, and the label map one write, whatever the number of
// regions.
#include "analysis/labelling.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kinetiscan {
namespace {

constexpr int kWordsPerRow = kColumns / 32;
static_assert(kWordsPerRow * 32 == kColumns, "rows are whole words of motion bits");

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
  std::array<bool, kMaxBlobRecords> kept;  // by label: the region has at least mindensity pixels
  MotionBits motion;                       // labelBlobs' copy of the globs plane
};

constinit LabellingScratch scratch{};

// One row's runs as bits: where each starts and where each ends (its last column).
struct RowEdges {
  std::array<std::uint32_t, kWordsPerRow> starts;
  std::array<std::uint32_t, kWordsPerRow> ends;
  bool touchesBelow;  // some pixel of the row has a moving 8-neighbour in the row below
};

RowEdges findEdges(const std::uint32_t* row, const std::uint32_t* below) {
  RowEdges edges{};
  // The bit just before a word's first column, or just after its last, from the next word.
  const auto before = [](const std::uint32_t* bits, int word) {
    return word > 0 ? bits[word - 1] >> 31 : 0u;
  };
  const auto after = [](const std::uint32_t* bits, int word) {
    return word + 1 < kWordsPerRow ? bits[word + 1] << 31 : 0u;
  };
  std::uint32_t touching = 0;
  for (int word = 0; word < kWordsPerRow; ++word) {
    const std::uint32_t bits = row[word];
    edges.starts[word] = bits & ~(bits << 1 | before(row, word));
    edges.ends[word] = bits & ~(bits >> 1 | after(row, word));
    if (below != nullptr) {
      const std::uint32_t under = below[word];
      touching |=
          bits & (under | under << 1 | under >> 1 | before(below, word) | after(below, word));
    }
  }
  edges.touchesBelow = touching != 0;
  return edges;
}

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

// Cuts the mask into runs and merges runs of neighbouring rows that touch, corners included.
// Returns the number of runs.
int collectRuns(const MotionBits& motion) {
  int count = 0;
  int belowBegin = 0;  // runs of the row below: belowBegin .. belowEnd - 1
  int belowEnd = 0;
  for (int row = 0; row < kRows; ++row) {
    const RowEdges edges = findEdges(&motion[row * kWordsPerRow],
                                     row > 0 ? &motion[(row - 1) * kWordsPerRow] : nullptr);
    const int rowBegin = count;
    int below = belowBegin;  // first run below that can still touch a run of this row
    int sharedBelow = -1;    // the last run below the previous run touched, and its root
    std::int32_t sharedRoot = 0;
    // Every start is followed by its end, so the two words advance together.
    int startWord = 0;
    int endWord = 0;
    std::uint32_t starts = edges.starts[0];
    std::uint32_t ends = edges.ends[0];
    for (;;) {
      while (starts == 0 && ++startWord < kWordsPerRow) starts = edges.starts[startWord];
      if (starts == 0) break;
      while (ends == 0) ends = edges.ends[++endWord];
      const int first = startWord * 32 + std::countr_zero(starts);
      const int last = endWord * 32 + std::countr_zero(ends);
      starts &= starts - 1;
      ends &= ends - 1;

      const std::int32_t node = count + 1;
      scratch.runs[count] = {row, first, last};
      scratch.link[node] = node;
      ++count;
      // A row that does not touch the one below (scattered specks) starts a region per run.
      if (!edges.touchesBelow) continue;

      // Merge with every touching run below. The smaller root wins, so a root is always the
      // earliest run of its set; `root` tracks this run's root so it is never looked up.
      std::int32_t root = node;
      while (below < belowEnd && scratch.runs[below].last < first - 1) ++below;
      int other = below;
      for (; other < belowEnd && scratch.runs[other].first <= last + 1; ++other) {
        // A run below that the previous run of this row touched last is in that run's set.
        const std::int32_t otherRoot = other == sharedBelow ? sharedRoot : findRoot(other + 1);
        if (otherRoot < root) {
          scratch.link[root] = otherRoot;
          root = otherRoot;
        } else if (otherRoot > root) {
          scratch.link[otherRoot] = root;
        }
      }
      if (other > below) {
        sharedBelow = other - 1;
        sharedRoot = root;
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

// Boxes and counts of every region, then the discards. Returns whether any region was discarded.
bool buildRecords(AnalysisState& state, int runCount, std::int32_t regions) {
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
    const bool kept = scratch.pixelCount[label] >= mindensity;
    scratch.kept[label] = kept;
    if (!kept) {
      state.blobBoxes[label].maxRow = -1;
      anyDiscarded = true;
    }
  }
  return anyDiscarded;
}

// Long runs (a region filling the frame) are written four labels at a time.
void fillLabels(std::int32_t* entry, int count, std::int32_t label) {
#if defined(__SSE2__)
  const __m128i four = _mm_set1_epi32(label);
  for (; count >= 4; count -= 4, entry += 4) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(entry), four);
  }
#endif
  for (; count > 0; --count) *entry++ = label;
}

void writeLabels(AnalysisState& state, int runCount, bool anyDiscarded) {
  std::memset(state.labelMap.data(), 0, sizeof state.labelMap);
  for (int i = 0; i < runCount; ++i) {
    const Run& run = scratch.runs[i];
    const std::int32_t label = scratch.link[i + 1];
    if (anyDiscarded && !scratch.kept[label]) continue;
    fillLabels(&state.labelMap[run.row * kColumns + run.first], run.last - run.first + 1, label);
  }
}

}  // namespace

void labelMotion(const MotionBits& motion) {
  AnalysisState& state = analysisState();
  const int runCount = collectRuns(motion);
  const std::int32_t regions = numberRegions(runCount);
  state.blobCount = regions + 1;
  // Records exist for labels below kMaxBlobRecords - 1 only; with more regions the frame has
  // none and its labels all stay in the map.
  const bool anyDiscarded =
      state.blobCount < kMaxBlobRecords && buildRecords(state, runCount, regions);
  writeLabels(state, runCount, anyDiscarded);
}

void labelBlobs() {
  const float* globs = analysisState().globsPlane[0][0].data();
  for (int word = 0; word < kPixels / 32; ++word) {
    std::uint32_t bits = 0;
    for (int bit = 0; bit < 32; ++bit) {
      bits |= static_cast<std::uint32_t>(globs[(word * 32 + bit) * kComponents] != 0.0f) << bit;
    }
    scratch.motion[word] = bits;
  }
  labelMotion(scratch.motion);
}

}  // namespace kinetiscan
