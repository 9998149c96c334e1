// Fuzz target of the WMA (ASF) header reader: any bytes as a whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvWMAfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cv::TWMAfile reader;
  const bool read = reader.ReadFileInfo(std::span<const uint8_t>(data, size));
  if (!read && reader.Valid) __builtin_trap();
  // Every kept tag is at most 250 UTF-16 units, at most 3 UTF-8 bytes each.
  for (const auto* tag : {&reader.Title, &reader.Artist, &reader.Album, &reader.Year, &reader.Genre, &reader.Comment})
    if (tag->size() > 750) __builtin_trap();
  return 0;
}
