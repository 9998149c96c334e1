// The codec layer: conversion streams in the shape of an audio compression
// manager (drivers with format tags, format suggestion, stream open / size /
// prepare header / convert / unprepare / close, numeric result codes),
// backed by Debian's codec libraries.
//
// Drivers (each present only when its library is built in, see
// decode/CMakeLists.txt):
//   PCM converter  0x0001, 0x0003  any PCM or float, 1-2 channels, to PCM
//                                  (libsoxr HQ for rate changes)
//   MP3            0x0055          libmpg123, feed mode
//   Ogg Vorbis     0x6771          libogg + libvorbis synthesis
//   WMA            0x0160, 0x0161  own ASF packet parser + libavcodec
//
// Streams. A stream converts pushed bytes of its source format into its
// destination format. It always consumes the whole source given to a
// convert call (cbSrcLengthUsed = cbSrcLength): partial frames, packets and
// pages are kept inside the stream. Its output goes to a queue inside the
// stream; each convert call hands out as much of the queue as fits in the
// destination buffer, in whole destination frames. A call that fills the
// destination buffer completely may have left output behind: the caller calls
// again with cbSrcLength 0 until a call returns less than the buffer. The END
// flag says no source follows: the stream flushes its codec and resampler
// into the queue. The total output of a stream depends only on the bytes fed,
// never on how they were split into calls, and is the same on every run.
//
// Whatever the source really holds (a rate or channel count other than the
// source format says, a format that changes mid-stream), the output is in
// the destination format the stream was opened for.
//
// Threads: the driver table is constant and may be read from any thread.
// Each stream is an object of its own with no shared state: different
// streams may be used on different threads at once; one stream must be used
// by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace cv {

using MMRESULT = uint32_t;

inline constexpr MMRESULT MMSYSERR_NOERROR = 0;
inline constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
inline constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
inline constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
inline constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;

// Format tags.
inline constexpr uint16_t WAVE_FORMAT_PCM = 0x0001;
inline constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 0x0003;
inline constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x0055;
inline constexpr uint16_t WAVE_FORMAT_WMAUDIO1 = 0x0160;
inline constexpr uint16_t WAVE_FORMAT_WMAUDIO2 = 0x0161;
inline constexpr uint16_t WAVE_FORMAT_OGG_VORBIS = 0x6771;
// Tags of the later kinds' codecs (the values the RIFF registry and
// common practice use for these codecs in a WAVEFORMATEX).
inline constexpr uint16_t WAVE_FORMAT_AAC = 0x00FF;
inline constexpr uint16_t WAVE_FORMAT_ALAC = 0x6C61;
inline constexpr uint16_t WAVE_FORMAT_OPUS = 0x704F;
inline constexpr uint16_t WAVE_FORMAT_FLAC = 0xF1AC;

// Driver support flags.
inline constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x1;
inline constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x2;

// acmMetrics.
inline constexpr uint32_t ACM_METRIC_COUNT_DRIVERS = 1;
inline constexpr uint32_t ACM_METRIC_COUNT_CODECS = 2;
inline constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;

// acmFormatTagDetails.
inline constexpr uint32_t ACM_FORMATTAGDETAILSF_INDEX = 0x0;
inline constexpr uint32_t ACM_FORMATTAGDETAILSF_FORMATTAG = 0x1;

// acmFormatSuggest: which fields of the destination are fixed by the caller.
inline constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x10000;
inline constexpr uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x20000;
inline constexpr uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x40000;
inline constexpr uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x80000;

// acmStreamOpen.
inline constexpr uint32_t ACM_STREAMOPENF_QUERY = 0x1;
inline constexpr uint32_t ACM_STREAMOPENF_ASYNC = 0x2;
inline constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x4;

// acmStreamSize.
inline constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x0;
inline constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x1;

// acmStreamConvert.
inline constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x4;
inline constexpr uint32_t ACM_STREAMCONVERTF_START = 0x10;
inline constexpr uint32_t ACM_STREAMCONVERTF_END = 0x20;

// Stream header status.
inline constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
inline constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;

// A format block: the WAVEFORMATEX layout, little-endian (wFormatTag u16 at
// 0, nChannels u16 at 2, nSamplesPerSec u32 at 4, nAvgBytesPerSec u32 at 8,
// nBlockAlign u16 at 12, wBitsPerSample u16 at 14, cbSize u16 at 16), then
// cbSize extra bytes. The block owns its zero-filled bytes; its size never
// changes after construction and every accessor stays inside it.
class TFormatBlock {
 public:
  static constexpr size_t kHeaderSize = 18;

