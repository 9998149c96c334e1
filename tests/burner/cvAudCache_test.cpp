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
    EXPECT_EQ(files.Blocks.Capacity(), 132);
  }
  // No SetCacheSize since the list was cleared: the minimum, not no room.
  ClearTracks(files);
  {
    TCacheThread cache(files, TBurnTimings{});
    EXPECT_EQ(files.Blocks.Capacity(), 33);
  }
  // Sized for the write speed: larger than asked, never smaller.
  SetCacheSize(files, 8388608);
  TCacheThread cache(files, TBurnTimings{}, CacheBytesForSpeed(files.CacheSize, 52));
  EXPECT_EQ(files.Blocks.Capacity(), CacheBytesForSpeed(8388608, 52) / CacheBlockSize);
}

TEST(CacheBytesForSpeed, HoldsSecondsOfAudioAtTheWriteSpeedAndNeverLessThanAsked) {
  // Ten seconds at 52x: 52 * 75 sectors a second.
  EXPECT_EQ(CacheBytesForSpeed(8388608, 52), 10 * 52 * 75 * kSectorBytes);
  EXPECT_EQ(CacheBytesForSpeed(8388608, 0), CacheBytesForSpeed(8388608, kFastestCDSpeed));
  // At 4x ten seconds are less than the front end's 8 MiB: the 8 MiB stay.
  EXPECT_EQ(CacheBytesForSpeed(8388608, 4), 8388608);
  EXPECT_EQ(CacheBytesForSpeed(0, 1), kMinCacheSize);
  EXPECT_EQ(CacheBytesForSpeed(200000000, 52), 200000000);
  EXPECT_EQ(CacheBytesForSpeed(8388608, 10000), kMaxCacheSize);
}

// A queue as the cache thread opens it for a burn of `sectors` sectors.
void OpenQueue(TAudioFiles& files, std::uint32_t sectors, std::int32_t blocks = 132) {
  ASSERT_TRUE(files.Blocks.Open(blocks, sectors, false));
}

TEST(StoreChunk, SpreadsAChunkLargerThanABlockOverSeveralBlocks) {
  TAudioFiles files;
  OpenQueue(files, 1000);
  files.Blocks.StartTrack(450);
  const auto chunk = Pattern(3 * CacheBlockSize + 100 * 4, 1);
  StoreChunk(files, chunk.data(), static_cast<std::int32_t>(chunk.size()), true);
  EXPECT_EQ(files.Blocks.BlockCount(), 4);

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
  OpenQueue(files, 10000);
  // Track 1: exactly two blocks, in chunks of 9 sectors, then an empty last
  // chunk.
  files.Blocks.StartTrack(150);
  const auto track1 = Pattern(2 * CacheBlockSize, 2);
  for (std::size_t at = 0; at < track1.size(); at += 9 * kSectorBytes)
    StoreChunk(files, track1.data() + at, 9 * kSectorBytes, false);
  StoreChunk(files, nullptr, 0, true);
  EXPECT_EQ(files.Blocks.BlockCount(), 2);
  // Track 2: one small chunk.
  files.Blocks.StartTrack(450);
  const auto track2 = Pattern(5 * kSectorBytes, 3);
  StoreChunk(files, track2.data(), static_cast<std::int32_t>(track2.size()), true);

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

TEST(StoreChunk, SilenceChunksAreZerosEvenInABlockUsedBefore) {
  TAudioFiles files;
  // Two blocks: the third chunk lands in the first block again.
  OpenQueue(files, 100, 2);
  const auto noise = Pattern(static_cast<std::size_t>(CacheBlockSize), 4);
  StoreChunk(files, noise.data(), CacheBlockSize, true);
  std::vector<std::uint8_t> out;
  TakeAll(files, out);
  out.clear();
  const auto audio = Pattern(1000, 5);
  StoreChunk(files, audio.data(), 1000, false);
  StoreChunk(files, nullptr, 2 * kSectorBytes - 1000, true);
  TakeAll(files, out);
  ASSERT_EQ(out.size(), static_cast<std::size_t>(2 * kSectorBytes));
  EXPECT_TRUE(std::equal(audio.begin(), audio.end(), out.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 1000, out.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST(TakeBlock, AnswersMinusOneWhileEmptyAndZeroWhenEverythingIsTaken) {
  TAudioFiles files;
  OpenQueue(files, 3);
  EXPECT_EQ(TakeBlock(files), -1);
  const auto audio = Pattern(3 * kSectorBytes, 5);
  StoreChunk(files, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  EXPECT_EQ(TakeBlock(files), 3 * kSectorBytes);
  EXPECT_EQ(files.Blocks.RemainingSectors(), 0u);
  EXPECT_EQ(files.Blocks.BlockCount(), 0);
  EXPECT_EQ(TakeBlock(files), 0);
}

TEST(TakeBlock, AnswersZeroOnceTheCacheHasFinishedOrTheBurnIsAbandoned) {
  TAudioFiles files;
  OpenQueue(files, 30);
  const auto audio = Pattern(3 * kSectorBytes, 6);
  StoreChunk(files, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  files.Blocks.Finish();
  EXPECT_EQ(TakeBlock(files), 0);

  OpenQueue(files, 30);
  StoreChunk(files, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  files.Blocks.Abort();
  EXPECT_EQ(TakeBlock(files), 0);
  // Nothing more is stored once the burn is abandoned.
  EXPECT_FALSE(StoreChunk(files, audio.data(), static_cast<std::int32_t>(audio.size()), true));
}

TEST(ReleaseCache, FreesEveryQueuedBlock) {
  TAudioFiles files;
  OpenQueue(files, 100);
  const auto audio = Pattern(2 * CacheBlockSize, 7);
  StoreChunk(files, audio.data(), static_cast<std::int32_t>(audio.size()), true);
  ASSERT_EQ(files.Blocks.BlockCount(), 2);
  ReleaseCache(files);
  EXPECT_EQ(files.Blocks.BlockCount(), 0);
  EXPECT_EQ(files.Blocks.Capacity(), 0);
  EXPECT_EQ(TakeBlock(files), 0);
}

}  // namespace
}  // namespace cv
