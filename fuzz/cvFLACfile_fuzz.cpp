// Fuzz target of the FLAC reader and the end-of-stream search: any bytes as
// a whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvFLACfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  cv::TFLACfile reader;
  const bool read = reader.ReadFileInfo(bytes);
  if (!read && reader.Valid) __builtin_trap();
  if (reader.AudioOffset > int64_t(size)) __builtin_trap();
  (void)reader.DurationSectors();
  cv::TMemoryByteSource source(bytes);
  const int64_t end = cv::FLACEndSample(source, read ? reader.AudioOffset : 0, reader.MaxBlockSize, 4096);
  if (end < -1) __builtin_trap();
  return 0;
}
