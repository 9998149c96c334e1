// The control panel behind `corvid-burn virtual`: inserting media, settings
// and faults with their checks, the report, and the lock it respects.
#include "vrecorder/cvVirtualControl.h"

#include <fstream>

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualTestUtil.h"

namespace {

using cvtest::RawDrive;

TEST(VirtualControl, ShowOfANewRecorder) {
  cvtest::TempRecorderDir dir;
  cv::cvVirtualControl control(dir.Path);
  nlohmann::json r;
  ASSERT_TRUE(control.Show(r)) << control.Error();
  EXPECT_EQ(r["medium"]["type"], "cdr80");
  EXPECT_EQ(r["medium"]["profile"], "0009h");
  EXPECT_EQ(r["medium"]["tray"], "closed");
  EXPECT_EQ(r["medium"]["disc-status"], "blank");
  EXPECT_EQ(r["free-sectors"], 359849);
  EXPECT_EQ(r["next-writable"], 0);
  EXPECT_EQ(r["settings"]["buffer-kib"], 2048);
  EXPECT_EQ(r["settings"]["time-scale"], 0.01);
  EXPECT_TRUE(r["images"]["bin"].is_null());
  const std::string text = cv::cvVirtualControl::ShowText(r);
  EXPECT_NE(text.find("cdr80 (CD-R 80 min, profile 0009h)"), std::string::npos) << text;
  EXPECT_NE(text.find("faults:      none"), std::string::npos) << text;
}

TEST(VirtualControl, SetChecksEveryAssignmentBeforeApplyingAny) {
  cvtest::TempRecorderDir dir;
  cv::cvVirtualControl control(dir.Path);
  for (const char* bad : {"speed=-1", "speed=x", "buffer-kib=0", "time-scale=abc", "keep-disc=2",
                          "fail-opcode=ZZ", "fail-opcode=2A:0", "page05-length=255", "write-error-at=1e3",
                          "colour=blue", "speed", "=1"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(control.Set({"busy-writes=5", bad}));
    EXPECT_TRUE(control.BadInput());
    EXPECT_FALSE(control.Error().empty());
  }
  nlohmann::json r;
  ASSERT_TRUE(control.Show(r));
  EXPECT_EQ(r["faults"]["busy-writes"], 0);  // nothing of a refused set was applied
  ASSERT_TRUE(control.Set({"speed=16", "buffer-kib=512", "time-scale=0.5", "keep-disc=1", "fail-opcode=2a:3",
                           "write-error-at=-5", "page05-length=off"}));
  ASSERT_TRUE(control.Show(r));
  EXPECT_EQ(r["settings"]["speed"], 16);
  EXPECT_EQ(r["settings"]["buffer-kib"], 512);
  EXPECT_EQ(r["settings"]["time-scale"], 0.5);
  EXPECT_EQ(r["settings"]["keep-disc"], true);
  EXPECT_EQ(r["faults"]["fail-opcode"], "2A");
  EXPECT_EQ(r["faults"]["fail-opcode-count"], 3);
  EXPECT_EQ(r["faults"]["write-error-at"], -5);
  EXPECT_NE(cv::cvVirtualControl::ShowText(r).find("fail-opcode=2A:3"), std::string::npos);
}

TEST(VirtualControl, InsertArchivesAWrittenImage) {
  cvtest::TempRecorderDir dir;
  cv::cvVirtualControl control(dir.Path);
  ASSERT_TRUE(control.Insert("cdrw74"));
  {
    auto recorder = cv::OpenVirtualRecorder();
    RawDrive drive(*recorder);
    drive.Settle();
    ASSERT_EQ(drive.SetAudioTao().Code(), "good");
    for (int lba = 0; lba < 300; lba += 30)
      ASSERT_EQ(drive.Write(lba, 30, cvtest::AudioSectors(1, lba, 30)).Code(), "good");
    ASSERT_EQ(drive.SyncCache().Code(), "good");
    // The recorder holds the lock: the panel refuses to change anything.
    EXPECT_FALSE(control.Insert("cdr80"));
    EXPECT_FALSE(control.BadInput());
    EXPECT_NE(control.Error().find("in use"), std::string::npos) << control.Error();
    nlohmann::json r;
    ASSERT_TRUE(control.Show(r));  // reading is always possible
    EXPECT_EQ(r["medium"]["disc-status"], "appendable");
    EXPECT_EQ(r["images"]["bin"]["bytes"], 300 * 2352);
  }
  ASSERT_TRUE(control.Insert("dvd+rw"));
  nlohmann::json r;
  ASSERT_TRUE(control.Show(r));
  EXPECT_EQ(r["medium"]["type"], "dvd+rw");
  EXPECT_TRUE(r["images"]["bin"].is_null());
  ASSERT_EQ(r["images"]["archived"].size(), 1u);
  const std::filesystem::path archived = r["images"]["archived"][0].get<std::string>();
  EXPECT_NE(archived.filename().string().find("cdrw74"), std::string::npos);
  EXPECT_EQ(std::filesystem::file_size(archived / "disc.bin"), 300u * 2352);
  EXPECT_FALSE(control.Insert("floppy"));
  EXPECT_TRUE(control.BadInput());
  // An unwritten disc leaves nothing to archive.
  ASSERT_TRUE(control.Insert("cdr74"));
  ASSERT_TRUE(control.Show(r));
  EXPECT_EQ(r["images"]["archived"].size(), 1u);
}

TEST(VirtualControl, SwitchedOff) {
  cv::cvVirtualControl control{std::filesystem::path()};
  nlohmann::json r;
  EXPECT_FALSE(control.Show(r));
  EXPECT_FALSE(control.Insert("cdr80"));
  EXPECT_NE(control.Error().find("off"), std::string::npos);
}

TEST(VirtualControl, CorruptStateIsReportedAndInsertStartsAfresh) {
  cvtest::TempRecorderDir dir;
  std::ofstream(dir.Path / "recorder.json") << "[1, 2";
  cv::cvVirtualControl control(dir.Path);
  nlohmann::json r;
  EXPECT_FALSE(control.Show(r));
  EXPECT_NE(control.Error().find("corrupt"), std::string::npos) << control.Error();
  EXPECT_FALSE(control.Set({"speed=2"}));
  ASSERT_TRUE(control.Insert("cdrw80")) << control.Error();
  ASSERT_TRUE(control.Show(r));
  EXPECT_EQ(r["medium"]["type"], "cdrw80");
}

TEST(VirtualState, JsonRoundTrip) {
  cv::TVRState s = cv::NewVRState(cv::TVRMediumKind::CDRW74);
  s.Settings.Speed = 7;
  s.Faults.FailOpcode = 0x46;
  s.Faults.FailOpcodeCount = 2;
  s.Faults.WriteErrorAt = 1234;
  s.TrayOpen = true;
  s.Disc.Tracks.push_back({1, 1, 0, 150, 300, true, false});
  s.Disc.Tracks.push_back({2, 2, 11700, 150, 301, false, true});
  s.Disc.SessionLeadOuts = {300};
  s.Page05[15] = 77;
  s.Operation = {cv::TVROperationKind::Format, 5, 6};
  s.Counters.Underruns = 3;
  const cv::TVRState back = cv::VRStateFromJson(cv::VRStateToJson(s));
  EXPECT_EQ(cv::VRStateToJson(back), cv::VRStateToJson(s));
  EXPECT_EQ(back.Disc.Tracks[1].Start, 11700);
  EXPECT_TRUE(back.Disc.Tracks[1].Damaged);
  EXPECT_EQ(back.Page05[15], 77);
}

TEST(VirtualState, HostileStateIsRejected) {
  nlohmann::json good = cv::VRStateToJson(cv::NewVRState());
  auto broken = [&](const std::function<void(nlohmann::json&)>& change) {
    nlohmann::json j = good;
    change(j);
    EXPECT_THROW(cv::VRStateFromJson(j), std::runtime_error) << j.dump();
  };
  broken([](auto& j) { j["medium"]["type"] = "floppy"; });
  broken([](auto& j) { j["page05"] = "00"; });
  broken([](auto& j) { j["page05"] = std::string(512, 'x'); });
  broken([](auto& j) { j["settings"]["speed"] = "fast"; });
  broken([](auto& j) { j["settings"]["buffer-kib"] = 0; });
  broken([](auto& j) { j["disc"]["tracks"] = nlohmann::json::array({{{"number", 120}}}); });
  broken([](auto& j) {
    j["disc"]["tracks"] = nlohmann::json::array(
        {{{"number", 1}, {"session", 1}, {"start", 0}, {"pregap", 150}, {"length", -4}, {"closed", true}}});
  });
  broken([](auto& j) { j["operation"]["kind"] = "explode"; });
  EXPECT_THROW(cv::VRStateFromJson(nlohmann::json::array()), std::runtime_error);
}

}  // namespace
