// Tests of the M3U and PLS readers: entries, titles, URLs, encodings, and
// the refusals that name the line.
#include "formats/cvPlaylist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cv {
namespace {

std::vector<TPlaylistEntry> M3U(const std::string& text, bool utf8 = false) {
  std::vector<TPlaylistEntry> entries;
  TListError error;
  EXPECT_TRUE(ParseM3U(text, utf8, "list.m3u", entries, error)) << error.Text();
  return entries;
}

TListError RefuseM3U(const std::string& text, bool utf8 = false) {
  std::vector<TPlaylistEntry> entries;
  TListError error;
  EXPECT_FALSE(ParseM3U(text, utf8, "list.m3u", entries, error)) << text;
  EXPECT_TRUE(entries.empty());
  return error;
}

std::vector<TPlaylistEntry> PLS(const std::string& text) {
  std::vector<TPlaylistEntry> entries;
  TListError error;
  EXPECT_TRUE(ParsePLS(text, "list.pls", entries, error)) << error.Text();
  return entries;
}

TListError RefusePLS(const std::string& text) {
  std::vector<TPlaylistEntry> entries;
  TListError error;
  EXPECT_FALSE(ParsePLS(text, "list.pls", entries, error)) << text;
  EXPECT_TRUE(entries.empty());
  return error;
}

TEST(M3U, EntriesTitlesAndComments) {
  const auto entries = M3U(
      "#EXTM3U\r\n"
      "#EXTINF:123,The Band - Opening\r\n"
      "01 opening.mp3\r\n"
      "\r\n"
      "# a comment\r\n"
      "/music/abs.wav  \r\n"
      "#EXTINF:-1,Stream title, with comma\n"
      "file:///music/a%20b%C3%A9.flac\n"
      "file://localhost/x.wav\n"
      "sub\\dir\\win.wav\n");
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[0].Location, "01 opening.mp3");
  EXPECT_EQ(entries[0].Title, "The Band - Opening");
  EXPECT_EQ(entries[0].Line, 3);
  EXPECT_EQ(entries[1].Location, "/music/abs.wav");
  EXPECT_EQ(entries[1].Title, "");  // a title belongs to the next entry only
  EXPECT_EQ(entries[1].Line, 6);
  EXPECT_EQ(entries[2].Location, "/music/a b\xC3\xA9.flac");
  EXPECT_EQ(entries[2].Title, "Stream title, with comma");
  EXPECT_EQ(entries[3].Location, "/x.wav");
  EXPECT_EQ(entries[4].Location, "sub\\dir\\win.wav");
}

TEST(M3U, EncodingsOfM3UAndM3U8) {
  // .m3u: an ISO-8859-1 title is read as such; .m3u8 refuses what is not UTF-8.
  const auto latin = M3U("#EXTINF:1,Caf\xE9\nx.wav\n");
  ASSERT_EQ(latin.size(), 1u);
  EXPECT_EQ(latin[0].Title, "Caf\xC3\xA9");
  const auto utf8 = M3U("\xEF\xBB\xBF#EXTINF:1,Caf\xC3\xA9\nd\xC3\xA9j\xC3\xA0.wav\n", true);
  ASSERT_EQ(utf8.size(), 1u);
  EXPECT_EQ(utf8[0].Location, "d\xC3\xA9j\xC3\xA0.wav");
  const TListError bad = RefuseM3U("ok.wav\nCaf\xE9.wav\n", true);
  EXPECT_EQ(bad.Line, 2);
  EXPECT_NE(bad.Message.find("UTF-8"), std::string::npos);
}

TEST(M3U, BadListsNameTheLine) {
  TListError e = RefuseM3U("a.wav\nhttp://radio.example/stream\n");
  EXPECT_EQ(e.Line, 2);
  EXPECT_NE(e.Message.find("not a local file"), std::string::npos) << e.Text();
  e = RefuseM3U("file://otherhost/a.wav\n");
  EXPECT_EQ(e.Line, 1);
  e = RefuseM3U("file:///a%2.wav\n");
  EXPECT_EQ(e.Line, 1);
  e = RefuseM3U("file:///a%00.wav\n");
  EXPECT_EQ(e.Line, 1);
  e = RefuseM3U("#EXTM3U\n#EXTINF:12 no comma\na.wav\n");
  EXPECT_EQ(e.Line, 2);
  EXPECT_NE(e.Message.find("#EXTINF"), std::string::npos);
  e = RefuseM3U("#EXTM3U\n\n# only comments\n");
  EXPECT_EQ(e.Line, 0);
  EXPECT_NE(e.Message.find("no files"), std::string::npos);
  e = RefuseM3U("a.wav\n" + std::string(kMaxListLineBytes + 1, 'x') + "\n");
  EXPECT_EQ(e.Line, 2);
  EXPECT_NE(e.Message.find("too long"), std::string::npos);
  e = RefuseM3U(std::string("a.wav\n\x7F" "ELF\0\0", 11));
  EXPECT_EQ(e.Line, 2);
  EXPECT_EQ(e.Text(), "list.m3u line 2: the line holds a NUL byte: this is not a text file");
}

TEST(PLS, EntriesInNumberOrderWithTitles) {
  const auto entries = PLS(
      "; comment\n"
      "[playlist]\n"
      "NumberOfEntries=3\n"
      "File2=second.mp3\n"
      "Title2=Second\n"
      "file1 = /abs/first.wav\n"
      "Length1=200\n"
      "File10=file:///ten.ogg\n"
      "Version=2\n");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].Location, "/abs/first.wav");
  EXPECT_EQ(entries[0].Line, 6);
  EXPECT_EQ(entries[1].Location, "second.mp3");
  EXPECT_EQ(entries[1].Title, "Second");
  EXPECT_EQ(entries[2].Location, "/ten.ogg");
}

TEST(PLS, BadListsNameTheLine) {
  struct Case {
    std::string Text;
    int Line;
    const char* Words;
  };
  const Case cases[] = {
      {"File1=a.wav\n", 1, "before the [playlist]"},
      {"[playlist]\nFile1=a.wav\nFile1=b.wav\n", 3, "twice"},
      {"[playlist]\nFile1=\n", 2, "names no file"},
      {"[playlist]\nFile0=a.wav\n", 2, "entry number"},
      {"[playlist]\nFile99999999=a.wav\n", 2, "entry number"},
      {"[playlist]\nFile=a.wav\n", 2, "entry number"},
      {"[playlist]\njust words\n", 2, "Key=Value"},
      {"[playlist]\nFile1=https://x/a.mp3\n", 2, "not a local file"},
      {"[other]\nFile1=a.wav\n", 1, "unknown section"},
      {"[playlist]\nFile1=a.wav\n[playlist]\n", 3, "second"},
      {"[playlist]\nNumberOfEntries=0\n", 0, "no files"},
      {"", 0, "no [playlist]"},
  };
  for (const Case& c : cases) {
    const TListError e = RefusePLS(c.Text);
    EXPECT_EQ(e.Line, c.Line) << c.Text << " -> " << e.Text();
    EXPECT_NE(e.Message.find(c.Words), std::string::npos) << c.Text << " -> " << e.Text();
    EXPECT_EQ(e.File, "list.pls");
  }
}

}  // namespace
}  // namespace cv
