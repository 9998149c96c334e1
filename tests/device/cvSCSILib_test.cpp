// Discovery, the transport road (ExecuteCommand, ExecutePassThrough, the sg
// layer, the recorder) and the shared routines, against the OS-layer double.
#include "device/cvSCSILib.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "device/cvASPI.h"
#include "tests/device/cvFakeOSLayer.h"

namespace {

using cv::TSCSIDevice;
using cv::TTransportKind;
using cvtest::Addr;
using cvtest::Answer;
using cvtest::FakeOSLayer;
using cvtest::SgId;

const std::string kBlankIdentity = std::string(8, ' ') + " " + std::string(16, ' ') + " " + std::string(4, ' ') + " ";

class DeviceTest : public ::testing::Test {
 protected:
  DeviceTest() {
    auto os = std::make_unique<FakeOSLayer>();
    Os = os.get();
    Dev = std::make_unique<TSCSIDevice>(std::move(os), cvtest::RecorderSources(*Os));
  }

  std::string Name(std::uint8_t i) const {
    const char* text = Dev->GetDeviceName(i);
    return text ? text : "<nil>";
  }

  FakeOSLayer* Os;
  std::unique_ptr<TSCSIDevice> Dev;
};

// --- Pass-through discovery ------------------------------------------------

TEST_F(DeviceTest, AddressedDrivesComeFirstAndAddressLessOnesAreMovedBehind) {
  Os->AddOptical("/dev/sr0", std::nullopt).Drive->Vendor = "AAAA";
  Os->AddOptical("/dev/sr1", Addr(2, 0, 0)).Drive->Product = "FIRST";
  Os->AddOptical("/dev/sr2", std::nullopt).Drive->Vendor = "BBBB";
  Os->AddOptical("/dev/sr3", Addr(1, 3, 1)).Drive->Product = "SECOND";

  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_TRUE(Dev->Ready);
  EXPECT_TRUE(Dev->UseSPTI);
  ASSERT_EQ(Dev->GetDeviceCount(), 4);
  EXPECT_EQ(Name(0), "2:0:0,/dev/sr1: VENDOR   FIRST            1.00 ");
  EXPECT_EQ(Name(1), "1:3:1,/dev/sr3: VENDOR   SECOND           1.00 ");
  // Numbered on from the highest adapter (2), in probing order.
  EXPECT_EQ(Name(2), "3:0:0,/dev/sr0: AAAA     PRODUCT          1.00 ");
  EXPECT_EQ(Name(3), "4:0:0,/dev/sr2: BBBB     PRODUCT          1.00 ");
  EXPECT_EQ(Name(4), "<nil>");

  EXPECT_EQ(Dev->Devices[2].HaId, 3);
  EXPECT_EQ(Dev->Devices[3].HaId, 4);
  EXPECT_EQ(Dev->Devices[0].Letter, 'D');
  EXPECT_EQ(Dev->Devices[2].Letter, 'C');
  EXPECT_STREQ(Dev->Devices[3].Path, "/dev/sr2");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Dev->Devices[i].Transport, TTransportKind::PassThrough);
  // Every probe handle is closed again.
  EXPECT_TRUE(Os->OpenHandles.empty());
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
}

TEST_F(DeviceTest, MovedDriveTextIsFormattedWholeForTwoDigitAdapters) {
  Os->AddOptical("/dev/sr0", Addr(12, 0, 0));
  Os->AddOptical("/dev/sr1", std::nullopt);
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 2);
  EXPECT_EQ(Name(0), "12:0:0,/dev/sr0: VENDOR   PRODUCT          1.00 ");
  EXPECT_EQ(Name(1), "13:0:0,/dev/sr1: VENDOR   PRODUCT          1.00 ");
}

TEST_F(DeviceTest, AddressLessDrivesAloneAreNumberedFromOne) {
  Os->AddOptical("/dev/sr0", std::nullopt);
  Os->AddOptical("/dev/sr1", std::nullopt);
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 2);
  EXPECT_EQ(Name(0).substr(0, 16), "1:0:0,/dev/sr0: ");
  EXPECT_EQ(Name(1).substr(0, 16), "2:0:0,/dev/sr1: ");
}

