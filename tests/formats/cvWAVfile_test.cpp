// Tests of the WAV header reader on sox and ffmpeg output and on headers
// built here for the edge cases of the chunk walk.
#include "formats/cvWAVfile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "tests/formats/reader_test_util.h"

namespace cv {
namespace {

using namespace cv::testing;

struct TFmt {
  uint16_t Tag = 1, Channels = 2;
  uint32_t Rate = 44100, ByteRate = 176400;
  uint16_t Align = 4, Bits = 16;
  uint32_t ChunkSize = 16;  // 16, 18 (with cbSize) or more
};

void PutChunk(Bytes& b, std::string_view id, const Bytes& body, uint32_t claimedSize) {
  PutText(b, id);
  Put32(b, claimedSize);
  PutBytes(b, body);
  if (body.size() & 1) Put8(b, 0);
}
void PutChunk(Bytes& b, std::string_view id, const Bytes& body) {
  PutChunk(b, id, body, static_cast<uint32_t>(body.size()));
}

Bytes FmtBody(const TFmt& f) {
  Bytes b;
  Put16(b, f.Tag);
  Put16(b, f.Channels);
  Put32(b, f.Rate);
  Put32(b, f.ByteRate);
  Put16(b, f.Align);
  Put16(b, f.Bits);
  while (b.size() < f.ChunkSize) Put8(b, 0);
  return b;
}

Bytes Fact(uint32_t samples) {
  Bytes b;
  Put32(b, samples);
  return b;
}

// RIFF/WAVE around the given chunks; riffSize 0 means "the real size".
Bytes Riff(const Bytes& chunks, std::optional<uint32_t> riffSize = std::nullopt) {
  Bytes b;
  PutText(b, "RIFF");
  Put32(b, riffSize.value_or(static_cast<uint32_t>(chunks.size() + 4)));
  PutText(b, "WAVE");
  PutBytes(b, chunks);
  return b;
}

Bytes Canonical(const TFmt& f, uint32_t dataBytes) {
  Bytes chunks;
  PutChunk(chunks, "fmt ", FmtBody(f));
  PutChunk(chunks, "data", Bytes(dataBytes, 0x11));
  return Riff(chunks);
}

TEST(WAVfileFixtures, CanonicalSoxFileReadsItsHeader) {
  const std::string path = Fixture("wav/pcm16_stereo_44k.wav");
  const Bytes file = ReadAll(path);
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(path));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.FormatTag, 1);
  EXPECT_EQ(w.ChannelCount, 2);
  EXPECT_EQ(w.SampleRate, 44100u);
  EXPECT_EQ(w.BytesPerSecond, 176400u);
  EXPECT_EQ(w.BlockAlign, 4);
  EXPECT_EQ(w.BitsPerSample, 16);
  EXPECT_EQ(w.SampleCount, 0);
  EXPECT_FALSE(w.HasFact);
  EXPECT_EQ(w.HeaderSize, 44u);
  EXPECT_EQ(w.DataSize, file.size() - 44);
  EXPECT_EQ(w.FileSize, file.size());
  EXPECT_EQ(w.DurationSectors(), 75);  // one second
}

TEST(WAVfileFixtures, ListChunkBeforeDataDoesNotStretchTheDuration) {
  const std::string path = Fixture("wav/list_stereo_44k.wav");
  const Bytes file = ReadAll(path);
  const auto data = std::search(file.begin(), file.end(), std::begin("data"), std::end("data") - 1);
  ASSERT_NE(data, file.end());
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(path));
  ASSERT_TRUE(w.Valid);
  EXPECT_FALSE(w.HasFact);
  EXPECT_EQ(w.SampleCount, 0);
  EXPECT_EQ(w.HeaderSize, static_cast<uint32_t>(data - file.begin()) + 8);
  EXPECT_GT(w.HeaderSize, 44u);
  EXPECT_EQ(w.DataSize, 176400u);
  EXPECT_EQ(w.DurationSectors(), 75);
}

TEST(WAVfileFixtures, FormatsAndChannelLayouts) {
  struct Case {
    const char* file;
    uint16_t tag;
    uint8_t channels, bits;
    uint32_t rate;
    bool fact;
    int32_t sectors;
  };
  // Durations: 1 s = 75 sectors, 1.5 s = 112 + Ceil(500 / 13.333) = 113,
  // 0.5 s = Ceil(500 / 13.333) = 38.
  const Case cases[] = {
      {"pcm16_mono_22k.wav", 1, 1, 16, 22050, false, 113},
      {"pcm8_mono_22k.wav", 1, 1, 8, 22050, false, 75},
      {"pcm24_stereo_48k.wav", 0xFFFE, 2, 24, 48000, true, 75},
      {"pcm16_stereo_96k.wav", 1, 2, 16, 96000, false, 38},
      {"float32_stereo_44k.wav", 3, 2, 32, 44100, true, 38},
      {"adpcm_mono_22k.wav", 0x11, 1, 4, 22050, true, 75},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TWAVfile w;
    ASSERT_TRUE(w.ReadFileInfo(Fixture(std::string("wav/") + c.file)));
    ASSERT_TRUE(w.Valid);
    EXPECT_EQ(w.FormatTag, c.tag);
    EXPECT_EQ(w.ChannelCount, c.channels);
    EXPECT_EQ(w.BitsPerSample, c.bits);
    EXPECT_EQ(w.SampleRate, c.rate);
    EXPECT_EQ(w.HasFact, c.fact);
    if (c.fact) {
      EXPECT_GT(w.SampleCount, 0);
    }
    EXPECT_EQ(w.DurationSectors(), c.sectors);
  }
}

