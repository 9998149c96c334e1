// Track texts from real tags: an ID3v2.3 tag written by lame (UTF-16, album
// artist, composer, ISRC), Vorbis comments written by oggenc and by flac,
// and the iTunes items of an MP4 written by ffmpeg.
#include "burner/cvTrackTags.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "decode/cvAudFiles.h"

namespace cv {
namespace {

std::string Fixture(const char* name) {
  return (std::filesystem::path(CORVID_FIXTURES_DIR) / "tags" / name).string();
}

TEST(TrackTags, ReadsID3v2WithAlbumArtistComposerAndIsrc) {
  const TTrackTags tags = ReadTrackTags(Fixture("01-id3.mp3"), afMP3);
  EXPECT_EQ(tags.Title, "\xC5\x81\xC3\xB3" "d\xC5\xBA Nocturne \xE2\x80\x94 \xE2\x80\x98Live\xE2\x80\x99");
  EXPECT_EQ(tags.Artist, "Zo\xC3\xAB Keating");
  EXPECT_EQ(tags.Album, "Gapless \xC3\x89tudes");
  EXPECT_EQ(tags.AlbumArtist, "The Album Artist");
  EXPECT_EQ(tags.Composer, "Fr\xC3\xA9" "d\xC3\xA9ric Chopin");
  EXPECT_EQ(tags.Isrc, "GBAYE0601498");
}

TEST(TrackTags, ReadsVorbisCommentsAndCompactsTheIsrc) {
  const TTrackTags tags = ReadTrackTags(Fixture("02-vorbis.ogg"), afOGG);
  EXPECT_EQ(tags.Title, "Second Movement");
  EXPECT_EQ(tags.Artist, "Ensemble Vorbis");
  EXPECT_EQ(tags.Album, "Ignored Album");
  EXPECT_EQ(tags.AlbumArtist, "");
  EXPECT_EQ(tags.Composer, "Clara Schumann");
  EXPECT_EQ(tags.Isrc, "USABC2500002");
}

TEST(TrackTags, ReadsFlacVorbisComments) {
  const TTrackTags tags = ReadTrackTags(Fixture("03-flac.flac"), afFLAC);
  EXPECT_EQ(tags.Title, "\xD0\xA2\xD1\x80\xD0\xB5\xD1\x82\xD1\x8C\xD1\x8F \xD0\xBF\xD1\x8C\xD0\xB5\xD1\x81\xD0\xB0");
  EXPECT_EQ(tags.Artist, "FLAC Quartet");
  EXPECT_EQ(tags.Album, "Flac Album");
  EXPECT_EQ(tags.AlbumArtist, "Flac Album Artist");
  EXPECT_EQ(tags.Composer, "Edvard Grieg");
  EXPECT_EQ(tags.Isrc, "NOXYZ2500003");
}

TEST(TrackTags, ReadsMp4ItemsWithTheFreeFormIsrc) {
  const TTrackTags tags = ReadTrackTags(Fixture("04-alac.m4a"), afM4A);
  EXPECT_EQ(tags.Title, "Fourth, in MP4");
  EXPECT_EQ(tags.Artist, "ALAC Trio");
  EXPECT_EQ(tags.Album, "MP4 Album");
  EXPECT_EQ(tags.AlbumArtist, "MP4 Album Artist");
  EXPECT_EQ(tags.Composer, "Amy Beach");
  EXPECT_EQ(tags.Isrc, "SEABC2500004");
}

TEST(TrackTags, UntaggedAndMissingFilesGiveEmptyTexts) {
  const TTrackTags wav = ReadTrackTags((std::filesystem::path(CORVID_FIXTURES_DIR) / "demo" / "01-intro.wav").string(), afWAV);
  EXPECT_TRUE(wav.Title.empty() && wav.Artist.empty() && wav.Album.empty() && wav.Isrc.empty());
  const TTrackTags missing = ReadTrackTags("/nonexistent/file.ogg", afOGG);
  EXPECT_TRUE(missing.Title.empty());
}

}  // namespace
}  // namespace cv
