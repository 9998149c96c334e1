// The MMC command layer: the CDB, direction and data length of every
// command, selection, the capabilities page, medium identification and the
// write parameters page, against a scripted drive.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "device/cvSCSILib.h"
#include "tests/device/cvFakeOSLayer.h"

namespace {

using cv::TDataDirection;
using cv::TSCSIDevice;
using cvtest::Addr;
using cvtest::Answer;
using cvtest::FakeOSLayer;
using Bytes = std::vector<std::uint8_t>;

class CommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto os = std::make_unique<FakeOSLayer>();
    Os = os.get();
    Drive = Os->AddOptical("/dev/sr0", Addr(1, 2, 0)).Drive;
    Dev = std::make_unique<TSCSIDevice>(std::move(os));
    ASSERT_TRUE(Dev->FindDevices());
    ASSERT_TRUE(Dev->SelectDevice(0));
    Drive->Log.clear();
  }

  const cvtest::Sent& Only() {
    EXPECT_EQ(Drive->Log.size(), 1u);
    static cvtest::Sent none;
    return Drive->Log.empty() ? none : Drive->Log.back();
  }

  FakeOSLayer* Os;
  std::shared_ptr<cvtest::ScriptedDrive> Drive;
  std::unique_ptr<TSCSIDevice> Dev;
};

struct CommandCase {
  const char* Name;
  std::function<bool(TSCSIDevice&)> Call;
  Bytes Cdb;
  TDataDirection Direction;
  std::size_t DataLength;
};

