#include "burner/cvAudWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <span>
#include <vector>

#include "burner/cvAudCache.h"
#include "burner/cvDriveWait.h"
#include "burner/cvThreadLayer.h"
#include "device/cvSCSILib.h"
#include "device/cvSense.h"

namespace cv {

namespace {

constexpr std::uint16_t kDefaultPause = 150;  // two seconds
constexpr std::uint8_t kSessionOpen = 0x00;
// Longest single wait of the writer for the cache's next block (the loop
// around it checks for a stop and a cancel).
constexpr std::chrono::milliseconds kTakeWait{100};

// Disc information byte 2: disc status (bits 1-0) and state of the last
// session (bits 3-2).
constexpr std::uint8_t kDiscComplete = 0x02;
constexpr std::uint8_t kSessionEmpty = 0x00;
constexpr std::uint8_t kSessionIncomplete = 0x01;

std::uint8_t DiscStatus(const TSCSIDevice& device) { return device.DiscInfo[2] & 0x03; }
std::uint8_t LastSessionState(const TSCSIDevice& device) { return (device.DiscInfo[2] >> 2) & 0x03; }
// Track information byte 5 bit 5: Damage; byte 6 bit 6: Blank; byte 7 bit
// 0: NWA valid.
bool TrackDamaged(const TTrackInfo& info) { return (info.Bytes[5] & 0x20) != 0; }
bool TrackBlank(const TTrackInfo& info) { return (info.Bytes[6] & 0x40) != 0; }
bool TrackNwaValid(const TTrackInfo& info) { return (info.Bytes[7] & 0x01) != 0; }

// The writer's page for one track: the burn's page with its pause, the
// session left open for the next track.
TWritePage WritePageWith(const TWritePage& Base, std::uint16_t PauseSectors) {
  TWritePage page = Base;
  page.MultiSession = msNone;
  page.AudioPauseLength = PauseSectors;
  return page;
}

}  // namespace

bool SetTrackWriteParameters(TSCSIDevice& Device, const TWritePage& Page) {
  return SendWritePage(Device, Page.Image(), kAudioWritePageLength);
}

bool SetTrackWriteParameters(TSCSIDevice& Device, std::uint16_t PauseSectors, std::uint8_t SessionByte) {
  TWritePage page;  // track at once, BUFE on, raw audio
  page.MultiSession = static_cast<TMultiSession>(SessionByte >> 6);
  page.AudioPauseLength = PauseSectors;
  return SetTrackWriteParameters(Device, page);
}

std::int32_t GetFreeSpace(TSCSIDevice& Device) {
  const bool pageSet = SetTrackWriteParameters(Device, kDefaultPause, kSessionOpen);
  if (!Device.ReadDiscInformation(Device.DiscInfo, 66)) return -1;
  // A complete disc has no room, whatever its last track reports.
  if ((Device.DiscInfo[2] & 0x03) == 0x02) return 0;
  if (!pageSet) return -1;
  if (!Device.ReadTrackInformation(Device.DiscInfo[6])) return -1;
  return static_cast<std::int32_t>(std::min<std::uint32_t>(Device.TrackInfo.FreeBlocks, 0x7FFFFFFF));
}

std::int32_t PreflightBurn(TAudioFiles& Files, TSCSIDevice& Device) {
  if (Files.TrackCount <= 0) return beNoTracks;
  std::int64_t needed = 0;
  for (std::int32_t i = 0; i < Files.TrackCount; ++i) {
    const TAudioFilesToBurn& track = Files.Tracks[static_cast<std::size_t>(i)];
    if (track.LengthSectors <= 0) {
      Files.SetErrorDetail(track.FileName + ": no audio was measured in it");
      return beTrackEmpty;
    }
    const int fd = ::open(track.FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      Files.SetErrorDetail(track.FileName + ": " + std::strerror(errno));
      return beCantOpenFile;
    }
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!statted) {
      Files.SetErrorDetail(track.FileName + ": cannot be read");
      return beCantOpenFile;
    }
    TFileStamp now;
    now.Size = st.st_size;
    now.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (!(now == track.Stamp)) {
      Files.SetErrorDetail(track.FileName +
                           ": changed since it was measured (size or time differ); remove it and add it again");
      return beFileChanged;
    }
    needed += TrackWriteSectors(track);
    if (i > 0) needed += track.PauseSectors;
  }

