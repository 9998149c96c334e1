#include "burner/cvAudWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <span>

#include "burner/cvAudCache.h"
#include "burner/cvDriveWait.h"
#include "burner/cvThreadLayer.h"
#include "device/cvSCSILib.h"

namespace cv {

namespace {

constexpr std::uint8_t kWritePage = 0x05;
constexpr std::uint16_t kDefaultPause = 150;  // two seconds
constexpr std::uint8_t kSessionOpen = 0x00;
constexpr std::uint8_t kSessionNext = 0xC0;   // multi-session 11b: another session may follow
constexpr std::uint16_t kModeSenseLength = 512;
}  // namespace

bool SetTrackWriteParameters(TSCSIDevice& Device, std::uint16_t PauseSectors, std::uint8_t SessionByte) {
  Device.WritePage.fill(0);
  std::span<std::uint8_t> reply(Device.Buffer.data(), kModeSenseLength);
  std::fill(reply.begin(), reply.end(), 0);
  if (!Device.ModeSense10(reply, kModeSenseLength, kWritePage, false)) return false;

  // Without a block descriptor the page follows the 8-byte mode header.
  const std::size_t offset = (reply[8] & 0x3F) == kWritePage ? 8 : 16;
  if ((reply[offset] & 0x3F) != kWritePage) return false;
  const std::uint8_t pageLength = reply[offset + 1];
  // The whole page (two header bytes and pageLength bytes) must lie in the
  // reply; a longer page than the drive can have answered is refused.
  if (pageLength < 14 || offset + 2 + pageLength > reply.size()) return false;

  auto& page = Device.WritePage;
  page[0] = kWritePage;
  page[1] = pageLength;
  // BUFE on, Test Write as the device asks, write type 1: track at once.
  page[2] = Device.TestWrite ? 0x51 : 0x41;
  page[3] = SessionByte;  // multi-session field; FP, copy off; track mode 0: audio
  page[4] = 0x00;         // data block type 0: raw 2352-byte audio
  page[8] = 0x00;         // session format CD-DA
  page[14] = static_cast<std::uint8_t>(PauseSectors >> 8);  // audio pause length
  page[15] = static_cast<std::uint8_t>(PauseSectors);

  // Over the sensed page; its last two bytes, and anything beyond our
  // 72-byte image, keep the drive's values.
  const std::size_t copy = std::min<std::size_t>(pageLength, page.size());
  std::copy_n(page.begin(), copy, reply.begin() + static_cast<std::ptrdiff_t>(offset));
  const auto length = static_cast<std::uint16_t>(offset + pageLength + 2);
  return Device.ModeSelect10(reply.first(length), length);
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
    if (track.LengthSectors <= 0) return beTrackEmpty;
    const int fd = ::open(track.FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return beCantOpenFile;
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!statted) return beCantOpenFile;
    TFileStamp now;
    now.Size = st.st_size;
    now.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (!(now == track.Stamp)) return beFileChanged;
    needed += TrackWriteSectors(track);
    if (i > 0) needed += track.PauseSectors;
  }

  if (!DriveReady(Device)) return Device.Sense[12] == kAscNoMedium ? beNoWritableDisc : beDriveNotReady;
  const TMediumType medium = Device.GetMediumType();
  if (medium != mtCDR && medium != mtCDRW) return beNoWritableDisc;
  if (!Device.ReadDiscInformation(Device.DiscInfo, 66)) return beDriveNotReady;
  if ((Device.DiscInfo[2] & 0x03) == 0x02) return beNoWritableDisc;
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
  Device.MediumType = Device.GetMediumType();
  Files.CachePrimed = false;
  if (!SetTrackWriteParameters(Device, kDefaultPause, kSessionOpen)) return refuse(beNone);
  Files.AbortRequested = false;
  Files.OnWriteDone = std::move(Handler);
  Files.Sender = Sender;

  Files.CacheThread = std::make_unique<TCacheThread>(Files, Hooks.Timings);
  const auto deadline = std::chrono::steady_clock::now() + Hooks.Timings.PrimeDeadline;
  while (!Files.CachePrimed.load()) {
    // The cache thread ended without priming (a file it could not decode):
    // the burn cannot start.
    if (Files.CacheFinished.load() || Files.CacheThread->Ended())
      return refuse(Files.ErrorCode.load() != beNone ? Files.ErrorCode.load() : beDataNotPrepared);
    if (std::chrono::steady_clock::now() >= deadline) return refuse(beDataNotPrepared);
    std::this_thread::sleep_for(Hooks.Timings.PrimePoll);
  }
  Files.WriteThread = std::make_unique<TWriteThread>(Files, Device, Hooks);
  return true;
}

void FireWriteDone(TAudioFiles& Files) {
  if (Files.OnWriteDone) Files.OnWriteDone(Files.Sender, 0, Files.WithError.load());
}

TWriteThread::TWriteThread(TAudioFiles& Files, TSCSIDevice& Device, const TBurnerHooks& Hooks)
    : Files_(Files), Device_(Device), Hooks_(Hooks) {
  Thread_ = std::jthread([this](std::stop_token stop) {
    SetCurrentThreadPriority(tpBelowNormal);
    Execute(stop);
    Ended_ = true;
  });
}

TWriteThread::~TWriteThread() {
  Thread_.request_stop();
  Join();
}

void TWriteThread::Join() {
  if (Thread_.joinable()) Thread_.join();
}

