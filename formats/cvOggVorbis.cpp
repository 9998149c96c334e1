#include "formats/cvOggVorbis.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <cstring>

#include "device/cvByteReader.h"
#include "device/cvIOError.h"
#include "formats/cvReadFile.h"
#include "formats/cvTagText.h"

namespace cv {
namespace {

constexpr size_t kPageHeaderRead = 282;  // 27-byte page header + 255 segments
constexpr size_t kIdHeaderSize = 30;
constexpr size_t kMaxCommentBytes = 250;
constexpr int64_t kSearchStep = 241;
constexpr int kSearchWindows = 50;

// The tag's size bytes are taken whole (not checked for sync-safety), as
// the header reader has always done.
int64_t ReadID3v2Size(TReadFile& file) {
  uint8_t h[10] = {};
  if (file.ReadAt(0, h, 10) != 10 || std::memcmp(h, "ID3", 3) != 0) return 0;
  TByteReader r(h, 5);
  const uint8_t flags = r.U8();
  const uint32_t b = r.BE32();
  int64_t size = int64_t{b >> 24} * (1 << 21) + int64_t{(b >> 16) & 0xFF} * (1 << 14) +
                 int64_t{(b >> 8) & 0xFF} * (1 << 7) + (b & 0xFF) + 10;
  if (flags & 0x10) size += 10;
  if (size > file.Size()) return 0;
  return size;
}

enum Slot {
  kVendor, kTitle, kArtist, kAlbum, kTrack, kDate, kGenre, kComment, kPerformer, kDescription,
  kAlbumArtist, kComposer, kIsrc,
  kSlotCount
};

struct TCommentName {
  const char* Name;
  Slot Target;
};
constexpr TCommentName kCommentNames[] = {
    {"TITLE", kTitle},     {"ARTIST", kArtist},     {"ALBUM", kAlbum},
    {"TRACKNUMBER", kTrack}, {"DATE", kDate},       {"GENRE", kGenre},
    {"COMMENT", kComment}, {"PERFORMER", kPerformer}, {"DESCRIPTION", kDescription},
    {"ALBUMARTIST", kAlbumArtist}, {"ALBUM ARTIST", kAlbumArtist}, {"COMPOSER", kComposer},
    {"ISRC", kIsrc},
};


void Interpret(const std::string& text, std::string (&slots)[kSlotCount]) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos) {
    if (slots[kVendor].empty()) slots[kVendor] = Utf8ValidPrefix(text);
    return;
  }
  const std::string name = UpperAscii(text.substr(0, eq));
  for (const auto& c : kCommentNames)
    if (name == c.Name) slots[c.Target] = Utf8ValidPrefix(TrimText(text.substr(eq + 1)));
}

// Entry 0 is the vendor string, entries 1 .. count the comments; every entry
// is a 32-bit length and that many bytes, of which the first 250 are read.
// A short read ends the walk, so a count larger than the file holds stops at
// the end of the file.
void ReadComments(TReadFile& file, int64_t pos, std::string (&slots)[kSlotCount]) {
  int32_t count = 0;
  for (int64_t entry = 0; entry == 0 || count >= entry; ++entry) {
    uint8_t lb[4];
    if (file.ReadAt(pos, lb, 4) != 4) return;
    const uint32_t length = TByteReader(lb).LE32();
    const int64_t q = pos + 4;
    const size_t want = std::min<size_t>(length, kMaxCommentBytes);
    if (want > 0) {  // an empty entry changes nothing
      char buffer[kMaxCommentBytes] = {};
      if (file.ReadAt(q, buffer, want) != want) return;
      Interpret(TrimText(std::string_view(buffer, kMaxCommentBytes)), slots);
    }
    pos = q + length;
    if (entry == 0) {
      uint8_t cb[4];
      if (file.ReadAt(pos, cb, 4) != 4) return;
      count = static_cast<int32_t>(TByteReader(cb).LE32());
      pos += 4;
    }
  }
}

// The last "OggS" in the search range, scanned from the end backwards: the
// range of the overlapping windows at file size - i x 241 - 10 (i = 1 .. 50),
// cut at the start of the file.
int64_t FindLastPage(TReadFile& file) {
  const int64_t size = file.Size();
  const int64_t hi = size - 10;  // a page starting later holds no granule
  const int64_t lo = std::max<int64_t>(0, size - kSearchWindows * kSearchStep - 10);
  if (hi < lo) return -1;
  const auto tail = file.ReadZeroFilled(lo, static_cast<size_t>(hi - lo + 4));
  for (int64_t a = hi; a >= lo; --a) {
    const size_t at = static_cast<size_t>(a - lo);
    if (std::memcmp(tail.data() + at, "OggS", 4) == 0) return a;
  }
  return -1;
}

// Round half to even of Num / Den (Den > 0), as the run-time's Round does.
int64_t RoundRatio(int64_t Num, int64_t Den) {
  const bool negative = Num < 0;
  if (negative) Num = -Num;
  int64_t q = Num / Den, r = Num % Den;
  if (2 * r > Den || (2 * r == Den && (q & 1))) ++q;
  return negative ? -q : q;
}

}  // namespace

