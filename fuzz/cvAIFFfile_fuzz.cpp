// Fuzz target of the AIFF/AIFF-C reader: any bytes as a whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvAIFFfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cv::TAIFFfile reader;
  const bool read = reader.ReadFileInfo(std::span<const uint8_t>(data, size));
  if (!read && reader.Valid) __builtin_trap();
  if (reader.Valid) {
    // The sample data lies inside the file, and so do the frames counted.
    if (reader.DataOffset < 0 || reader.DataSize < 0 || reader.DataOffset + reader.DataSize > int64_t(size))
      __builtin_trap();
    if (reader.Frames() * reader.BytesPerSample() * reader.ChannelCount > uint64_t(reader.DataSize))
      __builtin_trap();
  }
  (void)reader.DurationSectors();
  return 0;
}
