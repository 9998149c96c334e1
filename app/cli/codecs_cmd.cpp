// corvid-burn codecs [--json]: the codec drivers built in, the format tags
// each reports, and the kinds of file the decoder can therefore decode
// (SupportedKinds).
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/cli.h"
#include "decode/cvACM.h"
#include "decode/cvAudFiles.h"

namespace {

using nlohmann::json;
using namespace cv;

std::string Hex(uint32_t v, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, v);
  return text;
}

json Drivers() {
  json drivers = json::array();
  acmDriverEnum(
      [&](HACMDRIVERID id, uintptr_t, uint32_t support) {
        ACMDRIVERDETAILS details;
        details.cbStruct = sizeof details;
        if (acmDriverDetails(id, &details, 0) != MMSYSERR_NOERROR) return true;
        json tags = json::array();
        HACMDRIVER driver = nullptr;
        if (acmDriverOpen(&driver, id, 0) == MMSYSERR_NOERROR) {
          for (uint32_t i = 0; i < details.cFormatTags; ++i) {
            ACMFORMATTAGDETAILS tag;
            tag.cbStruct = sizeof tag;
            tag.dwFormatTagIndex = i;
            if (acmFormatTagDetails(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) != MMSYSERR_NOERROR) continue;
            tags.push_back({{"tag", tag.dwFormatTag}, {"hex", Hex(tag.dwFormatTag, 4)}, {"name", tag.szFormatTag}});
          }
          acmDriverClose(driver, 0);
        }
        json kinds = json::array();
        if (support & ACMDRIVERDETAILS_SUPPORTF_CODEC) kinds.push_back("codec");
        if (support & ACMDRIVERDETAILS_SUPPORTF_CONVERTER) kinds.push_back("converter");
        drivers.push_back({{"name", details.szShortName},
                           {"long_name", details.szLongName},
                           {"support", kinds},
                           {"format_tags", tags}});
        return true;
      },
      0, 0);
  return drivers;
}

int Codecs(bool asJson) {
  TAudioFile probe("");
  json names = json::array();
  for (TAudioFileKind k : kAudioFileKinds)
    if (HasKind(probe.SupportedKinds, k)) names.push_back(AudioFileKindName(k));
  json drivers = Drivers();
  if (asJson) {
    std::cout << json{{"drivers", drivers},
                      {"supported_kinds", probe.SupportedKinds},
                      {"supported", names}}
                     .dump(2)
              << '\n';
    return cli::kExitOk;
  }
  for (const auto& d : drivers) {
    std::string line = d["name"].get<std::string>() + "\t" + d["long_name"].get<std::string>() + "\t";
    bool first = true;
    for (const auto& t : d["format_tags"]) {
      line += (first ? "" : ", ") + t["hex"].get<std::string>() + " " + t["name"].get<std::string>();
      first = false;
    }
    std::cout << line << '\n';
  }
  std::string kinds;
  for (const auto& n : names) kinds += " " + n.get<std::string>();
  std::cout << "SupportedKinds " << Hex(probe.SupportedKinds, 4) << ":" << kinds << '\n';
  return cli::kExitOk;
}

cli::Registrar reg{{"codecs", "List the codec drivers, their format tags and the kinds they decode", 40,
                    [](CLI::App& sub) -> cli::Runner {
                      auto json = std::make_shared<bool>(false);
                      sub.add_flag("--json", *json, "Print JSON");
                      return [json] { return Codecs(*json); };
                    }}};

}  // namespace
