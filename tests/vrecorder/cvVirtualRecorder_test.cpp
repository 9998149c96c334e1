// The virtual recorder as a transport: identity, readiness, the state
// directory, the lock between processes.
#include "vrecorder/cvVirtualRecorder.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/vrecorder/cvVirtualTestUtil.h"

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

TEST(VirtualRecorder, SecondProcessSeesBusyAndTheHolderUntilTheFirstLetsGo) {
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
    // Busy, and the holder named: the parent process.
    const std::string holder =
        "the virtual recorder is in use by another program (pid " + std::to_string(::getppid()) + ")";
    char result = other.Inquiry().Code() == "busy" && other.Tur().Code() == "busy" ? 'b' : 'x';
    if (second->Unavailable() != holder) result = 'n';
    (void)!::write(toParent[1], &result, 1);
    char go = 0;
    (void)!::read(toChild[0], &go, 1);  // the first process has closed its recorder
    result = other.Inquiry().Code() == "good" && second->Unavailable().empty() ? 'g' : 'x';
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

namespace {

using cvtest::AudioSectors;

class VirtualFaults : public ::testing::Test {
 protected:
  void Open(std::vector<std::string> faults, const char* medium = "cdr80") {
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert(medium));
    faults.push_back("time-scale=0");
    ASSERT_TRUE(control.Set(faults)) << control.Error();
    Recorder = cv::OpenVirtualRecorder();
    Drive = std::make_unique<RawDrive>(*Recorder);
    Drive->Settle();
  }
  cvtest::Reply Write(std::int32_t lba, std::uint16_t n = 27) { return Drive->Write(lba, n, AudioSectors(1, lba, n)); }

  cvtest::TempRecorderDir Dir;
  std::unique_ptr<cv::cvTransport> Recorder;
  std::unique_ptr<RawDrive> Drive;
};

TEST_F(VirtualFaults, BusyWrites) {
  Open({"busy-writes=2"});
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Write(0).Code(), "busy");
  EXPECT_EQ(Write(0).Code(), "busy");
  EXPECT_EQ(Write(0).Code(), "good");
  EXPECT_EQ(Drive->NextWritable(), 27);
}

TEST_F(VirtualFaults, NotReadyWrites) {
  Open({"not-ready-writes=1"});
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Write(0).Code(), "2/04/08");
  EXPECT_EQ(Drive->NextWritable(), 0);  // nothing went to the disc
  EXPECT_EQ(Write(0).Code(), "good");
}

TEST_F(VirtualFaults, WriteErrorAt) {
  Open({"write-error-at=60"});
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Write(0).Code(), "good");
  EXPECT_EQ(Write(27).Code(), "good");   // 27..53
  EXPECT_EQ(Write(54).Code(), "3/0C/00");  // 54..80 covers 60
  EXPECT_EQ(Write(54, 6).Code(), "good");  // 54..59 does not
  EXPECT_EQ(Write(60, 1).Code(), "3/0C/00");
}

TEST_F(VirtualFaults, FailOpcodeAlwaysOrTheNextN) {
  Open({"fail-opcode=46"});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Drive->In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114).Code(), "5/20/00");
  EXPECT_EQ(Drive->Inquiry().Code(), "good");
  ASSERT_TRUE(cv::cvVirtualControl(Dir.Path).Reset() == false);  // the recorder holds the lock
  Drive.reset();
  Recorder.reset();
  Open({"fail-opcode=51:2"});
  EXPECT_EQ(Drive->DiscInfo().Code(), "5/20/00");
  EXPECT_EQ(Drive->DiscInfo().Code(), "5/20/00");
  EXPECT_EQ(Drive->DiscInfo().Code(), "good");
}

TEST_F(VirtualFaults, BlockDescriptorInModeSense) {
  Open({"block-descriptor=1"});
  cvtest::Reply r = Drive->ModeSense(0x05);
  ASSERT_EQ(r.Code(), "good");
  EXPECT_EQ(r.U16(6), 8);
  EXPECT_EQ(r.Data[16], 0x05);
  EXPECT_EQ(r.Data.size(), 16u + 2 + 0x32);
  // Sent back with its descriptor, the page is taken.
  EXPECT_EQ(Drive->SetAudioTao(99).Code(), "good");
  EXPECT_EQ(Drive->ModeSense(0x05).U16(16 + 14), 99);
  cvtest::Reply disabled = Drive->In(RawDrive::Cdb10(0x5A, 0x08, 0x05u << 24, 512), 512);  // DBD
  EXPECT_EQ(disabled.U16(6), 0);
}

