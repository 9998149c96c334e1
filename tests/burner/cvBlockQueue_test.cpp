// The block queue's hand-over between a producer and a consumer thread:
// order, the waits on either side, priming, the end and abandoning. Run
// under ThreadSanitizer in CI. No test measures time: every wait has a
// generous bound and a wait that never ended shows as a wrong result.
#include "burner/cvBlockQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

namespace cv {
namespace {

constexpr std::int32_t kSector = 2352;
constexpr std::chrono::milliseconds kLongWait{60000};

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

struct TReceived {
  std::vector<std::uint8_t> Bytes;
  std::vector<std::pair<std::size_t, std::uint16_t>> TrackStarts;  // offset, pause
  std::int32_t MostWaiting = 0;
  std::int32_t LastSize = -2;
};

// Takes blocks with WaitTake until the queue answers 0.
TReceived Consume(TBlockQueue& queue, std::stop_token stop = {}) {
  TReceived got;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kQueueBlockSize));
  for (int i = 0; i < 1000000; ++i) {
    got.MostWaiting = std::max(got.MostWaiting, queue.BlockCount());
    const TBlockQueue::TTaken taken = queue.WaitTake(buffer, kLongWait, stop);
    got.LastSize = taken.Size;
    if (taken.Size <= 0) break;
    if (taken.NewTrack) got.TrackStarts.emplace_back(got.Bytes.size(), taken.PauseSectors);
    got.Bytes.insert(got.Bytes.end(), buffer.begin(), buffer.begin() + taken.Size);
  }
  return got;
}

// Three tracks of whole sectors, stored in chunks of random sizes (some
// larger than a block) into a queue of only three blocks: the producer must
// wait for the consumer again and again.
TEST(BlockQueue, HandsEveryByteOverInOrderThroughASmallQueue) {
  const std::vector<std::int32_t> trackSectors{400, 27, 301};
  std::vector<std::vector<std::uint8_t>> tracks;
  std::uint32_t total = 0;
  for (std::size_t i = 0; i < trackSectors.size(); ++i) {
    tracks.push_back(Pattern(static_cast<std::size_t>(trackSectors[i]) * kSector, static_cast<std::uint32_t>(i + 1)));
    total += static_cast<std::uint32_t>(trackSectors[i]);
  }
  TBlockQueue queue;
  ASSERT_TRUE(queue.Open(3, total, false));

  std::atomic<bool> stored{true};
  std::jthread producer([&](std::stop_token stop) {
    std::mt19937 random(7);
    for (std::size_t t = 0; t < tracks.size(); ++t) {
      queue.StartTrack(static_cast<std::uint16_t>(150 * (t + 1)));
      const auto& audio = tracks[t];
      for (std::size_t at = 0; at < audio.size();) {
        const std::size_t size = std::min<std::size_t>(audio.size() - at, 1 + random() % 150000);
        if (!queue.Store(audio.data() + at, static_cast<std::int32_t>(size), false, stop)) stored = false;
        at += size;
      }
      if (!queue.Store(nullptr, 0, true, stop)) stored = false;
    }
    queue.SetPrimed();
    if (!queue.WaitUntilTaken(stop)) stored = false;
    queue.Finish();
  });
  const TReceived got = Consume(queue);
  producer.join();

  EXPECT_TRUE(stored.load());
  EXPECT_EQ(got.LastSize, 0);
  EXPECT_LE(got.MostWaiting, 3);
  EXPECT_EQ(queue.RemainingSectors(), 0u);
  std::vector<std::uint8_t> all;
  std::vector<std::pair<std::size_t, std::uint16_t>> starts;
  for (std::size_t t = 0; t < tracks.size(); ++t) {
    starts.emplace_back(all.size(), static_cast<std::uint16_t>(150 * (t + 1)));
    all.insert(all.end(), tracks[t].begin(), tracks[t].end());
  }
  EXPECT_EQ(got.TrackStarts, starts);
  EXPECT_TRUE(got.Bytes == all);
}

