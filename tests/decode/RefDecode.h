// Reference decodes for the decode tests: FFmpeg's own demuxers
// (libavformat, independent of our readers) and decoders (libavcodec), with
// nothing trimmed, so that a test applies the trims it expects itself.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace cvtest {

struct TRefStream {
  int Rate = 0;
  int Channels = 0;
  int64_t InitialPadding = 0;               // what the container says the encoder put in front
  std::vector<uint8_t> Extra;               // the codec's extradata
  std::vector<std::vector<uint8_t>> Packets;  // the demuxed packets, in order
};

// The first audio stream's packets as libavformat demuxes them.
inline TRefStream DemuxFirstAudio(const std::string& path) {
  TRefStream s;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return s;
  avformat_find_stream_info(fmt, nullptr);
  int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (index >= 0) {
    const AVCodecParameters* par = fmt->streams[index]->codecpar;
    s.Rate = par->sample_rate;
    s.Channels = par->ch_layout.nb_channels;
    s.InitialPadding = par->initial_padding;
    if (par->extradata) s.Extra.assign(par->extradata, par->extradata + par->extradata_size);
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fmt, pkt) >= 0) {
      if (pkt->stream_index == index) s.Packets.emplace_back(pkt->data, pkt->data + pkt->size);
      av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
  }
  avformat_close_input(&fmt);
  return s;
}

// libavcodec's decode of every packet of the file's first audio stream,
// nothing skipped (the container's delay, as libavformat reports it in
// initialPadding, is left to the caller), as
// interleaved float; integer formats are scaled as the PCM converter reads
// them (x / 2^15 for 16 bits, x / 2^31 for 32).
inline std::vector<float> FFmpegDecodeAll(const std::string& path, int* rate = nullptr, int* channels = nullptr,
                                          int64_t* initialPadding = nullptr) {
  std::vector<float> out;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(fmt, nullptr);
  int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  const AVCodecParameters* par = fmt->streams[index]->codecpar;
  if (initialPadding) *initialPadding = par->initial_padding;
  const AVCodec* codec = avcodec_find_decoder(par->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(ctx, par);
  ctx->flags2 |= AV_CODEC_FLAG2_SKIP_MANUAL;  // no trimming by side data
  avcodec_open2(ctx, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(ctx, frame) == 0) {
      const int ch = frame->ch_layout.nb_channels;
      if (rate) *rate = frame->sample_rate;
      if (channels) *channels = ch;
      const auto f = static_cast<AVSampleFormat>(frame->format);
      const bool planar = av_sample_fmt_is_planar(f);
      const int bytes = av_get_bytes_per_sample(f);
      const auto packed = av_get_packed_sample_fmt(f);
      for (int i = 0; i < frame->nb_samples; ++i)
        for (int c = 0; c < ch; ++c) {
          const uint8_t* p =
              planar ? frame->extended_data[c] + i * bytes : frame->extended_data[0] + (i * ch + c) * bytes;
          float x = 0;
          if (packed == AV_SAMPLE_FMT_FLT) std::memcpy(&x, p, 4);
          if (packed == AV_SAMPLE_FMT_S16) {
            int16_t v;
            std::memcpy(&v, p, 2);
            x = v * (1.0f / 32768.0f);
          }
          if (packed == AV_SAMPLE_FMT_S32) {
            int32_t v;
            std::memcpy(&v, p, 4);
            x = float(double(v) * (1.0 / 2147483648.0));
          }
          out.push_back(x);
        }
    }
  };
  bool first = true;
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == index) {
      // The delay libavformat found (an MP4 edit list) rides on the first
      // packet as skip-samples side data.
      size_t size = 0;
      const uint8_t* skip = av_packet_get_side_data(pkt, AV_PKT_DATA_SKIP_SAMPLES, &size);
      if (first && skip && size >= 4 && initialPadding)
        *initialPadding = int64_t(skip[0] | (skip[1] << 8) | (skip[2] << 16) | (uint32_t(skip[3]) << 24));
      first = false;
      avcodec_send_packet(ctx, pkt);
      drain();
    }
    av_packet_unref(pkt);
  }
  avcodec_send_packet(ctx, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  avformat_close_input(&fmt);
  return out;
}

// Float samples as the bytes a float destination holds.
inline std::vector<uint8_t> FloatBytes(const std::vector<float>& v, size_t first = 0, size_t count = SIZE_MAX) {
  first = std::min(first, v.size());
  count = std::min(count, v.size() - first);
  std::vector<uint8_t> b(count * 4);
  if (count) std::memcpy(b.data(), v.data() + first, count * 4);
  return b;
}

// Float samples rounded and clipped to 16 bits as the PCM converter does.
inline std::vector<uint8_t> S16Bytes(const std::vector<float>& v, size_t first = 0, size_t count = SIZE_MAX) {
  first = std::min(first, v.size());
  count = std::min(count, v.size() - first);
  std::vector<uint8_t> b;
  b.reserve(count * 2);
  for (size_t i = first; i < first + count; ++i) {
    float s = v[i] * 32768.0f;
    long x = !(s > -32768.0f) ? -32768 : s >= 32767.0f ? 32767 : std::lrintf(s);
    auto u = uint16_t(int16_t(x));
    b.push_back(uint8_t(u));
    b.push_back(uint8_t(u >> 8));
  }
  return b;
}

// The granule position of the last page of an Ogg file.
inline int64_t LastGranule(const std::vector<uint8_t>& file) {
  for (size_t i = file.size() >= 27 ? file.size() - 27 : 0; i-- > 0;)
    if (std::memcmp(file.data() + i, "OggS", 4) == 0) {
      int64_t g = 0;
      for (int k = 7; k >= 0; --k) g = (g << 8) | file[i + 6 + size_t(k)];
      return g;
    }
  return -1;
}

}  // namespace cvtest
