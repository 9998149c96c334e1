// What a failure leaves behind: each fault of the virtual recorder (or of
// the user) with the result the user sees and the state of the disc
// afterwards. No disc is silently built on, no failure reads as success.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvAudWriter.h"
#include "burner/cvDriveWait.h"
#include "burner/cvThreadLayer.h"
#include "burner_test_support.h"
#include "vrecorder/cvVirtualTiming.h"

namespace cv {
namespace {

using test::DemoFile;
using test::TBurnerRig;
using test::TRecorderDir;

struct TOutcome {
  bool Started = false;
  int Events = 0;
  bool WithError = false;
  std::string ErrorText;
  std::string Detail;
  std::string DiscState;
};

// Measures and adds files as a front end does, burns, waits for the end.
// midway (when given) runs on this thread once the first sectors are on
// the disc.
TOutcome Burn(TBurnerRig& rig, const std::vector<std::string>& files,
              const std::function<void(TKAudioCDBurner&)>& midway = nullptr) {
  TOutcome outcome;
  TKAudioCDBurner& burner = *rig.Burner;
  bool done = false;
  burner.OnWriteDone = [&](TKAudioCDBurner* sender, std::uint16_t, bool withError) {
    ++outcome.Events;
    outcome.WithError = withError;
    outcome.ErrorText = sender->GetErrorText();
    outcome.Detail = sender->GetErrorDetail();
    done = true;
  };
  EXPECT_TRUE(burner.ClearTracks());
  for (const auto& file : files) EXPECT_TRUE(burner.AddTrack(file, burner.GetFileLength(file), 450));
  burner.SetCacheSize(8388608);
  outcome.Started = burner.Burn();
  if (!outcome.Started) {
    outcome.ErrorText = burner.GetErrorText();
    outcome.Detail = burner.GetErrorDetail();
    return outcome;
  }
  if (midway) {
    EXPECT_TRUE(rig.Queue.RunUntil([&] { return done || burner.GetSectorsWritten() > 0; }, std::chrono::seconds(60)));
    midway(burner);
  }
  EXPECT_TRUE(rig.WaitDone(done));
  outcome.DiscState = burner.GetDiscState();
  return outcome;
}

const TVRTrack* OpenTrack(const TVRState& state) {
  for (const auto& t : state.Disc.Tracks)
    if (!t.Closed) return &t;
  return nullptr;
}

// 1. The drive refuses CLOSE TRACK/SESSION: the burn must not read as done.
TEST(Integrity, ARefusedCloseEndsTheBurnWithItsOwnErrorAndTheNextBurnIsRefused) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.FailOpcode = 0x5B; });
  TBurnerRig rig;
  const TOutcome outcome = Burn(rig, {DemoFile("02-theme.mp3")});
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_EQ(outcome.Events, 1);
  EXPECT_TRUE(outcome.WithError);
  EXPECT_EQ(outcome.ErrorText, "DISC NOT CLOSED: A TRACK OR THE SESSION IS STILL OPEN");
  EXPECT_EQ(outcome.Detail, "the drive does not know this command (5/20/00)");
  EXPECT_NE(outcome.DiscState.find("the session was left open"), std::string::npos) << outcome.DiscState;
  const TVRState state = dir.Load();
  EXPECT_EQ(state.Disc.ClosedSessions(), 0);

  // The open session is not built on.
  const std::uint64_t writes = state.Counters.Writes;
  const TOutcome next = Burn(rig, {DemoFile("03-coda.ogg")});
  EXPECT_FALSE(next.Started);
  EXPECT_EQ(next.ErrorText, "LAST SESSION ON THE DISC IS OPEN OR DAMAGED: ERASE THE CD-RW OR USE A NEW CD-R");
  EXPECT_EQ(dir.Load().Counters.Writes, writes);
}