TEST_F(DeviceTest, ReadOnlyNodeIsListedAndUnopenableNodeIsKeptAsidWithItsReason) {
  Os->AddOptical("/dev/sr0", Addr(0)).OpensReadWrite = false;
  auto& dead = Os->AddOptical("/dev/sr1", Addr(1));
  dead.OpensReadWrite = dead.OpensReadOnly = false;
  dead.Group = "cdrom";
  auto& gone = Os->AddOptical("/dev/sr3", Addr(3));
  gone.OpensReadWrite = gone.OpensReadOnly = false;
  gone.OpenError = 6;  // ENXIO
  Os->AddOptical("/dev/sr2", Addr(2));
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 2);
  EXPECT_EQ(Name(0).substr(0, 16), "0:0:0,/dev/sr0: ");
  EXPECT_EQ(Name(1).substr(0, 16), "2:0:0,/dev/sr2: ");
  ASSERT_EQ(Dev->Unopened.size(), 2u);
  EXPECT_EQ(Dev->Unopened[0].Path, "/dev/sr1");
  EXPECT_EQ(Dev->Unopened[0].Errno, EACCES);
  EXPECT_EQ(Dev->Unopened[0].Text, "/dev/sr1: permission denied (add your user to the group 'cdrom' that owns it)");
  EXPECT_EQ(Dev->Unopened[1].Text, "/dev/sr3: " + std::string(std::strerror(ENXIO)));
  // A new discovery starts afresh.
  dead.OpensReadWrite = gone.OpensReadWrite = true;
  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_TRUE(Dev->Unopened.empty());
}

TEST(OpenFailureTextTest, SaysWhatStandsInTheWay) {
  EXPECT_EQ(cv::OpenFailureText("/dev/sr0", EACCES, 0, ""),
            "/dev/sr0: permission denied (add your user to the group that owns it, usually 'cdrom')");
  EXPECT_EQ(cv::OpenFailureText("/dev/sr0", EPERM, 0, "disk"),
            "/dev/sr0: permission denied (add your user to the group 'disk' that owns it)");
  EXPECT_EQ(cv::OpenFailureText("/dev/sr1", EBUSY, 4242, ""), "/dev/sr1: drive in use by another program (pid 4242)");
  EXPECT_EQ(cv::OpenFailureText("/dev/sr1", EBUSY, 0, ""), "/dev/sr1: drive in use by another program");
  EXPECT_EQ(cv::OpenFailureText("/dev/sr2", ENOENT, 0, ""), "/dev/sr2: " + std::string(std::strerror(ENOENT)));
}

TEST_F(DeviceTest, DriveWhoseInquiryFailsIsStillListed) {
  Os->AddOptical("/dev/sr0", Addr(0)).Drive->Always(0x12, Answer::Check(5, 0x24, 0));
  Os->AddOptical("/dev/sr1", Addr(1)).Drive->PeripheralType = 0;  // a disk, not a CD/DVD unit
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 2);
  EXPECT_EQ(Name(0), "0:0:0,/dev/sr0: " + kBlankIdentity);
  EXPECT_EQ(Name(1), "1:0:0,/dev/sr1: " + kBlankIdentity);
}

TEST_F(DeviceTest, DiscoveryInquiryIsStandardAndControlBytesBecomeBlanks) {
  auto drive = Os->AddOptical("/dev/sr0", Addr(0)).Drive;
  drive->Vendor = std::string("AB\x01\x1F", 4) + "XYZ";
  drive->Product = std::string("P\tQ\0R", 5);
  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_EQ(Name(0), "0:0:0,/dev/sr0: AB  XYZ  P Q R            1.00 ");
  ASSERT_EQ(drive->Log.size(), 1u);
  EXPECT_EQ(drive->Log[0].Cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 0x40, 0}));
  EXPECT_EQ(drive->Log[0].Direction, cv::TDataDirection::FromDevice);
  EXPECT_EQ(drive->Log[0].DataLength, 64u);
}

TEST_F(DeviceTest, FindDevicesResetsTheWholeObject) {
  Os->AddOptical("/dev/sr0", Addr(0)).Drive->Always(0x00, Answer::Check(2, 0x3A, 0));
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_TRUE(Dev->SelectDevice(0));
  EXPECT_FALSE(Dev->TestUnitReady());
  Dev->WriteSpeed = 8;
  Dev->LinkSizeSetting = true;
  Dev->MediumType = cv::mtCDR;
  ASSERT_EQ(Dev->LastSenseCode, 0x3A00);

  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_EQ(Dev->LastSenseCode, 0);
  EXPECT_EQ(Dev->WriteSpeed, 0);
  EXPECT_FALSE(Dev->LinkSizeSetting);
  EXPECT_EQ(Dev->MediumType, cv::mtNone);
  EXPECT_EQ(Dev->SelectedEntry(), nullptr);
  EXPECT_EQ(Dev->GetDeviceCount(), 1);
  EXPECT_TRUE(Os->OpenHandles.empty());
}