  // A zero-filled block of max(size, kHeaderSize) bytes.
  explicit TFormatBlock(size_t size = kHeaderSize);

  // A PCM (tag 1) or float (tag 3) block with nBlockAlign and
  // nAvgBytesPerSec derived from the other fields, cbSize 0.
  static TFormatBlock Pcm(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits);

  uint16_t wFormatTag() const { return Get16(0); }
  uint16_t nChannels() const { return Get16(2); }
  uint32_t nSamplesPerSec() const { return Get32(4); }
  uint32_t nAvgBytesPerSec() const { return Get32(8); }
  uint16_t nBlockAlign() const { return Get16(12); }
  uint16_t wBitsPerSample() const { return Get16(14); }
  uint16_t cbSize() const { return Get16(16); }

  void SetFormatTag(uint16_t v) { Put16(0, v); }
  void SetChannels(uint16_t v) { Put16(2, v); }
  void SetSamplesPerSec(uint32_t v) { Put32(4, v); }
  void SetAvgBytesPerSec(uint32_t v) { Put32(8, v); }
  void SetBlockAlign(uint16_t v) { Put16(12, v); }
  void SetBitsPerSample(uint16_t v) { Put16(14, v); }
  void SetCbSize(uint16_t v) { Put16(16, v); }

  // The extra bytes that cbSize announces, cut to what the block holds.
  std::span<const uint8_t> Extra() const;
  std::span<uint8_t> MutableExtra();
  // True when the block holds all cbSize extra bytes.
  bool Complete() const { return Bytes.size() >= kHeaderSize + cbSize(); }

  size_t Size() const { return Bytes.size(); }
  std::span<const uint8_t> Data() const { return Bytes; }
  std::span<uint8_t> MutableData() { return Bytes; }

 private:
  uint16_t Get16(size_t at) const;
  uint32_t Get32(size_t at) const;
  void Put16(size_t at, uint16_t v);
  void Put32(size_t at, uint32_t v);

  std::vector<uint8_t> Bytes;
};

// Driver details, field for field as the manager reports them.
struct ACMDRIVERDETAILS {
  uint32_t cbStruct = 0;
  uint32_t fccType = 0;  // 'audc'
  uint32_t fccComp = 0;
  uint16_t wMid = 0;
  uint16_t wPid = 0;
  uint32_t vdwACM = 0;
  uint32_t vdwDriver = 0;
  uint32_t fdwSupport = 0;
  uint32_t cFormatTags = 0;
  uint32_t cFilterTags = 0;
  uint32_t hicon = 0;  // always 0: drivers have no icons here
  char szShortName[32] = {};
  char szLongName[128] = {};
  char szCopyright[80] = {};
  char szLicensing[128] = {};
  char szFeatures[512] = {};
};
static_assert(sizeof(ACMDRIVERDETAILS) == 920);

struct ACMFORMATTAGDETAILS {
  uint32_t cbStruct = 0;
  uint32_t dwFormatTagIndex = 0;
  uint32_t dwFormatTag = 0;
  uint32_t cbFormatSize = 0;
  uint32_t fdwSupport = 0;
  uint32_t cStandardFormats = 0;
  char szFormatTag[48] = {};
};
static_assert(sizeof(ACMFORMATTAGDETAILS) == 72);

// The header of one conversion: the caller's source and destination
// buffers. acmStreamPrepareHeader binds it to a stream; acmStreamConvert then
// reads cbSrcLength bytes at pbSrc (at most the length it was prepared with)
// and writes at most cbDstLength bytes at pbDst.
struct ACMSTREAMHEADER {
  uint32_t cbStruct = 0;
  uint32_t fdwStatus = 0;
  uintptr_t dwUser = 0;
  uint8_t* pbSrc = nullptr;
  uint32_t cbSrcLength = 0;
  uint32_t cbSrcLengthUsed = 0;
  uintptr_t dwSrcUser = 0;
  uint8_t* pbDst = nullptr;
  uint32_t cbDstLength = 0;
  uint32_t cbDstLengthUsed = 0;
  uintptr_t dwDstUser = 0;
};

// One entry of the driver table (constant, defined by the layer).
struct TACMDriverEntry;
using HACMDRIVERID = const TACMDriverEntry*;
// An opened driver. Drivers hold no per-open state; the handle names the
// driver and is checked by every call that takes it.
class TACMDriverHandle;
using HACMDRIVER = TACMDriverHandle*;