// The producer fills the cache until one block is left, is then primed, and
// waits in WaitForRoom until the writer takes a block.
TEST(BlockQueue, AFullCacheIsPrimedAndWaitsForTheWriter) {
  TBlockQueue queue;
  ASSERT_TRUE(queue.Open(4, 100, false));
  const auto audio = Pattern(static_cast<std::size_t>(3 * kQueueBlockSize), 11);
  std::atomic<int> roomWaits{0};
  std::jthread producer([&](std::stop_token stop) {
    queue.Store(audio.data(), static_cast<std::int32_t>(audio.size()), false, stop);
    if (queue.WaitForRoom(stop)) ++roomWaits;
  });
  EXPECT_TRUE(queue.WaitPrimed(kLongWait));
  EXPECT_EQ(queue.BlockCount(), 3);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kQueueBlockSize));
  EXPECT_EQ(queue.WaitTake(buffer, kLongWait, {}).Size, kQueueBlockSize);
  producer.join();
  EXPECT_EQ(roomWaits.load(), 1);
  EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), audio.begin()));
}

// Abandoning the burn ends the waits of both sides: a producer waiting for
// room and a consumer waiting for a block.
TEST(BlockQueue, AbortEndsTheWaitsOfBothSides) {
  TBlockQueue queue;
  ASSERT_TRUE(queue.Open(2, 1000, false));
  const auto audio = Pattern(static_cast<std::size_t>(5 * kQueueBlockSize), 12);
  std::atomic<int> producerResult{-1};
  std::jthread producer([&](std::stop_token stop) {
    // Two blocks fit; the third waits for room that never comes.
    producerResult = queue.Store(audio.data(), static_cast<std::int32_t>(audio.size()), false, stop) ? 1 : 0;
  });
  while (queue.BlockCount() < 2) std::this_thread::yield();
  queue.Abort();
  producer.join();
  EXPECT_EQ(producerResult.load(), 0);

  // A consumer waiting on an empty queue.
  TBlockQueue empty;
  ASSERT_TRUE(empty.Open(4, 1000, false));
  std::atomic<std::int32_t> size{-2};
  std::jthread consumer([&] {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kQueueBlockSize));
    size = empty.WaitTake(buffer, kLongWait, {}).Size;
  });
  empty.Abort();
  consumer.join();
  EXPECT_EQ(size.load(), 0);
  EXPECT_TRUE(empty.Aborted());
}

// A stop request (the component going away) ends the waits too.
TEST(BlockQueue, AStopRequestEndsTheWaits) {
  TBlockQueue queue;
  ASSERT_TRUE(queue.Open(2, 1000, false));
  std::atomic<int> result{-1};
  std::jthread producer([&](std::stop_token stop) {
    const auto audio = Pattern(static_cast<std::size_t>(2 * kQueueBlockSize), 13);
    queue.Store(audio.data(), static_cast<std::int32_t>(audio.size()), false, stop);
    result = queue.WaitUntilTaken(stop) ? 1 : 0;
  });
  while (queue.BlockCount() < 2) std::this_thread::yield();
  producer.request_stop();
  producer.join();
  EXPECT_EQ(result.load(), 0);
  EXPECT_FALSE(queue.Aborted());
}

// The end of the data wakes a consumer waiting for a block; the last block
// ends the burn even when its sectors are more than were announced (the
// count of sectors not yet taken stops at 0 instead of wrapping).
TEST(BlockQueue, TheEndOfTheDataWakesTheWriterAndTheCountNeverWraps) {
  TBlockQueue queue;
  ASSERT_TRUE(queue.Open(8, 2, false));
  const auto audio = Pattern(3 * kSector, 14);
  std::jthread producer([&](std::stop_token stop) {
    queue.Store(audio.data(), static_cast<std::int32_t>(audio.size()), true, stop);
    queue.WaitUntilTaken(stop);
    queue.Finish();
  });
  const TReceived got = Consume(queue);
  producer.join();
  EXPECT_EQ(got.Bytes, audio);
  EXPECT_EQ(got.LastSize, 0);
  EXPECT_EQ(queue.RemainingSectors(), 0u);
  EXPECT_TRUE(queue.Finished());
}

// The cache's memory: locked in RAM only when asked, and never more than the
// burn will use.
TEST(BlockQueue, LocksNoMoreMemoryThanTheBurnUses) {
  TBlockQueue queue;
  ASSERT_TRUE(queue.Open(100, 10, false));
  EXPECT_EQ(queue.LockedBytes(), 0u);
  ASSERT_TRUE(queue.Open(100, 10, true));
  const std::size_t page = 4096;
  EXPECT_LE(queue.LockedBytes(), (10u * kSector + kQueueBlockSize + page - 1) / page * page + page);
  queue.Release();
  EXPECT_EQ(queue.LockedBytes(), 0u);
  EXPECT_EQ(queue.Capacity(), 0);
}

}  // namespace
}  // namespace cv
