// Test support for the recorder's Session-At-Once path: the CD-TEXT test
// vector of the "Joyful Nights" disc (three tracks, 22 packs, each with its
// stored CRC), the lead-in form of packs (18 bytes spread over 24 six-bit
// symbols) and a cue sheet builder.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vrecorder/cvVirtualCDText.h"

namespace cvtest {

inline std::vector<cv::TVRPack> JoyfulNightsPacks() {
  const char* rows[] = {
      "80 00 00 00 4a 6f 79 66 75 6c 20 4e 69 67 68 74 f0 f7", "80 00 01 0c 73 00 53 6f 6e 67 20 6f 66 20 4a 6f 43 1c",
      "80 01 02 0a 79 00 48 75 6d 70 74 79 20 44 75 6d 43 f9", "80 02 03 0a 70 74 79 00 4d 65 65 20 4f 77 77 77 24 72",
      "80 03 04 08 77 00 00 00 00 00 00 00 00 00 00 00 6e af", "81 00 05 00 00 46 65 6c 69 78 20 61 6e 64 20 54 4d 51",
      "81 01 06 0b 68 65 20 50 75 72 72 73 00 43 61 74 a7 40", "81 02 07 03 77 61 6c 6b 20 42 65 61 75 74 69 65 59 80",
      "81 02 08 0f 73 00 4d 69 61 20 4b 69 74 74 65 6e 30 c9", "81 03 09 0a 00 00 00 00 00 00 00 00 00 00 00 00 ad 19",
      "82 00 0a 00 00 46 72 69 65 64 72 69 63 68 20 53 70 8f", "82 01 0b 0b 63 68 69 6c 6c 65 72 00 4d 6f 74 68 33 43",
      "82 02 0c 04 65 72 20 47 6f 6f 73 65 00 4d 69 61 d6 f5", "82 03 0d 03 20 4b 69 74 74 65 6e 00 00 00 00 00 f5 83",
      "8e 00 0e 00 31 32 33 34 35 36 37 38 39 30 31 32 92 3e", "8e 00 0f 0c 33 00 58 59 42 4c 47 31 31 30 31 32 c0 2b",
      "8e 01 10 0a 33 34 00 58 59 42 4c 47 31 31 30 30 bb b3", "8e 02 11 09 30 30 35 00 58 59 42 4c 47 31 31 30 f3 bf",
      "8e 03 12 08 30 30 30 36 00 00 00 00 00 00 00 00 5b 5c", "8f 00 13 00 00 01 03 00 05 05 04 00 00 00 00 00 9b fe",
      "8f 01 14 00 00 00 00 00 00 00 05 03 15 00 00 00 11 0b", "8f 02 15 00 00 00 00 00 09 00 00 00 00 00 00 00 da 77",
  };
  std::vector<cv::TVRPack> packs;
  for (const char* row : rows) {
    cv::TVRPack p{};
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(std::stoul(std::string(row + 3 * i, 2), nullptr, 16));
    packs.push_back(p);
  }
  return packs;
}

// Sets a pack's CRC after a test changed it (the CRC itself is checked
// against the stored vector first).
inline void Reseal(cv::TVRPack& p) {
  const std::uint16_t crc = cv::VRPackCrc(std::span(p).first(16));
  p[16] = static_cast<std::uint8_t>(crc >> 8);
  p[17] = static_cast<std::uint8_t>(crc);
}

// A single-block ISO-8859-1 pack list made from texts: for each pack type,
// the texts of the disc (index 0) and of tracks 1..n. Size information
// packs at the end, every CRC set.
inline std::vector<cv::TVRPack> TextPacks(const std::vector<std::pair<std::uint8_t, std::vector<std::string>>>& types,
                                          int lastTrack) {
  std::vector<cv::TVRPack> packs;
  std::array<std::uint8_t, 16> counts{};
  for (const auto& [type, texts] : types) {
    std::string stream;
    std::vector<std::pair<int, std::size_t>> owner;  // track and position of each byte
    for (std::size_t t = 0; t < texts.size(); ++t)
      for (std::size_t k = 0; k <= texts[t].size(); ++k) {
        stream += k < texts[t].size() ? texts[t][k] : '\0';
        owner.emplace_back(static_cast<int>(t), k);
      }
    for (std::size_t at = 0; at < stream.size(); at += 12) {
      cv::TVRPack p{};
      p[0] = type;
      p[1] = static_cast<std::uint8_t>(owner[at].first);
      p[2] = static_cast<std::uint8_t>(packs.size());
      p[3] = static_cast<std::uint8_t>(std::min<std::size_t>(15, owner[at].second));
      for (std::size_t k = 0; k < 12 && at + k < stream.size(); ++k) p[4 + k] = static_cast<std::uint8_t>(stream[at + k]);
      Reseal(p);
      packs.push_back(p);
      ++counts[type - 0x80];
    }
  }
  counts[15] = 3;
  std::array<std::uint8_t, 36> size{};
  size[1] = 1;
  size[2] = static_cast<std::uint8_t>(lastTrack);
  for (int t = 0; t < 16; ++t) size[4 + t] = counts[t];
  size[20] = static_cast<std::uint8_t>(packs.size() + 2);
  size[28] = 0x09;
  for (int k = 0; k < 3; ++k) {
    cv::TVRPack p{};
    p[0] = 0x8F;
    p[1] = static_cast<std::uint8_t>(k);
    p[2] = static_cast<std::uint8_t>(packs.size());
    std::copy(size.begin() + 12 * k, size.begin() + 12 * k + 12, p.begin() + 4);
    Reseal(p);
    packs.push_back(p);
  }
  return packs;
}

// The lead-in form of packs: each 3 bytes become 4 six-bit symbols, four
// packs make a 96-byte block.
inline std::array<std::uint8_t, 24> SixBit(const cv::TVRPack& p) {
  std::array<std::uint8_t, 24> out{};
  for (std::size_t g = 0; g < 6; ++g) {
    const std::uint8_t a = p[3 * g], b = p[3 * g + 1], c = p[3 * g + 2];
    out[4 * g] = a >> 2;
    out[4 * g + 1] = static_cast<std::uint8_t>(((a & 0x03) << 4) | (b >> 4));
    out[4 * g + 2] = static_cast<std::uint8_t>(((b & 0x0F) << 2) | (c >> 6));
    out[4 * g + 3] = c & 0x3F;
  }
  return out;
}

// `blocks` lead-in blocks cycling through the pack list from its first pack
// (the pack cursor carries on from block to block).
inline std::vector<std::uint8_t> LeadInBlocks(const std::vector<cv::TVRPack>& packs, std::size_t firstPack,
                                              std::size_t blocks) {
  std::vector<std::uint8_t> out;
  out.reserve(blocks * 96);
  for (std::size_t k = 0; k < blocks * 4; ++k) {
    const auto six = SixBit(packs[(firstPack + k) % packs.size()]);
    out.insert(out.end(), six.begin(), six.end());
  }
  return out;
}

// A cue sheet, entry by entry.
struct CueSheet {
  std::vector<std::uint8_t> Bytes;

