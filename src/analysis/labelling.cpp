// Run-based connected-component labelling in a fixed number of passes, whatever the number of
// regions. Rows that touch a neighbouring row (8-connected) are cut into runs, and runs that touch
// a run of the row below are merged with union-find. The root of every set is its earliest run,
// so numbering the roots in run order numbers the regions by their first pixel, as a flood fill
// started from each unlabelled pixel in scan order would. Rows that touch no other row hold only
// regions of their own and are never stored: scattered specks cost a bit scan. One pass over the
// rows then gives the labels, the label map and the records; only the pixels of discarded regions
// are written again.
#include "analysis/labelling.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "analysis/row_runs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kinetiscan {
namespace {

using row_runs::forEachRun;
using row_runs::isEmpty;
using row_runs::kMaxRunsPerRow;
using row_runs::kWordsPerRow;
using row_runs::runsOf;
using row_runs::touches;

constexpr int kMaxRuns = kMaxRunsPerRow * kRows;

// Working storage of one call, static so a frame allocates nothing and needs little stack.
// Nothing in it survives from one call to the next. Runs are kept as bytes in separate arrays so
// that the scans over them touch as few cache lines as possible.
struct LabellingScratch {
  std::array<std::uint8_t, kMaxRuns> first;  // columns first .. last of run i, inclusive
  std::array<std::uint8_t, kMaxRuns> last;
  // Runs of a cut row r: rowBegin[r] .. rowEnd[r] - 1. A row that touches no moving pixel of
  // the rows beside it is never cut: its runs are regions of their own, labelled from its bits.
  std::array<std::int32_t, kRows> rowBegin;
  std::array<std::int32_t, kRows> rowEnd;
  std::array<bool, kRows> cut;
  std::array<std::int32_t, kRows> runsOfRow;
  std::array<std::int32_t, kRows> firstLabel;  // the label of the row's first run
  const std::uint32_t* motion;                 // the bits of the call
  // While merging: the union-find parent of run i, never above i. After numbering: its label.
  std::array<std::int32_t, kMaxRuns> link;
  std::array<std::int32_t, kMaxBlobRecords> pixelCount;
  std::array<bool, kMaxBlobRecords> kept;  // by label: the region has at least mindensity pixels
  MotionBits globsBits;                    // labelBlobs' copy of the globs plane
};

constinit LabellingScratch scratch{};

// Appends the runs of one row of bits from run `count` on, each its own set. Returns the new
// count.
int cutRow(const std::uint32_t* bits, int count) {
  forEachRun(bits, [&](int first, int last) {
    scratch.first[count] = static_cast<std::uint8_t>(first);
    scratch.last[count] = static_cast<std::uint8_t>(last);
    scratch.link[count] = count;
    ++count;
  });
  return count;
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

// Merges every run of one row with the runs below that it touches, corners included. Returns
// the number of sets joined, each of which is one region fewer.
int mergeWithBelow(int begin, int end, int belowBegin, int belowEnd) {
  auto& link = scratch.link;
  int joins = 0;
  int below = belowBegin;  // first run below that can still touch a run of this row
  int sharedBelow = -1;    // the last run below the previous run touched, and its root
  std::int32_t sharedRoot = 0;
  for (int run = begin; run < end; ++run) {
    const int first = scratch.first[run];
    const int last = scratch.last[run];
    while (below < belowEnd && scratch.last[below] + 1 < first) ++below;
    // The smaller root wins, so a root is always the earliest run of its set; `root` tracks
    // this run's root so it is never looked up.
    std::int32_t root = run;
    int other = below;
    for (; other < belowEnd && scratch.first[other] <= last + 1; ++other) {
      // A run below that the previous run of this row touched last is in that run's set.
      const std::int32_t otherRoot = other == sharedBelow ? sharedRoot : findRoot(other);
      if (otherRoot < root) {
        link[root] = otherRoot;
        root = otherRoot;
        ++joins;
      } else if (otherRoot > root) {
        link[otherRoot] = root;
        ++joins;
      }
    }
    if (other > below) {
      sharedBelow = other - 1;
      sharedRoot = root;
    }
  }
  return joins;
}

// Cuts the rows that touch a neighbouring row into runs and merges the runs of neighbouring
// rows. A row is cut only once the row above or the row itself is found to touch, so specks
// scattered on rows of their own are never stored. Returns the number of regions.
std::int32_t collectRuns(const MotionBits& motion) {
  scratch.motion = motion.data();
  int count = 0;
  int joins = 0;
  int uncutRuns = 0;
  for (int row = 0; row < kRows; ++row) {
    const std::uint32_t* bits = &motion[row * kWordsPerRow];
    const std::uint32_t* below = row > 0 ? &motion[(row - 1) * kWordsPerRow] : nullptr;
    scratch.cut[row] = false;
    if (below == nullptr || !touches(bits, below)) {
      scratch.rowBegin[row] = scratch.rowEnd[row] = count;
      scratch.runsOfRow[row] = isEmpty(bits) ? 0 : runsOf(bits);
      uncutRuns += scratch.runsOfRow[row];
      continue;
    }
    // The row below is settled but for this: its runs go before this row's, in scan order.
    if (!scratch.cut[row - 1]) {
      scratch.rowBegin[row - 1] = count;
      count = cutRow(below, count);
      scratch.rowEnd[row - 1] = count;
      scratch.cut[row - 1] = true;
      scratch.runsOfRow[row - 1] = count - scratch.rowBegin[row - 1];
      uncutRuns -= count - scratch.rowBegin[row - 1];
    }
    scratch.rowBegin[row] = count;
    count = cutRow(bits, count);
    scratch.rowEnd[row] = count;
    scratch.runsOfRow[row] = count - scratch.rowBegin[row];
    scratch.cut[row] = true;
    joins += mergeWithBelow(scratch.rowBegin[row], count, scratch.rowBegin[row - 1],
                            scratch.rowEnd[row - 1]);
  }
  return count + uncutRuns - joins;
}

#if defined(__SSE2__)
using Fill = __m128i;

// All zero, but opaque to the compiler: a constant zero store loop would be turned into a
// string instruction whose start-up costs more than a 640-byte row.
[[gnu::always_inline]] inline Fill zeroFill() {
  __m128i zero = _mm_setzero_si128();
  asm("" : "+x"(zero));
  return zero;
}

[[gnu::always_inline]] inline Fill labelFill(std::int32_t label) { return _mm_set1_epi32(label); }

// Short pieces (specks, gaps between them) take scalar stores; long ones four entries at a
// time, the last four overlapping the ones before.
[[gnu::always_inline]] inline void fill(std::int32_t* entry, int count, Fill value) {
  if (count >= 4) {
    for (int i = 0; i < count - 4; i += 4) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(entry + i), value);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(entry + count - 4), value);
    return;
  }
  const std::int32_t scalar = _mm_cvtsi128_si32(value);
  for (int i = 0; i < count; ++i) entry[i] = scalar;
}
#else
using Fill = std::int32_t;
inline Fill zeroFill() { return 0; }
inline Fill labelFill(std::int32_t label) { return label; }
inline void fill(std::int32_t* entry, int count, Fill value) {
  std::fill(entry, entry + count, value);
}
#endif

