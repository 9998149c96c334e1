// Tests of the Ogg Vorbis header reader on oggenc output and on streams built
// here for the comment walk and last-page search edge cases.
#include "formats/cvOggVorbis.h"

#include <gtest/gtest.h>

#include "device/cvIOError.h"
#include "tests/formats/reader_test_util.h"

namespace cv {
namespace {

using namespace cv::testing;

Bytes Page(uint64_t granule, const Bytes& body, uint8_t flags = 0) {
  Bytes b;
  PutText(b, "OggS");
  Put8(b, 0);
  Put8(b, flags);
  Put64(b, granule);
  Put32(b, 0x1234);  // serial
  Put32(b, 0);       // sequence
  Put32(b, 0);       // CRC, not checked
  size_t left = body.size();
  Bytes lacing;
  do {
    const uint8_t n = static_cast<uint8_t>(std::min<size_t>(left, 255));
    lacing.push_back(n);
    left -= n;
  } while (left > 0 || lacing.back() == 255);
  Put8(b, static_cast<uint8_t>(lacing.size()));
  PutBytes(b, lacing);
  PutBytes(b, body);
  return b;
}

Bytes Identification(uint8_t channels, uint32_t rate, int32_t nominal) {
  Bytes b;
  Put8(b, 1);
  PutText(b, "vorbis");
  Put32(b, 0);
  Put8(b, channels);
  Put32(b, rate);
  Put32(b, 0);
  Put32(b, static_cast<uint32_t>(nominal));
  Put32(b, 0);
  Put8(b, 0xB8);
  Put8(b, 1);
  return b;
}

Bytes Comments(const std::string& vendor, const std::vector<std::string>& comments,
               std::optional<uint32_t> count = std::nullopt) {
  Bytes b;
  Put8(b, 3);
  PutText(b, "vorbis");
  Put32(b, static_cast<uint32_t>(vendor.size()));
  PutText(b, vendor);
  Put32(b, count.value_or(static_cast<uint32_t>(comments.size())));
  for (const auto& c : comments) {
    Put32(b, static_cast<uint32_t>(c.size()));
    PutText(b, c);
  }
  Put8(b, 1);
  return b;
}

// First page, comment page, some audio and a last page with the granule.
Bytes Stream(const Bytes& comments, uint64_t finalGranule, uint8_t channels = 2, uint32_t rate = 44100,
             int32_t nominal = 128000, size_t audioBytes = 4000) {
  Bytes b = Page(0, Identification(channels, rate, nominal), 0x02);
  PutBytes(b, Page(0, comments));
  PutBytes(b, Page(finalGranule / 2, Bytes(audioBytes, 0x55)));
  PutBytes(b, Page(finalGranule, Bytes(200, 0x66), 0x04));
  return b;
}

TEST(OGGFileFixtures, TaggedStereoFile) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Fixture("ogg/tagged_stereo_44k.ogg")));
  ASSERT_TRUE(o.IsValid());
  EXPECT_EQ(o.ChannelCount, 2);
  EXPECT_EQ(o.SampleRate, 44100u);
  EXPECT_EQ(o.Samples, 88200);  // two seconds
  EXPECT_EQ(o.ID3v2Size, 0);
  // x = 2 s: Ceil(150 + Ceil(2 / 13.333)) = 151.
  EXPECT_EQ(o.DurationSectors(), 151);
  EXPECT_EQ(o.Title, "Tone \xF0\x9F\x8E\xB5 Ünïcode");  // a four-byte sequence intact
  EXPECT_EQ(o.Artist, "Corvid Test");
  EXPECT_EQ(o.Album, "Fixture Album");
  EXPECT_EQ(o.Track, 3);  // "3/12"
  EXPECT_EQ(o.Date, "2024");
  EXPECT_EQ(o.Genre, "Test Genre");
  EXPECT_EQ(o.Comment, "two sines");
  EXPECT_EQ(o.Vendor.rfind("Xiph.Org libVorbis", 0), 0u);
  EXPECT_GT(o.BitRateNominal, 0);
}

