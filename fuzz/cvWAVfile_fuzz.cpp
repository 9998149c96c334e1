// Fuzz target of the WAV header reader: any bytes as a whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvWAVfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cv::TWAVfile reader;
  const bool read = reader.ReadFileInfo(std::span<const uint8_t>(data, size));
  const int32_t sectors = reader.DurationSectors();
  // The samples the reader points at lie inside the file.
  if (reader.Valid && (reader.HeaderSize > size || reader.DataSize > size - reader.HeaderSize)) __builtin_trap();
  if (!read && (reader.Valid || sectors != 0)) __builtin_trap();
  return 0;
}
