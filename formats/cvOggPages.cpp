#include "formats/cvOggPages.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/cvByteReader.h"

namespace cv {
namespace {

constexpr size_t kMaxPage = 27 + 255 + 255 * 255;

uint32_t OggCrc(const uint8_t* p, size_t n, uint32_t crc = 0) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i << 24;
      for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
      t[i] = c;
    }
    return t;
  }();
  for (size_t i = 0; i < n; ++i) crc = (crc << 8) ^ table[((crc >> 24) ^ p[i]) & 0xFF];
  return crc;
}

bool ParseHeader(std::span<const uint8_t> Bytes, int64_t Offset, TOggPage& Page) {
  TByteReader r(Bytes);
  if (!r.Expect("OggS") || r.U8() != 0) return false;
  Page = TOggPage{};
  Page.Offset = Offset;
  Page.Flags = r.U8();
  Page.Granule = static_cast<int64_t>(r.LE64());
  Page.Serial = r.LE32();
  Page.Sequence = r.LE32();
  Page.Crc = r.LE32();
  Page.Segments = r.U8();
  auto lacing = r.Bytes(Page.Segments);
  if (!r.Ok()) return false;
  std::copy(lacing.begin(), lacing.end(), Page.Lacing);
  Page.HeaderSize = 27u + Page.Segments;
  for (uint8_t v : lacing) Page.BodySize += v;
  return true;
}

}  // namespace

bool ReadOggPage(TReadFile& File, int64_t Offset, TOggPage& Page) {
  uint8_t head[27 + 255];
  const size_t n = File.ReadAt(Offset, head, sizeof head);
  return ParseHeader(std::span<const uint8_t>(head, n), Offset, Page);
}

std::vector<std::vector<uint8_t>> ReadOggPackets(TReadFile& File, int64_t Offset, size_t Count, size_t MaxBytes,
                                                 int MaxPages) {
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint8_t> current;
  bool open = false;  // a packet is being gathered
  TOggPage page;
  if (!ReadOggPage(File, Offset, page)) return packets;
  const uint32_t serial = page.Serial;
  int64_t at = Offset;
  std::vector<uint8_t> body;
  for (int n = 0; n < MaxPages && packets.size() < Count; ++n) {
    if (!ReadOggPage(File, at, page)) break;
    at = page.End();
    if (page.Serial != serial) continue;  // another stream's page
    body.assign(page.BodySize, 0);
    if (File.ReadAt(page.Offset + page.HeaderSize, body.data(), body.size()) != body.size()) break;
    // A page that does not continue a packet drops an unfinished one.
    if (!(page.Flags & kOggContinued)) current.clear(), open = false;
    size_t pos = 0;
    for (unsigned s = 0; s < page.Segments && packets.size() < Count; ++s) {
      const size_t v = page.Lacing[s];
      const size_t keep = std::min(v, MaxBytes > current.size() ? MaxBytes - current.size() : 0);
      current.insert(current.end(), body.begin() + pos, body.begin() + pos + keep);
      pos += v;
      open = true;
      if (v < 255) {
        packets.push_back(std::move(current));
        current.clear();
        open = false;
      }
    }
    (void)open;
  }
  return packets;
}

int64_t LastOggGranule(TReadFile& File, uint32_t Serial, int64_t Window) {
  const int64_t size = File.Size();
  const int64_t from = std::max<int64_t>(0, size - Window);
  if (size - from < 27) return -1;
  const auto tail = File.ReadZeroFilled(from, size_t(size - from));
  for (size_t p = tail.size() - 27;; --p) {
    TOggPage page;
    if (tail[p] == 'O' && ParseHeader(std::span<const uint8_t>(tail).subspan(p), from + int64_t(p), page) &&
        page.Serial == Serial && page.Granule != -1 && page.End() <= size)
      return page.Granule;
    if (p == 0) break;
  }
  return -1;
}

TOggWalk WalkOggStream(TByteSource& Source, int64_t Offset) {
  TOggWalk walk;
  TReadFile file(Source);
  const int64_t size = file.Size();
  std::vector<uint8_t> page(kMaxPage);
  int64_t at = Offset;
  bool whole = true;
  uint32_t firstSequence = 0;
  while (at < size) {
    const size_t got = file.ReadAt(at, page.data(), 27 + 255);
    TOggPage head;
    if (!ParseHeader(std::span<const uint8_t>(page.data(), got), at, head) || head.End() > size) {
      whole = false;
      break;
    }
    const size_t length = head.HeaderSize + head.BodySize;
    if (file.ReadAt(at, page.data(), length) != length) {
      whole = false;
      break;
    }
    std::memset(page.data() + 22, 0, 4);
    const bool first = walk.Pages == 0;
    if (OggCrc(page.data(), length) != head.Crc || bool(head.Flags & kOggFirst) != first ||
        (!first && (head.Serial != walk.Serial || head.Sequence != firstSequence + uint32_t(walk.Pages)))) {
      whole = false;
      break;
    }
    if (first) walk.Serial = head.Serial, firstSequence = head.Sequence;
    if (head.Granule != -1) walk.LastGranule = head.Granule;
    ++walk.Pages;
    at = head.End();
  }
  walk.Whole = whole && walk.Pages > 0 && at == size;
  return walk;
}

}  // namespace cv
