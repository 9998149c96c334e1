#include "burner/cvBlockQueue.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace cv {

namespace {

std::uint32_t SectorsOf(std::int32_t bytes) {
  return bytes <= 0 ? 0u : static_cast<std::uint32_t>((bytes + 2351) / 2352);
}

std::size_t PageSize() {
  const long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096u;
}

// Locks as much of [region, region + wanted) as the system allows: all of it
// when permitted (a privileged process, or a large enough RLIMIT_MEMLOCK),
// else the part within the limit, else less. Answers the bytes locked.
std::size_t LockPrefix(std::uint8_t* region, std::size_t wanted) {
  const std::size_t page = PageSize();
  std::size_t length = (wanted + page - 1) / page * page;
  rlimit limit{};
  if (::getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && ::geteuid() != 0)
    length = std::min<std::size_t>(length, static_cast<std::size_t>(limit.rlim_cur) / page * page);
  // Other locked memory of the process counts against the same limit.
  for (int attempt = 0; attempt < 6 && length >= page; ++attempt) {
    if (::mlock(region, length) == 0) return length;
    length = length / 2 / page * page;
  }
  return 0;
}

}  // namespace

TBlockQueue::~TBlockQueue() { Release(); }

bool TBlockQueue::Open(std::int32_t capacity, std::uint32_t totalSectors, bool lockMemory) {
  Release();
  capacity = std::max<std::int32_t>(capacity, 2);
  const std::size_t bytes = static_cast<std::size_t>(capacity) * kQueueBlockSize;
  // Reserved, not touched: a block's pages become resident when it is first
  // filled, so a short album never costs the whole cache.
  void* region = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) return false;
  std::size_t locked = 0;
  if (lockMemory) {
    // No more than the burn will use: its sectors and the block being filled.
    const std::size_t used = static_cast<std::size_t>(totalSectors) * 2352u + kQueueBlockSize;
    locked = LockPrefix(static_cast<std::uint8_t*>(region), std::min(bytes, used));
  }
  std::lock_guard lock(Mutex_);
  Region_ = static_cast<std::uint8_t*>(region);
  RegionBytes_ = bytes;
  Locked_ = locked;
  Marks_.assign(static_cast<std::size_t>(capacity), TMark{});
  Capacity_ = capacity;
  Head_ = 0;
  Count_ = 0;
  Remaining_ = totalSectors;
  Primed_ = false;
  Finished_ = false;
  Aborted_ = false;
  Fill_ = 0;
  FillIndex_ = 0;
  PendingNewTrack_ = false;
  PendingPause_ = 0;
  return true;
}

void TBlockQueue::Release() {
  std::lock_guard lock(Mutex_);
  if (Region_) ::munmap(Region_, RegionBytes_);  // also unlocks
  Region_ = nullptr;
  RegionBytes_ = 0;
  Locked_ = 0;
  Marks_.clear();
  Capacity_ = 0;
  Head_ = 0;
  Count_ = 0;
  Remaining_ = 0;
  Primed_ = false;
  Finished_ = false;
  Aborted_ = false;
  Fill_ = 0;
  FillIndex_ = 0;
  PendingNewTrack_ = false;
  PendingPause_ = 0;
  Changed_.notify_all();
}

std::uint8_t* TBlockQueue::Slot(std::int32_t index) const {
  return Region_ + static_cast<std::size_t>(index) * kQueueBlockSize;
}

bool TBlockQueue::Done() const { return Aborted_ || Finished_ || Remaining_ == 0; }

void TBlockQueue::StartTrack(std::uint16_t pauseSectors) {
  PendingNewTrack_ = true;
  PendingPause_ = pauseSectors;
}

void TBlockQueue::QueueFilling() {
  std::lock_guard lock(Mutex_);
  Marks_[static_cast<std::size_t>(FillIndex_)] = TMark{Fill_, PendingPause_, PendingNewTrack_};
  ++Count_;
  Changed_.notify_all();
  FillIndex_ = (FillIndex_ + 1) % Capacity_;
  Fill_ = 0;
  PendingNewTrack_ = false;
  PendingPause_ = 0;
}