TEST(OGGFileFixtures, ID3v2TagInFrontIsSkipped) {
  TOGGFile plain, tagged;
  ASSERT_TRUE(plain.ReadFileInfo(Fixture("ogg/tagged_stereo_44k.ogg")));
  ASSERT_TRUE(tagged.ReadFileInfo(Fixture("ogg/id3v2_front.ogg")));
  ASSERT_TRUE(tagged.IsValid());
  EXPECT_EQ(tagged.ID3v2Size, 1034);
  EXPECT_EQ(tagged.FileSize, plain.FileSize + 1034);
  EXPECT_EQ(tagged.Title, plain.Title);
  EXPECT_EQ(tagged.Samples, plain.Samples);
  EXPECT_EQ(tagged.DurationSectors(), plain.DurationSectors());
  EXPECT_EQ(tagged.BitRate(), plain.BitRate());
}

TEST(OGGFileFixtures, PerformerAndDescriptionStandIn) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Fixture("ogg/mono_22k.ogg")));
  ASSERT_TRUE(o.IsValid());
  EXPECT_EQ(o.ChannelCount, 1);
  EXPECT_EQ(o.SampleRate, 22050u);
  EXPECT_EQ(o.Artist, "The Performer");
  EXPECT_EQ(o.Comment, "described");
  // x = 1.5 s: Ceil(112.5 + 1) = 114.
  EXPECT_EQ(o.DurationSectors(), 114);
}

TEST(OGGFileFixtures, LowBitRateFileIsValid) {
  // Well under 37 kbit/s: the bit rate is bytes per second of playing time.
  const std::string path = Fixture("ogg/low_rate_8k.ogg");
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(path));
  EXPECT_EQ(o.SampleRate, 8000u);
  EXPECT_EQ(o.Samples, 16000);
  EXPECT_EQ(o.DurationSectors(), 151);
  const double kbps = static_cast<double>(ReadAll(path).size()) * 8 / 1000 / (151.0 / 75);
  EXPECT_NEAR(o.BitRate(), kbps, 0.5);
  EXPECT_LT(o.BitRate(), 37);
  EXPECT_TRUE(o.IsValid());
}

TEST(OGGFileFixtures, SampleRateAbove65535IsKept) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Fixture("ogg/hires_96k.ogg")));
  ASSERT_TRUE(o.IsValid());
  EXPECT_EQ(o.SampleRate, 96000u);
  EXPECT_EQ(o.Samples, 96000);
  EXPECT_EQ(o.DurationSectors(), 76);  // x = 1 s: Ceil(75 + Ceil(1 / 13.333))
}

TEST(OGGFileFixtures, OtherFormatsAreNotRecognised) {
  for (const char* f : {"wav/pcm16_stereo_44k.wav", "wma/v2_stereo_44k.wma"}) {
    SCOPED_TRACE(f);
    TOGGFile o;
    EXPECT_FALSE(o.ReadFileInfo(Fixture(f)));
    EXPECT_FALSE(o.IsValid());
    EXPECT_EQ(o.FileSize, 0);
  }
}

TEST(OGGFileOpen, UnopenableFileRaisesTheIOError) {
  TOGGFile o;
  try {
    o.ReadFileInfo("/nonexistent/corvid/file.ogg");
    FAIL() << "no exception";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode, ENOENT);
    EXPECT_EQ(std::string(e.what()), "I/O error " + std::to_string(ENOENT));
  }
}

TEST(OGGFileComments, OverLongCommentKeeps250BytesAndTheNextIsRead) {
  const std::string longTitle = "TITLE=" + std::string(400, 'x');
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("vendor", {longTitle, "ARTIST=After"}), 441000)));
  EXPECT_EQ(o.Title, std::string(250 - 6, 'x'));
  EXPECT_EQ(o.Artist, "After");
}

TEST(OGGFileComments, CountLargerThanTheFileStopsAtTheEnd) {
  for (uint32_t count : {3u, 1000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(count);
    TOGGFile o;
    ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("vendor", {"TITLE=t", "ALBUM=a"}, count), 441000)));
    if (count != 0xFFFFFFFFu) {  // a negative count reads no comment
      EXPECT_EQ(o.Title, "t");
      EXPECT_EQ(o.Album, "a");
    } else {
      EXPECT_EQ(o.Title, "");
    }
    EXPECT_EQ(o.Vendor, "vendor");
    EXPECT_TRUE(o.IsValid());
  }
}

