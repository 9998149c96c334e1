#include "burner/cvAudCache.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "burner/cvThreadLayer.h"
#include "burner/cvTrackSource.h"
#include "device/cvIOError.h"

namespace cv {

namespace {

// RemainingSectors at or above this has gone below zero.
constexpr std::uint32_t kUnderflowMark = 0xFFFFFF00u;

std::unique_ptr<std::uint8_t[]> NewBlock() { return std::make_unique<std::uint8_t[]>(CacheBlockSize); }

std::int32_t SectorsOf(std::int64_t bytes) {
  return bytes <= 0 ? 0 : static_cast<std::int32_t>((bytes + kSectorBytes - 1) / kSectorBytes);
}

bool RemainingDone(std::uint32_t remaining) { return remaining == 0 || remaining >= kUnderflowMark; }

}  // namespace

std::int32_t SetCacheSize(TAudioFiles& Files, std::int32_t Bytes) {
  std::int32_t size = Bytes;
  if (size < kMinCacheSize) size = kMinCacheSize;
  else if (size > kMaxCacheSize) size = kOversizeCacheSize;
  Files.CacheSize = size;
  return size;
}

void StoreChunk(TAudioFiles& Files, TCacheFill& Fill, const std::uint8_t* Source, std::int32_t Count, bool Last) {
  std::lock_guard lock(Files.Lock);
  Files.CacheFilling = true;
  if (!Fill.Block) Fill.Block = NewBlock();

  auto queueBlock = [&] {
    TCacheBlock block;
    block.Data = std::move(Fill.Block);
    block.Size = Fill.Fill;
    block.NewTrack = Fill.PendingNewTrack;
    block.PauseSectors = Fill.PendingPause;
    Fill.PendingNewTrack = false;
    Fill.PendingPause = 0;
    Files.Blocks.push_back(std::move(block));
    Files.BlockCount.store(static_cast<std::int32_t>(Files.Blocks.size()));
    Fill.Block = NewBlock();
    Fill.Fill = 0;
  };

  // A chunk of any size is spread over as many blocks as it needs. The
  // new-track mark stays pending until the block that holds the track's first
  // bytes is queued.
  std::int32_t done = 0;
  while (done < Count) {
    const std::int32_t room = CacheBlockSize - Fill.Fill;
    const std::int32_t part = std::min(room, Count - done);
    if (Source) std::memcpy(Fill.Block.get() + Fill.Fill, Source + done, static_cast<std::size_t>(part));
    else std::memset(Fill.Block.get() + Fill.Fill, 0, static_cast<std::size_t>(part));
    Fill.Fill += part;
    done += part;
    if (Fill.Fill >= CacheBlockSize) queueBlock();
  }
  // The last chunk of a track ends its block, so the next track starts in a
  // fresh one; an empty block is never queued.
  if (Last && Fill.Fill > 0) queueBlock();
  Files.CacheFilling = false;
}

std::int32_t TakeBlock(TAudioFiles& Files) {
  if (RemainingDone(Files.RemainingSectors.load()) || Files.CacheFinished.load()) return 0;
  if (Files.BlockCount.load() == 0) return -1;
  // The queue is under Lock; CacheFilling only keeps the writer off the lock
  // while a chunk is being stored.
  for (int spins = 0; Files.CacheFilling.load(); ++spins) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (Files.AbortRequested.load()) return 0;
    if (spins > 1000) break;  // the lock below still serialises
  }
  std::lock_guard lock(Files.Lock);
  if (Files.Blocks.empty()) return -1;
  Files.WriterTaking = true;
  TCacheBlock block = std::move(Files.Blocks.front());
  Files.Blocks.pop_front();
  const std::int32_t n = std::clamp(block.Size, 0, static_cast<std::int32_t>(Files.TransferBuffer.size()));
  std::memcpy(Files.TransferBuffer.data(), block.Data.get(), static_cast<std::size_t>(n));
  Files.NewTrack = block.NewTrack;
  Files.BlockPause = block.PauseSectors;
  Files.RemainingSectors.fetch_sub(static_cast<std::uint32_t>(SectorsOf(n)));
  Files.BlockCount.store(static_cast<std::int32_t>(Files.Blocks.size()));
  Files.WriterTaking = false;
  return n;
}

void ReleaseCache(TAudioFiles& Files) {
  std::lock_guard lock(Files.Lock);
  Files.Blocks.clear();
  Files.BlockCount = 0;
}

TCacheThread::TCacheThread(TAudioFiles& Files, const TBurnTimings& Timings) : Files_(Files), Timings_(Timings) {
  // Without SetCacheSize the cache gets the minimum size, not a cache with no
  // room.
  if (Files_.CacheSize < kMinCacheSize) SetCacheSize(Files_, Files_.CacheSize);
  Files_.BlockCapacity = Files_.CacheSize / CacheBlockSize;
  Files_.CachePrimed = false;
  Files_.CacheFinished = false;
  Files_.CacheFailed = false;
  Files_.RemainingSectors = static_cast<std::uint32_t>(Files_.TotalSectors);
  Files_.CachePriority = tpBelowNormal;
  Thread_ = std::jthread([this](std::stop_token stop) {
    SetCurrentThreadPriority(tpBelowNormal);
    Execute(stop);
    Ended_ = true;
  });
}

