// The track list: adding tracks, what they count for, and clearing.
#include "burner/cvBurnRecord.h"

#include <gtest/gtest.h>

#include <fstream>

#include "burner/cvAudCache.h"
#include "burner_test_support.h"
#include "device/cvIOError.h"

namespace cv {
namespace {

using test::DemoFile;

TEST(AddTrack, TrustsAGivenLengthAndMeasuresWhenGivenNone) {
  TAudioFiles files;
  const std::string ogg = DemoFile("03-coda.ogg");
  ASSERT_EQ(AddTrack(files, ogg, 1234, 450), TAddTrackResult::Added);
  ASSERT_EQ(AddTrack(files, ogg, 0, 150), TAddTrackResult::Added);
  ASSERT_EQ(files.TrackCount, 2);
  EXPECT_EQ(files.Tracks[0].LengthSectors, 1234);
  EXPECT_EQ(files.Tracks[0].PauseSectors, 450);
  EXPECT_EQ(files.Tracks[0].FileKind, 4);  // OGG
  // Measured by decoding: 8 seconds of audio, 600 sectors and change.
  const std::int32_t measured = files.Tracks[1].LengthSectors;
  EXPECT_EQ(static_cast<std::size_t>(measured), (test::DecodeAll(ogg).size() + kSectorBytes - 1) / kSectorBytes);
  EXPECT_GE(measured, 600);
  EXPECT_EQ(files.TotalSectors, 1234 + measured);
}

TEST(AddTrack, CountsAShortTrackAsTheFourSecondsItWillTake) {
  TAudioFiles files;
  ASSERT_EQ(AddTrack(files, DemoFile("01-intro.wav"), 0, 450), TAddTrackResult::Added);
  EXPECT_LT(files.Tracks[0].LengthSectors, kMinTrackSectors);
  EXPECT_EQ(files.TotalSectors, kMinTrackSectors);
}

TEST(AddTrack, TheSameFileTwiceMakesTwoTracks) {
  TAudioFiles files;
  const std::string mp3 = DemoFile("02-theme.mp3");
  ASSERT_EQ(AddTrack(files, mp3, 700, 450), TAddTrackResult::Added);
  ASSERT_EQ(AddTrack(files, mp3, 700, 450), TAddTrackResult::Added);
  EXPECT_EQ(files.TrackCount, 2);
  EXPECT_EQ(files.TotalSectors, 1400);
}

TEST(AddTrack, LeavesTheListAsItWasForWhatItRefuses) {
  TAudioFiles files;
  ASSERT_EQ(AddTrack(files, DemoFile("02-theme.mp3"), 700, 450), TAddTrackResult::Added);
  const auto script = DemoFile("make-demo.sh");
  EXPECT_EQ(AddTrack(files, script, 0, 450), TAddTrackResult::NotAudio);
  EXPECT_EQ(AddTrack(files, DemoFile("02-theme.mp3"), kMaxTrackSectors + 1, 450), TAddTrackResult::TooLong);
  EXPECT_THROW(AddTrack(files, DemoFile("no-such-file.wav"), 0, 450), EInOutError);
  EXPECT_EQ(files.TrackCount, 1);
  EXPECT_EQ(files.TotalSectors, 700);
}

TEST(AddTrack, HoldsAtMostTheTracksOfOneCD) {
  TAudioFiles files;
  for (int i = 0; i < kMaxTracks; ++i) ASSERT_EQ(AddTrack(files, DemoFile("03-coda.ogg"), 300, 0), TAddTrackResult::Added);
  EXPECT_EQ(AddTrack(files, DemoFile("03-coda.ogg"), 300, 0), TAddTrackResult::ListFull);
  EXPECT_EQ(files.TrackCount, kMaxTracks);
}

TEST(ClearTracks, EmptiesTheListAndTheBurnState) {
  TAudioFiles files;
  ASSERT_EQ(AddTrack(files, DemoFile("02-theme.mp3"), 700, 450), TAddTrackResult::Added);
  SetCacheSize(files, 8388608);
  files.Status = bsClosingSession;
  ASSERT_TRUE(files.Blocks.Open(10, 100, false));
  files.Blocks.Finish();
  files.ErrorCode = beDataNotPrepared;
  EXPECT_TRUE(ClearTracks(files));
  EXPECT_EQ(files.TrackCount, 0);
  EXPECT_TRUE(files.Tracks.empty());
  EXPECT_EQ(files.TotalSectors, 0);
  EXPECT_EQ(files.Status.load(), bsIdle);
  EXPECT_EQ(files.CacheSize, 0);
  EXPECT_FALSE(files.Blocks.Finished());
  EXPECT_EQ(files.Blocks.Capacity(), 0);
  EXPECT_EQ(files.ErrorCode.load(), 0);
}

}  // namespace
}  // namespace cv
