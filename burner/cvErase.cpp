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
  Job.ErrorCode = beNone;
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

namespace {

// The erase's outcome from a poll's end: true when the drive finished. A
// deadline gets an error code of its own; a refused poll leaves the drive's
// sense as the reason.
bool Finished(TPollEnd end, TEraseJob& job) {
  if (end == TPollEnd::Deadline) job.ErrorCode = beDriveTimeout;
  return end == TPollEnd::Done;
}

}  // namespace

// Ready, and the disc information readable again: the blank or format has
// ended.
TPollAnswer TEraseThread::PollFinished(std::span<std::uint8_t> info) {
  const bool ready = Device_.TestUnitReady();
  if (!ready) return PollAnswerOf(Device_, false);
  return PollAnswerOf(Device_, Device_.ReadDiscInformation(info, 42));
}

bool TEraseThread::Blank(std::stop_token& stop, std::uint8_t medium) {
  if (!Device_.BlankDisc(Device_.EraseQuick)) return false;
  const auto buffer = std::span(Device_.Buffer.data(), 42);
  if (!Finished(PollDrive(Hooks_.Timings, stop, true, [&] { return PollFinished(buffer); }), Job_)) return false;
  if (medium == mtDVDRWRestricted || medium == mtDVDRWSequential) {
    // A refused quick format leaves a blanked disc: not reported.
    if (Device_.FormatUnit(kFormatFlags, kDVDMinusRWFormat, kDVDMinusRWFormat.size())) {
      const auto info = std::span(Device_.DiscInfoShort);
      if (!Finished(PollDrive(Hooks_.Timings, stop, true, [&] { return PollFinished(info); }), Job_)) return false;
    }
  }
  return true;
}

bool TEraseThread::FormatPlusRW(std::stop_token& stop) {
  std::copy(kDVDPlusRWFormat.begin(), kDVDPlusRWFormat.end(), Device_.Buffer.begin());
  if (!Device_.FormatUnit(kFormatFlags, std::span(Device_.Buffer.data(), kDVDPlusRWFormat.size()),
                          kDVDPlusRWFormat.size()))
    return false;
  const auto info = std::span(Device_.DiscInfoShort);
  if (!Finished(PollDrive(Hooks_.Timings, stop, true, [&] { return PollFinished(info); }), Job_)) return false;
  Device_.EraseStatus = bsBackgroundFormat;
  if (Hooks_.StatusObserver) Hooks_.StatusObserver(bsBackgroundFormat);
  // Disc information byte 7 bits 1-0 read 10b while the background format
  // runs; only a disc information that was read says it has ended.
  return Finished(PollDrive(Hooks_.Timings, stop, false,
                            [&] {
                              Device_.DiscInfoShort[7] &= 0xFC;
                              if (!Device_.ReadDiscInformation(Device_.DiscInfoShort, 42))
                                return PollAnswerOf(Device_, false);
                              return (Device_.DiscInfoShort[7] & 0x03) == 0x02 ? TPollAnswer::Working
                                                                              : TPollAnswer::Done;
                            }),
                  Job_);
}

bool TEraseThread::FormatRAM(std::stop_token& stop) {
  std::copy(kDVDRAMFormat.begin(), kDVDRAMFormat.end(), Device_.Buffer.begin());
  if (!Device_.FormatUnit(kFormatFlags, std::span(Device_.Buffer.data(), kDVDRAMFormat.size()),
                          kDVDRAMFormat.size()))
    return false;
  return Finished(PollDrive(Hooks_.Timings, stop, true, [&] { return PollAnswerOf(Device_, Device_.TestUnitReady()); }),
                  Job_);
}

void TEraseThread::Execute(std::stop_token stop) {
  const TMediumType medium = Device_.GetMediumType();
  Device_.SetCDSpeed(Device_.ReadSpeed, Device_.WriteSpeed);
  Device_.SetWriteParameters(false, false, false, medium);

  bool ok = false;
  if (medium == mtDVDPlusRW) ok = FormatPlusRW(stop);
  else if (medium == mtDVDRAM) ok = FormatRAM(stop);
  else ok = Blank(stop, medium);

  Device_.SetExclusive(false);  // the drive is free for other programs again
  Device_.EraseStatus = bsIdle;
  if (Hooks_.StatusObserver) Hooks_.StatusObserver(bsIdle);
  WithError = !ok;
  Id = 0;
  Sender = Device_.EraseSender;
  RunDispatched(Hooks_, [this] { FireEraseDone(); }, stop);
  Job_.Running = false;
}

}  // namespace cv
