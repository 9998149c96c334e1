// TVorbisComment: the tags of a Vorbis comment block, as FLAC files and Ogg
// Opus streams carry them (a vendor string, then NAME=value entries, every
// length a 32-bit little-endian count).
//
// Parse reads the block from bytes already in memory; every length is
// checked against what is there, so a count or length larger than the
// block ends the walk with what was read so far. Names compare without
// regard to ASCII case; values keep their valid UTF-8 prefix, trimmed.
//
// A plain value; one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cv {

struct TVorbisComment {
  std::string Vendor;
  std::string Title, Artist, Album, Date, Genre, Comment;
  // ALBUMARTIST (or "ALBUM ARTIST"), COMPOSER and ISRC, for a disc's texts.
  std::string AlbumArtist, Composer, Isrc;
  uint16_t Track = 0;  // TRACKNUMBER up to a '/', 0 when absent or not a number

  // Clears, then reads Block. False when even the vendor string is not
  // whole (the fields read before stay).
  bool Parse(std::span<const uint8_t> Block);
};

}  // namespace cv
