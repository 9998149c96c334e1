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
#include <stop_token>
#include <thread>

#include "burner/cvBurnHooks.h"
#include "burner/cvBurnRecord.h"

namespace cv {

class TSCSIDevice;

// Builds mode page 05h for audio Track-At-Once (BUFE on, raw 2352-byte
// sectors, audio pause PauseSectors, multi-session field from SessionByte)
// over the drive's current page and sends it back. False when the current
// page cannot be read or the drive refuses it.
bool SetTrackWriteParameters(TSCSIDevice& Device, std::uint16_t PauseSectors, std::uint8_t SessionByte);

// Free sectors on the inserted disc: the free blocks of the open (invisible)
// track, 0 when the disc is complete, -1 when the drive cannot say.
std::int32_t GetFreeSpace(TSCSIDevice& Device);

// Everything that must hold before a burn touches the disc. Answers 0, or
// the error code that says why the burn cannot start (beNoTracks,
// beTrackEmpty, beCantOpenFile, beFileChanged, beDriveNotReady,
// beNoWritableDisc, beTooManyTracks, beNotEnoughSpace).
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
  bool WriteBlock(std::uint32_t lba, std::int32_t bytes, std::stop_token& stop);
  void CloseOut(bool failed, std::stop_token& stop);

  TAudioFiles& Files_;
  TSCSIDevice& Device_;
  TBurnerHooks Hooks_;
  std::atomic<bool> Ended_{false};
  std::jthread Thread_;  // last: starts after every other member exists
};

}  // namespace cv
