// FFmpeg behind VideoDecoder.
#include "camera/video_decoder.h"

#include <cerrno>
#include <mutex>

#include "camera/image_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kinetiscan::camera {
namespace {

constexpr int kIoBufferBytes = 64 * 1024;
// What probing may read and how much of the stream's time it may look at before the streams
// must be known: FFmpeg's defaults, set here so they cannot grow.
constexpr std::int64_t kProbeBytes = 5'000'000;
constexpr std::int64_t kAnalyzeMicroseconds = 5 * std::int64_t{AV_TIME_BASE};
constexpr unsigned kMaxStreams = 32;
// The largest single block FFmpeg may allocate: a packet or picture beyond it fails instead of
// growing as a hostile stream declares. An 8192x8192 4:2:0 picture needs 96 MiB.
constexpr std::size_t kMaxAllocation = std::size_t{256} << 20;

std::string averror(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Process-wide settings of FFmpeg, made once: its log would print its own lines about damage
// this reader reports in its own words.
void setUpLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_QUIET);
    av_max_alloc(kMaxAllocation);
  });
}

int readInput(void* opaque, std::uint8_t* buffer, int size) {
  return static_cast<ByteInput*>(opaque)->read(buffer, size);
}

std::int64_t seekInput(void* opaque, std::int64_t offset, int whence) {
  return static_cast<ByteInput*>(opaque)->seek(offset, whence);
}

// Containers may name other files or URLs (playlists, references in a movie's header): none is
// opened.
int refuseOtherFiles(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

// Why a container is not read, or null. Playlists, concatenation lists and stream descriptions
// read other files or open connections by name; a still image is played with --images.
const char* refusedContainer(const AVInputFormat& container) {
  static const char* const kNaming[] = {"concat", "hls",  "dash", "imf",
                                        "sdp",    "rtsp", "rtp",  "webm_dash_manifest"};
  const std::string name = container.name;
  for (const char* naming : kNaming) {
    if (name == naming) return "a list or description naming other files or streams, not a video";
  }
  if ((container.flags & AVFMT_NOFILE) != 0) return "not a video file";
  if (name.find("_pipe") != std::string::npos) {
    return "a still image, not a video; play images with --images";
  }
  return nullptr;
}

bool sideWithinLimit(std::int64_t side) { return side > 0 && side <= kMaxImageSide; }

}  // namespace

std::string sizeText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

VideoDecoder::~VideoDecoder() {
  sws_freeContext(scaler_);
  av_frame_free(&frame_);
  av_packet_free(&packet_);
  avcodec_free_context(&codec_);
  avformat_close_input(&format_);
  if (io_ != nullptr) av_freep(&io_->buffer);
  avio_context_free(&io_);
}

bool VideoDecoder::open(std::unique_ptr<ByteInput> input, std::string* error) {
  setUpLibraries();
  input_ = std::move(input);
  packet_ = av_packet_alloc();
  frame_ = av_frame_alloc();
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kIoBufferBytes));
  if (buffer != nullptr) {
    io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, input_.get(), readInput, nullptr,
                             input_->seekable() ? seekInput : nullptr);
  }
  if (io_ == nullptr) av_free(buffer);
  if (packet_ == nullptr || frame_ == nullptr || io_ == nullptr) {
    *error = "out of memory";
    return false;
  }
  return openContainer(error) && findVideoStream(error) && openCodec(error);
}

bool VideoDecoder::openContainer(std::string* error) {
  // The container is recognised first and refused before its header is read when reading it
  // would open what it names.
  const AVInputFormat* container = nullptr;
  if (const int code = av_probe_input_buffer2(io_, &container, "", nullptr, 0, kProbeBytes);
      code < 0 || container == nullptr) {
    *error = "not a video FFmpeg can read (" + averror(code < 0 ? code : AVERROR_INVALIDDATA) + ")";
    return false;
  }
  if (const char* why = refusedContainer(*container)) {
    *error = why;
    return false;
  }
  format_ = avformat_alloc_context();
  if (format_ == nullptr) {
    *error = "out of memory";
    return false;
  }
  format_->pb = io_;
  format_->io_open = refuseOtherFiles;
  format_->probesize = kProbeBytes;
  format_->max_analyze_duration = kAnalyzeMicroseconds;
  format_->max_streams = static_cast<int>(kMaxStreams);
  // On failure avformat_open_input frees the context it was given.
  if (const int code = avformat_open_input(&format_, "", container, nullptr); code < 0) {
    *error =
        std::string("the ") + container->name + " container cannot be read (" + averror(code) + ")";
    return false;
  }
  return true;
}

