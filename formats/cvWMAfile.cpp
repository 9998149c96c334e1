#include "formats/cvWMAfile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "device/cvByteReader.h"
#include "formats/cvReadFile.h"
#include "formats/cvTagText.h"
#include "formats/cvUnicode.h"

namespace cv {
namespace {

using TGuid = std::array<uint8_t, 16>;

// GUIDs in their file byte order (first three groups little-endian).
constexpr TGuid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr TGuid kFileProperties = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                   0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr TGuid kStreamProperties = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                     0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr TGuid kContentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                       0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr TGuid kExtendedContentDescription = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                               0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};

constexpr size_t kMaxStringChars = 250;
constexpr int64_t kMinObjectSize = 24;

enum Slot { kTitle, kArtist, kAlbum, kTrack, kYear, kGenre, kComment, kSlotCount };

struct TDescriptorName {
  const char* Name;
  Slot Target;
};
constexpr TDescriptorName kDescriptorNames[] = {
    {"WM/TITLE", kTitle}, {"WM/AUTHOR", kArtist}, {"WM/ALBUMTITLE", kAlbum},
    {"WM/TRACK", kTrack}, {"WM/YEAR", kYear},     {"WM/GENRE", kGenre},
    {"WM/DESCRIPTION", kComment},
};

// The values collected by one walk.
struct THeaderSummary {
  int64_t FileSize = 0;
  int32_t MaxBitRate = 0;
  uint16_t Channels = 0;
  int32_t SampleRate = 0;
  int32_t AvgBytesPerSec = 0;
  uint16_t FormatTag = 0;
  std::u16string Slots[kSlotCount];
};

// Sequential reads over the file; any short read sets Failed and makes
// every later read fail as well.
class TCursor {
 public:
  explicit TCursor(TReadFile& file) : file_(file) {}
  int64_t Pos = 0;
  bool Failed = false;

  bool Read(void* dest, size_t n) {
    if (Failed) return false;
    if (file_.ReadAt(Pos, dest, n) != n) {
      Failed = true;
      return false;
    }
    Pos += static_cast<int64_t>(n);
    return true;
  }
  uint16_t U16() {
    uint8_t b[2] = {};
    Read(b, 2);
    return TByteReader(b).LE16();
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Read(b, 4);
    return TByteReader(b).LE32();
  }
  uint64_t U64() {
    uint8_t b[8] = {};
    Read(b, 8);
    return TByteReader(b).LE64();
  }
  void Skip(int64_t n) { Pos += n; }

  // A UTF-16LE string of L bytes: at most 250 code units are kept, the
  // rest of the string (and the odd byte of an odd length) is skipped.
  std::u16string String(uint32_t L) {
    size_t n = std::min<size_t>(L / 2, kMaxStringChars);
    uint8_t raw[kMaxStringChars * 2];
    std::u16string out;
    if (!Read(raw, n * 2)) return out;
    out.reserve(n);
    TByteReader units(std::span<const uint8_t>(raw, n * 2));
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(units.LE16()));
    Skip(static_cast<int64_t>(L) - static_cast<int64_t>(n * 2));
    return out;
  }

 private:
  TReadFile& file_;
};

void ReadContentDescription(TCursor& c, THeaderSummary& s) {
  uint16_t lengths[5];
  for (auto& l : lengths) l = c.U16();
  std::u16string texts[5];
  for (int i = 0; i < 5 && !c.Failed; ++i)
    if (lengths[i] != 0) texts[i] = c.String(lengths[i]);
  if (c.Failed) return;
  // Title, author, copyright, description, rating.
  if (lengths[0] != 0) s.Slots[kTitle] = texts[0];
  if (lengths[1] != 0) s.Slots[kArtist] = texts[1];
  if (lengths[3] != 0) s.Slots[kComment] = texts[3];
}

void ReadExtendedContentDescription(TCursor& c, THeaderSummary& s) {
  const uint16_t count = c.U16();
  for (uint32_t i = 0; i < count && !c.Failed; ++i) {
    const uint16_t nameLength = c.U16();
    std::u16string name = c.String(nameLength);
    const uint16_t type = c.U16();
    const uint16_t valueLength = c.U16();
    if (c.Failed) return;
    if (type != 0) {
      c.Skip(valueLength);
      continue;
    }
    std::u16string value = c.String(valueLength);
    if (c.Failed) return;
    const std::string key = UpperAscii(UTF16ToUTF8(TrimText16(name)));
    for (const auto& d : kDescriptorNames)
      if (key == d.Name) s.Slots[d.Target] = value;
  }
}

