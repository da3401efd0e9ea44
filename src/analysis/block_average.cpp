// Block averages. Rect arithmetic is done in 64 bits and only the part of the rect inside the
// picture is visited, so every int32 rect is safe and a huge one costs no more than the frame.
#include "analysis/block_average.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "analysis/analysis_state.h"
#include "analysis/frame_view.h"
#include "analysis/kernels.h"
#include "analysis/pixel_math.h"

namespace kinetiscan {
namespace {

constexpr ColourRecord kBlack{0, 0, 0, 1};

struct Span {
  std::int64_t begin;
  std::int64_t end;  // exclusive
};

using Sums = std::array<std::uint64_t, kComponents>;

Sums sumFrame(const FrameView& frame, Span rows, Span columns) {
  Sums sums{};
  for (std::int64_t row = rows.begin; row < rows.end; ++row) {
    for (std::int64_t column = columns.begin; column < columns.end; ++column) {
      const std::uint64_t first = static_cast<std::uint64_t>(row * kColumns + column) * kComponents;
      for (int k = 0; k < kComponents; ++k) {
        // Bytes a short frame lacks count as 0.
        if (first + k < frame.count) sums[k] += frame.bytes[first + k];
      }
    }
  }
  return sums;
}

// The covered columns of a row's worth of totals, per component.
template <class Total, std::size_t kCount>
Sums columnSums(const std::array<Total, kCount>& totals, Span columns) {
  Sums sums{};
  for (std::int64_t column = columns.begin; column < columns.end; ++column) {
    for (int k = 0; k < kComponents; ++k) sums[k] += totals[column * kComponents + k];
  }
  return sums;
}

// Whole rows of bytes added up per position, then the covered columns per component: the row
// loop has a fixed length, so the compiler vectorises it.
Sums sumByteRows(const std::uint8_t* bytes, Span rows, Span columns) {
  static_assert(kRows * 255 <= UINT16_MAX);
  std::array<std::uint16_t, kRowValues> totals{};  // at most 120 * 255 each
  for (std::int64_t row = rows.begin; row < rows.end; ++row) {
    const std::uint8_t* rowBytes = bytes + static_cast<std::size_t>(row) * kRowValues;
    for (int i = 0; i < kRowValues; ++i)
      totals[i] = static_cast<std::uint16_t>(totals[i] + rowBytes[i]);
  }
  return columnSums(totals, columns);
}

// A plane's rows turned into 8-bit values and added up on the pixel path, whole rows at a time.
Sums sumPlaneRows(const ImagePlane& plane, Span rows, Span columns) {
  std::array<std::uint32_t, kRowValues> totals{};
  for (std::int64_t row = rows.begin; row < rows.end; ++row)
    activeKernels().addRow(plane[row][0].data(), totals.data());
  return columnSums(totals, columns);
}

Sums sumFrameRows(const FrameView& frame, Span rows, Span columns) {
  if (frame.count < kFrameBytes) return sumFrame(frame, rows, columns);  // bytes missing
  return sumByteRows(frame.bytes, rows, columns);
}

Sums sumPlane(const ImagePlane& plane, Span rows, Span columns) {
  Sums sums{};
  for (std::int64_t row = rows.begin; row < rows.end; ++row) {
    for (std::int64_t column = columns.begin; column < columns.end; ++column) {
      for (int k = 0; k < kComponents; ++k) sums[k] += componentToByte(plane[row][column][k]);
    }
  }
  return sums;
}

template <bool kRowWise>
ColourRecord average(BlockSource source, const HostRect& rect, FrameView frame) {
  const Span rows{kRows - static_cast<std::int64_t>(rect.bottom),
                  kRows - static_cast<std::int64_t>(rect.top)};
  const Span columns{rect.left, rect.right};
  if (rows.begin >= rows.end || columns.begin >= columns.end) return kBlack;
  // Each side is below 2^33, so the area fits in 64 unsigned bits.
  const std::uint64_t area = static_cast<std::uint64_t>(rows.end - rows.begin) *
                             static_cast<std::uint64_t>(columns.end - columns.begin);

  const Span inRows{std::max<std::int64_t>(rows.begin, 0), std::min<std::int64_t>(rows.end, kRows)};
  const Span inColumns{std::max<std::int64_t>(columns.begin, 0),
                       std::min<std::int64_t>(columns.end, kColumns)};

  Sums sums{};
  const AnalysisState& state = analysisState();
  const NearestRounding nearest;  // the planes' conversion to bytes
  switch (source) {
    case BlockSource::frame: {
      if (!hasFrame(frame)) return kBlack;
      sums = kRowWise ? sumFrameRows(frame, inRows, inColumns) : sumFrame(frame, inRows, inColumns);
      break;
    }
    case BlockSource::retina:
      sums = kRowWise ? sumPlaneRows(state.retinaPlane, inRows, inColumns)
                      : sumPlane(state.retinaPlane, inRows, inColumns);
      break;
    case BlockSource::difference:
      sums = kRowWise ? sumPlaneRows(state.differencePlane, inRows, inColumns)
                      : sumPlane(state.differencePlane, inRows, inColumns);
      break;
  }

  // Every sum is at most 255 * area, so the averages are bytes already.
  return {static_cast<std::uint8_t>(sums[2] / area), static_cast<std::uint8_t>(sums[1] / area),
          static_cast<std::uint8_t>(sums[0] / area), 1};
}

}  // namespace

ColourRecord blockAverage(BlockSource source, const HostRect& rect, FrameView frame) {
  return average<true>(source, rect, frame);
}

ColourRecord blockAveragePlain(BlockSource source, const HostRect& rect, FrameView frame) {
  return average<false>(source, rect, frame);
}

}  // namespace kinetiscan
