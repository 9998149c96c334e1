#include "formats/cvFLACTags.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <vector>

#include "device/cvIOError.h"
#include "formats/cvTagText.h"

namespace cv {
namespace {

constexpr int kMaxBlocks = 64;
constexpr std::uint32_t kMaxCommentBytes = 1024;
constexpr std::uint8_t kVorbisCommentBlock = 4;

// Bytes of an ID3v2 tag at the start (header, body, footer), 0 when none.
std::int64_t ID3v2Bytes(TByteSource& source) {
  std::uint8_t h[10];
  if (!source.ReadExact(0, h) || h[0] != 'I' || h[1] != 'D' || h[2] != '3') return 0;
  if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
  const std::int64_t body = std::int64_t{h[6]} << 21 | h[7] << 14 | h[8] << 7 | h[9];
  return 10 + body + ((h[5] & 0x10) ? 10 : 0);
}

}  // namespace

void TFLACTags::Clear() { *this = TFLACTags(); }

bool TFLACTags::ReadTags(const std::string& FileName) {
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
  return ReadTags(source);
}

bool TFLACTags::ReadTags(std::span<const std::uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadTags(source);
}

bool TFLACTags::ReadTags(TByteSource& Source) {
  Clear();
  std::int64_t at = ID3v2Bytes(Source);
  std::uint8_t marker[4];
  if (!Source.ReadExact(at, marker) || std::string_view(reinterpret_cast<char*>(marker), 4) != "fLaC") return false;
  at += 4;
  for (int n = 0; n < kMaxBlocks; ++n) {
    std::uint8_t header[4];
    if (!Source.ReadExact(at, header)) return false;
    const bool last = (header[0] & 0x80) != 0;
    const std::uint32_t length = std::uint32_t{header[1]} << 16 | header[2] << 8 | header[3];
    const std::int64_t body = at + 4;
    const std::int64_t end = body + length;
    if ((header[0] & 0x7F) == kVorbisCommentBlock) {
      // Vendor string, comment count, comments: each a little-endian 32-bit
      // length and that many bytes.
      auto readLength = [&](std::int64_t pos, std::uint32_t& value) {
        std::uint8_t b[4];
        if (pos + 4 > end || !Source.ReadExact(pos, b)) return false;
        value = GetLE32(b);
        return true;
      };
      std::uint32_t vendor = 0, count = 0;
      if (!readLength(body, vendor)) return false;
      std::int64_t pos = body + 4 + vendor;
      if (!readLength(pos, count)) return false;
      pos += 4;
      std::vector<std::uint8_t> text;
      for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t size = 0;
        if (!readLength(pos, size)) break;
        pos += 4;
        if (pos + size > end) break;
        text.resize(std::min(size, kMaxCommentBytes));
        if (!Source.ReadExact(pos, text)) break;
        pos += size;
        const std::string_view comment(reinterpret_cast<const char*>(text.data()), text.size());
        const std::size_t eq = comment.find('=');
        if (eq == std::string_view::npos) continue;
        const std::string name = UpperAscii(comment.substr(0, eq));
        std::string value = Utf8ValidPrefix(TrimText(comment.substr(eq + 1)));
        std::string* field = name == "TITLE"                                ? &Title
                             : name == "ARTIST"                             ? &Artist
                             : name == "ALBUM"                              ? &Album
                             : name == "ALBUMARTIST" || name == "ALBUM ARTIST" ? &AlbumArtist
                             : name == "COMPOSER"                           ? &Composer
                             : name == "ISRC"                               ? &Isrc
                                                                            : nullptr;
        // The first of a repeated field counts.
        if (field && field->empty()) *field = std::move(value);
      }
      return true;
    }
    if (last) return false;
    at = end;
  }
  return false;
}

}  // namespace cv
