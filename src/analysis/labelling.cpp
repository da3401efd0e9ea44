// Connected-component labelling over strips of two rows, in a fixed number of passes whatever
// the shape of the mask. Any two moving pixels of neighbouring columns of a strip are
// 8-neighbours, so the runs of a strip's two rows taken together (strip runs) are connected; a
// frame has at most 4800 of them, and a chessboard has one per strip. Strip runs of neighbouring
// strips are merged with union-find when a pixel of the upper strip's bottom row touches one of
// the lower strip's top row; the root of a set is the run holding the set's first pixel in scan
// order, so numbering the roots by that pixel numbers the regions as a flood fill started from
// each unlabelled pixel in scan order would. One pass over the strips then gives the labels and
// the label map; the region statistics read the strip runs afterwards, and only the pixels of the
// regions they discard are written again.
#include "analysis/labelling.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "analysis/region_statistics.h"
#include "analysis/row_runs.h"
#include "analysis/strip_runs.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kinetiscan {

constinit strip_runs::StripRuns strip_runs::table{};

namespace {

using row_runs::forEachRun;
using namespace strip_runs;

constinit MotionBits globsBits{};  // labelBlobs' copy of the globs plane

// The first moving column of `bits` at or after `from`; there is one.
int firstFrom(const std::uint32_t* bits, int from) {
  int word = from / 32;
  std::uint32_t rest = bits[word] & (~0u << (from % 32));
  while (rest == 0) rest = bits[++word];
  return word * 32 + std::countr_zero(rest);
}

// Pixels of `bits` with a moving neighbour in `other`, the row beside it (corners included).
RowBits touching(const std::uint32_t* bits, const std::uint32_t* other) {
  RowBits result;
  for (int word = 0; word < kWordsPerRow; ++word) {
    const std::uint32_t before = word > 0 ? other[word - 1] >> 31 : 0u;
    const std::uint32_t after = word + 1 < kWordsPerRow ? other[word + 1] << 31 : 0u;
    const std::uint32_t under = other[word];
    result[word] = bits[word] & (under | under << 1 | under >> 1 | before | after);
  }
  return result;
}

// Cuts strip s into runs, each its own set. Returns the new run count.
int cutStrip(int strip, int count) {
  const std::uint32_t* bottom = rowBits(2 * strip);
  const std::uint32_t* top = rowBits(2 * strip + 1);
  const std::int32_t bottomStart = 2 * strip * kColumns;
  forEachRun(table.either[strip].data(), [&](int first, int last) {
    const RunFacts facts = factsOf(bottom, top, first, last);
    table.first[count] = static_cast<std::uint8_t>(first);
    table.last[count] = static_cast<std::uint8_t>(last);
    table.rows[count] = facts.rows;
    table.pixels[count] = static_cast<std::uint16_t>(facts.pixels);
    // Without a pixel in the bottom row the run's first column is moving in the top row.
    table.key[count] = facts.inBottom == 0    ? bottomStart + kColumns + first
                       : bitAt(bottom, first) ? bottomStart + first
                                              : bottomStart + firstFrom(bottom, first);
    table.parent[count] = count;
    ++count;
  });
  return count;
}

std::int32_t findRoot(std::int32_t node) {
  auto& parent = table.parent;
  while (parent[node] != node) {
    parent[node] = parent[parent[node]];  // path halving keeps later look-ups short
    node = parent[node];
  }
  return node;
}

// Joins the sets of two runs; the root with the earlier first pixel stays. Returns whether they
// were apart.
bool join(std::int32_t a, std::int32_t b) {
  a = findRoot(a);
  b = findRoot(b);
  if (a == b) return false;
  if (table.key[a] < table.key[b]) {
    table.parent[b] = a;
  } else {
    table.parent[a] = b;
  }
  return true;
}

// Merges the runs of strip s with the runs of strip s - 1 that touch them. Returns the number of
// sets joined, each of which is one region fewer.
int mergeWithBelow(int strip) {
  const std::uint32_t* bottom = rowBits(2 * strip);
  const std::uint32_t* belowTop = rowBits(2 * strip - 1);
  const RowBits touch = touching(bottom, belowTop);
  const int belowEnd = table.stripBegin[strip];
  const int end = table.stripBegin[strip + 1];
  int joins = 0;
  int below = table.stripBegin[strip - 1];  // first run below that can still touch a run
  for (int run = belowEnd; run < end; ++run) {
    if ((table.rows[run] & kInBottom) == 0) continue;
    const int first = table.first[run];
    const int last = table.last[run];
    while (below < belowEnd && table.last[below] + 1 < first) ++below;
    for (int other = below; other < belowEnd && table.first[other] <= last + 1; ++other) {
      const int otherFirst = table.first[other];
      const int otherLast = table.last[other];
      // Within the run below, every moving neighbour of a column belongs to it (the columns
      // beside it are still in both its rows); just outside it, only its end column counts.
      const int from = std::max(first, otherFirst);
      const int to = std::min(last, otherLast);
      const bool touches =
          (from <= to && anyIn(touch.data(), from, to)) ||
          (otherFirst - 1 >= first && bitAt(bottom, otherFirst - 1) &&
           bitAt(belowTop, otherFirst)) ||
          (otherLast + 1 <= last && bitAt(bottom, otherLast + 1) && bitAt(belowTop, otherLast));
      if (touches) joins += join(run, other);
    }
  }
  return joins;
}

bool anyOf(const RowBits& bits) {
  std::uint32_t any = 0;
  for (std::uint32_t word : bits) any |= word;
  return any != 0;
}

// Cuts the strips that touch a neighbouring strip into runs and merges the runs of neighbouring
// strips. Returns the number of regions.
std::int32_t collectRuns(const MotionBits& motion) {
  table.motion = motion.data();
  // touchesBelow[s]: strip s touches strip s - 1.
  std::array<bool, kStrips + 1> touchesBelow{};
  for (int strip = 0; strip < kStrips; ++strip) {
    const std::uint32_t* bottom = rowBits(2 * strip);
    const std::uint32_t* top = rowBits(2 * strip + 1);
    for (int word = 0; word < kWordsPerRow; ++word) {
      table.either[strip][word] = bottom[word] | top[word];
    }
    touchesBelow[strip] = strip > 0 && anyOf(touching(bottom, rowBits(2 * strip - 1)));
  }
  int count = 0;
  int joins = 0;
  int uncutRuns = 0;
  for (int strip = 0; strip < kStrips; ++strip) {
    table.stripBegin[strip] = count;
    table.cut[strip] = touchesBelow[strip] || touchesBelow[strip + 1];
    if (!table.cut[strip]) {
      uncutRuns += row_runs::runsOf(table.either[strip].data());
    } else {
      count = cutStrip(strip, count);
    }
    table.stripBegin[strip + 1] = count;
    if (touchesBelow[strip]) joins += mergeWithBelow(strip);
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

// Bits of a row expanded to entries: all ones where moving, zero elsewhere.
#if defined(__SSE2__)
// Entry k of row n is all ones where bit k of n is set.
struct alignas(16) NibbleMasks {
  std::int32_t masks[16][4];
};
constexpr NibbleMasks kNibbleMasks = [] {
  NibbleMasks table{};
  for (int nibble = 0; nibble < 16; ++nibble) {
    for (int k = 0; k < 4; ++k) table.masks[nibble][k] = -((nibble >> k) & 1);
  }
  return table;
}();

// Keeps the entries of one 32-column word whose pixels move, zeroing the rest.
void keepMoving(std::int32_t* entries, std::uint32_t bits) {
  for (int group = 0; group < 8; ++group) {
    auto* at = reinterpret_cast<__m128i*>(entries + 4 * group);
    const auto* mask =
        reinterpret_cast<const __m128i*>(kNibbleMasks.masks[bits >> (4 * group) & 15]);
    _mm_storeu_si128(at, _mm_and_si128(_mm_loadu_si128(at), _mm_load_si128(mask)));
  }
}
#else
void keepMoving(std::int32_t* entries, std::uint32_t bits) {
  for (int column = 0; column < 32; ++column) {
    if (((bits >> column) & 1u) == 0) entries[column] = 0;
  }
}
#endif

// Writes one row of the label map: the label of each strip run over its columns, then zero
// where the row itself does not move (the strip's other row does).
void writeRow(std::int32_t* entries, const std::uint32_t* bits, const RowBits& either, int begin,
              int end) {
  bool empty = true;
  for (int word = 0; word < kWordsPerRow; ++word) empty = empty && bits[word] == 0;
  if (empty) {
    fill(entries, kColumns, zeroFill());
    return;
  }
  const bool gaps = end - begin <= kGapWrittenRuns;
  if (!gaps) fill(entries, kColumns, zeroFill());
  int written = 0;  // entries before this column hold their final value
  for (int run = begin; run < end; ++run) {
    const int first = table.first[run];
    const int last = table.last[run];
    if (gaps) fill(entries + written, first - written, zeroFill());
    fill(entries + first, last - first + 1, labelFill(table.label[run]));
    written = last + 1;
  }
  if (gaps) fill(entries + written, kColumns - written, zeroFill());
  for (int word = 0; word < kWordsPerRow; ++word) {
    if (bits[word] != either[word]) keepMoving(entries + 32 * word, bits[word]);
  }
}

// A strip whose runs are regions of their own: numbered in column order, each written over its
// columns in both rows and then masked to the moving pixels of each row.
void labelUncutStrip(AnalysisState& state, int strip, std::int32_t& regions) {
  const int bottomRow = 2 * strip;
  const std::uint32_t* bottom = rowBits(bottomRow);
  const std::uint32_t* top = rowBits(bottomRow + 1);
  std::int32_t* bottomEntries = &state.labelMap[bottomRow * kColumns];
  std::int32_t* topEntries = bottomEntries + kColumns;
  const RowBits& either = table.either[strip];
  fill(bottomEntries, kColumns, zeroFill());
  fill(topEntries, kColumns, zeroFill());
  if (!anyOf(either)) return;
  const auto labelRun = [&](int first, int last) {
    ++regions;
    const Fill label = labelFill(regions);
    fill(bottomEntries + first, last - first + 1, label);
    fill(topEntries + first, last - first + 1, label);
  };
  // Scan order: the runs with a pixel in the bottom row first, then those only in the top row.
  bool bottomCoversAll = true;
  bool bottomEmpty = true;
  for (int word = 0; word < kWordsPerRow; ++word) {
    bottomCoversAll = bottomCoversAll && bottom[word] == either[word];
    bottomEmpty = bottomEmpty && bottom[word] == 0;
  }
  if (bottomCoversAll || bottomEmpty) {
    forEachRun(either.data(), labelRun);
  } else {
    forEachRun(either.data(), [&](int first, int last) {
      if (anyIn(bottom, first, last)) labelRun(first, last);
    });
    forEachRun(either.data(), [&](int first, int last) {
      if (!anyIn(bottom, first, last)) labelRun(first, last);
    });
  }
  for (int word = 0; word < kWordsPerRow; ++word) {
    if (bottom[word] != either[word]) keepMoving(bottomEntries + 32 * word, bottom[word]);
    if (top[word] != either[word]) keepMoving(topEntries + 32 * word, top[word]);
  }
}

// One pass over the strips in scan order: numbers the regions (the roots of a strip in the order
// of their first pixels: those starting in the bottom row, then those starting in the top row),
// and writes the label map while the rows sit in the nearest cache.
void labelRuns(AnalysisState& state) {
  std::int32_t regions = 0;
  const auto open = [&](int run) { table.label[run] = ++regions; };
  for (int strip = 0; strip < kStrips; ++strip) {
    const int begin = table.stripBegin[strip];
    const int end = table.stripBegin[strip + 1];
    const int bottomRow = 2 * strip;
    if (!table.cut[strip]) {
      labelUncutStrip(state, strip, regions);
      continue;
    }
    for (int run = begin; run < end; ++run) {
      if (table.parent[run] == run && (table.rows[run] & kInBottom) != 0) open(run);
    }
    for (int run = begin; run < end; ++run) {
      if (table.parent[run] == run && (table.rows[run] & kInBottom) == 0) open(run);
    }
    for (int run = begin; run < end; ++run) {
      if (table.parent[run] != run) table.label[run] = table.label[findRoot(run)];
    }
    writeRow(&state.labelMap[bottomRow * kColumns], rowBits(bottomRow), table.either[strip], begin,
             end);
    writeRow(&state.labelMap[(bottomRow + 1) * kColumns], rowBits(bottomRow + 1),
             table.either[strip], begin, end);
  }
}

// Takes the runs of the regions the statistics discarded (their record's maxRow is -1) back out
// of the label map; only their pixels are written a second time.
void eraseDiscardedRegions(AnalysisState& state) {
  const auto discarded = [&](std::int32_t label) { return state.blobBoxes[label].maxRow == -1; };
  for (int strip = 0; strip < kStrips; ++strip) {
    std::int32_t* entries = &state.labelMap[2 * strip * kColumns];
    if (!table.cut[strip]) {
      forEachRun(table.either[strip].data(), [&](int first, int last) {
        // The run's label, at its first column in whichever row moves there.
        const std::int32_t label = entries[first] != 0 ? entries[first] : entries[kColumns + first];
        if (discarded(label)) {
          fill(entries + first, last - first + 1, zeroFill());
          fill(entries + kColumns + first, last - first + 1, zeroFill());
        }
      });
      continue;
    }
    for (int run = table.stripBegin[strip]; run < table.stripBegin[strip + 1]; ++run) {
      if (!discarded(table.label[run])) continue;
      // The run's columns hold its label or nothing, in both rows.
      const int first = table.first[run];
      const int width = table.last[run] - first + 1;
      fill(entries + first, width, zeroFill());
      fill(entries + kColumns + first, width, zeroFill());
    }
  }
}

}  // namespace

void labelMotion(const MotionBits& motion) {
  AnalysisState& state = analysisState();
  const std::int32_t regions = collectRuns(motion);
  state.blobCount = regions + 1;
  // Records exist for labels below kMaxBlobRecords - 1 only; with more regions the frame has
  // none and its labels all stay in the map.
  labelRuns(state);
  if (state.blobCount < kMaxBlobRecords && measureRegions(state, regions)) {
    eraseDiscardedRegions(state);
  }
}

void labelBlobs() {
  const float* globs = analysisState().globsPlane[0][0].data();
  for (int word = 0; word < kPixels / 32; ++word) {
    std::uint32_t bits = 0;
    for (int bit = 0; bit < 32; ++bit) {
      bits |= static_cast<std::uint32_t>(globs[(word * 32 + bit) * kComponents] != 0.0f) << bit;
    }
    globsBits[word] = bits;
  }
  labelMotion(globsBits);
}

}  // namespace kinetiscan
