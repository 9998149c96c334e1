// Tests of the expansion of playlists and cue sheets into tracks: relative
// paths, lists within lists, the loops and missing files that are refused
// with the list and line named.
#include "formats/cvTrackList.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace cv {
namespace {

namespace fs = std::filesystem;

class TrackList : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cv-tracklist-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = Dir / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::vector<TListTrack> Expand(const std::vector<std::string>& paths) {
    std::vector<TListTrack> tracks;
    TListError error;
    EXPECT_TRUE(ExpandTrackLists(paths, tracks, error)) << error.Text();
    return tracks;
  }
  TListError Refuse(const std::vector<std::string>& paths) {
    std::vector<TListTrack> tracks;
    TListError error;
    EXPECT_FALSE(ExpandTrackLists(paths, tracks, error));
    EXPECT_TRUE(tracks.empty());
    return error;
  }
  std::string P(const std::string& name) const { return (Dir / name).string(); }

  fs::path Dir;
};

TEST_F(TrackList, KindsByEnding) {
  EXPECT_EQ(ListKindOfName("a/b.M3U"), TListKind::M3U);
  EXPECT_EQ(ListKindOfName("b.m3u8"), TListKind::M3U8);
  EXPECT_EQ(ListKindOfName("b.Pls"), TListKind::PLS);
  EXPECT_EQ(ListKindOfName("b.CUE"), TListKind::Cue);
  EXPECT_EQ(ListKindOfName("b.wav"), TListKind::None);
  EXPECT_EQ(ListKindOfName("dir.cue/track"), TListKind::None);
  EXPECT_EQ(ListKindOfName("cue"), TListKind::None);
}

TEST_F(TrackList, AudioFilesPassThroughListsExpandInPlace) {
  Write("music/a.wav", "x");
  Write("music/b.mp3", "x");
  Write("music/album.flac", "x");
  Write("music/album.cue",
        "PERFORMER \"Band\"\nFILE \"album.flac\" WAVE\nTRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:00:00\n"
        "TRACK 02 AUDIO\nTITLE \"Two\"\nINDEX 01 00:10:00\n");
  // Relative to the list's own folder, whatever the current folder.
  Write("lists/mix.m3u8", "#EXTM3U\n#EXTINF:3,Band - A\n../music/a.wav\n../music/album.cue\n" + P("music/b.mp3") + "\n");
  const auto tracks = Expand({P("music/b.mp3"), P("lists/mix.m3u8"), "not/checked.ogg"});
  ASSERT_EQ(tracks.size(), 6u);
  EXPECT_EQ(tracks[0].Path, P("music/b.mp3"));
  EXPECT_EQ(tracks[0].ListFile, "");
  EXPECT_EQ(tracks[1].Path, P("lists/../music/a.wav"));
  EXPECT_EQ(tracks[1].Title, "Band - A");
  EXPECT_EQ(tracks[1].ListFile, P("lists/mix.m3u8"));
  EXPECT_EQ(tracks[1].ListLine, 3);
  EXPECT_FALSE(tracks[1].IsRange());
  EXPECT_EQ(tracks[2].Path, P("lists/../music/album.flac"));
  EXPECT_EQ(tracks[2].CueTrack, 1);
  EXPECT_EQ(tracks[2].Title, "One");
  EXPECT_EQ(tracks[2].Performer, "Band");
  EXPECT_EQ(tracks[2].StartSample, 0);
  EXPECT_EQ(tracks[2].EndSample, 10 * 75 * 588);
  EXPECT_TRUE(tracks[2].IsRange());
  EXPECT_EQ(tracks[3].StartSample, 10 * 75 * 588);
  EXPECT_EQ(tracks[3].EndSample, -1);
  EXPECT_EQ(tracks[3].ListFile, P("lists/../music/album.cue"));
  EXPECT_EQ(tracks[3].ListLine, 8);
  EXPECT_EQ(tracks[4].Path, P("music/b.mp3"));
  EXPECT_EQ(tracks[5].Path, "not/checked.ogg");  // the decoder judges it later
}

TEST_F(TrackList, PlsAndWindowsSeparatorsAndLatin1Names) {
  Write("d/sub/x.wav", "x");
  Write("d/caf\xC3\xA9.wav", "x");
  Write("d/list.pls", "[playlist]\nFile1=sub\\x.wav\nFile2=caf\xE9.wav\nTitle2=Cafe\n");
  const auto tracks = Expand({P("d/list.pls")});
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0].Path, P("d/sub/x.wav"));
  EXPECT_EQ(tracks[1].Path, P("d/caf\xC3\xA9.wav"));
  EXPECT_EQ(tracks[1].Title, "Cafe");
}