bool TBlockQueue::Store(const std::uint8_t* source, std::int32_t count, bool last, std::stop_token stop) {
  std::int32_t done = 0;
  while (done < count) {
    if (Fill_ == 0) {
      // A new block needs a free one: wait while every block is queued.
      std::unique_lock lock(Mutex_);
      if (Capacity_ == 0) return false;
      Changed_.wait(lock, stop, [&] { return Aborted_ || Count_ < Capacity_; });
      if (Aborted_ || stop.stop_requested()) return false;
    }
    // The block being filled is the producer's alone until it is queued.
    const std::int32_t part = std::min(kQueueBlockSize - Fill_, count - done);
    std::uint8_t* to = Slot(FillIndex_) + Fill_;
    if (source) std::memcpy(to, source + done, static_cast<std::size_t>(part));
    else std::memset(to, 0, static_cast<std::size_t>(part));
    Fill_ += part;
    done += part;
    if (Fill_ >= kQueueBlockSize) QueueFilling();
  }
  // The last bytes of a track end their block, so the next track starts in a
  // fresh one; an empty block is never queued.
  if (last && Fill_ > 0) QueueFilling();
  return true;
}

bool TBlockQueue::WaitForRoom(std::stop_token stop) {
  std::unique_lock lock(Mutex_);
  if (Count_ >= Capacity_ - 1 && !Primed_) {
    Primed_ = true;
    Changed_.notify_all();
  }
  Changed_.wait(lock, stop, [&] { return Aborted_ || Count_ < Capacity_ - 1; });
  return !Aborted_ && !stop.stop_requested();
}

void TBlockQueue::SetPrimed() {
  std::lock_guard lock(Mutex_);
  Primed_ = true;
  Changed_.notify_all();
}

bool TBlockQueue::WaitUntilTaken(std::stop_token stop) {
  std::unique_lock lock(Mutex_);
  Changed_.wait(lock, stop, [&] { return Aborted_ || Remaining_ == 0; });
  return Remaining_ == 0;
}

void TBlockQueue::Finish() {
  std::lock_guard lock(Mutex_);
  Finished_ = true;
  Changed_.notify_all();
}

TBlockQueue::TTaken TBlockQueue::Take(std::span<std::uint8_t> dest) {
  return WaitTake(dest, std::chrono::milliseconds(0), {});
}

TBlockQueue::TTaken TBlockQueue::WaitTake(std::span<std::uint8_t> dest, std::chrono::milliseconds timeout,
                                          std::stop_token stop) {
  std::int32_t index = 0;
  TTaken taken;
  {
    std::unique_lock lock(Mutex_);
    if (timeout.count() > 0)
      Changed_.wait_for(lock, stop, timeout, [&] { return Done() || Count_ > 0; });
    if (Done()) return taken;
    if (Count_ == 0) {
      taken.Size = -1;
      return taken;
    }
    index = Head_;
    const TMark& mark = Marks_[static_cast<std::size_t>(index)];
    taken.Size = std::clamp<std::int32_t>(mark.Size, 0, static_cast<std::int32_t>(dest.size()));
    taken.NewTrack = mark.NewTrack;
    taken.PauseSectors = mark.PauseSectors;
  }
  // The oldest block stays out of the producer's reach until it is removed.
  std::memcpy(dest.data(), Slot(index), static_cast<std::size_t>(taken.Size));
  std::lock_guard lock(Mutex_);
  Head_ = (Head_ + 1) % Capacity_;
  --Count_;
  Remaining_ -= std::min(Remaining_, SectorsOf(taken.Size));
  Changed_.notify_all();
  return taken;
}

void TBlockQueue::Abort() {
  std::lock_guard lock(Mutex_);
  Aborted_ = true;
  Changed_.notify_all();
}

bool TBlockQueue::Aborted() const {
  std::lock_guard lock(Mutex_);
  return Aborted_;
}

bool TBlockQueue::WaitPrimed(std::chrono::milliseconds timeout) {
  std::unique_lock lock(Mutex_);
  Changed_.wait_for(lock, timeout, [&] { return Primed_ || Finished_ || Aborted_; });
  return Primed_;
}

bool TBlockQueue::Primed() const {
  std::lock_guard lock(Mutex_);
  return Primed_;
}

bool TBlockQueue::Finished() const {
  std::lock_guard lock(Mutex_);
  return Finished_;
}

std::int32_t TBlockQueue::BlockCount() const {
  std::lock_guard lock(Mutex_);
  return Count_;
}

std::int32_t TBlockQueue::Capacity() const {
  std::lock_guard lock(Mutex_);
  return Capacity_;
}

std::uint32_t TBlockQueue::RemainingSectors() const {
  std::lock_guard lock(Mutex_);
  return Remaining_;
}

std::size_t TBlockQueue::LockedBytes() const {
  std::lock_guard lock(Mutex_);
  return Locked_;
}

}  // namespace cv
