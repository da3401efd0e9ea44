// --record: the frames a source gives, written as they pass to a raw file that --raw replays.
#pragma once

#include <memory>
#include <string>

#include "camera/frame_source.h"

namespace kinetiscan::play {

// Creates `path` (never replacing a file) and wraps `source` so each frame it gives is written
// there before the plug-in gets it; null with the reason when the file cannot be created.
std::unique_ptr<camera::FrameSource> recordTo(std::unique_ptr<camera::FrameSource> source,
                                              const std::string& path, std::string* error);

}  // namespace kinetiscan::play
