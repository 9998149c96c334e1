// The block queue of the decode-ahead cache: fixed 63504-byte blocks that
// the cache thread fills and the write thread takes, oldest first, and the
// whole hand-over between the two threads.
//
// The queue owns its memory (one region of Capacity() blocks reserved per
// burn, each block touched only when first used, locked in RAM as far as
// RLIMIT_MEMLOCK allows), its lock and its hand-over state: the sectors not
// yet taken, "primed", "finished" and "aborted". Each side waits on the
// queue's condition variable for the other (room for the producer, a block
// or the end for the consumer), never by sleeping.
//
// Block memory is copied outside the lock: the producer writes only the
// block being filled, the consumer reads only the oldest waiting block, and
// the counts that hand a block from one to the other change under the lock.
//
// Threads: one producer (Store, StartTrack, WaitForRoom, WaitUntilTaken,
// Finish), one consumer (Take, WaitTake); Abort and every observer from any
// thread. Open and Release only while neither side runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <stop_token>
#include <vector>

namespace cv {

inline constexpr std::int32_t kQueueBlockSize = 27 * 2352;  // 63504

class TBlockQueue {
 public:
  TBlockQueue() = default;
  ~TBlockQueue();
  TBlockQueue(const TBlockQueue&) = delete;
  TBlockQueue& operator=(const TBlockQueue&) = delete;

  // An empty queue of capacity blocks (at least 2) for a burn of
  // totalSectors sectors, not primed, finished or aborted. With lockMemory
  // as much of the region as RLIMIT_MEMLOCK allows is locked in RAM. False
  // when the memory cannot be reserved (the queue is then released).
  bool Open(std::int32_t capacity, std::uint32_t totalSectors, bool lockMemory);
  // Frees the memory; the queue is empty with capacity 0 and the hand-over
  // state cleared.
  void Release();

  // --- producer (the cache thread)
  // The next bytes stored start a track with this pause.
  void StartTrack(std::uint16_t pauseSectors);
  // Appends count bytes (source nullptr: count zero bytes), queueing every
  // block that becomes full; with last, the partly filled block is queued
  // too (never an empty one). When every block is in use it waits for the
  // writer to take one. False when the queue was aborted or stop requested
  // meanwhile (the rest is not stored).
  bool Store(const std::uint8_t* source, std::int32_t count, bool last, std::stop_token stop = {});
  // While at most one block is free (the cache is full): marks the queue
  // primed and waits for the writer. False on abort or stop.
  bool WaitForRoom(std::stop_token stop);
  // Marks the queue primed (everything is decoded, or the cache is full).
  void SetPrimed();
  // Waits until the writer has taken every sector. False on abort or stop.
  bool WaitUntilTaken(std::stop_token stop);
  // No more blocks will come: the writer's Take answers 0 from now on.
  void Finish();

  // --- consumer (the write thread)
  struct TTaken {
    std::int32_t Size = 0;  // bytes; -1 nothing ready yet; 0 no more data
    bool NewTrack = false;
    std::uint16_t PauseSectors = 0;
  };
  // Copies the oldest full block into dest (at least one block long) and
  // removes it. Size 0 once every sector was taken, the producer finished or
  // the queue was aborted; -1 when no block is ready yet.
  TTaken Take(std::span<std::uint8_t> dest);
  // As Take, but waits up to timeout (or until stop) for a block or the end
  // instead of answering -1 at once.
  TTaken WaitTake(std::span<std::uint8_t> dest, std::chrono::milliseconds timeout, std::stop_token stop);

  // --- any thread
  // Abandons the burn: every wait on either side ends.
  void Abort();
  bool Aborted() const;
  // Waits up to timeout until the queue is primed or finished; true when
  // primed.
  bool WaitPrimed(std::chrono::milliseconds timeout);
  bool Primed() const;
  bool Finished() const;
  // Full blocks waiting.
  std::int32_t BlockCount() const;
  std::int32_t Capacity() const;
  // Sectors the writer has not taken yet.
  std::uint32_t RemainingSectors() const;
  // Bytes of the region locked in RAM.
  std::size_t LockedBytes() const;

 private:
  std::uint8_t* Slot(std::int32_t index) const;
  bool Done() const;  // under Mutex_
  void QueueFilling();

  mutable std::mutex Mutex_;
  std::condition_variable_any Changed_;
  // Guarded by Mutex_.
  std::int32_t Capacity_ = 0;
  std::int32_t Head_ = 0;   // oldest full block
  std::int32_t Count_ = 0;  // full blocks waiting; the block being filled is (Head_ + Count_) % Capacity_
  std::uint32_t Remaining_ = 0;
  bool Primed_ = false;
  bool Finished_ = false;
  bool Aborted_ = false;
  struct TMark {
    std::int32_t Size = 0;
    std::uint16_t PauseSectors = 0;
    bool NewTrack = false;
  };
  std::vector<TMark> Marks_;  // one per block
  // The region; set by Open, freed by Release.
  std::uint8_t* Region_ = nullptr;
  std::size_t RegionBytes_ = 0;
  std::size_t Locked_ = 0;
  // Producer only.
  std::int32_t Fill_ = 0;       // bytes in the block being filled
  std::int32_t FillIndex_ = 0;  // the block being filled
  bool PendingNewTrack_ = false;
  std::uint16_t PendingPause_ = 0;
};

}  // namespace cv
