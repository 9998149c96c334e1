#include "formats/cvAIFFfile.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "device/cvByteReader.h"
#include "formats/cvID3v2.h"
#include "formats/cvReadFile.h"
#include "formats/cvTagText.h"

namespace cv {
namespace {

constexpr int kMaxChunks = 4096;
constexpr uint32_t kMaxTextChunk = 4096;
constexpr uint32_t kMaxID3Chunk = 1 << 20;

std::string TextChunk(TReadFile& file, int64_t at, uint32_t size) {
  std::vector<uint8_t> bytes(std::min(size, kMaxTextChunk));
  bytes.resize(file.ReadAt(at, bytes.data(), bytes.size()));
  std::string text(bytes.begin(), bytes.end());
  if (auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
  return Utf8ValidPrefix(TrimText(text));
}

}  // namespace

uint32_t ExtendedToUInt(std::span<const uint8_t, 10> Bytes) {
  TByteReader r(Bytes);
  const uint16_t signExp = r.BE16();
  const uint64_t mantissa = r.BE64();
  if ((signExp & 0x8000) || mantissa == 0 || (signExp & 0x7FFF) == 0x7FFF) return 0;
  // value = mantissa x 2^(exponent - 16383 - 63)
  const int shift = int(signExp & 0x7FFF) - 16383 - 63;
  if (shift >= 0) return 0;  // 2^63 and more
  if (shift < -64) return 0;  // below one half
  const int s = -shift;
  const uint64_t whole = s == 64 ? 0 : mantissa >> s;
  const bool roundUp = (mantissa >> (s - 1)) & 1;
  const uint64_t value = whole + (roundUp ? 1 : 0);
  return value > UINT32_MAX ? 0 : uint32_t(value);
}

bool TAIFFfile::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  return ReadFileInfo(source);
}

bool TAIFFfile::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TAIFFfile::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);
  uint8_t head[12];
  if (file.ReadAt(0, head, 12) != 12) return false;
  TByteReader h(head);
  if (!h.Expect("FORM")) return false;
  const uint32_t formSize = h.BE32();
  const std::string type = h.Text(4);
  if (type != "AIFF" && type != "AIFC") return false;

  TAIFFfile found;
  found.FileSize = file.Size();
  found.AIFC = type == "AIFC";
  found.Compression = "NONE";
  // A FORM size beyond the file (a file being written) ends at the file.
  const int64_t end = std::min<int64_t>(found.FileSize, int64_t{formSize} + 8);
  bool comm = false, ssnd = false;
  int64_t pos = 12;
  for (int n = 0; n < kMaxChunks && pos + 8 <= end; ++n) {
    uint8_t ch[8];
    if (file.ReadAt(pos, ch, 8) != 8) break;
    TByteReader c(ch);
    const std::string id = c.Text(4);
    const uint32_t size = c.BE32();
    const int64_t body = pos + 8;
    const int64_t avail = std::max<int64_t>(0, std::min<int64_t>(size, end - body));
    if (id == "COMM" && !comm) {
      uint8_t bytes[64] = {};
      const size_t got = file.ReadAt(body, bytes, size_t(std::min<int64_t>(avail, 64)));
      TByteReader r(std::span<const uint8_t>(bytes, got));
      found.ChannelCount = r.BE16();
      found.SampleFrames = r.BE32();
      found.SampleSize = r.BE16();
      auto rate = r.Bytes(10);
      if (!r.Ok()) break;
      found.SampleRate = ExtendedToUInt(std::span<const uint8_t, 10>(rate.data(), 10));
      if (found.AIFC) {
        found.Compression = r.Text(4);
        if (!r.Ok()) break;
      }
      comm = true;
    } else if (id == "SSND" && !ssnd && avail >= 8) {
      uint8_t bytes[8];
      file.ReadAt(body, bytes, 8);
      TByteReader r(bytes);
      // An offset beyond the chunk leaves no samples (and never points
      // past the file).
      const int64_t offset = std::min<int64_t>(r.BE32(), avail - 8);
      found.DataOffset = body + 8 + offset;
      found.DataSize = avail - 8 - offset;
      ssnd = true;
    } else if (id == "NAME") {
      found.Title = TextChunk(file, body, uint32_t(avail));
    } else if (id == "AUTH") {
      found.Artist = TextChunk(file, body, uint32_t(avail));
    } else if (id == "ANNO" && found.Comment.empty()) {
      found.Comment = TextChunk(file, body, uint32_t(avail));
    } else if ((id == "ID3 " || id == "id3 ") && avail >= 10) {
      std::vector<uint8_t> bytes(size_t(std::min<int64_t>(avail, kMaxID3Chunk)));
      if (file.ReadAt(body, bytes.data(), bytes.size()) == bytes.size()) {
        TID3v2 tag;
        if (tag.ReadTag(bytes) && tag.Present) {
          auto take = [](std::string& slot, const std::string& value) {
            if (!value.empty()) slot = value;
          };
          take(found.Title, tag.Title);
          take(found.Artist, tag.Artist);
          take(found.Album, tag.Album);
          take(found.Year, tag.Year);
          take(found.Genre, tag.Genre);
          take(found.Comment, tag.Comment);
          if (tag.Track) found.Track = tag.Track;
        }
      }
    }
    if (int64_t{size} > end - body) break;  // the chunk runs to (or past) the end
    pos = body + size + (size & 1);
  }
  if (!comm) return false;

  const std::string& k = found.Compression;
  bool known = true;
  if (k == "NONE" || k == "twos" || k == "in24" || k == "in32") {
  } else if (k == "sowt") {
    found.LittleEndian = true;
  } else if (k == "raw ") {
    found.Unsigned = true;
  } else if (k == "fl32" || k == "FL32") {
    found.Float = true;
    found.SampleSize = 32;
  } else if (k == "fl64" || k == "FL64") {
    found.Float = true;
    found.SampleSize = 64;
  } else {
    known = false;
  }
  found.Valid = known && ssnd && found.ChannelCount >= 1 && found.SampleRate > 0 && found.SampleSize >= 1 &&
                found.SampleSize <= 64 && (found.Float || found.SampleSize <= 32);
  *this = std::move(found);
  return true;
}

uint32_t TAIFFfile::BytesPerSample() const { return (uint32_t{SampleSize} + 7) / 8; }

uint64_t TAIFFfile::Frames() const {
  const uint64_t frameBytes = uint64_t{BytesPerSample()} * ChannelCount;
  if (!Valid || frameBytes == 0) return 0;
  return std::min<uint64_t>(SampleFrames, uint64_t(DataSize) / frameBytes);
}

int32_t TAIFFfile::DurationSectors() const {
  if (!Valid || SampleRate == 0) return 0;
  const uint64_t sectors = (Frames() * 75 + SampleRate - 1) / SampleRate;
  return int32_t(std::min<uint64_t>(sectors, INT32_MAX));
}

}  // namespace cv
