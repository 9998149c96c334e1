// The fixtures of tests/fixtures/codecs (made by make_fixtures.sh there) and
// what the tests of the FLAC, Opus, MP4, AIFF and WAVE codec drivers share.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/decode/DecodeTestUtil.h"

namespace cvtest {

inline std::string CodecFixture(const std::string& name) {
  return std::string(CORVID_FIXTURES_DIR) + "/codecs/" + name;
}

// The bytes of the first chunk of the given id in a RIFF or FORM file
// (little-endian sizes for RIFF, big-endian for FORM).
inline std::vector<uint8_t> ChunkBody(const std::vector<uint8_t>& file, const char* id) {
  const bool big = file.size() >= 4 && std::memcmp(file.data(), "FORM", 4) == 0;
  size_t pos = 12;
  while (pos + 8 <= file.size()) {
    const uint8_t* h = file.data() + pos;
    uint32_t size = big ? (uint32_t(h[4]) << 24 | uint32_t(h[5]) << 16 | uint32_t(h[6]) << 8 | h[7])
                        : (uint32_t(h[4]) | uint32_t(h[5]) << 8 | uint32_t(h[6]) << 16 | uint32_t(h[7]) << 24);
    size = uint32_t(std::min<size_t>(size, file.size() - pos - 8));
    if (std::memcmp(h, id, 4) == 0) return {h + 8, h + 8 + size};
    pos += 8 + size + (size & 1);
  }
  return {};
}

// The 16-bit stereo samples of source.wav: what every lossless fixture holds.
inline std::vector<uint8_t> SourcePcm() { return ChunkBody(ReadFile(CodecFixture("source.wav")), "data"); }
constexpr size_t kSourceFrames = 16208;

inline cv::TFormatBlock FloatFormat(uint16_t channels, uint32_t rate) {
  return cv::TFormatBlock::Pcm(cv::WAVE_FORMAT_IEEE_FLOAT, channels, rate, 32);
}

inline std::vector<float> AsFloats(const std::vector<uint8_t>& bytes) {
  std::vector<float> v(bytes.size() / 4);
  if (!v.empty()) std::memcpy(v.data(), bytes.data(), v.size() * 4);
  return v;
}

}  // namespace cvtest
