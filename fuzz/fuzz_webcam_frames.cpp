// A webcam's frames as the driver hands them over: YUYV of any size and stride, or MJPEG data
// that may be anything. The first bytes choose the format and the geometry the driver claims.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "camera/v4l2_source.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kinetiscan;
  FuzzedDataProvider input(data, size);
  const bool mjpeg = input.ConsumeBool();
  const int width = input.ConsumeIntegral<std::uint16_t>();
  const int height = input.ConsumeIntegral<std::uint16_t>();
  // Mostly strides near a packed row, sometimes anything at all.
  const std::size_t stride = input.ConsumeBool()
                                 ? std::size_t(width) * 2 + input.ConsumeIntegralInRange(0, 64)
                                 : input.ConsumeIntegral<std::uint32_t>();
  const std::vector<std::uint8_t> bytes = input.ConsumeRemainingBytes<std::uint8_t>();
  camera::Frame frame;
  std::string error;
  std::vector<std::uint8_t> rgb;
  const bool converted =
      mjpeg ? play::frameFromMjpeg(bytes.data(), bytes.size(), frame, &error)
            : play::frameFromYuyv(bytes.data(), bytes.size(), width, height, stride, frame, rgb);
  if (converted && frame.size() != camera::kFrameBytes) std::abort();
  return 0;
}