// --- sg fallback -------------------------------------------------------------

TEST_F(DeviceTest, NoDriveAndNoSgDeviceGivesFalseAndAnEmptyList) {
  EXPECT_FALSE(Dev->FindDevices());
  EXPECT_FALSE(Dev->Ready);
  EXPECT_EQ(Dev->GetDeviceCount(), 0);
  EXPECT_EQ(Dev->GetDeviceName(0), nullptr);
  cv::TExecRequest request;
  EXPECT_EQ(Dev->ExecuteCommand(request), 4);
  EXPECT_EQ(Os->SgIoCalls, 0);
}

TEST_F(DeviceTest, SgNodesThatDoNotOpenAreNoTransport) {
  auto& node = Os->AddGeneric("/dev/sg0", SgId(0));
  node.OpensReadWrite = node.OpensReadOnly = false;
  EXPECT_FALSE(Dev->FindDevices());
  EXPECT_EQ(Dev->GetDeviceCount(), 0);
}

TEST_F(DeviceTest, ZeroAdaptersReportedMeansSevenAreScanned) {
  // The nodes open but none tells its address: the adapter count is 0.
  Os->AddGeneric("/dev/sg0", std::nullopt);
  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_TRUE(Dev->Ready);
  EXPECT_FALSE(Dev->UseSPTI);
  EXPECT_EQ(Dev->GetDeviceCount(), 0);
  ASSERT_NE(Dev->ASPILayer(), nullptr);
  // One adapter inquiry, then 7 adapters x 8 targets x 7 LUNs of INQUIRY.
  EXPECT_EQ(Dev->ASPILayer()->RequestsServed(), 1u + 7u * 8u * 7u);
}

TEST_F(DeviceTest, SgDrivesAreListedInAddressOrderWithTheirNodes) {
  Os->AddGeneric("/dev/sg0", SgId(0, 3)).Drive->Product = "THREE";
  Os->AddGeneric("/dev/sg1", SgId(0, 1)).Drive->Product = "ONE";
  Os->AddGeneric("/dev/sg2", SgId(1, 0)).Drive->PeripheralType = 0;  // a disk
  Os->AddGeneric("/dev/sg3", SgId(3, 0)).Drive->Product = "HOST3";  // host numbers need not be dense
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 3);
  EXPECT_EQ(Name(0), "0:1:0,?: VENDOR   ONE              1.00 ");
  EXPECT_EQ(Name(1), "0:3:0,?: VENDOR   THREE            1.00 ");
  EXPECT_EQ(Name(2), "3:0:0,?: VENDOR   HOST3            1.00 ");
  EXPECT_STREQ(Dev->Devices[0].Path, "/dev/sg1");
  EXPECT_STREQ(Dev->Devices[2].Path, "/dev/sg3");
  EXPECT_EQ(Dev->Devices[0].Letter, '?');
  EXPECT_EQ(Dev->Devices[0].Transport, TTransportKind::Generic);
}

TEST_F(DeviceTest, SgDiscoveryStopsWhenTheListIsFull) {
  std::vector<std::shared_ptr<cvtest::ScriptedDrive>> drives;
  int n = 0;
  for (int target = 0; target < 8; ++target)
    for (int lun = 0; lun < 4; ++lun) drives.push_back(Os->AddGeneric("/dev/sg" + std::to_string(n++), SgId(0, target, lun)).Drive);
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 26);
  EXPECT_EQ(Name(25).substr(0, 8), "0:6:1,?:");
  // Nothing beyond the 26th drive is probed.
  for (std::size_t i = 26; i < drives.size(); ++i) EXPECT_TRUE(drives[i]->Log.empty()) << i;
}

TEST_F(DeviceTest, CommandsOfAnSgDriveGoToItsNode) {
  auto first = Os->AddGeneric("/dev/sg0", SgId(0, 0)).Drive;
  auto second = Os->AddGeneric("/dev/sg1", SgId(0, 2)).Drive;
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_TRUE(Dev->SelectDevice(1));
  second->Log.clear();
  first->Log.clear();
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_TRUE(first->Log.empty());
  ASSERT_EQ(second->Log.size(), 1u);
  EXPECT_EQ(second->Log[0].Node, "/dev/sg1");
}