TEST_F(VirtualFaults, Page05Length) {
  Open({"page05-length=100"});
  cvtest::Reply r = Drive->ModeSense(0x05);
  ASSERT_EQ(r.Code(), "good");
  EXPECT_EQ(r.Data[9], 100);
  EXPECT_EQ(r.Data.size(), 8u + 102);
  EXPECT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Write(0).Code(), "good");
}

TEST_F(VirtualFaults, BlankRefused) {
  Open({"blank-refused=1"}, "cdrw80");
  EXPECT_EQ(Drive->Blank(true).Code(), "5/24/00");
  EXPECT_EQ(Drive->Tur().Code(), "good");
  Drive.reset();
  Recorder.reset();
  Open({"blank-refused=1"}, "dvd+rw");
  EXPECT_EQ(Drive->Format({0x00, 0x82, 0x00, 0x08, 0, 0, 0, 0, 0x98, 0, 0, 0}).Code(), "5/24/00");
}

TEST_F(VirtualFaults, VanishAfterWritesLikeAnUnpluggedDrive) {
  Open({"vanish-after-writes=2"});
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Write(0).Code(), "good");
  EXPECT_EQ(Write(27).Code(), "good");
  EXPECT_EQ(Write(54).Code(), "not delivered");
  EXPECT_EQ(Drive->Tur().Code(), "not delivered");
  EXPECT_EQ(Drive->Inquiry().Outcome.OSError, ENODEV);
  // Still gone for a new process until the faults are reset.
  Drive.reset();
  Recorder.reset();
  Recorder = cv::OpenVirtualRecorder();
  EXPECT_EQ(RawDrive(*Recorder).Inquiry().Code(), "not delivered");
  Recorder.reset();
  ASSERT_TRUE(cv::cvVirtualControl(Dir.Path).Reset());
  Recorder = cv::OpenVirtualRecorder();
  EXPECT_EQ(RawDrive(*Recorder).Inquiry().Code(), "good");
  EXPECT_EQ(RawDrive(*Recorder).NextWritable(), 54);
}

TEST_F(VirtualFaults, TraceLogsEveryCommand) {
  Open({"trace=1"});
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Write(27).Code(), "5/21/02");
  std::ifstream in(Dir.Path / "trace.log");
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 4u);  // TEST UNIT READY, MODE SENSE, MODE SELECT, WRITE
  EXPECT_NE(lines.front().find("00 00 00 00 00 00 | none 0 | status 02 | sense 6/28/00"), std::string::npos)
      << lines.front();
  EXPECT_NE(lines.back().find("2A 00 00 00 00 1B 00 00 1B 00 | out 63504 | status 02 | sense 5/21/02"),
            std::string::npos)
      << lines.back();
  EXPECT_EQ(lines.back().compare(0, 2, "20"), 0);  // time stamp first
}

TEST_F(VirtualFaults, ResetClearsEveryFault) {
  cv::cvVirtualControl control(Dir.Path);
  ASSERT_TRUE(control.Set({"busy-writes=3", "not-ready-writes=2", "write-error-at=5", "fail-opcode=2A:3",
                           "block-descriptor=1", "page05-length=60", "blank-refused=1", "vanish-after-writes=9",
                           "trace=1", "speed=4", "cue-refuse=zero-pregap,isrc-ctl", "sao-unsupported=1",
                           "cdtext-unsupported=1"}));
  ASSERT_TRUE(control.Reset());
  nlohmann::json report;
  ASSERT_TRUE(control.Show(report));
  for (const auto& [key, value] : report["faults"].items())
    EXPECT_TRUE(value.is_null() || value == false || value == 0) << key;
  EXPECT_EQ(report["settings"]["speed"], 4);  // settings are not faults
}

}  // namespace

// The device object over the recorder: discovery lists it after the real
// drives, and the device-layer operations work end to end.
#include "device/cvSCSILib.h"

