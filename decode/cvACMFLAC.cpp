#include "decode/cvACMFLAC.h"

#if CORVID_WITH_FLAC

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "decode/cvACMPCM.h"
#include "formats/cvFLACfile.h"

namespace cv {
namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_FLAC};
constexpr size_t kStreamInfoSize = kFLACStreamInfoSize;

struct TDecoderDeleter {
  void operator()(FLAC__StreamDecoder* d) const noexcept { FLAC__stream_decoder_delete(d); }
};

class TFLACCodec final : public TACMCodec {
 public:
  TFLACCodec(const TFormatBlock& src, TPcmShape dst) : Conv(dst), HeaderRate(src.nSamplesPerSec()) {
    Decoder.reset(FLAC__stream_decoder_new());
    if (!Decoder) return;
    FLAC__stream_decoder_set_md5_checking(Decoder.get(), false);
    if (FLAC__stream_decoder_init_stream(Decoder.get(), ReadCallback, nullptr, nullptr, nullptr, nullptr,
                                         WriteCallback, nullptr, ErrorCallback,
                                         this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
      Decoder.reset();
  }

  ~TFLACCodec() override {
    if (Decoder) FLAC__stream_decoder_finish(Decoder.get());
  }

  TFLACCodec(const TFLACCodec&) = delete;
  TFLACCodec& operator=(const TFLACCodec&) = delete;

  bool Usable() const { return Decoder != nullptr; }

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    Walk(src);
    if (Stage == TStage::Frames) Decode(false);
    if (!end) return MMSYSERR_NOERROR;
    Ended = true;
    if (Stage == TStage::Frames) Decode(true);
    Conv.Finish();
    return Stage == TStage::Frames && Frames > 0 ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // Frames are released as the hold-back fills; a block usually completes
    // one frame or a few. A verbatim 4608-sample frame is the common maximum;
    // more waits in the queue.
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = std::max<uint64_t>(srcBytes * 4, 3 * 4608);
    frames = frames * dst.Rate / HeaderRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override { return dstBytes / 2 + 1; }
  uint32_t Skipped() const override { return Damaged; }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  enum class TStage { Start, ID3, Marker, BlockHeader, BlockBody, Frames, Refused };

  // The metadata walk: consumes src up to the first audio frame, then
  // appends the rest to Pending.
  void Walk(std::span<const uint8_t> src) {
    size_t pos = 0;
    while (pos < src.size() && Stage != TStage::Frames && Stage != TStage::Refused) {
      switch (Stage) {
        case TStage::Start:
        case TStage::Marker:
        case TStage::BlockHeader: {
          const size_t want = Stage == TStage::Start ? 10 : 4;
          size_t n = std::min(want - Head.size(), src.size() - pos);
          Head.insert(Head.end(), src.begin() + std::ptrdiff_t(pos), src.begin() + std::ptrdiff_t(pos + n));
          pos += n;
          if (Head.size() == want) Headed();
          break;
        }
        case TStage::ID3:
        case TStage::BlockBody: {
          size_t n = size_t(std::min<uint64_t>(Skip, src.size() - pos));
          if (Stage == TStage::BlockBody && Type == 0 && StreamInfo.size() < kStreamInfoSize) {
            size_t keep = std::min(n, kStreamInfoSize - StreamInfo.size());
            StreamInfo.insert(StreamInfo.end(), src.begin() + std::ptrdiff_t(pos),
                              src.begin() + std::ptrdiff_t(pos + keep));
          }
          pos += n;
          Skip -= n;
          if (Skip == 0) Bodied();
          break;
        }
        case TStage::Frames:
        case TStage::Refused:
          break;
      }
    }
    if (Stage == TStage::Frames && pos < src.size()) Pending.insert(Pending.end(), src.begin() + std::ptrdiff_t(pos), src.end());
  }

  // A header of the walk is complete in Head.
  void Headed() {
    if (Stage == TStage::Start) {
      // An ID3v2 tag in front: "ID3", version, flags, a sync-safe size.
      const auto& h = Head;
      if (h[0] == 'I' && h[1] == 'D' && h[2] == '3' && !((h[6] | h[7] | h[8] | h[9]) & 0x80)) {
        Skip = (uint64_t(h[6]) << 21) | (uint64_t(h[7]) << 14) | (uint64_t(h[8]) << 7) | h[9];
        if (h[5] & 0x10) Skip += 10;  // footer
        Head.clear();
        Stage = Skip ? TStage::ID3 : TStage::Marker;
        return;
      }
      // No tag: the first four bytes must be the marker; the other six are
      // the first block header and two bytes of its body.
      std::vector<uint8_t> rest(Head.begin() + 4, Head.end());
      Stage = TStage::Marker;
      Head.resize(4);
      Headed();
      if (Stage != TStage::BlockHeader) return;
      Head.clear();
      Walk(rest);
      return;
    }
    if (Stage == TStage::Marker) {
      if (std::memcmp(Head.data(), "fLaC", 4) != 0) return Refuse();
      Head.clear();
      Stage = TStage::BlockHeader;
      return;
    }
    // A metadata block header: last flag, type, 24-bit length.
    Last = (Head[0] & 0x80) != 0;
    Type = Head[0] & 0x7F;
    Skip = (uint64_t(Head[1]) << 16) | (uint64_t(Head[2]) << 8) | Head[3];
    Head.clear();
    if (Type == 127) return Refuse();
    if (Type == 0 && Skip != kStreamInfoSize) return Refuse();
    Stage = TStage::BlockBody;
    if (Skip == 0) Bodied();
  }

  // A body of the walk (ID3v2 tag or metadata block) has been passed.
  void Bodied() {
    if (Stage == TStage::ID3) {
      Stage = TStage::Marker;
      return;
    }
    if (!Last) {
      Stage = TStage::BlockHeader;
      return;
    }
    if (StreamInfo.size() != kStreamInfoSize) return Refuse();
    // What libFLAC gets: the marker and STREAMINFO as the only block.
    const uint8_t head[] = {'f', 'L', 'a', 'C', 0x80, 0, 0, uint8_t(kStreamInfoSize)};
    Pending.assign(std::begin(head), std::end(head));
    Pending.insert(Pending.end(), StreamInfo.begin(), StreamInfo.end());
    HoldBack = HoldBackFor(StreamInfo);
    Stage = TStage::Frames;
  }

  void Refuse() {
    Stage = TStage::Refused;
    ++Damaged;
  }

  // Input to hold before a frame is decoded: twice the largest frame the
  // stream may have (STREAMINFO's maximum frame size, or a verbatim frame of
  // its largest block), plus libFLAC's read-ahead.
  static size_t HoldBackFor(const std::vector<uint8_t>& si) {
    TFLACStreamInfo info;
    ReadFLACStreamInfo(si, &info);  // si holds the whole block (checked by Bodied)
    const uint64_t maxBlock = info.MaxBlockSize;
    const uint64_t maxFrame = info.MaxFrameSize;
    const uint64_t channels = info.ChannelCount;
    const uint64_t bits = info.BitsPerSample;
    uint64_t verbatim = std::max<uint64_t>(maxBlock, 4608) * channels * (bits + 1) / 8 + 1024;
    uint64_t frame = std::max(maxFrame, verbatim);
    return size_t(std::min<uint64_t>(2 * frame + (64u << 10), 16u << 20));
  }

  // Lets libFLAC decode frame by frame while enough input is held (all of
  // it at the end). Bounded: a round that neither consumes input, nor
  // delivers a frame, nor moves the decoder on (a metadata block read from
  // what it already holds) ends the loop.
  void Decode(bool atEnd) {
    if (!Decoder) return;
    while (atEnd || Pending.size() - Taken >= HoldBack) {
      const size_t takenBefore = Taken;
      const uint64_t framesBefore = Frames;
      const FLAC__StreamDecoderState stateBefore = FLAC__stream_decoder_get_state(Decoder.get());
      Window = atEnd ? SIZE_MAX : HoldBack;
      Starved = false;
      FLAC__stream_decoder_process_single(Decoder.get());
      const FLAC__StreamDecoderState state = FLAC__stream_decoder_get_state(Decoder.get());
      if (state == FLAC__STREAM_DECODER_END_OF_STREAM) break;
      if (state == FLAC__STREAM_DECODER_ABORTED || Starved) {
        // A frame that reads past what it may: drop it and resynchronise.
        ++Damaged;
        FLAC__stream_decoder_flush(Decoder.get());
      } else if (state != FLAC__STREAM_DECODER_SEARCH_FOR_METADATA &&
                 state != FLAC__STREAM_DECODER_READ_METADATA &&
                 state != FLAC__STREAM_DECODER_SEARCH_FOR_FRAME_SYNC && state != FLAC__STREAM_DECODER_READ_FRAME) {
        ++Damaged;  // a memory or setup failure: nothing more will decode
        Decoder.reset();
        break;
      }
      if (Taken == takenBefore && Frames == framesBefore &&
          FLAC__stream_decoder_get_state(Decoder.get()) == stateBefore)
        break;
    }
    // Drop what libFLAC has taken.
    if (Taken > 0 && (Taken >= Pending.size() / 2 || Taken == Pending.size())) {
      Pending.erase(Pending.begin(), Pending.begin() + std::ptrdiff_t(Taken));
      Taken = 0;
    }
  }

  static FLAC__StreamDecoderReadStatus ReadCallback(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                    void* self) {
    auto* c = static_cast<TFLACCodec*>(self);
    size_t n = std::min({*bytes, c->Pending.size() - c->Taken, c->Window});
    if (n == 0) {
      *bytes = 0;
      if (c->Ended) return FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
      c->Starved = true;
      return FLAC__STREAM_DECODER_READ_STATUS_ABORT;
    }
    std::memcpy(buffer, c->Pending.data() + c->Taken, n);
    c->Taken += n;
    if (c->Window != SIZE_MAX) c->Window -= n;
    *bytes = n;
    return FLAC__STREAM_DECODER_READ_STATUS_CONTINUE;
  }

  static FLAC__StreamDecoderWriteStatus WriteCallback(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                      const FLAC__int32* const buffer[], void* self) {
    auto* c = static_cast<TFLACCodec*>(self);
    c->Deliver(frame->header, buffer);
    return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
  }

  static void ErrorCallback(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void* self) {
    ++static_cast<TFLACCodec*>(self)->Damaged;
  }

  // One decoded frame, in its own format, to the PCM converter: up to 16
  // bits as 16-bit samples, more as 32-bit, shifted to full scale.
  void Deliver(const FLAC__FrameHeader& h, const FLAC__int32* const buffer[]) {
    const uint32_t bits = h.bits_per_sample;
    if (h.channels < 1 || h.channels > 2 || bits < 4 || bits > 32 || h.sample_rate < kMinRate ||
        h.sample_rate > kMaxRate) {
      ++Damaged;
      return;
    }
    TPcmShape shape;
    shape.Channels = static_cast<uint16_t>(h.channels);
    shape.Rate = h.sample_rate;
    shape.Type = bits <= 16 ? TSampleType::S16 : TSampleType::S32;
    const uint32_t shift = (bits <= 16 ? 16 : 32) - bits;
    const size_t frames = h.blocksize;
    const size_t bps = shape.BytesPerSample();
    Interleaved.resize(frames * shape.FrameBytes());
    uint8_t* p = Interleaved.data();
    for (size_t i = 0; i < frames; ++i) {
      for (uint32_t ch = 0; ch < h.channels; ++ch, p += bps) {
        const uint32_t v = uint32_t(buffer[ch][i]) << shift;
        for (size_t k = 0; k < bps; ++k) p[k] = uint8_t(v >> (8 * k));
      }
    }
    Conv.Write(Interleaved.data(), frames, shape);
    ++Frames;
  }

  TPCMConverter Conv;
  uint32_t HeaderRate;
  std::unique_ptr<FLAC__StreamDecoder, TDecoderDeleter> Decoder;

  // The metadata walk.
  TStage Stage = TStage::Start;
  std::vector<uint8_t> Head;        // a header being collected
  uint64_t Skip = 0;                // bytes of the current body still to pass
  bool Last = false;                // the current block is the last
  uint8_t Type = 0;                 // the current block's type
  std::vector<uint8_t> StreamInfo;  // STREAMINFO's body

  // Input for libFLAC: Pending[Taken..] is not read yet.
  std::vector<uint8_t> Pending;
  size_t Taken = 0;
  size_t HoldBack = SIZE_MAX;
  size_t Window = 0;     // bytes the current frame may still read
  bool Starved = false;  // the current frame ran out of its window
  bool Ended = false;    // no input follows

  std::vector<uint8_t> Interleaved;
  uint64_t Frames = 0;  // frames delivered
  uint32_t Damaged = 0;
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR || !out) return r;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  auto codec = std::make_unique<TFLACCodec>(src, d);
  if (!codec->Usable()) return ACMERR_NOTPOSSIBLE;
  *out = std::move(codec);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_FLAC, 18, "FLAC"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

const TACMDriverEntry& FLACDriver() {
  static const TACMDriverEntry entry{"FLAC", "Free Lossless Audio Codec decoder (libFLAC)",
                                     ACMDRIVERDETAILS_SUPPORTF_CODEC, kTagInfo, Open, Suggest};
  return entry;
}

}  // namespace cv

#endif  // CORVID_WITH_FLAC