// --- The virtual recorder ----------------------------------------------------

std::shared_ptr<cvtest::ScriptedDrive> RecorderDrive() {
  auto drive = std::make_shared<cvtest::ScriptedDrive>();
  drive->Vendor = "CORVID  ";
  drive->Product = "VIRTUAL RECORDER";
  drive->Revision = "1.00";
  return drive;
}

TEST_F(DeviceTest, RecorderIsTheOnlyEntryWhenNoRealDriveIsFound) {
  Os->Recorder = RecorderDrive();
  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_TRUE(Dev->Ready);
  ASSERT_EQ(Dev->GetDeviceCount(), 1);
  EXPECT_EQ(Name(0), "0:0:0,virtual: CORVID   VIRTUAL RECORDER 1.00 ");
  EXPECT_STREQ(Dev->Devices[0].Path, "virtual");
  EXPECT_EQ(Dev->Devices[0].Transport, TTransportKind::Virtual);
}

TEST_F(DeviceTest, RecorderComesAfterEveryRealDriveOnTheNextAdapter) {
  Os->AddOptical("/dev/sr0", Addr(1));
  Os->AddOptical("/dev/sr1", std::nullopt);  // moved to adapter 2
  Os->Recorder = RecorderDrive();
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 3);
  EXPECT_EQ(Name(1).substr(0, 16), "2:0:0,/dev/sr1: ");
  EXPECT_EQ(Name(2), "3:0:0,virtual: CORVID   VIRTUAL RECORDER 1.00 ");
}

TEST_F(DeviceTest, RecorderFollowsSgDrivesToo) {
  Os->AddGeneric("/dev/sg0", SgId(4, 0));
  Os->Recorder = RecorderDrive();
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_EQ(Dev->GetDeviceCount(), 2);
  EXPECT_EQ(Name(1).substr(0, 15), "5:0:0,virtual: ");
}

TEST_F(DeviceTest, CommandsOfTheSelectedRecorderGoToItAndNotToTheKernel) {
  auto real = Os->AddOptical("/dev/sr0", Addr(0)).Drive;
  Os->Recorder = RecorderDrive();
  ASSERT_TRUE(Dev->FindDevices());
  ASSERT_TRUE(Dev->SelectDevice(1));
  int sgio = Os->SgIoCalls;
  Os->Recorder->Log.clear();
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Os->SgIoCalls, sgio);
  ASSERT_EQ(Os->Recorder->Log.size(), 1u);
  EXPECT_STREQ(Dev->Vendor, "CORVID  ");
  EXPECT_STREQ(Dev->Product, "VIRTUAL RECORDER");

  ASSERT_TRUE(Dev->SelectDevice(0));
  real->Log.clear();
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(real->Log.size(), 1u);
  EXPECT_EQ(Os->Recorder->Log.size(), 1u);
}

TEST_F(DeviceTest, RecorderSwitchedOffIsNotListedAndIsReleasedByTheNextDiscovery) {
  Os->Recorder = RecorderDrive();
  ASSERT_TRUE(Dev->FindDevices());
  auto held = Os->Recorder;
  EXPECT_EQ(held.use_count(), 3);  // the test twice, and the device's transport
  Os->Recorder = nullptr;
  EXPECT_FALSE(Dev->FindDevices());
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(Dev->GetDeviceCount(), 0);
}

TEST_F(DeviceTest, RecorderThatRefusesInquiryIsListedWithBlanks) {
  Os->Recorder = RecorderDrive();
  Os->Recorder->Always(0x12, Answer::Busy());
  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_EQ(Name(0), "0:0:0,virtual: " + kBlankIdentity);
  EXPECT_STREQ(Dev->Devices[0].Error, "no answer to INQUIRY");
}

TEST_F(DeviceTest, ARecorderHeldElsewhereSaysSoInTheListAndOnEveryCommand) {
  Os->Recorder = RecorderDrive();
  Os->Recorder->Always(0x12, Answer::Busy());
  Os->Recorder->Always(0x00, Answer::Busy());
  Os->Recorder->Unavailable = "the virtual recorder is in use by another program (pid 77)";
  ASSERT_TRUE(Dev->FindDevices());
  EXPECT_STREQ(Dev->Devices[0].Error, "the virtual recorder is in use by another program (pid 77)");
  (void)Dev->SelectDevice(0);  // selected, though it gave no INQUIRY answer
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->DriveProblem, "the virtual recorder is in use by another program (pid 77)");
  // Free again: the next command that reaches it clears the problem.
  Os->Recorder->Unavailable.clear();
  Os->Recorder->Always(0x00, Answer::Good());
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->DriveProblem, "");
}

