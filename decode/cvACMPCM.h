// The PCM converter: turns PCM of any common shape (8-bit unsigned, 16/24/32-
// bit signed, 32-bit float; 1 or 2 channels; any rate the layer accepts) into
// one fixed destination shape. Mono is duplicated to both channels, stereo
// averaged to mono; rate changes go through libsoxr (HQ recipe, float in and
// out, one thread); samples are then rounded to nearest and clipped by our
// own code (no dither, so the output is the same on every run). A source of
// exactly the destination's shape is copied unchanged.
//
// TPCMConverter is also the last step of every codec driver: codecs hand it
// the PCM they decode, whatever shape it really has, so a stream's output is
// always in the format the stream was opened for.
//
// Owned by one stream; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "decode/cvACM.h"
#include "decode/cvACMDriver.h"

struct soxr;

namespace cv {

// Little-endian unless named BE; U8 unsigned, S8 signed (AIFF's 8-bit).
enum class TSampleType : uint8_t { U8, S16, S24, S32, F32, S8, S16BE, S24BE, S32BE, F32BE, F64BE };

struct TPcmShape {
  TSampleType Type = TSampleType::S16;
  uint16_t Channels = 2;
  uint32_t Rate = 44100;

  size_t BytesPerSample() const;
  size_t FrameBytes() const { return BytesPerSample() * Channels; }
  bool operator==(const TPcmShape&) const = default;
};

// The shape a PCM (tag 1) or float (tag 3) format block describes, when the
// layer can convert it: bits 8/16/24/32 (PCM) or 32 (float), 1 or 2
// channels, a rate within [kMinRate, kMaxRate]. The big-endian tags
// (WAVE_FORMAT_PCM_BE, 8-bit signed; WAVE_FORMAT_FLOAT_BE, 32 or 64 bits)
// give source shapes only.
bool ShapeOfFormat(const TFormatBlock& format, TPcmShape* shape);

class TPCMConverter {
 public:
  explicit TPCMConverter(TPcmShape dst);
  ~TPCMConverter();
  TPCMConverter(const TPCMConverter&) = delete;
  TPCMConverter& operator=(const TPCMConverter&) = delete;

  // frames of interleaved little-endian samples of the given shape. Returns
  // false (and converts nothing) for a shape outside what ShapeOfFormat
  // accepts.
  bool Write(const uint8_t* data, size_t frames, TPcmShape src);
  // frames of float samples, one plane per channel (channels planes).
  bool WritePlanar(const float* const* planes, size_t frames, uint16_t channels, uint32_t rate);
  // End of input: flushes the resampler's tail.
  void Finish();

  TByteQueue& Output() { return Out; }
  const TPcmShape& Destination() const { return Dst; }

 private:
  void Emit(const float* samples, size_t frames, uint32_t rate);
  void Quantize(const float* samples, size_t frames);
  void Flush();

  struct SoxrDeleter {
    void operator()(soxr* s) const noexcept;
  };

  TPcmShape Dst;
  TByteQueue Out;
  std::unique_ptr<soxr, SoxrDeleter> Resampler;
  uint32_t ResamplerRate = 0;  // input rate of Resampler
  std::vector<float> Scratch;   // input in the destination's channel count
  std::vector<float> Resampled;
};

}  // namespace cv
