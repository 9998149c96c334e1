#include "formats/cvMP4File.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string_view>

#include "device/cvByteReader.h"
#include "formats/cvReadFile.h"
#include "formats/cvTagText.h"

namespace cv {
namespace {

// Limits that keep a hostile file from making the reader allocate or walk
// much: the movie box is read whole only up to this size; no track holds
// more samples (a day of AAC at 48 kHz is about 4 million).
constexpr uint64_t kMaxMoov = 32u << 20;
constexpr uint32_t kMaxSamples = 1u << 23;
constexpr int kMaxTopBoxes = 100000;

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) | (uint32_t(uint8_t(s[2])) << 8) |
         uint32_t(uint8_t(s[3]));
}

struct TBox {
  uint32_t Type = 0;
  std::span<const uint8_t> Body;
};

// The child boxes of bytes, in order. A size of 0 runs to the end; a size
// too small or beyond the bytes ends the list there.
std::vector<TBox> Children(std::span<const uint8_t> bytes) {
  std::vector<TBox> boxes;
  TByteReader c(bytes);
  while (c.Left() >= 8) {
    const size_t start = c.Pos();
    uint64_t size = c.BE32();
    const uint32_t type = c.BE32();
    size_t header = 8;
    if (size == 1) {
      size = c.BE64();
      header = 16;
    } else if (size == 0) {
      size = bytes.size() - start;
    }
    if (!c.Ok() || size < header || size > bytes.size() - start) break;
    boxes.push_back({type, bytes.subspan(start + header, size_t(size) - header)});
    c.Skip(size_t(size) - header);
  }
  return boxes;
}

std::optional<TBox> Child(std::span<const uint8_t> bytes, uint32_t type) {
  for (const auto& b : Children(bytes))
    if (b.Type == type) return b;
  return std::nullopt;
}

// A "meta" box: a full box in the ISO layout; QuickTime writes it without
// the version and flags, so its first child starts at once.
std::span<const uint8_t> MetaChildren(std::span<const uint8_t> meta) {
  if (meta.size() >= 8 && std::memcmp(meta.data() + 4, "hdlr", 4) == 0) return meta;
  return meta.size() >= 4 ? meta.subspan(4) : std::span<const uint8_t>{};
}

// The length of an MPEG-4 descriptor (1 to 4 bytes of 7 bits).
uint32_t DescriptorLength(TByteReader& c) {
  uint32_t length = 0;
  for (int i = 0; i < 4; ++i) {
    uint8_t b = c.U8();
    length = (length << 7) | (b & 0x7F);
    if (!(b & 0x80)) break;
  }
  return length;
}

// esds: ES_Descriptor (tag 3) > DecoderConfigDescriptor (tag 4) >
// DecoderSpecificInfo (tag 5, the AudioSpecificConfig).
bool ReadEsds(std::span<const uint8_t> body, std::vector<uint8_t>* config, uint8_t* objectType, uint32_t* bitRate) {
  TByteReader c(body);
  c.Skip(4);  // version, flags
  if (c.U8() != 0x03) return false;
  const uint32_t esLength = DescriptorLength(c);
  TByteReader es(c.Bytes(std::min<size_t>(esLength, c.Left())));
  es.Skip(2);  // ES_ID
  const uint8_t flags = es.U8();
  if (flags & 0x80) es.Skip(2);        // dependsOn_ES_ID
  if (flags & 0x40) es.Skip(es.U8());  // URL
  if (flags & 0x20) es.Skip(2);        // OCR_ES_Id
  if (es.U8() != 0x04) return false;
  const uint32_t dcLength = DescriptorLength(es);
  TByteReader dc(es.Bytes(std::min<size_t>(dcLength, es.Left())));
  *objectType = dc.U8();
  dc.Skip(1 + 3 + 4);  // stream type, buffer size, maximum bit rate
  *bitRate = dc.BE32();
  if (!dc.Ok() || dc.U8() != 0x05) return false;
  const uint32_t dsiLength = DescriptorLength(dc);
  auto dsi = dc.Bytes(std::min<size_t>(dsiLength, dc.Left()));
  if (!dc.Ok() || dsi.empty()) return false;
  config->assign(dsi.begin(), dsi.end());
  return true;
}