// Rows with up to this many runs write their gaps; busier rows are cleared first and then take
// their runs, which avoids a short store per gap.
constexpr int kGapWrittenRuns = 4;

// Gathers the box and pixel count of consecutive runs of one region in locals before touching
// its record, so that a large region does not chain every update through memory.
class RecordBuilder {
 public:
  explicit RecordBuilder(AnalysisState& state) : state_(state) {}
  ~RecordBuilder() { flush(); }

  // `fresh`: the run is the first of its region.
  void add(std::int32_t label, bool fresh, std::int32_t row, std::int32_t first,
           std::int32_t last) {
    if (label != current_) {
      flush();
      current_ = label;
      fresh_ = fresh;
      box_ = {row, last, row, first};
      pixels_ = 0;
    }
    // Runs come in row order, so the row only grows.
    box_.maxRow = row;
    box_.maxCol = std::max(box_.maxCol, last);
    box_.minCol = std::min(box_.minCol, first);
    pixels_ += last - first + 1;
  }

 private:
  void flush() {
    if (current_ == 0) return;
    BlobBox& record = state_.blobBoxes[current_];
    if (fresh_) {
      record = box_;
      scratch.pixelCount[current_] = pixels_;
      return;
    }
    record.maxRow = box_.maxRow;
    record.maxCol = std::max(record.maxCol, box_.maxCol);
    record.minCol = std::min(record.minCol, box_.minCol);
    scratch.pixelCount[current_] += pixels_;
  }

