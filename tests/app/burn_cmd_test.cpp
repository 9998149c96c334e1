// `corvid-burn burn` run as a user runs it, in its own process, on a virtual
// recorder of its own: Ctrl-C (a real SIGINT) becomes a cancel that leaves a
// closed disc, a second signal during the close is refused, and a failure
// prints one line that says what happened and what the disc holds.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <chrono>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cvTestWav.h"

namespace {

using cvtest::WriteWav;

const std::string kTool = std::string(CORVID_BINARY_DIR) + "/app/corvid-burn";
const std::string kDemo = std::string(CORVID_FIXTURES_DIR) + "/demo/";

struct TRun {
  int Status = -1;  // exit status, or 128 + signal when killed
  std::string Out;
  std::string Err;
};

// A recorder directory of its own for each test.
class BurnCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kTool)) << "build corvid-burn first: " << kTool;
    char pattern[] = "/tmp/corvid-cli-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    Dir = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(Dir); }

  // Starts the tool with args; its output goes to pipes.
  pid_t Start(const std::vector<std::string>& args) {
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("CORVID_VIRTUAL_RECORDER", Dir.c_str(), 1);
      ::dup2(out[1], STDOUT_FILENO);
      ::dup2(err[1], STDERR_FILENO);
      ::close(out[0]);
      ::close(err[0]);
      std::vector<char*> argv{const_cast<char*>(kTool.c_str())};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(kTool.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    OutFd = out[0];
    ErrFd = err[0];
    return pid;
  }

  // Reads both pipes until the tool ends, calling tick() between reads.
  TRun Finish(pid_t pid, const std::function<void(const std::string& err)>& tick = nullptr) {
    TRun run;
    bool outOpen = true, errOpen = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
      pollfd fds[2] = {{outOpen ? OutFd : -1, POLLIN, 0}, {errOpen ? ErrFd : -1, POLLIN, 0}};
      ::poll(fds, 2, 50);
      char buffer[4096];
      for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
        const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
        if (n <= 0) {
          (i == 0 ? outOpen : errOpen) = false;
          continue;
        }
        (i == 0 ? run.Out : run.Err).append(buffer, static_cast<std::size_t>(n));
      }
      if (tick) tick(run.Err);
    }
    ::close(OutFd);
    ::close(ErrFd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
  }

  TRun Run(const std::vector<std::string>& args) { return Finish(Start(args)); }

  // The recorder's saved state as `virtual show --json` prints it.
  std::string Show() { return Run({"virtual", "show", "--json"}).Out; }

  bool DiscHasATrack() {
    std::ifstream in(std::filesystem::path(Dir) / "recorder.json");
    std::stringstream text;
    text << in.rdbuf();
    // Only track entries carry "pregap" ("damaged" also names the
    // Session-At-Once state).
    return text.str().find("\"pregap\"") != std::string::npos;
  }

  std::string Dir;
  int OutFd = -1;
  int ErrFd = -1;
};

int Lines(const std::string& text) { return static_cast<int>(std::count(text.begin(), text.end(), '\n')); }

