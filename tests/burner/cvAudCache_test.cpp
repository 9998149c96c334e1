// The decode-ahead cache's queue: the size rule, how chunks become blocks,
// and the hand-over to the writer.
#include "burner/cvAudCache.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace cv {
namespace {

std::vector<std::uint8_t> Pattern(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> bytes(size);
  std::mt19937 random(seed);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
  return bytes;
}

// Takes every queued block; answers their sizes and appends their bytes.
std::vector<std::int32_t> TakeAll(TAudioFiles& files, std::vector<std::uint8_t>& out,
                                  std::vector<std::pair<bool, std::uint16_t>>* marks = nullptr) {
  std::vector<std::int32_t> sizes;
  for (;;) {
    const std::int32_t n = TakeBlock(files);
    if (n <= 0) break;
    sizes.push_back(n);
    out.insert(out.end(), files.TransferBuffer.begin(), files.TransferBuffer.begin() + n);
    if (marks) marks->emplace_back(files.NewTrack, files.BlockPause);
  }
  return sizes;
}

TEST(SetCacheSize, AppliesTheSizeRule) {
  TAudioFiles files;
  EXPECT_EQ(SetCacheSize(files, 0), 2097152);
  EXPECT_EQ(SetCacheSize(files, -5), 2097152);
  EXPECT_EQ(SetCacheSize(files, 1000000000), 67108864);
  EXPECT_EQ(files.CacheSize, 67108864);
  EXPECT_EQ(SetCacheSize(files, 943718400), 943718400);
  EXPECT_EQ(SetCacheSize(files, 8388608), 8388608);
}

TEST(CacheThread, SizesTheQueueFromTheCacheSize) {
  TAudioFiles files;
  SetCacheSize(files, 8388608);
  {
    TCacheThread cache(files, TBurnTimings{});
    EXPECT_EQ(files.BlockCapacity, 132);
  }
  // No SetCacheSize since the list was cleared: the minimum, not no room.
  ClearTracks(files);
  TCacheThread cache(files, TBurnTimings{});
  EXPECT_EQ(files.BlockCapacity, 33);
}

TEST(StoreChunk, SpreadsAChunkLargerThanABlockOverSeveralBlocks) {
  TAudioFiles files;
  TCacheFill fill;
  fill.PendingNewTrack = true;
  fill.PendingPause = 450;
  const auto chunk = Pattern(3 * CacheBlockSize + 100 * 4, 1);
  files.RemainingSectors = 1000;
  StoreChunk(files, fill, chunk.data(), static_cast<std::int32_t>(chunk.size()), true);
  EXPECT_EQ(files.BlockCount.load(), 4);

  std::vector<std::uint8_t> out;
  std::vector<std::pair<bool, std::uint16_t>> marks;
  const auto sizes = TakeAll(files, out, &marks);
  EXPECT_EQ(sizes, (std::vector<std::int32_t>{CacheBlockSize, CacheBlockSize, CacheBlockSize, 400}));
  EXPECT_EQ(out, chunk);
  ASSERT_EQ(marks.size(), 4u);
  EXPECT_EQ(marks[0], std::make_pair(true, std::uint16_t{450}));
  for (std::size_t i = 1; i < marks.size(); ++i) EXPECT_FALSE(marks[i].first);
}

TEST(StoreChunk, ATrackOfWholeBlocksQueuesNoEmptyBlockAndTheNextTrackStartsFresh) {
  TAudioFiles files;
  TCacheFill fill;
  files.RemainingSectors = 10000;
  // Track 1: exactly two blocks, in chunks of 9 sectors, then an empty last
  // chunk.
  fill.PendingNewTrack = true;
  fill.PendingPause = 150;
  const auto track1 = Pattern(2 * CacheBlockSize, 2);
  for (std::size_t at = 0; at < track1.size(); at += 9 * kSectorBytes)
    StoreChunk(files, fill, track1.data() + at, 9 * kSectorBytes, false);
  StoreChunk(files, fill, nullptr, 0, true);
  EXPECT_EQ(files.BlockCount.load(), 2);
  // Track 2: one small chunk.
  fill.PendingNewTrack = true;
  fill.PendingPause = 450;
  const auto track2 = Pattern(5 * kSectorBytes, 3);
  StoreChunk(files, fill, track2.data(), static_cast<std::int32_t>(track2.size()), true);

  std::vector<std::uint8_t> out;
  std::vector<std::pair<bool, std::uint16_t>> marks;
  const auto sizes = TakeAll(files, out, &marks);
  EXPECT_EQ(sizes, (std::vector<std::int32_t>{CacheBlockSize, CacheBlockSize, 5 * kSectorBytes}));
  ASSERT_EQ(marks.size(), 3u);
  EXPECT_EQ(marks[0], std::make_pair(true, std::uint16_t{150}));
  EXPECT_FALSE(marks[1].first);
  EXPECT_EQ(marks[2], std::make_pair(true, std::uint16_t{450}));
  std::vector<std::uint8_t> both = track1;
  both.insert(both.end(), track2.begin(), track2.end());
  EXPECT_EQ(out, both);
}

TEST(StoreChunk, SilenceChunksAreZeros) {
  TAudioFiles files;
  TCacheFill fill;
  files.RemainingSectors = 100;
  const auto audio = Pattern(1000, 4);
  StoreChunk(files, fill, audio.data(), 1000, false);
  StoreChunk(files, fill, nullptr, 2 * kSectorBytes - 1000, true);
  std::vector<std::uint8_t> out;
  TakeAll(files, out);
  ASSERT_EQ(out.size(), static_cast<std::size_t>(2 * kSectorBytes));
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), out.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 1000, out.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(TakeBlock, AnswersMinusOneWhileEmptyAndZeroWhenEverythingIsTaken) {
  TAudioFiles files;
  TCacheFill fill;
  files.RemainingSectors = 3;
  EXPECT_EQ(TakeBlock(files), -1);
  const auto audio = Pattern(3 * kSectorBytes, 5);
  StoreChunk(files, fill, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  EXPECT_EQ(TakeBlock(files), 3 * kSectorBytes);
  EXPECT_EQ(files.RemainingSectors.load(), 0u);
  EXPECT_EQ(files.BlockCount.load(), 0);
  EXPECT_EQ(TakeBlock(files), 0);
}

TEST(TakeBlock, AnswersZeroOnceTheCacheHasFinished) {
  TAudioFiles files;
  TCacheFill fill;
  files.RemainingSectors = 30;
  const auto audio = Pattern(3 * kSectorBytes, 6);
  StoreChunk(files, fill, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  files.CacheFinished = true;
  EXPECT_EQ(TakeBlock(files), 0);
}

TEST(ReleaseCache, FreesEveryQueuedBlock) {
  TAudioFiles files;
  TCacheFill fill;
  const auto audio = Pattern(2 * CacheBlockSize, 7);
  StoreChunk(files, fill, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  ASSERT_EQ(files.BlockCount.load(), 2);
  ReleaseCache(files);
  EXPECT_EQ(files.BlockCount.load(), 0);
  EXPECT_TRUE(files.Blocks.empty());
}

// A producer and a consumer on two threads: every byte arrives once, in
// order, whatever the chunk sizes (run under ThreadSanitizer in CI).
TEST(CacheHandOver, DeliversEveryByteInOrderAcrossThreads) {
  TAudioFiles files;
  const std::int32_t sectors = 400;
  const auto audio = Pattern(static_cast<std::size_t>(sectors) * kSectorBytes, 8);
  files.RemainingSectors = static_cast<std::uint32_t>(sectors);

  std::thread producer([&] {
    TCacheFill fill;
    fill.PendingNewTrack = true;
    std::mt19937 random(9);
    std::size_t at = 0;
    while (at < audio.size()) {
      const std::size_t size = std::min<std::size_t>(audio.size() - at, 1 + random() % 150000);
      StoreChunk(files, fill, audio.data() + at, static_cast<std::int32_t>(size), at + size == audio.size());
      at += size;
    }
  });
  std::vector<std::uint8_t> out;
  for (int spins = 0; spins < 200000; ++spins) {
    const std::int32_t n = TakeBlock(files);
    if (n == 0) break;
    if (n < 0) {
      std::this_thread::yield();
      continue;
    }
    out.insert(out.end(), files.TransferBuffer.begin(), files.TransferBuffer.begin() + n);
  }
  producer.join();
  EXPECT_EQ(files.RemainingSectors.load(), 0u);
  EXPECT_EQ(out, audio);
}

}  // namespace
}  // namespace cv
