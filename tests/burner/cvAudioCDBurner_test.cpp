// The burner component end to end on the virtual recorder: what reaches the
// disc image, the status sequence, the completion event, the drive's faults
// and the checks that keep a burn from starting.
#include "burner/cvAudioCDBurner.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "burner/cvBurnRecord.h"
#include "burner_test_support.h"

namespace cv {
namespace {

using test::DemoFile;
using test::TBurnerRig;
using test::TRecorderDir;

struct TTrackSpec {
  std::string File;
  std::int32_t Length;  // as measured
  std::uint16_t Pause;
};

// The sectors a track must occupy on the disc: the decoded PCM cut or
// filled with zeros to max(length, 300) sectors.
std::vector<std::uint8_t> ExpectedTrack(const TTrackSpec& track) {
  auto pcm = test::DecodeAll(track.File);
  const std::size_t bytes = static_cast<std::size_t>(std::max(track.Length, kMinTrackSectors)) * kSectorBytes;
  pcm.resize(bytes, 0);
  return pcm;
}

// Burns tracks and answers the WithError of the one OnWriteDone.
struct TBurnOutcome {
  bool Started = false;
  int Events = 0;
  bool WithError = false;
  bool OnDispatcherThread = false;
  std::string ErrorText;
};

TBurnOutcome BurnTracks(TBurnerRig& rig, const std::vector<TTrackSpec>& tracks) {
  TBurnOutcome outcome;
  TKAudioCDBurner& burner = *rig.Burner;
  const auto mainThread = std::this_thread::get_id();
  bool done = false;
  burner.OnWriteDone = [&](TKAudioCDBurner* sender, std::uint16_t id, bool withError) {
    EXPECT_EQ(sender, &burner);
    EXPECT_EQ(id, 0);
    ++outcome.Events;
    outcome.WithError = withError;
    outcome.OnDispatcherThread = std::this_thread::get_id() == mainThread;
    if (withError) outcome.ErrorText = sender->GetErrorText();
    done = true;
  };
  for (const auto& track : tracks) EXPECT_TRUE(burner.AddTrack(track.File, track.Length, track.Pause));
  burner.SetCacheSize(8388608);
  outcome.Started = burner.Burn();
  if (!outcome.Started) {
    outcome.ErrorText = burner.GetErrorText();
    return outcome;
  }
  EXPECT_TRUE(rig.WaitDone(done));
  return outcome;
}

// The image holds each track at its place, bit for bit, with its pregap.
void ExpectImage(const TRecorderDir& dir, const std::vector<TTrackSpec>& tracks, std::size_t firstTrack = 0) {
  const TVRState state = dir.Load();
  ASSERT_EQ(state.Disc.Tracks.size(), firstTrack + tracks.size());
  const auto image = dir.Image();
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const TVRTrack& written = state.Disc.Tracks[firstTrack + i];
    const auto expected = ExpectedTrack(tracks[i]);
    SCOPED_TRACE("track " + std::to_string(written.Number));
    EXPECT_TRUE(written.Closed);
    EXPECT_EQ(static_cast<std::size_t>(written.Length) * kSectorBytes, expected.size());
    // The first track of a session has the 150-sector pregap; the others the
    // pause given.
    EXPECT_EQ(written.Pregap, i == 0 ? 150 : tracks[i].Pause);
    const std::size_t start = static_cast<std::size_t>(written.Start) * kSectorBytes;
    ASSERT_LE(start + expected.size(), image.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + static_cast<std::ptrdiff_t>(start)));
    if (i > 0) {
      const std::size_t gap = static_cast<std::size_t>(written.Pregap) * kSectorBytes;
      EXPECT_TRUE(std::all_of(image.begin() + static_cast<std::ptrdiff_t>(start - gap),
                              image.begin() + static_cast<std::ptrdiff_t>(start), [](std::uint8_t b) { return b == 0; }));
    }
  }
}

std::vector<std::uint8_t> StatusesOnly(const TBurnerRig& rig) {
  std::vector<std::uint8_t> statuses;
  for (const auto& [status, track] : rig.Statuses()) statuses.push_back(status);
  return statuses;
}

