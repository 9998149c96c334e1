// Erasing on the virtual recorder: blanking CD-RW and DVD-RW, formatting
// DVD+RW and DVD-RAM, a refused erase and a drive that is not ready.
#include "burner/cvErase.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "burner/cvAudioCDBurner.h"
#include "burner_test_support.h"

namespace cv {
namespace {

using test::DemoFile;
using test::TBurnerRig;
using test::TRecorderDir;

struct TEraseOutcome {
  bool Started = false;
  int Events = 0;
  bool WithError = false;
  bool OnDispatcherThread = false;
  std::string ErrorText;
  std::vector<std::uint8_t> Statuses;
};

TEraseOutcome EraseDisc(TBurnerRig& rig, bool quick) {
  TEraseOutcome outcome;
  TKAudioCDBurner& burner = *rig.Burner;
  const auto mainThread = std::this_thread::get_id();
  bool done = false;
  burner.OnEraseDone = [&](TKAudioCDBurner* sender, std::uint16_t id, bool withError) {
    EXPECT_EQ(sender, &burner);
    EXPECT_EQ(id, 0);
    // The status is back to idle before the event.
    EXPECT_EQ(sender->GetStatus(), bsIdle);
    ++outcome.Events;
    outcome.WithError = withError;
    outcome.OnDispatcherThread = std::this_thread::get_id() == mainThread;
    if (withError) outcome.ErrorText = sender->GetErrorText();
    done = true;
  };
  outcome.Started = burner.Erase(quick);
  if (outcome.Started) {
    EXPECT_EQ(burner.GetStatus(), bsErasing);
    EXPECT_TRUE(rig.WaitDone(done));
  }
  for (const auto& [status, track] : rig.Statuses()) outcome.Statuses.push_back(status);
  return outcome;
}

// A CD-RW with one session on it.
void WriteSomething(TRecorderDir& dir) {
  dir.Edit([](TVRState& state) {
    state.Disc.Tracks.push_back(TVRTrack{1, 1, 0, 150, 600, true, false});
    state.Disc.SessionLeadOuts.push_back(600);
    state.Disc.Written = true;
  });
}

TEST(Erase, QuickAndFullBlankOfACDRW) {
  for (const bool quick : {true, false}) {
    SCOPED_TRACE(quick ? "quick" : "full");
    TRecorderDir dir(TVRMediumKind::CDRW80);
    WriteSomething(dir);
    TBurnerRig rig;
    const TEraseOutcome outcome = EraseDisc(rig, quick);
    ASSERT_TRUE(outcome.Started);
    EXPECT_EQ(outcome.Events, 1);
    EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
    EXPECT_TRUE(outcome.OnDispatcherThread);
    EXPECT_EQ(outcome.Statuses, (std::vector<std::uint8_t>{bsErasing, bsIdle}));
    const TVRState state = dir.Load();
    EXPECT_TRUE(state.Disc.Blank());
    EXPECT_EQ(state.Counters.Blanks, 1u);
    EXPECT_EQ(rig.Burner->GetFreeSpace(), 359849);
  }
}

TEST(Erase, ADVDRWIsBlankedThenQuickFormatted) {
  TRecorderDir dir(TVRMediumKind::DVDRWSequential);
  TBurnerRig rig;
  const TEraseOutcome outcome = EraseDisc(rig, true);
  ASSERT_TRUE(outcome.Started);
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  const TVRState state = dir.Load();
  EXPECT_EQ(state.Counters.Blanks, 1u);
  EXPECT_EQ(state.Counters.Formats, 1u);
}

TEST(Erase, ADVDPlusRWShowsTheBackgroundFormat) {
  TRecorderDir dir(TVRMediumKind::DVDPlusRW);
  TBurnerRig rig;
  const TEraseOutcome outcome = EraseDisc(rig, true);
  ASSERT_TRUE(outcome.Started);
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_EQ(outcome.Statuses, (std::vector<std::uint8_t>{bsErasing, bsBackgroundFormat, bsIdle}));
  EXPECT_EQ(dir.Load().Counters.Formats, 1u);
}

TEST(Erase, ADVDRAMIsFormatted) {
  TRecorderDir dir(TVRMediumKind::DVDRAM);
  TBurnerRig rig;
  const TEraseOutcome outcome = EraseDisc(rig, true);
  ASSERT_TRUE(outcome.Started);
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  const TVRState state = dir.Load();
  EXPECT_EQ(state.Counters.Formats, 1u);
  EXPECT_TRUE(state.Disc.Formatted);
}

TEST(Erase, ABlankTheDriveRefusesEndsWithAnError) {
  TRecorderDir dir(TVRMediumKind::CDRW80);
  dir.Edit([](TVRState& state) { state.Faults.BlankRefused = true; });
  TBurnerRig rig;
  const TEraseOutcome outcome = EraseDisc(rig, true);
  ASSERT_TRUE(outcome.Started);
  EXPECT_EQ(outcome.Events, 1);
  EXPECT_TRUE(outcome.WithError);
  // 5/24/00: invalid field in CDB.
  EXPECT_EQ(outcome.ErrorText, "DEVICE ERROR 9216");
  EXPECT_EQ(rig.Burner->GetStatus(), bsIdle);
}

TEST(Erase, WithTheTrayOpenReturnsFalseAndRaisesNothing) {
  TRecorderDir dir(TVRMediumKind::CDRW80);
  dir.Edit([](TVRState& state) { state.TrayOpen = true; });
  TBurnerRig rig;
  const TEraseOutcome outcome = EraseDisc(rig, true);
  EXPECT_FALSE(outcome.Started);
  rig.Queue.RunPending();
  EXPECT_EQ(outcome.Events, 0);
  EXPECT_EQ(rig.Burner->GetStatus(), bsIdle);
  EXPECT_FALSE(rig.Burner->IsBusy());
}

TEST(Erase, TheFormatListsAreTheOnesTheDrivesExpect) {
  // Number of blocks and format type of each list, as the drives read them.
  auto blocks = [](const std::array<std::uint8_t, 12>& list) {
    return static_cast<std::uint32_t>(list[4] << 24 | list[5] << 16 | list[6] << 8 | list[7]);
  };
  EXPECT_EQ(blocks(kDVDMinusRWFormat), 1000u);
  EXPECT_EQ(kDVDMinusRWFormat[8] >> 2, 0x15);
  EXPECT_EQ(blocks(kDVDPlusRWFormat), 0u);
  EXPECT_EQ(kDVDPlusRWFormat[8] >> 2, 0x26);
  EXPECT_EQ(blocks(kDVDRAMFormat), 2236704u);
  EXPECT_EQ(kDVDRAMFormat[8] >> 2, 0x00);
  EXPECT_EQ(kDVDRAMFormat[10] << 8 | kDVDRAMFormat[11], 2048);
}

}  // namespace
}  // namespace cv
