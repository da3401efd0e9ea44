// The same frame analysis written the usual way with OpenCV on one thread: float conversion,
// absolute difference, channel sum, threshold, running average, 8-connected components with
// statistics and the area filter. Built only where OpenCV is installed
// (apt-get install -y libopencv-dev).
#include <array>
#include <cstddef>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "analysis/analysis_state.h"
#include "analysis/pixel_math.h"
#include "bench_registry.h"

namespace kinetiscan::bench {
namespace {

struct Pipeline {
  cv::Mat camera, retina, difference, sum, mask, labels, stats, centroids;
  std::array<BlobBox, kMaxBlobRecords> boxes{};
  int regions = 0;

  explicit Pipeline(const Frame& background) { toFloat(background, retina); }

  static void toFloat(const Frame& frame, cv::Mat& out) {
    const cv::Mat bytes(kRows, kColumns, CV_8UC3, const_cast<std::uint8_t*>(frame.data()));
    bytes.convertTo(out, CV_32FC3, kByteScale);
  }

  void analyse(const Frame& frame, const Scene& scene) {
    toFloat(frame, camera);
    cv::absdiff(retina, camera, difference);
    cv::transform(difference, sum, cv::Matx13f(1.0f, 1.0f, 1.0f));
    cv::compare(sum, scene.sensitivity, mask, cv::CMP_GT);
    if (scene.adaptivity >= 1.0f) cv::accumulateWeighted(camera, retina, 1.0 / scene.adaptivity);
    regions = cv::connectedComponentsWithStats(mask, labels, stats, centroids, 8, CV_32S) - 1;
    if (regions + 1 >= kMaxBlobRecords) return;
    for (int label = 1; label <= regions; ++label) {
      const int* s = stats.ptr<int>(label);
      const int left = s[cv::CC_STAT_LEFT];
      const int top = s[cv::CC_STAT_TOP];
      boxes[label] = {top + s[cv::CC_STAT_HEIGHT] - 1, left + s[cv::CC_STAT_WIDTH] - 1, top, left};
      if (s[cv::CC_STAT_AREA] < scene.mindensity) boxes[label].maxRow = -1;
    }
  }
};

void opencvPipeline(benchmark::State& bench, const Scene& scene) {
  cv::setNumThreads(1);
  Pipeline pipeline(scene.background);
  std::size_t index = 0;
  for (auto _ : bench) {
    pipeline.analyse(scene.frames[index], scene);
    index = index + 1 == scene.frames.size() ? 0 : index + 1;
    benchmark::DoNotOptimize(pipeline.boxes);
  }
  bench.counters["blobCount"] = pipeline.regions + 1;
}

[[maybe_unused]] const bool registered = registerPerScene("opencv", &opencvPipeline);

}  // namespace
}  // namespace kinetiscan::bench
