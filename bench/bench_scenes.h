// The scenes every pipeline of the comparison runs on, built once and shared, so that all
// figures of one run come from the same frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kinetiscan::bench {

using Frame = std::vector<std::uint8_t>;

struct Scene {
  std::string name;
  Frame background;           // what the retina holds before the first frame
  std::vector<Frame> frames;  // played in a loop
  float adaptivity;
  float sensitivity;
  std::int32_t mindensity;
};

// The synthetic discs first; a recorded sequence last when KINETISCAN_BENCH_RECORDING names a
// raw file of 57600-byte frames.
const std::vector<Scene>& benchScenes();

const Scene& sceneNamed(const std::string& name);

}  // namespace kinetiscan::bench
