// The video reader as --video uses it, over bytes in memory: any container FFmpeg recognises,
// the limits checked, each picture decoded, converted and scaled to a frame. FFmpeg itself is not
// instrumented; what is fuzzed is our handling of what it answers.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "camera/video_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan::camera;
  std::string error;
  const std::unique_ptr<FrameSource> source = openVideoMemory(data, size, &error);
  if (source == nullptr) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  // Enough to pass the seeds' ends while each input stays quick.
  Frame frame;
  for (int played = 0; played < 64 && source->next(frame); ++played) {
    if (frame.size() != kFrameBytes) std::abort();
  }
  return 0;
}
