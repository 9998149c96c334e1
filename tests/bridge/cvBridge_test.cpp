// The preload library: real files and other paths behave exactly as without
// it, and its node looks and answers like a SCSI CD/DVD drive whose commands
// reach the recorder server.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vrecorder/cvVirtualControl.h"
#include "vrecorder/cvVirtualServer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Runs the probe with the given extra environment; its standard output.
std::string Probe(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv,
                  const fs::path& scratch) {
  const fs::path log = scratch / "probe.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e)
    if (std::strncmp(*e, "LD_PRELOAD=", 11) != 0) env.emplace_back(*e);
  env.insert(env.end(), extraEnv.begin(), extraEnv.end());
  std::vector<std::string> argv = {CORVID_BRIDGE_PROBE};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> a, e;
  for (const std::string& s : argv) a.push_back(const_cast<char*>(s.c_str()));
  a.push_back(nullptr);
  for (std::string& s : env) e.push_back(s.data());
  e.push_back(nullptr);
  pid_t pid = -1;
  int status = -1;
  if (posix_spawn(&pid, a[0], &actions, nullptr, a.data(), e.data()) == 0)
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(log);
  std::string out((std::istreambuf_iterator<char>(in)), {});
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) out += "probe ended with status " + std::to_string(status);
  return out;
}

std::string FreeNode(const std::string& prefix) {
  for (int n = 0; n < 256; ++n) {
    struct stat st {};
    if (::lstat((prefix + std::to_string(n)).c_str(), &st) != 0) return prefix + std::to_string(n);
  }
  return prefix + "255";
}

class BridgeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvid-bridge-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
    Node = FreeNode("/dev/sr");
    Sg = FreeNode("/dev/sg");
    Socket = Dir / "server.sock";
    Preload = {"LD_PRELOAD=" + std::string(CORVID_BRIDGE_LIBRARY), "CORVID_BRIDGE_SOCKET=" + Socket.string(),
               "CORVID_BRIDGE_NODE=" + Node, "CORVID_BRIDGE_SG=" + Sg, "CORVID_BRIDGE_DIR=" + (Dir / "bridge").string()};
  }
  void TearDown() override {
    Server.Stop();
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }
  void StartServer() {
    const fs::path recorder = Dir / "recorder";
    cv::cvVirtualControl control(recorder);
    ASSERT_TRUE(control.Insert("cdr80")) << control.Error();
    ASSERT_TRUE(Server.Start(recorder, Socket)) << Server.Error();
  }
  static bool Has(const std::string& out, const std::string& line) {
    return out.find(line + "\n") != std::string::npos;
  }

  fs::path Dir, Socket;
  std::string Node, Sg;
  std::vector<std::string> Preload;
  cv::cvVirtualServer Server;
};

TEST_F(BridgeTest, RealFilesBehaveExactlyAsWithoutTheLibrary) {
  StartServer();
  const fs::path file = Dir / "file.txt";
  std::ofstream(file) << "corvid\nsecond line\n";
  fs::create_symlink(file, Dir / "link");
  fs::create_directory(Dir / "dir");
  std::ofstream(Dir / "dir" / "a") << "a";
  const std::vector<std::string> args = {"file", file.string(), (Dir / "link").string(), (Dir / "dir").string()};
  const std::string plain = Probe(args, {}, Dir);
  const std::string preloaded = Probe(args, Preload, Dir);
  ASSERT_NE(plain.find("open O_EXCL: 0"), std::string::npos) << plain;
  EXPECT_EQ(preloaded, plain);
  // The calls the library answers for its node fail on a file as before.
  EXPECT_TRUE(Has(preloaded, "ioctl SG_GET_VERSION_NUM: -1 errno " + std::to_string(ENOTTY))) << preloaded;
  EXPECT_TRUE(Has(preloaded, "open missing: -1 errno " + std::to_string(ENOENT))) << preloaded;
}

TEST_F(BridgeTest, TheNodeIsADriveWhoseCommandsReachTheServer) {
  StartServer();
  const std::string out = Probe({"node", Node, Sg}, Preload, Dir);
  const std::string n = Node.substr(7), m = Sg.substr(7);
  EXPECT_NE(out.find("stat node: mode 60660"), std::string::npos) << out;
  EXPECT_NE(out.find("rdev 11:" + n + "\n"), std::string::npos) << out;
  EXPECT_NE(out.find("stat sg: mode 20660"), std::string::npos) << out;
  EXPECT_NE(out.find("rdev 21:" + m + "\n"), std::string::npos) << out;
  EXPECT_TRUE(Has(out, "access node: 0")) << out;
  EXPECT_TRUE(Has(out, "open node: 0")) << out;
  EXPECT_NE(out.find("fstat node: mode 60660"), std::string::npos) << out;
  EXPECT_TRUE(Has(out, "second exclusive open: -1 errno " + std::to_string(EBUSY))) << out;
  EXPECT_TRUE(Has(out, "version: 30536")) << out;
  EXPECT_TRUE(Has(out, "host: 99 99")) << out;
  EXPECT_TRUE(Has(out, "fcntl F_SETLK: 0")) << out;
  EXPECT_TRUE(Has(out, "HDIO_GET_IDENTITY: -1 errno " + std::to_string(ENOTTY))) << out;
  EXPECT_TRUE(Has(out, "inquiry: status 0 resid 60 type 5 id CORVID  VIRTUAL RECORDER")) << out;
  // A dup keeps the open alive after the original descriptor is closed.
  EXPECT_TRUE(Has(out, "SG_IO on a dup after close: 0")) << out;
  EXPECT_TRUE(Has(out, "exclusive reopens refused: 0")) << out;
}

TEST_F(BridgeTest, WithoutAServerTheNodeHasNoDriveBehindIt) {
  const std::string out = Probe({"node", Node, Sg}, Preload, Dir);
  EXPECT_NE(out.find("stat node: mode 60660"), std::string::npos) << out;
  EXPECT_TRUE(Has(out, "open node: -1 errno " + std::to_string(ENXIO))) << out;
}

TEST_F(BridgeTest, UnconfiguredTheLibraryFakesNothing) {
  const std::string out = Probe({"node", Node, Sg}, {"LD_PRELOAD=" + std::string(CORVID_BRIDGE_LIBRARY)}, Dir);
  EXPECT_TRUE(Has(out, "stat node: -1 errno " + std::to_string(ENOENT))) << out;
  EXPECT_TRUE(Has(out, "open node: -1 errno " + std::to_string(ENOENT))) << out;
}

}  // namespace
