#include "formats/cvMP3File.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>

#include "mp3_test_util.h"

using namespace cvtest;
using cv::TMP3File;

namespace {

constexpr int kWindow = TMP3File::kWindowSize;

// A CBR stream of MPEG 1 Layer III at 128 kbit/s, 44100 Hz: 417-byte frames.
Bytes Cbr128(int count, int mode = 1) {
  HeaderBits h;
  h.mode = mode;
  return Frames(h, 417, count);
}

// Sectors of a time in ms by the 13.333 ms rule, written out here with the
// divisor as a floating-point constant.
std::int64_t RuleSectors(std::int64_t ms) {
  return (ms / 1000) * 75 + static_cast<std::int64_t>(std::ceil(static_cast<double>(ms % 1000) / 13.333));
}

// Counts the frames of a stream by walking it with the standard's frame
// lengths, and tells the bytes they cover.
struct Walk {
  int frames = 0;
  std::int64_t bytes = 0;
};
Walk WalkStream(const Bytes& f, std::size_t start) {
  static const int kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  static const int kL3v1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kL3v2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  Walk w;
  std::size_t p = start;
  while (p + 4 <= f.size() && f[p] == 0xFF && (f[p + 1] & 0xE0) == 0xE0) {
    const int version = (f[p + 1] >> 3) & 3;
    const int* table = version == 3 ? kL3v1 : kL3v2;
    const int kbps = table[f[p + 2] >> 4];
    const int rate = kRates[version][(f[p + 2] >> 2) & 3];
    const int len = StandardFrameBytes(version, 1, kbps, rate, (f[p + 2] & 2) != 0);
    if (len <= 0) break;
    ++w.frames;
    w.bytes += len;
    p += static_cast<std::size_t>(len);
  }
  return w;
}

std::int32_t BE32(const Bytes& b, std::size_t at) {
  return static_cast<std::int32_t>((std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
                                   (std::uint32_t{b[at + 2]} << 8) | b[at + 3]);
}

}  // namespace

// --- Per-frame values ------------------------------------------------------

TEST(MP3FrameValues, FrameLengthsOfTheStandard) {
  cv::FrameHeader f;
  cv::TMP3File::DecodeHeader(Header({3, 1, 9, 0, false, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::FrameLength(f), 417);
  cv::TMP3File::DecodeHeader(Header({3, 1, 9, 0, true, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::FrameLength(f), 418);
  // MPEG 2 Layer III, 64 kbit/s (index 8), 22050 Hz.
  cv::TMP3File::DecodeHeader(Header({2, 1, 8, 0, false, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::FrameLength(f), 208);
  // MPEG 2 Layer I holds 384 samples as MPEG 1 does: 32 kbit/s at 16 kHz is
  // 24 slots of 4 bytes.
  cv::TMP3File::DecodeHeader(Header({2, 3, 1, 2, false, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::Coefficient(f), 48);
  EXPECT_EQ(TMP3File::FrameLength(f), 96);
  // MPEG 1 Layer I at 44.1 kHz: 12 * 32000 / 44100 = 8.7 -> 8 slots, 32
  // bytes, padded 36 (a plain 48 * 32000 / 44100 would give 34).
  cv::TMP3File::DecodeHeader(Header({3, 3, 1, 0, false, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::FrameLength(f), 32);
  cv::TMP3File::DecodeHeader(Header({3, 3, 1, 0, true, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::PaddingSize(f), 4);
  EXPECT_EQ(TMP3File::FrameLength(f), 36);
  // Layer II of MPEG 2 keeps 144 (1152 samples); MPEG 2.5 Layer III 72.
  cv::TMP3File::DecodeHeader(Header({2, 2, 8, 0, false, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::Coefficient(f), 144);
  cv::TMP3File::DecodeHeader(Header({0, 1, 8, 2, false, 1, 0}).data(), f);
  EXPECT_EQ(TMP3File::Coefficient(f), 72);
  EXPECT_EQ(TMP3File::FrameLength(f), 72 * 64000 / 8000);
}

TEST(MP3FrameValues, HeaderBitsDecodeToTheirFields) {
  const std::uint8_t h[4] = {0xFF, 0xFA, 0x93, 0x6D};  // MPEG1 L3 CRC, 128k 44.1 pad priv, JS ext2 copy orig emph1
  cv::FrameHeader f;
  TMP3File::DecodeHeader(h, f);
  EXPECT_EQ(f.Version, 3);
  EXPECT_EQ(f.Layer, 1);
  EXPECT_TRUE(f.Protected);
  EXPECT_EQ(f.BitRateIndex, 9);
  EXPECT_EQ(f.SampleRateIndex, 0);
  EXPECT_TRUE(f.Padding);
  EXPECT_TRUE(f.Private);
  EXPECT_EQ(f.Mode, 1);
  EXPECT_EQ(f.ModeExtension, 2);
  EXPECT_TRUE(f.Copyright);
  EXPECT_TRUE(f.Original);
  EXPECT_EQ(f.Emphasis, 1);
  EXPECT_EQ(std::memcmp(f.Data, h, 4), 0);
}

TEST(MP3FrameValues, HeaderTestRejectsReservedAndFreeFormat) {
  EXPECT_TRUE(TMP3File::IsFrameHeader(Header({}).data()));
  auto with = [](auto change) {
    HeaderBits h;
    change(h);
    return TMP3File::IsFrameHeader(Header(h).data());
  };
  EXPECT_FALSE(with([](HeaderBits& h) { h.version = 1; }));
  EXPECT_FALSE(with([](HeaderBits& h) { h.layer = 0; }));
  EXPECT_FALSE(with([](HeaderBits& h) { h.bitRateIndex = 0; }));   // free format
  EXPECT_FALSE(with([](HeaderBits& h) { h.bitRateIndex = 15; }));
  EXPECT_FALSE(with([](HeaderBits& h) { h.sampleRateIndex = 3; }));
  EXPECT_FALSE(with([](HeaderBits& h) { h.emphasis = 2; }));
  EXPECT_TRUE(with([](HeaderBits& h) { h.emphasis = 3; }));
  const std::uint8_t notSync[4] = {0xFF, 0xDB, 0x90, 0x40};
  EXPECT_FALSE(TMP3File::IsFrameHeader(notSync));
}

TEST(MP3FrameValues, XingOffsetsByVersionAndMode) {
  cv::FrameHeader f;
  f.Version = 3;
  f.Mode = 1;
  EXPECT_EQ(TMP3File::XingOffset(f), 36);
  f.Mode = 3;
  EXPECT_EQ(TMP3File::XingOffset(f), 21);
  f.Version = 2;
  EXPECT_EQ(TMP3File::XingOffset(f), 13);
  f.Mode = 0;
  EXPECT_EQ(TMP3File::XingOffset(f), 21);
  f.Version = 0;
  EXPECT_EQ(TMP3File::XingOffset(f), 21);
}

// --- The 13.333 ms rule ----------------------------------------------------

TEST(MP3Duration, SectorsAtTheRoundingEdges) {
  // Whole multiples of 40 ms get one sector more than 3/40 of them.
  EXPECT_EQ(TMP3File::MillisecondsToSectors(40), 4);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(80), 7);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(960), 73);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(39), 3);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(986), 74);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(987), 75);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(999), 75);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(1000), 75);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(1001), 76);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(0), 0);
  EXPECT_EQ(TMP3File::MillisecondsToSectors(62492), 4687);
  for (std::int64_t ms = 0; ms < 5000; ++ms)
    ASSERT_EQ(TMP3File::MillisecondsToSectors(ms), RuleSectors(ms)) << ms;
  // Absurd lengths saturate instead of wrapping.
  EXPECT_EQ(TMP3File::MillisecondsToSectors(std::int64_t{1} << 50), std::numeric_limits<std::int32_t>::max());
}

TEST(MP3Duration, ConstantBitRateMegabyteWithID3v1) {
  // 1,000,000 bytes, first frame at 0, an ID3v1 tag, no ID3v2 tag:
  // Ceil(999872 / 128 * 8) = 62492 ms = 4687 sectors.
  Bytes file = Cbr128(3);
  file.resize(1000000 - 128, 0);
  Append(file, ID3v1Tag("Megabyte"));
  TMP3File mp3;
  EXPECT_TRUE(mp3.ReadFileInfo(file));
  EXPECT_TRUE(mp3.ID3v1->Present);
  EXPECT_EQ(mp3.FileLength, 1000000);
  EXPECT_EQ(mp3.DurationSectors(), 4687);
  EXPECT_TRUE(mp3.IsValid());
  EXPECT_EQ(mp3.EncoderID, "");
}

TEST(MP3Duration, VbrFrameCountGivesTheTime) {
  // 1000 frames of MPEG 1 Layer III at 44100 Hz: Ceil(1152000 / 44.1) =
  // 26123 ms.
  Bytes file = Cbr128(6);
  std::memcpy(&file[36], "Xing", 4);
  PutBE32(file, 36 + 8, 1000);
  PutBE32(file, 36 + 12, 417000);
  file.resize(5000, 0);
  TMP3File mp3;
  EXPECT_TRUE(mp3.ReadFileInfo(file));
  ASSERT_TRUE(mp3.VBR.Found);
  EXPECT_EQ(mp3.DurationSectors(), RuleSectors(26123));
  EXPECT_EQ(mp3.BitRateKbps(), 128);  // 417 * 44100 / 144 / 1000 = 127.7
}

// --- Frame search ----------------------------------------------------------

TEST(MP3FrameSearch, FirstFrameRightAfterTheID3v2Tag) {
  Bytes body = ID3Frame(3, "TIT2", Text(0, "t"));
  Bytes file = ID3Tag(3, body, 0, 100);
  const std::size_t tagSize = file.size();
  Append(file, Cbr128(20));
  TMP3File mp3;
  EXPECT_TRUE(mp3.ReadFileInfo(file));
  EXPECT_EQ(mp3.ID3v2->Size, static_cast<std::int32_t>(tagSize));
  EXPECT_TRUE(mp3.Frame.Found);
  EXPECT_EQ(mp3.Frame.Position, 0);
  // The duration leaves out the tag.
  const std::int64_t ms = ((20 * 417) * 8 + 127) / 128;
  EXPECT_EQ(mp3.DurationSectors(), RuleSectors(ms));
}

TEST(MP3FrameSearch, LoneHeaderPatternIsSkipped) {
  Bytes file = Header({});  // no header 417 bytes on
  file.resize(10, 0);
  Append(file, Cbr128(12));
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  EXPECT_TRUE(mp3.Frame.Found);
  EXPECT_EQ(mp3.Frame.Position, 10);
}

TEST(MP3FrameSearch, LastCandidateOfTheWindow) {
  for (const int start : {1729, 1730}) {
    Bytes file(static_cast<std::size_t>(start), 0);
    Append(file, Cbr128(3));  // ends within the first window's reach
    file.resize(3000, 0);     // shorter than a window: no second window
    TMP3File mp3;
    mp3.ReadFileInfo(file);
    EXPECT_EQ(mp3.Frame.Found, start == 1729) << start;
    if (start == 1729) {
      EXPECT_EQ(mp3.Frame.Position, 1729);
    }
  }
}

TEST(MP3FrameSearch, SecondWindowInTheMiddleOfTheFile) {
  // Junk for the whole first window, frames from just past the middle.
  const std::size_t length = 20000;
  Bytes file(length / 2 + 300, 0x11);
  Append(file, Cbr128(20));
  file.resize(length, 0);
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  ASSERT_TRUE(mp3.Frame.Found);
  // The position counts within the second window, read from length / 2.
  EXPECT_EQ(mp3.Frame.Position, 300);
  EXPECT_TRUE(mp3.IsValid());
}

TEST(MP3FrameSearch, NoSecondWindowAfterAShortFirstRead) {
  Bytes file(3000, 0x11);
  Bytes frames = Cbr128(4);
  std::memcpy(&file[1800], frames.data(), 1000);  // beyond the candidates
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  EXPECT_FALSE(mp3.Frame.Found);
  EXPECT_FALSE(mp3.IsValid());
}

TEST(MP3FrameSearch, FreeFormatAndReservedEmphasisNeverAccepted) {
  for (auto change : {+[](HeaderBits& h) { h.bitRateIndex = 0; }, +[](HeaderBits& h) { h.emphasis = 2; }}) {
    HeaderBits h;
    change(h);
    Bytes file = Frames(h, 417, 12);
    TMP3File mp3;
    mp3.ReadFileInfo(file);
    EXPECT_FALSE(mp3.Frame.Found);
  }
}

TEST(MP3FrameSearch, MpegTwoLayerOneStreamIsFound) {
  HeaderBits h{2, 3, 1, 2, false, 3, 0};  // MPEG 2 Layer I, 32 kbit/s, 16 kHz, mono
  Bytes file = Frames(h, StandardFrameBytes(2, 3, 32, 16000, false), 40);
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  ASSERT_TRUE(mp3.Frame.Found);
  EXPECT_EQ(mp3.Frame.Size, 96);
  EXPECT_EQ(mp3.SampleRateHz(), 16000);
  EXPECT_EQ(mp3.BitRateKbps(), 32);
}

TEST(MP3FrameSearch, NothingFoundLeavesTheClearedState) {
  Bytes file(10000, 0x42);
  Append(file, ID3v1Tag("Only a tag"));
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  EXPECT_FALSE(mp3.Frame.Found);
  EXPECT_FALSE(mp3.ID3v1->Present);  // the tag readers are cleared as well
  EXPECT_EQ(mp3.FileLength, 0);
  EXPECT_EQ(mp3.Frame.Version, 1);
  EXPECT_EQ(mp3.Frame.Mode, 4);
  EXPECT_EQ(mp3.Frame.Emphasis, 2);
  EXPECT_EQ(mp3.SampleRateHz(), 0);
  EXPECT_EQ(mp3.ChannelCount(), 0);
  EXPECT_EQ(mp3.BitRateKbps(), 0);
  EXPECT_EQ(mp3.DurationSectors(), 0);
}

// --- VBR headers -----------------------------------------------------------

struct VbrCase {
  HeaderBits header;
  int frameBytes;
  int xingOffset;
};

TEST(MP3VbrHeader, XingProbedAtItsOffset) {
  const VbrCase cases[] = {
      {{3, 1, 9, 0, false, 1, 0}, 417, 36},  // MPEG 1 stereo
      {{3, 1, 9, 0, false, 3, 0}, 417, 21},  // MPEG 1 mono
      {{2, 1, 8, 0, false, 0, 0}, 208, 21},  // MPEG 2 stereo
      {{2, 1, 8, 0, false, 3, 0}, 208, 13},  // MPEG 2 mono
  };
  for (const auto& c : cases) {
    for (const int at : {c.xingOffset, c.xingOffset == 36 ? 21 : 36}) {
      Bytes file = Frames(c.header, c.frameBytes, 20);
      std::memcpy(&file[static_cast<std::size_t>(at)], "Xing", 4);
      PutBE32(file, static_cast<std::size_t>(at) + 8, 20);
      PutBE32(file, static_cast<std::size_t>(at) + 12, static_cast<std::uint32_t>(20 * c.frameBytes));
      file[static_cast<std::size_t>(at) + 119] = 77;
      std::memcpy(&file[static_cast<std::size_t>(at) + 120], "LAME3.99", 8);
      TMP3File mp3;
      mp3.ReadFileInfo(file);
      ASSERT_TRUE(mp3.Frame.Found);
      EXPECT_EQ(mp3.VBR.Found, at == c.xingOffset) << "mode " << c.header.mode << " at " << at;
      if (at == c.xingOffset) {
        EXPECT_EQ(std::string(mp3.VBR.ID, 4), "Xing");
        EXPECT_EQ(mp3.VBR.Frames, 20);
        EXPECT_EQ(mp3.VBR.Bytes, 20 * c.frameBytes);
        EXPECT_EQ(mp3.VBR.Scale, 77);
        EXPECT_EQ(mp3.VBR.VendorID, "LAME3.99");
        EXPECT_EQ(mp3.EncoderID, "");  // no end-of-file scan with a VBR header
      }
    }
  }
}

TEST(MP3VbrHeader, VbriSitsThirtyTwoBytesBehindTheHeader) {
  // MPEG 2 mono: the Xing offset is 13, the VBRI header still at 36.
  HeaderBits h{2, 1, 8, 0, false, 3, 0};
  for (const int at : {36, 13}) {
    Bytes file = Frames(h, 208, 20);
    std::memcpy(&file[static_cast<std::size_t>(at)], "VBRI", 4);
    file[static_cast<std::size_t>(at) + 9] = 60;                             // quality, low byte
    PutBE32(file, static_cast<std::size_t>(at) + 10, 208 * 500);             // bytes
    PutBE32(file, static_cast<std::size_t>(at) + 14, 500);                   // frames
    TMP3File mp3;
    mp3.ReadFileInfo(file);
    ASSERT_TRUE(mp3.Frame.Found);
    EXPECT_EQ(mp3.VBR.Found, at == 36) << at;
    if (at == 36) {
      EXPECT_EQ(std::string(mp3.VBR.ID, 4), "VBRI");
      EXPECT_EQ(mp3.VBR.Scale, 60);
      EXPECT_EQ(mp3.VBR.Bytes, 208 * 500);
      EXPECT_EQ(mp3.VBR.Frames, 500);
      EXPECT_EQ(mp3.VBR.VendorID, "");
      // 500 frames of 576 samples at 22050 Hz: Ceil(13061.2) ms.
      EXPECT_EQ(mp3.DurationSectors(), RuleSectors(13062));
    }
  }
}

TEST(MP3VbrHeader, AverageBitRateRoundsHalfToEven) {
  // MPEG 1 Layer III at 48 kHz: kbit/s = bytes per frame / 3. 385.5 bytes
  // per frame is 128.5 kbit/s, 382.5 is 127.5: both round to 128.
  for (const auto& [bytes, expected] : {std::pair{771, 128}, std::pair{765, 128}, std::pair{768, 128},
                                       std::pair{774, 129}}) {
    HeaderBits h{3, 1, 9, 1, false, 1, 0};
    Bytes file = Frames(h, StandardFrameBytes(3, 1, 128, 48000, false), 10);
    std::memcpy(&file[36], "Xing", 4);
    PutBE32(file, 36 + 8, 2);
    PutBE32(file, 36 + 12, static_cast<std::uint32_t>(bytes));
    TMP3File mp3;
    mp3.ReadFileInfo(file);
    ASSERT_TRUE(mp3.VBR.Found);
    EXPECT_EQ(mp3.BitRateKbps(), expected) << bytes;
  }
}

TEST(MP3VbrHeader, ImplausibleCountsMakeTheStreamInvalid) {
  auto withCounts = [](std::uint32_t frames, std::uint32_t bytes) {
    auto mp3 = std::make_unique<TMP3File>();
    Bytes file = Cbr128(10);
    std::memcpy(&file[36], "Xing", 4);
    PutBE32(file, 36 + 8, frames);
    PutBE32(file, 36 + 12, bytes);
    mp3->ReadFileInfo(file);
    return mp3;
  };
  EXPECT_FALSE(withCounts(100, 0)->IsValid());  // no bytes: 0 kbit/s
  // An average of 65664.98 kbit/s would wrap to 129 in 16 bits; it saturates.
  auto wrapped = withCounts(1, 214413);
  EXPECT_EQ(wrapped->BitRateKbps(), 65535);
  EXPECT_FALSE(wrapped->IsValid());
  // A byte count negative as a signed number.
  EXPECT_EQ(withCounts(100, 0xFFFFFFF0u)->BitRateKbps(), 0);
  // The largest frame count: no overflow, a saturated duration.
  auto huge = withCounts(0x7FFFFFFF, 0x7FFFFFFF);
  EXPECT_EQ(huge->DurationSectors(), std::numeric_limits<std::int32_t>::max());
  // A zero or negative frame count falls back to the table's bit rate.
  EXPECT_EQ(withCounts(0, 1000)->BitRateKbps(), 128);
  EXPECT_EQ(withCounts(0x80000000u, 1000)->BitRateKbps(), 128);
}

TEST(MP3Validity, BitRateAndLengthLimits) {
  // MPEG 2.5 Layer III at 8 kbit/s is the lowest valid rate.
  HeaderBits low{0, 1, 1, 2, false, 3, 0};  // 8 kbit/s, 8000 Hz: 72-byte frames
  Bytes file = Frames(low, 72, 200);
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  EXPECT_EQ(mp3.BitRateKbps(), 8);
  EXPECT_TRUE(mp3.IsValid());
  // MPEG 1 Layer I at 448 kbit/s is the highest.
  HeaderBits high{3, 3, 14, 0, false, 1, 0};
  file = Frames(high, StandardFrameBytes(3, 3, 448, 44100, false), 30);
  mp3.ReadFileInfo(file);
  EXPECT_EQ(mp3.BitRateKbps(), 448);
  EXPECT_TRUE(mp3.IsValid());
}

// --- Encoder identification ------------------------------------------------

namespace {
// A CBR file of 20000 bytes whose end window has the given text at the
// given offset from the start of the end window.
Bytes WithEndText(std::initializer_list<std::pair<int, const char*>> texts, bool id3v1) {
  Bytes file = Cbr128(40);
  file.resize(20000, 0);
  const std::size_t windowStart = 20000 - kWindow;
  for (const auto& [offset, text] : texts)
    std::memcpy(&file[windowStart + static_cast<std::size_t>(offset)], text, std::strlen(text));
  if (id3v1) Append(file, ID3v1Tag("tag"));
  return file;
}
}  // namespace

TEST(MP3Encoder, SignatureNearTheEnd) {
  TMP3File mp3;
  EXPECT_TRUE(mp3.ReadFileInfo(WithEndText({{3000, "LAME3.98"}}, false)));
  EXPECT_EQ(mp3.EncoderID, "LAME3.98");
  // The window ends before the ID3v1 tag.
  EXPECT_TRUE(mp3.ReadFileInfo(WithEndText({{3000, "LAME3.97"}}, true)));
  EXPECT_EQ(mp3.EncoderID, "LAME3.97");
  mp3.ReadFileInfo(WithEndText({{3100, "GOGO"}}, false));
  EXPECT_EQ(mp3.EncoderID, "GOGO");
  // The one nearer the end wins, either way round.
  mp3.ReadFileInfo(WithEndText({{3000, "LAME3.96"}, {3100, "GOGO"}}, false));
  EXPECT_EQ(mp3.EncoderID, "GOGO");
  mp3.ReadFileInfo(WithEndText({{3000, "GOGO"}, {3100, "LAME3.95"}}, false));
  EXPECT_EQ(mp3.EncoderID, "LAME3.95");
  // The scan starts four bytes before the window's end: offset 3450 is seen,
  // 3454 (the last four bytes) is not.
  mp3.ReadFileInfo(WithEndText({{3450, "GOGO"}}, false));
  EXPECT_EQ(mp3.EncoderID, "GOGO");
  mp3.ReadFileInfo(WithEndText({{3454, "GOGO"}}, false));
  EXPECT_EQ(mp3.EncoderID, "");
  // The range is five frames: 5 * 417 = 2085 positions before 3450.
  mp3.ReadFileInfo(WithEndText({{3450 - 2085, "GOGO"}}, false));
  EXPECT_EQ(mp3.EncoderID, "GOGO");
  mp3.ReadFileInfo(WithEndText({{3450 - 2086, "GOGO"}}, false));
  EXPECT_EQ(mp3.EncoderID, "");
}

TEST(MP3Encoder, FileShorterThanTheEndWindow) {
  Bytes file = Cbr128(6);  // 2502 bytes
  std::memcpy(&file[2400], "LAME3.90", 8);
  TMP3File mp3;
  EXPECT_FALSE(mp3.ReadFileInfo(file));
  EXPECT_EQ(mp3.EncoderID, "");
  EXPECT_TRUE(mp3.Frame.Found);
  EXPECT_TRUE(mp3.IsValid());
}

// --- Files -----------------------------------------------------------------

TEST(MP3Files, ShorterThanATagIsCleared) {
  Bytes file = Cbr128(1);
  file.resize(100);
  TMP3File mp3;
  EXPECT_FALSE(mp3.ReadFileInfo(file));
  EXPECT_FALSE(mp3.Frame.Found);
  EXPECT_EQ(mp3.FileLength, 0);
}

TEST(MP3Files, MissingFile) {
  TMP3File mp3;
  EXPECT_FALSE(mp3.ReadFileInfo(FixturePath("no-such-file.mp3")));
  EXPECT_FALSE(mp3.IsValid());
  EXPECT_FALSE(mp3.ReadFileInfo(std::string(CORVID_FIXTURES_DIR)));  // a directory
  EXPECT_FALSE(mp3.IsValid());
}

TEST(MP3Files, TagLongerThanTheFileIsIgnored) {
  Bytes file = ID3Tag(3, ID3Frame(3, "TIT2", Text(0, "x")));
  file[6] = 0x7F;  // claims about 256 MiB
  Append(file, Cbr128(20));
  TMP3File mp3;
  mp3.ReadFileInfo(file);
  EXPECT_TRUE(mp3.ID3v2->Present);
  EXPECT_EQ(mp3.ID3v2->Size, 0);
  ASSERT_TRUE(mp3.Frame.Found);
  EXPECT_EQ(mp3.Frame.Position, static_cast<std::int32_t>(file.size() - 20 * 417));
}

TEST(MP3Files, ReadAgainForAnotherFile) {
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("vbr_xing.mp3")));
  ASSERT_TRUE(mp3.VBR.Found);
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("cbr128.mp3")));
  EXPECT_FALSE(mp3.VBR.Found);
  mp3.ReadFileInfo(FixturePath("make_fixtures.sh"));
  EXPECT_FALSE(mp3.IsValid());
  EXPECT_FALSE(mp3.Frame.Found);
}

// --- Real encoder output ---------------------------------------------------

TEST(MP3Fixtures, LameConstantBitRate) {
  const Bytes bytes = ReadFixture("cbr128.mp3");
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("cbr128.mp3")));
  EXPECT_TRUE(mp3.IsValid());
  EXPECT_EQ(mp3.FileLength, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(mp3.Frame.Position, 0);
  EXPECT_EQ(mp3.Frame.Version, 3);
  EXPECT_EQ(mp3.Frame.Layer, 1);
  EXPECT_EQ(mp3.Frame.Size, StandardFrameBytes(3, 1, 128, 44100, mp3.Frame.Padding));
  EXPECT_EQ(mp3.BitRateKbps(), 128);
  EXPECT_EQ(mp3.SampleRateHz(), 44100);
  EXPECT_EQ(mp3.ChannelCount(), 2);
  EXPECT_FALSE(mp3.VBR.Found);
  EXPECT_EQ(mp3.EncoderID.substr(0, 4), "LAME");
  EXPECT_EQ(mp3.EncoderID.size(), 8u);
  const std::int64_t ms = (static_cast<std::int64_t>(bytes.size()) * 8 + 127) / 128;
  EXPECT_EQ(mp3.DurationSectors(), RuleSectors(ms));
  // A 2 s tone with lame's delay and padding.
  EXPECT_GE(mp3.DurationSectors(), 150);
  EXPECT_LE(mp3.DurationSectors(), 158);
}

TEST(MP3Fixtures, LameInfoFrameIsNotAXingHeader) {
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("cbr128_info.mp3")));
  EXPECT_TRUE(mp3.IsValid());
  EXPECT_FALSE(mp3.VBR.Found);
  EXPECT_EQ(mp3.BitRateKbps(), 128);
}

