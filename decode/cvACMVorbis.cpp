#include "decode/cvACMVorbis.h"

#if CORVID_WITH_VORBIS

#include <vorbis/codec.h>

#include <algorithm>

#include "decode/cvACMPCM.h"
#include "decode/cvOggDemux.h"

namespace cv {
namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_OGG_VORBIS};

class TVorbisCodec final : public TACMCodec, private TOggLinkSink {
 public:
  TVorbisCodec(const TFormatBlock& src, TPcmShape dst) : Conv(dst), HeaderRate(src.nSamplesPerSec()) {}

  ~TVorbisCodec() override { EndStream(); }

  TVorbisCodec(const TVorbisCodec&) = delete;
  TVorbisCodec& operator=(const TVorbisCodec&) = delete;

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    Ogg.Feed(src, *this);
    if (!end) return MMSYSERR_NOERROR;
    EndStream();
    Conv.Finish();
    return EverDecoded ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // One page usually completes per block; the largest seen from 2048
    // bytes is 10240 frames. More waits in the queue.
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = std::max<uint64_t>(srcBytes * 8, 16384);
    frames = frames * dst.Rate / HeaderRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override { return dstBytes / 16 + 1; }
  uint32_t Skipped() const override { return Damaged + Ogg.Damaged(); }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  void NewLink() override {
    EndStream();
    vorbis_info_init(&Info);
    vorbis_comment_init(&Comment);
    InfoInit = true;
  }
  bool LinkHasAudio() const override { return Audio; }
  void PageEnded(ogg_int64_t) override {}

  void Packet(ogg_packet& packet) override {
    if (Headers < 3) {
      if (vorbis_synthesis_headerin(&Info, &Comment, &packet) != 0) {
        ++Damaged;
        EndStream();  // not Vorbis, or a damaged header: wait for the next stream
        return;
      }
      if (++Headers < 3) return;
      if (Info.channels < 1 || Info.channels > 2 || Info.rate < long(kMinRate) || Info.rate > long(kMaxRate) ||
          vorbis_synthesis_init(&Dsp, &Info) != 0) {
        ++Damaged;
        EndStream();
        return;
      }
      DspInit = true;
      EverDecoded = true;
      vorbis_block_init(&Dsp, &Block);
      return;
    }
    if (vorbis_synthesis(&Block, &packet) != 0 || vorbis_synthesis_blockin(&Dsp, &Block) != 0) {
      ++Damaged;
      return;
    }
    float** pcm = nullptr;
    int frames;
    while ((frames = vorbis_synthesis_pcmout(&Dsp, &pcm)) > 0) {
      Conv.WritePlanar(pcm, static_cast<size_t>(frames), static_cast<uint16_t>(Info.channels),
                       static_cast<uint32_t>(Info.rate));
      vorbis_synthesis_read(&Dsp, frames);
      Audio = true;
    }
  }

  void EndStream() {
    if (DspInit) {
      vorbis_block_clear(&Block);
      vorbis_dsp_clear(&Dsp);
      DspInit = false;
    }
    if (InfoInit) {
      vorbis_comment_clear(&Comment);
      vorbis_info_clear(&Info);
      InfoInit = false;
    }
    Ogg.DropLink();
    Headers = 0;
    Audio = false;
  }

  TPCMConverter Conv;
  uint32_t HeaderRate;
  TOggDemux Ogg;
  vorbis_info Info{};
  vorbis_comment Comment{};
  vorbis_dsp_state Dsp{};
  vorbis_block Block{};
  bool InfoInit = false;  // Info and Comment are initialised
  bool DspInit = false;   // Dsp and Block are initialised
  int Headers = 0;
  bool Audio = false;        // this stream gave audio
  bool EverDecoded = false;  // some stream got past its headers
  uint32_t Damaged = 0;
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR || !out) return r;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  *out = std::make_unique<TVorbisCodec>(src, d);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_OGG_VORBIS, 22, "Ogg Vorbis"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

const TACMDriverEntry& VorbisDriver() {
  static const TACMDriverEntry entry{"Vorbis", "Ogg Vorbis decoder (libogg, libvorbis)", ACMDRIVERDETAILS_SUPPORTF_CODEC,
                                     kTagInfo, Open, Suggest};
  return entry;
}

}  // namespace cv

#endif  // CORVID_WITH_VORBIS