TCacheThread::~TCacheThread() {
  Thread_.request_stop();
  Join();
}

void TCacheThread::Join() {
  if (Thread_.joinable()) Thread_.join();
}

void TCacheThread::SetPriority(std::uint8_t priority) {
  if (Files_.CachePriority.load() == priority) return;
  Files_.CachePriority = priority;
  SetCurrentThreadPriority(static_cast<TThreadPriority>(priority));
}

// The waits after each stored chunk: for the writer to finish taking a
// block, the priority band, and the wait while the cache is full.
TCacheThread::TStep TCacheThread::AfterChunk(std::stop_token& stop) {
  while (Files_.WriterTaking.load()) {
    if (Files_.AbortRequested.load() || stop.stop_requested()) {
      Files_.RaiseError(beDataNotPrepared);
      return TStep::Stop;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  const double waiting = Files_.BlockCount.load();
  const double capacity = Files_.BlockCapacity;
  if (waiting < capacity / 4) SetPriority(tpHighest);
  else if (waiting < capacity / 2) SetPriority(tpNormal);
  else SetPriority(tpLowest);

  while (Files_.BlockCount.load() >= Files_.BlockCapacity - 1) {
    SetPriority(tpIdle);
    Files_.CachePrimed = true;
    if (!SleepFor(stop, std::chrono::milliseconds(20))) return TStep::Stop;
    if (Files_.AbortRequested.load()) return TStep::Stop;
  }
  if (stop.stop_requested()) return TStep::Stop;
  return TStep::Go;
}

void TCacheThread::Finish() {
  {
    std::lock_guard lock(Files_.Lock);
    Files_.CacheFinished = true;
  }
}

void TCacheThread::Execute(std::stop_token stop) {
  Fill_ = TCacheFill{};
  Fill_.Block = NewBlock();

  auto fail = [&](std::int32_t code) {
    Files_.RaiseError(code);
    Files_.CacheFailed = true;
    Finish();
  };

  for (std::int32_t i = 0; i < Files_.TrackCount; ++i) {
    const TAudioFilesToBurn& track = Files_.Tracks[static_cast<std::size_t>(i)];
    const std::int64_t target = static_cast<std::int64_t>(TrackWriteSectors(track)) * kSectorBytes;
    std::int64_t stored = 0;
    std::int64_t decoded = 0;
    Fill_.PendingNewTrack = true;
    Fill_.PendingPause = track.PauseSectors;

    try {
      TTrackDecoder decoder(track.FileName);
      decoder.SetRange(track.StartSample, track.EndSample);
      if (decoder.FileKind() == 0 || !decoder.PrepareDecoding()) {
        fail(beDataNotPrepared);
        return;
      }
      // A decoder that keeps answering 0 without reaching the end is broken.
      constexpr int kMaxEmptyBlocks = 1 << 20;
      int empty = 0;
      for (;;) {
        std::int32_t result = decoder.DecodeBlock();
        if (result == 0 && decoder.OutputLength() <= 0 && ++empty > kMaxEmptyBlocks) {
          fail(beDataNotPrepared);
          return;
        }
        if (result != 0) empty = 0;
        const std::int32_t length = std::max<std::int32_t>(0, decoder.OutputLength());
        decoded += length;
        // Audio beyond the measured length is cut.
        const std::int32_t take = static_cast<std::int32_t>(std::min<std::int64_t>(length, target - stored));
        if (take > 0) {
          StoreChunk(Files_, Fill_, decoder.OutputBuffer(), take, false);
          stored += take;
          if (AfterChunk(stop) == TStep::Stop) {
            Finish();
            return;
          }
        }
        if (result == -1 || stored >= target) break;
        if (stop.stop_requested() || Files_.AbortRequested.load()) {
          Finish();
          return;
        }
      }
    } catch (const EInOutError&) {
      fail(beCantOpenFile);
      return;
    } catch (const std::bad_alloc&) {
      fail(beDataNotPrepared);
      return;
    } catch (const std::exception&) {
      fail(beDataNotPrepared);
      return;
    }

    // Fewer whole sectors than measured: the rest of the track is silence,
    // and the burn reports it (set before the writer can take the last block).
    if (SectorsOf(decoded) < track.LengthSectors) Files_.RaiseError(beTrackShort);
    // Silence to the track's length: the partial last sector, a track below
    // the minimum length, or audio that ended early.
    while (stored < target) {
      const std::int32_t part = static_cast<std::int32_t>(std::min<std::int64_t>(CacheBlockSize, target - stored));
      StoreChunk(Files_, Fill_, nullptr, part, false);
      stored += part;
      if (AfterChunk(stop) == TStep::Stop) {
        Finish();
        return;
      }
    }
    StoreChunk(Files_, Fill_, nullptr, 0, true);
  }
  Files_.CachePrimed = true;
  // Wait until the writer has taken everything.
  while (!RemainingDone(Files_.RemainingSectors.load())) {
    if (Files_.AbortRequested.load() || stop.stop_requested()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Finish();
  SleepFor(stop, Timings_.CacheTail);
}

}  // namespace cv
