// Disc writing: turns the track list into an audio disc, Track-At-Once, raw
// 2352-byte audio sectors, one WRITE(10) per cache block.
//
// A burn runs in phases: preflight (PreflightBurn: checks tracks, files,
// medium and free space, sends nothing that changes the disc), preparation
// (StartBurn: write parameters, the cache thread and its priming), writing
// (TWriteThread: blocks in order, each new track with its own pause) and the
// close-out (the session is closed with what was written, OnWriteDone is
// raised through the dispatcher, the beep, status idle).
//
// Threads: PreflightBurn, StartBurn and GetFreeSpace run on the component's
// thread and use the device only while no worker runs. TWriteThread owns its
// std::jthread and is the only user of the device while it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <thread>

#include "burner/cvBurnHooks.h"
#include "burner/cvBurnRecord.h"
#include "device/cvSense.h"
#include "device/cvWritePage.h"

namespace cv {

class TSCSIDevice;

// Builds mode page 05h for audio Track-At-Once (BUFE on, raw 2352-byte
// sectors, audio pause PauseSectors, multi-session field from SessionByte:
// 00h, or C0h for "another session may follow") over the drive's current
// page and sends it back. False when the current page cannot be read, is too
// short to hold the pause, or the drive refuses it.
bool SetTrackWriteParameters(TSCSIDevice& Device, std::uint16_t PauseSectors, std::uint8_t SessionByte);
// The same from a page of any write type (session-at-once, test write):
// every audio writer sends page 05h through here.
bool SetTrackWriteParameters(TSCSIDevice& Device, const TWritePage& Page);

// What a burn left on the disc, read back from the drive after the
// close-out.
struct TDiscCheck {
  bool Read = false;            // disc information could be read
  bool SessionOpen = false;     // last session incomplete (a track or the session left open)
  bool TrackDamaged = false;    // the last track carries the Damage bit
  bool Complete = false;        // no further session can be added
  std::int32_t OpenTrack = 0;   // number of an open track, 0 when none
  std::int32_t OpenTrackSectors = 0;  // sectors written in it
  bool Closed() const { return Read && !SessionOpen && !TrackDamaged; }
};
TDiscCheck CheckDisc(TSCSIDevice& Device);

// The close-out and the failure path, shared by every audio writer.
//
// WriteSectorsRetried: one WRITE(10) of data at lba, sent again at the same
// address while the drive answers busy or not ready, up to
// Timings.WriteAttempts attempts. Blocks: the transfer length; 0 for whole
// 2352-byte sectors (the lead-in's 96-byte CD-TEXT blocks give it). False on
// any other failure (the device's Sense says why) or when stop is requested.
bool WriteSectorsRetried(TSCSIDevice& Device, std::uint32_t Lba, std::span<const std::uint8_t> Data,
                         const TBurnTimings& Timings, std::stop_token& Stop, std::uint16_t Blocks = 0);
//
// FinishOpenTrack: when the last track is open with fewer than
// kMinTrackSectors sectors (a burn that failed or was cancelled early),
// writes digital silence up to that length so that the drive can close it.
// False when a write of the silence failed.
bool FinishOpenTrack(TSCSIDevice& Device, const TBurnTimings& Timings, std::stop_token& Stop);

// Closes the session: write parameters with Page's multi-session field (11b
// leaves the disc appendable, 00b closes it), SYNCHRONIZE
// CACHE, the bounded polls, CLOSE TRACK/SESSION (skipped when the session
// holds nothing), the poll that waits for it, ALLOW MEDIUM REMOVAL, load,
// REZERO UNIT and TEST UNIT READY. Answers 0 when every close command was
// accepted and every poll ended on a good answer, else the error code to
// report (beDiscNotClosed, or beDriveTimeout when the drive never answered
// ready in time); Refused (when given) then gets the sense of the command or
// poll that failed first.
std::int32_t CloseSession(TSCSIDevice& Device, const TBurnTimings& Timings, std::stop_token& Stop,
                          const TWritePage& Page, TSense* Refused = nullptr);

// The disc's state in words for the user, from CheckDisc and what this burn
// wrote (tracks started, sectors written).
std::string DiscStateText(const TDiscCheck& Check, std::int32_t TracksStarted, std::int32_t SectorsWritten);

// Free sectors on the inserted disc: the free blocks of the open (invisible)
// track, 0 when the disc is complete, -1 when the drive cannot say.
std::int32_t GetFreeSpace(TSCSIDevice& Device);

// Everything that must hold before a burn touches the disc. Answers 0, or
// the error code that says why the burn cannot start (beNoTracks,
// beTrackEmpty, beCantOpenFile, beFileChanged, beDriveNotReady,
// beNoWritableDisc, beDiscOpen, beTooManyTracks, beNotEnoughSpace); a
// refusal about one file names it in the record's error detail.
std::int32_t PreflightBurn(TAudioFiles& Files, TSCSIDevice& Device);

// Runs PreflightBurn, prepares the drive, starts the cache thread, waits
// until the cache is primed and starts the write thread. True when the write
// thread runs (OnWriteDone will be raised once); false with ErrorCode set when
// the burn was refused or the cache could not be primed (nothing written, no
// event). Sets Files.Running for the whole burn.
bool StartBurn(TAudioFiles& Files, TSCSIDevice& Device, TKAudioCDBurner* Sender, TWriteDoneEvent Handler,
               const TBurnerHooks& Hooks);

// Raises OnWriteDone(Sender, 0, WithError) when a handler is assigned.
void FireWriteDone(TAudioFiles& Files);

// The write thread. Owned by the burn record; the destructor requests stop
// (the thread then closes the session without waiting for the drive) and
// joins.
class TWriteThread {
 public:
  TWriteThread(TAudioFiles& Files, TSCSIDevice& Device, const TBurnerHooks& Hooks);
  ~TWriteThread();
  TWriteThread(const TWriteThread&) = delete;
  TWriteThread& operator=(const TWriteThread&) = delete;

  void RequestStop() { Thread_.request_stop(); }
  bool Ended() const { return Ended_.load(); }
  void Join();

 private:
  void Execute(std::stop_token stop);

  TAudioFiles& Files_;
  TSCSIDevice& Device_;
  TBurnerHooks Hooks_;
  std::atomic<bool> Ended_{false};
  std::jthread Thread_;  // last: starts after every other member exists
};

}  // namespace cv
