// Video files and pipes as frame sources, decoded by FFmpeg's libraries (libavformat,
// libavcodec, libswscale). Each decoded picture is converted to RGB at its own size and scaled to
// 160x120 by frameFromImage, the averaging an image folder's pictures get, so a video of a
// folder's pictures shows what the folder shows.
//
// A video is untrusted input. The container is read through our own byte reader, which never
// opens another file or URL the container names; probing reads a bounded amount; pictures of
// more than kMaxImageSide a side are refused before they are decoded; the decoder runs on one
// thread and decodes one packet at a time, so memory stays that of a few pictures however long
// the video is. Damage the decoder reports ends the source with the reason in failure(), the
// frames before it kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "camera/frame_source.h"

namespace kinetiscan::camera {

// A video file, or "-" for standard input (a pipe, read once). With `loop` the file plays again
// from its start when it ends; a pipe cannot, and is refused with `loop`. Null with the reason in
// `error` when the input cannot be opened or is not a video that can be decoded.
std::unique_ptr<FrameSource> openVideoFile(const std::string& file, bool loop, std::string* error);

// A video held in memory, read once; `data` must outlive the source.
std::unique_ptr<FrameSource> openVideoMemory(const std::uint8_t* data, std::size_t size,
                                             std::string* error);

}  // namespace kinetiscan::camera
