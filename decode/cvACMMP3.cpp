#include "decode/cvACMMP3.h"

#if CORVID_WITH_MP3

#include <mpg123.h>

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "decode/cvACMPCM.h"

namespace cv {
namespace {

constexpr uint16_t kTags[] = {WAVE_FORMAT_MPEGLAYER3};

struct TMpg123Deleter {
  void operator()(mpg123_handle* h) const noexcept { mpg123_delete(h); }
};

class TMP3Codec final : public TACMCodec {
 public:
  TMP3Codec(const TFormatBlock& src, TPcmShape dst) : Conv(dst), HeaderRate(src.nSamplesPerSec()) {
    // 16-bit output straight from the library when nothing needs resampling
    // or mixing; float otherwise, so that no precision is lost before the
    // PCM converter.
    Encoding = (dst.Type == TSampleType::S16 && dst.Rate == src.nSamplesPerSec() && dst.Channels == src.nChannels())
                   ? MPG123_ENC_SIGNED_16
                   : MPG123_ENC_FLOAT_32;
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    int error = MPG123_OK;
    Handle.reset(mpg123_new(nullptr, &error));
    if (!Handle) return;
    mpg123_param(Handle.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_param(Handle.get(), MPG123_REMOVE_FLAGS, MPG123_AUTO_RESAMPLE, 0.0);
    // Every rate and channel count, one encoding.
    mpg123_format_none(Handle.get());
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(Handle.get(), rates[i], MPG123_MONO | MPG123_STEREO, Encoding);
    if (mpg123_open_feed(Handle.get()) != MPG123_OK) Handle.reset();
    Pcm.resize(64 * 1024);
  }

  bool Usable() const { return Handle != nullptr; }

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    if (!src.empty()) {
      if (mpg123_feed(Handle.get(), src.data(), src.size()) != MPG123_OK) ++Errors;
    }
    Read();
    if (!end) return MMSYSERR_NOERROR;
    Conv.Finish();
    return Shape.Rate ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    // The densest frames: 24 bytes for 576 samples (MPEG-2, 8 kbit/s at
    // 24 kHz); 96 bytes for 1152 (MPEG-1, 32 kbit/s at 48 kHz).
    const bool mpeg1 = HeaderRate >= 32000;
    const uint64_t minFrame = mpeg1 ? 96 : 24;
    const uint64_t samples = mpeg1 ? 1152 : 576;
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = (srcBytes / minFrame + 2) * samples;
    frames = frames * dst.Rate / HeaderRate + 64;
    return frames * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override {
    // At 128 kbit/s, 44.1 kHz stereo: 1 byte of MP3 for about 11 of PCM.
    return dstBytes / 11 + 1;
  }

  uint32_t Skipped() const override { return Errors; }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  void Read() {
    // Bounded: a run of errors without progress ends the round; the next
    // feed resumes it.
    int errorsInRow = 0;
    for (;;) {
      size_t done = 0;
      int r = mpg123_read(Handle.get(), Pcm.data(), Pcm.size(), &done);
      if (done > 0 && Shape.Rate) {
        Conv.Write(Pcm.data(), done / Shape.FrameBytes(), Shape);
        errorsInRow = 0;
      }
      if (r == MPG123_NEW_FORMAT) {
        NewFormat();
      } else if (r == MPG123_OK) {
        if (done == 0 && ++errorsInRow > 1000) break;
      } else if (r == MPG123_NEED_MORE || r == MPG123_DONE) {
        break;
      } else {
        ++Errors;
        if (++errorsInRow > 1000) break;
      }
    }
  }

  void NewFormat() {
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(Handle.get(), &rate, &channels, &encoding) != MPG123_OK) return;
    TPcmShape shape;
    shape.Type = encoding == MPG123_ENC_SIGNED_16 ? TSampleType::S16 : TSampleType::F32;
    shape.Channels = static_cast<uint16_t>(channels);
    shape.Rate = static_cast<uint32_t>(rate);
    if (!Shape.Rate) {
      // Pin the first format: a damaged frame header must not switch it.
      mpg123_format_none(Handle.get());
      mpg123_format(Handle.get(), rate, channels, encoding);
    }
    Shape = shape;
  }

  TPCMConverter Conv;
  uint32_t HeaderRate;
  int Encoding;
  std::unique_ptr<mpg123_handle, TMpg123Deleter> Handle;
  std::vector<uint8_t> Pcm;
  TPcmShape Shape{TSampleType::S16, 0, 0};  // Rate 0 until the first format event
  uint32_t Errors = 0;
};

MMRESULT Open(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  MMRESULT r = CodecOpenCheck(src, dst, kTags);
  if (r != MMSYSERR_NOERROR || !out) return r;
  TPcmShape d;
  ShapeOfFormat(dst, &d);
  auto codec = std::make_unique<TMP3Codec>(src, d);
  if (!codec->Usable()) return ACMERR_NOTPOSSIBLE;
  *out = std::move(codec);
  return MMSYSERR_NOERROR;
}

MMRESULT Suggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out) {
  return CodecSuggest(src, request, flags, out, kTags);
}

constexpr TACMFormatTagInfo kTagInfo[] = {
    {WAVE_FORMAT_MPEGLAYER3, 30, "MPEG Layer-3"},
    {WAVE_FORMAT_PCM, 18, "PCM"},
};

}  // namespace

bool MP3StreamFormat(const std::string& Path, uint64_t Start, uint64_t End, uint32_t* Rate, uint16_t* Channels) {
  static std::once_flag once;
  std::call_once(once, [] { mpg123_init(); });
  int error = MPG123_OK;
  std::unique_ptr<mpg123_handle, TMpg123Deleter> h(mpg123_new(nullptr, &error));
  if (!h) return false;
  mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  if (mpg123_open_feed(h.get()) != MPG123_OK) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(Path.c_str(), "rb"), &std::fclose);
  if (!f || ::fseeko(f.get(), off_t(Start), SEEK_SET) != 0) return false;
  constexpr uint64_t kLimit = 16u << 20;
  std::vector<uint8_t> block(64 * 1024);
  const uint64_t end = std::min(End, Start + kLimit);
  for (uint64_t pos = Start; pos < end;) {
    const size_t want = size_t(std::min<uint64_t>(block.size(), end - pos));
    const size_t got = std::fread(block.data(), 1, want, f.get());
    if (got == 0) break;
    pos += got;
    if (mpg123_feed(h.get(), block.data(), got) != MPG123_OK) return false;
    // Bounded: each round either reports something or needs more input.
    for (int round = 0; round < 1000; ++round) {
      off_t frame = 0;
      unsigned char* audio = nullptr;
      size_t bytes = 0;
      const int r = mpg123_decode_frame(h.get(), &frame, &audio, &bytes);
      if (r == MPG123_NEW_FORMAT) {
        long rate = 0;
        int channels = 0, encoding = 0;
        if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK) return false;
        *Rate = static_cast<uint32_t>(rate);
        *Channels = static_cast<uint16_t>(channels);
        return true;
      }
      if (r == MPG123_NEED_MORE || r == MPG123_DONE) break;
    }
  }
  return false;
}

const TACMDriverEntry& MP3Driver() {
  static const TACMDriverEntry entry{"MP3", "MPEG Layer-3 decoder (libmpg123)", ACMDRIVERDETAILS_SUPPORTF_CODEC,
                                     kTagInfo, Open, Suggest};
  return entry;
}

}  // namespace cv

#endif  // CORVID_WITH_MP3
