// Tests of the cue sheet reader: the track ranges it derives from INDEX 01
// points (one file, several files, pregaps), the texts it keeps, and the
// refusals that name the line.
#include "formats/cvCueSheet.h"

#include <gtest/gtest.h>

#include <string>

namespace cv {
namespace {

TCueSheet Parse(const std::string& text) {
  TCueSheet sheet;
  TListError error;
  EXPECT_TRUE(ParseCueSheet(text, "album.cue", sheet, error)) << error.Text();
  return sheet;
}

TListError Refuse(const std::string& text) {
  TCueSheet sheet;
  TListError error;
  EXPECT_FALSE(ParseCueSheet(text, "album.cue", sheet, error)) << text;
  EXPECT_TRUE(sheet.Tracks.empty());
  EXPECT_EQ(error.File, "album.cue");
  return error;
}

TEST(CueSheet, OneFileSplitsAtIndex01IntoSampleRanges) {
  const TCueSheet sheet = Parse(
      "\xEF\xBB\xBFREM GENRE Rock\r\n"
      "PERFORMER \"The Band\"\r\n"
      "TITLE \"First Album\"\r\n"
      "FILE \"album.flac\" WAVE\r\n"
      "  TRACK 01 AUDIO\r\n"
      "    TITLE \"Opening\"\r\n"
      "    INDEX 01 00:00:00\r\n"
      "  TRACK 02 AUDIO\r\n"
      "    TITLE \"Middle\"\r\n"
      "    PERFORMER \"Guest\"\r\n"
      "    INDEX 00 00:05:10\r\n"
      "    INDEX 01 00:07:00\r\n"
      "  TRACK 03 AUDIO\r\n"
      "    INDEX 01 01:00:74\r\n");
  EXPECT_EQ(sheet.Title, "First Album");
  EXPECT_EQ(sheet.Performer, "The Band");
  ASSERT_EQ(sheet.Files.size(), 1u);
  EXPECT_EQ(sheet.Files[0].Name, "album.flac");
  EXPECT_EQ(sheet.Files[0].Type, "WAVE");
  ASSERT_EQ(sheet.Tracks.size(), 3u);
  EXPECT_EQ(sheet.Tracks[0].StartSample, 0);
  // The pregap (INDEX 00) stays with the track before.
  EXPECT_EQ(sheet.Tracks[0].EndSample, 7 * 75 * 588);
  EXPECT_EQ(sheet.Tracks[1].StartSample, 7 * 75 * 588);
  EXPECT_EQ(sheet.Tracks[1].EndSample, (60 * 75 + 74) * 588);
  EXPECT_EQ(sheet.Tracks[2].StartSample, (60 * 75 + 74) * 588);
  EXPECT_EQ(sheet.Tracks[2].EndSample, -1);  // to the end of the file
  EXPECT_EQ(sheet.Tracks[1].Title, "Middle");
  EXPECT_EQ(sheet.Tracks[1].Performer, "Guest");
  EXPECT_EQ(sheet.Tracks[2].Title, "");
  EXPECT_EQ(sheet.Tracks[0].Number, 1);
  EXPECT_EQ(sheet.Tracks[2].Number, 3);
  EXPECT_EQ(sheet.Tracks[1].Line, 8);
  EXPECT_EQ(sheet.Tracks[1].StartLine, 12);
}

TEST(CueSheet, SeveralFilesEachTrackEndsWithItsFile) {
  // Gaps appended to the previous file (track 2's INDEX 00 in file one),
  // then a file whose track starts after a pregap.
  const TCueSheet sheet = Parse(
      "FILE \"01.wav\" WAVE\n"
      "TRACK 01 AUDIO\n"
      "INDEX 01 00:00:00\n"
      "TRACK 02 AUDIO\n"
      "INDEX 00 03:00:00\n"
      "FILE \"02.mp3\" MP3\n"
      "INDEX 01 00:00:00\n"
      "TRACK 03 AUDIO\n"
      "INDEX 01 02:00:00\n"
      "FILE \"03.wav\" WAVE\n"
      "TRACK 04 AUDIO\n"
      "INDEX 00 00:00:00\n"
      "INDEX 01 00:02:00\n");
  ASSERT_EQ(sheet.Files.size(), 3u);
  ASSERT_EQ(sheet.Tracks.size(), 4u);
  EXPECT_EQ(sheet.Tracks[0].File, 0u);
  EXPECT_EQ(sheet.Tracks[0].EndSample, -1);
  EXPECT_EQ(sheet.Tracks[1].File, 1u);
  EXPECT_EQ(sheet.Tracks[1].StartSample, 0);
  EXPECT_EQ(sheet.Tracks[1].EndSample, 2 * 60 * 75 * 588);
  EXPECT_EQ(sheet.Tracks[2].File, 1u);
  EXPECT_EQ(sheet.Tracks[2].EndSample, -1);
  EXPECT_EQ(sheet.Tracks[3].File, 2u);
  EXPECT_EQ(sheet.Tracks[3].StartSample, 2 * 75 * 588);
  EXPECT_EQ(sheet.Files[1].Type, "MP3");
}

TEST(CueSheet, LenientSpellings) {
  // Lower-case commands, an unquoted name with blanks, no file type, a
  // Latin-1 title, extra commands that do not matter for burning.
  const TCueSheet sheet = Parse(
      "catalog 0000000000000\n"
      "file my album.wav wave\n"
      "  track 1 audio\n"
      "    flags DCP\n"
      "    isrc ABCDE1234567\n"
      "    title Caf\xE9\n"
      "    pregap 00:02:00\n"
      "    index 1 0:00:00\n"
      "FILE plain.wav\n"
      "  TRACK 2 AUDIO\n"
      "    INDEX 01 100:00:00\n");
  ASSERT_EQ(sheet.Tracks.size(), 2u);
  EXPECT_EQ(sheet.Files[0].Name, "my album.wav");
  EXPECT_EQ(sheet.Files[0].Type, "WAVE");
  EXPECT_EQ(sheet.Files[1].Type, "");
  EXPECT_EQ(sheet.Tracks[0].Title, "Caf\xC3\xA9");
  EXPECT_EQ(sheet.Tracks[1].StartSample, 100LL * 60 * 75 * 588);
}

TEST(CueSheet, BadSheetsNameTheLine) {
  struct Case {
    const char* Text;
    int Line;
    const char* Words;
  };
  const Case cases[] = {
      {"TRACK 01 AUDIO\nINDEX 01 00:00:00\n", 1, "before any FILE"},
      {"FILE a.wav WAVE\nTRACK 01 MODE1/2352\n", 2, "data track"},
      {"FILE a.bin BINARY\n", 1, "raw CD data"},
      {"FILE a.wav WAVE\nTRACK 100 AUDIO\n", 2, "1 to 99"},
      {"FILE a.wav WAVE\nTRACK 01\n", 2, "no type"},
      {"FILE a.wav WAVE\nTRACK 02 AUDIO\nINDEX 01 00:00:00\nTRACK 01 AUDIO\n", 4, "must rise"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n", 3, "mm:ss:ff"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n", 3, "mm:ss:ff"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 0000000:00:00\n", 3, "mm:ss:ff"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 1:2\n", 3, "mm:ss:ff"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 -1:00:00\n", 3, "mm:ss:ff"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 01 00:01:00\n", 4, "must rise"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n", 2,
       "no INDEX 01"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n", 4, "no INDEX 01"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n", 5, "before"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:05:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n", 5, "empty"},
      {"FILE a.wav WAVE\nINDEX 01 00:00:00\n", 2, "outside a track"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE b.wav WAVE\n", 4, "no track starts"},
      {"FILE \"a.wav WAVE\n", 1, "closing quote"},
      {"FILE \"\" WAVE\n", 1, "empty file name"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nHELLO world\n", 4, "unknown command"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTITLE\n", 4, "without a text"},
      {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPREGAP 2s\n", 4, "mm:ss:ff"},
      {"REM nothing\n", 0, "no FILE"},
      {"FILE a.wav WAVE\n", 0, "no TRACK"},
      {"", 0, "no FILE"},
  };
  for (const Case& c : cases) {
    const TListError error = Refuse(c.Text);
    EXPECT_EQ(error.Line, c.Line) << c.Text << " -> " << error.Text();
    EXPECT_NE(error.Message.find(c.Words), std::string::npos) << c.Text << " -> " << error.Text();
  }
}

TEST(CueSheet, BinaryFileIsNotText) {
  const std::string text("FILE a.wav WAVE\nTRACK 01 AUDIO\nline\0with a NUL\n", 47);
  const TListError error = Refuse(text);
  EXPECT_EQ(error.Line, 3);
  EXPECT_NE(error.Message.find("NUL"), std::string::npos) << error.Text();
}

TEST(CueSheet, ErrorTextNamesFileAndLine) {
  const TListError error = Refuse("FILE a.wav WAVE\nTRACK 01 DATA\n");
  EXPECT_EQ(error.Text().rfind("album.cue line 2: ", 0), 0u) << error.Text();
  EXPECT_EQ((TListError{"x.cue", 0, "bad"}).Text(), "x.cue: bad");
}

TEST(CueSheet, HostileLinesAreRefusedNotRead) {
  std::string longLine = "FILE \"" + std::string(kMaxListLineBytes, 'a') + "\" WAVE\n";
  EXPECT_NE(Refuse(longLine).Message.find("too long"), std::string::npos);
  // Many short tracks: bounded by the track numbers.
  std::string many = "FILE a.wav WAVE\n";
  for (int i = 1; i <= 99; ++i)
    many += "TRACK " + std::to_string(i) + " AUDIO\nINDEX 01 " + std::to_string(i) + ":00:00\n";
  EXPECT_EQ(Parse(many).Tracks.size(), 99u);
}

}  // namespace
}  // namespace cv
