#include "burner/cvErase.h"

#include <algorithm>
#include <span>

#include "burner/cvDriveWait.h"
#include "device/cvSCSILib.h"

namespace cv {

TEraseJob::TEraseJob() = default;
TEraseJob::~TEraseJob() = default;

bool StartErase(TSCSIDevice& Device, bool Quick, TKAudioCDBurner* Sender, TEraseDoneEvent Handler, TEraseJob& Job,
                const TBurnerHooks& Hooks) {
  Job.Thread.reset();  // the last erase's thread has ended; join it
  if (!DriveReady(Device)) return false;
  Device.EraseStatus = bsErasing;
  Device.OnEraseDone = std::move(Handler);
  Device.EraseQuick = Quick;
  Device.EraseSender = Sender;
  if (Hooks.StatusObserver) Hooks.StatusObserver(bsErasing);
  Job.Running = true;
  Job.Thread = std::make_unique<TEraseThread>(Device, Job, Hooks);
  return true;
}

TEraseThread::TEraseThread(TSCSIDevice& Device, TEraseJob& Job, const TBurnerHooks& Hooks)
    : Device_(Device), Job_(Job), Hooks_(Hooks) {
  Thread_ = std::jthread([this](std::stop_token stop) { Execute(stop); });
}

TEraseThread::~TEraseThread() {
  Thread_.request_stop();
  Join();
}

void TEraseThread::Join() {
  if (Thread_.joinable()) Thread_.join();
}

void TEraseThread::FireEraseDone() {
  if (Device_.OnEraseDone) Device_.OnEraseDone(Sender, Id, WithError.load());
}

bool TEraseThread::Blank(std::stop_token& stop, std::uint8_t medium) {
  if (!Device_.BlankDisc(Device_.EraseQuick)) return false;
  {
    TDriveWait wait(Hooks_.Timings, stop);
    bool ok = false;
    do {
      if (!wait.Nap()) return false;
      ok = Device_.ReadDiscInformation(std::span(Device_.Buffer.data(), 42), 42);
    } while (NotReady(Device_, ok));
  }
  if (medium == mtDVDRWRestricted || medium == mtDVDRWSequential) {
    // A refused quick format leaves a blanked disc: not reported.
    if (Device_.FormatUnit(kFormatFlags, kDVDMinusRWFormat, kDVDMinusRWFormat.size())) {
      TDriveWait wait(Hooks_.Timings, stop);
      bool ok = false;
      do {
        if (!wait.Nap()) return false;
        ok = Device_.ReadDiscInformation(Device_.DiscInfoShort, 42);
      } while (NotReady(Device_, ok));
    }
  }
  return true;
}

bool TEraseThread::FormatPlusRW(std::stop_token& stop) {
  std::copy(kDVDPlusRWFormat.begin(), kDVDPlusRWFormat.end(), Device_.Buffer.begin());
  if (!Device_.FormatUnit(kFormatFlags, std::span(Device_.Buffer.data(), kDVDPlusRWFormat.size()),
                          kDVDPlusRWFormat.size()))
    return false;
  {
    TDriveWait wait(Hooks_.Timings, stop);
    bool ok = false;
    do {
      if (!wait.Nap()) return false;
      ok = Device_.ReadDiscInformation(Device_.DiscInfoShort, 42);
    } while (NotReady(Device_, ok));
  }
  Device_.EraseStatus = bsBackgroundFormat;
  if (Hooks_.StatusObserver) Hooks_.StatusObserver(bsBackgroundFormat);
  // Disc information byte 7 bits 1-0 read 10b while the background format
  // runs.
  TDriveWait wait(Hooks_.Timings, stop);
  do {
    Device_.DiscInfoShort[7] &= 0xFC;
    Device_.ReadDiscInformation(Device_.DiscInfoShort, 42);
    if (!wait.Nap()) return false;
  } while ((Device_.DiscInfoShort[7] & 0x03) == 0x02);
  return true;
}

bool TEraseThread::FormatRAM(std::stop_token& stop) {
  std::copy(kDVDRAMFormat.begin(), kDVDRAMFormat.end(), Device_.Buffer.begin());
  if (!Device_.FormatUnit(kFormatFlags, std::span(Device_.Buffer.data(), kDVDRAMFormat.size()),
                          kDVDRAMFormat.size()))
    return false;
  TDriveWait wait(Hooks_.Timings, stop);
  bool ok = false;
  do {
    if (!wait.Nap()) return false;
    ok = Device_.TestUnitReady();
  } while (NotReady(Device_, ok));
  return true;
}

void TEraseThread::Execute(std::stop_token stop) {
  const TMediumType medium = Device_.GetMediumType();
  Device_.SetCDSpeed(Device_.ReadSpeed, Device_.WriteSpeed);
  Device_.SetWriteParameters(false, false, false, medium);

  bool ok = false;
  if (medium == mtDVDPlusRW) ok = FormatPlusRW(stop);
  else if (medium == mtDVDRAM) ok = FormatRAM(stop);
  else ok = Blank(stop, medium);

  Device_.EraseStatus = bsIdle;
  if (Hooks_.StatusObserver) Hooks_.StatusObserver(bsIdle);
  WithError = !ok;
  Id = 0;
  Sender = Device_.EraseSender;
  RunDispatched(Hooks_, [this] { FireEraseDone(); }, stop);
  Job_.Running = false;
}

}  // namespace cv
