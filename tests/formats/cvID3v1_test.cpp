#include "formats/cvID3v1.h"

#include <gtest/gtest.h>

#include <set>

#include "mp3_test_util.h"

using namespace cvtest;
using cv::TID3v1;

namespace {

Bytes WithTag(const Bytes& tag, std::size_t before = 1000) {
  Bytes file(before + tag.size(), 0x55);
  std::copy(tag.begin(), tag.end(), file.begin() + static_cast<std::ptrdiff_t>(before));
  return file;
}

}  // namespace

TEST(ID3v1Tag, ShortFileFails) {
  TID3v1 tag;
  EXPECT_FALSE(tag.ReadTag(Bytes(127, 0)));
  EXPECT_FALSE(tag.Present);
  EXPECT_EQ(tag.Genre, 255);
  EXPECT_FALSE(tag.ReadTag(FixturePath("missing.mp3")));
}

TEST(ID3v1Tag, FileThatIsOnlyATag) {
  TID3v1 tag;
  EXPECT_TRUE(tag.ReadTag(ID3v1Tag("Whole", 0, 3, 17)));
  EXPECT_TRUE(tag.Present);
  EXPECT_EQ(tag.Title, "Whole");
  EXPECT_EQ(tag.Track, 3);
  EXPECT_EQ(tag.Genre, 17);
}

TEST(ID3v1Tag, VersionByTheTrackBytes) {
  struct Case {
    std::uint8_t b125, b126;
    int version;
    int track;
    std::size_t commentLength;
  } cases[] = {
      {0, 7, 2, 7, 28},
      {0, 0, 1, 0, 30},
      {0x20, 0, 2, 0, 28},
      {0x20, 0x20, 1, 0, 30},
  };
  for (const auto& c : cases) {
    Bytes tag = ID3v1Tag("T", c.b125, c.b126);
    // A comment of 30 non-space characters where the bytes allow.
    for (int i = 97; i < 125; ++i) tag[static_cast<std::size_t>(i)] = 'c';
    TID3v1 reader;
    ASSERT_TRUE(reader.ReadTag(WithTag(tag)));
    EXPECT_EQ(reader.TagVersion, c.version) << int(c.b125) << "/" << int(c.b126);
    EXPECT_EQ(reader.Track, c.track);
    // In ID3v1 the 30-byte comment's trailing bytes 125/126 are trimmed when
    // they are zeros or spaces; 28 'c' remain in every case here.
    EXPECT_EQ(reader.Comment, std::string(28, 'c'));
  }
  // An ID3v1 comment uses all 30 bytes.
  Bytes tag = ID3v1Tag("T", 'y', 'z');
  for (int i = 97; i < 125; ++i) tag[static_cast<std::size_t>(i)] = 'c';
  TID3v1 reader;
  reader.ReadTag(WithTag(tag));
  EXPECT_EQ(reader.TagVersion, 1);
  EXPECT_EQ(reader.Comment, std::string(28, 'c') + "yz");
  EXPECT_EQ(reader.Track, 0);
}

TEST(ID3v1Tag, FieldsTrimmedAtTheEndOnly) {
  Bytes tag = ID3v1Tag("");
  const std::string title = "  Two  words\t";  // leading spaces stay
  std::copy(title.begin(), title.end(), tag.begin() + 3);
  for (int i = 3 + static_cast<int>(title.size()); i < 33; ++i) tag[static_cast<std::size_t>(i)] = ' ';
  const std::string artist = std::string("A\0B", 3);  // zero inside stays
  std::copy(artist.begin(), artist.end(), tag.begin() + 33);
  std::copy_n("Album", 5, tag.begin() + 63);
  std::copy_n("1984", 4, tag.begin() + 93);
  TID3v1 reader;
  reader.ReadTag(WithTag(tag));
  EXPECT_EQ(reader.Title, "  Two  words");
  EXPECT_EQ(reader.Artist, artist);
  EXPECT_EQ(reader.Album, "Album");
  EXPECT_EQ(reader.Year, "1984");
}

