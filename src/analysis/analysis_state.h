// The module-wide picture state of the motion analysis: the four planes, the label map, the
// tuning parameters, the region records and the frame generation. One instance, fixed storage.
#pragma once

#include <array>
#include <cstdint>

namespace kinetiscan {

// The picture size, everywhere: the capture format, the planes, the panels, script coordinates.
constexpr int kColumns = 160;
constexpr int kRows = 120;
constexpr int kPixels = kColumns * kRows;
constexpr int kComponents = 3;
constexpr std::uint32_t kFrameBytes = kPixels * kComponents;
constexpr int kMaxBlobRecords = 1024;

// Indexed [row][column][component]; row 0 is the bottom row of the picture, components are in
// the frame's byte order (0 blue, 1 green, 2 red).
using ImagePlane = std::array<std::array<std::array<float, kComponents>, kColumns>, kRows>;

// One region label per pixel in pixel order (row * kColumns + column); 0 means no region.
using LabelMap = std::array<std::int32_t, kPixels>;

struct AnalysisParameters {
  float adaptivity = 1000.0f;
  float sensitivity = 0.5f;
  std::int32_t mindensity = 100;
};

// Extreme plane rows and columns of one region; maxRow == -1 marks a discarded region.
struct BlobBox {
  std::int32_t maxRow;
  std::int32_t maxCol;
  std::int32_t minRow;
  std::int32_t minCol;
};

struct AnalysisState {
  ImagePlane cameraPlane{};
  ImagePlane retinaPlane{};
  ImagePlane differencePlane{};
  ImagePlane globsPlane{};
  LabelMap labelMap{};
  AnalysisParameters parameters{};
  // Indexed by label; record 0 is never used.
  std::array<BlobBox, kMaxBlobRecords> blobBoxes{};
  // Labels given in the last frame plus one. At kMaxBlobRecords or more the records are stale.
  std::int32_t blobCount = 0;
  // Frames analysed since load: whoever shows the planes compares it with the generation it last
  // showed. 64 bits, so it never wraps.
  std::uint64_t frameGeneration = 0;
};

AnalysisState& analysisState();

// Restores the load-time state. Tests only.
void resetAnalysisStateForTest();

}  // namespace kinetiscan
