// One pass through a video with FFmpeg's libraries: the container read through a ByteInput of
// ours (so no container can make it open another file or URL), the decoder of its video stream
// on one thread, and each picture converted to top-down RGB at its own size. Limits are applied
// before anything is decoded: probing reads at most 5 MB and 5 s of the stream, at most 32
// streams, pictures of at most kMaxImageSide a side, no single allocation beyond 256 MiB.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwsContext;

namespace kinetiscan::camera {

// Where a container's bytes come from.
class ByteInput {
 public:
  virtual ~ByteInput() = default;
  // Bytes read, AVERROR_EOF at the end or another AVERROR.
  virtual int read(std::uint8_t* buffer, int size) = 0;
  // The new position, the size for AVSEEK_SIZE, or a negative AVERROR.
  virtual std::int64_t seek(std::int64_t offset, int whence) = 0;
  virtual bool seekable() const = 0;
};

class VideoDecoder {
 public:
  VideoDecoder() = default;
  ~VideoDecoder();
  VideoDecoder(const VideoDecoder&) = delete;
  VideoDecoder& operator=(const VideoDecoder&) = delete;

  // False with the reason in `error`: not a container FFmpeg reads, a still image, no video
  // stream, a codec that cannot be decoded, a picture size beyond the limits.
  bool open(std::unique_ptr<ByteInput> input, std::string* error);
  // 1 with a picture in rgb(), 0 at the video's end, -1 with the reason in `error` when the
  // container cannot be read, the decoder reports damage or the file is shorter than its header
  // declares.
  int next(std::string* error);
  const std::vector<std::uint8_t>& rgb() const { return rgb_; }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  bool openContainer(std::string* error);
  bool findVideoStream(std::string* error);
  bool openCodec(std::string* error);
  int feedPacket(std::string* error);
  int convert(std::string* error);

  std::unique_ptr<ByteInput> input_;
  AVIOContext* io_ = nullptr;
  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  SwsContext* scaler_ = nullptr;
  int stream_ = -1;
  bool draining_ = false;
  std::int64_t packets_ = 0, pictures_ = 0;
  std::vector<std::uint8_t> rgb_;
  int width_ = 0, height_ = 0;
};

// "WxH".
std::string sizeText(std::int64_t width, std::int64_t height);

}  // namespace kinetiscan::camera
