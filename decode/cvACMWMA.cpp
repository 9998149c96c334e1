#include "decode/cvACMWMA.h"

#if CORVID_WITH_WMA

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <cstring>
#include <mutex>

#include "decode/cvACMPCM.h"
#include "decode/cvASFPackets.h"

namespace cv {
namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_WMAUDIO1, WAVE_FORMAT_WMAUDIO2};

struct TContextDeleter {
  void operator()(AVCodecContext* c) const noexcept { avcodec_free_context(&c); }
};
struct TFrameDeleter {
  void operator()(AVFrame* f) const noexcept { av_frame_free(&f); }
};
struct TPacketDeleter {
  void operator()(AVPacket* p) const noexcept { av_packet_free(&p); }
};

class TWMACodec final : public TACMCodec {
 public:
  TWMACodec(const TFormatBlock& src, TPcmShape dst) : Conv(dst), HeaderRate(src.nSamplesPerSec()) {
    // The decoder's damage reports are counted (Skipped), not printed.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    Frame.reset(av_frame_alloc());
    Pkt.reset(av_packet_alloc());
    Sink = [this](std::span<const uint8_t> object) { Decode(object); };
  }

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    Parser.Feed(src, Sink);
    if (!end) return MMSYSERR_NOERROR;
    Parser.Finish(Sink);
    if (Context) {
      avcodec_send_packet(Context.get(), nullptr);  // drain
      Receive();
    }
    Conv.Finish();
    return Context ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // Objects are at least a few hundred bytes; each gives up to 2048
    // frames per 512 bytes.
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = (srcBytes / 512 + 2) * 2048;
    frames = frames * dst.Rate / HeaderRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override { return dstBytes / 11 + 1; }
  uint32_t Skipped() const override { return Parser.Damaged() + Errors; }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  bool Setup() {
    if (Context || Refused) return Context != nullptr;
    const TASFAudioStream& s = Parser.Audio();
    const AVCodec* codec = nullptr;
    if (s.FormatTag == WAVE_FORMAT_WMAUDIO1) codec = avcodec_find_decoder(AV_CODEC_ID_WMAV1);
    if (s.FormatTag == WAVE_FORMAT_WMAUDIO2) codec = avcodec_find_decoder(AV_CODEC_ID_WMAV2);
    if (!codec || s.Channels < 1 || s.Channels > 2 || s.SampleRate < kMinRate || s.SampleRate > kMaxRate ||
        !Frame || !Pkt) {
      Refused = true;
      return false;
    }
    std::unique_ptr<AVCodecContext, TContextDeleter> c(avcodec_alloc_context3(codec));
    if (!c) {
      Refused = true;
      return false;
    }
    c->sample_rate = static_cast<int>(s.SampleRate);
    av_channel_layout_default(&c->ch_layout, s.Channels);
    c->bit_rate = int64_t(s.AvgBytesPerSec) * 8;
    c->block_align = s.BlockAlign;
    c->bits_per_coded_sample = s.BitsPerSample;
    c->thread_count = 1;
    if (!s.Extra.empty()) {
      c->extradata = static_cast<uint8_t*>(av_mallocz(s.Extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
      if (!c->extradata) {
        Refused = true;
        return false;
      }
      std::memcpy(c->extradata, s.Extra.data(), s.Extra.size());
      c->extradata_size = static_cast<int>(s.Extra.size());
    }
    if (avcodec_open2(c.get(), codec, nullptr) < 0) {
      Refused = true;
      return false;
    }
    Context = std::move(c);
    return true;
  }

  void Decode(std::span<const uint8_t> object) {
    if (!Setup()) return;
    if (av_new_packet(Pkt.get(), static_cast<int>(object.size())) < 0) {
      ++Errors;
      return;
    }
    std::memcpy(Pkt->data, object.data(), object.size());
    int r = avcodec_send_packet(Context.get(), Pkt.get());
    if (r == AVERROR(EAGAIN)) {
      Receive();
      r = avcodec_send_packet(Context.get(), Pkt.get());
    }
    av_packet_unref(Pkt.get());
    if (r < 0) ++Errors;
    Receive();
  }

  void Receive() {
    for (;;) {
      int r = avcodec_receive_frame(Context.get(), Frame.get());
      if (r < 0) {
        if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) ++Errors;
        return;
      }
      const int channels = Frame->ch_layout.nb_channels;
      if (Frame->format == AV_SAMPLE_FMT_FLTP && channels >= 1 && channels <= 2 && Frame->nb_samples > 0) {
        const float* planes[2] = {reinterpret_cast<const float*>(Frame->extended_data[0]),
                                  reinterpret_cast<const float*>(Frame->extended_data[channels - 1])};
        Conv.WritePlanar(planes, static_cast<size_t>(Frame->nb_samples), static_cast<uint16_t>(channels),
                         static_cast<uint32_t>(Frame->sample_rate));
      } else {
        ++Errors;  // a frame in a shape the decoder should never give
      }
      av_frame_unref(Frame.get());
    }
  }

  TPCMConverter Conv;
  uint32_t HeaderRate;
  TASFPackets Parser;
  TASFPackets::TSink Sink;
  std::unique_ptr<AVCodecContext, TContextDeleter> Context;
  std::unique_ptr<AVFrame, TFrameDeleter> Frame;
  std::unique_ptr<AVPacket, TPacketDeleter> Pkt;
  bool Refused = false;
  uint32_t Errors = 0;
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR || !out) return r;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  *out = std::make_unique<TWMACodec>(src, d);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_WMAUDIO1, 22, "Windows Media Audio V1"},
    {WAVE_FORMAT_WMAUDIO2, 28, "Windows Media Audio V2"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

const TACMDriverEntry& WMADriver() {
  static const TACMDriverEntry entry{"WMA", "Windows Media Audio v1/v2 decoder (libavcodec)",
                                     ACMDRIVERDETAILS_SUPPORTF_CODEC, kTagInfo, Open, Suggest};
  return entry;
}

}  // namespace cv

#endif  // CORVID_WITH_WMA
