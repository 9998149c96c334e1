// The virtual recorder's command set: one table of (opcode, name, CDB
// length, data direction, needs a medium, handler) and the handlers, which
// answer each MMC/SPC command as a strict CD/DVD recorder does.
//
// cvVirtualDrive works on a state it does not own (the recorder's TVRState,
// image and timing model). Run performs the checks every command shares, in
// a real drive's order: unknown opcode, injected failure, long operation in
// progress, unit attention, medium present, data direction; then the
// handler.
//
// Threads: one command at a time (the recorder holds its mutex around Run).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/cvTransport.h"
#include "vrecorder/cvVirtualDisc.h"
#include "vrecorder/cvVirtualSao.h"
#include "vrecorder/cvVirtualState.h"
#include "vrecorder/cvVirtualTiming.h"

namespace cv {

// Sense key, additional sense code and qualifier.
struct TVRSense {
  std::uint8_t Key = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
};

// The name of an opcode in the command table ("WRITE(10)"), or nullptr.
const char* VRCommandName(std::uint8_t opcode);

class cvVirtualDrive {
 public:
  cvVirtualDrive(TVRState& state, cvVRImage& image, cvVRTiming& timing);

  TScsiOutcome Run(const TScsiCommand& command);
  // A new host session on a freshly loaded state: no medium lock, no sense
  // pending, the write speed from the settings.
  void PowerOn();
  // The host released the medium lock (its last close of the node).
  void AllowRemoval() { Prevented = false; }
  // A bus reset: the medium lock goes and the next command other than
  // INQUIRY, REQUEST SENSE and GET CONFIGURATION reports 6/29/00.
  void BusReset() {
    Prevented = false;
    ResetPending = true;
  }

  // What the last Run changed: the state (save it) and whether it must be
  // saved durably (tracks, sessions, medium, tray, page 05h).
  bool Changed() const { return StateChanged; }
  bool Durable() const { return DurableChange; }
  // True once the drive has dropped off the bus (vanish-after-writes).
  bool Vanished() const { return State.Faults.Vanished; }

  struct TReply;
  struct TCommandEntry;
  // The command table, and its entry for an opcode (nullptr: unknown).
  static std::span<const TCommandEntry> Commands();
  static const TCommandEntry* FindCommand(std::uint8_t opcode);

 private:
  friend struct TCommandEntry;
  using THandler = void (cvVirtualDrive::*)(TReply&);

  void TestUnitReady(TReply& r);
  void RezeroUnit(TReply& r);
  void RequestSense(TReply& r);
  void FormatUnit(TReply& r);
  void Inquiry(TReply& r);
  void StartStopUnit(TReply& r);
  void PreventAllow(TReply& r);
  void Write10(TReply& r);
  void SynchronizeCache(TReply& r);
  void ReadToc(TReply& r);
  void GetConfiguration(TReply& r);
  void ReadDiscInformation(TReply& r);
  void ReadTrackInformation(TReply& r);
  void ModeSelect10(TReply& r);
  void ModeSense10(TReply& r);
  void CloseTrackSession(TReply& r);
  void ReadBufferCapacity(TReply& r);
  void Blank(TReply& r);
  void SetCDSpeed(TReply& r);
  void ReadCD(TReply& r);
  void ReadSubChannel(TReply& r);
  void SendCueSheet(TReply& r);
  void ReadCapacity(TReply& r);
  void SendOpcInformation(TReply& r);

  const TVRMediumInfo& Medium() const { return VRMediumInfo(State.Medium); }
  bool SimulatedCommand(std::uint8_t opcode) const;
  bool MediumPresent() const { return State.Medium != TVRMediumKind::None && !State.TrayOpen; }
  std::uint16_t PauseLength() const;
  std::uint8_t Page05Length() const;
  void ApplySpeed();
  void DrainBuffer();
  void CloseTrackAndCue(TReply& r, bool session);
  void WaitForOperation();
  void Touch(bool durable);
  // Session-At-Once: the write under way (nullptr: none), its WRITE and its close.
  cvVRSaoWriter* SaoWriter();
  bool SaoStarted();
  void WriteSessionAtOnce(TReply& r, std::int32_t lba, std::uint32_t count);
  void CloseSessionAtOnce(TReply& r, bool immed);
  // Fails the command and keeps why for `virtual show`.
  void Refuse(TReply& r, TVRSense sense, std::string why);

  TVRState& State;
  cvVRImage& Image;
  cvVRTiming& Timing;
  bool Prevented = false;  // PREVENT ALLOW MEDIUM REMOVAL: held for this host only
  TVRSense PendingSense;   // what REQUEST SENSE reports after a failed command
  bool HavePendingSense = false;
  std::optional<cvVRSaoWriter> Sao;  // the working form of State.Sao, rebuilt after PowerOn
  bool ResetPending = false;  // unit attention 6/29/00 not yet reported
  // Test Write (page 05h byte 2 bit 4): writes, track and session closes go
  // to this copy of the disc, never to the image; the copy is dropped when
  // the simulated session is closed or Test Write is switched off, so the
  // disc stays as it was.
  std::optional<TVRDisc> Simulated;
  bool Simulating = false;  // the handler running works on Simulated
  bool StateChanged = false;
  bool DurableChange = false;
};

}  // namespace cv