std::vector<TTrackSpec> Demo(TBurnerRig& rig, std::uint16_t pause = 450) {
  std::vector<TTrackSpec> tracks;
  for (const char* name : {"01-intro.wav", "02-theme.mp3", "03-coda.ogg"}) {
    const std::string file = DemoFile(name);
    tracks.push_back({file, rig.Burner->GetFileLength(file), pause});
  }
  return tracks;
}

TEST(Burn, OneTrackReachesTheDiscBitForBit) {
  TRecorderDir dir;
  TBurnerRig rig;
  const std::string file = DemoFile("02-theme.mp3");
  const std::vector<TTrackSpec> tracks{{file, rig.Burner->GetFileLength(file), 450}};
  ASSERT_GT(tracks[0].Length, kMinTrackSectors);

  const TBurnOutcome outcome = BurnTracks(rig, tracks);
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_EQ(outcome.Events, 1);
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_TRUE(outcome.OnDispatcherThread);
  // Preparing, writing, the track's start, writing, closing, idle.
  EXPECT_EQ(StatusesOnly(rig), (std::vector<std::uint8_t>{bsPreparing, bsWriting, bsClosingTrack, bsWriting,
                                                          bsClosingSession, bsIdle}));
  EXPECT_EQ(rig.Burner->GetCurrentTrack(), 1);
  // The partial last sector is written too.
  EXPECT_EQ(rig.Burner->GetSectorsWritten(), rig.Burner->GetTotalSectors());
  ExpectImage(dir, tracks);
  EXPECT_EQ(dir.Load().Disc.ClosedSessions(), 1);
}

TEST(Burn, SeveralTracksOfMixedKindsWithTheirPauses) {
  TRecorderDir dir;
  TBurnerRig rig;
  auto tracks = Demo(rig);
  tracks[2].Pause = 75;

  const TBurnOutcome outcome = BurnTracks(rig, tracks);
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_EQ(outcome.Events, 1);
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_TRUE(outcome.OnDispatcherThread);

  std::vector<std::uint8_t> expected{bsPreparing, bsWriting};
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    expected.push_back(bsClosingTrack);
    expected.push_back(bsWriting);
  }
  expected.push_back(bsClosingSession);
  expected.push_back(bsIdle);
  EXPECT_EQ(StatusesOnly(rig), expected);
  // CurrentTrack counts up as each track starts.
  std::vector<int> started;
  const auto statuses = rig.Statuses();
  for (std::size_t i = 1; i < statuses.size(); ++i)
    if (statuses[i - 1].first == bsClosingTrack) started.push_back(statuses[i].second);
  EXPECT_EQ(started, (std::vector<int>{1, 2, 3}));

  // The WAV intro is shorter than four seconds: filled with silence to 300.
  EXPECT_LT(tracks[0].Length, kMinTrackSectors);
  EXPECT_EQ(rig.Burner->GetTotalSectors(),
            kMinTrackSectors + tracks[1].Length + tracks[2].Length);
  EXPECT_EQ(rig.Burner->GetSectorsWritten(), rig.Burner->GetTotalSectors());
  ExpectImage(dir, tracks);
  EXPECT_NE(dir.Cue().find("TRACK 03 AUDIO"), std::string::npos);
}

TEST(Burn, RetriesABusyOrNotReadyWriteAtTheSameAddress) {
  TRecorderDir dir;
  dir.Edit([](TVRState& state) {
    state.Faults.BusyWrites = 3;
    state.Faults.NotReadyWrites = 2;
  });
  TBurnerRig rig;
  auto tracks = Demo(rig);
  tracks.resize(2);
  const TBurnOutcome outcome = BurnTracks(rig, tracks);
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  ExpectImage(dir, tracks);
  const TVRState state = dir.Load();
  EXPECT_EQ(state.Faults.BusyWrites, 0);
  EXPECT_EQ(state.Faults.NotReadyWrites, 0);
}

