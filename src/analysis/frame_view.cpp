// The installed links of the analysis; null until their owners install them.
#include "analysis/frame_view.h"

namespace kinetiscan {
namespace {

struct AnalysisLinks {
  FrameSource frameSource = nullptr;
  CastScanHook castScan = nullptr;
};

constinit AnalysisLinks links{};

}  // namespace

void setFrameSource(FrameSource source) { links.frameSource = source; }

void setCastScanHook(CastScanHook hook) { links.castScan = hook; }

FrameView currentFrame() {
  if (links.frameSource == nullptr) return {nullptr, 0};
  const FrameView frame = links.frameSource();
  if (frame.bytes == nullptr || frame.count == 0) return {nullptr, 0};
  return frame;
}

void runCastScan() {
  if (links.castScan != nullptr) links.castScan();
}

void resetAnalysisLinksForTest() { links = AnalysisLinks{}; }

}  // namespace kinetiscan