TOGGFile::TOGGFile() { Clear(); }

void TOGGFile::Clear() {
  FileSize = 0;
  SampleRate = 0;
  BitRateNominal = 0;
  Samples = 0;
  ID3v2Size = 0;
  Title.clear();
  Artist.clear();
  Album.clear();
  Track = 0;
  Date.clear();
  Genre.clear();
  Comment.clear();
  Vendor.clear();
  AlbumArtist.clear();
  Composer.clear();
  Isrc.clear();
  ChannelCount = 0;
}

bool TOGGFile::ReadFileInfo(const std::string& FileName) {
  // A directory opens as a stream but cannot be read.
  std::error_code ec;
  if (std::filesystem::is_directory(FileName, ec)) {
    Clear();
    throw EInOutError(EISDIR, FileName);
  }
  TFileByteSource source(FileName);
  if (!source.IsOpen()) {
    Clear();
    throw EInOutError(source.OpenError(), FileName);
  }
  return ReadFileInfo(source);
}

bool TOGGFile::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TOGGFile::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);

  const int64_t fileSize = file.Size();
  const int64_t id3 = ReadID3v2Size(file);

  const auto page1 = file.ReadZeroFilled(id3, kPageHeaderRead);
  if (std::memcmp(page1.data(), "OggS", 4) != 0) return false;
  const int64_t idAt = id3 + 27 + page1[26];
  const auto ident = file.ReadZeroFilled(idAt, kIdHeaderSize);
  if (ident[0] != 0x01 || std::memcmp(ident.data() + 1, "vorbis", 6) != 0) return false;

  std::string slots[kSlotCount];
  const int64_t p = idAt + kIdHeaderSize;
  const auto page2 = file.ReadZeroFilled(p, kPageHeaderRead);
  const int64_t commentAt = p + 27 + page2[26];
  const auto signature = file.ReadZeroFilled(commentAt, 7);
  if (signature[0] == 0x03 && std::memcmp(signature.data() + 1, "vorbis", 6) == 0)
    ReadComments(file, commentAt + 7, slots);

  int32_t samples = 0;
  if (int64_t last = FindLastPage(file); last >= 0) {
    const auto header = file.ReadZeroFilled(last, 27);
    samples = static_cast<int32_t>(TByteReader(header, 6).LE32());
  }

  FileSize = fileSize;
  ChannelCount = ident[11];
  SampleRate = TByteReader(ident, 12).LE32();
  // A negative nominal rate means "not set".
  const int32_t nominal = static_cast<int32_t>(TByteReader(ident, 20).LE32());
  BitRateNominal = static_cast<uint16_t>(nominal > 0 ? RoundRatio(nominal, 1000) : 0);
  Samples = samples;
  ID3v2Size = static_cast<int32_t>(id3);
  Title = slots[kTitle];
  Artist = slots[kArtist].empty() ? slots[kPerformer] : slots[kArtist];
  Album = slots[kAlbum];
  {
    const std::string& t = slots[kTrack];
    const auto number = ParseDecimal(t.substr(0, t.find('/')));
    Track = static_cast<uint16_t>(static_cast<uint32_t>(number.value_or(0)) & 0xFF);
  }
  Date = slots[kDate];
  Genre = slots[kGenre];
  Comment = slots[kComment].empty() ? slots[kDescription] : slots[kComment];
  Vendor = slots[kVendor];
  AlbumArtist = slots[kAlbumArtist];
  Composer = slots[kComposer];
  Isrc = slots[kIsrc];
  return true;
}

int32_t TOGGFile::DurationSectors() const {
  // x seconds as the ratio num / den; result = Ceil(x x 75 + Ceil(x / 13.333)).
  int64_t num = 0, den = 1;
  if (Samples > 0) {
    if (SampleRate == 0) return 0;
    num = Samples;
    den = SampleRate;
  } else if (BitRateNominal > 0 && ChannelCount > 0) {
    // x = Ceil((FileSize - ID3v2Size) / BitRateNominal / ChannelCount / 125 x 2)
    const int64_t bytes = std::max<int64_t>(0, FileSize - ID3v2Size);
    num = CeilDiv(bytes * 2, int64_t{BitRateNominal} * ChannelCount * 125);
    den = 1;
  } else {
    return 0;
  }
  const int64_t sectors = CeilDiv(num * 75, den) + CeilDiv(num * 1000, den * 13333);
  return static_cast<int32_t>(std::min<int64_t>(sectors, INT32_MAX));
}

uint16_t TOGGFile::BitRate() const {
  const int64_t d = DurationSectors();
  if (d < 1) return 0;
  // Bytes per second / 125 with the duration in seconds (DurationSectors / 75).
  const int64_t bytes = std::max<int64_t>(0, FileSize - ID3v2Size);
  const int64_t kbps = RoundRatio(bytes * 75, d * 125);
  return static_cast<uint16_t>(std::min<int64_t>(kbps, 0xFFFF));
}

bool TOGGFile::IsValid() const {
  return (ChannelCount == 1 || ChannelCount == 2) && SampleRate > 0 && DurationSectors() > 0 &&
         BitRate() > 0;
}

}  // namespace cv
