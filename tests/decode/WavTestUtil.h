// A small RIFF walk for the tests: the fmt fields and the data chunk of a
// WAV fixture, to compare the decoder's output with.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace cvtest {

struct TWav {
  bool Ok = false;
  uint16_t Tag = 0, Channels = 0, Bits = 0;
  uint32_t Rate = 0;
  std::vector<uint8_t> Data;
};

inline uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
inline uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline TWav ParseWav(const std::vector<uint8_t>& f) {
  TWav w;
  if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) || std::memcmp(f.data() + 8, "WAVE", 4)) return w;
  size_t at = 12;
  while (at + 8 <= f.size()) {
    uint32_t size = Le32(&f[at + 4]);
    size_t body = at + 8;
    size_t n = std::min<size_t>(size, f.size() - body);
    if (!std::memcmp(&f[at], "fmt ", 4) && n >= 16) {
      w.Tag = Le16(&f[body]);
      w.Channels = Le16(&f[body + 2]);
      w.Rate = Le32(&f[body + 4]);
      w.Bits = Le16(&f[body + 14]);
      if (w.Tag == 0xFFFE && n >= 26) w.Tag = Le16(&f[body + 24]);
    } else if (!std::memcmp(&f[at], "data", 4)) {
      w.Data.assign(f.begin() + std::ptrdiff_t(body), f.begin() + std::ptrdiff_t(body + n));
      w.Ok = true;
    }
    at = body + n + (n & 1);
  }
  return w;
}

}  // namespace cvtest
