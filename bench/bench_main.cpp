// Runs every registered benchmark with repetitions and ends with one table of medians: our
// analysis beside the OpenCV pipeline and the traffic floor, the ratios the targets name, and the
// whole road of a frame with its share of the frame period.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "analysis/pixel_pass.h"
#include "bench_scenes.h"

namespace kinetiscan::bench {
namespace {

// Keeps the median CPU time of every benchmark, in microseconds, while printing as usual. CPU
// time rather than wall time: a shared build machine preempts the run now and then.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") continue;
      medians[run.run_name.function_name] =
          run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e6;
    }
  }

  std::map<std::string, double> medians;
};

double medianOf(const SummaryReporter& reporter, const std::string& name) {
  const auto found = reporter.medians.find(name);
  return found == reporter.medians.end() ? 0.0 : found->second;
}

void printRatio(double numerator, double denominator) {
  if (numerator > 0.0 && denominator > 0.0) {
    std::printf(" %9.3f", numerator / denominator);
  } else {
    std::printf(" %9s", "-");
  }
}

// The frame period the capture session asks the driver for.
constexpr double kFramePeriodUs = 50000.0;

void printSummary(const SummaryReporter& reporter) {
  const double floor = medianOf(reporter, "floor");
  std::printf("\nMedian CPU time in microseconds per frame (traffic floor %.2f us)\n", floor);
  std::printf("%-12s %10s %10s %9s %10s %10s %9s\n", "scene", "ours", "opencv", "ours/cv",
              "ours/floor", "road", "road/50ms");
  for (const Scene& scene : benchScenes()) {
    const double ours = medianOf(reporter, "ours/" + scene.name);
    const double opencv = medianOf(reporter, "opencv/" + scene.name);
    const double road = medianOf(reporter, "road/" + scene.name);
    if (ours == 0.0 && opencv == 0.0 && road == 0.0) continue;  // filtered out of this run
    std::printf("%-12s %10.2f %10.2f", scene.name.c_str(), ours, opencv);
    printRatio(ours, opencv);
    std::printf(" ");
    printRatio(ours, floor);
    std::printf(" %10.2f", road);
    if (road > 0.0) {
      std::printf(" %8.2f%%", 100.0 * road / kFramePeriodUs);
    } else {
      std::printf(" %9s", "-");
    }
    std::printf("\n");
  }
  const char* const paths[] = {"plain", "sse2", "avx2", "avx512"};
  const kinetiscan::AdaptationCalibration& calibration = kinetiscan::adaptationCalibration();
  std::printf(
      "ours/* runs on %s, adapting by %s (calibration, least of each: division %llu, "
      "reciprocal %llu time-stamp ticks)\n",
      paths[static_cast<int>(kinetiscan::activePixelPath())],
      calibration.chosen == kinetiscan::AdaptationMethod::reciprocal ? "the reciprocal"
                                                                     : "division",
      static_cast<unsigned long long>(calibration.divisionTicks),
      static_cast<unsigned long long>(calibration.reciprocalTicks));
  std::printf("regions1022 / discs (ours):");
  printRatio(medianOf(reporter, "ours/regions1022"), medianOf(reporter, "ours/discs"));
  std::printf("\n");
}

bool hasFlag(int argc, char** argv, const char* flag) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag, std::strlen(flag)) == 0) return true;
  }
  return false;
}

}  // namespace
}  // namespace kinetiscan::bench

int main(int argc, char** argv) {
  using kinetiscan::bench::hasFlag;
  // Medians over repetitions unless the command line says otherwise.
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=9";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  char minTime[] = "--benchmark_min_time=0.1";
  if (!hasFlag(argc, argv, "--benchmark_repetitions")) args.push_back(repetitions);
  if (!hasFlag(argc, argv, "--benchmark_report_aggregates_only")) args.push_back(aggregatesOnly);
  if (!hasFlag(argc, argv, "--benchmark_min_time")) args.push_back(minTime);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  kinetiscan::bench::SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  kinetiscan::bench::printSummary(reporter);
  benchmark::Shutdown();
  return 0;
}
