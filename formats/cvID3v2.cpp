#include "formats/cvID3v2.h"

#include <algorithm>
#include <cstring>

#include "device/cvByteReader.h"
#include "formats/cvUnicode.h"

namespace cv {

namespace {

// Frame IDs per slot: versions 3 and 4, then version 2.
constexpr std::array<std::string_view, TID3v2::kSlotCount> kFrameIDs4 = {
    "TIT2", "TPE1", "TALB", "TRCK", "TYER", "TCON", "COMM", "TCOM",
    "TENC", "TCOP", "TLAN", "WXXX", "TDRC", "TOPE", "TIT1", "TOAL"};
constexpr std::array<std::string_view, TID3v2::kSlotCount> kFrameIDs2 = {
    "TT2", "TP1", "TAL", "TRK", "TYE", "TCO", "COM", "TCM",
    "TEN", "TCR", "TLA", "WXX", "TOR", "TOA", "TT1", "TOT"};
// Frames read beyond the slots, for a disc's texts and codes: the album
// artist (band/orchestra) and the ISRC; versions 3 and 4, then version 2.
constexpr std::array<std::string_view, 2> kExtraIDs4 = {"TPE2", "TSRC"};
constexpr std::array<std::string_view, 2> kExtraIDs2 = {"TP2", "TRC"};

constexpr std::uint8_t kFooterFlag = 0x10;
// Version 3: second flag byte, compression.
constexpr std::uint8_t kV3Compressed = 0x80;
// Version 4: second flag byte, compression, encryption, data length indicator.
constexpr std::uint8_t kV4Compressed = 0x08;
constexpr std::uint8_t kV4Encrypted = 0x04;
constexpr std::uint8_t kV4DataLength = 0x01;

bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimBoth(std::string_view s) {
  while (!s.empty() && IsSpaceOrControl(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpaceOrControl(s.back())) s.remove_suffix(1);
  return s;
}

std::uint32_t BigEndian(const std::uint8_t* p, int count) {
  return static_cast<std::uint32_t>(TByteReader(std::span<const std::uint8_t>(p, std::size_t(count))).BE(std::size_t(count)));
}

// The first n code points of a UTF-8 text.
std::string FirstCharacters(const std::string& s, std::size_t n) {
  std::size_t i = 0;
  for (std::size_t count = 0; i < s.size() && count < n; ++count) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return s.substr(0, i);
}

}  // namespace

TID3v2::TID3v2() { Clear(); }

void TID3v2::Clear() {
  Present = false;
  Version = 0;
  Size = 0;
  Title.clear();
  Artist.clear();
  Album.clear();
  Track = 0;
  TrackText.clear();
  Year.clear();
  Genre.clear();
  Comment.clear();
  Composer.clear();
  Encoder.clear();
  Copyright.clear();
  Language.clear();
  Link.clear();
  AlbumArtist.clear();
  Isrc.clear();
}

bool TID3v2::ReadTag(const std::string& FileName) {
  TFileByteSource source(FileName);
  return ReadTag(source);
}

bool TID3v2::ReadTag(std::span<const std::uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadTag(source);
}

std::string TID3v2::DecodeText(std::string_view content) {
  if (!content.empty() && content.front() == 1) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(content.data());
    const std::size_t units = (content.size() - 1) / 2;
    bool bigEndian = false;
    std::size_t first = 0;
    if (units > 0) {
      if (bytes[1] == 0xFF && bytes[2] == 0xFE) {
        first = 1;
      } else if (bytes[1] == 0xFE && bytes[2] == 0xFF) {
        bigEndian = true;
        first = 1;
      }
    }
    std::u16string text;
    for (std::size_t i = first; i < units; ++i) {
      const unsigned a = bytes[1 + 2 * i];
      const unsigned b = bytes[2 + 2 * i];
      const char16_t u = static_cast<char16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
      if (u == 0) break;
      text.push_back(u);
    }
    const std::string utf8 = UTF16ToUTF8(text);
    return std::string(TrimBoth(utf8));
  }
  return Latin1ToUTF8(TrimBoth(content));
}

std::string TID3v2::ExtractText(std::string_view content, bool withLanguage) {
  if (content.empty()) return {};
  const char encoding = content.front();
  const bool wide = encoding == 1;
  std::string_view rest = content.substr(std::min<std::size_t>(content.size(), withLanguage ? 4 : 1));
  // Skip the content description and its terminator. A UTF-16 terminator is
  // one zero code unit, so it is looked for at unit boundaries only: a zero
  // high byte of the description's last character is not part of it.
  std::size_t skip = wide ? 1 : 0;  // when there is no terminator
  if (wide) {
    for (std::size_t i = 0; i + 1 < rest.size(); i += 2) {
      if (rest[i] == 0 && rest[i + 1] == 0) {
        skip = i + 2;
        break;
      }
    }
  } else {
    const std::size_t zero = rest.find('\0');
    if (zero != std::string_view::npos) skip = zero + 1;
  }
  rest.remove_prefix(std::min(skip, rest.size()));
  std::string text(1, encoding);
  text.append(rest);
  return DecodeText(text);
}

std::uint16_t TID3v2::TrackNumber(std::string_view trackText) {
  std::string_view s = trackText.substr(0, trackText.find('/'));
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  bool hex = false;
  if (!s.empty() && (s.front() == '$' || s.front() == 'x' || s.front() == 'X')) {
    hex = true;
    s.remove_prefix(1);
  } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    hex = true;
    s.remove_prefix(2);
  }
  if (s.empty()) return 0;
  std::int64_t value = 0;
  for (const char c : s) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return 0;
    }
    value = value * (hex ? 16 : 10) + digit;
    // Beyond 32 bits: not a valid integer.
    if (hex ? value > 0xFFFFFFFFLL : value > (negative ? 2147483648LL : 2147483647LL)) return 0;
  }
  std::int32_t result;
  if (hex) {
    result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    if (negative) result = static_cast<std::int32_t>(0u - static_cast<std::uint32_t>(result));
  } else {
    result = static_cast<std::int32_t>(negative ? -value : value);
  }
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(result) & 0xFFFF);
}

