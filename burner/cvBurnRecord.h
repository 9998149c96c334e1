// The burn record: the track list and all state that the cache thread and
// the write thread share while a burn runs.
//
// Owner: the burner component holds exactly one record for its lifetime.
// Threads: the track list (Tracks, TrackCount, TotalSectors, CacheSize) is
// changed only on the component's thread and only while no burn runs; the
// workers read it during a burn. Hand-over flags, counters and the status are
// atomics. The block queue is guarded by Lock. NewTrack, BlockPause and
// TransferBuffer belong to the write thread (filled by TakeBlock).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "burner/cvBurnTypes.h"

namespace cv {

inline constexpr std::int32_t kSectorBytes = 2352;
inline constexpr std::int32_t CacheBlockSize = 27 * kSectorBytes;  // 63504
inline constexpr std::int32_t kTransferSectors = 64;
// A CD holds at most 99 tracks.
inline constexpr std::int32_t kMaxTracks = 99;
// A recorder does not close a track shorter than four seconds.
inline constexpr std::int32_t kMinTrackSectors = 300;
// No track can be longer than an 80-minute disc (79:59:74).
inline constexpr std::int32_t kMaxTrackSectors = 79 * 4500 + 59 * 75 + 74;

// Identity of a file when it was added, to find it changed before a burn.
struct TFileStamp {
  std::int64_t Size = -1;
  std::int64_t ModifiedNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

// Reads the size and modification time of path; false when it cannot.
bool ReadFileStamp(const std::string& path, TFileStamp& stamp);

// One track.
struct TAudioFilesToBurn {
  std::string FileName;
  std::int32_t LengthSectors = 0;  // decoded length, rounded up to sectors
  std::uint8_t FileKind = 0;       // TAudioFileKind, never 0 in the table
  std::uint16_t PauseSectors = 0;  // pause written before the track
  TFileStamp Stamp;                // the file when it was added
  // The part of the file's decoded audio that makes the track, in CD sample
  // frames (588 to a sector): [StartSample, EndSample), EndSample -1 to the
  // end of the file. The whole file by default.
  std::int64_t StartSample = 0;
  std::int64_t EndSample = -1;
};

// Sectors a track occupies on the disc: its length, at least kMinTrackSectors
// (shorter audio is followed by digital silence); 0 for an empty track.
std::int32_t TrackWriteSectors(const TAudioFilesToBurn& track);

// One queue entry of the decode-ahead cache.
struct TCacheBlock {
  std::unique_ptr<std::uint8_t[]> Data;  // CacheBlockSize bytes
  std::int32_t Size = 0;                 // bytes used
  std::uint16_t PauseSectors = 0;        // meaningful with NewTrack
  bool NewTrack = false;                 // holds the first audio of a track
};

class TCacheThread;
class TWriteThread;

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
  std::atomic<bool> CachePrimed{false};
  std::atomic<bool> CacheFinished{false};
  std::atomic<bool> AbortRequested{false};
  std::atomic<bool> CacheFilling{false};
  std::atomic<bool> WriterTaking{false};
  std::atomic<std::uint8_t> Status{bsIdle};
  std::atomic<std::int32_t> SectorsWritten{0};
  std::atomic<std::int32_t> BlockCount{0};  // full blocks waiting (mirror of Blocks.size())
  std::int32_t BlockCapacity = 0;
  std::int32_t CacheSize = 0;
  std::atomic<std::uint8_t> CachePriority{0};
  std::int32_t TotalSectors = 0;
  std::atomic<std::uint32_t> RemainingSectors{0};
  std::mutex Lock;                          // guards Blocks
  TWriteDoneEvent OnWriteDone;
  TKAudioCDBurner* Sender = nullptr;
  std::vector<std::uint8_t> TransferBuffer; // kTransferSectors sectors
  std::deque<TCacheBlock> Blocks;           // full blocks, oldest first

  // Set by the cache thread when it stopped because a track could not be
  // decoded at all (ErrorCode says why): the burn ends with an error.
  std::atomic<bool> CacheFailed{false};
  // From StartBurn until the write thread has ended (or StartBurn refused).
  std::atomic<bool> Running{false};
  // Drive buffer figures the write thread read last, for progress displays.
  std::atomic<std::uint32_t> BufferLength{0};
  std::atomic<std::uint32_t> BufferFree{0};

  // Sets ErrorCode and marks the burn as one that ends WithError (the mark
  // survives a TakeLastError that clears ErrorCode meanwhile).
  void RaiseError(std::int32_t code);
  std::atomic<bool> ErrorRaised{false};

  // Sets the status and tells the observer (when one is set).
  void SetStatus(std::uint8_t status);
  TStatusObserver StatusObserver;

  // The workers of the current (or last) burn, joined before the record is
  // reset or destroyed. Declared last: destroyed first.
  std::unique_ptr<TCacheThread> CacheThread;
  std::unique_ptr<TWriteThread> WriteThread;
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
// the measured length (of the range); otherwise the file is decoded to
// measure it. A file that cannot be opened raises EInOutError (the list is
// unchanged).
TAddTrackResult AddTrack(TAudioFiles& Files, const std::string& FileName, std::int32_t LengthSectors,
                         std::uint16_t PauseSectors, std::int64_t StartSample = 0, std::int64_t EndSample = -1);

}  // namespace cv
