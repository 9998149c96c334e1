#include "burner/cvAudioCDBurner.h"

#include <cerrno>
#include <cstring>
#include <exception>

#include "burner/cvAudCache.h"
#include "burner/cvAudWriter.h"
#include "burner/cvBurnHooks.h"
#include "burner/cvBurnRecord.h"
#include "burner/cvDriveWait.h"
#include "burner/cvErase.h"
#include "burner/cvTrackSource.h"
#include "device/cvIOError.h"
#include "device/cvSCSILib.h"
#include "device/cvSense.h"

namespace cv {

TKAudioCDBurner::TKAudioCDBurner()
    : Files(std::make_unique<TAudioFiles>()),
      Device(std::make_unique<TSCSIDevice>()),
      EraseJob(std::make_unique<TEraseJob>()),
      Hooks(std::make_unique<TBurnerHooks>()) {}

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
  return Files->WriteThread && !Files->WriteThread->Ended();
}

bool TKAudioCDBurner::Cancel() {
  BeginOperation();
  if (!Files->Running.load() || !Files->WriteThread) {
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
  return Device->EjectMedium(Immediate);
}

bool TKAudioCDBurner::LoadMedium(bool Immediate) {
  if (RefuseWhenBusy()) return false;
  return Device->LoadMedium(Immediate);
}

void TKAudioCDBurner::FindDevices() {
  if (RefuseWhenBusy()) return;
  (void)Device->FindDevices();
  SelectedIndex = -1;
  DeviceNames.clear();
  DevicePaths.clear();
  const std::uint16_t count = Device->GetDeviceCount();
  for (std::uint16_t i = 0; i < count && i < Device->Devices.size(); ++i) {
    const char* name = Device->GetDeviceName(static_cast<std::uint8_t>(i));
    DeviceNames.emplace_back(name ? name : "");
    DevicePaths.emplace_back(Device->Devices[i].Path);
  }
}

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
  return StartBurn(*Files, *Device, this, std::move(done), *Hooks);
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
  return StartErase(*Device, Quick, this, std::move(done), *EraseJob, *Hooks);
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
  return cv::GetFreeSpace(*Device);
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
  return Device->GetMediumType();
}

std::uint32_t TKAudioCDBurner::GetBufferLength() const { return Files->BufferLength.load(); }

std::uint32_t TKAudioCDBurner::GetBufferFree() const { return Files->BufferFree.load(); }

std::int32_t TKAudioCDBurner::GetTrackCount() const { return Files->TrackCount; }

}  // namespace cv
