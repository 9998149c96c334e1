// Inside the codec layer: what a driver provides to cvACM (its table entry
// and the codec object behind each stream), and the byte queue every stream
// keeps its output in. Only the driver units and cvACM include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "decode/cvACM.h"

namespace cv {

// FIFO of bytes: appended at the back, taken from the front. Grows as
// needed; taking never hands out a partial unit of `align` bytes.
class TByteQueue {
 public:
  void Append(std::span<const uint8_t> bytes);
  // Room for n more bytes at the back; the caller fills them all.
  uint8_t* Extend(size_t n);
  // Copies up to max bytes (rounded down to a multiple of align) to dst and
  // removes them. Returns the count.
  size_t Take(uint8_t* dst, size_t max, size_t align);
  size_t Size() const { return Buffer.size() - Head; }
  bool Empty() const { return Size() == 0; }

 private:
  std::vector<uint8_t> Buffer;
  size_t Head = 0;
};

// The engine of one stream. A stream calls it from one thread at a time.
class TACMCodec {
 public:
  virtual ~TACMCodec() = default;
  // Consumes all of src and appends what it yields to Output(). end: no
  // source follows; flush the codec and resampler into Output(). Returns
  // MMSYSERR_NOERROR, or ACMERR_NOTPOSSIBLE when at the end the stream held
  // nothing the codec could decode.
  virtual MMRESULT Convert(std::span<const uint8_t> src, bool end) = 0;
  // Destination bytes that srcBytes of source normally yield at most.
  virtual uint64_t OutputBound(uint64_t srcBytes) const = 0;
  // Source bytes that yield about dstBytes of destination.
  virtual uint64_t SourceFor(uint64_t dstBytes) const = 0;
  // Damaged or unusable units skipped so far.
  virtual uint32_t Skipped() const = 0;
  virtual TByteQueue& Output() = 0;
};

struct TACMFormatTagInfo {
  uint16_t Tag;
  uint32_t FormatSize;  // bytes of its largest format block
  const char* Name;
};

struct TACMDriverEntry {
  const char* ShortName;
  const char* LongName;
  uint32_t Support;  // ACMDRIVERDETAILS_SUPPORTF_*
  std::span<const TACMFormatTagInfo> Tags;
  // Whether the driver converts src to dst (both complete blocks); when out
  // is not null and it does, the codec for a new stream.
  MMRESULT (*Open)(const TFormatBlock& src, const TFormatBlock& dst, std::unique_ptr<TACMCodec>* out);
  // Sets *out to what the driver can produce from src, taking the fields
  // named by flags from request.
  MMRESULT (*Suggest)(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out);
};

// Rules shared by the codec drivers (MP3, Vorbis, WMA): the source must be
// of one of the driver's tags with 1 or 2 channels and a usable rate; the
// destination is PCM or float at the source's own rate and channel count,
// 16-bit (the one-stage path) or 32-bit (the first of two stages).
MMRESULT CodecOpenCheck(const TFormatBlock& src, const TFormatBlock& dst, std::span<const uint16_t> tags);
MMRESULT CodecSuggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out,
                      std::span<const uint16_t> tags);

// Source rates the layer accepts (a header claiming more or less is refused
// before any buffer is sized from it).
inline constexpr uint32_t kMinRate = 1000;
inline constexpr uint32_t kMaxRate = 384000;

// The drivers built in (cvACMPCM, cvACMMP3, cvACMVorbis, cvACMWMA,
// cvACMFLAC, cvACMOpus, cvACMMP4, cvACMWAVCodecs).
const TACMDriverEntry& PCMDriver();
#if CORVID_WITH_MP3
const TACMDriverEntry& MP3Driver();
#endif
#if CORVID_WITH_VORBIS
const TACMDriverEntry& VorbisDriver();
#endif
#if CORVID_WITH_WMA
const TACMDriverEntry& WMADriver();
#endif
#if CORVID_WITH_FLAC
const TACMDriverEntry& FLACDriver();
#endif
#if CORVID_WITH_OPUS
const TACMDriverEntry& OpusDriver();
#endif
#if CORVID_WITH_MP4
const TACMDriverEntry& MP4Driver();
#endif
#if CORVID_WITH_WAVCODECS
const TACMDriverEntry& WAVCodecsDriver();
#endif

}  // namespace cv
