#include "decode/cvACMMP4.h"

#include <algorithm>

#if CORVID_WITH_MP4
#include "decode/cvACMPCM.h"
#include "decode/cvAVDecoder.h"
#endif

namespace cv {

std::vector<uint8_t> TMP4Extra::Encode() const {
  std::vector<uint8_t> b(kFixedSize);
  for (int k = 0; k < 4; ++k) b[size_t(k)] = uint8_t(TimeScale >> (8 * k));
  for (int k = 0; k < 8; ++k) b[size_t(4 + k)] = uint8_t(Skip >> (8 * k));
  for (int k = 0; k < 8; ++k) b[size_t(12 + k)] = uint8_t(Keep >> (8 * k));
  b.insert(b.end(), Config.begin(), Config.end());
  return b;
}

bool TMP4Extra::Decode(std::span<const uint8_t> bytes, TMP4Extra* out) {
  if (bytes.size() < kFixedSize) return false;
  TMP4Extra e;
  for (int k = 0; k < 4; ++k) e.TimeScale |= uint32_t(bytes[size_t(k)]) << (8 * k);
  e.Skip = 0;
  e.Keep = 0;
  for (int k = 0; k < 8; ++k) e.Skip |= uint64_t(bytes[size_t(4 + k)]) << (8 * k);
  for (int k = 0; k < 8; ++k) e.Keep |= uint64_t(bytes[size_t(12 + k)]) << (8 * k);
  e.Config.assign(bytes.begin() + kFixedSize, bytes.end());
  *out = std::move(e);
  return true;
}

#if CORVID_WITH_MP4

namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_AAC, WAVE_FORMAT_ALAC};
constexpr uint32_t kMaxSample = 16u << 20;

class TMP4Codec final : public TACMCodec {
 public:
  TMP4Codec(const TFormatBlock& src, TPcmShape dst) : Conv(dst), Decoder(Conv), HeaderRate(src.nSamplesPerSec()) {
    TMP4Extra extra;
    if (!TMP4Extra::Decode(src.Extra(), &extra)) return;
    TAVCodecParams p;
    p.Codec = src.wFormatTag() == WAVE_FORMAT_ALAC ? TAVCodec::ALAC : TAVCodec::AAC;
    p.Rate = src.nSamplesPerSec();
    p.Channels = src.nChannels();
    p.BitsPerCodedSample = src.wBitsPerSample();
    p.BitRate = uint64_t(src.nAvgBytesPerSec()) * 8;
    Config = extra.Config;
    p.Extra = Config;
    if (!Decoder.Open(p)) return;
    // The delay and length are in the track's time scale: the decoder
    // turns them into frames at the rate it gives, which is not the
    // configuration's when SBR shows only in the stream.
    Decoder.SetTrim(extra.Skip, extra.Keep, extra.TimeScale);
  }

  bool Usable() const { return Decoder.IsOpen(); }

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    size_t pos = 0;
    while (pos < src.size() && !Lost) {
      if (Need == 0) {
        // Collecting the 4-byte length.
        size_t n = std::min<size_t>(4 - LengthBytes.size(), src.size() - pos);
        LengthBytes.insert(LengthBytes.end(), src.begin() + std::ptrdiff_t(pos), src.begin() + std::ptrdiff_t(pos + n));
        pos += n;
        if (LengthBytes.size() < 4) break;
        uint32_t length = (uint32_t(LengthBytes[0]) << 24) | (uint32_t(LengthBytes[1]) << 16) |
                          (uint32_t(LengthBytes[2]) << 8) | LengthBytes[3];
        LengthBytes.clear();
        if (length > kMaxSample) {
          Lost = true;
          ++Damaged;
          break;
        }
        if (length == 0) continue;
        Need = length;
        Sample.clear();
      }
      size_t n = std::min<size_t>(Need, src.size() - pos);
      if (Sample.empty() && n == Need) {
        Decoder.Send(src.subspan(pos, n));  // the whole sample is here
      } else {
        Sample.insert(Sample.end(), src.begin() + std::ptrdiff_t(pos), src.begin() + std::ptrdiff_t(pos + n));
        if (n == Need) Decoder.Send(Sample);  // its last part
      }
      pos += n;
      Need -= n;
      if (Need == 0) Sample.clear();
    }
    if (!end) return MMSYSERR_NOERROR;
    if (Need > 0 || !LengthBytes.empty()) ++Damaged;  // the last sample is cut short
    Decoder.Drain();
    Conv.Finish();
    return Decoder.Delivered() > 0 ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // ALAC: 4096 frames per sample, whatever its size; AAC: 1024 (2048 with
    // SBR) per sample of at least a few bytes. More waits in the queue.
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = (srcBytes / 8 + 2) * 4096;
    frames = frames * dst.Rate / HeaderRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override { return dstBytes / 11 + 1; }
  uint32_t Skipped() const override { return Damaged + Decoder.Errors(); }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  TPCMConverter Conv;
  TAVDecoder Decoder;
  uint32_t HeaderRate;
  std::vector<uint8_t> Config;
  std::vector<uint8_t> LengthBytes;  // a length being collected
  std::vector<uint8_t> Sample;       // a sample being collected
  size_t Need = 0;                   // bytes of the current sample still to come
  bool Lost = false;                 // the framing is lost: the rest is ignored
  uint32_t Damaged = 0;
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR) return r;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  auto codec = std::make_unique<TMP4Codec>(src, d);
  if (!codec->Usable()) return ACMERR_NOTPOSSIBLE;
  if (out) *out = std::move(codec);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_AAC, 18 + 20 + 64, "AAC (MP4)"},
    {WAVE_FORMAT_ALAC, 18 + 20 + 48, "Apple Lossless (MP4)"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

const TACMDriverEntry& MP4Driver() {
  static const TACMDriverEntry entry{"MP4", "AAC and Apple Lossless decoder for MP4 tracks (libavcodec)",
                                     ACMDRIVERDETAILS_SUPPORTF_CODEC, kTagInfo, Open, Suggest};
  return entry;
}

#endif  // CORVID_WITH_MP4

}  // namespace cv
