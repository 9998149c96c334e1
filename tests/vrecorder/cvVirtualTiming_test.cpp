// The virtual recorder's timing: the drive buffer at a set speed, underruns
// with and without BUFE, and the buffer model itself. The tests wait on
// state with deadlines and sleep only where a buffer must run dry; nothing
// asserts how long anything took.
#include "vrecorder/cvVirtualTiming.h"

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualTestUtil.h"

namespace {

using cvtest::AudioSectors;
using cvtest::RawDrive;
using namespace std::chrono_literals;

TEST(VirtualTiming, BufferDrainsAtTheSpeedAndAnUnderrunIsSeenOnce) {
  cv::cvVRTiming timing;
  timing.Configure(1, 64);  // 75 sectors a second, 27 sectors of buffer
  EXPECT_EQ(timing.CapacityBytes(), 27u * 2352);
  const auto t0 = cv::cvVRTiming::Clock::now();
  ASSERT_FALSE(timing.Advance(t0));
  timing.Add(27);
  EXPECT_EQ(timing.FillBytes(), 27u * 2352);
  EXPECT_GT(timing.WaitToFit(1), cv::cvVRTiming::Clock::duration::zero());
  EXPECT_FALSE(timing.Advance(t0 + 100ms));
  EXPECT_LT(timing.FillBytes(), 27u * 2352);
  EXPECT_GT(timing.FillBytes(), 0u);
  EXPECT_TRUE(timing.Advance(t0 + 1s));  // 75 sectors drained: empty while streaming
  EXPECT_EQ(timing.FillBytes(), 0u);
  EXPECT_FALSE(timing.Advance(t0 + 2s));  // reported once
  timing.Add(10);
  timing.Flush();  // the host's flush is no underrun
  EXPECT_FALSE(timing.Advance(t0 + 3s));
}

// The host's stream is primed once the buffer was full; the fill it then
// falls to is what shows a host falling behind. A flush ends the priming.
TEST(VirtualTiming, PrimingLastsUntilTheHostFlushesAndTheFillIsInPercent) {
  cv::cvVRTiming timing;
  timing.Configure(1, 64);  // 75 sectors a second, 27 sectors of buffer
  const auto t0 = cv::cvVRTiming::Clock::now();
  ASSERT_FALSE(timing.Advance(t0));
  EXPECT_FALSE(timing.Primed());
  timing.Add(27);
  EXPECT_EQ(timing.FillPercent(), 100u);
  timing.MarkPrimed();
  EXPECT_TRUE(timing.Primed());
  EXPECT_FALSE(timing.Advance(t0 + 200ms));  // 15 of 27 sectors drained: 12 left
  EXPECT_EQ(timing.FillPercent(), 44u);
  timing.Flush();
  EXPECT_FALSE(timing.Primed());
  EXPECT_EQ(timing.FillPercent(), 0u);
}

TEST(VirtualTiming, SpeedZeroNeverFillsOrWaits) {
  cv::cvVRTiming timing;
  timing.Configure(0, 2048);
  timing.Add(500);
  EXPECT_EQ(timing.FillBytes(), 0u);
  EXPECT_EQ(timing.WaitToFit(5000), cv::cvVRTiming::Clock::duration::zero());
  EXPECT_FALSE(timing.Advance(cv::cvVRTiming::Clock::now() + 10s));
}

TEST(VirtualTiming, LongOperationsScaleAndEnd) {
  cv::TVRState state = cv::NewVRState();
  state.Settings.TimeScale = 0;
  cv::VRStartOperation(state, cv::TVROperationKind::Blank, cv::kVRFullBlankMs);
  EXPECT_FALSE(cv::VROperationRunning(state));
  state.Settings.TimeScale = 1;
  cv::VRStartOperation(state, cv::TVROperationKind::Blank, cv::kVRFullBlankMs);
  EXPECT_EQ(state.Operation.DurationMs, 600000);
  EXPECT_TRUE(cv::VROperationRunning(state));
  EXPECT_LT(cv::VROperationProgress(state), 1000);
  state.Operation.StartMs -= 300000;  // half way
  EXPECT_NEAR(cv::VROperationProgress(state), 32768, 200);
  state.Operation.StartMs -= 300001;
  EXPECT_FALSE(cv::VROperationRunning(state));
  EXPECT_EQ(state.Operation.Kind, cv::TVROperationKind::None);
}

class VirtualSpeed : public ::testing::Test {
 protected:
  void Open(std::vector<std::string> settings) {
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert("cdr80"));
    ASSERT_TRUE(control.Set(settings)) << control.Error();
    Recorder = cv::OpenVirtualRecorder();
    Drive = std::make_unique<RawDrive>(*Recorder);
    Drive->Settle();
  }
  std::uint64_t Underruns() {
    nlohmann::json report;
    EXPECT_TRUE(cv::cvVirtualControl(Dir.Path).Show(report));
    return report["counters"]["underruns"].get<std::uint64_t>();
  }
  cvtest::Reply Write(std::int32_t lba, std::uint16_t n) { return Drive->Write(lba, n, AudioSectors(1, lba, n)); }