TEST_F(TrackList, CueFileUnderAnotherEnding) {
  // A sheet written for the WAV rip, kept beside the FLAC album.
  Write("album.flac", "x");
  Write("album.cue", "FILE \"album.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  const auto tracks = Expand({P("album.cue")});
  ASSERT_EQ(tracks.size(), 1u);
  EXPECT_EQ(tracks[0].Path, P("album.flac"));
}

TEST_F(TrackList, MissingFilesAreNamedWithTheLine) {
  Write("a.wav", "x");
  Write("list.m3u", "a.wav\n\nmissing.mp3\n");
  TListError e = Refuse({P("list.m3u")});
  EXPECT_EQ(e.File, P("list.m3u"));
  EXPECT_EQ(e.Line, 3);
  EXPECT_NE(e.Message.find("\"missing.mp3\" does not exist"), std::string::npos) << e.Text();

  Write("album.cue", "FILE \"gone.flac\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  e = Refuse({P("album.cue")});
  EXPECT_EQ(e.Line, 1);
  EXPECT_NE(e.Message.find("gone.flac"), std::string::npos) << e.Text();

  fs::create_directories(Dir / "folder.wav");
  Write("dir.m3u", "folder.wav\n");
  e = Refuse({P("dir.m3u")});
  EXPECT_NE(e.Message.find("folder"), std::string::npos) << e.Text();

  // A list given directly that is not there.
  e = Refuse({P("nothing.m3u")});
  EXPECT_EQ(e.File, P("nothing.m3u"));
  EXPECT_EQ(e.Line, 0);
}

TEST_F(TrackList, FifoIsRefusedWithoutHanging) {
  ASSERT_EQ(::mkfifo(P("pipe.m3u").c_str(), 0600), 0);
  EXPECT_NE(Refuse({P("pipe.m3u")}).Message.find("not a regular file"), std::string::npos);
  ASSERT_EQ(::mkfifo(P("pipe.wav").c_str(), 0600), 0);
  Write("l.m3u", "pipe.wav\n");
  EXPECT_NE(Refuse({P("l.m3u")}).Message.find("not a regular file"), std::string::npos);
}

TEST_F(TrackList, ListsThatIncludeThemselvesAreRefused) {
  Write("self.m3u", "a.wav\nself.m3u\n");
  Write("a.wav", "x");
  TListError e = Refuse({P("self.m3u")});
  EXPECT_EQ(e.File, P("self.m3u"));
  EXPECT_EQ(e.Line, 2);
  EXPECT_NE(e.Message.find("includes itself"), std::string::npos) << e.Text();

  // A loop through three lists, one of them reached by another spelling.
  Write("one.m3u", "two.pls\n");
  Write("two.pls", "[playlist]\nFile1=sub/../three.m3u8\n");
  Write("three.m3u8", "./one.m3u\n");
  fs::create_directories(Dir / "sub");
  e = Refuse({P("one.m3u")});
  EXPECT_EQ(e.File, P("sub/../three.m3u8"));
  EXPECT_NE(e.Message.find("includes itself"), std::string::npos) << e.Text();

  // A cue sheet cannot name a list.
  Write("bad.cue", "FILE \"self.m3u\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n");
  EXPECT_NE(Refuse({P("bad.cue")}).Message.find("audio file"), std::string::npos);
}

TEST_F(TrackList, DepthAndSizeAreBounded) {
  // A chain deeper than allowed (no loop).
  for (int i = 0; i <= kMaxListDepth; ++i)
    Write("deep" + std::to_string(i) + ".m3u", "deep" + std::to_string(i + 1) + ".m3u\n");
  Write("deep" + std::to_string(kMaxListDepth + 1) + ".m3u", "a.wav\n");
  Write("a.wav", "x");
  EXPECT_NE(Refuse({P("deep0.m3u")}).Message.find("nested"), std::string::npos);

  // Ten lists each naming the next ten times: far more tracks than allowed,
  // refused without expanding them all.
  for (int i = 0; i < 6; ++i) {
    std::string text;
    for (int k = 0; k < 10; ++k) text += i < 5 ? "fan" + std::to_string(i + 1) + ".m3u\n" : "a.wav\n";
    Write("fan" + std::to_string(i) + ".m3u", text);
  }
  const TListError e = Refuse({P("fan0.m3u")});
  EXPECT_TRUE(e.Message.find("more than") != std::string::npos) << e.Text();

  // A list too large to be one.
  std::ofstream(Dir / "huge.m3u", std::ios::binary) << std::string(kMaxListFileBytes + 1, '#');
  EXPECT_NE(Refuse({P("huge.m3u")}).Message.find("too large"), std::string::npos);
}

}  // namespace
}  // namespace cv
