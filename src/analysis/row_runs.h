// The runs of moving pixels in one row of motion bits: where they start and end, how many there
// are, whether they touch the row below, and a walk over them in column order. Used by the
// labelling's passes.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

#include "analysis/analysis_state.h"

namespace kinetiscan::row_runs {

// Bit i of word w of a row is column w * 32 + i.
constexpr int kWordsPerRow = kColumns / 32;
static_assert(kWordsPerRow * 32 == kColumns, "rows are whole words of motion bits");
static_assert(kColumns <= 256, "a column fits in a byte");

// Runs are separated by at least one still pixel.
constexpr int kMaxRunsPerRow = (kColumns + 1) / 2;

// Moving columns whose left neighbour is still or outside the row.
inline std::uint32_t startsOf(const std::uint32_t* row, int word) {
  const std::uint32_t before = word > 0 ? row[word - 1] >> 31 : 0u;
  return row[word] & ~(row[word] << 1 | before);
}

// Moving columns whose right neighbour is still or outside the row.
inline std::uint32_t endsOf(const std::uint32_t* row, int word) {
  const std::uint32_t after = word + 1 < kWordsPerRow ? row[word + 1] << 31 : 0u;
  return row[word] & ~(row[word] >> 1 | after);
}

inline int runsOf(const std::uint32_t* row) {
  int runs = 0;
  for (int word = 0; word < kWordsPerRow; ++word) runs += std::popcount(startsOf(row, word));
  return runs;
}

// Calls visit(first, last) for every run of the row, in column order, columns inclusive.
template <class Visit>
[[gnu::always_inline]] inline void forEachRun(const std::uint32_t* row, Visit&& visit) {
  std::array<std::uint32_t, kWordsPerRow> starts;
  std::array<std::uint32_t, kWordsPerRow> ends;
  bool specks = true;
  for (int word = 0; word < kWordsPerRow; ++word) {
    starts[word] = startsOf(row, word);
    ends[word] = endsOf(row, word);
    specks = specks && starts[word] == ends[word];
  }
  // Every run one pixel long: one loop over the bits.
  if (specks) {
    for (int word = 0; word < kWordsPerRow; ++word) {
      for (std::uint32_t left = starts[word]; left != 0; left &= left - 1) {
        const int column = word * 32 + std::countr_zero(left);
        visit(column, column);
      }
    }
    return;
  }
  // A run may end words after it starts, but the n-th end always belongs to the n-th start.
  std::array<std::uint8_t, kMaxRunsPerRow> firsts;
  std::array<std::uint8_t, kMaxRunsPerRow> lasts;
  int runs = 0;
  for (int word = 0; word < kWordsPerRow; ++word) {
    for (std::uint32_t left = starts[word]; left != 0; left &= left - 1) {
      firsts[runs++] = static_cast<std::uint8_t>(word * 32 + std::countr_zero(left));
    }
  }
  runs = 0;
  for (int word = 0; word < kWordsPerRow; ++word) {
    for (std::uint32_t left = ends[word]; left != 0; left &= left - 1) {
      lasts[runs++] = static_cast<std::uint8_t>(word * 32 + std::countr_zero(left));
    }
  }
  for (int run = 0; run < runs; ++run) visit(firsts[run], lasts[run]);
}

}  // namespace kinetiscan::row_runs
