// Fuzz target of the Ogg Opus reader and the Ogg page walk: any bytes as a
// whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvOggPages.h"
#include "formats/cvOpusFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  cv::TOpusFile reader;
  const bool read = reader.ReadFileInfo(bytes);
  if (!read && reader.Valid) __builtin_trap();
  (void)reader.DurationSectors();
  cv::TMemoryByteSource source(bytes);
  const cv::TOggWalk walk = cv::WalkOggStream(source, 0);
  if (walk.Whole && walk.Pages == 0) __builtin_trap();
  return 0;
}