namespace {

class VirtualDevice : public ::testing::Test {
 protected:
  // A device object on a fresh medium, with the recorder selected and its
  // unit attention taken.
  void Open(const char* medium, std::vector<std::string> settings = {}) {
    Device.reset();
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert(medium)) << control.Error();
    settings.push_back("time-scale=0.001");
    ASSERT_TRUE(control.Set(settings)) << control.Error();
    Device = std::make_unique<cv::TSCSIDevice>(cv::CreateLinuxOSLayer(),
                                               std::vector<cv::TTransportSource>{cv::VirtualRecorderSource()});
    ASSERT_TRUE(Device->FindDevices());
    ASSERT_GE(Device->GetDeviceCount(), 1);
    Index = static_cast<std::uint8_t>(Device->GetDeviceCount() - 1);
    ASSERT_TRUE(Device->SelectDevice(Index));
    for (int i = 0; i < 3 && !Device->TestUnitReady(); ++i) {
    }
  }
  bool WaitWhileInProgress() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (Device->TestUnitReady()) return true;
      if (Device->Sense[12] != 0x04) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  cvtest::TempRecorderDir Dir;
  std::unique_ptr<cv::TSCSIDevice> Device;
  std::uint8_t Index = 0;
};

TEST_F(VirtualDevice, ListedLastAndSelected) {
  Open("cdr80");
  const std::string name = Device->GetDeviceName(Index);
  EXPECT_NE(name.find("virtual"), std::string::npos) << name;
  EXPECT_NE(name.find("CORVID   VIRTUAL RECORDER 1.00"), std::string::npos) << name;
  EXPECT_STREQ(Device->Vendor, "CORVID  ");
  EXPECT_STREQ(Device->Product, "VIRTUAL RECORDER");
  ASSERT_TRUE(Device->ReadCapabilities());
  EXPECT_EQ(Device->MaxWriteSpeed, 48);
  EXPECT_EQ(Device->MaxReadSpeed, 48);
}

TEST_F(VirtualDevice, MediumTypeOfEveryMedium) {
  struct Case {
    const char* Medium;
    cv::TMediumType Type;
  };
  for (Case c : {Case{"none", cv::mtNone}, Case{"cdrom", cv::mtCDROM}, Case{"cdr74", cv::mtCDR},
                 Case{"cdr80", cv::mtCDR}, Case{"cdrw74", cv::mtCDRW}, Case{"cdrw80", cv::mtCDRW},
                 Case{"dvdrom", cv::mtDVDROM}, Case{"dvdr", cv::mtDVDR}, Case{"dvd+r", cv::mtDVDPlusR},
                 Case{"dvdram", cv::mtDVDRAM}, Case{"dvdrw-ro", cv::mtDVDRWRestricted},
                 Case{"dvdrw", cv::mtDVDRWSequential}, Case{"dvd+rw", cv::mtDVDPlusRW}}) {
    SCOPED_TRACE(c.Medium);
    Open(c.Medium);
    EXPECT_EQ(Device->GetMediumType(), c.Type);
  }
}

TEST_F(VirtualDevice, MediumTypeFromTheAtipWithoutGetConfiguration) {
  struct Case {
    const char* Medium;
    cv::TMediumType Type;
  };
  // (A pressed CD has no ATIP; the disc information then cannot tell it
  // from a CD-R, so it is not among these.)
  for (Case c : {Case{"cdr80", cv::mtCDR}, Case{"cdrw74", cv::mtCDRW}, Case{"none", cv::mtNone}}) {
    SCOPED_TRACE(c.Medium);
    Open(c.Medium, {"fail-opcode=46"});
    EXPECT_EQ(Device->GetMediumType(), c.Type);
  }
}

// The write parameters page of the device layer asks for packet writing
// (write type 0), which the recorder does not write: it refuses the page
// with 5/26/00 as an honest drive does. The refusal also shows that the
// page was found and sent, with a block descriptor and with a long page.
TEST_F(VirtualDevice, PacketWritingParametersAreRefusedForEveryMedium) {
  for (auto [medium, type] : {std::pair{"cdrw80", cv::mtCDRW}, std::pair{"dvdr", cv::mtDVDR},
                              std::pair{"dvdrw", cv::mtDVDRWSequential}, std::pair{"dvd+rw", cv::mtDVDPlusRW}}) {
    SCOPED_TRACE(medium);
    Open(medium);
    EXPECT_FALSE(Device->SetWriteParameters(false, false, false, type));
    EXPECT_EQ(Device->LastSenseCode, 0x2600);
    Device->LastSenseCode = 0;
    EXPECT_FALSE(Device->SetWriteParameters(false, true, true, type));
    EXPECT_EQ(Device->LastSenseCode, 0x2600);
  }
  Open("cdr80", {"block-descriptor=1"});
  EXPECT_FALSE(Device->SetWriteParameters(false, false, false, cv::mtCDR));
  EXPECT_EQ(Device->LastSenseCode, 0x2600);
  Open("cdr80", {"page05-length=100"});
  EXPECT_FALSE(Device->SetWriteParameters(false, false, false, cv::mtCDR));
  EXPECT_EQ(Device->LastSenseCode, 0x2600);
}