// 2. A write error in a track shorter than four seconds: the silence that
// would let it close cannot be written past the bad spot either, so the
// track stays open, the user is told, and the next burn is refused instead
// of being joined onto the fragment.
TEST(Integrity, AWriteErrorInAShortTrackIsReportedWithTheDiscsStateAndNotBuiltOn) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.WriteErrorAt = 100; });
  auto rig = std::make_unique<TBurnerRig>();
  const TOutcome outcome = Burn(*rig, {DemoFile("02-theme.mp3")});
  rig.reset();  // lets go of the recorder
  ASSERT_TRUE(outcome.Started);
  EXPECT_TRUE(outcome.WithError);
  EXPECT_EQ(outcome.ErrorText, "DEVICE ERROR 3072");
  EXPECT_EQ(outcome.Detail, "write error (3/0C/00): the CD-R holds what was written until then");
  EXPECT_NE(outcome.DiscState.find("track 1 was left open (81 sectors)"), std::string::npos) << outcome.DiscState;
  TVRState state = dir.Load();
  ASSERT_NE(OpenTrack(state), nullptr);
  EXPECT_EQ(OpenTrack(state)->Length, 81);

  dir.Edit([](TVRState& s) { s.Faults.WriteErrorAt.reset(); });
  TBurnerRig again;
  const TOutcome next = Burn(again, {DemoFile("03-coda.ogg")});
  EXPECT_FALSE(next.Started);
  EXPECT_EQ(next.ErrorText, "LAST SESSION ON THE DISC IS OPEN OR DAMAGED: ERASE THE CD-RW OR USE A NEW CD-R");
  state = dir.Load();
  ASSERT_EQ(state.Disc.Tracks.size(), 1u);
  EXPECT_EQ(state.Disc.Tracks[0].Length, 81);
}

// 3. Cancel (the CLI's Ctrl-C): the open track is finished with silence to
// four seconds and the session closed: what was written plays.
TEST(Integrity, CancelFinishesAShortTrackWithSilenceAndClosesTheSession) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) {
    s.Settings.Speed = 1;  // 75 sectors a second: slow enough to cancel early
    s.Settings.BufferKiB = 64;
  });
  TBurnerRig rig;
  std::int32_t writtenAtCancel = 0;
  bool accepted = false;
  const TOutcome outcome = Burn(rig, {DemoFile("02-theme.mp3"), DemoFile("03-coda.ogg")}, [&](TKAudioCDBurner& b) {
    accepted = b.Cancel();
    writtenAtCancel = b.GetSectorsWritten();
  });
  ASSERT_TRUE(outcome.Started);
  EXPECT_TRUE(accepted);
  EXPECT_TRUE(outcome.WithError);
  EXPECT_EQ(outcome.ErrorText, "ABORTED BY USER");
  EXPECT_NE(outcome.DiscState.find("the session is closed with 1 track"), std::string::npos) << outcome.DiscState;
  const auto statuses = rig.Statuses();
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), std::pair<std::uint8_t, int>{bsAborting, 1}), statuses.end());
  const TVRState state = dir.Load();
  EXPECT_EQ(state.Disc.ClosedSessions(), 1);
  ASSERT_EQ(state.Disc.Tracks.size(), 1u);
  const TVRTrack& track = state.Disc.Tracks[0];
  EXPECT_TRUE(track.Closed);
  const std::int32_t written = rig.Burner->GetSectorsWritten();
  EXPECT_GE(written, writtenAtCancel);
  EXPECT_EQ(track.Length, std::max(written, kMinTrackSectors));
  // The silence after the audio.
  const auto image = dir.Image();
  ASSERT_GE(image.size(), static_cast<std::size_t>(track.End()) * kSectorBytes);
  for (std::size_t i = static_cast<std::size_t>(written) * kSectorBytes; i < image.size(); ++i)
    ASSERT_EQ(image[i], 0) << "byte " << i;
  // A second cancel after the end has nothing to stop.
  EXPECT_FALSE(rig.Burner->Cancel());
  EXPECT_EQ(rig.Burner->GetErrorText(), "NO BURN TO CANCEL");
}