TEST(ID3v1Tag, MarkIsCaseSensitive) {
  Bytes tag = ID3v1Tag("x");
  tag[0] = 't';
  tag[1] = 'a';
  tag[2] = 'g';
  TID3v1 reader;
  EXPECT_TRUE(reader.ReadTag(WithTag(tag)));
  EXPECT_FALSE(reader.Present);
  EXPECT_EQ(reader.Title, "");
  EXPECT_EQ(reader.Genre, 255);
}

TEST(ID3v1Tag, TextEncodings) {
  TID3v1 reader;
  // ISO-8859-1 bytes become UTF-8.
  reader.ReadTag(WithTag(ID3v1Tag("Caf\xE9 M\xFCller")));
  EXPECT_EQ(reader.Title, "Café Müller");
  // Bytes that already are UTF-8 are kept.
  reader.ReadTag(WithTag(ID3v1Tag("Caf\xC3\xA9")));
  EXPECT_EQ(reader.Title, "Café");
  // A UTF-8 text cut inside its last character by the field width.
  std::string cut = std::string(27, 'a') + "\xC3\xA9\xE2\x82";  // 31 bytes: field holds 30
  reader.ReadTag(WithTag(ID3v1Tag(cut)));
  EXPECT_EQ(reader.Title, std::string(27, 'a') + "é");
  // Blanks before a cut-off character go with it.
  cut = "\xC3\xA9 t" + std::string(3, '\0') + "\xC3";
  reader.ReadTag(WithTag(ID3v1Tag(cut)));
  EXPECT_EQ(reader.Title, "é t");
}

TEST(ID3v1Genres, TableAndNames) {
  EXPECT_EQ(cv::ID3v1Genres.size(), 148u);
  EXPECT_EQ(cv::ID3v1GenreName(0), "Blues");
  EXPECT_EQ(cv::ID3v1GenreName(40), "AlternRock");
  EXPECT_EQ(cv::ID3v1GenreName(67), "Psychadelic");
  EXPECT_EQ(cv::ID3v1GenreName(79), "Hard Rock");
  EXPECT_EQ(cv::ID3v1GenreName(80), "Folk");
  EXPECT_EQ(cv::ID3v1GenreName(85), "Bebob");
  EXPECT_EQ(cv::ID3v1GenreName(92), "Progessive Rock");
  EXPECT_EQ(cv::ID3v1GenreName(123), "A capella");
  EXPECT_EQ(cv::ID3v1GenreName(132), "BritPop");
  EXPECT_EQ(cv::ID3v1GenreName(146), "JPop");
  EXPECT_EQ(cv::ID3v1GenreName(147), "Synthpop");
  EXPECT_EQ(cv::ID3v1GenreName(148), "");
  EXPECT_EQ(cv::ID3v1GenreName(255), "");
  std::set<std::string_view> unique(cv::ID3v1Genres.begin(), cv::ID3v1Genres.end());
  EXPECT_EQ(unique.size(), 148u);
  for (auto name : cv::ID3v1Genres) EXPECT_FALSE(name.empty());
}

TEST(ID3v1Fixtures, LameTag) {
  TID3v1 tag;
  ASSERT_TRUE(tag.ReadTag(FixturePath("id3v1.mp3")));
  EXPECT_TRUE(tag.Present);
  EXPECT_EQ(tag.TagVersion, 2);
  EXPECT_EQ(tag.Title, "Tone Title");
  EXPECT_EQ(tag.Artist, "Tone Artist");
  EXPECT_EQ(tag.Album, "Tone Album");
  EXPECT_EQ(tag.Year, "2024");
  EXPECT_EQ(tag.Comment, "A comment");
  EXPECT_EQ(tag.Track, 7);
  EXPECT_EQ(cv::ID3v1GenreName(tag.Genre), "Jazz");
}

TEST(ID3v1Fixtures, FfmpegWritesUtf8) {
  TID3v1 tag;
  ASSERT_TRUE(tag.ReadTag(FixturePath("id3v23.mp3")));
  EXPECT_TRUE(tag.Present);
  EXPECT_EQ(tag.Title, "Grüße – Ωmega ☃ 𝄞");
  EXPECT_EQ(tag.Comment, "Comment three");
  EXPECT_EQ(tag.Track, 5);
  EXPECT_EQ(cv::ID3v1GenreName(tag.Genre), "Ambient");
}
