#include "decode/cvASFPackets.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/cvByteReader.h"

namespace cv {
namespace {

using TGuid = std::array<uint8_t, 16>;

// A GUID in its textual form to its byte order in the file (the first three
// groups little-endian, the last two as written).
constexpr TGuid Guid(const char (&text)[37]) {
  auto hex = [](char c) -> uint8_t {
    return uint8_t(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
  };
  auto byte = [&](int at) -> uint8_t { return uint8_t(hex(text[at]) << 4 | hex(text[at + 1])); };
  TGuid g{};
  for (int i = 0; i < 4; ++i) g[i] = byte(6 - 2 * i);  // group 1, 4 bytes
  g[4] = byte(11);
  g[5] = byte(9);
  g[6] = byte(16);
  g[7] = byte(14);
  g[8] = byte(19);
  g[9] = byte(21);
  for (int i = 0; i < 6; ++i) g[10 + i] = byte(24 + 2 * i);
  return g;
}

constexpr TGuid kHeaderObject = Guid("75B22630-668E-11CF-A6D9-00AA0062CE6C");
constexpr TGuid kDataObject = Guid("75B22636-668E-11CF-A6D9-00AA0062CE6C");
constexpr TGuid kFileProperties = Guid("8CABDCA1-A947-11CF-8EE4-00C00C205365");
constexpr TGuid kStreamProperties = Guid("B7DC0791-A9B7-11CF-8EE6-00C00C205365");
constexpr TGuid kAudioMedia = Guid("F8699E40-5B4D-11CF-A8FD-00805F5C442B");
constexpr TGuid kAudioSpread = Guid("BFC3CD50-618F-11CF-8BB2-00AA00B4E220");
constexpr TGuid kContentEncryption = Guid("2211B3FB-BD23-11D2-B4B7-00A0C955FC6E");
constexpr TGuid kExtendedContentEncryption = Guid("298AE614-2622-4C17-B935-DAE07EE9289C");

static_assert(kHeaderObject[0] == 0x30 && kHeaderObject[3] == 0x75 && kHeaderObject[4] == 0x8E &&
              kHeaderObject[6] == 0xCF && kHeaderObject[8] == 0xA6 && kHeaderObject[15] == 0x6C);

// The shared bounds-checked cursor (device/cvByteReader.h) with the ASF
// field forms on top: a read past the end yields 0 and marks the reader
// bad; callers test Ok() before using values.
class TReader : public TByteReader {
 public:
  using TByteReader::TByteReader;
  size_t Pos_() const { return Pos(); }
  uint16_t U16() { return LE16(); }
  uint32_t U32() { return LE32(); }
  uint64_t U64() { return LE64(); }
  // A field whose width is given by a 2-bit length type: 0 absent, 1 byte,
  // 2 word, 3 double word.
  uint32_t ByType(unsigned type) {
    static constexpr size_t widths[4] = {0, 1, 2, 4};
    return uint32_t(LE(widths[type & 3]));
  }
  std::span<const uint8_t> Take(size_t n) { return Bytes(n); }
  bool Guid(const TGuid& g) {
    auto s = Bytes(16);
    return Ok() && std::equal(s.begin(), s.end(), g.begin());
  }
};

bool IsGuid(std::span<const uint8_t> bytes, const TGuid& g) {
  return bytes.size() >= 16 && std::equal(g.begin(), g.end(), bytes.begin());
}

}  // namespace

void TASFPackets::Fail(std::string why) {
  if (Mode == TState::Failed) return;
  Mode = TState::Failed;
  Failure = std::move(why);
  Held.clear();
  Held.shrink_to_fit();
}

void TASFPackets::Feed(std::span<const uint8_t> bytes, const TSink& sink) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    const size_t left = bytes.size() - pos;
    switch (Mode) {
      case TState::Failed:
      case TState::Trailer:
        return;  // nothing more to take

      case TState::Header: {
        // First the 24 bytes that give the Header Object's size, then the rest.
        size_t want = HeaderSize ? size_t(HeaderSize) : 24;
        size_t n = std::min(left, want - Held.size());
        Held.insert(Held.end(), bytes.begin() + pos, bytes.begin() + pos + n);
        pos += n;
        if (Held.size() < want) break;
        if (!HeaderSize) {
          if (!IsGuid(Held, kHeaderObject)) return Fail("not an ASF file");
          TReader r(Held, 16);
          uint64_t size = r.U64();
          if (size < 30 || size > kMaxHeader) return Fail("ASF header size out of range");
          HeaderSize = size;
          break;
        }
        ParseHeader();
        Held.clear();
        break;
      }

      case TState::Objects: {
        if (Skip) {
          size_t n = size_t(std::min<uint64_t>(Skip, left));
          Skip -= n;
          pos += n;
          break;
        }
        size_t want = 24;
        if (Held.size() >= 16 && IsGuid(Held, kDataObject)) want = 50;
        size_t n = std::min(left, want - Held.size());
        Held.insert(Held.end(), bytes.begin() + pos, bytes.begin() + pos + n);
        pos += n;
        if (Held.size() < want) break;
        TReader r(Held, 16);
        uint64_t size = r.U64();
        if (IsGuid(Held, kDataObject)) {
          if (want == 24) break;  // read the whole 50-byte head first
          // A size of 0 or one below the head itself: a file being written
          // (or broadcast); packets then run to the end.
          DataBounded = size >= 50;
          DataLeft = DataBounded ? size - 50 : 0;
          Held.clear();
          Mode = TState::Packets;
          break;
        }
        if (size < 24) return Fail("ASF object size out of range");
        Skip = size - 24;
        Held.clear();
        break;
      }

      case TState::Packets: {
        if (DataBounded && DataLeft < Packet) {
          Mode = TState::Trailer;  // index objects follow
          return;
        }
        size_t n = std::min(left, size_t(Packet) - Held.size());
        Held.insert(Held.end(), bytes.begin() + pos, bytes.begin() + pos + n);
        pos += n;
        if (Held.size() < Packet) break;
        ParsePacket(Held, sink);
        Held.clear();
        if (DataBounded) DataLeft -= Packet;
        break;
      }
    }
  }
}

