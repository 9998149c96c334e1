#include "device/cvDeviceList.h"

namespace cv {
namespace {

std::string Trimmed(const char* text) {
  std::string s(text);
  std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  std::size_t last = s.find_last_not_of(' ');
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string DeviceListText(const TSCSIDevice& device) {
  std::string out;
  for (std::uint16_t i = 0; i < device.GetDeviceCount(); ++i) {
    const char* text = device.GetDeviceName(static_cast<std::uint8_t>(i));
    if (text == nullptr) break;
    out += std::to_string(i) + " " + text;
    if (device.Devices[i].Error[0] != '\0') out += " (unavailable: " + std::string(device.Devices[i].Error) + ")";
    out += "\n";
  }
  for (const TUnopenedNode& node : device.Unopened) out += "- " + node.Text + "\n";
  return out;
}

nlohmann::json DeviceListJson(const TSCSIDevice& device) {
  nlohmann::json list = nlohmann::json::array();
  for (std::uint16_t i = 0; i < device.GetDeviceCount() && i < device.Devices.size(); ++i) {
    const TDeviceEntry& entry = device.Devices[i];
    list.push_back({
        {"index", i},
        {"text", std::string(entry.Text)},
        {"path", std::string(entry.Path)},
        {"host", entry.HaId},
        {"target", entry.Target},
        {"lun", entry.Lun},
        {"vendor", Trimmed(entry.Vendor)},
        {"product", Trimmed(entry.Product)},
        {"revision", Trimmed(entry.Revision)},
        {"transport", TransportName(entry.Transport)},
    });
    if (entry.Error[0] != '\0') list.back()["error"] = std::string(entry.Error);
  }
  // Nodes that could not be opened: no index (nothing can select them).
  for (const TUnopenedNode& node : device.Unopened)
    list.push_back({{"path", node.Path}, {"transport", TransportName(TTransportKind::PassThrough)}, {"error", node.Text}});
  return list;
}

}  // namespace cv
