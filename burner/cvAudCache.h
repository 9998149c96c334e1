// The decode-ahead cache: the cache thread decodes the tracks of the burn
// record in order and packs their PCM into 63504-byte blocks (27 sectors)
// that wait in a queue until the write thread takes them.
//
// Each track is delivered as exactly TrackWriteSectors(track) whole sectors:
// audio beyond LengthSectors is cut, a partial last sector and a track
// shorter than kMinTrackSectors are filled with digital silence, and a track
// that decodes shorter than its LengthSectors is filled with silence to its
// length and flagged (ErrorCode beTrackShort). So RemainingSectors always
// reaches 0 and every block holds whole sectors. Every track starts in a
// fresh block that carries its NewTrack mark and pause.
//
// Threads: TCacheThread runs its own std::jthread; StoreChunk runs on it;
// TakeBlock runs on the write thread. The queue and every hand-over between
// the two live in the record's TBlockQueue (burner/cvBlockQueue.h): each side
// waits there for the other on a condition variable.
#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <memory>
#include <thread>

#include "burner/cvBurnRecord.h"

namespace cv {

// Cache sizes in bytes.
inline constexpr std::int32_t kMinCacheSize = 2097152;       // 2 MiB
inline constexpr std::int32_t kMaxCacheSize = 943718400;     // 900 MiB
inline constexpr std::int32_t kOversizeCacheSize = 67108864; // 64 MiB

// Stores the cache size by the size rule (below 2 MiB: 2 MiB; above 900 MiB:
// 64 MiB) and answers the value stored.
std::int32_t SetCacheSize(TAudioFiles& Files, std::int32_t Bytes);

// Seconds of audio the cache holds at the write speed: a recorder writing at
// 52x drains an 8 MiB cache in 0.9 s, too little to ride out a busy machine.
inline constexpr std::int32_t kCacheSeconds = 10;
// Write speed assumed when the drive names none (the fastest CD speed).
inline constexpr std::int32_t kFastestCDSpeed = 52;

// The cache the burn gets: kCacheSeconds of audio at speedX (0: the drive did
// not say, kFastestCDSpeed), never less than cacheSize (what the front end
// asked for, by the size rule) nor more than kMaxCacheSize.
std::int32_t CacheBytesForSpeed(std::int32_t cacheSize, std::int32_t speedX);

// Appends Count bytes from Source (nullptr: Count zero bytes of silence) to
// the block being filled, queueing every block that becomes full; with Last
// the partly filled block is queued too (never an empty one). Waits for room
// when every block is in use; false when the burn was abandoned meanwhile.
bool StoreChunk(TAudioFiles& Files, const std::uint8_t* Source, std::int32_t Count, bool Last,
                std::stop_token Stop = {});

// Write-thread side: moves the oldest full block into TransferBuffer, sets
// NewTrack and BlockPause, and answers its size in bytes; -1 when no block is
// ready yet; 0 when no more data will come (or the burn is abandoned).
std::int32_t TakeBlock(TAudioFiles& Files);
// As TakeBlock, but waits up to Timeout (or until Stop) for a block or the
// end of the data instead of answering -1 at once.
std::int32_t WaitTakeBlock(TAudioFiles& Files, std::chrono::milliseconds Timeout, std::stop_token Stop);

// Frees the cache's memory; BlockCount becomes 0.
void ReleaseCache(TAudioFiles& Files);

// The cache thread. Owned by the burn record; the destructor requests stop
// and joins.
class TCacheThread {
 public:
  // Sizes the queue from cacheBytes (0: CacheSize, the 2 MiB minimum when
  // none was set), resets the priming flags and starts the thread below
  // normal priority, on a core of its own when the machine has several.
  TCacheThread(TAudioFiles& Files, const TBurnTimings& Timings, std::int32_t cacheBytes = 0);
  ~TCacheThread();
  TCacheThread(const TCacheThread&) = delete;
  TCacheThread& operator=(const TCacheThread&) = delete;

  void RequestStop() { Thread_.request_stop(); }
  // True once the thread body has returned.
  bool Ended() const { return Ended_.load(); }
  void Join();

 private:
  void Execute(std::stop_token stop);
  enum class TStep { Go, Stop };
  TStep AfterChunk(std::stop_token& stop);
  void Finish();
  void SetPriority(std::uint8_t priority);

  TAudioFiles& Files_;
  TBurnTimings Timings_;
  std::atomic<bool> Ended_{false};
  std::jthread Thread_;  // last: starts after every other member exists
};

}  // namespace cv
