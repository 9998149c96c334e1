// corvid-burn's drive commands on a drive they cannot have, run in processes
// of their own: the virtual recorder held by another program (its directory
// lock), named with the holder's pid by every command; never "NO ERROR",
// never an empty answer that exits 0.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "vrecorder/cvVirtualControl.h"
#include "vrecorder/cvVirtualState.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kTool = std::string(CORVID_BINARY_DIR) + "/app/corvid-burn";
const std::string kWav = std::string(CORVID_FIXTURES_DIR) + "/demo/01-intro.wav";

struct TRun {
  int Status = -1;
  std::string Output;  // standard output and error together
};

class HeldRecorder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(kTool)) << "build corvid-burn first: " << kTool;
    char pattern[] = "/tmp/corvid-held-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
    {
      cv::cvVirtualControl control(Dir / "recorder");
      ASSERT_TRUE(control.Insert("cdr80")) << control.Error();
    }
    // This test process is the other program: it holds the recorder.
    Holder = std::make_unique<cv::cvVRStateStore>(Dir / "recorder");
    ASSERT_TRUE(Holder->TryLock()) << Holder->Error();
    HolderText = "the virtual recorder is in use by another program (pid " + std::to_string(::getpid()) + ")";
  }
  void TearDown() override {
    Holder.reset();
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }

  TRun Run(const std::vector<std::string>& args) {
    TRun run;
    const fs::path log = Dir / "output.log";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      if (std::string(*e).rfind("CORVID_VIRTUAL_RECORDER=", 0) != 0) env.emplace_back(*e);
    env.push_back("CORVID_VIRTUAL_RECORDER=" + (Dir / "recorder").string());
    std::vector<char*> argv{const_cast<char*>(kTool.c_str())}, envp;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
      int status = 0;
      while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    std::ifstream in(log);
    run.Output.assign(std::istreambuf_iterator<char>(in), {});
    return run;
  }

  fs::path Dir;
  std::unique_ptr<cv::cvVRStateStore> Holder;
  std::string HolderText;
};

TEST_F(HeldRecorder, FreeMediaEjectAndBurnNameTheHolderAndFail) {
  const std::vector<std::vector<std::string>> commands = {
      {"free", "-d", "virtual"}, {"media", "-d", "virtual"}, {"eject", "-d", "virtual"},
      {"load", "-d", "virtual"}, {"burn", "-d", "virtual", kWav}, {"erase", "-d", "virtual"}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    const TRun run = Run(command);
    EXPECT_EQ(run.Status, 1) << run.Output;
    EXPECT_NE(run.Output.find(HolderText), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("NO ERROR"), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("none"), std::string::npos) << run.Output;
  }
  // Nothing reached the disc.
  Holder.reset();
  cv::cvVRStateStore store(Dir / "recorder");
  cv::TVRState state;
  ASSERT_TRUE(store.Load(state)) << store.Error();
  EXPECT_TRUE(state.Disc.Tracks.empty());
  EXPECT_EQ(state.Medium, cv::TVRMediumKind::CDR80);
  EXPECT_FALSE(state.TrayOpen);
}

TEST_F(HeldRecorder, DevicesListsItWithTheReasonInsteadOfAnEmptyName) {
  const TRun text = Run({"devices"});
  EXPECT_EQ(text.Status, 0) << text.Output;
  EXPECT_NE(text.Output.find("virtual:"), std::string::npos) << text.Output;
  EXPECT_NE(text.Output.find("(unavailable: " + HolderText + ")"), std::string::npos) << text.Output;
  const TRun json = Run({"devices", "--json"});
  EXPECT_EQ(json.Status, 0) << json.Output;
  EXPECT_NE(json.Output.find("\"error\": \"" + HolderText + "\""), std::string::npos) << json.Output;
}

}  // namespace
