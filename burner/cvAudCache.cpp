#include "burner/cvAudCache.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "burner/cvThreadLayer.h"
#include "burner/cvTrackSource.h"
#include "device/cvIOError.h"

namespace cv {

namespace {

std::int32_t SectorsOf(std::int64_t bytes) {
  return bytes <= 0 ? 0 : static_cast<std::int32_t>((bytes + kSectorBytes - 1) / kSectorBytes);
}

}  // namespace

std::int32_t SetCacheSize(TAudioFiles& Files, std::int32_t Bytes) {
  std::int32_t size = Bytes;
  if (size < kMinCacheSize) size = kMinCacheSize;
  else if (size > kMaxCacheSize) size = kOversizeCacheSize;
  Files.CacheSize = size;
  return size;
}

std::int32_t CacheBytesForSpeed(std::int32_t cacheSize, std::int32_t speedX) {
  const std::int64_t speed = speedX > 0 ? speedX : kFastestCDSpeed;
  const std::int64_t wanted = std::int64_t{kCacheSeconds} * speed * 75 * kSectorBytes;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(wanted, std::max(cacheSize, kMinCacheSize), kMaxCacheSize));
}

bool StoreChunk(TAudioFiles& Files, const std::uint8_t* Source, std::int32_t Count, bool Last, std::stop_token Stop) {
  return Files.Blocks.Store(Source, Count, Last, Stop);
}

namespace {

std::int32_t Taken(TAudioFiles& Files, const TBlockQueue::TTaken& taken) {
  if (taken.Size > 0) {
    Files.NewTrack = taken.NewTrack;
    Files.BlockPause = taken.PauseSectors;
  }
  return taken.Size;
}

}  // namespace

std::int32_t TakeBlock(TAudioFiles& Files) { return Taken(Files, Files.Blocks.Take(Files.TransferBuffer)); }

std::int32_t WaitTakeBlock(TAudioFiles& Files, std::chrono::milliseconds Timeout, std::stop_token Stop) {
  return Taken(Files, Files.Blocks.WaitTake(Files.TransferBuffer, Timeout, Stop));
}

void ReleaseCache(TAudioFiles& Files) { Files.Blocks.Release(); }

TCacheThread::TCacheThread(TAudioFiles& Files, const TBurnTimings& Timings, std::int32_t cacheBytes)
    : Files_(Files), Timings_(Timings) {
  // Without SetCacheSize the cache gets the minimum size, not a cache with no
  // room.
  if (Files_.CacheSize < kMinCacheSize) SetCacheSize(Files_, Files_.CacheSize);
  const std::int32_t bytes = std::max(cacheBytes, Files_.CacheSize);
  Files_.CacheFailed = false;
  if (!Files_.Blocks.Open(bytes / CacheBlockSize, static_cast<std::uint32_t>(Files_.TotalSectors), true)) {
    // No memory for the cache: the burn cannot start.
    Files_.RaiseError(beDataNotPrepared);
    Files_.CacheFailed = true;
    Ended_ = true;
    return;
  }
  Files_.CachePriority = tpBelowNormal;
  Thread_ = std::jthread([this](std::stop_token stop) {
    MoveCurrentThreadToDecodeCore();
    Files_.CacheNice = SetCurrentThreadPriority(tpBelowNormal);
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
  Files_.CacheNice = SetCurrentThreadPriority(static_cast<TThreadPriority>(priority));
}

// After each stored chunk: the priority band by the number of waiting
// blocks, then the wait while the cache is full (which primes it).
TCacheThread::TStep TCacheThread::AfterChunk(std::stop_token& stop) {
  const double waiting = Files_.Blocks.BlockCount();
  const double capacity = Files_.Blocks.Capacity();
  if (waiting < capacity / 4) SetPriority(tpHighest);
  else if (waiting < capacity / 2) SetPriority(tpNormal);
  else SetPriority(tpLowest);

  if (Files_.Blocks.BlockCount() >= Files_.Blocks.Capacity() - 1) {
    SetPriority(tpIdle);
    if (!Files_.Blocks.WaitForRoom(stop)) return TStep::Stop;
  }
  if (stop.stop_requested() || Files_.Blocks.Aborted()) return TStep::Stop;
  return TStep::Go;
}

void TCacheThread::Finish() { Files_.Blocks.Finish(); }

void TCacheThread::Execute(std::stop_token stop) {
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
    Files_.Blocks.StartTrack(track.PauseSectors);

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
          if (!StoreChunk(Files_, decoder.OutputBuffer(), take, false, stop) || AfterChunk(stop) == TStep::Stop) {
            Finish();
            return;
          }
          stored += take;
        }
        if (result == -1 || stored >= target) break;
        if (stop.stop_requested() || Files_.Blocks.Aborted()) {
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
      if (!StoreChunk(Files_, nullptr, part, false, stop) || AfterChunk(stop) == TStep::Stop) {
        Finish();
        return;
      }
      stored += part;
    }
    if (!StoreChunk(Files_, nullptr, 0, true, stop)) {
      Finish();
      return;
    }
  }
  Files_.Blocks.SetPrimed();
  // Wait until the writer has taken everything, then the queue is finished.
  Files_.Blocks.WaitUntilTaken(stop);
  Finish();
  SleepFor(stop, Timings_.CacheTail);
}

}  // namespace cv