// The sampling rate and channel configuration of an AudioSpecificConfig.
// The rate is what a decoder gives: with SBR announced (object type 5 or
// 29, or a sync extension behind plain AAC with its present flag set) the
// extension's rate, not the core's. SBR that only the stream shows cannot
// be seen here: the core rate stays.
void ReadAudioSpecificConfig(std::span<const uint8_t> asc, uint32_t* rate, uint8_t* channels) {
  static constexpr uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                        22050, 16000, 12000, 11025, 8000,  7350};
  size_t bit = 0;
  bool ok = true;
  auto take = [&](unsigned n) -> uint32_t {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++bit) {
      if (bit >= asc.size() * 8) {
        ok = false;
        return 0;
      }
      v = (v << 1) | ((asc[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return v;
  };
  auto objectType = [&] {
    const uint32_t t = take(5);
    return t == 31 ? 32 + take(6) : t;
  };
  auto samplingRate = [&]() -> uint32_t {
    const uint32_t index = take(4);
    return index == 15 ? take(24) : index < std::size(kRates) ? kRates[index] : 0;
  };
  const uint32_t type = objectType();
  const uint32_t r = samplingRate();
  const uint32_t config = take(4);
  if (!ok) return;
  if (r) *rate = r;
  if (config == 1 || config == 2) *channels = uint8_t(config);
  if (type == 5 || type == 29) {
    // Hierarchical signalling: the output rate, then the core's type.
    const uint32_t extension = samplingRate();
    if (ok && extension) *rate = extension;
    return;
  }
  if (type != 1 && type != 2 && type != 4) return;
  // GASpecificConfig of Main, LC and LTP, then perhaps the sync extension.
  take(1);                      // frame length
  if (take(1) != 0) take(14);   // depends on a core coder
  take(1);                      // extension flag (0 for these types)
  if (!ok || asc.size() * 8 - bit < 16 || take(11) != 0x2B7) return;
  if (objectType() != 5 || take(1) != 1) return;
  const uint32_t extension = samplingRate();
  if (ok && extension) *rate = extension;
}

// The text of an ilst item: its "data" box of type 1 (UTF-8).
std::string ItemText(std::span<const uint8_t> item) {
  auto data = Child(item, FourCC("data"));
  if (!data) return {};
  TByteReader c(data->Body);
  const uint32_t type = c.BE32();
  c.Skip(4);  // locale
  auto text = c.Rest();
  if (!c.Ok() || (type & 0xFFFFFF) != 1) return {};
  return TrimText(Utf8ValidPrefix({reinterpret_cast<const char*>(text.data()), text.size()}));
}

// iTunSMPB: " 00000000 DDDDDDDD PPPPPPPP LLLLLLLLLLLLLLLL ...", hexadecimal
// words: zero, the delay, the padding, the original length.
bool ParseSMPB(std::string_view text, uint64_t* delay, uint64_t* padding, uint64_t* length) {
  uint64_t words[4] = {};
  size_t at = 0;
  for (int w = 0; w < 4; ++w) {
    while (at < text.size() && text[at] == ' ') ++at;
    size_t digits = 0;
    uint64_t v = 0;
    for (; at < text.size() && digits < 16; ++at, ++digits) {
      char ch = text[at];
      int d = ch >= '0' && ch <= '9' ? ch - '0' : ch >= 'A' && ch <= 'F' ? ch - 'A' + 10 : ch >= 'a' && ch <= 'f' ? ch - 'a' + 10 : -1;
      if (d < 0) break;
      v = (v << 4) | uint64_t(d);
    }
    if (digits == 0) return false;
    words[w] = v;
  }
  *delay = words[1];
  *padding = words[2];
  *length = words[3];
  return true;
}

struct TEdit {
  bool Present = false;
  uint64_t Duration = 0;  // movie units
  int64_t MediaTime = -1;
};

TEdit ReadEditList(std::span<const uint8_t> elst) {
  TEdit e;
  TByteReader c(elst);
  const uint8_t version = c.U8();
  c.Skip(3);
  const uint32_t count = c.BE32();
  for (uint32_t i = 0; i < count && c.Ok(); ++i) {
    uint64_t duration = version == 1 ? c.BE64() : c.BE32();
    int64_t mediaTime = version == 1 ? int64_t(c.BE64()) : int64_t(int32_t(c.BE32()));
    c.Skip(4);  // rate
    if (!c.Ok()) break;
    if (mediaTime < 0) continue;  // an empty edit
    // The first edit that plays media decides.
    e.Present = true;
    e.Duration = duration;
    e.MediaTime = mediaTime;
    break;
  }
  return e;
}

}  // namespace

void TMP4File::Clear() { *this = TMP4File(); }

bool AACConfigIsPlain(std::span<const uint8_t> Config, uint32_t Rate) {
  static constexpr uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000,  7350};
  size_t bit = 0;
  const size_t bits = Config.size() * 8;
  bool ok = true;
  auto take = [&](unsigned n) -> uint32_t {
    uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i, ++bit) {
      if (bit >= bits) {
        ok = false;
        return 0;
      }
      v = (v << 1) | ((Config[bit / 8] >> (7 - bit % 8)) & 1u);
    }
    return v;
  };
  const uint32_t objectType = take(5);
  if (objectType != 1 && objectType != 2 && objectType != 4) return false;  // Main, LC, LTP
  const uint32_t rateIndex = take(4);
  const uint32_t rate = rateIndex == 15 ? take(24) : rateIndex < 13 ? kRates[rateIndex] : 0;
  if (rate != Rate) return false;
  const uint32_t channels = take(4);
  if (channels < 1 || channels > 7) return false;  // 0: a program config element
  if (take(1) != 0) return false;                  // 960 samples per frame
  if (take(1) != 0) take(14);                      // depends on a core coder
  take(1);                                         // extension flag (0 for these types)
  if (!ok) return false;
  if (bits - bit < 16) return true;
  // A backward-compatible extension: sync 0x2B7, then SBR (type 5) with its
  // present flag, and after it maybe PS (sync 0x548 and its flag).
  if (take(11) != 0x2B7) return true;
  if (take(5) != 5) return ok;
  if (take(1) != 0) return false;  // SBR present
  return ok;
}

