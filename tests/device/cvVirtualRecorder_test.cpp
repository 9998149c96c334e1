// The virtual recorder as a transport: identity, readiness, the state
// directory, the lock between processes.
#include "device/cvVirtualRecorder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/device/cvVirtualTestUtil.h"

namespace {

using cvtest::RawDrive;

TEST(VirtualRecorder, AnswersInquiryAsACdDvdRecorder) {
  cvtest::TempRecorderDir dir;
  auto recorder = cv::OpenVirtualRecorder();
  ASSERT_NE(recorder, nullptr);
  RawDrive drive(*recorder);
  auto r = drive.Inquiry();
  ASSERT_EQ(r.Code(), "good");
  ASSERT_EQ(r.Data.size(), 36u);
  EXPECT_EQ(r.Data[0], 0x05);
  EXPECT_EQ(r.Data[1], 0x80);
  EXPECT_EQ(std::string(r.Data.begin() + 8, r.Data.begin() + 16), "CORVID  ");
  EXPECT_EQ(std::string(r.Data.begin() + 16, r.Data.begin() + 32), "VIRTUAL RECORDER");
  EXPECT_EQ(std::string(r.Data.begin() + 32, r.Data.begin() + 36), "1.00");
  EXPECT_TRUE(std::filesystem::exists(dir.Path / "recorder.json"));
}

TEST(VirtualRecorder, SwitchedOffByEnvironment) {
  ::setenv("CORVID_VIRTUAL_RECORDER", "off", 1);
  EXPECT_EQ(cv::OpenVirtualRecorder(), nullptr);
  ::unsetenv("CORVID_VIRTUAL_RECORDER");
}

TEST(VirtualRecorder, DefaultDirectoryFollowsXdgDataHome) {
  ::unsetenv("CORVID_VIRTUAL_RECORDER");
  ::setenv("XDG_DATA_HOME", "/tmp/some-data-home", 1);
  EXPECT_EQ(cv::VirtualRecorderDirectory(), std::filesystem::path("/tmp/some-data-home/corvid-burner/virtual-recorder"));
  ::unsetenv("XDG_DATA_HOME");
}

TEST(VirtualRecorder, UnitAttentionOnceAfterANewMediumThenReady) {
  cvtest::TempRecorderDir dir;
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  EXPECT_EQ(drive.Tur().Code(), "6/28/00");
  EXPECT_EQ(drive.Tur().Code(), "good");
  EXPECT_EQ(drive.Tur().Code(), "good");
}

TEST(VirtualRecorder, UnknownOpcodeIsRefused) {
  cvtest::TempRecorderDir dir;
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  drive.Settle();
  auto r = drive.None({0xD7, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  EXPECT_EQ(r.Code(), "5/20/00");
  ASSERT_EQ(r.Outcome.SenseLength, 18);
  EXPECT_EQ(r.Outcome.Sense[0], 0x70);
  EXPECT_EQ(r.Outcome.Sense[7], 10);
  // REQUEST SENSE reports the same condition afterwards.
  auto sense = drive.RequestSense();
  ASSERT_EQ(sense.Code(), "good");
  EXPECT_EQ(sense.Data[2] & 0x0F, 5);
  EXPECT_EQ(sense.Data[12], 0x20);
}

TEST(VirtualRecorder, NoDiscAnswersMediumNotPresent) {
  cvtest::TempRecorderDir dir;
  cv::cvVirtualControl control(dir.Path);
  ASSERT_TRUE(control.Insert("none")) << control.Error();
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  EXPECT_EQ(drive.Tur().Code(), "2/3A/01");
  EXPECT_EQ(drive.DiscInfo().Code(), "2/3A/00");
  EXPECT_EQ(drive.Inquiry().Code(), "good");
  // The drive's own pages and the tray work without a disc.
  EXPECT_EQ(drive.ModeSense(0x2A, 128).Code(), "good");
  EXPECT_EQ(drive.Eject().Code(), "good");
  EXPECT_EQ(drive.Tur().Code(), "2/3A/02");
}

TEST(VirtualRecorder, StateSurvivesANewRecorderObject) {
  cvtest::TempRecorderDir dir;
  {
    auto recorder = cv::OpenVirtualRecorder();
    RawDrive drive(*recorder);
    drive.Settle();
    ASSERT_EQ(drive.Eject().Code(), "good");
  }
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  EXPECT_EQ(drive.Tur().Code(), "2/3A/02");  // the tray is still open
}

TEST(VirtualRecorder, StateSurvivesANewProcess) {
  cvtest::TempRecorderDir dir;
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto recorder = cv::OpenVirtualRecorder();
    RawDrive drive(*recorder);
    drive.Settle();
    const bool ok = drive.SetAudioTao(321).Good() && drive.Eject().Good();
    recorder.reset();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  EXPECT_EQ(drive.Tur().Code(), "2/3A/02");
  auto page = drive.ModeSense(0x05);
  ASSERT_EQ(page.Code(), "good");
  EXPECT_EQ(page.U16(8 + 14), 321);
}

TEST(VirtualRecorder, SecondProcessSeesBusyUntilTheFirstLetsGo) {
  cvtest::TempRecorderDir dir;
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  drive.Settle();
  int toChild[2], toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto second = cv::OpenVirtualRecorder();
    RawDrive other(*second);
    char result = other.Inquiry().Code() == "busy" && other.Tur().Code() == "busy" ? 'b' : 'x';
    (void)!::write(toParent[1], &result, 1);
    char go = 0;
    (void)!::read(toChild[0], &go, 1);  // the first process has closed its recorder
    result = other.Inquiry().Code() == "good" ? 'g' : 'x';
    (void)!::write(toParent[1], &result, 1);
    ::_exit(0);
  }
  char result = 0;
  ASSERT_EQ(::read(toParent[0], &result, 1), 1);
  EXPECT_EQ(result, 'b');
  EXPECT_EQ(drive.Tur().Code(), "good");  // the owner is not disturbed
  recorder.reset();
  char go = 'g';
  ASSERT_EQ(::write(toChild[1], &go, 1), 1);
  ASSERT_EQ(::read(toParent[0], &result, 1), 1);
  EXPECT_EQ(result, 'g');
  int status = 0;
  ::waitpid(child, &status, 0);
  for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) ::close(fd);
}

TEST(VirtualRecorder, CorruptStateFileIsSetAsideNotTrusted) {
  cvtest::TempRecorderDir dir;
  {
    std::ofstream(dir.Path / "recorder.json") << "{\"medium\": {\"type\": \"floppy\"}";
  }
  auto recorder = cv::OpenVirtualRecorder();
  RawDrive drive(*recorder);
  EXPECT_EQ(drive.Inquiry().Code(), "good");
  EXPECT_TRUE(std::filesystem::exists(dir.Path / "recorder.json.corrupt"));
  drive.Settle();
  EXPECT_EQ(drive.Tur().Code(), "good");
}

}  // namespace
