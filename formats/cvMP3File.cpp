#include "formats/cvMP3File.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "device/cvByteReader.h"
#include "formats/cvUnicode.h"

namespace cv {

// Version rows: 0 = MPEG 2.5, 1 = reserved, 2 = MPEG 2, 3 = MPEG 1.
// Layer columns: 0 = reserved, 1 = Layer III, 2 = Layer II, 3 = Layer I.
const std::uint16_t MPEG_BIT_RATES[4][4][16] = {
    {{0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    {{0}, {0}, {0}, {0}},
    {{0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0}},
    {{0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0}},
};

const std::uint16_t MPEG_SAMPLE_RATES[4][4] = {
    {11025, 12000, 8000, 0}, {0, 0, 0, 0}, {22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

const std::uint8_t MPEG_CM_CHANNELS[5] = {2, 2, 2, 1, 0};

const std::array<std::string_view, 4> MPEG_VERSION = {"MPEG 2.5", "MPEG ?", "MPEG 2", "MPEG 1"};
const std::array<std::string_view, 4> MPEG_LAYER = {"Layer ?", "Layer III", "Layer II", "Layer I"};
const std::array<std::string_view, 5> MPEG_CM_MODE = {"Stereo", "Joint Stereo", "Dual Channel",
                                                      "Mono", "Unknown"};
const std::array<std::string_view, 4> MPEG_EMPHASIS = {"None", "50/15 ms", "Unknown", "CCIT J.17"};

namespace {

constexpr int kWindow = TMP3File::kWindowSize;
// VBRI headers sit 32 bytes behind the 4-byte frame header in every version.
constexpr int kVBRIOffset = 36;
// Encoder signatures are looked for from this offset of the end window down.
constexpr int kEncoderScanStart = 3450;

using Window = std::array<std::uint8_t, kWindow>;

// A 32-bit big-endian field of the window (zero where it would pass the end).
std::int32_t BigEndian32(const Window& w, std::size_t at) {
  return static_cast<std::int32_t>(TByteReader(w, at).BE32());
}

std::uint16_t TableBitRate(const FrameHeader& f) {
  return MPEG_BIT_RATES[f.Version & 3][f.Layer & 3][f.BitRateIndex & 15];
}

std::uint16_t TableSampleRate(const FrameHeader& f) {
  return MPEG_SAMPLE_RATES[f.Version & 3][f.SampleRateIndex & 3];
}

// Ceil(a / b) for b > 0, exact.
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
  return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// Reads up to one window at the position; the rest of the window is zero.
// Answers the number of bytes read, or -1 for a position outside the file.
int ReadWindow(TByteSource& source, std::int64_t position, Window& w) {
  w.fill(0);
  if (position < 0 || position > source.Size()) return -1;
  return static_cast<int>(source.ReadAt(position, w));
}

VBRData ReadVBRHeader(const Window& w, int xing, int vbri) {
  VBRData vbr;
  if (std::memcmp(&w[xing], "Xing", 4) == 0) {
    vbr.Found = true;
    std::memcpy(vbr.ID, "Xing", 4);
    vbr.Frames = BigEndian32(w, std::size_t(xing) + 8);
    vbr.Bytes = BigEndian32(w, std::size_t(xing) + 12);
    vbr.Scale = w[xing + 119];
    vbr.VendorID = Latin1ToUTF8(std::string_view(reinterpret_cast<const char*>(&w[xing + 120]), 8));
  }
  if (std::memcmp(&w[vbri], "VBRI", 4) == 0) {
    vbr.Found = true;
    std::memcpy(vbr.ID, "VBRI", 4);
    vbr.Scale = w[vbri + 9];
    vbr.Bytes = BigEndian32(w, std::size_t(vbri) + 10);
    vbr.Frames = BigEndian32(w, std::size_t(vbri) + 14);
    vbr.VendorID.clear();
  }
  return vbr;
}

// The first header whose successor at the computed frame length is also a
// header. Every index stays inside the window: p <= 1729, q + 3 is checked,
// and the VBR probes end at most 1729 + 36 + 127 bytes in.
void SearchFrame(const Window& w, FrameHeader& frame, VBRData& vbr) {
  frame = FrameHeader{};
  for (int p = 0; p < TMP3File::kSearchCandidates; ++p) {
    if (!TMP3File::IsFrameHeader(&w[p])) continue;
    TMP3File::DecodeHeader(&w[p], frame);
    const int q = p + TMP3File::FrameLength(frame);
    if (q + 3 >= kWindow || !TMP3File::IsFrameHeader(&w[q])) continue;
    frame.Found = true;
    frame.Position = p;
    frame.Size = TMP3File::FrameLength(frame);
    frame.EmptySideInfo = std::all_of(&w[p + 4], &w[p + 10], [](std::uint8_t b) { return b == 0; });
    vbr = ReadVBRHeader(w, p + TMP3File::XingOffset(frame), p + kVBRIOffset);
    return;
  }
}

std::string IdentifyEncoder(const Window& w, int range) {
  range = std::min(range, kEncoderScanStart);
  for (int k = 0; k <= range; ++k) {
    const int s = kEncoderScanStart - k;
    if (std::memcmp(&w[s], "LAME", 4) == 0)
      return Latin1ToUTF8(std::string_view(reinterpret_cast<const char*>(&w[s]), 8));
    if (std::memcmp(&w[s], "GOGO", 4) == 0) return "GOGO";
  }
  return {};
}

}  // namespace

TMP3File::TMP3File() : ID3v1(std::make_unique<TID3v1>()), ID3v2(std::make_unique<TID3v2>()) { Clear(); }

TMP3File::~TMP3File() = default;

void TMP3File::Clear() {
  FileLength = 0;
  EncoderID.clear();
  VBR = VBRData{};
  Frame = FrameHeader{};
  Frame.Version = 1;
  Frame.SampleRateIndex = 3;
  Frame.Mode = 4;
  Frame.ModeExtension = 4;
  Frame.Emphasis = 2;
  ID3v1->Clear();
  ID3v2->Clear();
}

bool TMP3File::IsFrameHeader(const std::uint8_t* h) {
  return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 && ((h[1] >> 3) & 3) != 1 && ((h[1] >> 1) & 3) != 0 &&
         (h[2] >> 4) != 15 && (h[2] >> 4) != 0 && ((h[2] >> 2) & 3) != 3 && (h[3] & 3) != 2;
}

void TMP3File::DecodeHeader(const std::uint8_t* h, FrameHeader& f) {
  std::memcpy(f.Data, h, 4);
  f.Version = (h[1] >> 3) & 3;
  f.Layer = (h[1] >> 1) & 3;
  f.Protected = (h[1] & 1) == 0;
  f.BitRateIndex = h[2] >> 4;
  f.SampleRateIndex = (h[2] >> 2) & 3;
  f.Padding = (h[2] & 2) != 0;
  f.Private = (h[2] & 1) != 0;
  f.Mode = h[3] >> 6;
  f.ModeExtension = (h[3] >> 4) & 3;
  f.Copyright = (h[3] & 8) != 0;
  f.Original = (h[3] & 4) != 0;
  f.Emphasis = h[3] & 3;
}

int TMP3File::Coefficient(const FrameHeader& f) {
  if (f.Layer == 3) return 48;  // 384 samples per frame in every version
  if (f.Version == 3) return 144;
  return f.Layer == 2 ? 144 : 72;
}

int TMP3File::PaddingSize(const FrameHeader& f) {
  if (!f.Padding) return 0;
  return f.Layer == 3 ? 4 : 1;
}

std::uint16_t TMP3File::FrameLength(const FrameHeader& f) {
  const std::int64_t rate = TableSampleRate(f);
  if (rate == 0) return 0;
  const std::int64_t bits = static_cast<std::int64_t>(TableBitRate(f)) * 1000;
  if (f.Layer == 3) {
    // Layer I frames are whole 4-byte slots.
    return static_cast<std::uint16_t>((12 * bits / rate) * 4 + PaddingSize(f));
  }
  return static_cast<std::uint16_t>(Coefficient(f) * bits / rate + PaddingSize(f));
}

int TMP3File::XingOffset(const FrameHeader& f) {
  const bool mono = f.Mode == 3;
  if (f.Version == 3) return mono ? 21 : 36;
  return mono ? 13 : 21;
}

std::int32_t TMP3File::MillisecondsToSectors(std::int64_t ms) {
  // Ceil(remainder / 13.333), exactly: 13.333 = 13333 / 1000.
  const std::int64_t sectors = (ms / 1000) * 75 + CeilDiv((ms % 1000) * 1000, 13333);
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      sectors, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

bool TMP3File::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  return ReadFileInfo(source);
}

bool TMP3File::ReadFileInfo(std::span<const std::uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TMP3File::ReadFileInfo(TByteSource& Source) {
  bool result = false;
  Clear();
  if (ID3v2->ReadTag(Source) && ID3v1->ReadTag(Source)) {
    FileLength = Source.Size();
    const std::int64_t audioStart = ID3v2->Size;
    auto window = std::make_unique<Window>();
    int got = ReadWindow(Source, audioStart, *window);
    if (got >= 0) {
      SearchFrame(*window, Frame, VBR);
      if (!Frame.Found && got == kWindow) {
        got = ReadWindow(Source, (FileLength - audioStart) / 2, *window);
        if (got >= 0) SearchFrame(*window, Frame, VBR);
      }
    }
    if (got >= 0) {
      if (Frame.Found && !VBR.Found) {
        const std::int64_t end = FileLength - kWindow - (ID3v1->Present ? TID3v1::kTagSize : 0);
        // The end window must be read in full; a file too short for it ends
        // the reading here (the frame found stays).
        if (ReadWindow(Source, end, *window) == kWindow) {
          EncoderID = IdentifyEncoder(*window, 5 * Frame.Size);
          result = true;
        }
      } else {
        result = true;
      }
    }
  }
  if (!Frame.Found) Clear();
  return result;
}

bool TMP3File::IsValid() const {
  const auto rate = BitRateKbps();
  return Frame.Found && rate >= 8 && rate <= 448 && DurationSectors() >= 1;
}

std::uint16_t TMP3File::BitRateKbps() const {
  if (VBR.Found && VBR.Frames > 0) {
    // (Bytes / Frames - Padding) * SampleRate / Coefficient / 1000, rounded
    // half to even, in exact integer arithmetic.
    const std::int64_t frames = VBR.Frames;
    const std::int64_t num = (static_cast<std::int64_t>(VBR.Bytes) - PaddingSize(Frame) * frames) *
                             TableSampleRate(Frame);
    const std::int64_t den = frames * Coefficient(Frame) * 1000;
    if (num <= 0 || den <= 0) return 0;
    std::int64_t q = num / den;
    const std::int64_t r = num % den;
    if (2 * r > den || (2 * r == den && (q & 1))) ++q;
    // An average beyond 16 bits is no bit rate: saturate, never wrap.
    return static_cast<std::uint16_t>(std::min<std::int64_t>(q, 0xFFFF));
  }
  return TableBitRate(Frame);
}

std::uint16_t TMP3File::SampleRateHz() const { return TableSampleRate(Frame); }

std::uint8_t TMP3File::ChannelCount() const { return MPEG_CM_CHANNELS[std::min<int>(Frame.Mode, 4)]; }

std::int32_t TMP3File::DurationSectors() const {
  if (!Frame.Found) return 0;
  std::int64_t ms = 0;
  if (VBR.Found && VBR.Frames > 0) {
    const std::int64_t rate = TableSampleRate(Frame);
    if (rate == 0) return 0;
    ms = CeilDiv(static_cast<std::int64_t>(Coefficient(Frame)) * VBR.Frames * 8 * 1000, rate);
  } else {
    const std::int64_t kbps = TableBitRate(Frame);
    if (kbps == 0) return 0;
    const std::int64_t audioBytes = FileLength - ID3v2->Size - (ID3v1->Present ? TID3v1::kTagSize : 0);
    ms = CeilDiv((audioBytes - Frame.Position) * 8, kbps);
  }
  return MillisecondsToSectors(ms);
}

}  // namespace cv