  AnalysisState& state_;
  std::int32_t current_ = 0;
  bool fresh_ = false;
  BlobBox box_{};
  std::int32_t pixels_ = 0;
};

// One pass over the runs in scan order: numbers the regions (a root is the first run of its
// region, and a parent precedes its child, so the parent's label is already known), writes the
// label map a row at a time while the row sits in the nearest cache, and, when the frame has
// records, gathers every region's box and pixel count.
template <bool kRecords>
void labelRuns(AnalysisState& state) {
  auto& link = scratch.link;
  RecordBuilder records(state);
  std::int32_t regions = 0;
  for (int row = 0; row < kRows; ++row) {
    std::int32_t* entries = &state.labelMap[row * kColumns];
    scratch.firstLabel[row] = regions + 1;
    const int runs = scratch.runsOfRow[row];
    if (runs == 0) {
      fill(entries, kColumns, zeroFill());
      continue;
    }
    const std::uint32_t* bits = scratch.motion + row * kWordsPerRow;
    const bool gaps = runs <= kGapWrittenRuns;
    if (!gaps) fill(entries, kColumns, zeroFill());
    int written = 0;  // entries before this column hold their final value
    const auto write = [&](std::int32_t first, std::int32_t last, std::int32_t label) {
      if (gaps) fill(entries + written, first - written, zeroFill());
      fill(entries + first, last - first + 1, labelFill(label));
      written = last + 1;
    };
    if (scratch.cut[row]) {
      for (int run = scratch.rowBegin[row]; run < scratch.rowEnd[row]; ++run) {
        const std::int32_t parent = link[run];
        const bool root = parent == run;
        regions += root;
        const std::int32_t label = root ? regions : link[parent];
        link[run] = label;
        const std::int32_t first = scratch.first[run];
        const std::int32_t last = scratch.last[run];
        write(first, last, label);
        if constexpr (kRecords) records.add(label, root, row, first, last);
      }
    } else {
      forEachRun(bits, [&](std::int32_t first, std::int32_t last) {
        ++regions;
        write(first, last, regions);
        if constexpr (kRecords) records.add(regions, true, row, first, last);
      });
    }
    if (gaps) fill(entries + written, kColumns - written, zeroFill());
  }
}

// Marks the regions below mindensity and takes their runs back out of the label map; only their
// pixels are written a second time.
void discardSmallRegions(AnalysisState& state, std::int32_t regions) {
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
  if (!anyDiscarded) return;
  for (int row = 0; row < kRows; ++row) {
    if (scratch.runsOfRow[row] == 0) continue;
    std::int32_t* entries = &state.labelMap[row * kColumns];
    if (scratch.cut[row]) {
      for (int run = scratch.rowBegin[row]; run < scratch.rowEnd[row]; ++run) {
        if (scratch.kept[scratch.link[run]]) continue;
        fill(entries + scratch.first[run], scratch.last[run] - scratch.first[run] + 1, zeroFill());
      }
      continue;
    }
    std::int32_t label = scratch.firstLabel[row];
    forEachRun(scratch.motion + row * kWordsPerRow, [&](std::int32_t first, std::int32_t last) {
      if (!scratch.kept[label]) fill(entries + first, last - first + 1, zeroFill());
      ++label;
    });
  }
}

}  // namespace

void labelMotion(const MotionBits& motion) {
  AnalysisState& state = analysisState();
  const std::int32_t regions = collectRuns(motion);
  state.blobCount = regions + 1;
  // Records exist for labels below kMaxBlobRecords - 1 only; with more regions the frame has
  // none and its labels all stay in the map.
  if (state.blobCount < kMaxBlobRecords) {
    labelRuns<true>(state);
    discardSmallRegions(state, regions);
  } else {
    labelRuns<false>(state);
  }
}

void labelBlobs() {
  const float* globs = analysisState().globsPlane[0][0].data();
  for (int word = 0; word < kPixels / 32; ++word) {
    std::uint32_t bits = 0;
    for (int bit = 0; bit < 32; ++bit) {
      bits |= static_cast<std::uint32_t>(globs[(word * 32 + bit) * kComponents] != 0.0f) << bit;
    }
    scratch.globsBits[word] = bits;
  }
  labelMotion(scratch.globsBits);
}

}  // namespace kinetiscan
