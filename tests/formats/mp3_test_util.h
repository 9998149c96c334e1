// Builders of MPEG audio streams and ID3 tags in memory, and fixture access,
// for the header reader tests.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace cvtest {

using Bytes = std::vector<std::uint8_t>;

inline std::string FixturePath(const std::string& name) {
  return std::string(CORVID_FIXTURES_DIR) + "/mp3/" + name;
}

inline Bytes ReadFixture(const std::string& name) {
  std::ifstream in(FixturePath(name), std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Append(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }
inline void Append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }

inline void PutBE32(Bytes& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v >> 24);
  out[at + 1] = static_cast<std::uint8_t>(v >> 16);
  out[at + 2] = static_cast<std::uint8_t>(v >> 8);
  out[at + 3] = static_cast<std::uint8_t>(v);
}

// A 4-byte MPEG audio frame header. version: 0 = 2.5, 2 = 2, 3 = 1;
// layer: 1 = III, 2 = II, 3 = I; mode: 0 stereo .. 3 mono.
struct HeaderBits {
  int version = 3;
  int layer = 1;
  int bitRateIndex = 9;     // 128 kbit/s for MPEG 1 Layer III
  int sampleRateIndex = 0;  // 44100 Hz for MPEG 1
  bool padding = false;
  int mode = 1;
  int emphasis = 0;
  bool crc = false;
};

inline Bytes Header(const HeaderBits& h) {
  return {0xFF,
          static_cast<std::uint8_t>(0xE0 | (h.version << 3) | (h.layer << 1) | (h.crc ? 0 : 1)),
          static_cast<std::uint8_t>((h.bitRateIndex << 4) | (h.sampleRateIndex << 2) | (h.padding ? 2 : 0)),
          static_cast<std::uint8_t>((h.mode << 6) | h.emphasis)};
}

// Frame bytes per the MPEG audio standard (written out independently of the
// reader): Layer I is 12 * bitrate / rate slots of 4 bytes, Layer II and
// MPEG 1 Layer III 144 * bitrate / rate bytes, MPEG 2/2.5 Layer III 72 *.
inline int StandardFrameBytes(int version, int layer, int kbps, int rate, bool padding) {
  if (layer == 3) return (12 * kbps * 1000 / rate + (padding ? 1 : 0)) * 4;
  const int coefficient = (layer == 1 && version != 3) ? 72 : 144;
  return coefficient * kbps * 1000 / rate + (padding ? 1 : 0);
}

// count frames of frameBytes each: header, then filler bytes that can never
// start a header (0x55).
inline Bytes Frames(const HeaderBits& h, int frameBytes, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i) {
    Bytes frame = Header(h);
    frame.resize(static_cast<std::size_t>(frameBytes), 0x55);
    Append(out, frame);
  }
  return out;
}

// Sync-safe 4-byte size (7 bits per byte).
inline Bytes SyncSafe(std::uint32_t v) {
  return {static_cast<std::uint8_t>((v >> 21) & 0x7F), static_cast<std::uint8_t>((v >> 14) & 0x7F),
          static_cast<std::uint8_t>((v >> 7) & 0x7F), static_cast<std::uint8_t>(v & 0x7F)};
}

// An ID3v2 frame: version 3 (plain 32-bit size), 4 (sync-safe) or 2 (3-char
// ID, 24-bit size). flags2 is the second flag byte (versions 3 and 4).
inline Bytes ID3Frame(int version, std::string_view id, const Bytes& content, std::uint8_t flags2 = 0) {
  Bytes out;
  Append(out, id);
  const auto n = static_cast<std::uint32_t>(content.size());
  if (version == 2) {
    out.push_back(static_cast<std::uint8_t>(n >> 16));
    out.push_back(static_cast<std::uint8_t>(n >> 8));
    out.push_back(static_cast<std::uint8_t>(n));
  } else {
    if (version == 4) {
      Append(out, SyncSafe(n));
    } else {
      out.resize(out.size() + 4);
      PutBE32(out, out.size() - 4, n);
    }
    out.push_back(0);
    out.push_back(flags2);
  }
  Append(out, content);
  return out;
}

// Text content: encoding byte then the bytes as given.
inline Bytes Text(std::uint8_t encoding, std::string_view bytes) {
  Bytes out{encoding};
  Append(out, bytes);
  return out;
}

// UTF-16 little-endian bytes of ASCII/Latin-1 text (one unit per char).
inline std::string Wide(std::string_view latin1, bool bigEndian = false) {
  std::string out;
  for (const char c : latin1) {
    if (bigEndian) out.push_back('\0');
    out.push_back(c);
    if (!bigEndian) out.push_back('\0');
  }
  return out;
}

// A whole tag: header with the body size (sync-safe), then the body.
inline Bytes ID3Tag(int version, const Bytes& body, std::uint8_t flags = 0, int padding = 0) {
  Bytes out{'I', 'D', '3', static_cast<std::uint8_t>(version), 0, flags};
  Append(out, SyncSafe(static_cast<std::uint32_t>(body.size() + padding)));
  Append(out, body);
  out.resize(out.size() + static_cast<std::size_t>(padding), 0);
  return out;
}

// A 128-byte ID3v1 tag.
inline Bytes ID3v1Tag(std::string_view title, std::uint8_t b125 = 0, std::uint8_t b126 = 0,
                      std::uint8_t genre = 255) {
  Bytes tag(128, 0);
  tag[0] = 'T';
  tag[1] = 'A';
  tag[2] = 'G';
  for (std::size_t i = 0; i < title.size() && i < 30; ++i) tag[3 + i] = static_cast<std::uint8_t>(title[i]);
  tag[125] = b125;
  tag[126] = b126;
  tag[127] = genre;
  return tag;
}

}  // namespace cvtest