TEST(MP3Fixtures, LameVariableBitRateWithXing) {
  const Bytes bytes = ReadFixture("vbr_xing.mp3");
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("vbr_xing.mp3")));
  ASSERT_TRUE(mp3.VBR.Found);
  EXPECT_EQ(std::string(mp3.VBR.ID, 4), "Xing");
  // The header's counts as they stand at +8 and +12.
  EXPECT_EQ(mp3.VBR.Frames, BE32(bytes, 36 + 8));
  EXPECT_EQ(mp3.VBR.Bytes, BE32(bytes, 36 + 12));
  // lame counts the audio frames (not its own header frame) and the bytes
  // of the whole stream.
  const Walk walk = WalkStream(bytes, 0);
  EXPECT_EQ(mp3.VBR.Frames, walk.frames - 1);
  EXPECT_EQ(mp3.VBR.Bytes, walk.bytes);
  EXPECT_EQ(walk.bytes, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(mp3.VBR.VendorID.substr(0, 4), "LAME");
  EXPECT_EQ(mp3.EncoderID, "");
  const double kbps = (static_cast<double>(mp3.VBR.Bytes) / mp3.VBR.Frames - (mp3.Frame.Padding ? 1 : 0)) *
                      44100 / 144 / 1000;
  EXPECT_EQ(mp3.BitRateKbps(), static_cast<int>(std::nearbyint(kbps)));
  const auto ms = static_cast<std::int64_t>(std::ceil(1152.0 * mp3.VBR.Frames / 44100 * 1000));
  EXPECT_EQ(mp3.DurationSectors(), RuleSectors(ms));
  EXPECT_TRUE(mp3.IsValid());
}

