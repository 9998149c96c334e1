// Track texts from real tags: an ID3v2.3 tag written by lame (UTF-16, album
// artist, composer, ISRC), Vorbis comments written by oggenc, flac and
// opusenc, the iTunes items of an MP4 and the ID3 chunk of an AIFF written
// by ffmpeg.
#include "burner/cvTrackTags.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "decode/cvAudFiles.h"

namespace cv {
namespace {

std::string Fixture(const char* name, const char* folder = "tags") {
  return (std::filesystem::path(CORVID_FIXTURES_DIR) / folder / name).string();
}

void ExpectTexts(const TTrackTags& got, const TTrackTags& want) {
  EXPECT_EQ(got.Title, want.Title);
  EXPECT_EQ(got.Artist, want.Artist);
  EXPECT_EQ(got.Album, want.Album);
  EXPECT_EQ(got.AlbumArtist, want.AlbumArtist);
  EXPECT_EQ(got.Composer, want.Composer);
  EXPECT_EQ(got.Isrc, want.Isrc);
}

TEST(TrackTags, ReadsID3v2WithAlbumArtistComposerAndIsrc) {
  ExpectTexts(ReadTrackTags(Fixture("01-id3.mp3"), afMP3),
              {"\xC5\x81\xC3\xB3" "d\xC5\xBA Nocturne \xE2\x80\x94 \xE2\x80\x98Live\xE2\x80\x99", "Zo\xC3\xAB Keating",
               "Gapless \xC3\x89tudes", "The Album Artist", "Fr\xC3\xA9" "d\xC3\xA9ric Chopin", "GBAYE0601498"});
}

TEST(TrackTags, ReadsVorbisCommentsAndCompactsTheIsrc) {
  ExpectTexts(ReadTrackTags(Fixture("02-vorbis.ogg"), afOGG),
              {"Second Movement", "Ensemble Vorbis", "Ignored Album", "", "Clara Schumann", "USABC2500002"});
}

TEST(TrackTags, ReadsFlacVorbisComments) {
  ExpectTexts(ReadTrackTags(Fixture("03-flac.flac"), afFLAC),
              {"\xD0\xA2\xD1\x80\xD0\xB5\xD1\x82\xD1\x8C\xD1\x8F \xD0\xBF\xD1\x8C\xD0\xB5\xD1\x81\xD0\xB0",
               "FLAC Quartet", "Flac Album", "Flac Album Artist", "Edvard Grieg", "NOXYZ2500003"});
}

TEST(TrackTags, ReadsMp4ItemsWithTheFreeFormIsrc) {
  ExpectTexts(ReadTrackTags(Fixture("04-alac.m4a"), afM4A),
              {"Fourth, in MP4", "ALAC Trio", "MP4 Album", "MP4 Album Artist", "Amy Beach", "SEABC2500004"});
}

TEST(TrackTags, ReadsOpusTagsAndTheIdChunkOfAiff) {
  ExpectTexts(ReadTrackTags(Fixture("tone44_2.opus", "opus"), afOpus),
              {"Opus Title", "Opus Artist", "Opus Album", "", "", ""});
  ExpectTexts(ReadTrackTags(Fixture("tagged.aiff", "aiff"), afAIFF),
              {"Aiff Title", "Aiff Artist", "Aiff Album", "", "", ""});
}

TEST(TrackTags, UntaggedAndMissingFilesGiveEmptyTexts) {
  const TTrackTags wav = ReadTrackTags((std::filesystem::path(CORVID_FIXTURES_DIR) / "demo" / "01-intro.wav").string(), afWAV);
  EXPECT_TRUE(wav.Title.empty() && wav.Artist.empty() && wav.Album.empty() && wav.Isrc.empty());
  const TTrackTags missing = ReadTrackTags("/nonexistent/file.ogg", afOGG);
  EXPECT_TRUE(missing.Title.empty());
}

}  // namespace
}  // namespace cv