std::vector<CommandCase> Cases() {
  static Bytes formatList = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
  static std::vector<std::uint8_t> block(63504, 0x5A);
  using D = TDataDirection;
  return {
      {"TestUnitReady", [](TSCSIDevice& d) { return d.TestUnitReady(); }, {0x00, 0, 0, 0, 0, 0}, D::None, 0},
      {"RezeroUnit", [](TSCSIDevice& d) { return d.RezeroUnit(); }, {0x01, 0, 0, 0, 0, 0}, D::None, 0},
      {"FormatUnit", [](TSCSIDevice& d) { return d.FormatUnit(0x11, formatList, 12); },
       {0x04, 0x11, 0, 0, 0, 0}, D::ToDevice, 12},
      {"Inquiry", [](TSCSIDevice& d) { return d.Inquiry(d.Buffer); }, {0x12, 0, 0, 0, 0x40, 0}, D::FromDevice, 64},
      {"LoadMediumImmediate", [](TSCSIDevice& d) { return d.LoadMedium(true); }, {0x1B, 1, 0, 0, 3, 0}, D::None, 0},
      {"LoadMedium", [](TSCSIDevice& d) { return d.LoadMedium(false); }, {0x1B, 0, 0, 0, 3, 0}, D::None, 0},
      {"EjectMediumImmediate", [](TSCSIDevice& d) { return d.EjectMedium(true); }, {0x1B, 1, 0, 0, 2, 0}, D::None, 0},
      {"EjectMedium", [](TSCSIDevice& d) { return d.EjectMedium(false); }, {0x1B, 0, 0, 0, 2, 0}, D::None, 0},
      {"AllowMediumRemoval", [](TSCSIDevice& d) { return d.AllowMediumRemoval(); }, {0x1E, 0, 0, 0, 0, 0}, D::None, 0},
      {"WriteSectors", [](TSCSIDevice& d) { return d.WriteSectors(0x00012345, 27, block, 63504); },
       {0x2A, 0, 0x00, 0x01, 0x23, 0x45, 0, 0x00, 0x1B, 0}, D::ToDevice, 63504},
      {"WriteSectorsNegativeLBA", [](TSCSIDevice& d) { return d.WriteSectors(static_cast<std::uint32_t>(-150), 1, block, 2352); },
       {0x2A, 0, 0xFF, 0xFF, 0xFF, 0x6A, 0, 0x00, 0x01, 0}, D::ToDevice, 2352},
      {"SynchronizeCache", [](TSCSIDevice& d) { return d.SynchronizeCache(true); }, {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"ReadTOCAtip", [](TSCSIDevice& d) { return d.ReadTOC(4, 0, true, d.Buffer, 30); },
       {0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 30, 0}, D::FromDevice, 30},
      {"ReadTOC", [](TSCSIDevice& d) { return d.ReadTOC(0, 1, false, d.Buffer, 12); },
       {0x43, 0x00, 0x00, 0, 0, 0, 1, 0, 12, 0}, D::FromDevice, 12},
      {"GetConfiguration", [](TSCSIDevice& d) { return d.GetConfiguration(d.Configuration, 114, 0); },
       {0x46, 0x02, 0, 0, 0, 0, 0, 0x00, 0x72, 0}, D::FromDevice, 114},
      {"GetConfigurationFeature", [](TSCSIDevice& d) { return d.GetConfiguration(d.Buffer, 0x0102, 0x1234); },
       {0x46, 0x02, 0x12, 0x34, 0, 0, 0, 0x01, 0x02, 0}, D::FromDevice, 0x0102},
      {"ReadDiscInformation", [](TSCSIDevice& d) { return d.ReadDiscInformation(d.DiscInfo, 66); },
       {0x51, 0, 0, 0, 0, 0, 0, 0, 66, 0}, D::FromDevice, 66},
      {"ReadTrackInformation", [](TSCSIDevice& d) { return d.ReadTrackInformation(5); },
       {0x52, 0x01, 0, 0, 0, 5, 0, 0, 38, 0}, D::FromDevice, 38},
      {"ModeSelect10", [](TSCSIDevice& d) { return d.ModeSelect10(d.Buffer, 60); },
       {0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}, D::ToDevice, 60},
      {"ModeSense10Current", [](TSCSIDevice& d) { return d.ModeSense10(d.Buffer, 512, 0x05, false); },
       {0x5A, 0, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}, D::FromDevice, 512},
      {"ModeSense10Defaults", [](TSCSIDevice& d) { return d.ModeSense10(d.Buffer, 128, 0x2A, true); },
       {0x5A, 0, 0xAA, 0, 0, 0, 0, 0, 128, 0}, D::FromDevice, 128},
      {"CloseSessionImmediate", [](TSCSIDevice& d) { return d.CloseTrackSession(false, true); },
       {0x5B, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"CloseTrack", [](TSCSIDevice& d) { return d.CloseTrackSession(true, false); },
       {0x5B, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"ReadBufferCapacity", [](TSCSIDevice& d) { return d.ReadBufferCapacity(); },
       {0x5C, 0, 0, 0, 0, 0, 0, 0, 0x20, 0}, D::FromDevice, 32},
      {"BlankQuick", [](TSCSIDevice& d) { return d.BlankDisc(true); }, {0xA1, 0x11, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"BlankFull", [](TSCSIDevice& d) { return d.BlankDisc(false); }, {0xA1, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"SetCDSpeedMaximum", [](TSCSIDevice& d) { return d.SetCDSpeed(0, 0); },
       {0xBB, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"SetCDSpeedRead4", [](TSCSIDevice& d) { return d.SetCDSpeed(4, 0); },
       {0xBB, 0, 0x02, 0xC0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, D::None, 0},
      {"SetCDSpeedKeptTo16Bits", [](TSCSIDevice& d) { return d.SetCDSpeed(400, 1); },
       {0xBB, 0, 0x13, 0x00, 0x00, 0xB0, 0, 0, 0, 0, 0, 0}, D::None, 0},
  };
}

TEST_F(CommandTest, EveryCommandSendsItsCdbDirectionAndLength) {
  for (const CommandCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    Drive->Log.clear();
    EXPECT_TRUE(c.Call(*Dev));
    ASSERT_EQ(Drive->Log.size(), 1u);
    const cvtest::Sent& sent = Drive->Log[0];
    EXPECT_EQ(sent.Cdb, c.Cdb);
    EXPECT_EQ(sent.Direction, c.Direction);
    EXPECT_EQ(sent.DataLength, c.DataLength);
  }
}

TEST_F(CommandTest, EveryCommandAnswersFalseWhenTheDriveRefuses) {
  for (std::uint8_t opcode : {0x00, 0x01, 0x04, 0x12, 0x1B, 0x1E, 0x2A, 0x35, 0x43, 0x46, 0x51, 0x52, 0x55, 0x5A, 0x5B,
                              0x5C, 0xA1, 0xBB})
    Drive->Always(opcode, Answer::Check(5, 0x24, 0));
  for (const CommandCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    EXPECT_FALSE(c.Call(*Dev));
    EXPECT_EQ(Dev->LastSenseCode, 0x2400);
  }
}

TEST_F(CommandTest, DataOutCommandsSendTheCallersBytes) {
  Bytes list = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
  ASSERT_TRUE(Dev->FormatUnit(0x11, list, 12));
  EXPECT_EQ(Only().DataOut, list);
}

TEST_F(CommandTest, LengthsBeyondTheGivenBufferSendNothing) {
  std::array<std::uint8_t, 10> small{};
  EXPECT_FALSE(Dev->ReadDiscInformation(small, 66));
  EXPECT_FALSE(Dev->ModeSense10(small, 128, 0x2A, false));
  EXPECT_FALSE(Dev->Inquiry(small));
  EXPECT_FALSE(Dev->WriteSectors(0, 1, small, 2352));
  EXPECT_FALSE(Dev->ReadTOC(4, 0, true, small, 30));
  EXPECT_TRUE(Drive->Log.empty());
}

TEST_F(CommandTest, CommandsCarryTheSelectedAddress) {
  // The pass-through leg reaches the node; the address goes into every request.
  cv::TExecRequest request;
  request.Flags = cv::kFlagsNoData;
  request.CdbLength = 6;
  EXPECT_EQ(Dev->ExecuteCommand(request), 1);
  EXPECT_EQ(request.HaId, 1);
  EXPECT_EQ(request.Target, 2);
  EXPECT_EQ(request.SenseLength, 24);
  EXPECT_EQ(request.Command, 2);
}

// --- Replies decoded ---------------------------------------------------------

Bytes TrackInfoReply() {
  Bytes r(38, 0);
  r[0] = 0x00;
  r[1] = 0x22;
  r[2] = 1;     // track
  r[3] = 1;     // session
  r[6] = 0x40;  // blank
  r[7] = 0x01;  // NWA valid
  auto put = [&](std::size_t at, std::uint32_t v) {
    r[at] = static_cast<std::uint8_t>(v >> 24);
    r[at + 1] = static_cast<std::uint8_t>(v >> 16);
    r[at + 2] = static_cast<std::uint8_t>(v >> 8);
    r[at + 3] = static_cast<std::uint8_t>(v);
  };
  put(8, 0);           // track start
  put(12, 0x00012345);  // next writable
  put(16, 359849);      // free blocks
  put(20, 0);
  put(24, 359849);      // track size
  put(28, 0xFFFFFFFF);  // last recorded
  return r;
}

TEST_F(CommandTest, TrackInformationIsTurnedToHostOrder) {
  Drive->Script(0x52, Answer::Good(TrackInfoReply()));
  ASSERT_TRUE(Dev->ReadTrackInformation(0xFF));
  EXPECT_EQ(Dev->TrackInfo.DataLength, 0x22);
  EXPECT_EQ(Dev->TrackInfo.TrackStart, 0u);
  EXPECT_EQ(Dev->TrackInfo.NextWritable, 0x12345u);
  EXPECT_EQ(Dev->TrackInfo.FreeBlocks, 359849u);
  EXPECT_EQ(Dev->TrackInfo.TrackSize, 359849u);
  EXPECT_EQ(Dev->TrackInfo.LastRecorded, 0xFFFFFFFFu);
  std::uint32_t inPlace = 0;
  std::memcpy(&inPlace, &Dev->TrackInfo.Bytes[12], 4);
  EXPECT_EQ(inPlace, 0x12345u);
  EXPECT_EQ(Dev->TrackInfo.Bytes[6], 0x40);  // flags stay as sent
}

TEST_F(CommandTest, FailedTrackInformationKeepsTheLastDecodedFields) {
  Drive->Script(0x52, Answer::Good(TrackInfoReply()));
  Drive->Script(0x52, Answer::Check(5, 0x24, 0));
  ASSERT_TRUE(Dev->ReadTrackInformation(1));
  EXPECT_FALSE(Dev->ReadTrackInformation(2));
  EXPECT_EQ(Dev->TrackInfo.NextWritable, 0x12345u);
}

TEST_F(CommandTest, LastTrackNumberComesFromTheDiscInformation) {
  Bytes info(34, 0);
  info[1] = 0x20;
  info[6] = 3;
  Drive->Script(0x51, Answer::Good(info));
  Drive->Script(0x51, Answer::Check(2, 0x3A, 0));
  EXPECT_EQ(Dev->GetLastTrackNumber(), 3);
  EXPECT_EQ(Dev->GetLastTrackNumber(), 0);  // no disc
}

TEST_F(CommandTest, BufferCapacityIsStoredInHostOrder) {
  Bytes reply(12, 0);
  reply[1] = 10;
  reply[4] = 0x00, reply[5] = 0x20, reply[6] = 0x00, reply[7] = 0x00;  // 2 MiB
  reply[8] = 0x00, reply[9] = 0x0F, reply[10] = 0x12, reply[11] = 0x34;
  Drive->Script(0x5C, Answer::Good(reply));
  ASSERT_TRUE(Dev->ReadBufferCapacity());
  EXPECT_EQ(Dev->BufferLength, 0x200000u);
  EXPECT_EQ(Dev->BufferFree, 0x0F1234u);
}

// --- Selection -----------------------------------------------------------------

TEST(SelectionTest, IndexOutsideTheListChangesNothing) {
  auto os = std::make_unique<FakeOSLayer>();
  FakeOSLayer* fake = os.get();
  auto drive = fake->AddOptical("/dev/sr0", Addr(3)).Drive;
  TSCSIDevice dev(std::move(os));
  ASSERT_TRUE(dev.FindDevices());
  ASSERT_TRUE(dev.SelectDevice(0));
  drive->Log.clear();
  EXPECT_FALSE(dev.SelectDevice(1));
  EXPECT_FALSE(dev.SelectDevice(255));
  EXPECT_EQ(dev.SelectedIndex, 0);
  EXPECT_EQ(dev.HaId, 3);
  EXPECT_TRUE(drive->Log.empty());
}

TEST(SelectionTest, DriveWithoutInquiryIsSelectedAllTheSame) {
  auto os = std::make_unique<FakeOSLayer>();
  FakeOSLayer* fake = os.get();
  fake->AddOptical("/dev/sr0", Addr(0));
  auto mute = fake->AddOptical("/dev/sr1", Addr(5, 1)).Drive;
  TSCSIDevice dev(std::move(os));
  ASSERT_TRUE(dev.FindDevices());
  mute->Always(0x12, Answer::Check(5, 0x20, 0));
  mute->Log.clear();
  EXPECT_FALSE(dev.SelectDevice(1));
  EXPECT_EQ(dev.SelectedIndex, 1);
  EXPECT_EQ(dev.HaId, 5);
  EXPECT_EQ(dev.Target, 1);
  // INQUIRY, then the capabilities page all the same.
  ASSERT_GE(mute->Log.size(), 2u);
  EXPECT_EQ(mute->Log[0].Cdb[0], 0x12);
  EXPECT_EQ(mute->Log[1].Cdb[0], 0x5A);
  EXPECT_TRUE(dev.TestUnitReady());
  EXPECT_EQ(mute->Log.back().Cdb[0], 0x00);
}

TEST(SelectionTest, SelectionReadsIdentityAndMovesToTheNewNode) {
  auto os = std::make_unique<FakeOSLayer>();
  FakeOSLayer* fake = os.get();
  auto a = fake->AddOptical("/dev/sr0", Addr(0)).Drive;
  auto b = fake->AddOptical("/dev/sr1", Addr(1)).Drive;
  b->Vendor = "PLEXTOR ";
  b->Product = "DVDR   PX-716A  ";
  TSCSIDevice dev(std::move(os));
  ASSERT_TRUE(dev.FindDevices());
  ASSERT_TRUE(dev.SelectDevice(0));
  ASSERT_EQ(fake->OpenHandles.size(), 1u);
  EXPECT_EQ(fake->OpenHandles.begin()->second, "/dev/sr0");
  ASSERT_TRUE(dev.SelectDevice(1));
  ASSERT_EQ(fake->OpenHandles.size(), 1u);
  EXPECT_EQ(fake->OpenHandles.begin()->second, "/dev/sr1");
  EXPECT_STREQ(dev.Vendor, "PLEXTOR ");
  EXPECT_STREQ(dev.Product, "DVDR   PX-716A  ");
  ASSERT_NE(dev.SelectedEntry(), nullptr);
  EXPECT_STREQ(dev.SelectedEntry()->Path, "/dev/sr1");
}

// --- Capabilities ----------------------------------------------------------------

// A MODE SENSE(10) reply with page 2Ah, optionally behind a block descriptor.
Bytes CapabilitiesReply(bool blockDescriptor, std::uint16_t maxRead, std::uint16_t maxWrite, std::uint16_t curWrite) {
  std::size_t at = blockDescriptor ? 16 : 8;
  Bytes r(at + 64, 0);
  r[1] = static_cast<std::uint8_t>(r.size() - 2);
  if (blockDescriptor) r[7] = 8;
  Bytes page(64, 0);
  page[0] = 0x2A;
  page[1] = 0x3E;
  page[4] = 0x01;  // BUF
  page[8] = maxRead >> 8, page[9] = maxRead & 0xFF;
  page[12] = 0x08, page[13] = 0x00;  // 2048 KB buffer
  page[14] = 0x10, page[15] = 0x89;
  page[18] = maxWrite >> 8, page[19] = maxWrite & 0xFF;
  page[20] = curWrite >> 8, page[21] = curWrite & 0xFF;
  std::copy(page.begin(), page.end(), r.begin() + static_cast<std::ptrdiff_t>(at));
  return r;
}

std::uint16_t HostWord(const std::array<std::uint8_t, 72>& page, std::size_t at) {
  std::uint16_t v = 0;
  std::memcpy(&v, &page[at], 2);
  return v;
}

TEST_F(CommandTest, CapabilitiesWithoutBlockDescriptor) {
  Drive->Script(0x5A, Answer::Good(CapabilitiesReply(false, 8467, 7056, 1764)));  // defaults
  Drive->Script(0x5A, Answer::Good(CapabilitiesReply(false, 4234, 3528, 706)));   // current
  ASSERT_TRUE(Dev->ReadCapabilities());
  // Speeds from the default page, rounded up to multiples of 176.46 kB/s.
  EXPECT_EQ(Dev->MaxReadSpeed, 48);
  EXPECT_EQ(Dev->MaxWriteSpeed, 40);
  // The page itself is the current one, words in host order.
  EXPECT_EQ(Dev->Capabilities[0], 0x2A);
  EXPECT_EQ(HostWord(Dev->Capabilities, 8), 4234);
  EXPECT_EQ(HostWord(Dev->Capabilities, 12), 2048);
  EXPECT_EQ(HostWord(Dev->Capabilities, 14), 0x1089);
  EXPECT_EQ(HostWord(Dev->Capabilities, 18), 3528);
  EXPECT_EQ(HostWord(Dev->Capabilities, 20), 706);
  auto senses = Drive->Commands(0x5A);
  ASSERT_EQ(senses.size(), 2u);
  EXPECT_EQ(senses[0].Cdb[2], 0xAA);
  EXPECT_EQ(senses[1].Cdb[2], 0x2A);
  EXPECT_EQ(senses[0].DataLength, 128u);
}

TEST_F(CommandTest, CapabilitiesBehindABlockDescriptor) {
  Drive->Always(0x5A, Answer::Good(CapabilitiesReply(true, 1765, 1764, 1764)));
  ASSERT_TRUE(Dev->ReadCapabilities());
  EXPECT_EQ(Dev->MaxReadSpeed, 11);  // 1765 / 176.46 = 10.0023 -> 11
  EXPECT_EQ(Dev->MaxWriteSpeed, 10);
  EXPECT_EQ(HostWord(Dev->Capabilities, 8), 1765);
  EXPECT_EQ(Dev->Capabilities[4], 0x01);
}

TEST_F(CommandTest, CapabilitiesPageMissingOrRefused) {
  Bytes other(72, 0);
  other[8] = 0x05;
  other[16] = 0x01;
  Drive->Always(0x5A, Answer::Good(other));
  EXPECT_TRUE(Dev->ReadCapabilities());
  EXPECT_EQ(Dev->MaxReadSpeed, 0);
  EXPECT_EQ(Dev->Capabilities[0], 0);

  Drive->Always(0x5A, Answer::Check(5, 0x24, 0));
  EXPECT_FALSE(Dev->ReadCapabilities());
  EXPECT_EQ(Dev->MaxWriteSpeed, 0);
  EXPECT_EQ(Drive->Commands(0x5A).size(), 3u);  // the refused defaults are not followed by the current values
}

// --- Medium type -----------------------------------------------------------------

Bytes Profile(std::uint16_t profile) {
  Bytes r(16, 0);
  r[3] = 12;
  r[6] = static_cast<std::uint8_t>(profile >> 8);
  r[7] = static_cast<std::uint8_t>(profile);
  return r;
}

TEST_F(CommandTest, MediumTypeFromTheCurrentProfile) {
  const std::pair<std::uint16_t, std::uint8_t> map[] = {
      {0x0008, 1}, {0x0009, 2}, {0x000A, 3}, {0x0010, 4}, {0x0011, 5}, {0x0012, 6}, {0x0013, 8}, {0x0014, 9},
      {0x001A, 10}, {0x001B, 11}, {0x0020, 12}, {0x0021, 13}, {0x0022, 14}, {0x0015, 0}, {0x0000, 0}, {0x0040, 0}};
  for (auto [profile, medium] : map) {
    SCOPED_TRACE(profile);
    Drive->Always(0x46, Answer::Good(Profile(profile)));
    EXPECT_EQ(Dev->GetMediumType(), medium);
  }
  std::uint16_t inPlace = 0;
  std::memcpy(&inPlace, &Dev->Configuration[6], 2);
  EXPECT_EQ(inPlace, 0x0040);
  EXPECT_EQ(Drive->Commands(0x43).size(), 0u);  // no fallback was needed
}

Bytes Atip(std::uint8_t byte6) {
  Bytes r(28, 0);
  r[1] = 26;
  r[6] = byte6;
  return r;
}

TEST_F(CommandTest, MediumTypeFallsBackToTheAtip) {
  Drive->Always(0x46, Answer::Check(5, 0x20, 0));
  const std::pair<std::uint8_t, std::uint8_t> map[] = {{0xC0, 3}, {0x80, 2}, {0x00, 1}, {0x40, 1}, {0x87, 2}};
  for (auto [byte6, medium] : map) {
    SCOPED_TRACE(byte6);
    Drive->Always(0x43, Answer::Good(Atip(byte6)));
    EXPECT_EQ(Dev->GetMediumType(), medium);
  }
  auto toc = Drive->Commands(0x43);
  ASSERT_FALSE(toc.empty());
  EXPECT_EQ(toc[0].Cdb, (Bytes{0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 30, 0}));
}

TEST_F(CommandTest, MediumTypeFallsBackToTheDiscInformationThenTestUnitReady) {
  Drive->Always(0x46, Answer::Check(5, 0x20, 0));
  Drive->Always(0x43, Answer::Check(5, 0x24, 0));
  Bytes info(34, 0);
  info[2] = 0x10;  // erasable
  Drive->Always(0x51, Answer::Good(info));
  EXPECT_EQ(Dev->GetMediumType(), cv::mtCDRW);
  info[2] = 0x0E;
  Drive->Always(0x51, Answer::Good(info));
  EXPECT_EQ(Dev->GetMediumType(), cv::mtCDR);

  Drive->Always(0x51, Answer::Check(2, 0x3A, 0));
  EXPECT_EQ(Dev->GetMediumType(), cv::mtCDROM);  // the drive is ready
  Drive->Always(0x00, Answer::Check(2, 0x3A, 0));
  EXPECT_EQ(Dev->GetMediumType(), cv::mtNone);
}

// --- Write parameters --------------------------------------------------------------

// A MODE SENSE(10) reply with page 05h of the given length at offset 8 or
// 16; the page's own bytes are a pattern so that what is kept shows.
Bytes WritePageReply(bool blockDescriptor, std::uint8_t pageLength, std::uint8_t pageCode = 0x05) {
  std::size_t at = blockDescriptor ? 16 : 8;
  Bytes r(512, 0);
  std::size_t end = at + pageLength + 2;
  r[0] = static_cast<std::uint8_t>((end - 2) >> 8);
  r[1] = static_cast<std::uint8_t>(end - 2);
  r[2] = 0x00;
  r[6] = 0;
  r[7] = blockDescriptor ? 8 : 0;
  if (blockDescriptor)
    for (std::size_t i = 8; i < 16; ++i) r[i] = static_cast<std::uint8_t>(0xB0 + i);
  for (std::size_t i = at; i < end; ++i) r[i] = static_cast<std::uint8_t>(0x60 + (i - at));
  r[at] = pageCode;
  r[at + 1] = pageLength;
  return r;
}

TEST_F(CommandTest, WriteParametersWithoutBlockDescriptor) {
  Bytes sensed = WritePageReply(false, 0x32);
  Drive->Always(0x5A, Answer::Good(sensed));
  ASSERT_TRUE(Dev->SetWriteParameters(false, false, false, cv::mtCDRW));

  auto sense = Drive->Commands(0x5A);
  ASSERT_EQ(sense.size(), 1u);
  EXPECT_EQ(sense[0].Cdb, (Bytes{0x5A, 0, 0x05, 0, 0, 0, 0, 0x02, 0x00, 0}));
  auto select = Drive->Commands(0x55);
  ASSERT_EQ(select.size(), 1u);
  EXPECT_EQ(select[0].Cdb, (Bytes{0x55, 0x10, 0, 0, 0, 0, 0, 0, 60, 0}));
  const Bytes& sent = select[0].DataOut;
  ASSERT_EQ(sent.size(), 60u);
  EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + 8, sensed.begin()));  // header as sensed
  Bytes page(sent.begin() + 8, sent.end());
  Bytes expected(52, 0);
  expected[0] = 0x05, expected[1] = 0x32;
  expected[2] = 0x10, expected[3] = 0x40, expected[4] = 0x80;
  expected[14] = 0x00, expected[15] = 0x96;
  expected[50] = sensed[8 + 50], expected[51] = sensed[8 + 51];  // the drive's last two bytes
  EXPECT_EQ(page, expected);
  EXPECT_EQ(Dev->WritePage[1], 0x32);
}

TEST_F(CommandTest, WriteParametersBehindABlockDescriptor) {
  Bytes sensed = WritePageReply(true, 0x32);
  Drive->Always(0x5A, Answer::Good(sensed));
  ASSERT_TRUE(Dev->SetWriteParameters(false, false, false, cv::mtDVDR));
  auto select = Drive->Commands(0x55);
  ASSERT_EQ(select.size(), 1u);
  const Bytes& sent = select[0].DataOut;
  ASSERT_EQ(sent.size(), 68u);  // 8 more for the descriptor
  EXPECT_TRUE(std::equal(sent.begin(), sent.begin() + 16, sensed.begin()));  // header and descriptor as sensed
  EXPECT_EQ((Bytes(sent.begin() + 16, sent.begin() + 22)), (Bytes{0x05, 0x32, 0x04, 0x57, 0x80, 0x10}));
  EXPECT_EQ(sent[16 + 13], 0x10);
  EXPECT_EQ(sent[16 + 14], 0x00);
  EXPECT_EQ(sent[16 + 15], 0x96);
  EXPECT_EQ(sent[66], sensed[66]);
  EXPECT_EQ(sent[67], sensed[67]);
}

TEST_F(CommandTest, WriteParametersByMediumAndOption) {
  struct Case {
    std::uint8_t Medium;
    bool TestWrite, Underrun, MultiSession, LinkSize;
    Bytes B2to5;
    std::uint8_t B13;
  };
  const Case cases[] = {
      {cv::mtCDR, false, false, false, false, {0x10, 0x40, 0x80, 0x00}, 0x00},
      {cv::mtNone, false, false, false, false, {0x10, 0x40, 0x80, 0x00}, 0x00},
      {cv::mtDDCDROM, false, false, false, false, {0x10, 0x40, 0x80, 0x00}, 0x00},
      {7, false, false, false, false, {0x20, 0x50, 0x80, 0x00}, 0x00},
      {cv::mtDDCDRW, false, false, false, false, {0x20, 0x50, 0x80, 0x00}, 0x00},
      {cv::mtDVDRWRestricted, false, false, false, false, {0x24, 0x57, 0x80, 0x10}, 0x10},
      {cv::mtDVDRWSequential, false, false, false, false, {0x24, 0x57, 0x80, 0x10}, 0x10},
      {cv::mtDVDPlusRW, false, false, false, false, {0x24, 0x44, 0x80, 0x10}, 0x10},
      {cv::mtDVDPlusR, false, false, false, false, {0x24, 0x44, 0x80, 0x10}, 0x10},
      {cv::mtCDRW, true, false, false, false, {0x18, 0x40, 0x80, 0x00}, 0x00},
      {cv::mtCDRW, false, false, true, false, {0x10, 0x43, 0x80, 0x00}, 0x00},
      {cv::mtCDRW, true, false, true, false, {0x18, 0x40, 0x80, 0x00}, 0x00},  // test write: no multi-session
      {cv::mtCDRW, false, true, false, false, {0x12, 0x40, 0x80, 0x00}, 0x00},  // drive has BUF
      {cv::mtCDRW, false, false, false, true, {0x14, 0x40, 0x80, 0x00}, 0x00},
      {cv::mtDVDPlusRW, false, false, true, false, {0x24, 0x47, 0x80, 0x10}, 0x10},
  };
  Drive->Always(0x5A, Answer::Good(WritePageReply(false, 0x32)));
  Dev->Capabilities[4] = 0x01;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.Medium) << c.TestWrite << c.Underrun << c.MultiSession << c.LinkSize);
    Dev->LinkSizeSetting = c.LinkSize;
    Drive->Log.clear();
    ASSERT_TRUE(Dev->SetWriteParameters(c.TestWrite, c.Underrun, c.MultiSession, static_cast<cv::TMediumType>(c.Medium)));
    auto select = Drive->Commands(0x55);
    ASSERT_EQ(select.size(), 1u);
    EXPECT_EQ((Bytes(select[0].DataOut.begin() + 10, select[0].DataOut.begin() + 14)), c.B2to5);
    EXPECT_EQ(select[0].DataOut[8 + 13], c.B13);
  }
  // Underrun protection needs the drive's BUF bit.
  Dev->Capabilities[4] = 0x00;
  Dev->LinkSizeSetting = false;
  ASSERT_TRUE(Dev->SetWriteParameters(false, true, false, cv::mtCDR));
  EXPECT_EQ(Dev->WritePage[2], 0x10);
}

TEST_F(CommandTest, LongDrivePageIsCopiedOnlyAsFarAsThePageImage) {
  Bytes sensed = WritePageReply(false, 0xFE);
  Drive->Always(0x5A, Answer::Good(sensed));
  ASSERT_TRUE(Dev->SetWriteParameters(false, false, false, cv::mtCDR));
  auto select = Drive->Commands(0x55);
  ASSERT_EQ(select.size(), 1u);
  const Bytes& sent = select[0].DataOut;
  ASSERT_EQ(sent.size(), 8u + 0xFE + 2);
  EXPECT_TRUE(std::equal(sent.begin() + 8, sent.begin() + 8 + 72, Dev->WritePage.begin()));
  EXPECT_TRUE(std::equal(sent.begin() + 8 + 72, sent.end(), sensed.begin() + 8 + 72));
}

TEST_F(CommandTest, ShortDrivePageKeepsItsOwnLength) {
  Bytes sensed = WritePageReply(false, 0x0A);  // pause length lies beyond this page
  Drive->Always(0x5A, Answer::Good(sensed));
  ASSERT_TRUE(Dev->SetWriteParameters(false, false, false, cv::mtCDR));
  const Bytes sent = Drive->Commands(0x55).at(0).DataOut;
  ASSERT_EQ(sent.size(), 8u + 12);
  EXPECT_EQ(sent[8 + 10], sensed[8 + 10]);
  EXPECT_EQ(sent[8 + 11], sensed[8 + 11]);
}

TEST_F(CommandTest, WriteParametersPageWithThePSBitIsFoundAfterTheHeader) {
  Bytes sensed = WritePageReply(false, 0x32, 0x85);
  Drive->Always(0x5A, Answer::Good(sensed));
  ASSERT_TRUE(Dev->SetWriteParameters(false, false, false, cv::mtCDR));
  const Bytes sent = Drive->Commands(0x55).at(0).DataOut;
  ASSERT_EQ(sent.size(), 60u);
  EXPECT_EQ(sent[8], 0x05);  // PS is not sent back
}

TEST_F(CommandTest, WriteParametersAreNotSentWithoutThePage) {
  Drive->Always(0x5A, Answer::Good(WritePageReply(true, 0x32, 0x2A)));
  EXPECT_FALSE(Dev->SetWriteParameters(false, false, false, cv::mtCDR));
  Drive->Always(0x5A, Answer::Check(5, 0x24, 0));
  EXPECT_FALSE(Dev->SetWriteParameters(false, false, false, cv::mtCDR));
  EXPECT_TRUE(Drive->Commands(0x55).empty());
}

TEST_F(CommandTest, WriteParametersAnswerWhatModeSelectAnswers) {
  Drive->Always(0x5A, Answer::Good(WritePageReply(false, 0x32)));
  Drive->Always(0x55, Answer::Check(5, 0x26, 0));
  EXPECT_FALSE(Dev->SetWriteParameters(false, false, false, cv::mtCDR));
  EXPECT_EQ(Dev->LastSenseCode, 0x2600);
}

}  // namespace
