// The virtual recorder as a drive node for other programs, end to end:
// `corvid-burn virtual run` with independent burning programs from Debian
// (cdrskin, wodim, cdrdao) and with corvid-burn itself on the real Linux
// pass-through path. Each burn is checked in the recorder's image: every
// track holds its WAV file's audio byte for byte. A peer that is not
// installed skips its cases with a message.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "vrecorder/cvVirtualControl.h"
#include "vrecorder/cvVirtualState.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const std::string kCorvidBurn = CORVID_BURN_EXE;
const std::string kProbe = CORVID_BRIDGE_PROBE;

struct TResult {
  int Status = -1;
  std::string Output;  // standard output and standard error together
};

// Runs argv with extra environment, output captured through a file.
TResult RunProgram(const std::vector<std::string>& argv, const fs::path& scratch,
            const std::vector<std::string>& extraEnv = {}) {
  TResult result;
  const fs::path log = scratch / "output.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  for (const std::string& e : extraEnv) env.push_back(e);
  std::vector<char*> args, envp;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), envp.data()) == 0) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  std::ifstream in(log);
  result.Output.assign(std::istreambuf_iterator<char>(in), {});
  return result;
}

bool Installed(const std::string& program) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"})
    if (::access((std::string(dir) + program).c_str(), X_OK) == 0) return true;
  return false;
}

// A 44.1 kHz 16-bit stereo WAV of a distinct pattern, frames long.
std::vector<std::uint8_t> MakeWav(const fs::path& path, std::uint32_t frames, int seed) {
  std::vector<std::uint8_t> pcm(frames * 4);
  std::uint32_t x = 0x12345u * static_cast<std::uint32_t>(seed + 1);
  for (auto& b : pcm) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  auto put32 = [](std::vector<std::uint8_t>& v, std::uint32_t n) {
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
  };
  auto put16 = [](std::vector<std::uint8_t>& v, std::uint16_t n) {
    v.push_back(static_cast<std::uint8_t>(n));
    v.push_back(static_cast<std::uint8_t>(n >> 8));
  };
  std::vector<std::uint8_t> file;
  for (char c : std::string("RIFF")) file.push_back(static_cast<std::uint8_t>(c));
  put32(file, 36 + static_cast<std::uint32_t>(pcm.size()));
  for (char c : std::string("WAVEfmt ")) file.push_back(static_cast<std::uint8_t>(c));
  put32(file, 16);
  put16(file, 1);
  put16(file, 2);
  put32(file, 44100);
  put32(file, 44100 * 4);
  put16(file, 4);
  put16(file, 16);
  for (char c : std::string("data")) file.push_back(static_cast<std::uint8_t>(c));
  put32(file, static_cast<std::uint32_t>(pcm.size()));
  file.insert(file.end(), pcm.begin(), pcm.end());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                              static_cast<std::streamsize>(file.size()));
  return pcm;
}