TEST(OGGFileComments, CommentLengthBeyondTheFileEndsTheWalk) {
  Bytes c;
  Put8(c, 3);
  PutText(c, "vorbis");
  Put32(c, 6);
  PutText(c, "vendor");
  Put32(c, 2);
  Put32(c, 0xFFFFFFF0u);  // claims four gigabytes
  PutText(c, "TITLE=cut");
  Bytes file = Page(0, Identification(2, 44100, 128000), 0x02);
  PutBytes(file, Page(0, c));
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(file));
  EXPECT_EQ(o.Title, "");  // the read of the text was short
  EXPECT_EQ(o.Vendor, "vendor");
}

TEST(OGGFileComments, MissingSignatureLeavesTagsEmpty) {
  Bytes notComments = Comments("vendor", {"TITLE=t"});
  notComments[0] = 5;
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Stream(notComments, 441000)));
  EXPECT_TRUE(o.IsValid());
  EXPECT_EQ(o.Title, "");
  EXPECT_EQ(o.Vendor, "");
}

TEST(OGGFileComments, NamesIgnoreCaseAndLaterEntriesReplace) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(
      Stream(Comments("v", {"title=one", "Title=two", "genre=  padded  ", "noequals", "ARTIST="}), 441000)));
  EXPECT_EQ(o.Title, "two");
  EXPECT_EQ(o.Genre, "padded");
  EXPECT_EQ(o.Vendor, "v");  // an entry without "=" does not replace the vendor
  EXPECT_EQ(o.Artist, "");
}

TEST(OGGFileComments, TrackNumbers) {
  struct Case {
    std::string text;
    uint16_t track;
  };
  for (const Case& c : {Case{"3/12", 3}, Case{"300", 44}, Case{"7", 7}, Case{"x", 0}, Case{"", 0},
                        Case{"99999999999", 0}}) {
    SCOPED_TRACE(c.text);
    TOGGFile o;
    ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("v", {"TRACKNUMBER=" + c.text}), 441000)));
    EXPECT_EQ(o.Track, c.track);
  }
}

TEST(OGGFileComments, Utf8DecodingKeepsTheValidPrefix) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("v", {"TITLE=ok\xC3\xA9\xF0\x9F\x8E\xB5", "ARTIST=ab\xC3(cd",
                                                   "ALBUM=x\xE2\x82", "GENRE=\xC0\xAFslash"}),
                                    441000)));
  EXPECT_EQ(o.Title, "ok\xC3\xA9\xF0\x9F\x8E\xB5");
  EXPECT_EQ(o.Artist, "ab");   // bad continuation byte
  EXPECT_EQ(o.Album, "x");     // sequence cut by the end
  EXPECT_EQ(o.Genre, "");      // overlong form
}

TEST(OGGFileDuration, TenSecondsOfSamples) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("v", {}), 441000)));
  EXPECT_EQ(o.Samples, 441000);
  EXPECT_EQ(o.DurationSectors(), 751);  // Ceil(750 + Ceil(10 / 13.333))
}

TEST(OGGFileDuration, NoPageInTheLast12KBUsesTheNominalBitRate) {
  Bytes file = Page(0, Identification(2, 44100, 128000), 0x02);
  PutBytes(file, Page(0, Comments("v", {})));
  file.resize(200000, 0);  // no "OggS" in the tail
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(file));
  EXPECT_EQ(o.Samples, 0);
  EXPECT_EQ(o.BitRateNominal, 128);
  // x = Ceil(200000 / 128 / 2 / 125 x 2) = Ceil(12.5) = 13 s;
  // Ceil(13 x 75 + Ceil(13 / 13.333)) = 975 + 1.
  EXPECT_EQ(o.DurationSectors(), 976);
  EXPECT_TRUE(o.IsValid());
}

TEST(OGGFileDuration, LastPageOfAShortFileIsFound) {
  // Shorter than one search window.
  Bytes file = Page(0, Identification(1, 8000, 16000), 0x02);
  PutBytes(file, Page(0, Comments("v", {})));
  PutBytes(file, Page(8000, Bytes(30, 0x77), 0x04));
  ASSERT_LT(file.size(), 251u);
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(file));
  EXPECT_EQ(o.Samples, 8000);
  EXPECT_EQ(o.DurationSectors(), 76);
}

