#include "burner/cvAudioCDBurner.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <cstring>
#include <exception>

#include "burner/cvAudCache.h"
#include "burner/cvAudWriter.h"
#include "burner/cvBurnHooks.h"
#include "burner/cvBurnRecord.h"
#include "burner/cvDriveWait.h"
#include "burner/cvErase.h"
#include "burner/cvSAOWriter.h"
#include "burner/cvTrackSource.h"
#include "device/cvIOError.h"
#include "device/cvSCSILib.h"
#include "device/cvSense.h"

namespace cv {

TKAudioCDBurner::TKAudioCDBurner()
    : Files(std::make_unique<TAudioFiles>()),
      Device(std::make_unique<TSCSIDevice>()),
      EraseJob(std::make_unique<TEraseJob>()),
      Hooks(std::make_unique<TBurnerHooks>()),
      SAOOptions(std::make_unique<TSAOOptions>()) {}

TKAudioCDBurner::~TKAudioCDBurner() {
  // Routines still queued on the dispatcher do nothing from now on.
  {
    std::lock_guard lock(Hooks->Alive->Mutex);
    Hooks->Alive->Alive = false;
  }
  // The workers use the device: stop and join them before it goes.
  EraseJob->Thread.reset();
  StopWorkers(*Files);
}

void TKAudioCDBurner::SetError(std::int32_t code, std::string detail) {
  Refusal = code;
  RefusalDetail = std::move(detail);
}

void TKAudioCDBurner::BeginOperation() {
  Refusal = 0;
  RefusalDetail.clear();
}

bool TKAudioCDBurner::NoteDriveProblem() {
  if (Device->DriveProblem.empty()) return false;
  SetError(beDriveUnavailable, Device->DriveProblem);
  return true;
}

bool TKAudioCDBurner::RefuseWhenBusy() {
  BeginOperation();
  if (!IsBusy()) return false;
  SetError(beBusy);
  return true;
}

bool TKAudioCDBurner::IsBusy() const {
  if (Files->Running.load() || EraseJob->Running.load()) return true;
  // The cache thread may outlive the write thread's end of the burn.
  if (Files->CacheThread && !Files->CacheThread->Ended()) return true;
  if (Files->SAOBurn && Files->SAOBurn->Writer && !Files->SAOBurn->Writer->Ended()) return true;
  return Files->WriteThread && !Files->WriteThread->Ended();
}

bool TKAudioCDBurner::Cancel() {
  BeginOperation();
  if (!Files->Running.load() || (!Files->WriteThread && !Files->SAOBurn)) {
    SetError(beNothingToCancel);
    return false;
  }
  // Once cancelled (or closing), the close must finish.
  if (Files->ClosingOut.load() || Files->CancelRequested.load()) {
    SetError(beCloseRunning);
    return false;
  }
  Files->CancelRequested = true;
  return true;
}

std::string TKAudioCDBurner::GetErrorDetail() const { return TakenDetail; }

std::string TKAudioCDBurner::GetDiscState() const { return Files->GetDiscState(); }

TFileStamp TKAudioCDBurner::GetLastFileStamp() const { return LastFileStamp; }

bool TKAudioCDBurner::GetMeasuredStamp(const std::string& FileName, TFileStamp& Stamp) const {
  const auto measured = MeasuredStamps.find(FileName);
  if (measured == MeasuredStamps.end()) return false;
  Stamp = measured->second;
  return true;
}

std::vector<std::uint16_t> TKAudioCDBurner::GetWriteSpeeds() {
  // Mode page 2Ah: the number of write speed descriptors in bytes 30-31,
  // the descriptors from byte 32, four bytes each, the speed in kB/s in
  // their last two (big-endian; ReadCapabilities leaves them as sent).
  std::vector<std::uint16_t> speeds;
  if (RefuseWhenBusy() || SelectedIndex < 0) return speeds;
  // Read afresh: the list may depend on the disc, and a unit attention
  // may have kept the page from being read when the drive was selected.
  DriveReady(*Device);
  Device->ReadCapabilities();
  const auto& page = Device->Capabilities;
  if ((page[0] & 0x3F) != 0x2A || page[1] < 30) return speeds;
  const std::size_t pageEnd = std::min<std::size_t>(page.size(), std::size_t{page[1]} + 2);
  const std::size_t count = ReadBE16(page, 30);
  for (std::size_t i = 0; i < count && 32 + 4 * i + 4 <= pageEnd; ++i) {
    const std::uint16_t kbps = ReadBE16(page, 32 + 4 * i + 2);
    if (kbps == 0) continue;
    const auto x = static_cast<std::uint16_t>((kbps * 10 + 882) / 1764);  // nearest multiple of 176.4
    if (x != 0 && std::find(speeds.begin(), speeds.end(), x) == speeds.end()) speeds.push_back(x);
  }
  std::sort(speeds.begin(), speeds.end(), std::greater<>());
  return speeds;
}

bool TKAudioCDBurner::SetWriteSpeed(std::uint16_t SpeedX) {
  if (RefuseWhenBusy()) return false;
  Device->WriteSpeed = static_cast<std::uint8_t>(std::min<std::uint16_t>(SpeedX, 255));
  return true;
}

std::uint16_t TKAudioCDBurner::GetWriteSpeed() const { return Device->WriteSpeed; }

bool TKAudioCDBurner::SetCloseDisc(bool Close) {
  if (RefuseWhenBusy()) return false;
  Files->CloseDisc = Close;
  return true;
}

bool TKAudioCDBurner::GetCloseDisc() const { return Files->CloseDisc; }

std::uint8_t TKAudioCDBurner::GetDeviceCount() const { return static_cast<std::uint8_t>(DeviceNames.size()); }

std::string TKAudioCDBurner::GetDeviceName(std::uint8_t Index) const {
  return Index < DeviceNames.size() ? DeviceNames[Index] : std::string();
}

std::string TKAudioCDBurner::GetDevicePath(std::uint8_t Index) const {
  return Index < DevicePaths.size() ? DevicePaths[Index] : std::string();
}

std::int32_t TKAudioCDBurner::GetSelectedDevice() const { return SelectedIndex; }

std::uint16_t TKAudioCDBurner::GetSupportedKinds() {
  try {
    return SupportedAudioKinds();
  } catch (const std::exception&) {
    return 0x02;  // WAV needs no codec
  }
}

bool TKAudioCDBurner::SelectDevice(std::uint8_t Index) {
  if (RefuseWhenBusy()) return false;
  if (Index >= DeviceNames.size()) return false;
  const bool answered = Device->SelectDevice(Index);
  // Selected even when the drive did not answer INQUIRY.
  SelectedIndex = Index;
  return answered;
}

std::int32_t TKAudioCDBurner::GetFileLength(const std::string& FileName) {
  BeginOperation();
  LastFileKind = 0;
  LastFileStamp = TFileStamp{};
  LastFileSamples = 0;
  try {
    // Stamped before measuring: a file that changes while it is measured
    // no longer matches when it is burned.
    TFileStamp stamp;
    if (!ReadFileStamp(FileName, stamp)) {
      SetError(beCantOpenFile, FileName + ": " + std::strerror(errno));
      return 0;
    }
    TTrackDecoder decoder(FileName);
    LastFileKind = decoder.FileKind();
    if (LastFileKind == 0) return 0;
    const std::int32_t length = decoder.MeasureSectors();
    LastFileSamples = decoder.FileSamples();
    LastFileStamp = stamp;
    MeasuredStamps[FileName] = stamp;
    return length;
  } catch (const std::exception& e) {
    SetError(beCantOpenFile, FileName + ": " + e.what());
    return 0;
  }
}

std::uint8_t TKAudioCDBurner::GetLastFileKind() const { return LastFileKind; }

std::int64_t TKAudioCDBurner::GetLastFileSamples() const { return LastFileSamples; }

bool TKAudioCDBurner::EjectMedium(bool Immediate) {
  if (RefuseWhenBusy()) return false;
  const bool done = Device->EjectMedium(Immediate);
  if (!done) NoteDriveProblem();
  return done;
}

bool TKAudioCDBurner::LoadMedium(bool Immediate) {
  if (RefuseWhenBusy()) return false;
  const bool done = Device->LoadMedium(Immediate);
  if (!done) NoteDriveProblem();
  return done;
}

void TKAudioCDBurner::FindDevices() {
  if (RefuseWhenBusy()) return;
  (void)Device->FindDevices();
  SelectedIndex = -1;
  DeviceNames.clear();
  DevicePaths.clear();
  UnopenedDrives.clear();
  const std::uint16_t count = Device->GetDeviceCount();
  for (std::uint16_t i = 0; i < count && i < Device->Devices.size(); ++i) {
    const char* name = Device->GetDeviceName(static_cast<std::uint8_t>(i));
    DeviceNames.emplace_back(name ? name : "");
    DevicePaths.emplace_back(Device->Devices[i].Path);
  }
  for (const TUnopenedNode& node : Device->Unopened) UnopenedDrives.push_back(node.Text);
}

std::vector<std::string> TKAudioCDBurner::GetUnopenedDrives() const { return UnopenedDrives; }

bool TKAudioCDBurner::ClearTracks() {
  if (RefuseWhenBusy()) return false;
  return cv::ClearTracks(*Files);
}

bool TKAudioCDBurner::Burn() {
  if (RefuseWhenBusy()) return false;
  if (SelectedIndex < 0) {
    SetError(beNoDevice);
    return false;
  }
  // A refusal of an earlier call does not outlive the burn into its event.
  TWriteDoneEvent done = [this, handler = OnWriteDone](TKAudioCDBurner* sender, std::uint16_t id, bool withError) {
    Refusal = 0;
    if (handler) handler(sender, id, withError);
  };
  // The drive is this process's alone for the burn (the write thread lets
  // it go at its end).
  Device->SetExclusive(true);
  auto refused = [this] {
    Device->SetExclusive(false);
    if (NoteDriveProblem()) Files->ErrorCode = beNone;
    return false;
  };
  if (WriteMode != TWriteMode::SessionAtOnce) {
    if (StartBurn(*Files, *Device, this, std::move(done), *Hooks)) return true;
    return refused();
  }

  BurnNotes.clear();
  if (StartSAOBurn(*Files, *Device, this, done, *Hooks, *SAOOptions, BurnNotes)) return true;
  // A drive that cannot write Session-At-Once, or takes none of the cue
  // sheet's forms, refused before anything was written: the tracks go
  // Track-At-Once, as burning programs fall back, and a note says what the
  // disc lacks. A Session-At-Once test write falls back only to a
  // Track-At-Once test write (SetTestWrite), never to a real burn.
  const std::int32_t code = Files->ErrorCode.load();
  if ((code != beSAOUnsupported && code != beCueSheetRefused) || !SAOOptions->FallBackToTrackAtOnce ||
      (SAOOptions->TestWrite && !Files->WritePage.TestWrite))
    return refused();
  BurnNotes.clear();  // notes about the texts and codes that the disc now will not carry
  BurnNotes.push_back(std::string(code == beSAOUnsupported ? "the drive cannot write Session-At-Once"
                                                            : "the drive refused every form of the disc layout") +
                      ": the disc is written Track-At-Once instead (joins are not gapless; no CD-TEXT, ISRC "
                      "or MCN)");
  if (StartBurn(*Files, *Device, this, std::move(done), *Hooks)) return true;
  return refused();
}

void TKAudioCDBurner::SetWriteMode(TWriteMode Mode, const TSAOOptions& Options) {
  if (RefuseWhenBusy()) return;
  WriteMode = Mode;
  *SAOOptions = Options;
}

bool TKAudioCDBurner::Erase(bool Quick) {
  if (RefuseWhenBusy()) return false;
  if (SelectedIndex < 0) {
    SetError(beNoDevice);
    return false;
  }
  // The erase reports its own outcome, not a code left from before.
  Files->ErrorCode = beNone;
  Device->LastSenseCode = 0;
  Device->LastSenseKey = 0;
  TEraseDoneEvent done = [this, handler = OnEraseDone](TKAudioCDBurner* sender, std::uint16_t id, bool withError) {
    Refusal = 0;
    if (handler) handler(sender, id, withError);
  };
  Device->SetExclusive(true);
  if (StartErase(*Device, Quick, this, std::move(done), *EraseJob, *Hooks)) return true;
  Device->SetExclusive(false);
  if (NoteDriveProblem()) EraseJob->ErrorCode = beNone;
  return false;
}

std::uint8_t TKAudioCDBurner::GetStatus() const {
  const std::uint8_t erase = Device->EraseStatus.load();
  return erase != 0 ? erase : Files->Status.load();
}

std::uint8_t TKAudioCDBurner::GetCurrentTrack() const {
  return static_cast<std::uint8_t>(Files->CurrentTrack.load() & 0xFF);
}

std::int32_t TKAudioCDBurner::TakeLastError() {
  // A refusal of the component's own is about the last call alone: taking
  // it leaves a job's outcome pending.
  if (const std::int32_t refusal = Refusal.exchange(0); refusal != 0) {
    TakenDetail = std::move(RefusalDetail);
    RefusalDetail.clear();
    return refusal;
  }
  std::int32_t code = 0;
  std::string detail;
  const std::int32_t burn = Files->ErrorCode.exchange(0);
  const std::int32_t erase = EraseJob->ErrorCode.exchange(0);
  const std::uint16_t sense = Device->LastSenseCode.exchange(0);
  const std::uint8_t key = Device->LastSenseKey.exchange(0);
  if (code == 0) {
    code = burn;
    detail = burn != 0 ? Files->GetErrorDetail() : std::string();
  }
  if (code == 0) code = erase;
  if (code == 0 && sense != 0) {
    code = sense;
    detail = SenseWords(key, static_cast<std::uint8_t>(sense >> 8), static_cast<std::uint8_t>(sense & 0xFF));
  }
  TakenDetail = std::move(detail);
  return code;
}

std::string TKAudioCDBurner::GetErrorText() { return GetBurnErrorText(TakeLastError()); }

bool TKAudioCDBurner::AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors) {
  return AddTrack(FileName, LengthSectors, PauseSectors, 0, -1);
}