bool TWriteThread::WriteBlock(std::uint32_t lba, std::int32_t bytes, std::stop_token& stop) {
  const auto sectors = static_cast<std::uint16_t>(bytes / kSectorBytes);
  const std::span<const std::uint8_t> data(Files_.TransferBuffer.data(), static_cast<std::size_t>(bytes));
  for (int attempt = 1;; ++attempt) {
    if (Device_.WriteSectors(lba, sectors, data, static_cast<std::uint32_t>(bytes))) return true;
    // Busy or not ready: the same block again at the same address.
    const bool retry = Device_.Busy || Device_.Sense[12] == kAscNotReady;
    if (!retry || attempt >= Hooks_.Timings.WriteAttempts) return false;
    if (!SleepFor(stop, Hooks_.Timings.WriteRetry)) return false;
  }
}

void TWriteThread::Execute(std::stop_token stop) {
  Files_.CurrentTrack = 0;
  Files_.SetStatus(bsWriting);
  std::uint32_t lba = 0;
  int countdown = 2;
  bool failed = false;
  std::uint16_t failedSense = 0;

  Device_.BufferFree = 0;
  Device_.BufferLength = 0;
  const TMediumType medium = Device_.MediumType;

  // Preparation.
  Device_.SynchronizeCache(false);
  Device_.RezeroUnit();
  SetTrackWriteParameters(Device_, kDefaultPause, kSessionOpen);
  Device_.ReadDiscInformation(Device_.DiscInfo, 66);
  const std::uint8_t last = Device_.GetLastTrackNumber();
  if (Device_.ReadTrackInformation(last)) lba = Device_.TrackInfo.NextWritable;
  else if (Device_.ReadTrackInformation(1)) lba = Device_.TrackInfo.TrackStart;
  SetTrackWriteParameters(Device_, kDefaultPause, kSessionOpen);
  Device_.SetCDSpeed(Device_.ReadSpeed, Device_.WriteSpeed);
  Device_.CloseAfterCommand = false;
  Files_.SectorsWritten = 0;

  // Writing.
  for (;;) {
    if (stop.stop_requested()) {
      failed = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::int32_t n = TakeBlock(Files_);
    if (n == 0) break;
    if (n < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (Files_.NewTrack) {
      Files_.SetStatus(bsClosingTrack);
      Device_.SynchronizeCache(false);
      SetTrackWriteParameters(Device_, Files_.BlockPause, kSessionOpen);
      if (Device_.ReadTrackInformation(Device_.GetLastTrackNumber())) lba = Device_.TrackInfo.NextWritable;
      Files_.CurrentTrack.fetch_add(1);
    }
    Files_.SetStatus(bsWriting);
    const std::int32_t sectors = n / kSectorBytes;
    if (!WriteBlock(lba, n, stop)) {
      failed = true;
      if (Device_.Sense[12] != 0)
        failedSense = static_cast<std::uint16_t>(Device_.Sense[12] << 8 | Device_.Sense[13]);
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
  // The cache gave up on a track (it could no longer be read): the burn ends
  // as a failed one, with the cache's error code.
  if (Files_.CacheFailed.load()) failed = true;

  if (failed) {
    Files_.AbortRequested = true;
    SleepFor(stop, Hooks_.Timings.FailurePause);
    Files_.SetStatus(bsBurnError);
  } else {
    Files_.SetStatus(bsClosingSession);
  }
  CloseOut(failed, stop);
  // The error text names the failed write's sense, not a side effect of the
  // close-out.
  if (failedSense != 0) Device_.LastSenseCode = failedSense;
  else if (failed && !Files_.ErrorRaised.load()) Files_.RaiseError(beWriteFailed);
  Files_.WithError = failed || Files_.ErrorRaised.load();

  RunDispatched(Hooks_, [this] { FireWriteDone(Files_); }, stop);
  if (Hooks_.Beep) Hooks_.Beep();
  Files_.SetStatus(bsIdle);
  Files_.Running = false;
}

void TWriteThread::CloseOut(bool failed, std::stop_token& stop) {
  (void)failed;
  Device_.CloseAfterCommand = true;
  SetTrackWriteParameters(Device_, kDefaultPause, kSessionNext);
  Device_.SynchronizeCache(true);

  {
    TDriveWait wait(Hooks_.Timings, stop);
    bool ok = false;
    do {
      if (!wait.Nap()) break;
      ok = Device_.ReadDiscInformation(std::span(Device_.Buffer.data(), 42), 42);
    } while (NotReady(Device_, ok));
  }
  if (Device_.MediumType != mtDVDRAM) {
    TDriveWait wait(Hooks_.Timings, stop);
    bool ok = false;
    do {
      ok = Device_.TestUnitReady();
      if (!wait.Nap()) break;
    } while (NotReady(Device_, ok));
  }
  Device_.BufferFree = 0;
  Device_.BufferLength = 0;
  Files_.BufferFree = 0;
  Files_.BufferLength = 0;
  SetTrackWriteParameters(Device_, kDefaultPause, kSessionNext);
  Device_.CloseTrackSession(false, true);
  {
    TDriveWait wait(Hooks_.Timings, stop);
    for (;;) {
      const bool ok = Device_.ReadDiscInformation(std::span(Device_.Buffer.data(), 42), 42);
      if (!NotReady(Device_, ok)) break;
      if (!wait.Nap()) break;
    }
  }
  Device_.AllowMediumRemoval();
  Device_.LoadMedium(false);
  Device_.RezeroUnit();
  Device_.TestUnitReady();
}

}  // namespace cv
