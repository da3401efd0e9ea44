// The labelling's picture of a motion mask: strips of two rows, the runs of each strip (its two
// rows taken together), and each run's label. The labelling makes it; the region statistics read
// it afterwards, so neither scans the mask more than it must.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "analysis/row_runs.h"

namespace kinetiscan::strip_runs {

using row_runs::kMaxRunsPerRow;
using row_runs::kWordsPerRow;

constexpr int kStrips = kRows / 2;
static_assert(kStrips * 2 == kRows, "rows pair into strips");
constexpr int kMaxStripRuns = kMaxRunsPerRow * kStrips;

using RowBits = std::array<std::uint32_t, kWordsPerRow>;

// Which rows of its strip a strip run has pixels in.
constexpr std::uint8_t kInBottom = 1;
constexpr std::uint8_t kInTop = 2;

// The labelling's working storage, static so a frame allocates nothing and needs little stack.
// It holds the last mask's strip runs until the next labelling; nothing else survives a call.
struct StripRuns {
  std::array<std::uint8_t, kMaxStripRuns> first;  // columns first .. last of run i, inclusive
  std::array<std::uint8_t, kMaxStripRuns> last;
  std::array<std::uint8_t, kMaxStripRuns> rows;     // kInBottom | kInTop
  std::array<std::uint16_t, kMaxStripRuns> pixels;  // moving pixels of the run
  std::array<std::int32_t, kMaxStripRuns> key;      // pixel index of the run's first pixel
  std::array<std::int32_t, kMaxStripRuns> parent;   // union-find; a root has the smallest key
  std::array<std::int32_t, kMaxStripRuns> label;
  // Runs of strip s: stripBegin[s] .. stripBegin[s + 1] - 1.
  std::array<std::int32_t, kStrips + 1> stripBegin;
  std::array<RowBits, kStrips> either;  // the bits of both rows of a strip
  // A strip that touches neither neighbouring strip holds only regions of its own: it is never
  // cut, and its runs are labelled straight from its bits.
  std::array<bool, kStrips> cut;
  const std::uint32_t* motion;  // the bits of the call
};

extern StripRuns table;

inline const std::uint32_t* rowBits(int row) { return table.motion + row * kWordsPerRow; }

// std::popcount without the POPCNT instruction, which the library cannot assume, is a call into
// the compiler's runtime; this stays inline.
[[gnu::always_inline]] inline int bitCount(std::uint32_t bits) {
#if defined(__POPCNT__)
  return std::popcount(bits);
#else
  bits = bits - ((bits >> 1) & 0x55555555u);
  bits = (bits & 0x33333333u) + ((bits >> 2) & 0x33333333u);
  bits = (bits + (bits >> 4)) & 0x0F0F0F0Fu;
  return static_cast<int>((bits * 0x01010101u) >> 24);
#endif
}

// Moving pixels of `bits` in columns first .. last.
[[gnu::always_inline]] inline int countIn(const std::uint32_t* bits, int first, int last) {
  const int firstWord = first / 32;
  const int lastWord = last / 32;
  const std::uint32_t head = ~0u << (first % 32);
  const std::uint32_t tail = ~0u >> (31 - last % 32);
  if (firstWord == lastWord) return bitCount(bits[firstWord] & head & tail);
  int count = bitCount(bits[firstWord] & head) + bitCount(bits[lastWord] & tail);
  for (int word = firstWord + 1; word < lastWord; ++word) count += bitCount(bits[word]);
  return count;
}

inline bool anyIn(const std::uint32_t* bits, int first, int last) {
  const int firstWord = first / 32;
  const int lastWord = last / 32;
  const std::uint32_t head = ~0u << (first % 32);
  const std::uint32_t tail = ~0u >> (31 - last % 32);
  if (firstWord == lastWord) return (bits[firstWord] & head & tail) != 0;
  std::uint32_t any = (bits[firstWord] & head) | (bits[lastWord] & tail);
  for (int word = firstWord + 1; word < lastWord; ++word) any |= bits[word];
  return any != 0;
}

[[gnu::always_inline]] inline bool bitAt(const std::uint32_t* bits, int column) {
  return ((bits[column / 32] >> (column % 32)) & 1u) != 0;
}

// What the labelling and the records need of one strip run.
struct RunFacts {
  std::uint8_t rows;  // kInBottom | kInTop
  int inBottom;
  int pixels;
};

[[gnu::always_inline]] inline RunFacts factsOf(const std::uint32_t* bottom,
                                               const std::uint32_t* top, int first, int last) {
  int inBottom;
  int inTop;
  if (first == last) {  // specks: no counting
    inBottom = bitAt(bottom, first);
    inTop = bitAt(top, first);
  } else {
    inBottom = countIn(bottom, first, last);
    inTop = countIn(top, first, last);
  }
  return {static_cast<std::uint8_t>((inBottom > 0 ? kInBottom : 0) | (inTop > 0 ? kInTop : 0)),
          inBottom, inBottom + inTop};
}

}  // namespace kinetiscan::strip_runs