TEST(Burn, AWriteErrorEndsTheBurnWithTheDrivesSenseAndClosesTheSession) {
  TRecorderDir dir;
  // Inside the MP3's track, past its first 300 sectors.
  dir.Edit([](TVRState& state) { state.Faults.WriteErrorAt = 450; });
  TBurnerRig rig;
  const std::string file = DemoFile("02-theme.mp3");
  const TBurnOutcome outcome = BurnTracks(rig, {{file, rig.Burner->GetFileLength(file), 450}});
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_EQ(outcome.Events, 1);
  EXPECT_TRUE(outcome.WithError);
  // 3/0C/00: write error.
  EXPECT_EQ(outcome.ErrorText, "DEVICE ERROR 3072");
  EXPECT_EQ(rig.Burner->GetErrorText(), "NO ERROR");
  const auto statuses = StatusesOnly(rig);
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), bsBurnError), statuses.end());
  EXPECT_EQ(std::find(statuses.begin(), statuses.end(), bsClosingSession), statuses.end());
  EXPECT_EQ(statuses.back(), bsIdle);
  const TVRState state = dir.Load();
  EXPECT_EQ(state.Disc.ClosedSessions(), 1);
  ASSERT_EQ(state.Disc.Tracks.size(), 1u);
  EXPECT_LT(state.Disc.Tracks[0].End(), 451);
}

TEST(Burn, ASecondBurnAfterClearTracksAppendsASession) {
  TRecorderDir dir;
  TBurnerRig rig;
  const std::string mp3 = DemoFile("02-theme.mp3");
  const std::string ogg = DemoFile("03-coda.ogg");
  const std::vector<TTrackSpec> first{{mp3, rig.Burner->GetFileLength(mp3), 450}};
  ASSERT_FALSE(BurnTracks(rig, first).WithError);
  ASSERT_TRUE(rig.Burner->ClearTracks());
  EXPECT_EQ(rig.Burner->GetTotalSectors(), 0);
  const std::vector<TTrackSpec> second{{ogg, rig.Burner->GetFileLength(ogg), 450}};
  const TBurnOutcome outcome = BurnTracks(rig, second);
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_EQ(dir.Load().Disc.ClosedSessions(), 2);
  ExpectImage(dir, second, 1);
}

TEST(Burn, AudioLongerThanMeasuredIsCutAndShorterIsFilledAndReported) {
  TRecorderDir dir;
  TBurnerRig rig;
  const std::string mp3 = DemoFile("02-theme.mp3");
  const std::string ogg = DemoFile("03-coda.ogg");
  const std::int32_t mp3Length = rig.Burner->GetFileLength(mp3);
  const std::int32_t oggLength = rig.Burner->GetFileLength(ogg);
  // The caller's lengths are trusted: one too short, one too long.
  const std::vector<TTrackSpec> tracks{{mp3, mp3Length - 40, 450}, {ogg, oggLength + 60, 450}};
  const TBurnOutcome outcome = BurnTracks(rig, tracks);
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_TRUE(outcome.WithError);
  EXPECT_EQ(outcome.ErrorText, "TRACK SHORTER THAN MEASURED, FILLED WITH SILENCE");
  ExpectImage(dir, tracks);
}

TEST(Burn, IsRefusedWithoutTracks) {
  TRecorderDir dir;
  TBurnerRig rig;
  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->GetErrorText(), "NO TRACKS TO BURN");
  EXPECT_EQ(dir.Load().Counters.Writes, 0u);
}

TEST(Burn, IsRefusedWhenAFileChangedOrVanishedSinceItWasAdded) {
  TRecorderDir dir;
  TBurnerRig rig;
  const auto copy = dir.Path() / "copy.ogg";
  std::filesystem::copy_file(DemoFile("03-coda.ogg"), copy);
  ASSERT_TRUE(rig.Burner->AddTrack(copy.string(), 0, 450));
  {
    std::ofstream append(copy, std::ios::app | std::ios::binary);
    append << "more";
  }
  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->GetErrorText(), "FILE CHANGED SINCE IT WAS ADDED");

  std::filesystem::remove(copy);
  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->GetErrorText(), "CAN'T OPEN FILE FOR READ");
  EXPECT_EQ(dir.Load().Counters.Writes, 0u);
  EXPECT_EQ(rig.Burner->GetStatus(), bsIdle);
}