bool TKAudioCDBurner::AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                               const TFileStamp& Stamp) {
  return AddTrackStamped(FileName, LengthSectors, PauseSectors, 0, -1, &Stamp);
}

bool TKAudioCDBurner::AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                               std::int64_t StartSample, std::int64_t EndSample) {
  // A measured length carries the stamp of its measurement.
  const auto measured = MeasuredStamps.find(FileName);
  const TFileStamp* stamp = LengthSectors >= 1 && measured != MeasuredStamps.end() ? &measured->second : nullptr;
  return AddTrackStamped(FileName, LengthSectors, PauseSectors, StartSample, EndSample, stamp);
}

bool TKAudioCDBurner::AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                               std::int64_t StartSample, std::int64_t EndSample, const TFileStamp& Stamp) {
  return AddTrackStamped(FileName, LengthSectors, PauseSectors, StartSample, EndSample, &Stamp);
}

bool TKAudioCDBurner::AddTrackStamped(const std::string& FileName, std::int32_t LengthSectors,
                                      std::uint16_t PauseSectors, std::int64_t StartSample, std::int64_t EndSample,
                                      const TFileStamp* Stamp) {
  if (RefuseWhenBusy()) return false;
  try {
    switch (cv::AddTrack(*Files, FileName, LengthSectors, PauseSectors, StartSample, EndSample, Stamp)) {
      case TAddTrackResult::Added: return true;
      case TAddTrackResult::NotAudio: return false;
      case TAddTrackResult::BadRange: SetError(beTrackEmpty); return false;
      case TAddTrackResult::TooLong: SetError(beTrackTooLong); return false;
      case TAddTrackResult::ListFull: SetError(beTooManyTracks); return false;
    }
  } catch (const std::exception& e) {
    SetError(beCantOpenFile, FileName + ": " + e.what());
  }
  return false;
}