  if (!DriveReady(Device))
    return LastCommandClass(Device, false) == TSenseClass::NoMedium ? beNoWritableDisc : beDriveNotReady;
  const TMediumType medium = Device.GetMediumType();
  if (medium != mtCDR && medium != mtCDRW) return beNoWritableDisc;
  if (!Device.ReadDiscInformation(Device.DiscInfo, 66)) return beDriveNotReady;
  if (DiscStatus(Device) == kDiscComplete) return beNoWritableDisc;
  // A track or session left open by an earlier burn (or a damaged last
  // track) cannot be cleanly continued: the new audio would be joined to it.
  if (LastSessionState(Device) == kSessionIncomplete) return beDiscOpen;
  if (Device.ReadTrackInformation(Device.DiscInfo[6]) && TrackDamaged(Device.TrackInfo)) return beDiscOpen;
  // The first track of this burn gets the number of the open track.
  const std::int32_t firstNumber = std::max<std::int32_t>(1, Device.DiscInfo[6]);
  if (firstNumber + Files.TrackCount - 1 > kMaxTracks) return beTooManyTracks;
  const std::int32_t free = GetFreeSpace(Device);
  if (free < 0) return beDriveNotReady;
  if (needed > free) return beNotEnoughSpace;
  return beNone;
}

bool StartBurn(TAudioFiles& Files, TSCSIDevice& Device, TKAudioCDBurner* Sender, TWriteDoneEvent Handler,
               const TBurnerHooks& Hooks) {
  StopWorkers(Files);
  ResetBurnState(Files);
  Files.StatusObserver = Hooks.StatusObserver;
  Files.Running = true;
  Files.SetStatus(bsPreparing);

  auto refuse = [&](std::int32_t code) {
    if (Files.CacheThread) {
      Files.CacheThread->RequestStop();
      Files.CacheThread->Join();
    }
    ReleaseCache(Files);
    if (code != beNone) Files.RaiseError(code);
    Files.SetStatus(bsIdle);
    Files.Running = false;
    return false;
  };

  if (const std::int32_t code = PreflightBurn(Files, Device); code != beNone) return refuse(code);
  // From here on the error text reports what this burn ran into.
  Device.LastSenseCode = 0;
  Device.LastSenseKey = 0;
  Device.MediumType = Device.GetMediumType();
  if (!SetTrackWriteParameters(Device, WritePageWith(Files.WritePage, kDefaultPause))) return refuse(beNone);
  Files.OnWriteDone = std::move(Handler);
  Files.Sender = Sender;

  // The cache holds seconds of audio at the speed the drive will write.
  const std::int32_t speedX = Device.WriteSpeed != 0 ? Device.WriteSpeed : Device.MaxWriteSpeed;
  Files.CacheThread =
      std::make_unique<TCacheThread>(Files, Hooks.Timings, CacheBytesForSpeed(Files.CacheSize, speedX));
  // The cache thread wakes this wait as soon as it has primed or ended.
  const auto deadline = std::chrono::steady_clock::now() + Hooks.Timings.PrimeDeadline;
  while (!Files.Blocks.WaitPrimed(Hooks.Timings.PrimePoll)) {
    // The cache thread ended without priming (a file it could not decode):
    // the burn cannot start.
    if (Files.Blocks.Finished() || Files.CacheThread->Ended())
      return refuse(Files.ErrorCode.load() != beNone ? Files.ErrorCode.load() : beDataNotPrepared);
    if (std::chrono::steady_clock::now() >= deadline) return refuse(beDataNotPrepared);
  }
  // The tray stays shut while the disc is written; the close-out allows
  // removal again.
  Device.PreventMediumRemoval();
  Files.WriteThread = std::make_unique<TWriteThread>(Files, Device, Hooks);
  return true;
}

void FireWriteDone(TAudioFiles& Files) {
  if (Files.OnWriteDone) Files.OnWriteDone(Files.Sender, 0, Files.WithError.load());
}