void TASFPackets::Finish(const TSink& sink) {
  if (Mode == TState::Packets && !Held.empty()) {
    ParsePacket(Held, sink);  // a truncated last packet: what it holds whole
    Held.clear();
  }
  if (ObjectOpen) ++DamagedCount;  // an object cut off by the end
  ObjectOpen = false;
  Object.clear();
  if (Mode == TState::Header) Fail(HeaderSize ? "ASF header cut short" : "not an ASF file");
  if (Mode == TState::Objects) Fail("ASF data object missing");
}

void TASFPackets::ParseHeader() {
  TReader top(Held, 24);
  uint32_t count = top.U32();
  top.Take(2);
  size_t at = 30;
  for (uint32_t i = 0; i < count && at + 24 <= Held.size(); ++i) {
    TReader head(Held, at);
    auto id = head.Take(16);
    uint64_t size = head.U64();
    if (size < 24 || size > Held.size() - at) break;  // a damaged object ends the walk
    auto object = std::span<const uint8_t>(Held).subspan(at, size_t(size));
    if (IsGuid(id, kFileProperties)) {
      TReader r(object, 92);
      uint32_t minPacket = r.U32();
      uint32_t maxPacket = r.U32();
      if (r.Ok()) {
        if (minPacket != maxPacket || minPacket == 0 || minPacket > kMaxPacket)
          return Fail("ASF packet size not fixed or out of range");
        Packet = minPacket;
      }
    } else if (IsGuid(id, kStreamProperties) && !HaveStream) {
      TReader r(object, 24);
      bool audio = r.Guid(kAudioMedia);
      bool spread = r.Guid(kAudioSpread);
      r.U64();  // time offset
      uint32_t typeLength = r.U32();
      uint32_t eccLength = r.U32();
      uint16_t flags = r.U16();
      r.U32();  // reserved
      auto type = r.Take(typeLength);
      auto ecc = r.Take(eccLength);
      if (r.Ok() && audio && type.size() >= 16) {
        TReader w(type);
        Stream.StreamNumber = flags & 0x7F;
        Stream.FormatTag = w.U16();
        Stream.Channels = w.U16();
        Stream.SampleRate = w.U32();
        Stream.AvgBytesPerSec = w.U32();
        Stream.BlockAlign = w.U16();
        Stream.BitsPerSample = w.U16();
        uint16_t cbSize = w.Left() >= 2 ? w.U16() : 0;
        auto extra = w.Take(std::min<size_t>(cbSize, w.Left()));
        Stream.Extra.assign(extra.begin(), extra.end());
        if (flags & 0x8000) Encrypted = true;
        if (spread && !ecc.empty() && ecc[0] > 1) Scrambled = true;
        HaveStream = true;
      }
    } else if (IsGuid(id, kContentEncryption) || IsGuid(id, kExtendedContentEncryption)) {
      Encrypted = true;
    }
    at += size_t(size);
  }
  if (Encrypted) return Fail("ASF content is encrypted");
  if (!Packet) return Fail("ASF file properties missing");
  if (!HaveStream) return Fail("ASF file has no audio stream");
  if (Scrambled) return Fail("ASF audio is scrambled (audio spread span above 1)");
  Mode = TState::Objects;
}

