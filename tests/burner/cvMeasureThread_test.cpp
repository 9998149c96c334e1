// Measuring on a thread of its own: results in order, with stamps, kinds and
// tag texts; cancel drops what is queued.
#include "burner/cvMeasureThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "burner/cvAudioCDBurner.h"
#include "burner_test_support.h"
#include "decode/cvAudFiles.h"

namespace cv::test {
namespace {

struct TCollector {
  std::mutex Mutex;
  std::condition_variable Changed;
  std::vector<TMeasureResult> Results;
  std::vector<std::string> Started;
  std::thread::id CallbackThread;

  bool WaitFor(std::size_t count) {
    std::unique_lock lock(Mutex);
    return Changed.wait_for(lock, std::chrono::seconds(120), [&] { return Results.size() >= count; });
  }
};

TEST(MeasureThread, MeasuresOnItsOwnThreadInOrderWithStampsAndKinds) {
  TCollector got;
  {
    TMeasureThread measure(
        [&](const std::string& path) {
          std::lock_guard lock(got.Mutex);
          got.Started.push_back(path);
        },
        [&](TMeasureResult result) {
          std::lock_guard lock(got.Mutex);
          got.CallbackThread = std::this_thread::get_id();
          got.Results.push_back(std::move(result));
          got.Changed.notify_all();
        });
    measure.Add({DemoFile("01-intro.wav"), DemoFile("02-theme.mp3"), DemoFile("missing.wav"), DemoFile("03-coda.ogg")});
    ASSERT_TRUE(got.WaitFor(4));
  }
  ASSERT_EQ(got.Results.size(), 4u);
  EXPECT_NE(got.CallbackThread, std::this_thread::get_id());
  EXPECT_EQ(got.Started.size(), 4u);

  TKAudioCDBurner reference;
  const std::vector<std::pair<const char*, std::uint8_t>> expected{
      {"01-intro.wav", afWAV}, {"02-theme.mp3", afMP3}, {"missing.wav", 0}, {"03-coda.ogg", afOGG}};
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TMeasureResult& r = got.Results[i];
    EXPECT_EQ(r.Path, DemoFile(expected[i].first));
    if (expected[i].second == 0) {
      EXPECT_FALSE(r.Ok);
      EXPECT_NE(r.Problem.find("missing.wav"), std::string::npos) << r.Problem;
      EXPECT_TRUE(r.Tracks.empty());
      continue;
    }
    ASSERT_TRUE(r.Ok) << r.Problem;
    ASSERT_EQ(r.Tracks.size(), 1u);
    const TMeasuredEntry& entry = r.Tracks[0];
    EXPECT_EQ(entry.Measured.FileKind, expected[i].second);
    EXPECT_EQ(entry.Measured.LengthSectors, reference.GetFileLength(r.Path));
    EXPECT_EQ(entry.Stamp, reference.GetLastFileStamp());
  }
}

TEST(MeasureThread, ACancelDropsWhatIsQueued) {
  TCollector got;
  TMeasureThread measure(nullptr, [&](TMeasureResult result) {
    std::lock_guard lock(got.Mutex);
    got.Results.push_back(std::move(result));
    got.Changed.notify_all();
  });
  const std::uint64_t before = measure.Generation();
  std::vector<std::string> many(40, DemoFile("02-theme.mp3"));
  measure.Add(many);
  measure.Cancel();
  EXPECT_EQ(measure.Generation(), before + 1);
  EXPECT_LE(measure.Pending(), 1u);  // at most the one being measured
  // What is added afterwards is measured and reported with the new count.
  measure.Add({DemoFile("01-intro.wav")});
  ASSERT_TRUE(got.WaitFor(1));
  std::lock_guard lock(got.Mutex);
  ASSERT_EQ(got.Results.size(), 1u);
  EXPECT_EQ(got.Results[0].Path, DemoFile("01-intro.wav"));
  EXPECT_EQ(got.Results[0].Generation, before + 1);
}

}  // namespace
}  // namespace cv::test