// A conversion stream, owned by whoever opened it.
class TACMStream;
struct TACMStreamDeleter {
  void operator()(TACMStream* stream) const noexcept;
};
using HACMSTREAM = std::unique_ptr<TACMStream, TACMStreamDeleter>;

// Called once per driver with its id, the caller's instance value and its
// support flags; returning false ends the enumeration.
using ACMDRIVERENUMCB = std::function<bool(HACMDRIVERID hadid, uintptr_t dwInstance, uint32_t fdwSupport)>;

MMRESULT acmDriverEnum(const ACMDRIVERENUMCB& fnCallback, uintptr_t dwInstance, uint32_t fdwEnum);
// padd->cbStruct must be sizeof(ACMDRIVERDETAILS) (920).
MMRESULT acmDriverDetails(HACMDRIVERID hadid, ACMDRIVERDETAILS* padd, uint32_t fdwDetails);
MMRESULT acmDriverOpen(HACMDRIVER* phad, HACMDRIVERID hadid, uint32_t fdwOpen);
MMRESULT acmDriverClose(HACMDRIVER had, uint32_t fdwClose);
// paftd->cbStruct must be sizeof(ACMFORMATTAGDETAILS) (72). With
// ACM_FORMATTAGDETAILSF_INDEX, dwFormatTagIndex selects the tag; with
// ACM_FORMATTAGDETAILSF_FORMATTAG, dwFormatTag does. had may be null (any
// driver) only with ACM_FORMATTAGDETAILSF_FORMATTAG.
MMRESULT acmFormatTagDetails(HACMDRIVER had, ACMFORMATTAGDETAILS* paftd, uint32_t fdwDetails);

// hao must be null (the manager itself). ACM_METRIC_MAX_SIZE_FORMAT: the
// largest format block any driver uses; ACM_METRIC_COUNT_DRIVERS and
// ACM_METRIC_COUNT_CODECS count the drivers present.
MMRESULT acmMetrics(const void* hao, uint32_t uMetric, uint32_t* pMetric);

// Fills pwfxDst (its first cbwfxDst bytes, which must lie inside the block)
// with a destination format that a driver can produce from pwfxSrc. The
// fields named by fdwSuggest are taken from pwfxDst as given. Codec drivers
// suggest PCM (or float, when asked for tag 3) at the source's own rate and
// channel count with 32-bit samples.
MMRESULT acmFormatSuggest(HACMDRIVER had, const TFormatBlock& pwfxSrc, TFormatBlock& pwfxDst, uint32_t cbwfxDst,
                          uint32_t fdwSuggest);

// Opens a stream from pwfxSrc to pwfxDst. had null: the first driver that
// can do it. pwfltr must be null, dwCallback 0, and ACM_STREAMOPENF_ASYNC is
// not supported (MMSYSERR_INVALFLAG). With ACM_STREAMOPENF_QUERY nothing is
// opened and phas may be null. A codec driver opens directly to 16-bit PCM
// only when the source's rate and channels are the destination's; otherwise
// it answers ACMERR_NOTPOSSIBLE and the caller takes the two-stage path
// through acmFormatSuggest.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const TFormatBlock& pwfxSrc, const TFormatBlock& pwfxDst,
                       const void* pwfltr, uintptr_t dwCallback, uintptr_t dwInstance, uint32_t fdwOpen);
MMRESULT acmStreamClose(HACMSTREAM& has, uint32_t fdwClose);

// ACM_STREAMSIZEF_SOURCE: given cbInput source bytes, the destination bytes
// a buffer should hold so that one convert call of that many bytes can
// normally hand out everything it produces (never 0 for cbInput > 0). It is
// a bound for sizing buffers; correctness never depends on it (output beyond
// the buffer waits in the stream's queue). ACM_STREAMSIZEF_DESTINATION: the
// source bytes that yield about cbInput destination bytes.
MMRESULT acmStreamSize(const HACMSTREAM& has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize);

MMRESULT acmStreamPrepareHeader(const HACMSTREAM& has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare);
MMRESULT acmStreamConvert(const HACMSTREAM& has, ACMSTREAMHEADER* pash, uint32_t fdwConvert);
MMRESULT acmStreamUnprepareHeader(const HACMSTREAM& has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare);

// Not part of the classic shape: how many damaged or unusable units (frames,
// packets, pages) the stream has skipped so far. 0 for a clean file.
uint32_t acmStreamSkipped(const HACMSTREAM& has);

}  // namespace cv
