#include "decode/cvACMWAVCodecs.h"

#if CORVID_WITH_WAVCODECS

#include <algorithm>
#include <vector>

#include "decode/cvACMPCM.h"
#include "decode/cvAVDecoder.h"

namespace cv {
namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ADPCM, WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW,
                              WAVE_FORMAT_GSM610};

bool IsBlockCodec(uint16_t tag) { return tag != WAVE_FORMAT_ALAW && tag != WAVE_FORMAT_MULAW; }

class TWAVCodec final : public TACMCodec {
 public:
  TWAVCodec(const TFormatBlock& src, TPcmShape dst)
      : Conv(dst), Decoder(Conv), Tag(src.wFormatTag()), HeaderRate(src.nSamplesPerSec()), Channels(src.nChannels()) {
    TAVCodecParams p;
    switch (Tag) {
      case WAVE_FORMAT_IMA_ADPCM: p.Codec = TAVCodec::ImaAdpcmWav; break;
      case WAVE_FORMAT_ADPCM: p.Codec = TAVCodec::MsAdpcm; break;
      case WAVE_FORMAT_ALAW: p.Codec = TAVCodec::ALaw; break;
      case WAVE_FORMAT_MULAW: p.Codec = TAVCodec::MuLaw; break;
      default: p.Codec = TAVCodec::GsmMs; break;
    }
    p.Rate = src.nSamplesPerSec();
    p.Channels = src.nChannels();
    p.BitsPerCodedSample = src.wBitsPerSample();
    p.BlockAlign = src.nBlockAlign();
    p.BitRate = uint64_t(src.nAvgBytesPerSec()) * 8;
    // No extra data: libavcodec's decoders of these codecs work from the
    // fields above (the fmt chunk's extra bytes hold nothing they need).
    // A-law and mu-law take whole frames of one byte per channel.
    Packet = IsBlockCodec(Tag) ? src.nBlockAlign() : size_t(src.nChannels()) * 1024;
    if (Packet == 0 || Packet > (1u << 20) || !Decoder.Open(p)) Packet = 0;
  }

  bool Usable() const { return Packet != 0; }

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    size_t pos = 0;
    // Complete a packet begun by an earlier call.
    if (!Held.empty()) {
      size_t n = std::min(Packet - Held.size(), src.size());
      Held.insert(Held.end(), src.begin(), src.begin() + std::ptrdiff_t(n));
      pos = n;
      if (Held.size() == Packet) {
        Decoder.Send(Held);
        Held.clear();
      }
    }
    while (src.size() - pos >= Packet) {
      Decoder.Send(src.subspan(pos, Packet));
      pos += Packet;
    }
    Held.insert(Held.end(), src.begin() + std::ptrdiff_t(pos), src.end());
    if (!end) return MMSYSERR_NOERROR;
    if (!Held.empty()) {
      // A partial last block: A-law and mu-law frames are whole bytes; the
      // block codecs decode what the block's header allows.
      if (!IsBlockCodec(Tag)) Held.resize(Held.size() - Held.size() % Channels);
      Decoder.Send(Held);
      Held.clear();
    }
    Decoder.Drain();
    Conv.Finish();
    return Decoder.Delivered() > 0 ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // The densest: A-law and mu-law, one frame per byte per channel; IMA
    // ADPCM at 2 bits, four samples per byte. GSM: 320 samples per 65 bytes.
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = srcBytes * 4 + 2 * std::max<uint64_t>(Packet, 1024) * 4;
    frames = frames * dst.Rate / HeaderRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override { return dstBytes / 4 + 1; }
  uint32_t Skipped() const override { return Decoder.Errors(); }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  TPCMConverter Conv;
  TAVDecoder Decoder;
  uint16_t Tag;
  uint32_t HeaderRate;
  size_t Channels;
  size_t Packet = 0;          // bytes per packet
  std::vector<uint8_t> Held;  // a packet begun
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR) return r;
  if (src.nBlockAlign() == 0) return ACMERR_NOTPOSSIBLE;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  auto codec = std::make_unique<TWAVCodec>(src, d);
  if (!codec->Usable()) return ACMERR_NOTPOSSIBLE;
  if (out) *out = std::move(codec);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_IMA_ADPCM, 20, "IMA ADPCM"},
    {WAVE_FORMAT_ADPCM, 50, "Microsoft ADPCM"},
    {WAVE_FORMAT_ALAW, 18, "CCITT A-Law"},
    {WAVE_FORMAT_MULAW, 18, "CCITT u-Law"},
    {WAVE_FORMAT_GSM610, 20, "GSM 6.10"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

const TACMDriverEntry& WAVCodecsDriver() {
  static const TACMDriverEntry entry{"WAVE codecs", "IMA and Microsoft ADPCM, A-law, mu-law, GSM 6.10 (libavcodec)",
                                     ACMDRIVERDETAILS_SUPPORTF_CODEC, kTagInfo, Open, Suggest};
  return entry;
}

}  // namespace cv

#endif  // CORVID_WITH_WAVCODECS