TEST(MP3Fixtures, MonoAndMpegTwoXingOffsets) {
  struct Case {
    const char* name;
    int version;
    int rate;
    int channels;
  } cases[] = {{"mono_vbr.mp3", 3, 44100, 1},
               {"mpeg2_22k_vbr.mp3", 2, 22050, 2},
               {"mpeg2_24k_mono_vbr.mp3", 2, 24000, 1}};
  for (const auto& c : cases) {
    TMP3File mp3;
    ASSERT_TRUE(mp3.ReadFileInfo(FixturePath(c.name))) << c.name;
    EXPECT_TRUE(mp3.IsValid()) << c.name;
    EXPECT_EQ(mp3.Frame.Version, c.version) << c.name;
    EXPECT_EQ(mp3.SampleRateHz(), c.rate) << c.name;
    EXPECT_EQ(mp3.ChannelCount(), c.channels) << c.name;
    ASSERT_TRUE(mp3.VBR.Found) << c.name;
    const Walk walk = WalkStream(ReadFixture(c.name), 0);
    EXPECT_EQ(mp3.VBR.Frames, walk.frames - 1) << c.name;
    const int samplesPerFrame = c.version == 3 ? 1152 : 576;
    const auto ms = static_cast<std::int64_t>(std::ceil(double(samplesPerFrame) * mp3.VBR.Frames / c.rate * 1000));
    EXPECT_EQ(mp3.DurationSectors(), RuleSectors(ms)) << c.name;
    // One second of tone.
    EXPECT_GE(mp3.DurationSectors(), 75) << c.name;
    EXPECT_LE(mp3.DurationSectors(), 83) << c.name;
  }
}

