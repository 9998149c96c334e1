#include "formats/cvReadFile.h"

#include <algorithm>
#include <cstring>

namespace cv {
namespace {
constexpr size_t kWindowSize = 64 * 1024;
}

bool TReadFile::Fill(int64_t Offset) {
  if (window_.size() != kWindowSize) window_.assign(kWindowSize, 0);
  const size_t want = static_cast<size_t>(std::min<int64_t>(kWindowSize, size_ - Offset));
  windowStart_ = Offset;
  windowLength_ = source_.ReadAt(Offset, std::span<uint8_t>(window_.data(), want));
  return windowLength_ > 0;
}

size_t TReadFile::ReadAt(int64_t Offset, void* Dest, size_t Count) {
  if (Offset < 0 || Offset >= size_ || Count == 0) return 0;
  auto* out = static_cast<uint8_t*>(Dest);
  size_t done = 0;
  while (done < Count) {
    const int64_t pos = Offset + static_cast<int64_t>(done);
    if (pos >= size_) break;
    const bool inWindow = windowStart_ >= 0 && pos >= windowStart_ &&
                          pos < windowStart_ + static_cast<int64_t>(windowLength_);
    if (!inWindow && !Fill(pos)) break;
    const size_t at = static_cast<size_t>(pos - windowStart_);
    const size_t n = std::min(Count - done, windowLength_ - at);
    std::memcpy(out + done, window_.data() + at, n);
    done += n;
  }
  return done;
}

std::vector<uint8_t> TReadFile::ReadZeroFilled(int64_t Offset, size_t Count) {
  std::vector<uint8_t> buffer(Count, 0);
  ReadAt(Offset, buffer.data(), Count);
  return buffer;
}

int64_t LeadingID3v2Size(TReadFile& File) {
  uint8_t h[10] = {};
  if (File.ReadAt(0, h, 10) != 10 || h[0] != 'I' || h[1] != 'D' || h[2] != '3') return 0;
  if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
  int64_t size = (int64_t{h[6]} << 21) + (int64_t{h[7]} << 14) + (int64_t{h[8]} << 7) + h[9] + 10;
  if (h[5] & 0x10) size += 10;
  return size <= File.Size() ? size : 0;
}

}  // namespace cv
