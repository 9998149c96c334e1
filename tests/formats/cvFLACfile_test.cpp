// TFLACfile and FLACEndSample against FLAC files made by the reference
// encoder (tests/fixtures/flac/make_fixtures.sh), and against cut and
// damaged copies of them.
#include "formats/cvFLACfile.h"

#include <gtest/gtest.h>

#include "formats/cvMP3File.h"
#include "reader_test_util.h"

namespace cv {
namespace {

using testing::Bytes;
using testing::Fixture;
using testing::ReadAll;

TEST(FLACfile, StreamInfoAndTagsOfEncoderFiles) {
  struct TCase {
    const char* file;
    uint32_t rate;
    uint8_t channels, bits;
    uint64_t samples;
  };
  for (const TCase& c : {TCase{"flac/tone44_16_2.flac", 44100, 2, 16, 40518},
                         TCase{"flac/tone22_8_1.flac", 22050, 1, 8, 5065},
                         TCase{"flac/tone48_24_2.flac", 48000, 2, 24, 19207}}) {
    SCOPED_TRACE(c.file);
    TFLACfile f;
    ASSERT_TRUE(f.ReadFileInfo(Fixture(c.file)));
    EXPECT_TRUE(f.Valid);
    EXPECT_EQ(f.SampleRate, c.rate);
    EXPECT_EQ(f.ChannelCount, c.channels);
    EXPECT_EQ(f.BitsPerSample, c.bits);
    EXPECT_EQ(f.TotalSamples, c.samples);
    EXPECT_EQ(f.MD5.size(), 32u);
    EXPECT_EQ(f.DurationSectors(), int32_t((c.samples * 75 + c.rate - 1) / c.rate));
    TFileByteSource source(Fixture(c.file));
    EXPECT_EQ(FLACEndSample(source, f.AudioOffset, f.MaxBlockSize), int64_t(c.samples));
  }
  TFLACfile f;
  ASSERT_TRUE(f.ReadFileInfo(Fixture("flac/tone44_16_2.flac")));
  EXPECT_EQ(f.Tags.Title, "Flac Title");
  EXPECT_EQ(f.Tags.Artist, "Flac Artist");
  EXPECT_EQ(f.Tags.Album, "Flac Album");
  EXPECT_EQ(f.Tags.Track, 3);
  EXPECT_EQ(f.Tags.Date, "2024");
  EXPECT_EQ(f.Tags.Genre, "Test");
  EXPECT_EQ(f.Tags.Vendor.rfind("reference libFLAC", 0), 0u) << f.Tags.Vendor;
}

TEST(FLACfile, TagInFrontAndForeignBlocks) {
  TFLACfile f;
  ASSERT_TRUE(f.ReadFileInfo(Fixture("flac/id3_front.flac")));
  EXPECT_GT(f.ID3v2Size, 10);
  EXPECT_EQ(f.TotalSamples, 5065u);

  // An APPLICATION block full of MPEG frames: the MP3 reader is fooled by
  // it, the FLAC reader steps over it.
  ASSERT_TRUE(f.ReadFileInfo(Fixture("flac/mp3_inside.flac")));
  EXPECT_TRUE(f.Valid);
  EXPECT_EQ(f.Blocks, 4u);  // STREAMINFO, APPLICATION, SEEKTABLE, VORBIS_COMMENT
  TMP3File mp3;
  mp3.ReadFileInfo(Fixture("flac/mp3_inside.flac"));
  EXPECT_TRUE(mp3.IsValid());
}

TEST(FLACfile, CutOrDamagedStreamsHaveNoTrustedEnd) {
  TFLACfile f;
  ASSERT_TRUE(f.ReadFileInfo(Fixture("flac/truncated.flac")));
  EXPECT_EQ(f.TotalSamples, 40518u);  // STREAMINFO still says so
  TFileByteSource cut(Fixture("flac/truncated.flac"));
  EXPECT_EQ(FLACEndSample(cut, f.AudioOffset, f.MaxBlockSize), -1);

  // One flipped byte inside the last frame breaks its CRC-16.
  Bytes bytes = ReadAll(Fixture("flac/tone44_16_2.flac"));
  bytes[bytes.size() - 20] ^= 0x5A;
  TMemoryByteSource damaged(bytes);
  ASSERT_TRUE(f.ReadFileInfo(bytes));
  EXPECT_NE(FLACEndSample(damaged, f.AudioOffset, f.MaxBlockSize), 40518);

  // Bytes after the last frame (a tag appended) hide the end too.
  Bytes tagged = ReadAll(Fixture("flac/tone44_16_2.flac"));
  tagged.insert(tagged.end(), 128, 'T');
  TMemoryByteSource appended(tagged);
  EXPECT_EQ(FLACEndSample(appended, f.AudioOffset, f.MaxBlockSize), -1);
}

TEST(FLACfile, RefusesWhatIsNotFlacAndCutHeaders) {
  TFLACfile f;
  EXPECT_FALSE(f.ReadFileInfo(Fixture("mp3/cbr128.mp3")));
  EXPECT_FALSE(f.Valid);
  EXPECT_FALSE(f.ReadFileInfo(std::string("/nonexistent/file.flac")));
  const Bytes whole = ReadAll(Fixture("flac/tone44_16_2.flac"));
  // Every cut inside the marker and STREAMINFO is refused; later cuts keep
  // STREAMINFO.
  for (size_t n = 0; n < 60; ++n) {
    Bytes cut(whole.begin(), whole.begin() + n);
    EXPECT_EQ(f.ReadFileInfo(cut), n >= 42) << n;
  }
  // A STREAMINFO length field larger than the file.
  Bytes bad = whole;
  bad[5] = 0x7F;
  EXPECT_FALSE(f.ReadFileInfo(bad));
}

}  // namespace
}  // namespace cv
