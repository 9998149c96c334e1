// Fuzz target of the cue sheet reader: any bytes as a sheet. An accepted
// sheet must describe tracks that can be burned as they are.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "formats/cvCueSheet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  cv::TCueSheet sheet;
  cv::TListError error;
  if (!cv::ParseCueSheet(text, "fuzz.cue", sheet, error)) {
    if (error.Message.empty() || error.Line < 0 || !sheet.Tracks.empty()) __builtin_trap();
    if (static_cast<size_t>(error.Line) > size + 1) __builtin_trap();
    return 0;
  }
  if (sheet.Tracks.empty() || sheet.Tracks.size() > 99 || sheet.Files.empty()) __builtin_trap();
  int32_t last = 0;
  for (const cv::TCueTrack& t : sheet.Tracks) {
    if (t.Number <= last || t.Number > 99 || t.File >= sheet.Files.size()) __builtin_trap();
    if (t.StartSample < 0 || t.StartSample % cv::kCueFrameSamples != 0) __builtin_trap();
    if (t.EndSample != -1 && t.EndSample <= t.StartSample) __builtin_trap();
    if (t.StartLine <= 0) __builtin_trap();
    last = t.Number;
  }
  for (const cv::TCueFile& f : sheet.Files)
    if (f.Name.empty()) __builtin_trap();
  return 0;
}
