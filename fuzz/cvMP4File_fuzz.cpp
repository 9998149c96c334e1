// Fuzz target of the MP4 header reader: any bytes as a whole file. Every
// sample it lists lies inside the file, the trims stay inside the track, and
// the source stream the decoder builds from it has the size it announces.
#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/cvMP4Source.h"
#include "formats/cvMP4File.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cv::TMP4File reader;
  reader.ReadFileInfo(std::span<const uint8_t>(data, size));
  if (reader.SampleOffsets.size() != reader.SampleSizes.size() && reader.Valid) __builtin_trap();
  for (size_t i = 0; i < reader.SampleOffsets.size(); ++i)
    if (reader.SampleOffsets[i] > size || reader.SampleSizes[i] > size - reader.SampleOffsets[i]) __builtin_trap();
  if (reader.Valid) {
    if (reader.EncoderDelay > reader.MediaUnits || reader.PlayableUnits > reader.MediaUnits - reader.EncoderDelay)
      __builtin_trap();
    auto format = cv::MP4SourceFormat(reader, 0);
    if (!format->Complete()) __builtin_trap();
  }
  return 0;
}