bool TID3v2::ReadTag(TByteSource& Source) {
  Clear();
  TagInfo info;
  if (!Source.IsOpen()) return false;
  std::uint8_t header[10];
  if (!Source.ReadExact(0, header)) return false;
  std::memcpy(info.ID, header, 3);
  info.Version = header[3];
  info.Revision = header[4];
  info.Flags = header[5];
  std::memcpy(info.Size, header + 6, 4);
  info.FileSize = Source.Size();

  if (std::memcmp(info.ID, "ID3", 3) != 0) return true;
  Present = true;
  Version = info.Version;
  // The tag size's bytes are taken whole, as the tag writers of old did.
  std::int64_t size = static_cast<std::int64_t>(info.Size[0]) * (1 << 21) +
                      static_cast<std::int64_t>(info.Size[1]) * (1 << 14) +
                      static_cast<std::int64_t>(info.Size[2]) * (1 << 7) + info.Size[3] + 10;
  if (info.Flags & kFooterFlag) size += 10;
  if (info.FileSize < size) size = 0;
  Size = static_cast<std::int32_t>(size);
  if (Version < 2 || Version > 4 || Size <= 0) return true;

  // Collect the frames.
  const bool wideIDs = Version >= 3;
  const int headerSize = wideIDs ? 10 : 6;
  const auto& ids = wideIDs ? kFrameIDs4 : kFrameIDs2;
  const auto& extraIds = wideIDs ? kExtraIDs4 : kExtraIDs2;
  std::array<std::string, 2> extra;
  // Where the frames end: before the footer, if any.
  const std::int64_t framesEnd = Size - ((info.Flags & kFooterFlag) ? 10 : 0);
  // Whether a frame may end at next: the end of the frames, padding, or
  // another frame's four-character ID.
  auto landsOnFrame = [&](std::int64_t next) {
    if (next == framesEnd) return true;
    if (next > framesEnd) return false;
    std::uint8_t id[4] = {};
    if (!Source.ReadExact(next, std::span(id, std::min<std::int64_t>(4, framesEnd - next)))) return false;
    if (id[0] == 0) return true;
    if (framesEnd - next < 4) return false;
    return std::all_of(id, id + 4, [](std::uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
  };
  std::int64_t position = 10;
  while (position < Size && position < info.FileSize) {
    std::uint8_t frameHeader[10] = {};
    if (!Source.ReadExact(position, std::span(frameHeader, headerSize))) break;
    if (frameHeader[0] < 'A' || frameHeader[0] > 'Z') break;
    std::int64_t contentStart = position + headerSize;
    std::int64_t contentSize;
    if (Version == 2) {
      contentSize = BigEndian(frameHeader + 3, 3);
    } else if (Version == 3) {
      const std::uint32_t raw = BigEndian(frameHeader + 4, 4);
      if (raw & 0x80000000u) break;  // no sane frame is that long
      contentSize = raw;
    } else {
      // Version 4 frame sizes are sync-safe: 7 bits per byte. Some taggers
      // write plain sizes all the same: where the sync-safe reading does not
      // end on a frame and the plain one does, the plain one holds.
      const std::uint8_t* b = frameHeader + 4;
      const std::int64_t plain = BigEndian(b, 4);
      const bool syncSafe = !((b[0] | b[1] | b[2] | b[3]) & 0x80);
      const std::int64_t safe = (static_cast<std::int64_t>(b[0] & 0x7F) << 21) | ((b[1] & 0x7F) << 14) |
                                ((b[2] & 0x7F) << 7) | (b[3] & 0x7F);
      if (syncSafe && (safe == plain || landsOnFrame(contentStart + safe)))
        contentSize = safe;
      else if (plain < 0x80000000LL && landsOnFrame(contentStart + plain))
        contentSize = plain;
      else if (syncSafe)
        contentSize = safe;
      else
        break;
    }
    const std::int64_t next = contentStart + contentSize;

    bool store = true;
    if (wideIDs && (frameHeader[9] & kV3Compressed)) store = false;
    std::int64_t textStart = contentStart;
    std::int64_t textSize = contentSize;
    if (Version == 4) {
      if (frameHeader[9] & (kV4Compressed | kV4Encrypted)) store = false;
      if (frameHeader[9] & kV4DataLength) {  // a 4-byte length precedes the content
        textStart += 4;
        textSize = std::max<std::int64_t>(0, textSize - 4);
      }
    }

    std::string buffer(kMaxFrameContent, '\0');
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(textSize, kMaxFrameContent));
    if (!Source.ReadExact(textStart, std::span(reinterpret_cast<std::uint8_t*>(buffer.data()), want))) break;

    if (store && (buffer[0] == 0 || buffer[0] == 1)) {
      const std::string_view id(reinterpret_cast<const char*>(frameHeader), wideIDs ? 4 : 3);
      for (int slot = 0; slot < kSlotCount; ++slot) {
        if (ids[slot] == id) info.Frame[slot] = buffer;
      }
      for (std::size_t i = 0; i < extra.size(); ++i)
        if (extraIds[i] == id) extra[i] = buffer;
    }
    position = next;  // always ahead: the header alone moves it on
  }

  auto D = [&info](int slot) { return DecodeText(info.Frame[slot - 1]); };
  Title = D(1);
  if (Title.empty()) Title = D(15);
  Artist = D(2);
  if (Artist.empty()) Artist = D(14);
  Album = D(3);
  if (Album.empty()) Album = D(16);
  TrackText = D(4);
  Track = TrackNumber(TrackText);
  Year = D(5);
  if (Year.empty()) Year = FirstCharacters(D(13), 4);
  Genre = D(6);
  if (const auto close = Genre.rfind(')'); close != std::string::npos) Genre.erase(0, close + 1);
  Comment = ExtractText(info.Frame[6], true);
  Composer = D(8);
  Encoder = D(9);
  Copyright = D(10);
  Language = D(11);
  Link = ExtractText(info.Frame[11], false);
  AlbumArtist = DecodeText(extra[0]);
  Isrc = DecodeText(extra[1]);
  return true;
}

}  // namespace cv