TEST(MP3Fixtures, MpegTwoConstantBitRate) {
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("mpeg2_22k_cbr64.mp3")));
  EXPECT_TRUE(mp3.IsValid());
  EXPECT_EQ(mp3.Frame.Version, 2);
  EXPECT_EQ(mp3.Frame.Size, StandardFrameBytes(2, 1, 64, 22050, mp3.Frame.Padding));
  EXPECT_EQ(mp3.BitRateKbps(), 64);
  EXPECT_EQ(mp3.SampleRateHz(), 22050);
}

TEST(MP3Fixtures, LayerTwo) {
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("layer2.mp2")));
  EXPECT_TRUE(mp3.IsValid());
  EXPECT_EQ(mp3.Frame.Layer, 2);
  EXPECT_EQ(mp3.Frame.Size, StandardFrameBytes(3, 2, 192, 44100, mp3.Frame.Padding));
  EXPECT_EQ(mp3.BitRateKbps(), 192);
}

TEST(MP3Fixtures, TagsMoveTheAudioStartAndEnd) {
  const Bytes bytes = ReadFixture("id3v23.mp3");
  TMP3File mp3;
  ASSERT_TRUE(mp3.ReadFileInfo(FixturePath("id3v23.mp3")));
  const std::int32_t tagSize = ((bytes[6] << 21) | (bytes[7] << 14) | (bytes[8] << 7) | bytes[9]) + 10;
  EXPECT_EQ(mp3.ID3v2->Size, tagSize);
  EXPECT_TRUE(mp3.ID3v1->Present);
  EXPECT_EQ(mp3.Frame.Position, 0);
  EXPECT_EQ(mp3.BitRateKbps(), 64);
  EXPECT_EQ(mp3.ChannelCount(), 1);
  const std::int64_t audio = static_cast<std::int64_t>(bytes.size()) - tagSize - 128;
  EXPECT_EQ(mp3.DurationSectors(), RuleSectors((audio * 8 + 63) / 64));
  EXPECT_TRUE(mp3.IsValid());
}

TEST(MP3Files, FifoIsRefusedWithoutWaiting) {
  const std::string path = std::string(CORVID_BINARY_DIR) + "/mp3_reader_test.fifo";
  ::unlink(path.c_str());
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  TMP3File mp3;
  EXPECT_FALSE(mp3.ReadFileInfo(path));  // would block in open() if tried
  EXPECT_FALSE(mp3.IsValid());
  cv::TFileByteSource source(path);
  EXPECT_FALSE(source.IsOpen());
  EXPECT_EQ(source.OpenError(), EINVAL);
  ::unlink(path.c_str());
}
