// Fuzz target of the Ogg Vorbis header reader: any bytes as a whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvOggVorbis.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cv::TOGGFile reader;
  const bool read = reader.ReadFileInfo(std::span<const uint8_t>(data, size));
  const bool valid = reader.IsValid();
  if (!read && valid) __builtin_trap();
  (void)reader.DurationSectors();
  (void)reader.BitRate();
  for (const auto* tag : {&reader.Title, &reader.Artist, &reader.Album, &reader.Date, &reader.Genre,
                          &reader.Comment, &reader.Vendor})
    if (tag->size() > 250) __builtin_trap();
  return 0;
}
