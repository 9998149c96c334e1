// Fuzz target of the MPEG frame walk behind the exact MP3 length: any
// bytes as a whole file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "formats/cvMPEGFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  cv::TMemoryByteSource source(std::span<const uint8_t>(data, size));
  const cv::TMPEGFrames count = cv::CountMPEGFrames(source);
  // An exact count never claims more frames than the bytes could hold.
  if (count.Exact && (count.Frames == 0 || count.Frames > size / 4)) __builtin_trap();
  if (!count.Exact && count.Why.empty()) __builtin_trap();
  return 0;
}