// 4. A file rewritten between being measured and the burn is refused, named.
TEST(Integrity, AFileChangedSinceItWasMeasuredIsRefusedByName) {
  TRecorderDir dir;
  TBurnerRig rig;
  TKAudioCDBurner& burner = *rig.Burner;
  const auto copy = dir.Path() / "changing.ogg";
  std::filesystem::copy_file(DemoFile("03-coda.ogg"), copy);
  const std::int32_t length = burner.GetFileLength(copy.string());
  ASSERT_GT(length, 0);
  const TFileStamp measured = burner.GetLastFileStamp();
  EXPECT_EQ(measured.Size, static_cast<std::int64_t>(std::filesystem::file_size(copy)));
  {
    std::ofstream append(copy, std::ios::app | std::ios::binary);
    append << "more";
  }
  // The window's order: the track list is filled only when Burn is pressed.
  ASSERT_TRUE(burner.ClearTracks());
  ASSERT_TRUE(burner.AddTrack(copy.string(), length, 450));
  EXPECT_FALSE(burner.Burn());
  EXPECT_EQ(burner.GetErrorText(), "FILE CHANGED SINCE IT WAS ADDED");
  EXPECT_NE(burner.GetErrorDetail().find(copy.string() + ": changed since it was measured"), std::string::npos)
      << burner.GetErrorDetail();
  // The same with the stamp carried explicitly.
  ASSERT_TRUE(burner.ClearTracks());
  ASSERT_TRUE(burner.AddTrack(copy.string(), length, 450, measured));
  EXPECT_FALSE(burner.Burn());
  EXPECT_EQ(burner.GetErrorText(), "FILE CHANGED SINCE IT WAS ADDED");
  EXPECT_EQ(dir.Load().Counters.Writes, 0u);
}

// 5. The component's own refusal lasts only until the next operation.
TEST(Integrity, AnOldRefusalNeverHidesTheErrorOfALaterOperation) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.WriteErrorAt = 450; });
  TBurnerRig rig;
  EXPECT_EQ(rig.Burner->GetFileLength((dir.Path() / "vanished.wav").string()), 0);
  const TOutcome outcome = Burn(rig, {DemoFile("02-theme.mp3")});
  EXPECT_TRUE(outcome.WithError);
  EXPECT_EQ(outcome.ErrorText, "DEVICE ERROR 3072");

  // Burn Not Started! names its own reason.
  EXPECT_EQ(rig.Burner->GetFileLength((dir.Path() / "vanished.wav").string()), 0);
  ASSERT_TRUE(rig.Burner->ClearTracks());
  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->GetErrorText(), "NO TRACKS TO BURN");
}

TEST(Integrity, AnOldRefusalNeverHidesTheErrorOfAnErase) {
  TRecorderDir dir(TVRMediumKind::CDRW80);
  dir.Edit([](TVRState& s) { s.Faults.BlankRefused = true; });
  TBurnerRig rig;
  EXPECT_EQ(rig.Burner->GetFileLength((dir.Path() / "vanished.wav").string()), 0);
  bool done = false;
  bool withError = false;
  std::string text;
  rig.Burner->OnEraseDone = [&](TKAudioCDBurner* sender, std::uint16_t, bool error) {
    withError = error;
    text = sender->GetErrorText();
    done = true;
  };
  ASSERT_TRUE(rig.Burner->Erase(true));
  ASSERT_TRUE(rig.WaitDone(done));
  EXPECT_TRUE(withError);
  EXPECT_EQ(text, "DEVICE ERROR 9216");
}

