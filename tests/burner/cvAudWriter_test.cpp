// The write thread as a drive sees it: the commands of a burn in their
// order, and the pace of the waits that face the drive.
#include "burner/cvAudWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "burner/cvAudioCDBurner.h"
#include "burner_test_support.h"

namespace cv {
namespace {

using test::DemoFile;
using test::TBurnerRig;
using test::TRecorderDir;

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The CDBs of the recorder's trace from the write thread's first
// SYNCHRONIZE CACHE on, a command repeated back to back written once (the
// shape of tests/fixtures/burn-trace/two-tracks.txt, see make-trace.sh).
std::vector<std::string> WriterCommands(const std::filesystem::path& trace) {
  std::vector<std::string> commands;
  bool started = false;
  for (const std::string& line : ReadLines(trace)) {
    const auto space = line.find(' ');
    const auto bar = line.find(" |");
    if (space == std::string::npos || bar == std::string::npos || bar <= space) continue;
    const std::string cdb = line.substr(space + 1, bar - space - 1);
    started = started || cdb.rfind("35 ", 0) == 0;
    if (started && (commands.empty() || commands.back() != cdb)) commands.push_back(cdb);
  }
  return commands;
}

// A real drive sees the commands it always saw, in the same order, however
// the engine's threads hand blocks over and however fast the drive is
// polled: the recorder (polled at its own pace here) receives exactly the
// sequence recorded from a burn of the same files before.
TEST(WriteThread, SendsTheDriveTheSameCommandsInTheSameOrder) {
  TRecorderDir dir;
  dir.Edit([](TVRState& state) { state.Faults.Trace = true; });
  {
    TBurnerRig rig;
    TKAudioCDBurner& burner = *rig.Burner;
    bool done = false;
    bool withError = true;
    burner.OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool error) {
      withError = error;
      done = true;
    };
    for (const char* name : {"01-intro.wav", "02-theme.mp3"}) {
      const std::int32_t length = burner.GetFileLength(DemoFile(name));
      ASSERT_GT(length, 0) << name;
      ASSERT_TRUE(burner.AddTrack(DemoFile(name), length, 450));
    }
    burner.SetCacheSize(8388608);
    ASSERT_TRUE(burner.Burn());
    ASSERT_TRUE(rig.WaitDone(done));
    EXPECT_FALSE(withError);
  }
  const auto expected = ReadLines(std::filesystem::path(CORVID_FIXTURES_DIR) / "burn-trace" / "two-tracks.txt");
  ASSERT_GT(expected.size(), 40u);
  EXPECT_EQ(WriterCommands(dir.Path() / "trace.log"), expected)
      << "when the commands change on purpose, regenerate the list with tests/fixtures/burn-trace/make-trace.sh";
}

TEST(PacedTimings, ScalesOnlyTheWaitsThatFaceTheDrive) {
  TBurnTimings timings;
  const TBurnTimings paced = PacedTimings(timings, 0.01);
  EXPECT_EQ(paced.DrivePoll, std::chrono::milliseconds(50));
  EXPECT_EQ(paced.WriteRetry, std::chrono::milliseconds(1));
  EXPECT_EQ(paced.FailurePause, std::chrono::milliseconds(1));
  EXPECT_EQ(paced.BlockPause, std::chrono::milliseconds(0));
  // Our own threads' waits and every deadline stay.
  EXPECT_EQ(paced.PrimePoll, timings.PrimePoll);
  EXPECT_EQ(paced.DriveDeadline, timings.DriveDeadline);
  EXPECT_EQ(paced.PrimeDeadline, timings.PrimeDeadline);
  EXPECT_EQ(paced.WriteAttempts, timings.WriteAttempts);

  // A real drive (pace 1), and nonsense, keep every period.
  for (double pace : {1.0, 3.0, -1.0, std::numeric_limits<double>::quiet_NaN()}) {
    const TBurnTimings same = PacedTimings(timings, pace);
    EXPECT_EQ(same.DrivePoll, timings.DrivePoll) << pace;
    EXPECT_EQ(same.WriteRetry, timings.WriteRetry) << pace;
    EXPECT_EQ(same.BlockPause, timings.BlockPause) << pace;
  }
  EXPECT_EQ(PacedTimings(timings, 0.0).DrivePoll, std::chrono::milliseconds(0));
}

}  // namespace
}  // namespace cv
