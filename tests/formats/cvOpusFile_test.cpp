// TOpusFile and the Ogg page functions against files made by opusenc
// (tests/fixtures/opus/make_fixtures.sh) and damaged copies of them.
#include "formats/cvOpusFile.h"

#include <gtest/gtest.h>

#include "formats/cvOggPages.h"
#include "reader_test_util.h"

namespace cv {
namespace {

using testing::Bytes;
using testing::Fixture;
using testing::ReadAll;

TEST(OpusFile, HeadTagsAndLastGranuleOfEncoderFiles) {
  struct TCase {
    const char* file;
    uint8_t channels;
    uint32_t inputRate;
    uint64_t samples;  // the encoder's input at 48 kHz (ffprobe's count less the pre-skip)
  };
  for (const TCase& c : {TCase{"opus/tone44_2.opus", 2, 44100, 44104}, TCase{"opus/tone48_1.opus", 1, 48000, 28801},
                         TCase{"opus/tone16_1.opus", 1, 16000, 4800}}) {
    SCOPED_TRACE(c.file);
    TOpusFile f;
    ASSERT_TRUE(f.ReadFileInfo(Fixture(c.file)));
    EXPECT_TRUE(f.Valid);
    EXPECT_EQ(f.ChannelCount, c.channels);
    EXPECT_EQ(f.InputSampleRate, c.inputRate);
    EXPECT_EQ(f.MappingFamily, 0);
    EXPECT_GT(f.PreSkip, 0);
    EXPECT_EQ(f.LastGranule - f.PreSkip, int64_t(f.Samples()));
    EXPECT_EQ(f.Samples(), c.samples);
    EXPECT_EQ(f.DurationSectors(), int32_t((f.Samples() * 75 + 47999) / 48000));
  }
  TOpusFile f;
  ASSERT_TRUE(f.ReadFileInfo(Fixture("opus/tone44_2.opus")));
  EXPECT_EQ(f.Tags.Title, "Opus Title");
  EXPECT_EQ(f.Tags.Artist, "Opus Artist");
  EXPECT_EQ(f.Tags.Album, "Opus Album");
  EXPECT_EQ(f.Tags.Track, 7);
  EXPECT_EQ(f.Tags.Genre, "Test");
}

TEST(OpusFile, VorbisStreamsAndOtherFilesAreNotOpus) {
  TOpusFile f;
  EXPECT_FALSE(f.ReadFileInfo(Fixture("ogg/tagged_stereo_44k.ogg")));
  EXPECT_FALSE(f.ReadFileInfo(Fixture("flac/tone44_16_2.flac")));
  EXPECT_FALSE(f.ReadFileInfo(std::string("/nonexistent.opus")));
  const Bytes whole = ReadAll(Fixture("opus/tone48_1.opus"));
  // The first page is 28 bytes of header and the 19-byte OpusHead packet.
  for (size_t n = 0; n < 47; ++n) {
    Bytes cut(whole.begin(), whole.begin() + n);
    EXPECT_FALSE(f.ReadFileInfo(cut)) << n;
  }
  Bytes head(whole.begin(), whole.begin() + 47);
  EXPECT_TRUE(f.ReadFileInfo(head));
  EXPECT_EQ(f.ChannelCount, 1);
  EXPECT_EQ(f.LastGranule, 0);  // the header page's
  EXPECT_EQ(f.DurationSectors(), 0);
}

TEST(OggPages, WalkTellsWholeStreamsFromCutAndDamagedOnes) {
  {
    TFileByteSource s(Fixture("opus/tone44_2.opus"));
    const TOggWalk w = WalkOggStream(s, 0);
    EXPECT_TRUE(w.Whole);
    TOpusFile f;
    ASSERT_TRUE(f.ReadFileInfo(Fixture("opus/tone44_2.opus")));
    EXPECT_EQ(w.LastGranule, f.LastGranule);
    EXPECT_EQ(w.Serial, f.Serial);
    EXPECT_GE(w.Pages, 3);
  }
  {
    TFileByteSource s(Fixture("opus/truncated.opus"));
    EXPECT_FALSE(WalkOggStream(s, 0).Whole);
  }
  {
    // A flipped byte in a page body breaks that page's CRC.
    Bytes bytes = ReadAll(Fixture("opus/tone44_2.opus"));
    bytes[bytes.size() / 2] ^= 1;
    TMemoryByteSource s(bytes);
    EXPECT_FALSE(WalkOggStream(s, 0).Whole);
  }
  {
    // A chained file has a second first page.
    TFileByteSource s(Fixture("decode/ogg_chained.ogg"));
    EXPECT_FALSE(WalkOggStream(s, 0).Whole);
  }
  {
    TFileByteSource s(Fixture("ogg/id3v2_front.ogg"));
    EXPECT_FALSE(WalkOggStream(s, 0).Whole);  // the tag is not a page
  }
}

}  // namespace
}  // namespace cv