// --- ExecuteCommand ----------------------------------------------------------

class SelectedDriveTest : public DeviceTest {
 protected:
  void SetUp() override {
    Drive = Os->AddOptical("/dev/sr0", Addr(0)).Drive;
    ASSERT_TRUE(Dev->FindDevices());
    ASSERT_TRUE(Dev->SelectDevice(0));
    Drive->Log.clear();
  }
  std::shared_ptr<cvtest::ScriptedDrive> Drive;
};

TEST_F(DeviceTest, ExecuteCommandBeforeDiscoveryFailsWithoutAnySystemCall) {
  Os->AddOptical("/dev/sr0", Addr(0));
  cv::TExecRequest request;
  request.CdbLength = 6;
  EXPECT_EQ(Dev->ExecuteCommand(request), 4);
  EXPECT_EQ(request.Status, 4);
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Os->Opens, 0);
  EXPECT_EQ(Os->SgIoCalls, 0);
}

TEST_F(SelectedDriveTest, LastSenseCodeSurvivesLaterSuccessfulCommands) {
  Drive->Script(0x00, Answer::Check(2, 0x3A, 0x01));
  Drive->Script(0x00, Answer::Good());
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->LastSenseCode, 0x3A01);
  EXPECT_EQ(Dev->Sense[2], 2);
  EXPECT_EQ(Dev->Sense[12], 0x3A);

  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->LastSenseCode, 0x3A01);
  EXPECT_EQ(Dev->Sense[12], 0);  // Sense is the last command's

  // A failure without an additional sense code keeps it too.
  Drive->Always(0x00, Answer::Check(6, 0, 0));
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->LastSenseCode, 0x3A01);
  Drive->Always(0x00, Answer::Check(5, 0x30, 0x05));
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->LastSenseCode, 0x3005);
}

TEST_F(SelectedDriveTest, BusyTellsABusyRefusalApart) {
  Drive->Script(0x2A, Answer::Busy());
  Drive->Script(0x2A, Answer::Check(2, 0x04, 0x08));
  Drive->Script(0x2A, Answer::Good());
  std::vector<std::uint8_t> block(2352);
  EXPECT_FALSE(Dev->WriteSectors(0, 1, block, 2352));
  EXPECT_TRUE(Dev->Busy);
  EXPECT_FALSE(Dev->WriteSectors(0, 1, block, 2352));
  EXPECT_FALSE(Dev->Busy);
  EXPECT_EQ(Dev->Sense[12], 0x04);
  EXPECT_TRUE(Dev->WriteSectors(0, 1, block, 2352));
  EXPECT_FALSE(Dev->Busy);
}

TEST_F(SelectedDriveTest, TransportFailureIsAnErrorWithTheOSErrorKept) {
  Drive->Always(0x00, Answer::Gone(5 /*EIO*/));
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->LastOSError, 5u);
  EXPECT_FALSE(Dev->Busy);
  EXPECT_EQ(Dev->Sense[12], 0);
}

TEST_F(SelectedDriveTest, HandleStaysOpenBetweenCommandsUnlessAskedToClose) {
  int opens = Os->Opens;  // selection's INQUIRY opened the node
  ASSERT_NE(Dev->Handle, cv::kInvalidHandle);
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Os->Opens, opens);
  EXPECT_NE(Dev->Handle, cv::kInvalidHandle);

  Dev->CloseAfterCommand = true;
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
  EXPECT_EQ(Os->Opens, opens + 1);
  EXPECT_TRUE(Os->OpenHandles.empty());
}

TEST_F(SelectedDriveTest, EjectAndLoadCloseTheHandleAfterTheirCommand) {
  EXPECT_TRUE(Dev->TestUnitReady());
  ASSERT_NE(Dev->Handle, cv::kInvalidHandle);
  EXPECT_TRUE(Dev->EjectMedium(true));
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
  EXPECT_FALSE(Dev->CloseAfterCommand);
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_TRUE(Dev->LoadMedium(true));
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
  EXPECT_FALSE(Dev->CloseAfterCommand);
  EXPECT_TRUE(Os->OpenHandles.empty());
}