TEST_F(VirtualDevice, EjectLoadAndDiscAndTrackInformation) {
  Open("cdr80");
  EXPECT_EQ(Device->GetLastTrackNumber(), 1);
  ASSERT_TRUE(Device->ReadTrackInformation(1));
  EXPECT_EQ(Device->TrackInfo.TrackStart, 0u);
  EXPECT_EQ(Device->TrackInfo.NextWritable, 0u);
  EXPECT_EQ(Device->TrackInfo.TrackSize, 359849u);
  ASSERT_TRUE(Device->EjectMedium(true));
  EXPECT_FALSE(Device->TestUnitReady());
  EXPECT_EQ(Device->LastSenseCode, 0x3A02);
  EXPECT_EQ(Device->GetLastTrackNumber(), 0);
  ASSERT_TRUE(Device->LoadMedium(true));
  EXPECT_FALSE(Device->TestUnitReady());  // unit attention: medium changed
  EXPECT_EQ(Device->LastSenseCode, 0x2800);
  EXPECT_TRUE(Device->TestUnitReady());
}

TEST_F(VirtualDevice, BlankCdrwThroughTheDevice) {
  Open("cdrw80");
  ASSERT_TRUE(Device->BlankDisc(true));
  EXPECT_FALSE(Device->ReadDiscInformation(Device->DiscInfo, 66));
  EXPECT_EQ(Device->Sense[12], 0x04);
  EXPECT_TRUE(WaitWhileInProgress());
  ASSERT_TRUE(Device->ReadDiscInformation(Device->DiscInfo, 66));
  EXPECT_EQ(Device->DiscInfo[2], 0x10);
}

TEST_F(VirtualDevice, FormatListsOfTheEraseThread) {
  const std::uint8_t dvdPlusRw[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x98, 0x00, 0x00, 0x00};
  const std::uint8_t dvdRam[] = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
  const std::uint8_t dvdRw[] = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
  Open("dvd+rw");
  ASSERT_TRUE(Device->FormatUnit(0x11, dvdPlusRw, 12));
  ASSERT_TRUE(Device->ReadDiscInformation(Device->DiscInfoShort, 42));
  EXPECT_EQ(Device->DiscInfoShort[7] & 3, 2);
  Open("dvdram");
  ASSERT_TRUE(Device->FormatUnit(0x11, dvdRam, 12));
  EXPECT_FALSE(Device->TestUnitReady());
  EXPECT_EQ(Device->LastSenseCode, 0x0404);
  EXPECT_TRUE(WaitWhileInProgress());
  Open("dvdrw");
  ASSERT_TRUE(Device->BlankDisc(true));
  EXPECT_TRUE(WaitWhileInProgress());
  ASSERT_TRUE(Device->FormatUnit(0x11, dvdRw, 12));
  EXPECT_TRUE(WaitWhileInProgress());
  EXPECT_EQ(Device->GetMediumType(), cv::mtDVDRWRestricted);
}

TEST_F(VirtualDevice, SwitchedOffRecorderIsNotListed) {
  ::setenv("CORVID_VIRTUAL_RECORDER", "off", 1);
  cv::TSCSIDevice device;
  device.FindDevices();
  for (std::uint16_t i = 0; i < device.GetDeviceCount(); ++i)
    EXPECT_EQ(std::string(device.GetDeviceName(static_cast<std::uint8_t>(i))).find("VIRTUAL RECORDER"),
              std::string::npos);
  ::setenv("CORVID_VIRTUAL_RECORDER", Dir.Path.c_str(), 1);
}

}  // namespace

namespace {

// The host polls the recorder at the pace of its own emulation: its
// time-scale, the fraction of their real time its long operations take.
TEST(VirtualRecorder, PaceIsItsTimeScale) {
  cvtest::TempRecorderDir dir;
  {
    auto recorder = cv::OpenVirtualRecorder();
    ASSERT_NE(recorder, nullptr);
    EXPECT_DOUBLE_EQ(recorder->Pace(), 0.01);
  }
  cv::cvVirtualControl control(dir.Path);
  ASSERT_TRUE(control.Set({"time-scale=0.25"})) << control.Error();
  auto recorder = cv::OpenVirtualRecorder();
  EXPECT_DOUBLE_EQ(recorder->Pace(), 0.25);
}

}  // namespace