std::int32_t TKAudioCDBurner::SetCacheSize(std::int32_t Bytes) {
  if (RefuseWhenBusy()) return -1;
  return cv::SetCacheSize(*Files, Bytes);
}

std::int32_t TKAudioCDBurner::GetFreeSpace() {
  if (RefuseWhenBusy()) return -1;
  if (SelectedIndex < 0) {
    SetError(beNoDevice);
    return -1;
  }
  DriveReady(*Device);  // takes a pending unit attention
  const std::int32_t sectors = cv::GetFreeSpace(*Device);
  if (sectors < 0) NoteDriveProblem();
  return sectors;
}

std::int32_t TKAudioCDBurner::GetTotalSectors() const { return Files->TotalSectors; }

std::int32_t TKAudioCDBurner::GetSectorsWritten() const { return Files->SectorsWritten.load(); }

bool TKAudioCDBurner::SynchronizeCache(bool Immediate) {
  if (RefuseWhenBusy()) return false;
  return Device->SynchronizeCache(Immediate);
}

void TKAudioCDBurner::SetDispatcher(TDispatcher dispatcher) { Hooks->Dispatcher = std::move(dispatcher); }

void TKAudioCDBurner::SetBeep(TBeepHook beep) { Hooks->Beep = std::move(beep); }