TEST_F(SelectedDriveTest, ShortReplyLeavesNoBytesOfAnEarlierOne) {
  Dev->Buffer.fill(0xEE);
  std::vector<std::uint8_t> reply = {0, 0x1E, 0, 0, 0, 0x20, 0, 0};  // stops before the free-bytes field
  Drive->Always(0x5C, Answer::Good(reply));
  EXPECT_TRUE(Dev->ReadBufferCapacity());
  EXPECT_EQ(Dev->BufferLength, 0x200000u);
  EXPECT_EQ(Dev->BufferFree, 0u);
}

TEST_F(SelectedDriveTest, ExclusiveOpensTheNodeForThisProcessAloneAndNamesItsHolder) {
  ASSERT_TRUE(Dev->TestUnitReady());  // opened shared
  EXPECT_EQ(Os->ExclusiveOpens, 0);
  Os->Optical[0].HeldElsewhere = true;
  Os->Optical[0].Holder = 4242;
  Dev->SetExclusive(true);  // closes the shared descriptor
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_EQ(Os->ExclusiveOpens, 1);
  EXPECT_EQ(Dev->LastOSError, static_cast<std::uint32_t>(EBUSY));
  EXPECT_EQ(Dev->DriveProblem, "/dev/sr0: drive in use by another program (pid 4242)");
  // Let go by the other program: the exclusive open succeeds.
  Os->Optical[0].HeldElsewhere = false;
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Os->ExclusiveOpens, 2);
  EXPECT_EQ(Dev->DriveProblem, "");
  // Back to shared: the exclusive descriptor is closed.
  Dev->SetExclusive(false);
  EXPECT_EQ(Dev->Handle, cv::kInvalidHandle);
  EXPECT_TRUE(Dev->TestUnitReady());
  EXPECT_EQ(Os->ExclusiveOpens, 2);
}

TEST_F(SelectedDriveTest, DriveThatVanishesFailsEveryCommandWithoutHanging) {
  Os->Optical[0].OpensReadWrite = Os->Optical[0].OpensReadOnly = false;
  Dev->CloseAfterCommand = true;
  EXPECT_TRUE(Dev->TestUnitReady());  // the open handle still works once
  EXPECT_FALSE(Dev->TestUnitReady());
  EXPECT_NE(Dev->LastOSError, 0u);
}

// --- Requests and records ----------------------------------------------------

TEST(RequestTest, BlockHasTheSrbExecScsiCmdLayout) {
  EXPECT_EQ(offsetof(cv::TExecRequest, Status), 1u);
  EXPECT_EQ(offsetof(cv::TExecRequest, Flags), 3u);
  EXPECT_EQ(offsetof(cv::TExecRequest, Target), 8u);
  EXPECT_EQ(offsetof(cv::TExecRequest, DataLength), 12u);
  EXPECT_EQ(offsetof(cv::TExecRequest, SenseLength), 20u);
  EXPECT_EQ(offsetof(cv::TExecRequest, TargetStatus), 23u);
  EXPECT_EQ(offsetof(cv::TExecRequest, Cdb), 48u);
  EXPECT_EQ(offsetof(cv::TExecRequest, SenseArea), 64u);
  EXPECT_EQ(offsetof(cv::TExecRequest, Data), 96u);
}

TEST(RequestTest, PassThroughRecordTakesDirectionFromTheFlags) {
  cv::TExecRequest request;
  request.CdbLength = 10;
  request.SenseLength = 24;
  request.DataLength = 38;
  request.Cdb[0] = 0x52;
  request.Flags = 0x48;
  cv::TPassThroughRecord in = cv::MakePassThroughRecord(request);
  EXPECT_EQ(in.DataIn, 1);
  EXPECT_EQ(in.CdbLength, 10);
  EXPECT_EQ(in.SenseInfoLength, 24);
  EXPECT_EQ(in.DataTransferLength, 38u);
  EXPECT_EQ(in.TimeOutValue, 12000u);
  EXPECT_EQ(in.Cdb[0], 0x52);
  request.Flags = 0x50;
  EXPECT_EQ(cv::MakePassThroughRecord(request).DataIn, 0);
  request.Flags = 0x40;
  EXPECT_EQ(cv::MakePassThroughRecord(request).DataIn, 2);
}

