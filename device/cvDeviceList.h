// The device list as reports show it: one line per drive (its index and
// list text), or a JSON array with the address, identity, node and
// transport of each drive. Used by `corvid-burn devices`.
// Threads: reads the device object; call it where the object is driven.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "device/cvSCSILib.h"

namespace cv {

// "<index> <text>\n" per listed drive, in list order (" (unavailable:
// <why>)" before the newline of a drive that did not answer), then
// "- <path>: <why>\n" per optical node that could not be opened.
std::string DeviceListText(const TSCSIDevice& device);

// [{"index", "text", "path", "host", "target", "lun", "vendor", "product",
//   "revision", "transport"}...]; vendor, product and revision trimmed of
// blanks; transport "pass-through", "generic" or "virtual"; "error" (why)
// on a drive that did not answer. Then one {"path", "transport", "error"}
// per optical node that could not be opened (no index: not selectable).
nlohmann::json DeviceListJson(const TSCSIDevice& device);

}  // namespace cv