// 6. A poll the drive refuses is not "done": the erase waits for the drive.
TEST(Integrity, AnEraseEndsOnlyWhenTheDriveHasFinished) {
  TRecorderDir dir(TVRMediumKind::CDRW80);
  dir.Edit([](TVRState& s) {
    s.Faults.FailOpcode = 0x51;  // READ DISC INFORMATION refused once
    s.Faults.FailOpcodeCount = 1;
  });
  TBurnerRig rig;
  bool done = false;
  bool withError = true;
  bool runningAtEvent = true;
  rig.Burner->OnEraseDone = [&](TKAudioCDBurner*, std::uint16_t, bool error) {
    withError = error;
    TVRState state = dir.Load();
    runningAtEvent = VROperationRunning(state);
    done = true;
  };
  ASSERT_TRUE(rig.Burner->Erase(true));
  ASSERT_TRUE(rig.WaitDone(done));
  EXPECT_FALSE(withError);
  EXPECT_FALSE(runningAtEvent);
  EXPECT_EQ(dir.Load().Counters.Blanks, 1u);
}

TEST(Integrity, AnEraseWhoseEveryPollIsRefusedEndsWithAnError) {
  TRecorderDir dir(TVRMediumKind::CDRW80);
  dir.Edit([](TVRState& s) { s.Faults.FailOpcode = 0x51; });
  TBurnerRig rig;
  bool done = false;
  bool withError = false;
  std::string text;
  rig.Burner->OnEraseDone = [&](TKAudioCDBurner* sender, std::uint16_t, bool error) {
    withError = error;
    text = sender->GetErrorText();
    done = true;
  };
  ASSERT_TRUE(rig.Burner->Erase(true));
  ASSERT_TRUE(rig.WaitDone(done));
  EXPECT_TRUE(withError);
  EXPECT_EQ(text, "DEVICE ERROR 8192");  // 5/20/00, the refused poll
  EXPECT_EQ(rig.Burner->GetErrorDetail(), "the drive does not know this command (5/20/00)");
}

TEST(Integrity, ThePollEndsOnlyOnAGoodAnswerOrWithAnError) {
  TBurnTimings timings = test::FastTimings();
  std::stop_source source;
  int polls = 0;
  auto answers = [&](std::vector<TPollAnswer> list) {
    polls = 0;
    return [&, list] { return list[static_cast<std::size_t>(std::min<int>(polls++, int(list.size()) - 1))]; };
  };
  EXPECT_EQ(PollDrive(timings, source.get_token(), true, answers({TPollAnswer::Refused, TPollAnswer::Working,
                                                                  TPollAnswer::Refused, TPollAnswer::Done})),
            TPollEnd::Done);
  EXPECT_EQ(polls, 4);
  EXPECT_EQ(PollDrive(timings, source.get_token(), false, answers({TPollAnswer::Refused})), TPollEnd::Refused);
  EXPECT_EQ(polls, kMaxRefusedPolls);
  timings.DriveDeadline = std::chrono::milliseconds(0);
  EXPECT_EQ(PollDrive(timings, source.get_token(), false, answers({TPollAnswer::Working})), TPollEnd::Deadline);
  source.request_stop();
  EXPECT_EQ(PollDrive(timings, source.get_token(), true, answers({TPollAnswer::Done})), TPollEnd::Stopped);
}

// 8. Drive errors come with words from the table.
TEST(Integrity, DriveErrorsComeWithTheirWords) {
  TRecorderDir dir(TVRMediumKind::None);
  TBurnerRig rig;
  EXPECT_EQ(rig.Burner->GetFreeSpace(), -1);
  EXPECT_EQ(rig.Burner->GetErrorText(), "DEVICE ERROR 14848");
  EXPECT_EQ(rig.Burner->GetErrorDetail(), "no disc in the drive (2/3A/00)");
  EXPECT_FALSE(rig.Burner->Erase(true));
  EXPECT_EQ(rig.Burner->GetErrorText(), "DEVICE ERROR 14849");  // TEST UNIT READY: tray closed
  EXPECT_EQ(rig.Burner->GetErrorDetail(), "no disc in the drive (2/3A/01)");
  rig.Burner.reset();

  dir.Edit([](TVRState& s) {
    s.Medium = TVRMediumKind::CDR80;
    s.TrayOpen = true;
  });
  TBurnerRig open;
  EXPECT_EQ(open.Burner->GetFreeSpace(), -1);
  EXPECT_EQ(open.Burner->GetErrorText(), "DEVICE ERROR 14850");
  EXPECT_EQ(open.Burner->GetErrorDetail(), "the tray is open (2/3A/02): close it and try again");
  // Read once: the words go with it.
  EXPECT_EQ(open.Burner->GetErrorText(), "NO ERROR");
  EXPECT_EQ(open.Burner->GetErrorDetail(), "");
}

