#include "decode/cvAVDecoder.h"

#if CORVID_WITH_MP4 || CORVID_WITH_WAVCODECS

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>

namespace cv {
namespace {

AVCodecID CodecId(TAVCodec c) {
  switch (c) {
    case TAVCodec::AAC: return AV_CODEC_ID_AAC;
    case TAVCodec::ALAC: return AV_CODEC_ID_ALAC;
    case TAVCodec::ImaAdpcmWav: return AV_CODEC_ID_ADPCM_IMA_WAV;
    case TAVCodec::MsAdpcm: return AV_CODEC_ID_ADPCM_MS;
    case TAVCodec::ALaw: return AV_CODEC_ID_PCM_ALAW;
    case TAVCodec::MuLaw: return AV_CODEC_ID_PCM_MULAW;
    case TAVCodec::GsmMs: return AV_CODEC_ID_GSM_MS;
  }
  return AV_CODEC_ID_NONE;
}

// A count in units of timeScale per second, in frames at rate (rounded
// down); UINT64_MAX stays.
uint64_t ToFrames(uint64_t units, uint32_t timeScale, uint32_t rate) {
  if (units == UINT64_MAX || timeScale == rate) return units;
  const auto frames = (unsigned __int128)units * rate / timeScale;
  return frames >= UINT64_MAX ? UINT64_MAX : uint64_t(frames);
}

}  // namespace

void TAVDecoder::TContextDeleter::operator()(AVCodecContext* c) const noexcept { avcodec_free_context(&c); }
void TAVDecoder::TFrameDeleter::operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
void TAVDecoder::TPacketDeleter::operator()(AVPacket* p) const noexcept { av_packet_free(&p); }

TAVDecoder::TAVDecoder(TPCMConverter& conv) : Conv(conv) {
  // The decoders' damage reports are counted (Errors), not printed.
  static std::once_flag quiet;
  std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
  Frame.reset(av_frame_alloc());
  Pkt.reset(av_packet_alloc());
}

TAVDecoder::~TAVDecoder() = default;

bool TAVDecoder::Open(const TAVCodecParams& p) {
  Context.reset();
  const AVCodec* codec = avcodec_find_decoder(CodecId(p.Codec));
  if (!codec || !Frame || !Pkt || p.Channels < 1 || p.Channels > 2 || p.Rate < kMinRate || p.Rate > kMaxRate)
    return false;
  std::unique_ptr<AVCodecContext, TContextDeleter> c(avcodec_alloc_context3(codec));
  if (!c) return false;
  c->sample_rate = static_cast<int>(p.Rate);
  av_channel_layout_default(&c->ch_layout, p.Channels);
  c->bit_rate = static_cast<int64_t>(p.BitRate);
  c->block_align = static_cast<int>(p.BlockAlign);
  c->bits_per_coded_sample = p.BitsPerCodedSample;
  c->thread_count = 1;
  if (!p.Extra.empty()) {
    c->extradata = static_cast<uint8_t*>(av_mallocz(p.Extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!c->extradata) return false;
    std::memcpy(c->extradata, p.Extra.data(), p.Extra.size());
    c->extradata_size = static_cast<int>(p.Extra.size());
  }
  if (avcodec_open2(c.get(), codec, nullptr) < 0) return false;
  Context = std::move(c);
  return true;
}

void TAVDecoder::SetTrim(uint64_t skip, uint64_t keep, uint32_t timeScale) {
  Skip = skip;
  Keep = keep;
  TrimScale = timeScale;
}

void TAVDecoder::Send(std::span<const uint8_t> packet) {
  if (!Context || packet.empty()) return;
  if (av_new_packet(Pkt.get(), static_cast<int>(packet.size())) < 0) {
    ++ErrorCount;
    return;
  }
  std::memcpy(Pkt->data, packet.data(), packet.size());
  int r = avcodec_send_packet(Context.get(), Pkt.get());
  if (r == AVERROR(EAGAIN)) {
    Receive();
    r = avcodec_send_packet(Context.get(), Pkt.get());
  }
  av_packet_unref(Pkt.get());
  if (r < 0) ++ErrorCount;
  Receive();
}

void TAVDecoder::Drain() {
  if (!Context) return;
  avcodec_send_packet(Context.get(), nullptr);
  Receive();
}

void TAVDecoder::Receive() {
  for (;;) {
    int r = avcodec_receive_frame(Context.get(), Frame.get());
    if (r < 0) {
      if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) ++ErrorCount;
      return;
    }
    Deliver(*Frame);
    av_frame_unref(Frame.get());
  }
}

void TAVDecoder::Deliver(const AVFrame& f) {
  const int channels = f.ch_layout.nb_channels;
  const auto format = static_cast<AVSampleFormat>(f.format);
  if (channels < 1 || channels > 2 || f.nb_samples <= 0 || f.sample_rate < int(kMinRate) ||
      f.sample_rate > int(kMaxRate)) {
    ++ErrorCount;
    return;
  }
  if (TrimScale != 0) {
    // The trim in frames of what the decoder really gives.
    Skip = ToFrames(Skip, TrimScale, uint32_t(f.sample_rate));
    Keep = ToFrames(Keep, TrimScale, uint32_t(f.sample_rate));
    TrimScale = 0;
  }
  // The part of this frame that survives the trim.
  const uint64_t frames = uint64_t(f.nb_samples);
  const uint64_t first = Seen < Skip ? std::min(frames, Skip - Seen) : 0;
  Seen += frames;
  uint64_t count = frames - first;
  count = std::min(count, Keep - std::min(Keep, Kept));
  if (count == 0) return;

  TPcmShape shape;
  shape.Channels = static_cast<uint16_t>(channels);
  shape.Rate = static_cast<uint32_t>(f.sample_rate);
  size_t inBytes;  // bytes of one sample as libavcodec holds it
  switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: shape.Type = TSampleType::U8; inBytes = 1; break;
    case AV_SAMPLE_FMT_S16: shape.Type = TSampleType::S16; inBytes = 2; break;
    case AV_SAMPLE_FMT_S32: shape.Type = TSampleType::S32; inBytes = 4; break;
    case AV_SAMPLE_FMT_FLT: shape.Type = TSampleType::F32; inBytes = 4; break;
    case AV_SAMPLE_FMT_DBL: shape.Type = TSampleType::F32; inBytes = 8; break;
    default:
      ++ErrorCount;
      return;
  }
  const bool planar = av_sample_fmt_is_planar(format) != 0;
  const bool isDouble = inBytes == 8;
  const size_t outBytes = shape.BytesPerSample();
  Packed.resize(size_t(count) * channels * outBytes);
  uint8_t* out = Packed.data();
  for (uint64_t i = first; i < first + count; ++i) {
    for (int ch = 0; ch < channels; ++ch, out += outBytes) {
      const uint8_t* in = planar ? f.extended_data[ch] + i * inBytes : f.extended_data[0] + (i * channels + ch) * inBytes;
      if (isDouble) {
        double d;
        std::memcpy(&d, in, 8);
        float x = static_cast<float>(d);
        std::memcpy(out, &x, 4);
      } else {
        std::memcpy(out, in, outBytes);  // native (little-endian) order, as the converter reads it
      }
    }
  }
  Conv.Write(Packed.data(), size_t(count), shape);
  Kept += count;
}

}  // namespace cv

#endif  // CORVID_WITH_MP4 || CORVID_WITH_WAVCODECS
