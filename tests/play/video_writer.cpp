// Test videos written with libavformat and libavcodec.
#include "video_writer.h"

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kinetiscan::play {
namespace {

// Everything one written video needs, freed together.
struct Writer {
  AVFormatContext* out = nullptr;
  AVCodecContext* encoder = nullptr;
  AVStream* stream = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  ~Writer() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&encoder);
    if (out != nullptr && out->pb != nullptr) avio_closep(&out->pb);
    avformat_free_context(out);
  }

  // Sends `picture` (null: the end) and writes the packets it gives; false on failure.
  bool encode(AVFrame* picture) {
    if (avcodec_send_frame(encoder, picture) < 0) return false;
    for (;;) {
      const int code = avcodec_receive_packet(encoder, packet);
      if (code == AVERROR(EAGAIN) || code == AVERROR_EOF) return true;
      if (code < 0) return false;
      packet->duration = 1;  // a frame's time: without it an MP4's edit list drops the last frame
      av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
      packet->stream_index = stream->index;
      if (av_interleaved_write_frame(out, packet) < 0) return false;
    }
  }
};

std::string openWriter(Writer& w, const std::string& path, const VideoFormat& format) {
  if (avformat_alloc_output_context2(&w.out, nullptr, nullptr, path.c_str()) < 0) {
    return "no container for " + path;
  }
  const AVCodec* codec = avcodec_find_encoder_by_name(format.encoder.c_str());
  if (codec == nullptr) return "no encoder " + format.encoder;
  w.stream = avformat_new_stream(w.out, nullptr);
  w.encoder = avcodec_alloc_context3(codec);
  w.frame = av_frame_alloc();
  w.packet = av_packet_alloc();
  if (w.stream == nullptr || w.encoder == nullptr || w.frame == nullptr || w.packet == nullptr) {
    return "out of memory";
  }
  w.encoder->width = format.width;
  w.encoder->height = format.height;
  w.encoder->time_base = AVRational{1, 25};
  w.encoder->framerate = AVRational{25, 1};
  w.encoder->gop_size = format.keyEvery;
  w.encoder->pix_fmt = !format.pixelFormat.empty()  ? av_get_pix_fmt(format.pixelFormat.c_str())
                       : codec->pix_fmts != nullptr ? codec->pix_fmts[0]
                                                    : AV_PIX_FMT_RGB24;
  if ((w.out->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
    w.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  if (avcodec_open2(w.encoder, codec, nullptr) < 0) return "the encoder refuses the settings";
  avcodec_parameters_from_context(w.stream->codecpar, w.encoder);
  w.stream->time_base = w.encoder->time_base;
  if (avio_open(&w.out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) return "cannot write " + path;
  if (avformat_write_header(w.out, nullptr) < 0) return "cannot write the header";
  w.frame->format = w.encoder->pix_fmt;
  w.frame->width = format.width;
  w.frame->height = format.height;
  if (av_frame_get_buffer(w.frame, 0) < 0) return "out of memory";
  w.scaler =
      sws_getContext(format.width, format.height, AV_PIX_FMT_RGB24, format.width, format.height,
                     w.encoder->pix_fmt, SWS_POINT, nullptr, nullptr, nullptr);
  return w.scaler == nullptr ? "no conversion to the encoder's pixel format" : "";
}

}  // namespace

std::string writeVideo(const std::string& path, const VideoFormat& format, const Painter& paint) {
  Writer w;
  if (std::string error = openWriter(w, path, format); !error.empty()) return error;
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(format.width) * format.height * 3);
  for (int i = 0; i < format.frames; ++i) {
    paint(i, rgb);
    if (av_frame_make_writable(w.frame) < 0) return "out of memory";
    const std::uint8_t* planes[1] = {rgb.data()};
    const int strides[1] = {format.width * 3};
    sws_scale(w.scaler, planes, strides, 0, format.height, w.frame->data, w.frame->linesize);
    w.frame->pts = i;
    if (!w.encode(w.frame)) return "cannot encode frame " + std::to_string(i);
  }
  if (!w.encode(nullptr) || av_write_trailer(w.out) < 0) return "cannot finish the video";
  return "";
}

Painter movingSquare(int width, int height, int side) {
  return [=](int index, std::vector<std::uint8_t>& rgb) {
    std::fill(rgb.begin(), rgb.end(), 96);
    const int left = (2 * index) % std::max(1, width - side), top = (height - side) / 2;
    for (int y = top; y < top + side && y < height; ++y) {
      for (int x = left; x < left + side && x < width; ++x) {
        std::uint8_t* pixel = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        pixel[0] = pixel[1] = pixel[2] = 255;
      }
    }
  };
}

}  // namespace kinetiscan::play