class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/corvid-peer-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
    Recorder = Dir / "recorder";
    Env = {"CORVID_VIRTUAL_RECORDER=" + Recorder.string()};
    cv::cvVirtualControl control(Recorder);
    ASSERT_TRUE(control.Insert("cdr80")) << control.Error();
    // Fast: no write speed limit, short close-outs.
    ASSERT_TRUE(control.Set({"time-scale=0.001"})) << control.Error();
    // 4.5 s and 5 s: above the 4-second minimum of a track, a few sectors
    // short of a whole sector at the end (the peers pad them).
    Pcm1 = MakeWav(Dir / "one.wav", 44100 * 9 / 2 + 100, 1);
    Pcm2 = MakeWav(Dir / "two.wav", 44100 * 5 + 17, 2);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }

  void SetFaults(const std::vector<std::string>& assignments) {
    cv::cvVirtualControl control(Recorder);
    ASSERT_TRUE(control.Set(assignments)) << control.Error();
  }

  // `corvid-burn virtual run --node NODE -- argv...`
  TResult VirtualRun(std::vector<std::string> argv, const std::vector<std::string>& extraEnv = {}) {
    std::vector<std::string> full = {kCorvidBurn, "virtual", "run", "--"};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<std::string> env = Env;
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return RunProgram(full, Dir, env);
  }

  // The node `virtual run` picks: the first /dev/srN that does not exist.
  static std::string Node() {
    for (int n = 0; n < 24; ++n) {
      std::string path = "/dev/sr" + std::to_string(n);
      struct stat st {};
      if (::lstat(path.c_str(), &st) != 0) return path;
    }
    return "/dev/sr99";
  }

  cv::TVRState State() {
    cv::TVRState state;
    cv::cvVRStateStore store(Recorder);
    EXPECT_TRUE(store.Load(state)) << store.Error();
    return state;
  }

  // Every track of the image holds its file's audio, padded with zeros to
  // whole sectors.
  void ExpectTracksHoldTheWavData() {
    const cv::TVRState state = State();
    ASSERT_EQ(state.Disc.Tracks.size(), 2u);
    std::ifstream bin(Recorder / "disc.bin", std::ios::binary);
    std::vector<std::uint8_t> image((std::istreambuf_iterator<char>(bin)), {});
    const std::vector<std::uint8_t>* pcms[] = {&Pcm1, &Pcm2};
    for (std::size_t t = 0; t < 2; ++t) {
      SCOPED_TRACE("track " + std::to_string(t + 1));
      const auto& track = state.Disc.Tracks[t];
      const std::vector<std::uint8_t>& pcm = *pcms[t];
      const std::size_t sectors = (pcm.size() + 2351) / 2352;
      EXPECT_TRUE(track.Closed);
      ASSERT_GE(static_cast<std::size_t>(track.Length), sectors);
      const std::size_t at = static_cast<std::size_t>(track.Start) * 2352;
      ASSERT_LE(at + sectors * 2352, image.size());
      EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), image.begin() + static_cast<long>(at)))
          << "the audio differs from the WAV data";
      for (std::size_t i = at + pcm.size(); i < at + static_cast<std::size_t>(track.Length) * 2352; ++i) {
        if (image[i] != 0) {
          ADD_FAILURE() << "padding not zero at byte " << i - at;
          break;
        }
      }
    }
  }

  void ExpectBlank() {
    const cv::TVRState state = State();
    EXPECT_TRUE(state.Disc.Tracks.empty()) << state.Disc.Tracks.size() << " tracks written";
    EXPECT_EQ(state.Disc.ClosedSessions(), 0);
    std::error_code ec;
    const auto size = fs::file_size(Recorder / "disc.bin", ec);
    EXPECT_TRUE(ec || size == 0) << "disc.bin holds " << size << " bytes";
  }

  fs::path Dir, Recorder;
  std::vector<std::string> Env;
  std::vector<std::uint8_t> Pcm1, Pcm2;
};

#define REQUIRE_PEER(name) \
  if (!Installed(name)) GTEST_SKIP() << name << " is not installed (Debian package " << name << ")"