  static std::array<std::uint8_t, 3> Msf(std::int32_t lba) {
    const std::int32_t n = lba >= -150 ? lba + 150 : lba + 450150;
    return {static_cast<std::uint8_t>(n / 4500), static_cast<std::uint8_t>((n / 75) % 60),
            static_cast<std::uint8_t>(n % 75)};
  }
  CueSheet& Raw(std::array<std::uint8_t, 8> e) {
    Bytes.insert(Bytes.end(), e.begin(), e.end());
    return *this;
  }
  CueSheet& Mcn(const std::string& d) {
    Raw({0x02, std::uint8_t(d[0]), std::uint8_t(d[1]), std::uint8_t(d[2]), std::uint8_t(d[3]), std::uint8_t(d[4]),
         std::uint8_t(d[5]), std::uint8_t(d[6])});
    return Raw({0x02, std::uint8_t(d[7]), std::uint8_t(d[8]), std::uint8_t(d[9]), std::uint8_t(d[10]),
                std::uint8_t(d[11]), std::uint8_t(d[12]), 0});
  }
  CueSheet& LeadIn(bool cdText = false, std::int32_t lba = -150) {
    const auto m = lba == -150 ? std::array<std::uint8_t, 3>{0, 0, 0} : Msf(lba);
    return Raw({0x01, 0x00, 0x00, static_cast<std::uint8_t>(cdText ? 0x41 : 0x01), 0, m[0], m[1], m[2]});
  }
  CueSheet& Isrc(int track, const std::string& c, std::uint8_t ctl = 0) {
    const auto a = static_cast<std::uint8_t>(ctl << 4 | 0x03);
    const auto t = static_cast<std::uint8_t>(track);
    Raw({a, t, std::uint8_t(c[0]), std::uint8_t(c[1]), std::uint8_t(c[2]), std::uint8_t(c[3]), std::uint8_t(c[4]),
         std::uint8_t(c[5])});
    return Raw({a, t, std::uint8_t(c[6]), std::uint8_t(c[7]), std::uint8_t(c[8]), std::uint8_t(c[9]),
                std::uint8_t(c[10]), std::uint8_t(c[11])});
  }
  CueSheet& Index(int track, int index, std::int32_t lba, std::uint8_t ctl = 0, std::uint8_t form = 0x00) {
    const auto m = Msf(lba);
    return Raw({static_cast<std::uint8_t>(ctl << 4 | 0x01), static_cast<std::uint8_t>(track),
                static_cast<std::uint8_t>(index), form, 0, m[0], m[1], m[2]});
  }
  CueSheet& LeadOut(std::int32_t lba) {
    const auto m = Msf(lba);
    return Raw({0x01, 0xAA, 0x01, 0x01, 0, m[0], m[1], m[2]});
  }
};

}  // namespace cvtest