bool WriteSectorsRetried(TSCSIDevice& Device, std::uint32_t Lba, std::span<const std::uint8_t> Data,
                         const TBurnTimings& Timings, std::stop_token& Stop, std::uint16_t Blocks) {
  const auto sectors = Blocks != 0 ? Blocks : static_cast<std::uint16_t>(Data.size() / kSectorBytes);
  const auto bytes = static_cast<std::uint32_t>(Data.size());
  for (int attempt = 1;; ++attempt) {
    const bool written = Device.WriteSectors(Lba, sectors, Data, bytes);
    // Busy or not ready: the same block again at the same address.
    switch (LastCommandClass(Device, written)) {
      case TSenseClass::Good: return true;
      case TSenseClass::Retry:
      case TSenseClass::NotReady: break;
      default: return false;
    }
    if (attempt >= Timings.WriteAttempts) return false;
    if (!SleepFor(Stop, Timings.WriteRetry)) return false;
  }
}

bool FinishOpenTrack(TSCSIDevice& Device, const TBurnTimings& Timings, std::stop_token& Stop) {
  if (!Device.ReadDiscInformation(Device.DiscInfo, 66)) return false;
  if (LastSessionState(Device) != kSessionIncomplete) return true;
  if (!Device.ReadTrackInformation(Device.DiscInfo[6])) return false;
  const TTrackInfo info = Device.TrackInfo;
  if (TrackBlank(info) || !TrackNwaValid(info) || TrackDamaged(info)) return true;  // no open track to finish
  const std::int64_t written = std::int64_t{info.NextWritable} - info.TrackStart;
  if (written <= 0 || written >= kMinTrackSectors) return true;

  constexpr std::int32_t kChunk = CacheBlockSize / kSectorBytes;
  const std::vector<std::uint8_t> silence(static_cast<std::size_t>(kChunk) * kSectorBytes, 0);
  std::uint32_t lba = info.NextWritable;
  for (auto left = static_cast<std::int32_t>(kMinTrackSectors - written); left > 0;) {
    const std::int32_t n = std::min(left, kChunk);
    const std::span<const std::uint8_t> data(silence.data(), static_cast<std::size_t>(n) * kSectorBytes);
    if (!WriteSectorsRetried(Device, lba, data, Timings, Stop)) return false;
    lba += static_cast<std::uint32_t>(n);
    left -= n;
  }
  return true;
}

std::int32_t CloseSession(TSCSIDevice& Device, const TBurnTimings& Timings, std::stop_token& Stop,
                          const TWritePage& Page, TSense* Refused) {
  std::int32_t error = beNone;
  auto fail = [&](std::int32_t code) {
    if (error != beNone) return;
    error = code;
    if (Refused) *Refused = DecodeSense(Device.Sense);
  };
  auto note = [&](TPollEnd end) {
    if (end != TPollEnd::Done) fail(end == TPollEnd::Deadline ? beDriveTimeout : beDiscNotClosed);
  };
  const std::span<std::uint8_t> info(Device.Buffer.data(), 42);
  auto discInfoAnswer = [&] { return PollAnswerOf(Device, Device.ReadDiscInformation(info, 42)); };

  TWritePage closing = Page;
  closing.AudioPauseLength = kDefaultPause;

  Device.CloseAfterCommand = true;
  SetTrackWriteParameters(Device, closing);
  // Closes the open track; a track the drive cannot close shows in the
  // check after the close-out.
  Device.SynchronizeCache(true);
  note(PollDrive(Timings, Stop, true, discInfoAnswer));
  if (Device.MediumType != mtDVDRAM)
    note(PollDrive(Timings, Stop, false, [&] { return PollAnswerOf(Device, Device.TestUnitReady()); }));
  Device.BufferFree = 0;
  Device.BufferLength = 0;
  SetTrackWriteParameters(Device, closing);
  // A session that holds nothing is not closed (the drive would refuse):
  // the disc stays as it was.
  const bool empty = Device.ReadDiscInformation(Device.DiscInfo, 66) && LastSessionState(Device) == kSessionEmpty;
  if (!empty) {
    if (!Device.CloseTrackSession(false, true)) fail(beDiscNotClosed);
    note(PollDrive(Timings, Stop, false, discInfoAnswer));
  }
  Device.AllowMediumRemoval();
  Device.LoadMedium(false);
  Device.RezeroUnit();
  Device.TestUnitReady();
  return error;
}

