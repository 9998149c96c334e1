// Fuzz target of the M3U and PLS readers: the first byte picks the reader
// (M3U, M3U8 or PLS), the rest is the list.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "formats/cvPlaylist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::vector<cv::TPlaylistEntry> entries;
  cv::TListError error;
  bool read = false;
  switch (data[0] % 3) {
    case 0: read = cv::ParseM3U(text, false, "fuzz.m3u", entries, error); break;
    case 1: read = cv::ParseM3U(text, true, "fuzz.m3u8", entries, error); break;
    default: read = cv::ParsePLS(text, "fuzz.pls", entries, error); break;
  }
  if (!read) {
    if (error.Message.empty() || !entries.empty() || error.Line < 0) __builtin_trap();
    return 0;
  }
  if (entries.empty()) __builtin_trap();
  for (const cv::TPlaylistEntry& e : entries)
    if (e.Location.empty() || e.Line <= 0 || e.Location.size() > size) __builtin_trap();
  return 0;
}
