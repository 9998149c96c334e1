#include "decode/cvACMPCM.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace cv {
namespace {

int32_t Load24(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
  if (v & 0x800000u) v |= 0xFF000000u;
  return static_cast<int32_t>(v);
}

int32_t Load24BE(const uint8_t* p) {
  uint32_t v = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[2]);
  if (v & 0x800000u) v |= 0xFF000000u;
  return static_cast<int32_t>(v);
}

uint32_t Load32BE(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

float LoadSample(const uint8_t* p, TSampleType type) {
  switch (type) {
    case TSampleType::S8:
      return int8_t(p[0]) * (1.0f / 128.0f);
    case TSampleType::S16BE:
      return int16_t(uint16_t((p[0] << 8) | p[1])) * (1.0f / 32768.0f);
    case TSampleType::S24BE:
      return float(Load24BE(p)) * (1.0f / 8388608.0f);
    case TSampleType::S32BE:
      return float(double(int32_t(Load32BE(p))) * (1.0 / 2147483648.0));
    case TSampleType::F32BE: {
      uint32_t v = Load32BE(p);
      float f;
      std::memcpy(&f, &v, 4);
      return std::isfinite(f) ? f : 0.0f;
    }
    case TSampleType::F64BE: {
      uint64_t v = (uint64_t(Load32BE(p)) << 32) | Load32BE(p + 4);
      double d;
      std::memcpy(&d, &v, 8);
      return std::isfinite(d) ? float(d) : 0.0f;
    }
    case TSampleType::U8:
      return (int(p[0]) - 128) * (1.0f / 128.0f);
    case TSampleType::S16:
      return int16_t(uint16_t(p[0] | (p[1] << 8))) * (1.0f / 32768.0f);
    case TSampleType::S24:
      return float(Load24(p)) * (1.0f / 8388608.0f);
    case TSampleType::S32: {
      uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
      return float(double(int32_t(v)) * (1.0 / 2147483648.0));
    }
    case TSampleType::F32: {
      float f;
      std::memcpy(&f, p, 4);
      return std::isfinite(f) ? f : 0.0f;
    }
  }
  return 0.0f;
}

// Round to nearest (ties to even, as the FPU does by default) and clip.
long RoundClip(float scaled, long lo, long hi) {
  if (!(scaled > float(lo))) return lo;  // also catches NaN
  if (scaled >= float(hi)) return hi;
  return std::lrintf(scaled);
}

void StoreSample(uint8_t* p, TSampleType type, float x) {
  switch (type) {
    case TSampleType::U8:
      p[0] = uint8_t(RoundClip(x * 128.0f, -128, 127) + 128);
      return;
    case TSampleType::S16: {
      auto v = uint16_t(int16_t(RoundClip(x * 32768.0f, -32768, 32767)));
      p[0] = uint8_t(v);
      p[1] = uint8_t(v >> 8);
      return;
    }
    case TSampleType::S24: {
      auto v = uint32_t(int32_t(RoundClip(x * 8388608.0f, -8388608, 8388607)));
      p[0] = uint8_t(v);
      p[1] = uint8_t(v >> 8);
      p[2] = uint8_t(v >> 16);
      return;
    }
    case TSampleType::S32: {
      double d = double(x) * 2147483648.0;
      int32_t i;
      if (!(d > -2147483648.0))
        i = INT32_MIN;
      else if (d >= 2147483647.0)
        i = INT32_MAX;
      else
        i = int32_t(std::lrint(d));
      auto v = uint32_t(i);
      for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
      return;
    }
    case TSampleType::F32:
      std::memcpy(p, &x, 4);
      return;
    case TSampleType::S8:
    case TSampleType::S16BE:
    case TSampleType::S24BE:
    case TSampleType::S32BE:
    case TSampleType::F32BE:
    case TSampleType::F64BE:
      return;  // source shapes only (ShapeOfFormat gives them for sources)
  }
}

}  // namespace

