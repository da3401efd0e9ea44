// Frame sources read from files: still images (PNG, JPEG and BMP, see image_decoder.h) scaled to
// 160x120, and raw files of consecutive 57600-byte bottom-up BGR frames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "camera/frame_source.h"

namespace kinetiscan::camera {

// Converts a top-down RGB or RGBA image of any size into one frame, averaging the source pixels
// that fall into each frame pixel (or sampling, when the image is smaller than the frame).
Frame frameFromImage(const std::uint8_t* pixels, int width, int height, int channels);

// The images in the order given, once or endlessly with `loop`. Each file's header is checked
// now (null with the reason in `error` when one cannot be read or declares what is not read);
// each image is decoded when it is played, and one that fails then ends the source with the
// reason in failure(). Images of other sizes than 160x120 are scaled and said so in note().
std::unique_ptr<FrameSource> openImageFiles(const std::vector<std::string>& files, bool loop,
                                            std::string* error);
// The .png, .jpg, .jpeg and .bmp files of a folder, sorted by name. A file named as another image
// format (.gif, .ppm, .tga, ...) is refused rather than skipped.
// Name order as people number files: runs of digits compare by value, so 2.png comes before
// 10.png; everything else byte by byte.
bool naturalLess(const std::string& a, const std::string& b);

std::unique_ptr<FrameSource> openImageFolder(const std::string& folder, bool loop,
                                             std::string* error);
// A raw file must hold a whole number of frames, at least one; frames are read as they are
// played.
std::unique_ptr<FrameSource> openRawFile(const std::string& file, bool loop, std::string* error);
// The same frames from a descriptor read as a stream (a pipe, standard input), named `name` in
// messages. Its end inside a frame is a failure; its end between frames is the source's end.
std::unique_ptr<FrameSource> openRawStream(int descriptor, const std::string& name);
// Turns a top-down frame into a bottom-up one, and back.
void flipRows(Frame& frame);

}  // namespace kinetiscan::camera
