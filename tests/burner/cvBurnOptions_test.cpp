// The burn options a front end offers: the write speed the drive is asked
// for, and closing the disc or leaving it appendable.
#include <gtest/gtest.h>

#include <vector>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvBurnTypes.h"
#include "burner_test_support.h"

namespace cv::test {
namespace {

bool BurnTheme(TBurnerRig& rig, bool& withError) {
  const std::string file = DemoFile("02-theme.mp3");
  if (!rig.Burner->AddTrack(file, rig.Burner->GetFileLength(file), 150)) return false;
  bool done = false;
  rig.Burner->OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool error) {
    done = true;
    withError = error;
  };
  if (!rig.Burner->Burn()) return false;
  return rig.WaitDone(done);
}

TEST(BurnOptions, TheDrivesWriteSpeedsComeFromItsCapabilitiesPage) {
  TRecorderDir dir;
  TBurnerRig rig;
  // The recorder lists one write speed descriptor, 8467 kB/s.
  EXPECT_EQ(rig.Burner->GetWriteSpeeds(), (std::vector<std::uint16_t>{48}));
  EXPECT_EQ(rig.Burner->GetWriteSpeed(), 0);
}

TEST(BurnOptions, TheChosenSpeedIsSentWithSetCdSpeed) {
  TRecorderDir dir;
  {
    TBurnerRig rig;
    ASSERT_TRUE(rig.Burner->SetWriteSpeed(8));
    EXPECT_EQ(rig.Burner->GetWriteSpeed(), 8);
    bool withError = true;
    ASSERT_TRUE(BurnTheme(rig, withError));
    EXPECT_FALSE(withError);
  }
  EXPECT_EQ(dir.Load().WriteSpeedKBs, 8 * 176);
}

TEST(BurnOptions, TheFastestSpeedIsAskedForByDefault) {
  TRecorderDir dir;
  {
    TBurnerRig rig;
    bool withError = true;
    ASSERT_TRUE(BurnTheme(rig, withError));
  }
  EXPECT_EQ(dir.Load().WriteSpeedKBs, 0xFFFF);
}

TEST(BurnOptions, TheDiscStaysAppendableUnlessClosingIsAskedFor) {
  {
    TRecorderDir dir;
    {
      TBurnerRig rig;
      EXPECT_FALSE(rig.Burner->GetCloseDisc());
      bool withError = true;
      ASSERT_TRUE(BurnTheme(rig, withError));
      EXPECT_FALSE(withError);
      EXPECT_NE(rig.Burner->GetDiscState().find("another session can be added"), std::string::npos)
          << rig.Burner->GetDiscState();
    }
    EXPECT_FALSE(dir.Load().Disc.Complete);
  }
  {
    TRecorderDir dir;
    {
      TBurnerRig rig;
      ASSERT_TRUE(rig.Burner->SetCloseDisc(true));
      bool withError = true;
      ASSERT_TRUE(BurnTheme(rig, withError));
      EXPECT_FALSE(withError);
      EXPECT_NE(rig.Burner->GetDiscState().find("is complete"), std::string::npos) << rig.Burner->GetDiscState();
      // A closed disc takes no further burn.
      rig.Burner->ClearTracks();
      const std::string file = DemoFile("01-intro.wav");
      ASSERT_TRUE(rig.Burner->AddTrack(file, rig.Burner->GetFileLength(file), 150));
      EXPECT_FALSE(rig.Burner->Burn());
      EXPECT_EQ(rig.Burner->TakeLastError(), beNoWritableDisc);
    }
    EXPECT_TRUE(dir.Load().Disc.Complete);
  }
}

TEST(BurnOptions, AFailedBurnLeavesTheDiscAppendableEvenWhenClosingWasAsked) {
  TRecorderDir dir;
  dir.Edit([](TVRState& state) { state.Faults.WriteErrorAt = 400; });
  {
    TBurnerRig rig;
    ASSERT_TRUE(rig.Burner->SetCloseDisc(true));
    bool withError = false;
    ASSERT_TRUE(BurnTheme(rig, withError));
    EXPECT_TRUE(withError);
  }
  EXPECT_FALSE(dir.Load().Disc.Complete);
}

}  // namespace
}  // namespace cv::test