size_t TPcmShape::BytesPerSample() const {
  switch (Type) {
    case TSampleType::U8:
    case TSampleType::S8:
      return 1;
    case TSampleType::S16:
    case TSampleType::S16BE:
      return 2;
    case TSampleType::S24:
    case TSampleType::S24BE:
      return 3;
    case TSampleType::S32:
    case TSampleType::F32:
    case TSampleType::S32BE:
    case TSampleType::F32BE:
      return 4;
    case TSampleType::F64BE:
      return 8;
  }
  return 2;
}

bool ShapeOfFormat(const TFormatBlock& format, TPcmShape* shape) {
  TPcmShape s;
  uint16_t bits = format.wBitsPerSample();
  if (format.wFormatTag() == WAVE_FORMAT_PCM) {
    switch (bits) {
      case 8: s.Type = TSampleType::U8; break;
      case 16: s.Type = TSampleType::S16; break;
      case 24: s.Type = TSampleType::S24; break;
      case 32: s.Type = TSampleType::S32; break;
      default: return false;
    }
  } else if (format.wFormatTag() == WAVE_FORMAT_IEEE_FLOAT) {
    if (bits != 32) return false;
    s.Type = TSampleType::F32;
  } else if (format.wFormatTag() == WAVE_FORMAT_PCM_BE) {
    switch (bits) {
      case 8: s.Type = TSampleType::S8; break;
      case 16: s.Type = TSampleType::S16BE; break;
      case 24: s.Type = TSampleType::S24BE; break;
      case 32: s.Type = TSampleType::S32BE; break;
      default: return false;
    }
  } else if (format.wFormatTag() == WAVE_FORMAT_FLOAT_BE) {
    if (bits != 32 && bits != 64) return false;
    s.Type = bits == 32 ? TSampleType::F32BE : TSampleType::F64BE;
  } else {
    return false;
  }
  s.Channels = format.nChannels();
  s.Rate = format.nSamplesPerSec();
  if (s.Channels < 1 || s.Channels > 2) return false;
  if (s.Rate < kMinRate || s.Rate > kMaxRate) return false;
  if (shape) *shape = s;
  return true;
}

void TPCMConverter::SoxrDeleter::operator()(soxr* s) const noexcept { soxr_delete(s); }

TPCMConverter::TPCMConverter(TPcmShape dst) : Dst(dst) {}
TPCMConverter::~TPCMConverter() = default;

bool TPCMConverter::Write(const uint8_t* data, size_t frames, TPcmShape src) {
  if (src.Channels < 1 || src.Channels > 2 || src.Rate < kMinRate || src.Rate > kMaxRate) return false;
  if (frames == 0) return true;
  if (src == Dst && !Resampler) {
    Out.Append({data, frames * src.FrameBytes()});
    return true;
  }
  const size_t bps = src.BytesPerSample();
  const size_t frameBytes = src.FrameBytes();
  // Convert in slices so that the scratch buffers stay small.
  constexpr size_t kSlice = 8192;
  for (size_t done = 0; done < frames;) {
    size_t n = std::min(kSlice, frames - done);
    Scratch.resize(n * Dst.Channels);
    const uint8_t* p = data + done * frameBytes;
    for (size_t i = 0; i < n; ++i, p += frameBytes) {
      float l = LoadSample(p, src.Type);
      float r = src.Channels == 2 ? LoadSample(p + bps, src.Type) : l;
      if (Dst.Channels == 2) {
        Scratch[2 * i] = l;
        Scratch[2 * i + 1] = r;
      } else {
        Scratch[i] = src.Channels == 2 ? (l + r) * 0.5f : l;
      }
    }
    Emit(Scratch.data(), n, src.Rate);
    done += n;
  }
  return true;
}

bool TPCMConverter::WritePlanar(const float* const* planes, size_t frames, uint16_t channels, uint32_t rate) {
  if (channels < 1 || channels > 2 || rate < kMinRate || rate > kMaxRate) return false;
  constexpr size_t kSlice = 8192;
  for (size_t done = 0; done < frames;) {
    size_t n = std::min(kSlice, frames - done);
    Scratch.resize(n * Dst.Channels);
    for (size_t i = 0; i < n; ++i) {
      float l = planes[0][done + i];
      float r = channels == 2 ? planes[1][done + i] : l;
      if (!std::isfinite(l)) l = 0.0f;
      if (!std::isfinite(r)) r = 0.0f;
      if (Dst.Channels == 2) {
        Scratch[2 * i] = l;
        Scratch[2 * i + 1] = r;
      } else {
        Scratch[i] = channels == 2 ? (l + r) * 0.5f : l;
      }
    }
    Emit(Scratch.data(), n, rate);
    done += n;
  }
  return true;
}