TEST(RequestTest, OnlyTheFirst24SenseBytesOfAFailureAreKept) {
  cv::TExecRequest request;
  cv::TScsiOutcome outcome;
  outcome.Delivered = true;
  outcome.ScsiStatus = cv::kScsiCheckCondition;
  for (std::size_t i = 0; i < outcome.Sense.size(); ++i) outcome.Sense[i] = static_cast<std::uint8_t>(i + 1);
  outcome.SenseLength = 32;
  cv::CompleteRequest(request, outcome);
  EXPECT_EQ(request.Status, 4);
  EXPECT_EQ(request.TargetStatus, cv::kScsiCheckCondition);
  EXPECT_EQ(request.SenseArea[23], 24);
  EXPECT_EQ(request.SenseArea[24], 0);

  cv::TScsiOutcome good;
  good.Delivered = true;
  cv::TExecRequest done;
  cv::CompleteRequest(done, good);
  EXPECT_EQ(done.Status, 1);
  // A host or driver error is an error even with SCSI status GOOD.
  good.HostStatus = 0x07;
  cv::CompleteRequest(done, good);
  EXPECT_EQ(done.Status, 4);
}

// --- Shared routines ---------------------------------------------------------

TEST(SharedRoutinesTest, ByteSwapping) {
  EXPECT_EQ(cv::Swap16(0x1234), 0x3412);
  EXPECT_EQ(cv::Swap16(0xABCD1234u), 0x3412);  // only the low two bytes
  EXPECT_EQ(cv::Swap32(0x12345678u), 0x78563412u);
  std::uint8_t src[4] = {1, 2, 3, 4}, dst[4] = {};
  cv::StoreSwap16(src, dst);
  EXPECT_EQ(dst[0], 2);
  EXPECT_EQ(dst[1], 1);
  cv::StoreSwap32(src, dst);
  EXPECT_EQ(dst[0], 4);
  EXPECT_EQ(dst[3], 1);
}

TEST(SharedRoutinesTest, TestBitCountsFromTheLeastSignificant) {
  EXPECT_TRUE(cv::TestBit(1, 0));
  EXPECT_FALSE(cv::TestBit(1, 1));
  EXPECT_TRUE(cv::TestBit(0x80000000u, 31));
  EXPECT_FALSE(cv::TestBit(0xFFFFFFFFu, 32));
  EXPECT_FALSE(cv::TestBit(0xFFFFFFFFu, -1));
}

TEST(SharedRoutinesTest, BytesToSectorsRoundsUp) {
  EXPECT_EQ(cv::BytesToSectors(0), 0);
  EXPECT_EQ(cv::BytesToSectors(1), 1);
  EXPECT_EQ(cv::BytesToSectors(2352), 1);
  EXPECT_EQ(cv::BytesToSectors(2353), 2);
  EXPECT_EQ(cv::BytesToSectors(63504), 27);
  EXPECT_EQ(cv::BytesToSectors(-5), 0);
}

TEST(SharedRoutinesTest, SectorsToMSF) {
  std::uint8_t m = 9, s = 9, f = 9;
  cv::SectorsToMSF(0, m, s, f);
  EXPECT_EQ(m + s + f, 0);
  cv::SectorsToMSF(4500 * 3 + 75 * 7 + 74, m, s, f);
  EXPECT_EQ(m, 3);
  EXPECT_EQ(s, 7);
  EXPECT_EQ(f, 74);
  EXPECT_EQ(cv::SectorsToMSFText(0), "00:00:00");
  EXPECT_EQ(cv::SectorsToMSFText(4500), "01:00:00");
  EXPECT_EQ(cv::SectorsToMSFText(359849), "79:57:74");
  // Minutes are kept in a byte.
  EXPECT_EQ(cv::SectorsToMSFText(4500u * 256u + 1), "00:00:01");
}

TEST(SharedRoutinesTest, BigEndianReadsAreBoundsChecked) {
  std::uint8_t bytes[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
  EXPECT_EQ(cv::ReadBE16(bytes, 0), 0x1234);
  EXPECT_EQ(cv::ReadBE32(bytes, 1), 0x3456789Au);
  EXPECT_EQ(cv::ReadBE32(bytes, 2), 0u);
  EXPECT_EQ(cv::ReadBE16(bytes, 4), 0);
  EXPECT_EQ(cv::ReadBE16(bytes, 100), 0);
}

}  // namespace