TEST(WAVfileFixtures, MP3StreamInsideRiffIsAValidCompressedWav) {
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Fixture("wav/mp3_in_riff.wav")));
  EXPECT_TRUE(w.Valid);
  EXPECT_EQ(w.FormatTag, 0x55);
  EXPECT_TRUE(w.HasFact);
}

TEST(WAVfileHeader, CanonicalHeaderOfOneSecond) {
  const Bytes file = Canonical({}, 176400);
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(file));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.FileSize, 36u + 176400 + 8);
  EXPECT_EQ(w.HeaderSize, 44u);
  EXPECT_EQ(w.DurationMs(), 1000);
  EXPECT_EQ(w.DurationSectors(), 75);
}

TEST(WAVfileHeader, SixChannelsAreNotValid) {
  TFmt f;
  f.Channels = 6;
  TWAVfile w;
  EXPECT_TRUE(w.ReadFileInfo(Canonical(f, 1000)));
  EXPECT_FALSE(w.Valid);
  EXPECT_EQ(w.SampleRate, 0u);
  EXPECT_EQ(w.DurationSectors(), 0);
}

TEST(WAVfileHeader, CompressedFormatWithTwoChannelsIsValid) {
  TFmt f;
  f.Tag = 2;  // MS ADPCM
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Canonical(f, 1000)));
  EXPECT_TRUE(w.Valid);
  EXPECT_EQ(w.FormatTag, 2);
}

TEST(WAVfileHeader, Fmt18WithFactTakesTheSampleCount) {
  TFmt f;
  f.ChunkSize = 18;
  Bytes chunks;
  PutChunk(chunks, "fmt ", FmtBody(f));
  PutChunk(chunks, "fact", Fact(66150));  // 1.5 s at 44100 Hz
  PutChunk(chunks, "data", Bytes(1000, 0));
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Riff(chunks)));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.HeaderSize, 58u);
  EXPECT_EQ(w.SampleCount, 66150);
  EXPECT_EQ(w.DurationSectors(), 113);  // from the samples, not from 1000 data bytes
}

TEST(WAVfileHeader, ChunksInAnyOrderAndOddSizesArePadded) {
  Bytes chunks;
  PutChunk(chunks, "JUNK", Bytes(5, 0xEE));  // odd: one pad byte follows
  PutChunk(chunks, "fmt ", FmtBody({}));
  PutChunk(chunks, "LIST", Bytes(101, 'x'));
  PutChunk(chunks, "data", Bytes(176400 / 2, 0));
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Riff(chunks)));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.HeaderSize, 12u + (8 + 6) + (8 + 16) + (8 + 102) + 8);
  EXPECT_EQ(w.DataSize, 88200u);
  EXPECT_EQ(w.DurationSectors(), 38);
}

TEST(WAVfileHeader, FmtAfterASizedDataChunkIsFound) {
  Bytes chunks;
  PutChunk(chunks, "data", Bytes(1764, 0));
  PutChunk(chunks, "fmt ", FmtBody({}));
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Riff(chunks)));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.HeaderSize, 20u);
  EXPECT_EQ(w.DataSize, 1764u);
  EXPECT_EQ(w.DurationMs(), 10);
}

TEST(WAVfileHeader, StreamedOrOversizedDataSizeMeansUpToTheEnd) {
  for (uint32_t claimed : {0u, 0xFFFFFFFFu, 10000000u}) {
    SCOPED_TRACE(claimed);
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtBody({}));
    PutText(chunks, "data");
    Put32(chunks, claimed);
    PutBytes(chunks, Bytes(176400, 0));
    for (uint32_t riff : {0u, 0xFFFFFFFFu, 77u}) {
      SCOPED_TRACE(riff);
      const Bytes file = Riff(chunks, riff == 77u ? std::optional<uint32_t>{} : riff);
      TWAVfile w;
      ASSERT_TRUE(w.ReadFileInfo(file));
      ASSERT_TRUE(w.Valid);
      EXPECT_EQ(w.HeaderSize, 44u);
      EXPECT_EQ(w.DataSize, 176400u);
      EXPECT_EQ(w.FileSize, file.size());
      EXPECT_EQ(w.DurationSectors(), 75);
    }
  }
}

TEST(WAVfileHeader, RiffSizeBeyondTheFileGivesTheFileSize) {
  Bytes file = Canonical({}, 4000);
  SetLE32(file, 4, 0x7FFFFFF0);
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(file));
  EXPECT_EQ(w.FileSize, file.size());
}