TEST_F(PeerTest, CdrskinBurnsTwoWavFilesTrackAtOnce) {
  REQUIRE_PEER("cdrskin");
  const std::string node = Node();
  TResult r = VirtualRun({"cdrskin", "dev=" + node, "-tao", "-audio", "-pad", (Dir / "one.wav").string(),
                          (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectTracksHoldTheWavData();
}

TEST_F(PeerTest, WodimBurnsTwoWavFilesTrackAtOnce) {
  REQUIRE_PEER("wodim");
  const std::string node = Node();
  // wodim locks its FIFO in memory: 2 MiB fits an unprivileged limit.
  TResult r = VirtualRun({"wodim", "dev=" + node, "-tao", "-audio", "-pad", "fs=2m", (Dir / "one.wav").string(),
                          (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectTracksHoldTheWavData();
}

TEST_F(PeerTest, CorvidBurnWritesThroughTheNodeLikeARealDrive) {
  const std::string node = Node();
  TResult devices = VirtualRun({kCorvidBurn, "devices", "--json"});
  ASSERT_EQ(devices.Status, 0) << devices.Output;
  EXPECT_NE(devices.Output.find("\"path\": \"" + node + "\""), std::string::npos) << devices.Output;
  EXPECT_NE(devices.Output.find("\"transport\": \"pass-through\""), std::string::npos) << devices.Output;
  EXPECT_NE(devices.Output.find("\"product\": \"VIRTUAL RECORDER\""), std::string::npos) << devices.Output;
  EXPECT_EQ(devices.Output.find("\"transport\": \"virtual\""), std::string::npos)
      << "the recorder is listed twice:\n" << devices.Output;

  TResult r = VirtualRun({kCorvidBurn, "burn", "-d", node, "--pause", "150", (Dir / "one.wav").string(),
                          (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  EXPECT_NE(r.Output.find("Write Done!"), std::string::npos) << r.Output;
  ExpectTracksHoldTheWavData();
}

TEST_F(PeerTest, CdrdaoNamesTheRecorder) {
  REQUIRE_PEER("cdrdao");
  // cdrdao knows no driver for an unknown drive name until told.
  TResult r = VirtualRun({"cdrdao", "drive-info", "--device", Node(), "--driver", "generic-mmc"});
  EXPECT_EQ(r.Status, 0) << r.Output;
  EXPECT_NE(r.Output.find("CORVID"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("VIRTUAL RECORDER"), std::string::npos) << r.Output;
}

TEST_F(PeerTest, CdrdaoWritesTwoWavFilesDiscAtOnce) {
  REQUIRE_PEER("cdrdao");
  // A table of contents with a two-second pause before track 2: cdrdao
  // writes it as 150 silent sectors in the data stream, from the lead-in's
  // pre-gap at -150 to the lead-out, after one SEND CUE SHEET.
  std::ofstream(Dir / "disc.toc") << "CD_DA\nTRACK AUDIO\nFILE \"" << (Dir / "one.wav").string()
                                  << "\" 0\nTRACK AUDIO\nPREGAP 0:2:0\nFILE \"" << (Dir / "two.wav").string()
                                  << "\" 0\n";
  TResult r = VirtualRun({"cdrdao", "write", "--device", Node(), "--driver", "generic-mmc", "-n",
                          (Dir / "disc.toc").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectTracksHoldTheWavData();
  const cv::TVRState state = State();
  ASSERT_EQ(state.Disc.Tracks.size(), 2u);
  EXPECT_EQ(state.Disc.ClosedSessions(), 1);
  EXPECT_EQ(state.Disc.Tracks[1].Start - state.Disc.Tracks[0].Start - state.Disc.Tracks[0].Length, 150)
      << "track 2's pause";
}

TEST_F(PeerTest, CdrskinBurnsTwoWavFilesSessionAtOnce) {
  REQUIRE_PEER("cdrskin");
  TResult r = VirtualRun({"cdrskin", "dev=" + Node(), "-sao", "-audio", "-pad", (Dir / "one.wav").string(),
                          (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectTracksHoldTheWavData();
  EXPECT_EQ(State().Disc.ClosedSessions(), 1);
}

TEST_F(PeerTest, WodimBurnsTwoWavFilesDiscAtOnce) {
  REQUIRE_PEER("wodim");
  // Without a pause between the tracks (wodim would take it from the end of
  // track 1's audio): the two files joined in one SEND CUE SHEET layout.
  TResult r = VirtualRun({"wodim", "dev=" + Node(), "-dao", "-audio", "-pad", "fs=2m", "defpregap=0",
                          (Dir / "one.wav").string(), (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectTracksHoldTheWavData();
  EXPECT_EQ(State().Disc.ClosedSessions(), 1);
}

// Our own Session-At-Once burn with CD-TEXT through the node, read back by
// an independent program as from a drive: the titles and codes are there.
TEST_F(PeerTest, CdrdaoReadsTheCDTextOfOurSessionAtOnceBurn) {
  REQUIRE_PEER("cdrdao");
  const std::string tags = std::string(CORVID_FIXTURES_DIR) + "/tags/";
  TResult burn = VirtualRun({kCorvidBurn, "burn", "-d", Node(), "--sao", "--mcn", "4006381333931",
                             tags + "02-vorbis.ogg", tags + "04-alac.m4a"});
  ASSERT_EQ(burn.Status, 0) << burn.Output;
  const fs::path toc = Dir / "read.toc";
  TResult r = VirtualRun({"cdrdao", "read-toc", "--device", Node(), "--driver", "generic-mmc", toc.string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  std::ifstream in(toc);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_NE(text.find("CATALOG \"4006381333931\""), std::string::npos) << text;
  EXPECT_NE(text.find("TITLE \"Ignored Album\""), std::string::npos) << text;
  EXPECT_NE(text.find("PERFORMER \"Ensemble Vorbis\""), std::string::npos) << text;
  EXPECT_NE(text.find("TITLE \"Second Movement\""), std::string::npos) << text;
  EXPECT_NE(text.find("SONGWRITER \"Clara Schumann\""), std::string::npos) << text;
  EXPECT_NE(text.find("TITLE \"Fourth, in MP4\""), std::string::npos) << text;
  EXPECT_NE(text.find("PERFORMER \"ALAC Trio\""), std::string::npos) << text;
  EXPECT_NE(text.find("ISRC \"USABC2500002\""), std::string::npos) << text;
  EXPECT_NE(text.find("ISRC \"SEABC2500004\""), std::string::npos) << text;
}

TEST_F(PeerTest, SimulatedBurnsLeaveTheDiscBlank) {
  {
    TResult r = VirtualRun({kCorvidBurn, "burn", "--simulate", "-d", Node(), (Dir / "one.wav").string()});
    ASSERT_EQ(r.Status, 0) << r.Output;
    EXPECT_NE(r.Output.find("Write Done!"), std::string::npos) << r.Output;
    EXPECT_NE(r.Output.find("Disc: simulated burn, nothing was written: the disc is as it was"), std::string::npos)
        << r.Output;
    ExpectBlank();
  }
  if (!Installed("cdrskin")) GTEST_SKIP() << "cdrskin is not installed (Debian package cdrskin)";
  TResult r = VirtualRun({"cdrskin", "dev=" + Node(), "-dummy", "-tao", "-audio", "-pad", (Dir / "one.wav").string(),
                          (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectBlank();
}

TEST_F(PeerTest, AWriteErrorReachesCdrskinAsARealDrivesWould) {
  REQUIRE_PEER("cdrskin");
  SetFaults({"write-error-at=100"});
  TResult r = VirtualRun({"cdrskin", "dev=" + Node(), "-tao", "-audio", "-pad", (Dir / "one.wav").string()});
  EXPECT_NE(r.Status, 0) << r.Output;
  // libburn names the failed command and its sense 3/0C/00.
  EXPECT_NE(r.Output.find("WRITE"), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find("0C"), std::string::npos) << r.Output;
}

TEST_F(PeerTest, BusyWritesAreRetriedByTheBurningPrograms) {
  SetFaults({"busy-writes=3"});
  {
    TResult r = VirtualRun({kCorvidBurn, "burn", "-d", Node(), "--pause", "150", (Dir / "one.wav").string(),
                            (Dir / "two.wav").string()});
    ASSERT_EQ(r.Status, 0) << r.Output;
    ExpectTracksHoldTheWavData();
    EXPECT_FALSE(State().Faults.BusyWrites > 0) << "the busy answers were not all given";
  }
  if (!Installed("cdrskin")) GTEST_SKIP() << "cdrskin is not installed (Debian package cdrskin)";
  cv::cvVirtualControl control(Recorder);
  ASSERT_TRUE(control.Insert("cdr80")) << control.Error();
  // libburn does not resend a WRITE answered with status BUSY (it goes on at
  // the next address); it retries the "long write in progress" answer a
  // drive with a full buffer gives, 2/04/08.
  SetFaults({"not-ready-writes=3"});
  TResult r = VirtualRun({"cdrskin", "dev=" + Node(), "-tao", "-audio", "-pad", (Dir / "one.wav").string(),
                          (Dir / "two.wav").string()});
  ASSERT_EQ(r.Status, 0) << r.Output;
  ExpectTracksHoldTheWavData();
}

TEST_F(PeerTest, ADriveAnotherProgramHoldsIsNotBurnedAndTheBurnSaysSo) {
  const std::string node = Node();
  // The probe opens the node for itself alone, as a burning program does,
  // and runs the burn while it holds it: the burn's own exclusive open is
  // refused (EBUSY) before anything reaches the disc.
  TResult r = VirtualRun({kProbe, "hold", node, kCorvidBurn, "burn", "-d", node, (Dir / "one.wav").string()});
  EXPECT_EQ(r.Status, 1) << r.Output;
  EXPECT_NE(r.Output.find("holding " + node), std::string::npos) << r.Output;
  EXPECT_NE(r.Output.find(node + ": drive in use by another program"), std::string::npos) << r.Output;
  EXPECT_EQ(r.Output.find("Write Done!"), std::string::npos) << r.Output;
  EXPECT_EQ(r.Output.find("NO ERROR"), std::string::npos) << r.Output;
  ExpectBlank();
}

TEST_F(PeerTest, ANodeTheUserMayNotOpenIsNamedAndTheRecorderNeverStandsInForIt) {
  const std::string node = Node();
  // A second recorder the command could fall back to.
  const fs::path other = Dir / "other";
  {
    cv::cvVirtualControl control(other);
    ASSERT_TRUE(control.Insert("cdr80")) << control.Error();
  }
  auto run = [&](std::vector<std::string> args) {
    std::vector<std::string> argv = {"env", "CORVID_BRIDGE_OPEN_ERROR=EACCES",
                                     "CORVID_VIRTUAL_RECORDER=" + other.string(), kCorvidBurn};
    argv.insert(argv.end(), args.begin(), args.end());
    return VirtualRun(argv);
  };
  const std::string denied = node + ": permission denied (add your user to the group";

  TResult devices = run({"devices", "--json"});
  EXPECT_EQ(devices.Status, 0) << devices.Output;
  EXPECT_NE(devices.Output.find("\"error\": \"" + denied), std::string::npos) << devices.Output;

  TResult burn = run({"burn", (Dir / "one.wav").string()});
  EXPECT_EQ(burn.Status, 1) << burn.Output;
  EXPECT_NE(burn.Output.find(denied), std::string::npos) << burn.Output;
  EXPECT_NE(burn.Output.find("-d virtual"), std::string::npos) << burn.Output;
  EXPECT_EQ(burn.Output.find("Write Done!"), std::string::npos) << burn.Output;

  for (const char* command : {"free", "media", "eject"}) {
    TResult r = run({command, "-d", node});
    EXPECT_EQ(r.Status, 1) << command << ": " << r.Output;
    EXPECT_NE(r.Output.find(denied), std::string::npos) << command << ": " << r.Output;
  }

  cv::TVRState state;
  cv::cvVRStateStore store(other);
  ASSERT_TRUE(store.Load(state)) << store.Error();
  EXPECT_TRUE(state.Disc.Tracks.empty()) << "the burn went to the virtual recorder";
}

TEST_F(PeerTest, RunExitsWithTheCommandsStatusAndStopsItsServer) {
  TResult r = VirtualRun({"sh", "-c", "exit 7"});
  EXPECT_EQ(r.Status, 7) << r.Output;
  TResult missing = VirtualRun({"/nonexistent/program"});
  EXPECT_NE(missing.Status, 0);
  // The server it started is gone: the recorder is free for this process.
  cv::cvVirtualControl control(Recorder);
  EXPECT_TRUE(control.Set({"trace=0"})) << control.Error();
}

}  // namespace