TEST_F(BurnCommand, CtrlCCancelsClosesTheDiscAndExits130) {
  // 1x with a small drive buffer: the burn takes seconds, time enough for a
  // signal while it writes.
  ASSERT_EQ(Run({"virtual", "set", "speed=1", "buffer-kib=64"}).Status, 0);
  const pid_t pid = Start({"burn", "-d", "virtual", kDemo + "02-theme.mp3", kDemo + "03-coda.ogg"});
  ASSERT_GT(pid, 0);
  bool sent = false;
  const TRun run = Finish(pid, [&](const std::string&) {
    if (!sent && DiscHasATrack()) {
      ::kill(pid, SIGINT);
      sent = true;
    }
  });
  ASSERT_TRUE(sent) << run.Err;
  EXPECT_EQ(run.Status, 130) << run.Err;
  EXPECT_NE(run.Err.find("corvid-burn: cancelling"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("corvid-burn: Write Done Failed! (ABORTED BY USER). Disc: the session is closed with 1 track"),
            std::string::npos)
      << run.Err;
  EXPECT_EQ(run.Err.find("NO ERROR"), std::string::npos);
  EXPECT_EQ(run.Out.find("Write Done!"), std::string::npos);
  // What was written is a closed session with one closed track.
  const std::string show = Show();
  EXPECT_NE(show.find("\"closed\": true"), std::string::npos) << show;
  EXPECT_EQ(show.find("\"closed\": false"), std::string::npos) << show;
  // The next burn continues the disc in a new session.
  ASSERT_EQ(Run({"virtual", "set", "speed=0"}).Status, 0);
  const TRun next = Run({"burn", "-d", "virtual", kDemo + "03-coda.ogg"});
  EXPECT_EQ(next.Status, 0) << next.Err;
  EXPECT_NE(next.Out.find("Write Done!"), std::string::npos);
}

TEST_F(BurnCommand, ASecondSignalDuringTheCloseIsRefused) {
  ASSERT_EQ(Run({"virtual", "set", "speed=1", "buffer-kib=64"}).Status, 0);
  const pid_t pid = Start({"burn", "-d", "virtual", kDemo + "02-theme.mp3"});
  ASSERT_GT(pid, 0);
  bool sent = false;
  const TRun run = Finish(pid, [&](const std::string&) {
    if (!sent && DiscHasATrack()) {
      ::kill(pid, SIGINT);
      ::kill(pid, SIGTERM);
      sent = true;
    }
  });
  ASSERT_TRUE(sent);
  EXPECT_EQ(run.Status, 130) << run.Err;
  EXPECT_NE(run.Err.find("corvid-burn: cancelling"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("corvid-burn: the disc is being closed; this must finish"), std::string::npos) << run.Err;
  EXPECT_NE(run.Err.find("Disc: the session is closed with 1 track"), std::string::npos) << run.Err;
}

TEST_F(BurnCommand, ARefusedCloseIsOneLineWithTheDiscsStateAndExit1) {
  ASSERT_EQ(Run({"virtual", "set", "fail-opcode=5B"}).Status, 0);
  const TRun run = Run({"burn", "-d", "virtual", kDemo + "02-theme.mp3"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out.find("Write Done!"), std::string::npos) << run.Out;
  // One line, and nothing else on standard error once the progress lines
  // are left aside.
  std::string last;
  std::istringstream lines(run.Err);
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("corvid-burn: ", 0) == 0) last += line + "\n";
  EXPECT_EQ(Lines(last), 1) << run.Err;
  EXPECT_NE(last.find("Write Done Failed! (DISC NOT CLOSED: A TRACK OR THE SESSION IS STILL OPEN) - the drive does "
                      "not know this command (5/20/00). Disc: the session was left open"),
            std::string::npos)
      << last;

  // The open session is never built on.
  ASSERT_EQ(Run({"virtual", "set", "fail-opcode=off"}).Status, 0);
  const TRun next = Run({"burn", "-d", "virtual", kDemo + "03-coda.ogg"});
  EXPECT_EQ(next.Status, 1);
  EXPECT_NE(next.Err.find("Burn Not Started! (LAST SESSION ON THE DISC IS OPEN OR DAMAGED"), std::string::npos)
      << next.Err;
}

TEST_F(BurnCommand, AWriteErrorSaysTheCDRHoldsWhatWasWritten) {
  ASSERT_EQ(Run({"virtual", "set", "write-error-at=100"}).Status, 0);
  const TRun run = Run({"burn", "-d", "virtual", kDemo + "02-theme.mp3"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Err.find("Write Done Failed! (DEVICE ERROR 3072) - write error (3/0C/00): the CD-R holds what was "
                         "written until then. Disc: track 1 was left open (81 sectors)"),
            std::string::npos)
      << run.Err;
}

// --- Session-At-Once ---------------------------------------------------------

// "mm:ss:ff" of each "INDEX nn" line of a cue sheet, in sectors.
std::vector<int> CueIndexes(const std::string& cue, const std::string& index) {
  std::vector<int> sectors;
  std::istringstream lines(cue);
  for (std::string line; std::getline(lines, line);) {
    const auto at = line.find("INDEX " + index + " ");
    if (at == std::string::npos) continue;
    int m = 0, s = 0, f = 0;
    if (std::sscanf(line.c_str() + at + 9, "%d:%d:%d", &m, &s, &f) == 3) sectors.push_back((m * 60 + s) * 75 + f);
  }
  return sectors;
}

TEST_F(BurnCommand, SessionAtOnceWithoutPausesJoinsAContinuousPieceGaplessly) {
  // One continuous piece of 13 seconds (two tones gliding against each
  // other, never silent) cut at sample positions off the 588-sample grid.
  constexpr std::size_t kSamples = 13 * 44100;
  std::vector<std::uint8_t> pcm(kSamples * 4);
  double phaseL = 0, phaseR = 0;
  for (std::size_t i = 0; i < kSamples; ++i) {
    phaseL += 2 * 3.14159265358979 * (220 + 0.01 * static_cast<double>(i % 40000)) / 44100;
    phaseR += 2 * 3.14159265358979 * (330 + 0.003 * static_cast<double>(i % 90000)) / 44100;
    const auto l = static_cast<std::int16_t>(12000 * std::sin(phaseL) + 3000);
    const auto r = static_cast<std::int16_t>(-9000 * std::sin(phaseR) - 2500);
    std::memcpy(&pcm[i * 4], &l, 2);
    std::memcpy(&pcm[i * 4 + 2], &r, 2);
  }
  const std::size_t cuts[] = {4 * 44100 + 12345, 8 * 44100 + 40000};  // 588 * 321 + 102, 588 * 668 + 172
  const std::string a = Dir + "/part1.wav", b = Dir + "/part2.wav", c = Dir + "/part3.wav";
  const std::span<const std::uint8_t> all(pcm);
  WriteWav(a, all.first(cuts[0] * 4));
  WriteWav(b, all.subspan(cuts[0] * 4, (cuts[1] - cuts[0]) * 4));
  WriteWav(c, all.subspan(cuts[1] * 4));

  const TRun run = Run({"burn", "-d", "virtual", "--sao", "--pause", "0", "--no-cd-text", a, b, c});
  ASSERT_EQ(run.Status, 0) << run.Err << run.Out;
  EXPECT_NE(run.Out.find("Write Done!"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("Disc: the session is closed with 3 tracks"), std::string::npos) << run.Out;

  // From track 1's INDEX 01 (LBA 0, the start of disc.bin) on: the piece
  // unbroken, byte for byte, then silence to the end of its last sector.
  std::ifstream in(Dir + "/disc.bin", std::ios::binary);
  const std::vector<std::uint8_t> image{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_EQ(image.size(), (kSamples + 587) / 588 * 2352);
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), image.begin()));
  EXPECT_TRUE(std::all_of(image.begin() + static_cast<std::ptrdiff_t>(pcm.size()), image.end(),
                          [](std::uint8_t v) { return v == 0; }));
  // Each INDEX 01 at the sector nearest its cut; no INDEX 00 at the joins.
  std::ifstream cueIn(Dir + "/disc.cue");
  std::stringstream cue;
  cue << cueIn.rdbuf();
  const std::vector<int> starts = CueIndexes(cue.str(), "01");
  ASSERT_EQ(starts.size(), 3u) << cue.str();
  EXPECT_EQ(starts[0], 0);
  EXPECT_EQ(starts[1], static_cast<int>((cuts[0] + 294) / 588)) << cue.str();
  EXPECT_EQ(starts[2], static_cast<int>((cuts[1] + 294) / 588)) << cue.str();
  EXPECT_TRUE(CueIndexes(cue.str(), "00").empty()) << cue.str();
}

TEST_F(BurnCommand, ADriveWithoutSessionAtOnceGetsTrackAtOnceAndTheUserIsTold) {
  ASSERT_EQ(Run({"virtual", "set", "sao-unsupported=1"}).Status, 0);
  const TRun run = Run({"burn", "-d", "virtual", "--sao", kDemo + "02-theme.mp3", kDemo + "03-coda.ogg"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Err.find("corvid-burn: note: the drive cannot write Session-At-Once: the disc is written "
                         "Track-At-Once instead"),
            std::string::npos)
      << run.Err;
  EXPECT_NE(run.Out.find("Disc: the session is closed with 2 tracks"), std::string::npos) << run.Out;
}

TEST_F(BurnCommand, ASimulatedSessionAtOnceBurnOnADriveWithoutItIsSimulatedTrackAtOnce) {
  ASSERT_EQ(Run({"virtual", "set", "sao-unsupported=1"}).Status, 0);
  const TRun run = Run({"burn", "-d", "virtual", "--sao", "--simulate", kDemo + "03-coda.ogg"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Err.find("Track-At-Once instead"), std::string::npos) << run.Err;
  EXPECT_NE(run.Out.find("Disc: simulated burn, nothing was written"), std::string::npos) << run.Out;
  // Nothing was written.
  std::error_code ec;
  const auto size = std::filesystem::file_size(Dir + "/disc.bin", ec);
  EXPECT_TRUE(ec || size == 0) << size;
}

TEST_F(BurnCommand, ASimulatedSessionAtOnceBurnLeavesTheDiscBlank) {
  const TRun run = Run({"burn", "-d", "virtual", "--sao", "--simulate", kDemo + "02-theme.mp3", kDemo + "03-coda.ogg"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_EQ(run.Err.find("Track-At-Once"), std::string::npos) << run.Err;
  EXPECT_NE(run.Out.find("Disc: simulated burn, nothing was written"), std::string::npos) << run.Out;
  std::error_code ec;
  const auto size = std::filesystem::file_size(Dir + "/disc.bin", ec);
  EXPECT_TRUE(ec || size == 0) << size;
  // The same disc then takes the real burn.
  const TRun real = Run({"burn", "-d", "virtual", "--sao", kDemo + "02-theme.mp3", kDemo + "03-coda.ogg"});
  ASSERT_EQ(real.Status, 0) << real.Err;
  EXPECT_NE(real.Out.find("Disc: the session is closed with 2 tracks"), std::string::npos) << real.Out;
}

}  // namespace

// JSON without its blanks.
std::string Compact(std::string text) {
  text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c == ' ' || c == '\n'; }), text.end());
  return text;
}

TEST_F(BurnCommand, HelpShowsEveryOptionWithItsDefault) {
  const TRun run = Run({"burn", "--help"});
  EXPECT_EQ(run.Status, 0) << run.Err;
  for (const char* option : {"--device", "--pause", "--cache-size", "--speed", "--close-disc", "--eject", "--verbose"})
    EXPECT_NE(run.Out.find(option), std::string::npos) << option << "\n" << run.Out;
  // Defaults after '=' beside the options that take a value, in words
  // beside the flags.
  EXPECT_NE(run.Out.find("--pause INT:INT in [0 - 65535]=150"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("=8388608"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("--speed INT:INT in [0 - 255]=0"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("(default: off)"), std::string::npos) << run.Out;
  EXPECT_NE(run.Out.find("(default: off, the disc stays appendable)"), std::string::npos) << run.Out;
}

TEST_F(BurnCommand, TheProgressLineCountsTracksAndGivesSpeedAndTimeLeftInMinutesAndSeconds) {
  // 2x: the demo album takes several seconds to write, long enough for
  // lines every three seconds while writing (standard error is a pipe).
  ASSERT_EQ(Run({"virtual", "set", "speed=2", "buffer-kib=256"}).Status, 0);
  const TRun run = Run({"burn", "-d", "virtual", kDemo + "01-intro.wav", kDemo + "02-theme.mp3", kDemo + "03-coda.ogg"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  bool counted = false, paced = false;
  std::istringstream lines(run.Err);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("WRITING", 0) != 0) continue;
    // "WRITING  track 2 of 3  0:07 of 0:30 (m:ss)  23%   2.0x  0:23 left  buffer  93%"
    if (line.find(" of 3  ") != std::string::npos && line.find(" (m:ss) ") != std::string::npos) counted = true;
    if (line.find("x  ") != std::string::npos && line.find(" left  buffer") != std::string::npos) paced = true;
  }
  EXPECT_TRUE(counted) << run.Err;
  EXPECT_TRUE(paced) << run.Err;
  // No mm:ss:ff texts that read as hours.
  EXPECT_EQ(run.Err.find(" / "), std::string::npos) << run.Err;
}

TEST_F(BurnCommand, TheDefaultPauseIsTwoSecondsAndCodecNotesNeedVerbose) {
  // The 22050 Hz mono intro goes through the decoder's second conversion
  // path, which the codec layer notes as a warning.
  const TRun quiet = Run({"burn", "-d", "virtual", kDemo + "01-intro.wav", kDemo + "02-theme.mp3"});
  ASSERT_EQ(quiet.Status, 0) << quiet.Err;
  EXPECT_EQ(quiet.Err.find("Warning:"), std::string::npos) << quiet.Err;
  const std::string state = Compact(Show());
  EXPECT_NE(state.find("\"pregap\":150"), std::string::npos) << state;
  EXPECT_EQ(state.find("\"pregap\":450"), std::string::npos) << state;

  const TRun verbose = Run({"burn", "--verbose", "-d", "virtual", kDemo + "01-intro.wav"});
  ASSERT_EQ(verbose.Status, 0) << verbose.Err;
  EXPECT_NE(verbose.Err.find("Warning: The requested operation cannot be performed/No capable filter found"),
            std::string::npos)
      << verbose.Err;
}

TEST_F(BurnCommand, SpeedCloseAndEjectReachTheDrive) {
  const TRun run = Run({"burn", "-d", "virtual", "--speed", "8", "--close-disc", "--eject", kDemo + "02-theme.mp3"});
  ASSERT_EQ(run.Status, 0) << run.Err;
  EXPECT_NE(run.Out.find("and is complete"), std::string::npos) << run.Out;
  const std::string state = Compact(Show());
  EXPECT_NE(state.find("\"disc-status\":\"complete\""), std::string::npos) << state;
  EXPECT_NE(state.find("\"tray\":\"open\""), std::string::npos) << state;
}
