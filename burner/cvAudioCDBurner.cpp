#include "burner/cvAudioCDBurner.h"

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

void TKAudioCDBurner::SetError(std::int32_t code) { Refusal = code; }

bool TKAudioCDBurner::RefuseWhenBusy() {
  if (!IsBusy()) return false;
  SetError(beBusy);
  return true;
}

bool TKAudioCDBurner::IsBusy() const { return Files->Running.load() || EraseJob->Running.load(); }

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
  LastFileKind = 0;
  LastFileSamples = 0;
  try {
    TTrackDecoder decoder(FileName);
    LastFileKind = decoder.FileKind();
    if (LastFileKind == 0) return 0;
    const std::int32_t sectors = decoder.MeasureSectors();
    LastFileSamples = decoder.FileSamples();
    return sectors;
  } catch (const EInOutError&) {
    SetError(beCantOpenFile);
    return 0;
  } catch (const std::exception&) {
    SetError(beCantOpenFile);
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
  return StartBurn(*Files, *Device, this, OnWriteDone, *Hooks);
}

bool TKAudioCDBurner::Erase(bool Quick) {
  if (RefuseWhenBusy()) return false;
  if (SelectedIndex < 0) {
    SetError(beNoDevice);
    return false;
  }
  return StartErase(*Device, Quick, this, OnEraseDone, *EraseJob, *Hooks);
}

std::uint8_t TKAudioCDBurner::GetStatus() const {
  const std::uint8_t erase = Device->EraseStatus.load();
  return erase != 0 ? erase : Files->Status.load();
}

std::uint8_t TKAudioCDBurner::GetCurrentTrack() const {
  return static_cast<std::uint8_t>(Files->CurrentTrack.load() & 0xFF);
}

std::int32_t TKAudioCDBurner::TakeLastError() {
  std::int32_t code = Refusal.exchange(0);
  const std::int32_t burn = Files->ErrorCode.exchange(0);
  const std::uint16_t sense = Device->LastSenseCode.exchange(0);
  if (code == 0) code = burn;
  if (code == 0) code = sense;
  return code;
}

std::string TKAudioCDBurner::GetErrorText() { return GetBurnErrorText(TakeLastError()); }

bool TKAudioCDBurner::AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors) {
  return AddTrack(FileName, LengthSectors, PauseSectors, 0, -1);
}

bool TKAudioCDBurner::AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                               std::int64_t StartSample, std::int64_t EndSample) {
  if (RefuseWhenBusy()) return false;
  try {
    switch (cv::AddTrack(*Files, FileName, LengthSectors, PauseSectors, StartSample, EndSample)) {
      case TAddTrackResult::Added: return true;
      case TAddTrackResult::NotAudio: return false;
      case TAddTrackResult::BadRange: SetError(beTrackEmpty); return false;
      case TAddTrackResult::TooLong: SetError(beTrackTooLong); return false;
      case TAddTrackResult::ListFull: SetError(beTooManyTracks); return false;
    }
  } catch (const std::exception&) {
    SetError(beCantOpenFile);
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
