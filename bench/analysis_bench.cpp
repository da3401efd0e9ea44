// Cost of the per-frame analysis on typical and worst-case scenes, and of the on-demand
// measurements over the whole frame and over a huge rect.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "analysis/analysis_state.h"
#include "analysis/block_average.h"
#include "analysis/colour_bounds.h"
#include "analysis/frame_analysis.h"
#include "analysis/frame_view.h"
#include "analysis/labelling.h"

namespace kinetiscan {
namespace {

using Frame = std::vector<std::uint8_t>;

// The frames a benchmark cycles through, served as the capture session would serve them.
std::vector<Frame> frames;
std::size_t currentIndex = 0;

FrameView serveFrame() {
  const Frame& frame = frames[currentIndex];
  return {frame.data(), static_cast<std::uint32_t>(frame.size())};
}

void setPixel(Frame& frame, int row, int column, std::uint8_t value) {
  const std::size_t first = (static_cast<std::size_t>(row) * kColumns + column) * kComponents;
  frame[first] = frame[first + 1] = frame[first + 2] = value;
}

void start(std::vector<Frame> scene) {
  resetAnalysisStateForTest();
  frames = std::move(scene);
  currentIndex = 0;
  setFrameSource(&serveFrame);
}

// A textured background with sensor noise and four bright objects that move from frame to frame,
// plus a sprinkle of single-pixel speckles, against a retina that has learnt the background.
void startTypicalScene() {
  std::mt19937 random(7);
  Frame background(kFrameBytes);
  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column)
      for (int k = 0; k < kComponents; ++k)
        background[(row * kColumns + column) * kComponents + k] =
            static_cast<std::uint8_t>(40 + (row * 3 + column * (k + 1)) % 90 + random() % 20);
  std::vector<Frame> scene;
  for (int f = 0; f < 16; ++f) {
    Frame frame = background;
    for (std::uint8_t& byte : frame) byte = static_cast<std::uint8_t>(byte + random() % 5);
    for (int object = 0; object < 4; ++object) {
      const int top = (object * 27 + f * 3) % 100;
      const int left = (object * 41 + f * 5) % 140;
      for (int row = top; row < top + 16; ++row)
        for (int column = left; column < left + 18; ++column) setPixel(frame, row, column, 250);
    }
    for (int speck = 0; speck < 40; ++speck)
      setPixel(frame, random() % kRows, random() % kColumns, 255);
    scene.push_back(std::move(frame));
  }
  start({background});
  resetBackground();
  frames = std::move(scene);
}

using Mask = bool (*)(int row, int column);

bool isolatedDot(int row, int column) { return row % 2 == 0 && column % 2 == 0; }
bool first1022Dots(int row, int column) {
  return isolatedDot(row, column) && (row / 2) * 80 + column / 2 < 1022;
}
bool wholeFrame(int, int) { return true; }
// One region of 9600 pixels joined only through corners: the most runs a frame can hold.
bool chessboard(int row, int column) { return (row + column) % 2 == 0; }

// A fixed mask: lit pixels move against a black retina. The huge adaptivity keeps the full work
// of the adaptation but leaves the retina black in effect, so the mask is the same every frame.
void startMask(Mask lit) {
  Frame frame(kFrameBytes, 0);
  for (int row = 0; row < kRows; ++row)
    for (int column = 0; column < kColumns; ++column)
      if (lit(row, column)) setPixel(frame, row, column, 255);
  start({frame});
  analysisState().parameters.adaptivity = 1e30f;
}

void analyseFrames(benchmark::State& bench) {
  for (auto _ : bench) {
    analyseFrame();
    currentIndex = (currentIndex + 1) % frames.size();
  }
  bench.counters["blobCount"] = analysisState().blobCount;
}

void analyseTypicalScene(benchmark::State& bench) {
  startTypicalScene();
  analyseFrames(bench);
}

void analyseMask(benchmark::State& bench, Mask mask) {
  startMask(mask);
  analyseFrames(bench);
}

// The labelling alone, on the mask one analysed frame leaves.
void labelOnly(benchmark::State& bench, Mask mask) {
  if (mask == nullptr) {
    startTypicalScene();
  } else {
    startMask(mask);
  }
  analyseFrame();
  for (auto _ : bench) labelBlobs();
  bench.counters["blobCount"] = analysisState().blobCount;
}

void colourBoundsWholeFrame(benchmark::State& bench) {
  startTypicalScene();
  analyseFrame();
  for (auto _ : bench) benchmark::DoNotOptimize(colourBounds(250, 250, 250, 10, false));
}

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::array<HostRect, 2> kRects{HostRect{0, 0, 120, 160},
                                         HostRect{kMin, kMin, kMax, kMax}};

void blockAverageOver(benchmark::State& bench) {
  startTypicalScene();
  analyseFrame();
  const auto source = static_cast<BlockSource>(bench.range(0));
  const HostRect rect = kRects[bench.range(1)];
  for (auto _ : bench) benchmark::DoNotOptimize(blockAverage(source, rect));
}

BENCHMARK(analyseTypicalScene);
BENCHMARK_CAPTURE(analyseMask, regions4800, &isolatedDot);
BENCHMARK_CAPTURE(analyseMask, regions1022, &first1022Dots);
BENCHMARK_CAPTURE(analyseMask, wholeFrame, &wholeFrame);
BENCHMARK_CAPTURE(analyseMask, chessboard, &chessboard);
BENCHMARK_CAPTURE(labelOnly, typicalScene, nullptr);
BENCHMARK_CAPTURE(labelOnly, regions4800, &isolatedDot);
BENCHMARK_CAPTURE(labelOnly, regions1022, &first1022Dots);
BENCHMARK_CAPTURE(labelOnly, wholeFrame, &wholeFrame);
BENCHMARK_CAPTURE(labelOnly, chessboard, &chessboard);
BENCHMARK(colourBoundsWholeFrame);
// Arguments: source (0 frame, 1 retina, 2 difference), rect (0 whole frame, 1 huge).
BENCHMARK(blockAverageOver)->ArgsProduct({{0, 1, 2}, {0, 1}});

}  // namespace
}  // namespace kinetiscan

BENCHMARK_MAIN();
