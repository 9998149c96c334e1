#include "decode/cvACMOpus.h"

#if CORVID_WITH_OPUS

#include <opus_multistream.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "decode/cvACMPCM.h"
#include "decode/cvOggDemux.h"
#include "formats/cvOpusFile.h"

namespace cv {
namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_OPUS};
constexpr uint32_t kOpusRate = 48000;
constexpr int kMaxPacketFrames = 5760;  // 120 ms at 48 kHz
// Samples held past the latest granule position at most: a stream whose
// granule positions lag further is broken, and its audio is released anyway.
constexpr uint64_t kMaxHeld = kOpusRate;

struct TOpusDeleter {
  void operator()(OpusMSDecoder* d) const noexcept { opus_multistream_decoder_destroy(d); }
};

class TOpusCodec final : public TACMCodec, private TOggLinkSink {
 public:
  explicit TOpusCodec(TPcmShape dst) : Conv(dst) {}

  ~TOpusCodec() override { EndLink(); }

  TOpusCodec(const TOpusCodec&) = delete;
  TOpusCodec& operator=(const TOpusCodec&) = delete;

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    Ogg.Feed(src, *this);
    if (!end) return MMSYSERR_NOERROR;
    EndLink();
    Conv.Finish();
    return EverDecoded ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // A page completes per block or so; packets of low-rate speech are a few
    // bytes for 960 samples. More waits in the queue.
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = srcBytes * 24 + 2 * kMaxPacketFrames;
    frames = frames * dst.Rate / kOpusRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override { return dstBytes / 24 + 1; }
  uint32_t Skipped() const override { return Damaged + Ogg.Damaged(); }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  void NewLink() override { EndLink(); }
  bool LinkHasAudio() const override { return Decoded > 0; }

  void PageEnded(ogg_int64_t granule) override {
    if (Decoder && granule >= 0) Limit = uint64_t(granule);
    Release(false);
  }

  void Packet(ogg_packet& packet) override {
    const auto* data = packet.packet;
    const auto size = static_cast<size_t>(packet.bytes);
    if (Headers == 0) {
      if (!ReadHead(data, size)) {
        ++Damaged;
        EndLink();  // not Opus, or a damaged header: wait for the next stream
      }
      ++Headers;
      return;
    }
    if (Headers == 1) {
      // The comment header; its content is the header reader's business.
      if (size < 8 || std::memcmp(data, "OpusTags", 8) != 0) ++Damaged;
      ++Headers;
      return;
    }
    if (!Decoder) return;
    const size_t at = Held.size();
    Held.resize(at + size_t(kMaxPacketFrames) * Channels);
    int frames = opus_multistream_decode_float(Decoder.get(), data, static_cast<opus_int32>(size), Held.data() + at,
                                               kMaxPacketFrames, 0);
    if (frames < 0) {
      ++Damaged;
      frames = 0;
    }
    Held.resize(at + size_t(frames) * Channels);
    Decoded += uint64_t(frames);
  }

  // OpusHead: "OpusHead", version, channels, pre-skip, input rate, output
  // gain (Q7.8 dB), mapping family, and for families other than 0 the
  // stream count, coupled count and channel mapping.
  bool ReadHead(const uint8_t* p, size_t size) {
    TOpusHead head;
    if (!ReadOpusHead({p, size}, &head)) return false;
    const int channels = head.ChannelCount;
    PreSkip = head.PreSkip;
    const int16_t gain = head.OutputGain;
    const int streams = head.StreamCount, coupled = head.CoupledCount;
    const unsigned char* mapping = head.Mapping.data();
    // The layer takes one or two channels.
    if (channels > 2) return false;
    int error = OPUS_OK;
    Decoder.reset(opus_multistream_decoder_create(static_cast<opus_int32>(kOpusRate), channels, streams, coupled,
                                                  mapping, &error));
    if (!Decoder || error != OPUS_OK) {
      Decoder.reset();
      return false;
    }
    opus_multistream_decoder_ctl(Decoder.get(), OPUS_SET_GAIN(gain));
    Channels = channels;
    EverDecoded = true;
    return true;
  }

  // Hands on what the granule positions allow: samples [Released, allowed),
  // less the pre-skip. all: the link has ended without an end-of-stream
  // page (a truncated file): everything decoded goes.
  void Release(bool all) {
    if (!Decoder) return;
    uint64_t allowed = all ? Decoded : std::min(Decoded, Limit);
    if (Decoded > allowed + kMaxHeld) allowed = Decoded - kMaxHeld;
    if (allowed <= Released) return;
    uint64_t from = std::max<uint64_t>(Released, PreSkip);
    if (allowed > from) {
      const size_t first = size_t(from - Released) * Channels;
      TPcmShape shape{TSampleType::F32, static_cast<uint16_t>(Channels), kOpusRate};
      Conv.Write(reinterpret_cast<const uint8_t*>(Held.data() + first), size_t(allowed - from), shape);
    }
    Held.erase(Held.begin(), Held.begin() + std::ptrdiff_t((allowed - Released) * Channels));
    Released = allowed;
  }

  // The end of a link: after its end-of-stream page the samples past the
  // final granule position are padding; without one, all is released.
  void EndLink() {
    if (Decoder) Release(!Ogg.Eos());
    Decoder.reset();
    Ogg.DropLink();
    Headers = 0;
    Held.clear();
    Decoded = Released = Limit = 0;
    PreSkip = 0;
  }

  TPCMConverter Conv;
  TOggDemux Ogg;
  std::unique_ptr<OpusMSDecoder, TOpusDeleter> Decoder;
  int Headers = 0;
  int Channels = 0;
  uint64_t PreSkip = 0;
  std::vector<float> Held;  // decoded samples [Released, Decoded), interleaved
  uint64_t Decoded = 0;     // samples decoded in this link, pre-skip included
  uint64_t Released = 0;    // samples handed on or dropped
  uint64_t Limit = 0;       // the latest granule position
  bool EverDecoded = false;  // some link got past its identification header
  uint32_t Damaged = 0;
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR || !out) return r;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  *out = std::make_unique<TOpusCodec>(d);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_OPUS, 18, "Ogg Opus"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

const TACMDriverEntry& OpusDriver() {
  static const TACMDriverEntry entry{"Opus", "Ogg Opus decoder (libogg, libopus)", ACMDRIVERDETAILS_SUPPORTF_CODEC,
                                     kTagInfo, Open, Suggest};
  return entry;
}

}  // namespace cv

#endif  // CORVID_WITH_OPUS