void TKAudioCDBurner::SetStatusObserver(TStatusObserver observer) { Hooks->StatusObserver = std::move(observer); }

void TKAudioCDBurner::SetTimings(const TBurnTimings& timings) { Hooks->Timings = timings; }

TBurnTimings TKAudioCDBurner::GetTimings() const { return Hooks->Timings; }

bool TKAudioCDBurner::SetTestWrite(bool on) {
  if (RefuseWhenBusy()) return false;
  Files->WritePage.TestWrite = on;
  return true;
}

std::int32_t TKAudioCDBurner::GetMediumType() {
  if (RefuseWhenBusy()) return -1;
  if (SelectedIndex < 0) {
    SetError(beNoDevice);
    return -1;
  }
  DriveReady(*Device);
  const TMediumType medium = Device->GetMediumType();
  // "None" from a drive that could not be reached is no answer.
  if (medium == mtNone && NoteDriveProblem()) return -1;
  return medium;
}

std::uint32_t TKAudioCDBurner::GetBufferLength() const { return Files->BufferLength.load(); }

std::uint32_t TKAudioCDBurner::GetBufferFree() const { return Files->BufferFree.load(); }

std::int32_t TKAudioCDBurner::GetTrackCount() const { return Files->TrackCount; }

}  // namespace cv