TEST(WAVfileHeader, SmallerDataSizeIsKept) {
  Bytes chunks;
  PutChunk(chunks, "fmt ", FmtBody({}));
  PutChunk(chunks, "data", Bytes(1764, 0));
  PutChunk(chunks, "LIST", Bytes(500, 'x'));  // trailing chunk, not audio
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Riff(chunks)));
  EXPECT_EQ(w.DataSize, 1764u);
  EXPECT_EQ(w.DurationMs(), 10);
  EXPECT_EQ(w.DurationSectors(), 1);
}

TEST(WAVfileHeader, DurationRoundingEdges) {
  // 1000 bytes per second: the data size in bytes is the time in ms.
  struct Case {
    uint32_t bytes;
    int32_t sectors;
  };
  const Case cases[] = {
      {1, 1},       // Ceil(1 / 13.333)
      {13, 1},      // 13 / 13.333 = 0.975
      {14, 2},      // 14 / 13.333 = 1.05
      {999, 75},    // 999 / 13.333 = 74.93
      {1000, 75},
      {1001, 76},
      {1500, 113},  // 75 + Ceil(37.5009)
      {60000, 4500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    TFmt f;
    f.Channels = 1;
    f.ByteRate = 1000;
    f.Rate = 1000;
    f.Align = 1;
    f.Bits = 8;
    TWAVfile w;
    ASSERT_TRUE(w.ReadFileInfo(Canonical(f, c.bytes)));
    EXPECT_EQ(w.DurationSectors(), c.sectors);
  }
}

TEST(WAVfileHeader, ByteRateWithoutExactMillisecondsRoundsUp) {
  // 1764 bytes at 176400 bytes/s are exactly 10 ms: no spurious 11th.
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Canonical({}, 1764)));
  EXPECT_EQ(w.DurationMs(), 10);
  // One byte more is a little over 10 ms.
  ASSERT_TRUE(w.ReadFileInfo(Canonical({}, 1765)));
  EXPECT_EQ(w.DurationMs(), 11);
}

TEST(WAVfileHeader, ShortAndForeignFiles) {
  TWAVfile w;
  Bytes file = Canonical({}, 100);
  file.resize(39);
  EXPECT_FALSE(w.ReadFileInfo(file));
  EXPECT_FALSE(w.Valid);
  file = Canonical({}, 100);
  file.resize(40);  // the data chunk header is cut
  EXPECT_TRUE(w.ReadFileInfo(file));
  EXPECT_FALSE(w.Valid);

  Bytes notRiff(100, 'A');
  EXPECT_TRUE(w.ReadFileInfo(notRiff));
  EXPECT_FALSE(w.Valid);

  EXPECT_FALSE(w.ReadFileInfo(std::string("/nonexistent/corvid/file.wav")));
  EXPECT_FALSE(w.Valid);
}

TEST(WAVfileHeader, BrokenChunkListsAreRejectedWithoutReadingOutside) {
  TWAVfile w;
  {  // a chunk before the data runs beyond the end of the file
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtBody({}));
    PutChunk(chunks, "LIST", Bytes(10, 0), 0x7FFFFFFF);
    PutChunk(chunks, "data", Bytes(100, 0));
    EXPECT_TRUE(w.ReadFileInfo(Riff(chunks)));
    EXPECT_FALSE(w.Valid);
  }
  {  // fmt chunk too short to hold the format
    Bytes chunks;
    PutChunk(chunks, "fmt ", Bytes(8, 1));
    PutChunk(chunks, "data", Bytes(100, 0));
    EXPECT_TRUE(w.ReadFileInfo(Riff(chunks)));
    EXPECT_FALSE(w.Valid);
  }
  {  // no data chunk at all
    Bytes chunks;
    PutChunk(chunks, "fmt ", FmtBody({}));
    PutChunk(chunks, "LIST", Bytes(100, 0));
    EXPECT_TRUE(w.ReadFileInfo(Riff(chunks)));
    EXPECT_FALSE(w.Valid);
  }
  {  // a streamed data chunk runs to the end: a fmt chunk behind it is audio
    Bytes chunks;
    PutChunk(chunks, "data", Bytes(100, 0), 0);
    PutChunk(chunks, "fmt ", FmtBody({}));
    EXPECT_TRUE(w.ReadFileInfo(Riff(chunks)));
    EXPECT_FALSE(w.Valid);
  }
}

TEST(WAVfileHeader, ClearBeforeEveryRead) {
  TWAVfile w;
  ASSERT_TRUE(w.ReadFileInfo(Canonical({}, 176400)));
  ASSERT_TRUE(w.Valid);
  Bytes notRiff(100, 0);
  EXPECT_TRUE(w.ReadFileInfo(notRiff));
  EXPECT_FALSE(w.Valid);
  EXPECT_EQ(w.BytesPerSecond, 0u);
  EXPECT_EQ(w.DataSize, 0u);
  EXPECT_EQ(w.DurationSectors(), 0);
}

}  // namespace
}  // namespace cv
