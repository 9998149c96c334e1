// corvid-burn devices [--json]: the CD/DVD drives found, the virtual
// recorder last.
#include <iostream>
#include <memory>

#include "app/cli/cli.h"
#include "device/cvDeviceList.h"
#include "device/cvSCSILib.h"

namespace {

int ListDevices(bool json) {
  auto device = std::make_unique<cv::TSCSIDevice>();
  // False only means that no transport is usable: then the list is empty,
  // which is an answer, not an error.
  device->FindDevices();
  if (json)
    std::cout << cv::DeviceListJson(*device).dump(2) << '\n';
  else
    std::cout << cv::DeviceListText(*device);
  return std::cout.good() ? cli::kExitOk : cli::Fail("cannot write the device list");
}

cli::Registrar reg{{"devices", "List the CD/DVD drives", 10, [](CLI::App& sub) -> cli::Runner {
                      auto json = std::make_shared<bool>(false);
                      sub.add_flag("--json", *json, "Print a JSON array");
                      return [json] { return ListDevices(*json); };
                    }}};

}  // namespace