TEST(Burn, EndsWithAnErrorWhenTheCacheCannotDecodeATrack) {
  TRecorderDir dir;
  TBurnerRig rig;
  const auto copy = dir.Path() / "copy.ogg";
  std::filesystem::copy_file(DemoFile("03-coda.ogg"), copy);
  ASSERT_TRUE(rig.Burner->AddTrack(copy.string(), 0, 450));
  // Same size and time, but no longer audio.
  struct stat before {};
  ASSERT_EQ(::stat(copy.c_str(), &before), 0);
  {
    std::fstream file(copy, std::ios::in | std::ios::out | std::ios::binary);
    const std::string junk(4096, 'x');
    file.write(junk.data(), static_cast<std::streamsize>(junk.size()));
  }
  const timespec times[2] = {before.st_atim, before.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, copy.c_str(), times, 0), 0);

  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->GetErrorText(), "DATA NOT PREPARED FOR BURNING/WRITING");
  EXPECT_EQ(dir.Load().Counters.Writes, 0u);
  EXPECT_FALSE(rig.Burner->IsBusy());
}

TEST(Burn, IsRefusedOnADiscThatCannotTakeAudio) {
  for (const TVRMediumKind medium : {TVRMediumKind::CDROM, TVRMediumKind::DVDR, TVRMediumKind::None}) {
    TRecorderDir dir(medium);
    TBurnerRig rig;
    ASSERT_TRUE(rig.Burner->AddTrack(DemoFile("02-theme.mp3"), 0, 450));
    EXPECT_FALSE(rig.Burner->Burn());
    EXPECT_EQ(rig.Burner->GetErrorText(), "NO BLANK OR APPENDABLE CD-R/CD-RW IN THE DRIVE");
    EXPECT_EQ(dir.Load().Counters.Writes, 0u);
  }
}

TEST(Burn, IsRefusedWhenTheTracksDoNotFit) {
  TRecorderDir dir(TVRMediumKind::CDR74);
  TBurnerRig rig;
  // 75 minutes claimed for one file: trusted, and more than the disc holds.
  ASSERT_TRUE(rig.Burner->AddTrack(DemoFile("02-theme.mp3"), 75 * 4500, 450));
  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->GetErrorText(), "NOT ENOUGH FREE SPACE ON THE DISC");
  EXPECT_EQ(dir.Load().Counters.Writes, 0u);
}

TEST(Burner, RefusesDriveCommandsAndListChangesWhileABurnRuns) {
  TRecorderDir dir;
  TBurnerRig rig;
  TKAudioCDBurner& burner = *rig.Burner;
  const std::string mp3 = DemoFile("02-theme.mp3");
  ASSERT_TRUE(burner.AddTrack(mp3, 0, 450));
  bool done = false;
  bool refusedAll = false;
  std::int32_t measured = 0;
  burner.OnWriteDone = [&](TKAudioCDBurner* sender, std::uint16_t, bool) {
    // The write thread is still running while its event is handled.
    refusedAll = sender->IsBusy() && !sender->ClearTracks() && sender->TakeLastError() == beBusy &&
                 !sender->EjectMedium(true) && !sender->Burn() && !sender->Erase(true) &&
                 sender->GetFreeSpace() == -1 && !sender->AddTrack(mp3, 0, 450) && sender->GetTrackCount() == 1;
    measured = sender->GetFileLength(mp3);
    done = true;
  };
  ASSERT_TRUE(burner.Burn());
  ASSERT_TRUE(rig.WaitDone(done));
  EXPECT_TRUE(refusedAll);
  EXPECT_GT(measured, 0);
  // Once idle again, everything works.
  EXPECT_TRUE(burner.ClearTracks());
  EXPECT_GE(burner.GetFreeSpace(), 0);
}

TEST(Burner, DestroyingItDuringABurnStopsItsWorkersWithoutRaisingTheEvent) {
  TRecorderDir dir;
  dir.Edit([](TVRState& state) {
    state.Settings.Speed = 4;
    state.Settings.BufferKiB = 256;
  });
  bool called = false;
  {
    TBurnerRig rig;
    rig.Burner->OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool) { called = true; };
    ASSERT_TRUE(rig.Burner->AddTrack(DemoFile("02-theme.mp3"), 0, 450));
    ASSERT_TRUE(rig.Burner->Burn());
    rig.Burner.reset();  // joins the workers
    rig.Queue.RunPending();
  }
  EXPECT_FALSE(called);
  // The recorder is free again for the next user.
  TBurnerRig rig;
  EXPECT_GE(rig.Burner->GetFreeSpace(), 0);
}

