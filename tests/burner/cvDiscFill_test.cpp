// The capacity arithmetic the front ends show, against what Burn checks on
// the virtual recorder.
#include "burner/cvDiscFill.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvBurnRecord.h"
#include "burner/cvBurnTypes.h"
#include "burner/cvSAOWriter.h"
#include "burner_test_support.h"
#include "tests/cvTestWav.h"

namespace cv::test {
namespace {

TEST(DiscFill, CountsTheFourSecondMinimumAndThePausesAfterTheFirstTrack) {
  const std::vector<TFillTrack> tracks{{100, 450}, {1000, 450}, {299, 150}, {300, 0}};
  // 300 (padded) + 450 + 1000 + 150 + 300 (padded) + 0 + 300.
  EXPECT_EQ(BurnSectors(tracks), 300 + 450 + 1000 + 150 + 300 + 0 + 300);
  EXPECT_EQ(BurnSectors({}), 0);
  // A hundred one-second files need 100 x (300 + 150) - 150 sectors: over
  // ten minutes, not the hundred seconds of audio.
  const std::vector<TFillTrack> seconds(100, TFillTrack{75, 150});
  EXPECT_EQ(BurnSectors(seconds), 100 * 450 - 150);
  EXPECT_EQ(MinutesSecondsText(BurnSectors(seconds)), "9:58");
}

TEST(DiscFill, SessionAtOnceCountsTheLayoutNotWholeSectorsPerTrack) {
  constexpr std::int64_t kSps = 588;
  // Three tracks off the sector grid, joined gaplessly: their samples run
  // on, 1250 sectors and 305 samples in all, where Track-At-Once pads each.
  std::vector<TFillTrack> tracks{{401, 0, 400 * kSps + 100}, {501, 0, 500 * kSps + 200}, {351, 0, 350 * kSps + 5}};
  EXPECT_EQ(SessionAtOnceSectors(tracks), 1251);
  EXPECT_EQ(BurnSectors(tracks), 1253);
  // With pauses every track ends on the grid, as in Track-At-Once; track
  // 1's own pause never counts.
  for (TFillTrack& t : tracks) t.PauseSectors = 150;
  EXPECT_EQ(SessionAtOnceSectors(tracks), 401 + 150 + 501 + 150 + 351);
  EXPECT_EQ(SessionAtOnceSectors(tracks), BurnSectors(tracks));
  // Short tracks take 301 sectors each (300 in Track-At-Once); without
  // samples the sectors count whole.
  const std::vector<TFillTrack> shorts(3, TFillTrack{100, 150});
  EXPECT_EQ(SessionAtOnceSectors(shorts), 301 + 150 + 301 + 150 + 301);
  EXPECT_EQ(SessionAtOnceSectors({}), 0);
}

// The lead-out of a Session-At-Once burn on the recorder is where the fill
// said it would be, gapless and with pauses.
TEST(DiscFill, ASessionAtOnceBurnEndsWhereTheFillSays) {
  for (const std::int32_t pause : {0, 150}) {
    TRecorderDir dir;
    const std::int64_t lengths[] = {400 * 588 + 100, 320 * 588 + 500, 350 * 588 + 5};
    std::vector<TFillTrack> fill;
    TBurnerRig rig;
    TSAOOptions options;
    options.CDText = false;
    rig.Burner->SetWriteMode(TWriteMode::SessionAtOnce, options);
    for (std::size_t i = 0; i < 3; ++i) {
      const std::vector<std::uint8_t> pcm(static_cast<std::size_t>(lengths[i]) * 4, static_cast<std::uint8_t>(i + 1));
      const std::string file = (dir.Path() / ("t" + std::to_string(i) + ".wav")).string();
      cvtest::WriteWav(file, pcm);
      const std::int32_t sectors = rig.Burner->GetFileLength(file);
      ASSERT_TRUE(rig.Burner->AddTrack(file, sectors, static_cast<std::uint16_t>(pause)));
      fill.push_back({sectors, pause, lengths[i]});
    }
    bool done = false;
    bool failed = true;
    rig.Burner->OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool withError) {
      failed = withError;
      done = true;
    };
    ASSERT_TRUE(rig.Burner->Burn()) << rig.Burner->GetErrorText();
    ASSERT_TRUE(rig.WaitDone(done));
    ASSERT_FALSE(failed) << rig.Burner->GetErrorText();
    const TVRState state = dir.Load();
    ASSERT_EQ(state.Disc.SessionLeadOuts.size(), 1u);
    EXPECT_EQ(state.Disc.SessionLeadOuts[0], SessionAtOnceSectors(fill)) << "pause " << pause;
  }
}

TEST(DiscFill, ALongAlbumWithTheWindowsPausesIsOverA74MinuteDisc) {
  // 18 tracks of 4:08 are 74:24 of audio; with 450-sector pauses the burn
  // writes 76:06 and no longer fits a 74-minute blank (74:41 free).
  const std::vector<TFillTrack> album(18, TFillTrack{248 * 75, 450});
  const std::int64_t needed = BurnSectors(album);
  EXPECT_EQ(needed, 18 * 248 * 75 + 17 * 450);
  const TDiscFill free74 = FillOf(needed, 336075);
  EXPECT_TRUE(free74.DiscRead);
  EXPECT_FALSE(free74.Fits());
  EXPECT_EQ(free74.Over(), needed - 336075);
  EXPECT_EQ(FillText(free74), "76:06 of 74:41 free (m:ss): 1:25 too long");
}

TEST(DiscFill, WithoutADiscTheListIsMeasuredAgainstBlankSizes) {
  TDiscFill fill = FillOf(60 * 60 * 75, -1);
  EXPECT_FALSE(fill.DiscRead);
  EXPECT_EQ(fill.Capacity, kBlank74Sectors);
  EXPECT_EQ(FillText(fill), "60:00 of a 74-minute CD (m:ss), 14:00 left");
  fill = FillOf(kBlank74Sectors + 1, -1);
  EXPECT_EQ(fill.Capacity, kBlank80Sectors);
  EXPECT_TRUE(fill.Fits());
  fill = FillOf(kBlank80Sectors + 75, -1);
  EXPECT_FALSE(fill.Fits());
  EXPECT_EQ(fill.Over(), 75);
  EXPECT_EQ(FillText(fill), "80:01 of a 80-minute CD (m:ss): 0:01 too long");
  // Exactly full fits.
  EXPECT_TRUE(FillOf(1000, 1000).Fits());
  EXPECT_FALSE(FillOf(1001, 1000).Fits());
}

TEST(DiscFill, TimesReadAsMinutesAndSeconds) {
  EXPECT_EQ(MinutesSecondsText(0), "0:00");
  EXPECT_EQ(MinutesSecondsText(74), "0:00");
  EXPECT_EQ(MinutesSecondsText(75), "0:01");
  EXPECT_EQ(MinutesSecondsText(18 * 60 * 75 + 30 * 75), "18:30");
  EXPECT_EQ(MinutesSecondsText(kBlank80Sectors), "80:00");
  EXPECT_EQ(MinutesSecondsText(-5), "0:00");
  EXPECT_EQ(SecondsText(59), "0:59");
  EXPECT_EQ(SecondsText(3725), "1:02:05");
}

TEST(DiscFill, ALaterSessionStartsPastItsLeadIn) {
  EXPECT_EQ(SessionOverheadSectors(0), 0);
  EXPECT_EQ(SessionOverheadSectors(1), 11400);
  EXPECT_EQ(SessionOverheadSectors(2), 6900);
}

// An appendable disc whose first session ends so that FreeSectors remain
// for the next one.
void DiscWithFreeSpace(TRecorderDir& dir, std::int32_t freeSectors) {
  constexpr std::int32_t kLastLeadOut = 359849;  // an 80-minute CD-R
  const std::int32_t leadOut = kLastLeadOut - SessionOverheadSectors(1) - freeSectors;
  dir.Edit([&](TVRState& state) {
    TVRTrack track;
    track.Number = 1;
    track.Session = 1;
    track.Start = 0;
    track.Pregap = 150;
    track.Length = leadOut;
    track.Closed = true;
    state.Disc.Tracks = {track};
    state.Disc.SessionLeadOuts = {leadOut};
    state.Disc.Written = true;
  });
}

std::int32_t BurnOutcome(std::int32_t freeSectors, std::int64_t& needed, std::int32_t& reportedFree) {
  TRecorderDir dir;
  DiscWithFreeSpace(dir, freeSectors);
  TBurnerRig rig;
  std::vector<TFillTrack> fill;
  for (const char* name : {"01-intro.wav", "02-theme.mp3", "03-coda.ogg"}) {
    const std::string file = DemoFile(name);
    const std::int32_t length = rig.Burner->GetFileLength(file);
    EXPECT_TRUE(rig.Burner->AddTrack(file, length, 450));
    fill.push_back({length, 450});
  }
  needed = BurnSectors(fill);
  reportedFree = rig.Burner->GetFreeSpace();
  bool done = false;
  rig.Burner->OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool) { done = true; };
  if (!rig.Burner->Burn()) return rig.Burner->TakeLastError();
  EXPECT_TRUE(rig.WaitDone(done));
  return beNone;
}

TEST(DiscFill, BurnAcceptsExactlyWhatTheFillCallsAFit) {
  std::int64_t needed = 0;
  std::int32_t free = 0;
  // The demo album needs 300 + 450 + theme + 450 + coda sectors.
  {
    TRecorderDir probe;
    TBurnerRig rig;
    std::vector<TFillTrack> fill;
    for (const char* name : {"01-intro.wav", "02-theme.mp3", "03-coda.ogg"})
      fill.push_back({rig.Burner->GetFileLength(DemoFile(name)), 450});
    needed = BurnSectors(fill);
  }
  ASSERT_GT(needed, 0);
  const auto tooSmall = static_cast<std::int32_t>(needed - 1);
  EXPECT_EQ(BurnOutcome(tooSmall, needed, free), beNotEnoughSpace);
  EXPECT_EQ(free, tooSmall);
  EXPECT_FALSE(FillOf(needed, free).Fits());
  const auto exact = static_cast<std::int32_t>(needed);
  EXPECT_EQ(BurnOutcome(exact, needed, free), beNone);
  EXPECT_EQ(free, exact);
  EXPECT_TRUE(FillOf(needed, free).Fits());
}

}  // namespace
}  // namespace cv::test
