// kinetiscan-roadtime: the road of a frame through the shipped library, loaded by file as a host
// loads it (libkinetiscan.so natively, Kinetiscan.x32 under Wine), timed part by part over the
// built-in scene of moving discs:
//   frame    the driver's frame callback, as the simulated driver times it: the copy, the cast
//            scan and the analysis
//   draws    four sprites drawing views 1-4 with outlines and crosses, every panel stale
//   reads    a script reading "loclist", "boundingboxlist" and "differenceimage"
// Prints the median and quartiles of each in microseconds of wall time. The figures belong to the
// machine they were measured on: name its processor with them.
//   kinetiscan-roadtime [FRAMES]     (default 300, at least 1; 20 more warm up first, uncounted)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/synthetic_scene.h"
#include "road_session.h"
#include "testbed/control.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 20;

double microsecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void printQuartiles(const char* name, std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double q) {
    return samples[static_cast<std::size_t>(q * (samples.size() - 1))];
  };
  std::printf("%-6s median %9.1f us   quartiles %9.1f %9.1f\n", name, at(0.5), at(0.25), at(0.75));
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kinetiscan;
  long frames = 300;
  if (argc > 1) {
    char* end = nullptr;
    frames = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || frames < 1 || frames > 1000000) {
      std::fprintf(stderr, "usage: kinetiscan-roadtime [FRAMES]   (FRAMES from 1 to 1000000)\n");
      return 2;
    }
  }
  std::string error;
  std::unique_ptr<host::Plugin> plugin = host::Plugin::load(&error);
  if (plugin == nullptr) {
    std::fprintf(stderr, "kinetiscan-roadtime: %s\n", error.c_str());
    return 1;
  }
  camera::SyntheticScene scene{camera::SceneOptions{}};
  road::Session session(std::move(plugin), scene, road::MemberSettings{});
  if (!session.ready()) {
    std::fprintf(stderr, "kinetiscan-roadtime: the plug-in did not make its member and sprites\n");
    return 1;
  }
  std::vector<double> frame, draws, reads;
  for (long i = 0; i < kWarmUp + frames; ++i) {
    if (!session.deliverFrame()) {
      std::fprintf(stderr, "kinetiscan-roadtime: no frame came at frame %ld\n", i);
      return 1;
    }
    const double callback = standin::captureRecord().lastCallbackNanoseconds / 1000.0;
    Clock::time_point start = Clock::now();
    session.drawSprites();
    const double drawn = microsecondsSince(start);
    start = Clock::now();
    for (const char* name : {"loclist", "boundingboxlist", "differenceimage"}) session.read(name);
    const double read = microsecondsSince(start);
    if (i < kWarmUp) continue;
    frame.push_back(callback);
    draws.push_back(drawn);
    reads.push_back(read);
  }
  std::vector<double> road(frame.size());
  for (std::size_t i = 0; i < road.size(); ++i) road[i] = frame[i] + draws[i] + reads[i];
  std::printf("kinetiscan-roadtime: %s, %ld frames of the built-in scene\n",
              host::Plugin::defaultFile(), frames);
  printQuartiles("frame", frame);
  printQuartiles("draws", draws);
  printQuartiles("reads", reads);
  printQuartiles("road", road);
  std::sort(road.begin(), road.end());
  std::printf("road / 50 ms frame period: %.2f%%\n", road[road.size() / 2] / 50000.0 * 100.0);
  return 0;
}
