#include "burner/cvDiscFill.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "burner/cvBurnRecord.h"
#include "burner/cvDiscLayout.h"

namespace cv {

std::int64_t BurnSectors(std::span<const TFillTrack> Tracks) {
  std::int64_t total = 0;
  bool first = true;
  for (const TFillTrack& track : Tracks) {
    total += std::max<std::int64_t>(track.LengthSectors, kMinTrackSectors);
    if (!first) total += std::max<std::int32_t>(track.PauseSectors, 0);
    first = false;
  }
  return total;
}

std::int64_t SessionAtOnceSectors(std::span<const TFillTrack> Tracks) {
  if (Tracks.empty()) return 0;
  std::vector<TLayoutInput> inputs;
  inputs.reserve(Tracks.size());
  for (const TFillTrack& track : Tracks) {
    TLayoutInput input;
    input.Samples = track.Samples > 0 ? track.Samples
                                      : std::int64_t{std::max<std::int32_t>(track.LengthSectors, 0)} * kSamplesPerSector;
    input.PauseSectors = inputs.empty() ? 0 : static_cast<std::uint16_t>(std::clamp(track.PauseSectors, 0, 0xFFFF));
    inputs.push_back(input);
  }
  TLayoutOptions options;
  options.CDText = false;
  return LayOutDisc(inputs, options).LeadOut;
}

std::int32_t SessionOverheadSectors(std::int32_t ClosedSessions) {
  if (ClosedSessions <= 0) return 0;
  return ClosedSessions == 1 ? 6750 + 4500 + 150 : 2250 + 4500 + 150;
}

TDiscFill FillOf(std::int64_t Needed, std::int32_t FreeSectors) {
  TDiscFill fill;
  fill.Needed = std::max<std::int64_t>(Needed, 0);
  if (FreeSectors >= 0) {
    fill.Capacity = FreeSectors;
    fill.DiscRead = true;
  } else {
    fill.Capacity = fill.Needed <= kBlank74Sectors ? kBlank74Sectors : kBlank80Sectors;
  }
  return fill;
}

std::string SecondsText(std::int64_t Seconds) {
  const std::int64_t s = std::max<std::int64_t>(Seconds, 0);
  char text[48];
  if (s >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                  static_cast<long long>((s / 60) % 60), static_cast<long long>(s % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
  return text;
}

std::string MinutesSecondsText(std::int64_t Sectors) {
  // Minutes beyond an hour stay minutes for disc sizes (an 80-minute disc
  // reads 80:00), as disc sizes are given in minutes.
  const std::int64_t s = std::max<std::int64_t>(Sectors, 0) / kSectorsPerSecond;
  char text[48];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
  return text;
}

std::string FillText(const TDiscFill& Fill) {
  std::string text = MinutesSecondsText(Fill.Needed) + " of ";
  if (Fill.DiscRead)
    text += MinutesSecondsText(Fill.Capacity) + " free";
  else
    text += "a " + std::to_string(Fill.Capacity / (60 * kSectorsPerSecond)) + "-minute CD";
  text += " (m:ss)";
  if (Fill.Fits())
    text += ", " + MinutesSecondsText(Fill.Left()) + " left";
  else
    text += ": " + MinutesSecondsText(Fill.Over() + kSectorsPerSecond - 1) + " too long";
  return text;
}

}  // namespace cv
