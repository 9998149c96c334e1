// The device list reports over a discovered set of drives.
#include "device/cvDeviceList.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/device/cvFakeOSLayer.h"

namespace {

using cvtest::Addr;
using cvtest::FakeOSLayer;

std::unique_ptr<cv::TSCSIDevice> Discovered(std::function<void(FakeOSLayer&)> setup) {
  auto os = std::make_unique<FakeOSLayer>();
  setup(*os);
  FakeOSLayer* fake = os.get();
  auto device = std::make_unique<cv::TSCSIDevice>(std::move(os), cvtest::RecorderSources(*fake));
  device->FindDevices();
  return device;
}

TEST(DeviceListTest, JsonCarriesEveryFieldWithTrimmedIdentity) {
  auto device = Discovered([](FakeOSLayer& os) {
    auto drive = os.AddOptical("/dev/sr0", Addr(1, 2, 3)).Drive;
    drive->Vendor = "HL-DT-ST";
    drive->Product = "DVDRAM GH24NSD1 ";
    drive->Revision = "LG00";
    os.Recorder = std::make_shared<cvtest::ScriptedDrive>();
    os.Recorder->Vendor = "CORVID  ";
    os.Recorder->Product = "VIRTUAL RECORDER";
  });
  nlohmann::json list = cv::DeviceListJson(*device);
  ASSERT_TRUE(list.is_array());
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0], nlohmann::json::parse(R"({
      "index": 0, "text": "1:2:3,/dev/sr0: HL-DT-ST DVDRAM GH24NSD1  LG00 ", "path": "/dev/sr0",
      "host": 1, "target": 2, "lun": 3, "vendor": "HL-DT-ST", "product": "DVDRAM GH24NSD1",
      "revision": "LG00", "transport": "pass-through"})"));
  EXPECT_EQ(list[1]["index"], 1);
  EXPECT_EQ(list[1]["host"], 2);
  EXPECT_EQ(list[1]["path"], "virtual");
  EXPECT_EQ(list[1]["vendor"], "CORVID");
  EXPECT_EQ(list[1]["transport"], "virtual");
}

TEST(DeviceListTest, DriveWithoutIdentityHasEmptyStrings) {
  auto device = Discovered([](FakeOSLayer& os) {
    os.AddGeneric("/dev/sg4", cvtest::SgId(0, 1)).Drive->Script(0x12, cvtest::Answer::Good(std::vector<std::uint8_t>(64, 0)));
    os.AddGeneric("/dev/sg5", cvtest::SgId(0, 2));
  });
  nlohmann::json list = cv::DeviceListJson(*device);
  ASSERT_EQ(list.size(), 1u);  // sg4 reports peripheral type 0 and is no CD/DVD unit
  EXPECT_EQ(list[0]["path"], "/dev/sg5");
  EXPECT_EQ(list[0]["transport"], "generic");
}

TEST(DeviceListTest, TextIsOneLinePerDriveWithItsIndex) {
  auto device = Discovered([](FakeOSLayer& os) {
    os.AddOptical("/dev/sr0", Addr(0));
    os.AddOptical("/dev/sr1", std::nullopt);
  });
  EXPECT_EQ(cv::DeviceListText(*device),
            "0 0:0:0,/dev/sr0: VENDOR   PRODUCT          1.00 \n"
            "1 1:0:0,/dev/sr1: VENDOR   PRODUCT          1.00 \n");
}

TEST(DeviceListTest, ANodeThatWouldNotOpenAndAHeldRecorderAreShownWithTheirReasons) {
  auto device = Discovered([](FakeOSLayer& os) {
    auto& node = os.AddOptical("/dev/sr0", Addr(0));
    node.OpensReadWrite = node.OpensReadOnly = false;
    node.Group = "cdrom";
    os.Recorder = std::make_shared<cvtest::ScriptedDrive>();
    os.Recorder->Always(0x12, cvtest::Answer::Busy());
    os.Recorder->Unavailable = "the virtual recorder is in use by another program (pid 77)";
  });
  EXPECT_EQ(cv::DeviceListText(*device),
            "0 0:0:0,virtual:                                "
            " (unavailable: the virtual recorder is in use by another program (pid 77))\n"
            "- /dev/sr0: permission denied (add your user to the group 'cdrom' that owns it)\n");
  nlohmann::json list = cv::DeviceListJson(*device);
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0]["error"], "the virtual recorder is in use by another program (pid 77)");
  EXPECT_EQ(list[1], nlohmann::json::parse(R"j({"path": "/dev/sr0", "transport": "pass-through",
      "error": "/dev/sr0: permission denied (add your user to the group 'cdrom' that owns it)"})j"));
}

TEST(DeviceListTest, NothingFoundGivesAnEmptyArray) {
  auto device = Discovered([](FakeOSLayer&) {});
  EXPECT_EQ(cv::DeviceListJson(*device).dump(), "[]");
  EXPECT_EQ(cv::DeviceListText(*device), "");
}

}  // namespace