// Returns false on a short read.
bool WalkHeader(TReadFile& file, THeaderSummary& s) {
  TCursor c(file);
  TGuid id{};
  if (!c.Read(id.data(), id.size())) return false;
  if (id != kHeaderObject) return true;  // not ASF: nothing found
  c.Skip(8);
  const int32_t count = static_cast<int32_t>(c.U32());
  c.Skip(2);
  if (c.Failed) return false;
  for (int32_t i = 0; i < count; ++i) {
    const int64_t p = c.Pos;
    if (!c.Read(id.data(), id.size())) return false;
    const uint64_t size = c.U64();
    if (c.Failed) return false;
    // An object smaller than its own header would stall or reverse the walk.
    if (size < static_cast<uint64_t>(kMinObjectSize)) break;
    if (id == kFileProperties) {
      c.Skip(100 - 24);
      s.MaxBitRate = static_cast<int32_t>(c.U32());
    } else if (id == kStreamProperties) {
      c.Skip(78 - 24);
      s.FormatTag = c.U16();
      s.Channels = c.U16();
      s.SampleRate = static_cast<int32_t>(c.U32());
      s.AvgBytesPerSec = static_cast<int32_t>(c.U32());
    } else if (id == kContentDescription) {
      ReadContentDescription(c, s);
    } else if (id == kExtendedContentDescription) {
      ReadExtendedContentDescription(c, s);
    }
    if (c.Failed) return false;
    // An object running beyond the end of the file leaves the position
    // there; a further object then fails as a short read.
    const uint64_t room = static_cast<uint64_t>(file.Size() - p) + 1;
    c.Pos = p + static_cast<int64_t>(std::min<uint64_t>(size, room));
  }
  return true;
}

std::string SlotText(const THeaderSummary& s, Slot slot) { return UTF16ToUTF8(TrimText16(s.Slots[slot])); }

}  // namespace

TWMAfile::TWMAfile() { Clear(); }

void TWMAfile::Clear() {
  Valid = false;
  FileSize = 0;
  ChannelCount = 0;
  SampleRate = 0;
  DurationSectors = 0;
  BitRateKbps = 0;
  Title.clear();
  Artist.clear();
  Album.clear();
  Track = 0;
  Year.clear();
  Genre.clear();
  Comment.clear();
  FormatTag = 0;
  MaxBitRate = 0;
  AvgBytesPerSec = 0;
}

bool TWMAfile::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  if (!source.IsOpen()) {
    Clear();
    return false;
  }
  return ReadFileInfo(source);
}

bool TWMAfile::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TWMAfile::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);
  THeaderSummary s;
  s.FileSize = file.Size();
  if (!WalkHeader(file, s)) return false;

  const bool plausible = s.MaxBitRate >= 1 && s.MaxBitRate <= 1319999 &&
                         (s.Channels == 1 || s.Channels == 2) && s.SampleRate >= 8000 &&
                         s.SampleRate <= 96000 && s.AvgBytesPerSec >= 1 &&
                         s.AvgBytesPerSec <= 439999;
  if (!plausible) return true;

  Valid = true;
  FileSize = s.FileSize;
  ChannelCount = static_cast<uint8_t>(s.Channels);
  SampleRate = s.SampleRate;
  // ms = Ceil(file size x 8 / maximum bit rate x 1000), in 64-bit integers.
  const int64_t ms = CeilDiv(s.FileSize * 8 * 1000, s.MaxBitRate);
  DurationSectors = static_cast<int32_t>(std::min<int64_t>(SectorsFromMs(ms), INT32_MAX));
  BitRateKbps = static_cast<int32_t>(int64_t{s.AvgBytesPerSec} * 8 / 1000);
  Title = SlotText(s, kTitle);
  Artist = SlotText(s, kArtist);
  Album = SlotText(s, kAlbum);
  Track = ParseDecimal(SlotText(s, kTrack)).value_or(0);
  Year = SlotText(s, kYear);
  Genre = SlotText(s, kGenre);
  Comment = SlotText(s, kComment);
  FormatTag = s.FormatTag;
  MaxBitRate = s.MaxBitRate;
  AvgBytesPerSec = s.AvgBytesPerSec;
  return true;
}

}  // namespace cv
