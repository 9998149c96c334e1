// A 44.1 kHz stereo 16-bit WAV file written from PCM bytes, for tests that
// need audio files of an exact length or content.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>

namespace cvtest {

inline void WriteWav(const std::filesystem::path& path, std::span<const std::uint8_t> pcm) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](std::uint32_t v) {
    const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
    out.write(b, 4);
  };
  auto u16 = [&](std::uint16_t v) {
    const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
    out.write(b, 2);
  };
  out.write("RIFF", 4);
  u32(static_cast<std::uint32_t>(36 + pcm.size()));
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(44100 * 4);
  u16(4);
  u16(16);
  out.write("data", 4);
  u32(static_cast<std::uint32_t>(pcm.size()));
  out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));
}

}  // namespace cvtest