void TPCMConverter::Emit(const float* samples, size_t frames, uint32_t rate) {
  if (Resampler && rate != ResamplerRate) Flush();  // the stream changed its rate
  if (rate == Dst.Rate) {
    Quantize(samples, frames);
    return;
  }
  if (!Resampler) {
    soxr_error_t error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr* s = soxr_create(double(rate), double(Dst.Rate), Dst.Channels, &error, &io, &quality, &runtime);
    if (error || !s) {
      if (s) soxr_delete(s);
      return;  // cannot happen for rates within the layer's range
    }
    Resampler.reset(s);
    ResamplerRate = rate;
  }
  const double ratio = double(Dst.Rate) / double(rate);
  size_t consumed = 0;
  // Bounded: every round either consumes input or produces output; a round
  // with neither ends the loop.
  for (int rounds = 0; consumed < frames && rounds < 1 << 20; ++rounds) {
    size_t left = frames - consumed;
    size_t room = size_t(double(left) * ratio) + 256;
    Resampled.resize(room * Dst.Channels);
    size_t idone = 0, odone = 0;
    soxr_process(Resampler.get(), samples + consumed * Dst.Channels, left, &idone, Resampled.data(), room, &odone);
    Quantize(Resampled.data(), odone);
    consumed += idone;
    if (idone == 0 && odone == 0) break;
  }
}

void TPCMConverter::Flush() {
  if (!Resampler) return;
  const size_t room = 4096;
  Resampled.resize(room * Dst.Channels);
  for (int rounds = 0; rounds < 1 << 16; ++rounds) {
    size_t odone = 0;
    soxr_process(Resampler.get(), nullptr, 0, nullptr, Resampled.data(), room, &odone);
    if (odone == 0) break;
    Quantize(Resampled.data(), odone);
  }
  Resampler.reset();
  ResamplerRate = 0;
}

void TPCMConverter::Finish() { Flush(); }

void TPCMConverter::Quantize(const float* samples, size_t frames) {
  if (frames == 0) return;
  const size_t bps = Dst.BytesPerSample();
  const size_t count = frames * Dst.Channels;
  uint8_t* p = Out.Extend(count * bps);
  for (size_t i = 0; i < count; ++i, p += bps) StoreSample(p, Dst.Type, samples[i]);
}

// The PCM converter as a driver: PCM or float in, PCM or float out.
namespace {

class TPCMCodec final : public TACMCodec {
 public:
  TPCMCodec(TPcmShape src, TPcmShape dst) : Src(src), Conv(dst) {}

  MMRESULT Convert(std::span<const uint8_t> src, bool end) override {
    const size_t frameBytes = Src.FrameBytes();
    size_t pos = 0;
    // Complete a frame left over from the previous call.
    if (!Carry.empty()) {
      size_t need = frameBytes - Carry.size();
      size_t n = std::min(need, src.size());
      Carry.insert(Carry.end(), src.begin(), src.begin() + n);
      pos = n;
      if (Carry.size() == frameBytes) {
        Conv.Write(Carry.data(), 1, Src);
        Carry.clear();
      }
    }
    size_t frames = (src.size() - pos) / frameBytes;
    Conv.Write(src.data() + pos, frames, Src);
    pos += frames * frameBytes;
    if (pos < src.size()) Carry.assign(src.begin() + pos, src.end());
    if (end) {
      if (!Carry.empty()) ++Dropped;  // a partial frame at the end holds no sample of every channel
      Carry.clear();
      Conv.Finish();
    }
    return MMSYSERR_NOERROR;
  }