  cvtest::TempRecorderDir Dir;
  std::unique_ptr<cv::cvTransport> Recorder;
  std::unique_ptr<RawDrive> Drive;
};

TEST_F(VirtualSpeed, UnderrunWithBufeIsCountedAndWritingGoesOn) {
  Open({"speed=1", "buffer-kib=64"});  // 27 sectors drain in 0.36 s
  ASSERT_EQ(Drive->SetAudioTao(150, 0, true).Code(), "good");
  ASSERT_EQ(Write(0, 27).Code(), "good");
  Drive.reset();  // keep the recorder; only the client pauses
  Drive = std::make_unique<RawDrive>(*Recorder);
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(Write(27, 27).Code(), "good");
  EXPECT_EQ(Underruns(), 1u);
  EXPECT_FALSE(Drive->TrackInfo(1).Data[5] & 0x20);  // not damaged
}

TEST_F(VirtualSpeed, UnderrunWithoutBufeDamagesTheTrack) {
  Open({"speed=1", "buffer-kib=64"});
  ASSERT_EQ(Drive->SetAudioTao(150, 0, false).Code(), "good");
  ASSERT_EQ(Write(0, 27).Code(), "good");
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(Write(27, 27).Code(), "3/0C/09");
  EXPECT_EQ(Write(27, 27).Code(), "3/0C/09");
  EXPECT_EQ(Underruns(), 1u);
  cvtest::Reply t = Drive->TrackInfo(1);
  EXPECT_TRUE(t.Data[5] & 0x20);    // damaged
  EXPECT_FALSE(t.Data[7] & 0x01);   // no NWA
  nlohmann::json report;
  ASSERT_TRUE(cv::cvVirtualControl(Dir.Path).Show(report));
  EXPECT_TRUE(report["sessions"][0]["tracks"][0]["damaged"].get<bool>());
}

// BUFE is on in the two tests below: with 0.1 to 0.2 s of buffer, a loaded
// machine may stall the writer long enough for a real underrun, which must
// not fail the write these tests are about.
TEST_F(VirtualSpeed, WritesFasterThanTheDriveWaitForRoom) {
  Open({"speed=8", "buffer-kib=128"});  // 600 sectors a second, 55 sectors of buffer
  ASSERT_EQ(Drive->SetAudioTao(150, 0, true).Code(), "good");
  for (std::int32_t lba = 0; lba < 540; lba += 27) {
    ASSERT_EQ(Write(lba, 27).Code(), "good");
    cvtest::Reply b = Drive->BufferCapacity();
    ASSERT_EQ(b.Code(), "good");
    EXPECT_LE(b.U32(8), b.U32(4));
  }
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  EXPECT_EQ(Drive->TrackInfo(1).U32(24), 540u);
}

TEST_F(VirtualSpeed, BufferCapacityReportsTheFill) {
  Open({"speed=1", "buffer-kib=2048"});  // 891 sectors: 12 s to drain
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  ASSERT_EQ(Write(0, 27).Code(), "good");
  ASSERT_EQ(Write(27, 27).Code(), "good");
  cvtest::Reply b = Drive->BufferCapacity();
  ASSERT_EQ(b.Code(), "good");
  EXPECT_EQ(b.U32(4), 891u * 2352);
  EXPECT_LT(b.U32(8), b.U32(4));
  EXPECT_GE(b.U32(8), b.U32(4) - 54u * 2352);
  // In blocks (Block bit).
  cvtest::Reply blocks = Drive->In(RawDrive::Cdb10(0x5C, 0x01, 0, 12), 12);
  EXPECT_EQ(blocks.Data[3] & 1, 1);
  EXPECT_LE(blocks.U32(8), 891u);
  // SET CD SPEED lowers the speed: 4x drains faster than 1x, but the
  // buffer is not empty right away either way.
  ASSERT_EQ(Drive->SetSpeed(0xFFFF, 4 * 177).Code(), "good");
  cvtest::Reply after = Drive->BufferCapacity();
  EXPECT_LT(after.U32(8), after.U32(4));
}

TEST_F(VirtualSpeed, SynchronizeCacheWaitsForTheBufferToEmpty) {
  Open({"speed=8", "buffer-kib=256"});  // 111 sectors, 600 a second
  ASSERT_EQ(Drive->SetAudioTao(150, 0, true).Code(), "good");
  for (std::int32_t lba = 0; lba < 324; lba += 27) ASSERT_EQ(Write(lba, 27).Code(), "good");
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  cvtest::Reply b = Drive->BufferCapacity();
  EXPECT_EQ(b.U32(8), b.U32(4));  // empty once the track is closed
  EXPECT_EQ(Drive->TrackInfo(1).U32(24), 324u);
}

}  // namespace