bool VideoDecoder::findVideoStream(std::string* error) {
  // What the header declares is checked before probing decodes anything.
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    const AVCodecParameters* declared = format_->streams[i]->codecpar;
    if (declared->width > kMaxImageSide || declared->height > kMaxImageSide) {
      *error = "a stream declares pictures of " + sizeText(declared->width, declared->height) +
               "; at most " + std::to_string(kMaxImageSide) + " pixels a side are read";
      return false;
    }
  }
  std::vector<AVDictionary*> settings(format_->nb_streams, nullptr);
  for (AVDictionary*& setting : settings) {
    av_dict_set(&setting, "threads", "1", 0);
    av_dict_set_int(&setting, "max_pixels", kMaxImageSide * kMaxImageSide, 0);
  }
  const int code = avformat_find_stream_info(format_, settings.data());
  for (AVDictionary*& setting : settings) av_dict_free(&setting);
  if (code < 0) {
    *error = "the streams cannot be read (" + averror(code) + ")";
    return false;
  }
  stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (stream_ < 0 || (format_->streams[stream_]->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
    *error = "no video stream in it (" + std::string(format_->iformat->long_name) + ")";
    return false;
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    if (static_cast<int>(i) != stream_) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  const AVCodecParameters* video = format_->streams[stream_]->codecpar;
  if (!sideWithinLimit(video->width) || !sideWithinLimit(video->height)) {
    *error = "the video declares pictures of " + sizeText(video->width, video->height) + "; 1 to " +
             std::to_string(kMaxImageSide) + " pixels a side are read";
    return false;
  }
  return true;
}

bool VideoDecoder::openCodec(std::string* error) {
  const AVCodecParameters* video = format_->streams[stream_]->codecpar;
  const AVCodec* decoder = avcodec_find_decoder(video->codec_id);
  if (decoder == nullptr) {
    *error = std::string("the video's codec (") + avcodec_get_name(video->codec_id) +
             ") cannot be decoded";
    return false;
  }
  codec_ = avcodec_alloc_context3(decoder);
  if (codec_ == nullptr || avcodec_parameters_to_context(codec_, video) < 0) {
    *error = "out of memory";
    return false;
  }
  // One thread: frames come out in the same order with the same memory on every machine.
  codec_->thread_count = 1;
  codec_->max_pixels = kMaxImageSide * kMaxImageSide;
  // Damage is reported rather than hidden by concealment.
  codec_->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
  if (const int code = avcodec_open2(codec_, decoder, nullptr); code < 0) {
    *error =
        std::string("the ") + decoder->name + " decoder refuses the video (" + averror(code) + ")";
    return false;
  }
  return true;
}

int VideoDecoder::next(std::string* error) {
  for (;;) {
    const int code = avcodec_receive_frame(codec_, frame_);
    if (code == 0) return convert(error);
    if (code == AVERROR_EOF) break;
    if (code != AVERROR(EAGAIN)) {
      *error = "frame " + std::to_string(pictures_) + " cannot be decoded (" + averror(code) + ")";
      return -1;
    }
    if (const int fed = feedPacket(error); fed < 0) return fed;
  }
  // Packets the container lists but the file no longer holds: a truncated file.
  const std::int64_t declared = format_->streams[stream_]->nb_frames;
  if (declared > 0 && packets_ < declared) {
    *error = "the video ends after " + std::to_string(packets_) + " of the " +
             std::to_string(declared) + " frames it declares (the file is cut short)";
    return -1;
  }
  return 0;
}

// Hands the decoder the next packet of the video stream, or the end of the stream; -1 with the
// reason when the container cannot be read or the decoder refuses the packet.
int VideoDecoder::feedPacket(std::string* error) {
  for (;;) {
    const int code = av_read_frame(format_, packet_);
    if (code == AVERROR_EOF) {
      // The decoder gives what it holds, then the end; a decoder still wanting packets after
      // that would keep this loop reading an ended file.
      if (draining_ || avcodec_send_packet(codec_, nullptr) < 0) {
        *error = "the decoder does not finish after frame " + std::to_string(pictures_);
        return -1;
      }
      draining_ = true;
      return 0;
    }
    if (code < 0) {
      *error = "the container cannot be read after frame " + std::to_string(pictures_) + " (" +
               averror(code) + ")";
      return -1;
    }
    if (packet_->stream_index != stream_) {
      av_packet_unref(packet_);
      continue;
    }
    ++packets_;
    const int sent = avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
    if (sent < 0) {
      *error = "frame " + std::to_string(pictures_) + " cannot be decoded (" + averror(sent) + ")";
      return -1;
    }
    return 0;
  }
}

int VideoDecoder::convert(std::string* error) {
  const std::string which = "frame " + std::to_string(pictures_);
  if ((frame_->flags & AV_FRAME_FLAG_CORRUPT) != 0 || frame_->decode_error_flags != 0) {
    *error = which + " is damaged";
    return -1;
  }
  if (!sideWithinLimit(frame_->width) || !sideWithinLimit(frame_->height)) {
    *error = which + " is " + sizeText(frame_->width, frame_->height) + "; 1 to " +
             std::to_string(kMaxImageSide) + " pixels a side are read";
    return -1;
  }
  width_ = frame_->width;
  height_ = frame_->height;
  const auto format = static_cast<AVPixelFormat>(frame_->format);
  scaler_ =
      sws_getCachedContext(scaler_, width_, height_, format, width_, height_, AV_PIX_FMT_RGB24,
                           SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
  if (scaler_ == nullptr) {
    const char* name = av_get_pix_fmt_name(format);
    *error = which + ": its pixel format (" + (name != nullptr ? name : "unknown") +
             ") cannot be converted";
    return -1;
  }
  rgb_.resize(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_) * 3);
  std::uint8_t* planes[4] = {rgb_.data(), nullptr, nullptr, nullptr};
  const int strides[4] = {width_ * 3, 0, 0, 0};
  const int rows = sws_scale(scaler_, frame_->data, frame_->linesize, 0, height_, planes, strides);
  av_frame_unref(frame_);
  if (rows != height_) {
    *error = which + " cannot be converted to RGB";
    return -1;
  }
  ++pictures_;
  return 1;
}
}  // namespace kinetiscan::camera
