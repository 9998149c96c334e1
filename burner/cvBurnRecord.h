// The burn record: the track list and all state that the cache thread and
// the write thread share while a burn runs.
//
// Owner: the burner component holds exactly one record for its lifetime.
// Threads: the track list (Tracks, TrackCount, TotalSectors, CacheSize) is
// changed only on the component's thread and only while no burn runs; the
// workers read it during a burn. The block queue (Blocks) holds the whole
// hand-over between the cache and the write thread under its own lock
// (burner/cvBlockQueue.h). Progress, outcome and the status are atomics.
// NewTrack, BlockPause and TransferBuffer belong to the write thread (filled
// by TakeBlock).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "burner/cvBlockQueue.h"
#include "burner/cvBurnTypes.h"
#include "device/cvWritePage.h"

namespace cv {

inline constexpr std::int32_t kSectorBytes = 2352;
inline constexpr std::int32_t CacheBlockSize = kQueueBlockSize;  // 27 sectors: 63504
inline constexpr std::int32_t kTransferSectors = 64;
// A CD holds at most 99 tracks.
inline constexpr std::int32_t kMaxTracks = 99;
// A recorder does not close a track shorter than four seconds.
inline constexpr std::int32_t kMinTrackSectors = 300;
// No track can be longer than an 80-minute disc (79:59:74).
inline constexpr std::int32_t kMaxTrackSectors = 79 * 4500 + 59 * 75 + 74;

// Reads the size and modification time of path; false when it cannot.
bool ReadFileStamp(const std::string& path, TFileStamp& stamp);

// One track.
struct TAudioFilesToBurn {
  std::string FileName;
  std::int32_t LengthSectors = 0;  // decoded length, rounded up to sectors
  std::uint8_t FileKind = 0;       // TAudioFileKind, never 0 in the table
  std::uint16_t PauseSectors = 0;  // pause written before the track
  TFileStamp Stamp;                // the file when it was measured
  // The part of the file's decoded audio that makes the track, in CD sample
  // frames (588 to a sector): [StartSample, EndSample), EndSample -1 to the
  // end of the file. The whole file by default.
  std::int64_t StartSample = 0;
  std::int64_t EndSample = -1;
};

// Sectors a track occupies on the disc: its length, at least kMinTrackSectors
// (shorter audio is followed by digital silence); 0 for an empty track.
std::int32_t TrackWriteSectors(const TAudioFilesToBurn& track);

class TCacheThread;
class TWriteThread;
struct TSAOBurn;

struct TAudioFiles {
  TAudioFiles();
  ~TAudioFiles();
  TAudioFiles(const TAudioFiles&) = delete;
  TAudioFiles& operator=(const TAudioFiles&) = delete;

  std::vector<TAudioFilesToBurn> Tracks;
  bool NewTrack = false;                   // writer: the block last taken starts a track
  std::atomic<std::int32_t> CurrentTrack{0};
  std::uint16_t BlockPause = 0;            // writer: pause of the block last taken
  std::atomic<std::int32_t> ErrorCode{0};
  std::atomic<bool> WithError{false};
  std::int32_t TrackCount = 0;
  std::atomic<std::uint8_t> Status{bsIdle};
  std::atomic<std::int32_t> SectorsWritten{0};
  std::int32_t CacheSize = 0;
  std::atomic<std::uint8_t> CachePriority{0};  // band the cache thread asked for
  std::atomic<int> CacheNice{0};               // nice value in force on the cache thread
  std::int32_t TotalSectors = 0;
  // Set while idle: a burn that succeeds closes the disc (no next session).
  bool CloseDisc = false;
  // The page 05h every audio writer starts from (Test Write for a simulated
  // burn). Changed only on the component's thread while no burn runs;
  // ClearTracks keeps it.
  TWritePage WritePage;
  TWriteDoneEvent OnWriteDone;
  TKAudioCDBurner* Sender = nullptr;
  std::vector<std::uint8_t> TransferBuffer; // kTransferSectors sectors
  // The decode-ahead cache's blocks and the hand-over: its capacity
  // (BlockCapacity), full blocks waiting (BlockCount), sectors not yet taken
  // (RemainingSectors), primed, finished and aborted.
  TBlockQueue Blocks;

  // Set by the cache thread when it stopped because a track could not be
  // decoded at all (ErrorCode says why): the burn ends with an error.
  std::atomic<bool> CacheFailed{false};
  // From StartBurn until the write thread has ended (or StartBurn refused).
  std::atomic<bool> Running{false};
  // Drive buffer figures the write thread read last, for progress displays.
  std::atomic<std::uint32_t> BufferLength{0};
  std::atomic<std::uint32_t> BufferFree{0};

  // Cancel asked for by the component: the write thread takes the failure
  // path (the open track is finished with silence, the session closed) and
  // the burn ends with beAbortedByUser.
  std::atomic<bool> CancelRequested{false};
  // From the start of the close-out until the write thread ends: the close
  // must finish, a cancel is refused.
  std::atomic<bool> ClosingOut{false};
  // What the burn left on the disc, and words beside the error code (the
  // file a refusal is about): set by the burn, read by the component.
  void SetDiscState(std::string text);
  std::string GetDiscState() const;
  void SetErrorDetail(std::string text);
  std::string GetErrorDetail() const;

  // Sets ErrorCode and marks the burn as one that ends WithError (the mark
  // survives a TakeLastError that clears ErrorCode meanwhile).
  void RaiseError(std::int32_t code);
  std::atomic<bool> ErrorRaised{false};

  // Sets the status and tells the observer (when one is set).
  void SetStatus(std::uint8_t status);
  TStatusObserver StatusObserver;

  mutable std::mutex OutcomeLock;  // guards DiscState_ and ErrorDetail_
  std::string DiscState_;
  std::string ErrorDetail_;

  // The workers of the current (or last) burn, joined before the record is
  // reset or destroyed. Declared last: destroyed first.
  std::unique_ptr<TCacheThread> CacheThread;
  std::unique_ptr<TWriteThread> WriteThread;
  std::unique_ptr<TSAOBurn> SAOBurn;  // the workers of a Session-At-Once burn
};

// Stops and joins the workers, then sets the whole record to its initial
// state (empty list, counts, totals, flags, status, queue). True.
bool ClearTracks(TAudioFiles& Files);

// Resets what one burn changes (hand-over flags, progress, queue, outcome),
// keeping the track list, the cache size and the hooks.
void ResetBurnState(TAudioFiles& Files);

// Stops the workers of the last burn (if any) and waits for them.
void StopWorkers(TAudioFiles& Files);

// Outcome of AddTrack beyond its Boolean.
enum class TAddTrackResult {
  Added,
  NotAudio,     // not recognised (a file with nothing decodable is added
                // with length 0 and refused by Burn's checks)
  TooLong,      // longer than kMaxTrackSectors
  ListFull,     // kMaxTracks tracks already
  BadRange,     // the sample range is empty or reversed
};

// Appends FileName, or the CD sample frames [StartSample, EndSample) of it
// (EndSample -1: to the end of the file). LengthSectors >= 1 is trusted as
// the measured length (of the range), and Stamp (when given) as the file's
// size and time when it was measured; otherwise the file is decoded to
// measure it and stamped now. A file that cannot be opened raises
// EInOutError (the list is unchanged).
TAddTrackResult AddTrack(TAudioFiles& Files, const std::string& FileName, std::int32_t LengthSectors,
                         std::uint16_t PauseSectors, std::int64_t StartSample = 0, std::int64_t EndSample = -1,
                         const TFileStamp* Stamp = nullptr);

}  // namespace cv