TEST(OGGFileDuration, SearchRangeEndsAbout12KBBeforeTheEnd) {
  // The windows at file size - i x 241 - 10 (i = 1 .. 50) cover the pages
  // that begin at least 10 and at most 12060 bytes before the end.
  for (size_t trailing : {2048u, 2049u}) {
    SCOPED_TRACE(trailing);
    Bytes file = Page(0, Identification(2, 44100, 128000), 0x02);
    PutBytes(file, Page(0, Comments("v", {})));
    PutBytes(file, Bytes(30000, 0));
    const Bytes last = Page(44100, Bytes(255 * 39, 0x11), 0x04);
    PutBytes(file, last);
    PutBytes(file, Bytes(trailing, 0));  // junk without a page
    ASSERT_EQ(last.size() + trailing, trailing == 2048u ? 12060u : 12061u);
    TOGGFile o;
    ASSERT_TRUE(o.ReadFileInfo(file));
    EXPECT_EQ(o.Samples, trailing == 2048u ? 44100 : 0);
  }
}

TEST(OGGFileHeader, NominalBitRateRounding) {
  struct Case {
    int32_t nominal;
    uint16_t kbps;
  };
  // Halves round to the even neighbour.
  for (const Case& c : {Case{128000, 128}, Case{128499, 128}, Case{128500, 128}, Case{129500, 130},
                        Case{500, 0}, Case{1500, 2}, Case{-1, 0}, Case{-128000, 0}}) {
    SCOPED_TRACE(c.nominal);
    TOGGFile o;
    ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("v", {}), 441000, 2, 44100, c.nominal)));
    EXPECT_EQ(o.BitRateNominal, c.kbps);
  }
}

TEST(OGGFileHeader, ValidityNeedsChannelsRateAndDuration) {
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("v", {}), 441000, 6)));
  EXPECT_FALSE(o.IsValid());
  ASSERT_TRUE(o.ReadFileInfo(Stream(Comments("v", {}), 441000, 2, 0)));
  EXPECT_FALSE(o.IsValid());
  EXPECT_EQ(o.DurationSectors(), 0);
  // No granule and no nominal rate: no duration.
  Bytes file = Page(0, Identification(2, 44100, 0), 0x02);
  PutBytes(file, Page(0, Comments("v", {})));
  ASSERT_TRUE(o.ReadFileInfo(file));
  EXPECT_EQ(o.DurationSectors(), 0);
  EXPECT_FALSE(o.IsValid());
}

TEST(OGGFileHeader, BrokenFirstPages) {
  TOGGFile o;
  Bytes file = Stream(Comments("v", {}), 441000);
  file[0] = 'X';
  EXPECT_FALSE(o.ReadFileInfo(file));
  file = Stream(Comments("v", {}), 441000);
  file[28] = 'V';  // "Vorbis"
  EXPECT_FALSE(o.ReadFileInfo(file));
  EXPECT_FALSE(o.IsValid());
  Bytes tiny = {'O', 'g', 'g', 'S'};
  EXPECT_FALSE(o.ReadFileInfo(tiny));
  EXPECT_FALSE(o.ReadFileInfo(Bytes{}));
}

TEST(OGGFileHeader, ID3v2SizeLargerThanTheFileIsIgnored) {
  Bytes file = {'I', 'D', '3', 3, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
  PutBytes(file, Stream(Comments("v", {}), 441000));
  TOGGFile o;
  EXPECT_FALSE(o.ReadFileInfo(file));  // read from 0, where "ID3" stands
  EXPECT_EQ(o.ID3v2Size, 0);
}

TEST(OGGFileHeader, ID3v2FooterFlagAddsTenBytes) {
  Bytes file = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 20};
  file.resize(10 + 20 + 10, 0);
  PutBytes(file, Stream(Comments("v", {"TITLE=behind"}), 441000));
  TOGGFile o;
  ASSERT_TRUE(o.ReadFileInfo(file));
  EXPECT_EQ(o.ID3v2Size, 40);
  EXPECT_EQ(o.Title, "behind");
}

}  // namespace
}  // namespace cv
