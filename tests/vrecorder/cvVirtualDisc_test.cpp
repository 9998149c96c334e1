// The virtual disc's rules (next writable address, pregaps, closing) and
// its image: the cue sheet, read back by independent tools (cuetools'
// cuebreakpoints and bchunk), which must find the audio byte for byte.
#include "vrecorder/cvVirtualDisc.h"

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualTestUtil.h"

namespace {

using cvtest::AudioSectors;
using cvtest::Have;
using cvtest::RawDrive;
using cvtest::ReadFile;
using cvtest::Shell;

TEST(VirtualDisc, NextWritableFollowsPregapsAndSessions) {
  cv::TVRDisc disc;
  EXPECT_EQ(cv::VRNextWritable(disc, 150), 0);
  cv::TVRTrack& t1 = cv::VRBeginTrack(disc, 0, 33);
  EXPECT_EQ(t1.Pregap, 150);  // track 1 always has the two seconds
  t1.Length = 400;
  EXPECT_EQ(cv::VRNextWritable(disc, 0), 400);  // inside the open track
  EXPECT_EQ(cv::VRCloseTrack(disc), cv::TVRCloseResult::Closed);
  EXPECT_EQ(cv::VRNextWritable(disc, 0), 400);
  EXPECT_EQ(cv::VRNextWritable(disc, 75), 475);
  cv::TVRTrack& t2 = cv::VRBeginTrack(disc, 475, 75);
  EXPECT_EQ(t2.Pregap, 75);
  t2.Length = 299;
  EXPECT_EQ(cv::VRCloseSession(disc, true), cv::TVRCloseResult::TooShort);
  t2.Length = 300;
  EXPECT_EQ(cv::VRCloseSession(disc, true), cv::TVRCloseResult::Closed);
  EXPECT_EQ(cv::VRNextWritable(disc, 75), 775 + 11400);
  EXPECT_EQ(cv::VRCloseSession(disc, true), cv::TVRCloseResult::Empty);
  cv::TVRTrack& t3 = cv::VRBeginTrack(disc, 775 + 11400, 75);
  EXPECT_EQ(t3.Pregap, 150);  // the first track of a session
  t3.Length = 300;
  EXPECT_EQ(cv::VRCloseSession(disc, true), cv::TVRCloseResult::Closed);
  EXPECT_EQ(cv::VRNextWritable(disc, 0), 12475 + 6900);  // later sessions have a shorter lead-out
  cv::TVRTrack& t4 = cv::VRBeginTrack(disc, 12475 + 6900, 0);
  t4.Length = 300;
  EXPECT_EQ(cv::VRCloseSession(disc, false), cv::TVRCloseResult::Closed);
  EXPECT_FALSE(cv::VRNextWritable(disc, 0).has_value());
}

TEST(VirtualDisc, NoHundredthTrack) {
  cv::TVRDisc disc;
  std::int32_t at = 0;
  for (int n = 1; n <= 99; ++n) {
    cv::TVRTrack& t = cv::VRBeginTrack(disc, at, 0);
    t.Length = 300;
    ASSERT_EQ(cv::VRCloseTrack(disc), cv::TVRCloseResult::Closed);
    at = t.End();
  }
  EXPECT_FALSE(cv::VRNextWritable(disc, 0).has_value());
}

TEST(VirtualDisc, MsfText) {
  EXPECT_EQ(cv::VRMsfText(0), "00:00:00");
  EXPECT_EQ(cv::VRMsfText(74), "00:00:74");
  EXPECT_EQ(cv::VRMsfText(4500 * 79 + 75 * 59 + 74), "79:59:74");
}

TEST(VirtualDisc, CueSheetLeavesOutTheOpenTrack) {
  cv::TVRDisc disc;
  cv::VRBeginTrack(disc, 0, 150).Length = 300;
  ASSERT_EQ(cv::VRCloseTrack(disc), cv::TVRCloseResult::Closed);
  cv::VRBeginTrack(disc, 450, 150).Length = 10;
  EXPECT_EQ(cv::VRCueSheet(disc),
            "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n");
}

// Burns tracks by raw commands: lengths with their pauses, sessions split
// where a length is 0.
class VirtualImage : public ::testing::Test {
 protected:
  void SetUp() override {
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert("cdr80"));
    ASSERT_TRUE(control.Set({"time-scale=0"}));
    Recorder = cv::OpenVirtualRecorder();
    Drive = std::make_unique<RawDrive>(*Recorder);
    Drive->Settle();
  }
  void Burn(int track, std::uint16_t pause, std::uint32_t length) {
    ASSERT_EQ(Drive->SetAudioTao(pause, 0).Code(), "good");
    const std::int32_t nwa = Drive->NextWritable();
    ASSERT_GE(nwa, 0);
    for (std::uint32_t done = 0; done < length;) {
      const std::uint32_t n = std::min<std::uint32_t>(27, length - done);
      ASSERT_EQ(Drive->Write(nwa + static_cast<std::int32_t>(done), static_cast<std::uint16_t>(n),
                             AudioSectors(track, static_cast<std::int32_t>(done), n))
                    .Code(),
                "good");
      done += n;
    }
    ASSERT_EQ(Drive->SyncCache().Code(), "good");
  }
  void CloseSession(bool appendable) {
    ASSERT_EQ(Drive->SetAudioTao(150, appendable ? 3 : 0).Code(), "good");
    ASSERT_EQ(Drive->CloseSession().Code(), "good");
  }

  cvtest::TempRecorderDir Dir;
  std::unique_ptr<cv::cvTransport> Recorder;
  std::unique_ptr<RawDrive> Drive;
};

TEST_F(VirtualImage, IndependentToolsReadTheCueSheetAndFindTheAudio) {
  if (!Have("cuebreakpoints") || !Have("bchunk")) GTEST_SKIP() << "cuebreakpoints or bchunk is missing (apt-get install cuetools bchunk)";
  const std::vector<std::pair<std::uint16_t, std::uint32_t>> tracks = {{150, 400}, {450, 333}, {0, 301}, {150, 350}};
  Burn(1, tracks[0].first, tracks[0].second);
  Burn(2, tracks[1].first, tracks[1].second);
  Burn(3, tracks[2].first, tracks[2].second);
  CloseSession(true);
  Burn(4, tracks[3].first, tracks[3].second);
  CloseSession(false);

  const std::string cue = (Dir.Path / "disc.cue").string();
  // cuebreakpoints prints where every track after the first starts (INDEX 01).
  // Track 2 at 400 + 450, track 3 at 850 + 333, track 4 at 1183 + 301 + 11400.
  auto point = [](int lba) {
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d.%02d\n", lba / 4500, lba / 75 % 60, lba % 75);
    return std::string(text);
  };
  EXPECT_EQ(Shell("cuebreakpoints '" + cue + "'"), point(850) + point(1183) + point(12884));

  const std::filesystem::path out = Dir.Path / "bchunk";
  std::filesystem::create_directories(out);
  Shell("cd '" + out.string() + "' && bchunk -w '" + (Dir.Path / "disc.bin").string() + "' '" + cue + "' t 2>&1");
  for (int n = 1; n <= 4; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "t%02d.wav", n);
    const auto wav = ReadFile(out / name);
    ASSERT_GT(wav.size(), 44u) << name;
    const std::vector<std::uint8_t> pcm(wav.begin() + 44, wav.end());
    EXPECT_EQ(pcm, AudioSectors(n, 0, tracks[n - 1].second)) << name << " is not the audio that was written";
  }
}

}  // namespace
