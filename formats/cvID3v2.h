// ID3v2 tag reader (major versions 2, 3 and 4): the tag at the start of an
// audio file, its whole size (where the audio begins) and the texts of
// sixteen frames folded into thirteen fields.
//
// Frames are read only as far as their first 500 bytes; ISO-8859-1 and
// UTF-16 (with its byte-order mark) texts are taken and converted to UTF-8,
// other encodings are left out. The reader never writes and never allocates
// what the file claims. TMP3File owns one TID3v2; an object is used by one
// thread at a time, separate objects share nothing.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/cvByteSource.h"

namespace cv {

class TID3v2 {
 public:
  // Longest part of a frame's content that is read.
  static constexpr int kMaxFrameContent = 500;
  // Number of frame slots (frame table below).
  static constexpr int kSlotCount = 16;

  // The working record of one read.
  struct TagInfo {
    char ID[3] = {};               // header bytes 0 .. 2
    std::uint8_t Version = 0;      // header byte 3
    std::uint8_t Revision = 0;     // header byte 4
    std::uint8_t Flags = 0;        // header byte 5
    std::uint8_t Size[4] = {};     // header bytes 6 .. 9
    std::int64_t FileSize = 0;     // size of the whole file
    // Slot contents 1 .. 16 at [0] .. [15]: the first 500 content bytes of
    // the selected frame (zero-padded), empty when absent.
    std::array<std::string, kSlotCount> Frame;
  };

  TID3v2();  // cleared

  // Present := false, Version := 0, Size := 0, Track := 0, texts empty.
  void Clear();

  // Reads the tag at the start of the named file. True when its first 10
  // bytes could be read (whether or not they are a tag: Present says that);
  // false, with the object cleared, when the file cannot be opened or is
  // shorter. Never throws.
  bool ReadTag(const std::string& FileName);
  // The same over an already opened source.
  bool ReadTag(TByteSource& Source);
  // The same over bytes in memory (the whole file).
  bool ReadTag(std::span<const std::uint8_t> FileBytes);

  bool Present = false;       // the file begins with "ID3"
  std::uint8_t Version = 0;   // major version (frames read only for 2, 3, 4)
  // Whole tag size, header and footer included; 0 without a tag or when the
  // tag would be longer than the file.
  std::int32_t Size = 0;
  std::string Title;
  std::string Artist;
  std::string Album;
  std::uint16_t Track = 0;    // track number (low 16 bits of the parsed text)
  std::string TrackText;      // the decoded track text as it stands ("5/12")
  std::string Year;
  std::string Genre;
  std::string Comment;
  std::string Composer;
  std::string Encoder;
  std::string Copyright;
  std::string Language;
  std::string Link;
  // Beyond the sixteen frames: TPE2 (album artist) and TSRC (ISRC).
  std::string AlbumArtist;
  std::string Isrc;

  // --- Text helpers, public for their tests. ---

  // A slot content (encoding byte first) decoded to UTF-8 and trimmed of
  // characters of code 32 or less at both ends. Encoding 1 is UTF-16 with an
  // optional byte-order mark (FF FE little-endian, FE FF big-endian; little-
  // endian without one), ending at the first zero unit; anything else is
  // taken as ISO-8859-1.
  static std::string DecodeText(std::string_view content);
  // The text behind the content description of a COMM (withLanguage true:
  // encoding, language code, description, text) or WXXX frame (encoding,
  // description, link).
  static std::string ExtractText(std::string_view content, bool withLanguage);
  // The track number in a track text: the part before the first "/" as a
  // 32-bit signed integer (decimal, or hexadecimal after "$", "x" or "0x"),
  // its low 16 bits; 0 when it is not a valid integer.
  static std::uint16_t TrackNumber(std::string_view trackText);
};

}  // namespace cv