// 10. No level is one a thread could not come back from.
TEST(Integrity, ThreadPrioritiesKeepTheirOrderWithinWhatCanBeUndone) {
  // Without any allowance every level is the process's own value.
  for (auto p : {tpIdle, tpLowest, tpBelowNormal, tpNormal, tpHighest}) EXPECT_EQ(NiceForPriority(p, 0, 20), 0);
  // With an allowance back to 0 the levels spread upward from it.
  EXPECT_EQ(NiceForPriority(tpHighest, 0, 0), 0);
  EXPECT_EQ(NiceForPriority(tpNormal, 0, 0), 0);
  EXPECT_LT(NiceForPriority(tpNormal, 0, 0), NiceForPriority(tpBelowNormal, 0, 0));
  EXPECT_LT(NiceForPriority(tpBelowNormal, 0, 0), NiceForPriority(tpLowest, 0, 0));
  EXPECT_LT(NiceForPriority(tpLowest, 0, 0), NiceForPriority(tpIdle, 0, 0));
  EXPECT_LE(NiceForPriority(tpIdle, 0, 0), 19);
  EXPECT_EQ(NiceForPriority(tpHighest, 0, -20), -10);
  EXPECT_EQ(NiceForPriority(tpHighest, 5, 0), 0);

  // On a thread of our own: idle and back, never in SCHED_IDLE, and the
  // value answered is the one in force.
  std::thread([] {
    const int idle = SetCurrentThreadPriority(tpIdle);
    EXPECT_NE(::sched_getscheduler(0), SCHED_IDLE);
    EXPECT_EQ(idle, CurrentThreadNice());
    const int highest = SetCurrentThreadPriority(tpHighest);
    EXPECT_EQ(highest, CurrentThreadNice());
    EXPECT_LE(highest, idle);
    const int normal = SetCurrentThreadPriority(tpNormal);
    EXPECT_EQ(normal, CurrentThreadNice());
    EXPECT_GE(normal, highest);
  }).join();
}

// 11. Busy until every worker has ended: the cache thread outlives the
// write thread's event here by its tail.
TEST(Integrity, TheComponentStaysBusyUntilEveryWorkerHasEnded) {
  TRecorderDir dir;
  TBurnerRig rig;
  TBurnTimings timings = test::FastTimings();
  timings.CacheTail = std::chrono::minutes(5);  // ended early by the component's destructor
  rig.Burner->SetTimings(timings);
  TKAudioCDBurner& burner = *rig.Burner;
  bool done = false;
  burner.OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool) { done = true; };
  const std::string file = DemoFile("03-coda.ogg");
  ASSERT_TRUE(burner.AddTrack(file, burner.GetFileLength(file), 450));
  ASSERT_TRUE(burner.Burn());
  ASSERT_TRUE(rig.Queue.RunUntil([&] { return done && burner.GetStatus() == bsIdle; }, std::chrono::seconds(60)));
  EXPECT_TRUE(burner.IsBusy());
  EXPECT_FALSE(burner.AddTrack(file, 100, 450));
  EXPECT_EQ(burner.GetErrorText(), "BURNER BUSY");
  EXPECT_FALSE(burner.ClearTracks());
  EXPECT_EQ(burner.GetTrackCount(), 1);
}

}  // namespace
}  // namespace cv