TDiscCheck CheckDisc(TSCSIDevice& Device) {
  TDiscCheck check;
  DriveReady(Device);  // a load may leave a unit attention
  if (!Device.ReadDiscInformation(Device.DiscInfo, 66)) return check;
  check.Read = true;
  check.Complete = DiscStatus(Device) == kDiscComplete;
  check.SessionOpen = LastSessionState(Device) == kSessionIncomplete;
  if (Device.ReadTrackInformation(Device.DiscInfo[6])) {
    const TTrackInfo& info = Device.TrackInfo;
    check.TrackDamaged = TrackDamaged(info);
    if (check.SessionOpen && !TrackBlank(info)) {
      check.OpenTrack = Device.DiscInfo[6];
      const std::uint32_t end = TrackNwaValid(info) ? info.NextWritable : info.LastRecorded + 1;
      check.OpenTrackSectors = end > info.TrackStart ? static_cast<std::int32_t>(end - info.TrackStart) : 0;
    }
  }
  return check;
}

std::string DiscStateText(const TDiscCheck& Check, std::int32_t TracksStarted, std::int32_t SectorsWritten) {
  if (!Check.Read) return "the disc's state could not be read back from the drive";
  if (TracksStarted == 0 || SectorsWritten == 0) {
    if (Check.SessionOpen) return "nothing was written, but the disc's last session is still open";
    return "nothing was written: the disc is as it was";
  }
  if (Check.SessionOpen || Check.TrackDamaged) {
    std::string text = Check.OpenTrack > 0 ? "track " + std::to_string(Check.OpenTrack) + " was left open (" +
                                                  std::to_string(Check.OpenTrackSectors) + " sectors)"
                                            : std::string("the session was left open");
    if (Check.TrackDamaged) text = "the last track is damaged";
    return text + ": the disc cannot be played or continued; erase a CD-RW, a CD-R is lost";
  }
  std::string text = "the session is closed with " + std::to_string(TracksStarted) +
                     (TracksStarted == 1 ? " track" : " tracks") + " (" +
                     SectorsToMSFText(static_cast<std::uint32_t>(SectorsWritten)) + "): the disc plays";
  text += Check.Complete ? " and is complete" : ", and another session can be added";
  return text;
}

TWriteThread::TWriteThread(TAudioFiles& Files, TSCSIDevice& Device, const TBurnerHooks& Hooks)
    : Files_(Files), Device_(Device), Hooks_(Hooks) {
  // A real drive is waited for with the periods it is built around; an
  // emulated one at the pace of its emulation.
  Hooks_.Timings = PacedTimings(Hooks.Timings, Device.DrivePace());
  Thread_ = StartWritingThread([this](std::stop_token stop) { Execute(stop); }, Ended_);
}

TWriteThread::~TWriteThread() {
  Thread_.request_stop();
  Join();
}

void TWriteThread::Join() {
  if (Thread_.joinable()) Thread_.join();
}

