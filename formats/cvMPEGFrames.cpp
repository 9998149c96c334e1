#include "formats/cvMPEGFrames.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "device/cvByteReader.h"
#include "formats/cvReadFile.h"

namespace cv {
namespace {

constexpr int kMaxLeadingTags = 8;

struct THead {
  uint8_t Version = 0;  // 0 MPEG 2.5, 2 MPEG 2, 3 MPEG 1
  uint8_t Layer = 0;    // 1 Layer III, 2 Layer II, 3 Layer I
  bool Protected = false;
  uint32_t BitRate = 0;  // kbit/s
  uint32_t SampleRate = 0;
  bool Padding = false;
  uint8_t Mode = 0;  // 3 mono
  uint32_t Length = 0;
  uint32_t SamplesPerFrame = 0;
  uint8_t Channels() const { return Mode == 3 ? 1 : 2; }
};

constexpr uint16_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
// [MPEG 1 ?][layer index 1..3] kbit/s by bit-rate index 1..14.
constexpr uint16_t kBitRates[2][4][15] = {
    {{},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}},
    {{},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}}};

// A header with a known rate and bit rate (free format refused).
bool ParseHead(const uint8_t* p, THead& h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  h.Version = (p[1] >> 3) & 3;
  h.Layer = (p[1] >> 1) & 3;
  h.Protected = !(p[1] & 1);
  const unsigned bi = p[2] >> 4, si = (p[2] >> 2) & 3;
  if (h.Version == 1 || h.Layer == 0 || bi == 0 || bi == 15 || si == 3) return false;
  h.BitRate = kBitRates[h.Version == 3][h.Layer][bi];
  h.SampleRate = kRates[h.Version][si];
  h.Padding = (p[2] >> 1) & 1;
  h.Mode = p[3] >> 6;
  const uint64_t br = uint64_t{h.BitRate} * 1000;
  if (h.Layer == 3) {  // Layer I: 4-byte slots
    h.Length = uint32_t((12 * br / h.SampleRate + (h.Padding ? 1 : 0)) * 4);
    h.SamplesPerFrame = 384;
  } else if (h.Layer == 2 || h.Version == 3) {
    h.Length = uint32_t(144 * br / h.SampleRate + (h.Padding ? 1 : 0));
    h.SamplesPerFrame = 1152;
  } else {
    h.Length = uint32_t(72 * br / h.SampleRate + (h.Padding ? 1 : 0));
    h.SamplesPerFrame = 576;
  }
  return h.Length >= 4;
}

int64_t SkipID3v2(TReadFile& file) {
  int64_t pos = 0;
  for (int n = 0; n < kMaxLeadingTags; ++n) {
    uint8_t h[10] = {};
    if (file.ReadAt(pos, h, 10) != 10 || std::memcmp(h, "ID3", 3) != 0) break;
    if ((h[6] | h[7] | h[8] | h[9]) & 0x80) break;
    int64_t size = (int64_t{h[6]} << 21) + (int64_t{h[7]} << 14) + (int64_t{h[8]} << 7) + h[9] + 10;
    if (h[5] & 0x10) size += 10;
    pos += size;
  }
  return pos;
}

TMPEGFrames Refuse(TMPEGFrames r, const char* why) {
  r.Exact = false;
  r.Why = why;
  r.Samples = 0;
  return r;
}

}  // namespace

TMPEGFrames CountMPEGFrames(TByteSource& Source) {
  TMPEGFrames r;
  if (!Source.IsOpen()) return Refuse(r, "file not open");
  TReadFile file(Source);
  const int64_t size = file.Size();
  int64_t pos = SkipID3v2(file);
  // An ID3v1 tag at the very end is not part of the stream.
  int64_t end = size;
  if (size - pos >= 128) {
    char tag[3] = {};
    if (file.ReadAt(size - 128, tag, 3) == 3 && std::memcmp(tag, "TAG", 3) == 0) end = size - 128;
  }
  r.FirstFrame = pos;

  THead first;
  uint8_t h[4];
  if (file.ReadAt(pos, h, 4) != 4 || !ParseHead(h, first)) return Refuse(r, "no frame behind the tags");
  r.SampleRate = first.SampleRate;
  r.ChannelCount = first.Channels();
  r.SamplesPerFrame = first.SamplesPerFrame;

  // The first frame: a Xing/Info or VBRI header?
  uint32_t xingFrames = 0;
  bool xingHasFrames = false;
  {
    std::vector<uint8_t> frame(std::min<size_t>(first.Length, 4096), 0);
    frame.resize(file.ReadAt(pos, frame.data(), frame.size()));
    const size_t sideInfo = first.Version == 3 ? (first.Mode == 3 ? 17 : 32) : (first.Mode == 3 ? 9 : 17);
    TByteReader x(frame, 4 + (first.Protected ? 2 : 0) + sideInfo);
    TByteReader v(frame, 4 + 32);
    if (first.Layer == 1 && (x.Expect("Xing") || x.Expect("Info"))) {
      const uint32_t flags = x.BE32();
      if (flags & 1) xingHasFrames = true, xingFrames = x.BE32();
      if (flags & 2) x.Skip(4);
      if (flags & 4) x.Skip(100);
      if (flags & 8) x.Skip(4);
      // The LAME tag: encoder string (9), revision/method, lowpass, peak,
      // radio and audiophile gains, flags, bit rate, then 12 + 12 bits of
      // delay and padding.
      const std::string encoder = x.Text(9);
      x.Skip(12);
      const uint32_t delayPad = x.BE24();
      if (!x.Ok()) return Refuse(r, "Xing header cut short");
      if (encoder.compare(0, 4, "LAME") != 0 && encoder.compare(0, 4, "Lavf") != 0 &&
          encoder.compare(0, 4, "Lavc") != 0)
        return Refuse(r, "Xing header without a LAME tag");
      r.InfoFrame = true;
      r.EncoderDelay = delayPad >> 12;
      r.EncoderPadding = delayPad & 0xFFF;
    } else if (v.Expect("VBRI")) {
      return Refuse(r, "VBRI header");
    }
  }

  // Walk every header to the end.
  uint64_t frames = 0;
  while (pos < end) {
    THead f;
    if (end - pos < 4 || file.ReadAt(pos, h, 4) != 4 || !ParseHead(h, f)) return Refuse(r, "junk between frames");
    if (f.Version != first.Version || f.Layer != first.Layer || f.SampleRate != first.SampleRate ||
        f.Channels() != first.Channels())
      return Refuse(r, "the stream's format changes");
    if (int64_t{f.Length} > end - pos) return Refuse(r, "the last frame is cut short");
    pos += f.Length;
    ++frames;
  }
  if (r.InfoFrame) --frames;
  r.Frames = frames;
  if (r.InfoFrame && xingHasFrames && xingFrames != frames) return Refuse(r, "the Xing frame count differs");
  if (frames == 0) return Refuse(r, "no audio frames");

  const uint64_t total = frames * first.SamplesPerFrame;
  if (r.InfoFrame) {
    // The decoder's window: from delay + 529 to total - padding + 529, cut
    // at what the frames hold.
    const uint64_t begin = uint64_t{r.EncoderDelay} + kMPEGDecoderDelay;
    const uint64_t stop = std::min<uint64_t>(total, total + kMPEGDecoderDelay - std::min<uint64_t>(total + kMPEGDecoderDelay, r.EncoderPadding));
    r.Samples = stop > begin ? stop - begin : 0;
  } else {
    r.Samples = total;
  }
  r.Exact = true;
  return r;
}

}  // namespace cv
