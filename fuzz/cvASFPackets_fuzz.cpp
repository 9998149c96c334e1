// Fuzz target for the ASF packet parser: the bytes are fed in slices whose
// sizes come from the input itself, and every object handed out must lie
// within the bounds the parser promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "decode/cvASFPackets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the slice size (1 .. 4096 bytes).
  const size_t slice = 1 + size_t(data[0]) * 16;
  cv::TASFPackets parser;
  size_t total = 0;
  auto sink = [&](std::span<const uint8_t> object) {
    if (object.empty() || object.size() > cv::TASFPackets::kMaxObject) std::abort();
    // Touch every byte so that the sanitizer sees any bad view.
    for (uint8_t b : object) total += b;
  };
  for (size_t pos = 1; pos < size; pos += slice) {
    size_t n = size - pos < slice ? size - pos : slice;
    parser.Feed({data + pos, n}, sink);
  }
  parser.Finish(sink);
  if (parser.Ready() && parser.PacketSize() == 0) std::abort();
  // Kept where the compiler must store it, so the sum cannot be dropped.
  static volatile size_t keep;
  keep = keep + total;
  return 0;
}
