// TVorbisComment over hand-built comment blocks: names in any case, the
// first entry of a name, fallbacks, and lengths that lie.
#include "formats/cvVorbisComment.h"

#include <gtest/gtest.h>

#include "reader_test_util.h"

namespace cv {
namespace {

using testing::Bytes;
using testing::Put32;
using testing::PutText;

Bytes Block(const std::string& vendor, std::initializer_list<std::string> entries) {
  Bytes b;
  Put32(b, uint32_t(vendor.size()));
  PutText(b, vendor);
  Put32(b, uint32_t(entries.size()));
  for (const auto& e : entries) {
    Put32(b, uint32_t(e.size()));
    PutText(b, e);
  }
  return b;
}

TEST(VorbisComment, NamesAnyCaseFirstEntryAndFallbacks) {
  TVorbisComment c;
  ASSERT_TRUE(c.Parse(Block("enc 1.0", {"title= One ", "TITLE=Two", "Performer=P", "album=A", "TrackNumber=04/10",
                                        "description=D", "noequals", "GENRE=G", "DATE=1999"})));
  EXPECT_EQ(c.Vendor, "enc 1.0");
  EXPECT_EQ(c.Title, "One");
  EXPECT_EQ(c.Artist, "P");  // no ARTIST: the performer
  EXPECT_EQ(c.Album, "A");
  EXPECT_EQ(c.Track, 4);
  EXPECT_EQ(c.Comment, "D");
  EXPECT_EQ(c.Genre, "G");
  EXPECT_EQ(c.Date, "1999");
  ASSERT_TRUE(c.Parse(Block("", {"ARTIST=Real", "PERFORMER=P", "TRACKNUMBER=x", "COMMENT=C", "DESCRIPTION=D"})));
  EXPECT_EQ(c.Artist, "Real");
  EXPECT_EQ(c.Track, 0);
  EXPECT_EQ(c.Comment, "C");
  ASSERT_TRUE(c.Parse(Block("", {"Album Artist=AA", "ALBUMARTIST=BB", "composer=Co", "ISRC=us-abc-25-00001"})));
  EXPECT_EQ(c.AlbumArtist, "AA");
  EXPECT_EQ(c.Composer, "Co");
  EXPECT_EQ(c.Isrc, "us-abc-25-00001");  // as tagged; callers compact it
  // Invalid UTF-8 ends a value; what came before it stays.
  ASSERT_TRUE(c.Parse(Block("", {std::string("TITLE=ab\xC3(cd")})));
  EXPECT_EQ(c.Title, "ab");
}

TEST(VorbisComment, LengthsBeyondTheBlockEndTheWalk) {
  TVorbisComment c;
  Bytes b = Block("v", {"TITLE=T", "ALBUM=A"});
  Bytes cut(b.begin(), b.end() - 3);  // the second entry cut short
  ASSERT_TRUE(c.Parse(cut));
  EXPECT_EQ(c.Title, "T");
  EXPECT_EQ(c.Album, "");
  Bytes hostile;
  Put32(hostile, 0xFFFFFFFF);
  EXPECT_FALSE(c.Parse(hostile));
  Bytes many = Block("v", {});
  many[5] = many[6] = many[7] = many[8] = 0xFF;  // 4 billion entries, none there
  ASSERT_TRUE(c.Parse(many));
  EXPECT_EQ(c.Title, "");
  EXPECT_FALSE(c.Parse({}));
}

}  // namespace
}  // namespace cv