void TASFPackets::ParsePacket(std::span<const uint8_t> packet, const TSink& sink) {
  TReader r(packet);
  uint8_t flags = r.U8();
  if (flags & 0x80) {
    // Error correction data: its length in the low 4 bits; the length type
    // (bits 5-6) must be 0.
    if (flags & 0x60) {
      ++DamagedCount;
      return;
    }
    r.Take(flags & 0x0F);
    flags = r.U8();
  }
  uint8_t property = r.U8();
  uint32_t packetLength = r.ByType(flags >> 5);
  r.ByType(flags >> 1);  // sequence
  uint32_t padding = r.ByType(flags >> 3);
  r.U32();  // send time
  r.U16();  // duration
  if (!r.Ok()) {
    ++DamagedCount;
    return;
  }
  // The packet's own length, when given, may be below the fixed size (the
  // rest is padding); never above it.
  size_t length = ((flags >> 5) & 3) ? packetLength : Packet;
  if (length > Packet || length < r.Pos_() || padding > length - r.Pos_()) {
    ++DamagedCount;
    return;
  }
  const size_t end = std::min(length - padding, packet.size());
  TReader body(packet.subspan(0, end), r.Pos_());

  const unsigned replicatedType = property & 3;
  const unsigned offsetType = (property >> 2) & 3;
  const unsigned numberType = (property >> 4) & 3;
  const unsigned streamType = (property >> 6) & 3;
  const bool multiple = flags & 1;
  unsigned count = 1;
  unsigned lengthType = 0;
  if (multiple) {
    uint8_t pf = body.U8();
    count = pf & 0x3F;
    lengthType = pf >> 6;
    if (lengthType == 0) {
      ++DamagedCount;
      return;
    }
  }
  for (unsigned i = 0; i < count && body.Ok(); ++i) {
    uint32_t stream = (streamType ? body.ByType(streamType) : body.U8()) & 0x7F;
    uint32_t number = body.ByType(numberType);
    uint32_t offset = body.ByType(offsetType);
    uint32_t replicated = body.ByType(replicatedType);
    if (replicated == 1) {
      // Compressed payload: the offset field is a presentation time, one
      // byte of time delta, then sub-payloads of one length byte each.
      body.U8();
      size_t total = multiple ? body.ByType(lengthType) : body.Left();
      auto data = body.Take(total);
      if (!body.Ok()) break;
      TReader sub(data);
      while (sub.Left() > 0) {
        uint8_t n = sub.U8();
        auto piece = sub.Take(n);
        if (!sub.Ok()) {
          ++DamagedCount;
          break;
        }
        Fragment(stream, number++, 0, n, piece, sink);
      }
      continue;
    }
    auto rep = body.Take(replicated);
    size_t total = multiple ? body.ByType(lengthType) : body.Left();
    auto data = body.Take(total);
    if (!body.Ok()) break;
    uint32_t objectSize = uint32_t(data.size()) + offset;
    if (rep.size() >= 8) {
      TReader rr(rep);
      objectSize = rr.U32();
    }
    Fragment(stream, number, offset, objectSize, data, sink);
  }
  if (!body.Ok()) ++DamagedCount;
}

void TASFPackets::Fragment(uint32_t stream, uint32_t number, uint32_t offset, uint32_t size,
                           std::span<const uint8_t> data, const TSink& sink) {
  if (stream != Stream.StreamNumber) return;
  if (offset == 0) {
    if (ObjectOpen) ++DamagedCount;  // the previous object never completed
    ObjectOpen = false;
    Object.clear();
    if (size == 0 || size > kMaxObject || data.size() > size) {
      ++DamagedCount;
      return;
    }
    if (data.size() == size) {
      if (sink) sink(data);
      return;
    }
    Object.assign(data.begin(), data.end());
    ObjectNumber = number;
    ObjectSize = size;
    ObjectOpen = true;
    return;
  }
  if (!ObjectOpen || number != ObjectNumber || size != ObjectSize || offset != Object.size() ||
      data.size() > ObjectSize - Object.size()) {
    if (ObjectOpen) ++DamagedCount;
    ObjectOpen = false;
    Object.clear();
    return;
  }
  Object.insert(Object.end(), data.begin(), data.end());
  if (Object.size() == ObjectSize) {
    if (sink) sink(Object);
    ObjectOpen = false;
    Object.clear();
  }
}

}  // namespace cv