void TWriteThread::Execute(std::stop_token stop) {
  Files_.CurrentTrack = 0;
  Files_.SetStatus(bsWriting);
  std::uint32_t lba = 0;
  int countdown = 2;
  bool failed = false;
  bool cancelled = false;
  TSense failedSense;

  Device_.BufferFree = 0;
  Device_.BufferLength = 0;
  const TMediumType medium = Device_.MediumType;
  // Track at once, BUFE, raw audio; Test Write when the component asks.
  const TWritePage page = WritePageWith(Files_.WritePage, kDefaultPause);

  // Preparation.
  Device_.SynchronizeCache(false);
  Device_.RezeroUnit();
  SetTrackWriteParameters(Device_, page);
  Device_.ReadDiscInformation(Device_.DiscInfo, 66);
  const std::uint8_t last = Device_.GetLastTrackNumber();
  if (Device_.ReadTrackInformation(last)) lba = Device_.TrackInfo.NextWritable;
  else if (Device_.ReadTrackInformation(1)) lba = Device_.TrackInfo.TrackStart;
  SetTrackWriteParameters(Device_, page);
  Device_.SetCDSpeed(Device_.ReadSpeed, Device_.WriteSpeed);
  Device_.CloseAfterCommand = false;
  Files_.SectorsWritten = 0;

  // Writing.
  for (;;) {
    if (stop.stop_requested()) {
      failed = true;
      break;
    }
    if (Files_.CancelRequested.load()) {
      failed = cancelled = true;
      break;
    }
    SleepFor(stop, Hooks_.Timings.BlockPause);
    // Waits for the cache thread's next block (or the end of the data).
    const std::int32_t n = WaitTakeBlock(Files_, kTakeWait, stop);
    if (n == 0) break;
    if (n < 0) continue;
    if (Files_.NewTrack) {
      Files_.SetStatus(bsClosingTrack);
      Device_.SynchronizeCache(false);
      SetTrackWriteParameters(Device_, WritePageWith(page, Files_.BlockPause));
      if (Device_.ReadTrackInformation(Device_.GetLastTrackNumber())) lba = Device_.TrackInfo.NextWritable;
      Files_.CurrentTrack.fetch_add(1);
    }
    Files_.SetStatus(bsWriting);
    const std::int32_t sectors = n / kSectorBytes;
    const std::span<const std::uint8_t> data(Files_.TransferBuffer.data(), static_cast<std::size_t>(n));
    if (!WriteSectorsRetried(Device_, lba, data, Hooks_.Timings, stop)) {
      failed = true;
      failedSense = DecodeSense(Device_.Sense);
      break;
    }
    if (--countdown < 0 && medium != mtDVDRAM) {
      Device_.ReadBufferCapacity();
      Files_.BufferLength = Device_.BufferLength;
      Files_.BufferFree = Device_.BufferFree;
      countdown = 5;
    }
    lba += static_cast<std::uint32_t>(sectors);
    Files_.SectorsWritten.fetch_add(sectors);
  }
  // From here the close must finish: a cancel is refused.
  Files_.ClosingOut = true;
  // The cache gave up on a track (it could no longer be read): the burn ends
  // as a failed one, with the cache's error code.
  if (Files_.CacheFailed.load()) failed = true;
  if (cancelled) Files_.RaiseError(beAbortedByUser);

  if (failed) {
    Files_.Blocks.Abort();
    SleepFor(stop, Hooks_.Timings.FailurePause);
    Files_.SetStatus(cancelled ? bsAborting : bsBurnError);
    // What was written stays playable: a track too short to be closed is
    // finished with silence first.
    Device_.CloseAfterCommand = false;
    FinishOpenTrack(Device_, Hooks_.Timings, stop);
  } else {
    Files_.SetStatus(bsClosingSession);
  }
  // The disc stays appendable unless the burn succeeded and was asked to
  // close it.
  TWritePage closing = page;
  closing.MultiSession = Files_.CloseDisc && !failed ? msNone : msNext;
  TSense refused;
  const std::int32_t closeError = CloseSession(Device_, Hooks_.Timings, stop, closing, &refused);
  const TDiscCheck check = CheckDisc(Device_);
  // A simulated burn writes nothing: the state says so, whatever was sent.
  if (page.TestWrite)
    Files_.SetDiscState("simulated burn, " + DiscStateText(check, 0, 0));
  else
    Files_.SetDiscState(DiscStateText(check, Files_.CurrentTrack.load(), Files_.SectorsWritten.load()));
  const bool closed = check.Closed() || (!check.SessionOpen && check.Read && Files_.SectorsWritten.load() == 0);

  // The error text names the failed write's sense, not a side effect of the
  // close-out; without a failure of its own, a close that did not hold is
  // the burn's error.
  if (failedSense.Asc != 0) {
    Device_.LastSenseCode = failedSense.Code();
    Device_.LastSenseKey = failedSense.Key;
  } else if (failed && !Files_.ErrorRaised.load()) {
    Files_.RaiseError(beWriteFailed);
  }
  if (!failed && !Files_.ErrorRaised.load()) {
    if (closeError != beNone) Files_.RaiseError(closeError);
    else if (!closed) Files_.RaiseError(beDiscNotClosed);
    // The drive's words for the close command it refused, if any.
    if (Files_.ErrorRaised.load() && refused.Valid) Files_.SetErrorDetail(SenseWords(refused));
  }
  Files_.WithError = failed || Files_.ErrorRaised.load() || !closed;

  // The drive is free for other programs again (the close-out closed the
  // node after its last command).
  Device_.SetExclusive(false);
  RunDispatched(Hooks_, [this] { FireWriteDone(Files_); }, stop);
  if (Hooks_.Beep) Hooks_.Beep();
  Files_.SetStatus(bsIdle);
  Files_.Running = false;
}

}  // namespace cv
