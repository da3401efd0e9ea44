// kinetiscan-roadtime: the road of a frame through the shipped library, loaded by file as a host
// loads it (libkinetiscan.so natively, Kinetiscan.x32 under Wine), timed part by part over the
// built-in scene of moving discs:
//   frame    the driver's frame callback, timed by the simulated driver around the call: the
//            plug-in's copy of the frame, its cast scan (with the host's answers) and the
//            analysis; not the making of the frame, its window message or the message loop
//   draws    four sprites drawing views 1-4 with outlines and crosses, every panel stale, each
//            reading its colour through the host
//   reads    a script reading "loclist", "boundingboxlist" and "differenceimage", the host making
//            each value and releasing it
// Frames come back to back, as fast as the loop asks for them; --paced keeps the driver's 50 ms
// preview rate instead (natively the program sleeps the period out), so that the figures show
// what a processor idle between frames costs. Prints the median and quartiles of each in
// microseconds of wall time. The figures belong to the machine they were measured on: name its
// processor with them.
//   kinetiscan-roadtime [--paced] [FRAMES]     (default 300, at least 1; 20 more warm up first,
//                                               uncounted)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "camera/synthetic_scene.h"
#include "road_session.h"
#include "testbed/control.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUp = 20;
constexpr std::chrono::milliseconds kFramePeriod{50};

struct Options {
  long frames = 300;
  kinetiscan::road::Pacing pacing = kinetiscan::road::Pacing::BackToBack;
};

bool parse(int argc, char** argv, Options* options) {
  int next = 1;
  if (next < argc && std::strcmp(argv[next], "--paced") == 0) {
    options->pacing = kinetiscan::road::Pacing::PreviewRate;
    ++next;
  }
  if (next < argc) {
    char* end = nullptr;
    options->frames = std::strtol(argv[next], &end, 10);
    if (end == argv[next] || *end != '\0' || options->frames < 1 || options->frames > 1000000) {
      return false;
    }
    ++next;
  }
  return next == argc;
}

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
  Options options;
  if (!parse(argc, argv, &options)) {
    std::fprintf(stderr,
                 "usage: kinetiscan-roadtime [--paced] [FRAMES]   (FRAMES from 1 to 1000000)\n");
    return 2;
  }
  const long frames = options.frames;
  const bool paced = options.pacing == road::Pacing::PreviewRate;
  std::string error;
  std::unique_ptr<host::Plugin> plugin = host::Plugin::load(&error);
  if (plugin == nullptr) {
    std::fprintf(stderr, "kinetiscan-roadtime: %s\n", error.c_str());
    return 1;
  }
  camera::SyntheticScene scene{camera::SceneOptions{}};
  road::Session session(std::move(plugin), scene, road::MemberSettings{}, options.pacing);
  if (!session.ready()) {
    std::fprintf(stderr, "kinetiscan-roadtime: the plug-in did not make its member and sprites\n");
    return 1;
  }
  std::vector<double> frame, draws, reads;
  Clock::time_point due = Clock::now();
  for (long i = 0; i < kWarmUp + frames; ++i) {
    // The stand-in's driver never waits: a paced run waits as a real one's timer would.
    if (paced) std::this_thread::sleep_until(due);
    due = Clock::now() + kFramePeriod;
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
  std::printf("kinetiscan-roadtime: %s, %ld frames of the built-in scene, %s\n",
              host::Plugin::defaultFile(), frames,
              paced ? "paced at 50 ms" : "delivered back to back");
  printQuartiles("frame", frame);
  printQuartiles("draws", draws);
  printQuartiles("reads", reads);
  printQuartiles("road", road);
  std::sort(road.begin(), road.end());
  std::printf("road / 50 ms frame period: %.2f%%\n", road[road.size() / 2] / 50000.0 * 100.0);
  return 0;
}
