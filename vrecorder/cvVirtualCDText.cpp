#include "vrecorder/cvVirtualCDText.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace cv {

namespace {

constexpr std::uint8_t kSizePack = 0x8F;

int BlockOf(const TVRPack& p) { return (p[3] >> 4) & 0x07; }
int SequenceOf(const TVRPack& p) { return p[2]; }
int TrackOf(const TVRPack& p) { return p[1] & 0x7F; }
int PositionOf(const TVRPack& p) { return p[3] & 0x0F; }
bool DoubleByteOf(const TVRPack& p) { return p[3] & 0x80; }

// Pack types whose payload is a run of terminated texts, one per track.
bool IsTextType(std::uint8_t type) { return (type >= 0x80 && type <= 0x86) || type == 0x8D || type == 0x8E; }

std::string Hex2(std::uint8_t v) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

std::string PackName(std::size_t index, const TVRPack& p) {
  return "pack " + std::to_string(index) + " (type " + Hex2(p[0]) + "h, block " + std::to_string(BlockOf(p)) +
         ", sequence " + std::to_string(SequenceOf(p)) + ")";
}

// The checks of one pack against the pack before it in the list.
std::optional<std::string> CheckPackOrder(const TVRPack* previous, const TVRPack& p, std::size_t index) {
  if (!VRPackCrcValid(p)) return PackName(index, p) + ": CRC mismatch";
  const std::uint8_t type = p[0];
  if (type < 0x80 || type > 0x8F) return PackName(index, p) + ": not a CD-TEXT pack type (80h..8Fh)";
  if (type >= 0x8A && type <= 0x8C) return PackName(index, p) + ": reserved pack type";
  if (type == kSizePack ? TrackOf(p) > 2 : TrackOf(p) > 99)
    return PackName(index, p) + ": track number " + std::to_string(TrackOf(p)) + " out of range";
  if (!previous) {
    if (BlockOf(p) != 0 || SequenceOf(p) != 0)
      return PackName(index, p) + ": the packs must start with sequence 0 of block 0";
    if (type == kSizePack && TrackOf(p) != 0) return PackName(index, p) + ": size information out of order";
    return std::nullopt;
  }
  const TVRPack& q = *previous;
  if (BlockOf(p) == BlockOf(q)) {
    if (SequenceOf(p) != SequenceOf(q) + 1)
      return PackName(index, p) + ": sequence number " + std::to_string(SequenceOf(p)) + " follows " +
             std::to_string(SequenceOf(q));
    if (type < q[0]) return PackName(index, p) + ": pack type below the pack before it (" + Hex2(q[0]) + "h)";
    if (type == kSizePack && TrackOf(p) != (q[0] == kSizePack ? TrackOf(q) + 1 : 0))
      return PackName(index, p) + ": size information out of order";
  } else if (BlockOf(p) == BlockOf(q) + 1) {
    if (SequenceOf(p) != 0) return PackName(index, p) + ": a block must start with sequence 0";
    if (q[0] != kSizePack) return PackName(index, p) + ": block " + std::to_string(BlockOf(q)) +
                                  " ends without its size information";
    if (type == kSizePack && TrackOf(p) != 0) return PackName(index, p) + ": size information out of order";
  } else {
    return PackName(index, p) + ": block " + std::to_string(BlockOf(p)) + " follows block " +
           std::to_string(BlockOf(q));
  }
  return std::nullopt;
}

std::string Latin1ToUtf8(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// The packs of one type in one block, read as a run of terminated texts.
struct TTextRun {
  int FirstTrack = 0;
  std::vector<std::string> Texts;  // raw bytes, Texts[i] belongs to FirstTrack + i
};

// Walks the texts of packs [from, to) (one type, one block): checks every
// pack's track number and character position against the texts before it,
// the terminators and the padding after the last text.
std::optional<std::string> ReadTextRun(std::span<const TVRPack> packs, std::size_t from, std::size_t to, int lastTrack,
                                       TTextRun& run) {
  const TVRPack& head = packs[from];
  const std::size_t unit = DoubleByteOf(head) ? 2 : 1;
  std::vector<std::uint8_t> stream;
  for (std::size_t i = from; i < to; ++i) stream.insert(stream.end(), packs[i].begin() + 4, packs[i].begin() + 16);
  // The texts end with the terminator after the last character; zeros after
  // it are padding.
  std::size_t end = 0;
  for (std::size_t at = 0; at + unit <= stream.size(); at += unit) {
    bool zero = true;
    for (std::size_t k = 0; k < unit; ++k) zero = zero && stream[at + k] == 0;
    if (!zero) end = at + 2 * unit;
  }
  if (end == 0) end = unit;  // nothing but one empty text
  if (end > stream.size())
    return PackName(to - 1, packs[to - 1]) + ": the last text has no terminator";

  run = {};
  run.FirstTrack = TrackOf(head);
  int track = run.FirstTrack;
  std::string text;
  for (std::size_t at = 0; at < end; at += unit) {
    if (at % 12 == 0) {
      const std::size_t index = from + at / 12;
      const TVRPack& p = packs[index];
      const std::size_t chars = std::min<std::size_t>(15, text.size() / unit);
      if (DoubleByteOf(p) != (unit == 2)) return PackName(index, p) + ": double-byte flag changes within the texts";
      if (TrackOf(p) != track)
        return PackName(index, p) + ": carries track " + std::to_string(TrackOf(p)) + ", its first text belongs to track " +
               std::to_string(track);
      if (static_cast<std::size_t>(PositionOf(p)) != chars)
        return PackName(index, p) + ": character position " + std::to_string(PositionOf(p)) + ", expected " +
               std::to_string(chars);
    }
    bool zero = true;
    for (std::size_t k = 0; k < unit; ++k) zero = zero && stream[at + k] == 0;
    if (!zero) {
      text.append(reinterpret_cast<const char*>(&stream[at]), unit);
      if (text.size() > kVRMaxTextBytes)
        return PackName(from + at / 12, packs[from + at / 12]) + ": the text of track " + std::to_string(track) +
               " is longer than " + std::to_string(kVRMaxTextBytes) + " bytes";
      continue;
    }
    if (lastTrack > 0 && track > lastTrack)
      return PackName(from + at / 12, packs[from + at / 12]) + ": a text for track " + std::to_string(track) +
             ", the disc ends with track " + std::to_string(lastTrack);
    const bool repeat = text == std::string(unit, '\t');
    if (repeat && run.Texts.empty())
      return PackName(from + at / 12, packs[from + at / 12]) + ": a repeat mark with no text before it";
    run.Texts.push_back(text);
    text.clear();
    ++track;
  }
  if (end <= (to - from - 1) * 12) return PackName(to - 1, packs[to - 1]) + ": a pack that holds only padding";
  return std::nullopt;
}

}  // namespace

std::uint16_t VRPackCrc(std::span<const std::uint8_t> first16) {
  std::uint16_t crc = 0;
  for (std::size_t i = 0; i < 16 && i < first16.size(); ++i) {
    crc ^= static_cast<std::uint16_t>(first16[i] << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<std::uint16_t>(~crc);
}

bool VRPackCrcValid(const TVRPack& pack) {
  return VRPackCrc(std::span(pack).first(16)) == static_cast<std::uint16_t>(pack[16] << 8 | pack[17]);
}

std::array<TVRPack, kVRPacksPerLeadInBlock> VRDecodeLeadInBlock(std::span<const std::uint8_t> block96) {
  std::array<TVRPack, kVRPacksPerLeadInBlock> packs{};
  for (std::size_t p = 0; p < kVRPacksPerLeadInBlock; ++p) {
    for (std::size_t g = 0; g < 6; ++g) {
      const std::size_t at = p * 24 + g * 4;
      const std::uint8_t s0 = at + 3 < block96.size() ? block96[at] & 0x3F : 0;
      const std::uint8_t s1 = at + 3 < block96.size() ? block96[at + 1] & 0x3F : 0;
      const std::uint8_t s2 = at + 3 < block96.size() ? block96[at + 2] & 0x3F : 0;
      const std::uint8_t s3 = at + 3 < block96.size() ? block96[at + 3] & 0x3F : 0;
      packs[p][g * 3] = static_cast<std::uint8_t>(s0 << 2 | s1 >> 4);
      packs[p][g * 3 + 1] = static_cast<std::uint8_t>((s1 & 0x0F) << 4 | s2 >> 2);
      packs[p][g * 3 + 2] = static_cast<std::uint8_t>((s2 & 0x03) << 6 | s3);
    }
  }
  return packs;
}

std::optional<std::string> cvVRCDTextChecker::Add(const TVRPack& pack) {
  const std::uint64_t index = Count;
  if (Complete) {
    const TVRPack& expected = List[index % List.size()];
    if (pack != expected)
      return "lead-in pack " + std::to_string(index) + " differs from pack " + std::to_string(index % List.size()) +
             " of the first cycle";
    ++Count;
    return std::nullopt;
  }
  if (!List.empty() && pack == List.front()) {
    // The list starts over: its whole length is known now.
    Complete = true;
    if (First > 0) {
      if (auto error = Finish(First, Last)) {
        Complete = false;
        return error;
      }
    }
    ++Count;
    return std::nullopt;
  }
  if (List.size() >= kVRMaxPacksPerBlock * kVRMaxTextBlocks)
    return "lead-in pack " + std::to_string(index) + ": more than " +
           std::to_string(kVRMaxPacksPerBlock * kVRMaxTextBlocks) + " packs without a repeat";
  if (auto error = CheckPackOrder(List.empty() ? nullptr : &List.back(), pack, List.size())) return error;
  List.push_back(pack);
  ++Count;
  return std::nullopt;
}

std::optional<std::string> cvVRCDTextChecker::Finish(int firstTrack, int lastTrack) {
  if (auto error = VRCheckCDTextPacks(List, firstTrack, lastTrack)) return error;
  Checked = true;
  return std::nullopt;
}

std::optional<std::string> VRCheckCDTextPacks(std::span<const TVRPack> packs, int firstTrack, int lastTrack) {
  if (packs.empty()) return "no CD-TEXT packs";
  if (packs.size() > kVRMaxPacksPerBlock * kVRMaxTextBlocks)
    return "more than " + std::to_string(kVRMaxPacksPerBlock * kVRMaxTextBlocks) + " packs";
  for (std::size_t i = 0; i < packs.size(); ++i)
    if (auto error = CheckPackOrder(i ? &packs[i - 1] : nullptr, packs[i], i)) return error;
  if (packs.back()[0] != kSizePack) return "block " + std::to_string(BlockOf(packs.back())) + " ends without its size information";

  // Each block: [begin, end) in the list.
  std::vector<std::pair<std::size_t, std::size_t>> blocks;
  for (std::size_t i = 0; i < packs.size(); ++i) {
    if (i == 0 || BlockOf(packs[i]) != BlockOf(packs[i - 1])) blocks.emplace_back(i, i);
    blocks.back().second = i + 1;
  }
  std::array<std::uint8_t, 16> shared{};  // last sequence numbers and languages, the same in every block
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const auto [begin, end] = blocks[b];
    const std::string name = "block " + std::to_string(b);
    std::array<int, 16> counts{};
    for (std::size_t i = begin; i < end; ++i) ++counts[packs[i][0] - 0x80];
    if (counts[15] != 3) return name + ": " + std::to_string(counts[15]) + " size information packs, expected 3";
    std::array<std::uint8_t, 36> size{};
    for (std::size_t k = 0; k < 3; ++k)
      std::copy(packs[end - 3 + k].begin() + 4, packs[end - 3 + k].begin() + 16, size.begin() + 12 * k);
    const std::uint8_t code = size[0];
    if (code != 0x00 && code != 0x01 && code != 0x80 && code != 0x81 && code != 0x82 && code != 0x83)
      return name + ": unknown character code " + Hex2(code) + "h";
    if (size[1] < 1 || size[1] > 99 || size[2] < size[1] || size[2] > 99)
      return name + ": track range " + std::to_string(size[1]) + ".." + std::to_string(size[2]) + " is not valid";
    if (firstTrack > 0 && (size[1] != firstTrack || size[2] != lastTrack))
      return name + ": size information names tracks " + std::to_string(size[1]) + ".." + std::to_string(size[2]) +
             ", the disc has " + std::to_string(firstTrack) + ".." + std::to_string(lastTrack);
    for (int t = 0; t < 16; ++t)
      if (size[4 + t] != counts[t])
        return name + ": size information counts " + std::to_string(size[4 + t]) + " packs of type " +
               Hex2(static_cast<std::uint8_t>(0x80 + t)) + "h, the block has " + std::to_string(counts[t]);
    for (std::size_t other = 0; other < static_cast<std::size_t>(kVRMaxTextBlocks); ++other) {
      const int lastSequence = other < blocks.size() ? SequenceOf(packs[blocks[other].second - 1]) : 0;
      if (size[20 + other] != lastSequence)
        return name + ": size information gives " + std::to_string(size[20 + other]) +
               " as the last sequence number of block " + std::to_string(other) + ", it is " +
               std::to_string(lastSequence);
    }
    std::array<std::uint8_t, 16> tail{};
    std::copy(size.begin() + 20, size.end(), tail.begin());
    if (b == 0) shared = tail;
    else if (tail != shared) return name + ": size information differs from block 0's in the sequence numbers or languages";

    // The texts, type by type.
    for (std::size_t i = begin; i < end;) {
      std::size_t j = i;
      while (j < end && packs[j][0] == packs[i][0]) ++j;
      if (IsTextType(packs[i][0])) {
        TTextRun run;
        if (auto error = ReadTextRun(packs, i, j, size[2], run)) return error;
      }
      i = j;
    }
  }
  return std::nullopt;
}

std::string TVRCDTextBlock::Text(std::uint8_t packType, int track) const {
  if (packType < 0x80 || packType > 0x8F || track < 0) return {};
  const auto& texts = Texts[packType - 0x80];
  return static_cast<std::size_t>(track) < texts.size() ? texts[static_cast<std::size_t>(track)] : std::string();
}

std::vector<TVRCDTextBlock> VRDecodeCDText(std::span<const TVRPack> packs) {
  std::vector<TVRCDTextBlock> blocks;
  std::size_t i = 0;
  while (i < packs.size()) {
    std::size_t end = i;
    while (end < packs.size() && BlockOf(packs[end]) == BlockOf(packs[i])) ++end;
    TVRCDTextBlock block;
    block.Block = BlockOf(packs[i]);
    if (end - i >= 3 && packs[end - 3][0] == kSizePack) {
      block.CharacterCode = packs[end - 3][4];
      const std::size_t language = 28 + static_cast<std::size_t>(block.Block);  // record byte: pack 2, payload 4..
      block.Language = packs[end - 1][4 + language - 24];
    }
    block.DoubleByte = block.CharacterCode == 0x80 || block.CharacterCode == 0x81 || block.CharacterCode == 0x82 ||
                       block.CharacterCode == 0x83;
    for (std::size_t t = i; t < end;) {
      std::size_t u = t;
      while (u < end && packs[u][0] == packs[t][0]) ++u;
      TTextRun run;
      const std::uint8_t type = packs[t][0];
      if (IsTextType(type) && !DoubleByteOf(packs[t]) && !ReadTextRun(packs, t, u, 0, run)) {
        auto& texts = block.Texts[type - 0x80];
        texts.assign(static_cast<std::size_t>(run.FirstTrack), std::string());
        for (const std::string& raw : run.Texts) {
          if (raw == "\t" && !texts.empty()) texts.push_back(texts.back());
          else texts.push_back(type == 0x8E ? raw : Latin1ToUtf8(raw));
        }
      }
      t = u;
    }
    blocks.push_back(std::move(block));
    i = end;
  }
  return blocks;
}

}  // namespace cv
