// Track texts from real tags: an ID3v2.3 tag written by lame (UTF-16, album
// artist, composer, ISRC) and Vorbis comments written by oggenc.
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

TEST(TrackTags, UntaggedAndMissingFilesGiveEmptyTexts) {
  const TTrackTags wav = ReadTrackTags((std::filesystem::path(CORVID_FIXTURES_DIR) / "demo" / "01-intro.wav").string(), afWAV);
  EXPECT_TRUE(wav.Title.empty() && wav.Artist.empty() && wav.Album.empty() && wav.Isrc.empty());
  const TTrackTags missing = ReadTrackTags("/nonexistent/file.ogg", afOGG);
  EXPECT_TRUE(missing.Title.empty());
}

}  // namespace
}  // namespace cv