  uint64_t OutputBound(uint64_t srcBytes) const override {
    uint64_t frames = srcBytes / Src.FrameBytes() + 1;
    const TPcmShape& dst = Conv.Destination();
    uint64_t out = frames * dst.Rate / Src.Rate + 1;
    if (dst.Rate != Src.Rate) out += 4096;  // the resampler releases its output in bursts
    return out * dst.FrameBytes();
  }

  uint64_t SourceFor(uint64_t dstBytes) const override {
    const TPcmShape& dst = Conv.Destination();
    uint64_t frames = dstBytes / dst.FrameBytes();
    return frames * Src.Rate / dst.Rate * Src.FrameBytes();
  }

  uint32_t Skipped() const override { return Dropped; }
  TByteQueue& Output() override { return Conv.Output(); }

 private:
  TPcmShape Src;
  TPCMConverter Conv;
  std::vector<uint8_t> Carry;  // a partial source frame
  uint32_t Dropped = 0;
};

bool IsWide(const TPcmShape& s) { return s.Type == TSampleType::S32 || s.Type == TSampleType::F32; }

// Big-endian and signed 8-bit samples are read, never written.
bool IsSourceOnly(const TPcmShape& s) {
  return s.Type == TSampleType::S8 || s.Type == TSampleType::S16BE || s.Type == TSampleType::S24BE ||
         s.Type == TSampleType::S32BE || s.Type == TSampleType::F32BE || s.Type == TSampleType::F64BE;
}

MMRESULT PCMOpen(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out) {
  TPcmShape s, d;
  if (!ShapeOfFormat(src, &s) || !ShapeOfFormat(dst, &d) || IsSourceOnly(d)) return ACMERR_NOTPOSSIBLE;
  // One step at a time: a copy, a change of sample format at the same rate
  // and channel count into 32-bit samples, or anything out of 32-bit samples.
  // Big-endian sources also convert straight to any PCM of their own rate
  // and channel count (AIFF to CD PCM in one stage).
  const bool sameShape = s.Rate == d.Rate && s.Channels == d.Channels;
  bool ok = s == d || IsWide(s) || (IsWide(d) && sameShape) || (IsSourceOnly(s) && sameShape);
  if (!ok) return ACMERR_NOTPOSSIBLE;
  if (out) *out = std::make_unique<TPCMCodec>(s, d);
  return MMSYSERR_NOERROR;
}

MMRESULT PCMSuggest(const TFormatBlock& src, const TFormatBlock& dst, uint32_t flags, TFormatBlock* out) {
  TPcmShape s;
  if (!ShapeOfFormat(src, &s)) return ACMERR_NOTPOSSIBLE;
  uint16_t tag = (flags & ACM_FORMATSUGGESTF_WFORMATTAG) ? dst.wFormatTag() : WAVE_FORMAT_PCM;
  uint16_t channels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? dst.nChannels() : s.Channels;
  uint32_t rate = (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? dst.nSamplesPerSec() : s.Rate;
  uint16_t bits = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? dst.wBitsPerSample() : 32;
  TFormatBlock suggestion = TFormatBlock::Pcm(tag, channels, rate, bits);
  if (PCMOpen(src, suggestion, nullptr) != MMSYSERR_NOERROR) return ACMERR_NOTPOSSIBLE;
  *out = suggestion;
  return MMSYSERR_NOERROR;
}

constexpr TACMFormatTagInfo kPCMTags[] = {
    {WAVE_FORMAT_PCM, 18, "PCM"},
    {WAVE_FORMAT_IEEE_FLOAT, 18, "IEEE Float"},
    {WAVE_FORMAT_PCM_BE, 18, "PCM, big-endian (AIFF)"},
    {WAVE_FORMAT_FLOAT_BE, 18, "IEEE Float, big-endian (AIFF-C)"},
};

}  // namespace

const TACMDriverEntry& PCMDriver() {
  static const TACMDriverEntry entry{"PCM", "PCM converter (libsoxr)", ACMDRIVERDETAILS_SUPPORTF_CONVERTER, kPCMTags,
                                     PCMOpen, PCMSuggest};
  return entry;
}

}  // namespace cv
