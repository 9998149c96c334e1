#include "decode/cvACMDriver.h"

#include <algorithm>
#include <cstring>

#include "decode/cvACMPCM.h"

namespace cv {

void TByteQueue::Append(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  std::memcpy(Extend(bytes.size()), bytes.data(), bytes.size());
}

uint8_t* TByteQueue::Extend(size_t n) {
  // Drop what has been taken once it is the larger part of the buffer.
  if (Head > 0 && Head >= Buffer.size() / 2) {
    Buffer.erase(Buffer.begin(), Buffer.begin() + static_cast<std::ptrdiff_t>(Head));
    Head = 0;
  }
  size_t old = Buffer.size();
  Buffer.resize(old + n);
  return Buffer.data() + old;
}

size_t TByteQueue::Take(uint8_t* dst, size_t max, size_t align) {
  if (align == 0) align = 1;
  size_t n = std::min(max, Size());
  n -= n % align;
  if (n == 0) return 0;
  std::memcpy(dst, Buffer.data() + Head, n);
  Head += n;
  if (Head == Buffer.size()) {
    Buffer.clear();
    Head = 0;
  }
  return n;
}

namespace {

bool HasTag(std::span<const uint16_t> tags, uint16_t tag) {
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

bool SourceUsable(const TFormatBlock& src, std::span<const uint16_t> tags) {
  return HasTag(tags, src.wFormatTag()) && src.nChannels() >= 1 && src.nChannels() <= 2 &&
         src.nSamplesPerSec() >= kMinRate && src.nSamplesPerSec() <= kMaxRate;
}

}  // namespace

MMRESULT CodecOpenCheck(const TFormatBlock& src, const TFormatBlock& dst, std::span<const uint16_t> tags) {
  TPcmShape d;
  if (!SourceUsable(src, tags) || !ShapeOfFormat(dst, &d)) return ACMERR_NOTPOSSIBLE;
  if (d.Rate != src.nSamplesPerSec() || d.Channels != src.nChannels()) return ACMERR_NOTPOSSIBLE;
  if (d.Type != TSampleType::S16 && d.Type != TSampleType::S32 && d.Type != TSampleType::F32) return ACMERR_NOTPOSSIBLE;
  return MMSYSERR_NOERROR;
}

MMRESULT CodecSuggest(const TFormatBlock& src, const TFormatBlock& request, uint32_t flags, TFormatBlock* out,
                      std::span<const uint16_t> tags) {
  if (!SourceUsable(src, tags)) return ACMERR_NOTPOSSIBLE;
  uint16_t tag = (flags & ACM_FORMATSUGGESTF_WFORMATTAG) ? request.wFormatTag() : WAVE_FORMAT_PCM;
  uint16_t channels = (flags & ACM_FORMATSUGGESTF_NCHANNELS) ? request.nChannels() : src.nChannels();
  uint32_t rate = (flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) ? request.nSamplesPerSec() : src.nSamplesPerSec();
  uint16_t bits = (flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) ? request.wBitsPerSample() : 32;
  TFormatBlock suggestion = TFormatBlock::Pcm(tag, channels, rate, bits);
  if (CodecOpenCheck(src, suggestion, tags) != MMSYSERR_NOERROR) return ACMERR_NOTPOSSIBLE;
  *out = suggestion;
  return MMSYSERR_NOERROR;
}

}  // namespace cv