TEST(Burner, AddTrackRefusesWhatIsNotAudio) {
  TRecorderDir dir;
  TBurnerRig rig;
  const auto text = dir.Path() / "notes.txt";
  std::ofstream(text) << "not audio at all\n";
  EXPECT_EQ(rig.Burner->GetFileLength(text.string()), 0);
  EXPECT_EQ(rig.Burner->GetLastFileKind(), 0);
  EXPECT_FALSE(rig.Burner->AddTrack(text.string(), 0, 450));
  EXPECT_FALSE(rig.Burner->AddTrack((dir.Path() / "missing.wav").string(), 0, 450));
  EXPECT_EQ(rig.Burner->GetErrorText(), "CAN'T OPEN FILE FOR READ");
  EXPECT_EQ(rig.Burner->GetTrackCount(), 0);
  EXPECT_EQ(rig.Burner->GetTotalSectors(), 0);
}

TEST(Burner, FreeSpaceOfBlankAppendableAndCompleteDiscs) {
  {
    TRecorderDir dir(TVRMediumKind::CDR80);
    TBurnerRig rig;
    EXPECT_EQ(rig.Burner->GetFreeSpace(), 359849);
    const std::string mp3 = DemoFile("02-theme.mp3");
    ASSERT_FALSE(BurnTracks(rig, {{mp3, rig.Burner->GetFileLength(mp3), 450}}).WithError);
    // Appendable: the free blocks of the next session's open track.
    const TVRState state = dir.Load();
    ASSERT_EQ(state.Disc.ClosedSessions(), 1);
    const std::int32_t free = rig.Burner->GetFreeSpace();
    EXPECT_GT(free, 0);
    EXPECT_LT(free, 359849 - state.Disc.Tracks[0].End());
  }
  {
    TRecorderDir dir(TVRMediumKind::CDROM);
    TBurnerRig rig;
    EXPECT_EQ(rig.Burner->GetFreeSpace(), 0);
  }
  {
    TRecorderDir dir(TVRMediumKind::None);
    TBurnerRig rig;
    EXPECT_EQ(rig.Burner->GetFreeSpace(), -1);
  }
}

TEST(Burner, ReadsTheMediumType) {
  const std::pair<TVRMediumKind, std::int32_t> media[] = {
      {TVRMediumKind::CDR80, 2}, {TVRMediumKind::CDRW74, 3}, {TVRMediumKind::DVDPlusRW, 10},
      {TVRMediumKind::None, 0}};
  for (const auto& [kind, code] : media) {
    TRecorderDir dir(kind);
    TBurnerRig rig;
    EXPECT_EQ(rig.Burner->GetMediumType(), code);
  }
}

TEST(Burner, ErrorTextsAreReadOnce) {
  TRecorderDir dir;
  TBurnerRig rig;
  rig.Burner->TakeLastError();  // the new medium's unit attention
  EXPECT_EQ(rig.Burner->GetErrorText(), "NO ERROR");
  EXPECT_FALSE(rig.Burner->Burn());
  EXPECT_EQ(rig.Burner->TakeLastError(), beNoTracks);
  EXPECT_EQ(rig.Burner->TakeLastError(), 0);
  EXPECT_EQ(GetBurnErrorText(12288), "DEVICE ERROR 12288");
  EXPECT_EQ(GetBurnErrorText(4), "ABORTED BY USER");
}

TEST(Burner, WithoutADriveEverythingFailsQuietly) {
  TKAudioCDBurner burner;  // FindDevices not called
  EXPECT_EQ(burner.GetDeviceCount(), 0);
  EXPECT_EQ(burner.GetDeviceName(0), "");
  EXPECT_FALSE(burner.Burn());
  EXPECT_EQ(burner.GetErrorText(), "NO DEVICE SELECTED");
  EXPECT_FALSE(burner.Erase(true));
  EXPECT_EQ(burner.GetFreeSpace(), -1);
  EXPECT_FALSE(burner.EjectMedium(true));
  EXPECT_EQ(burner.GetStatus(), bsIdle);
}

}  // namespace
}  // namespace cv