bool TMP4File::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  if (!source.IsOpen()) {
    Clear();
    return false;
  }
  return ReadFileInfo(source);
}

bool TMP4File::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TMP4File::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);
  const int64_t fileSize = file.Size();

  // The top level: ftyp first, then moov wherever it is.
  std::vector<uint8_t> moov;
  int64_t pos = 0;
  for (int step = 0; step < kMaxTopBoxes && pos + 8 <= fileSize; ++step) {
    uint8_t head[16];
    if (file.ReadAt(pos, head, 8) != 8) break;
    TByteReader c(std::span<const uint8_t>(head, 8));
    uint64_t size = c.BE32();
    const uint32_t type = c.BE32();
    int64_t header = 8;
    if (size == 1) {
      if (file.ReadAt(pos + 8, head + 8, 8) != 8) break;
      TByteReader big(std::span<const uint8_t>(head + 8, 8));
      size = big.BE64();
      header = 16;
    } else if (size == 0) {
      size = uint64_t(fileSize - pos);
    }
    if (size < uint64_t(header) || size > uint64_t(fileSize - pos)) break;
    if (step == 0) {
      if (type != FourCC("ftyp") || size < 16) return true;
      HasFtyp = true;
      char brand[4];
      if (file.ReadAt(pos + header, brand, 4) != 4) return true;
      MajorBrand.assign(brand, 4);
    } else if (type == FourCC("moov")) {
      if (size - uint64_t(header) > kMaxMoov) return true;
      moov.resize(size_t(size) - size_t(header));
      if (file.ReadAt(pos + header, moov.data(), moov.size()) != moov.size()) return true;
      break;
    }
    pos += int64_t(size);
  }
  if (moov.empty()) return true;

  // Movie header: the movie time scale (for the edit list's durations).
  if (auto mvhd = Child(moov, FourCC("mvhd"))) {
    TByteReader c(mvhd->Body);
    const uint8_t version = c.U8();
    c.Skip(3 + (version == 1 ? 16 : 8));
    MovieTimeScale = c.BE32();
  }

  // The first sound track.
  std::span<const uint8_t> mdia, stbl;
  TEdit edit;
  for (const auto& trak : Children(moov)) {
    if (trak.Type != FourCC("trak")) continue;
    auto m = Child(trak.Body, FourCC("mdia"));
    if (!m) continue;
    auto hdlr = Child(m->Body, FourCC("hdlr"));
    if (!hdlr || hdlr->Body.size() < 12 || std::memcmp(hdlr->Body.data() + 8, "soun", 4) != 0) continue;
    auto minf = Child(m->Body, FourCC("minf"));
    auto st = minf ? Child(minf->Body, FourCC("stbl")) : std::nullopt;
    if (!st) continue;
    mdia = m->Body;
    stbl = st->Body;
    if (auto edts = Child(trak.Body, FourCC("edts")))
      if (auto elst = Child(edts->Body, FourCC("elst"))) edit = ReadEditList(elst->Body);
    break;
  }
  if (stbl.empty()) return true;

  if (auto mdhd = Child(mdia, FourCC("mdhd"))) {
    TByteReader c(mdhd->Body);
    const uint8_t version = c.U8();
    c.Skip(3 + (version == 1 ? 16 : 8));
    TimeScale = c.BE32();
  }

  // The sample description: the first entry.
  if (auto stsd = Child(stbl, FourCC("stsd"))) {
    TByteReader c(stsd->Body);
    c.Skip(4);
    const uint32_t entries = c.BE32();
    auto list = Children(c.Rest());
    if (entries >= 1 && !list.empty()) {
      const TBox& entry = list.front();
      const char name[4] = {char(entry.Type >> 24), char(entry.Type >> 16), char(entry.Type >> 8), char(entry.Type)};
      CodecName.assign(name, 4);
      TByteReader e(entry.Body);
      e.Skip(6 + 2);  // reserved, data reference index
      const uint16_t version = e.BE16();
      e.Skip(2 + 4);  // revision, vendor
      const uint16_t channels = e.BE16();
      const uint16_t sampleSize = e.BE16();
      e.Skip(2 + 2);  // compression id, packet size
      const uint32_t rate = e.BE32() >> 16;
      // QuickTime sound description versions 1 and 2 add fields.
      if (version == 1) e.Skip(16);
      if (version == 2) e.Skip(36);
      if (e.Ok()) {
        ChannelCount = uint8_t(std::min<uint16_t>(channels, 255));
        SampleRate = rate;
        BitsPerSample = uint8_t(std::min<uint16_t>(sampleSize, 255));
        auto inner = Children(e.Rest());
        if (entry.Type == FourCC("mp4a")) {
          for (const auto& b : inner) {
            uint8_t objectType = 0;
            if (b.Type == FourCC("esds") && ReadEsds(b.Body, &DecoderConfig, &objectType, &AvgBitRate) &&
                objectType == 0x40) {
              Codec = TMP4Codec::AAC;
              ReadAudioSpecificConfig(DecoderConfig, &SampleRate, &ChannelCount);
            }
          }
        } else if (entry.Type == FourCC("alac")) {
          for (const auto& b : inner) {
            // The "alac" box: version and flags, then the 24-byte
            // ALACSpecificConfig.
            if (b.Type != FourCC("alac") || b.Body.size() < 28) continue;
            TByteReader a(b.Body);
            a.Skip(4 + 4 + 1);  // version/flags, frame length, compatible version
            BitsPerSample = a.U8();
            a.Skip(3);  // pb, mb, kb
            ChannelCount = a.U8();
            a.Skip(2 + 4);  // max run, max frame bytes
            AvgBitRate = a.BE32();
            const uint32_t alacRate = a.BE32();
            if (!a.Ok()) continue;
            if (alacRate) SampleRate = alacRate;
            // The decoder takes the box as stored: size 36, "alac", version
            // and flags, the configuration.
            const uint8_t head[] = {0, 0, 0, 36, 'a', 'l', 'a', 'c'};
            DecoderConfig.assign(std::begin(head), std::end(head));
            DecoderConfig.insert(DecoderConfig.end(), b.Body.begin(), b.Body.begin() + 28);
            Codec = TMP4Codec::ALAC;
            break;
          }
        }
      }
    }
  }

  // Sample sizes.
  auto stsz = Child(stbl, FourCC("stsz"));
  auto stsc = Child(stbl, FourCC("stsc"));
  auto stco = Child(stbl, FourCC("stco"));
  auto co64 = Child(stbl, FourCC("co64"));
  auto stts = Child(stbl, FourCC("stts"));
  if (!stsz || !stsc || (!stco && !co64) || !stts) return true;
  uint32_t count = 0;
  {
    TByteReader c(stsz->Body);
    c.Skip(4);
    const uint32_t uniform = c.BE32();
    count = c.BE32();
    if (!c.Ok() || count == 0 || count > kMaxSamples) return true;
    if (uniform == 0 && c.Left() / 4 < count) return true;
    // Samples of one size: no more than the file can hold (the rest would be
    // cut off below anyway; this keeps the tables small).
    if (uniform > 0) count = uint32_t(std::min<uint64_t>(count, uint64_t(fileSize) / uniform));
    if (count == 0) return true;
    SampleSizes.resize(count);
    for (uint32_t i = 0; i < count; ++i) SampleSizes[i] = uniform ? uniform : c.BE32();
  }

  // Durations: the total in track units, for exactly the samples listed.
  {
    TByteReader c(stts->Body);
    c.Skip(4);
    const uint32_t entries = c.BE32();
    uint64_t samples = 0;
    for (uint32_t i = 0; i < entries && c.Ok() && samples < count; ++i) {
      uint64_t n = c.BE32();
      const uint64_t delta = c.BE32();
      if (!c.Ok()) break;
      n = std::min<uint64_t>(n, count - samples);
      samples += n;
      MediaUnits += n * delta;
    }
    if (samples != count) return true;
  }

  // Offsets: chunks from stco/co64, samples per chunk from stsc.
  {
    TByteReader offsets(co64 ? co64->Body : stco->Body);
    const size_t width = co64 ? 8 : 4;
    offsets.Skip(4);
    const uint32_t chunks = offsets.BE32();
    if (!offsets.Ok() || offsets.Left() / width < chunks) return true;
    TByteReader runs(stsc->Body);
    runs.Skip(4);
    const uint32_t runCount = runs.BE32();
    if (!runs.Ok() || runs.Left() / 12 < runCount || runCount == 0) return true;
    auto runAt = [&](uint32_t i, uint32_t* firstChunk, uint32_t* perChunk) {
      TByteReader r(stsc->Body.subspan(8 + size_t(i) * 12, 12));
      *firstChunk = r.BE32();
      *perChunk = r.BE32();
    };
    SampleOffsets.reserve(count);
    uint32_t run = 0, firstChunk = 0, perChunk = 0;
    runAt(0, &firstChunk, &perChunk);
    if (firstChunk != 1) return true;
    uint32_t sample = 0;
    for (uint32_t chunk = 1; chunk <= chunks && sample < count && !Truncated; ++chunk) {
      // The run this chunk belongs to.
      while (run + 1 < runCount) {
        uint32_t nextFirst = 0, nextPer = 0;
        runAt(run + 1, &nextFirst, &nextPer);
        if (nextFirst > chunk) break;
        if (nextFirst <= firstChunk) return true;  // runs out of order
        ++run;
        firstChunk = nextFirst;
        perChunk = nextPer;
      }
      uint64_t at = offsets.BE(width);
      for (uint32_t k = 0; k < perChunk && sample < count; ++k, ++sample) {
        const uint32_t size = SampleSizes[sample];
        if (at > uint64_t(fileSize) || size > uint64_t(fileSize) - at) {
          Truncated = true;
          break;
        }
        SampleOffsets.push_back(at);
        at += size;
      }
    }
    if (SampleOffsets.empty()) return true;
    if (SampleOffsets.size() < count) {
      // A cut-off file (or tables that list fewer chunks than samples): the
      // samples found are kept, their durations recounted.
      Truncated = true;
      SampleSizes.resize(SampleOffsets.size());
      TByteReader c(stts->Body);
      c.Skip(4);
      const uint32_t entries = c.BE32();
      uint64_t samples = 0;
      MediaUnits = 0;
      for (uint32_t i = 0; i < entries && c.Ok() && samples < SampleOffsets.size(); ++i) {
        uint64_t n = c.BE32();
        const uint64_t delta = c.BE32();
        n = std::min<uint64_t>(n, SampleOffsets.size() - samples);
        samples += n;
        MediaUnits += n * delta;
      }
    }
  }

  // Tags, and iTunSMPB.
  uint64_t smpbDelay = 0, smpbPadding = 0, smpbLength = 0;
  if (auto udta = Child(moov, FourCC("udta")))
    if (auto meta = Child(udta->Body, FourCC("meta")))
      if (auto ilst = Child(MetaChildren(meta->Body), FourCC("ilst"))) {
        for (const auto& item : Children(ilst->Body)) {
          if (item.Type == FourCC("\xA9nam")) Title = ItemText(item.Body);
          if (item.Type == FourCC("\xA9" "ART")) Artist = ItemText(item.Body);
          if (item.Type == FourCC("\xA9" "alb")) Album = ItemText(item.Body);
          if (item.Type == FourCC("aART")) AlbumArtist = ItemText(item.Body);
          if (item.Type == FourCC("\xA9wrt")) Composer = ItemText(item.Body);
          if (item.Type == FourCC("trkn")) {
            if (auto data = Child(item.Body, FourCC("data"))) {
              TByteReader c(data->Body);
              c.Skip(8 + 2);  // type, locale, reserved
              const uint16_t track = c.BE16();
              const uint16_t total = c.BE16();
              if (c.Ok()) {
                Track = track;
                TrackTotal = total;
              }
            }
          }
          if (item.Type == FourCC("----")) {
            auto name = Child(item.Body, FourCC("name"));
            if (!name || name->Body.size() < 4) continue;
            std::string_view n(reinterpret_cast<const char*>(name->Body.data()) + 4, name->Body.size() - 4);
            if (n == "ISRC") Isrc = ItemText(item.Body);
            if (n != "iTunSMPB") continue;
            std::string text = ItemText(item.Body);
            HasSMPB = ParseSMPB(text, &smpbDelay, &smpbPadding, &smpbLength);
          }
        }
      }

  Valid = HasFtyp && Codec != TMP4Codec::None && (ChannelCount == 1 || ChannelCount == 2) && SampleRate > 0 &&
          TimeScale > 0 && !DecoderConfig.empty();
  if (!Valid) return true;

  // Delay and length: the edit list, else iTunSMPB, else the whole track.
  HasEditList = edit.Present;
  const uint64_t media = MediaUnits;
  auto clampDelay = [&](uint64_t d) { return std::min(d, media); };
  if (edit.Present && (edit.MediaTime > 0 || !HasSMPB)) {
    EncoderDelay = clampDelay(uint64_t(edit.MediaTime));
    const uint64_t table = media - EncoderDelay;
    uint64_t length = table;
    if (edit.Duration > 0 && MovieTimeScale > 0) {
      const auto scaled = uint64_t((unsigned __int128)edit.Duration * TimeScale / MovieTimeScale);
      // The movie's units are coarser than the track's: the duration was
      // rounded to them; the sample tables are exact.
      const uint64_t slack = MovieTimeScale < TimeScale ? (TimeScale + MovieTimeScale - 1) / MovieTimeScale : 0;
      const uint64_t gap = scaled > table ? scaled - table : table - scaled;
      length = gap <= slack ? table : std::min(scaled, table);
    }
    PlayableUnits = length;
  } else if (HasSMPB) {
    EncoderDelay = clampDelay(smpbDelay);
    const uint64_t left = media - EncoderDelay;
    PlayableUnits = smpbLength > 0 ? std::min(smpbLength, left) : left - std::min(smpbPadding, left);
  } else {
    EncoderDelay = 0;
    PlayableUnits = media;
  }
  return true;
}

uint64_t TMP4File::PlayableFrames() const {
  if (!Valid) return 0;
  if (TimeScale == SampleRate) return PlayableUnits;
  return uint64_t((unsigned __int128)PlayableUnits * SampleRate / TimeScale);
}

int32_t TMP4File::DurationSectors() const {
  if (!Valid || SampleRate == 0) return 0;
  const uint64_t sectors = (uint64_t((unsigned __int128)PlayableFrames() * 75 + SampleRate - 1) / SampleRate);
  return int32_t(std::min<uint64_t>(sectors, INT32_MAX));
}

}  // namespace cv
