// TFLACTags: the Vorbis comment block of a native FLAC file, for the texts a
// disc carries (title, artist, album, album artist, composer, ISRC).
//
// Reads the "fLaC" marker (behind an ID3v2 tag in front, if any) and walks
// the metadata blocks up to the last one, at most 64 of them; the
// VORBIS_COMMENT block (type 4) gives the texts. Every comment is read up to
// 1024 bytes, and the walk never reads beyond the block or the file whatever
// the lengths claim. Values are UTF-8 (the valid prefix, trimmed). It never
// decodes audio.
//
// ReadTags raises EInOutError (device/cvIOError.h) when the file cannot be
// opened; a file that is not FLAC, or has no comment block, gives False
// with the fields cleared. Owned by its creator; one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"

namespace cv {

class TFLACTags {
 public:
  void Clear();

  // Clears, then reads. True when the file is FLAC and has a Vorbis comment
  // block.
  bool ReadTags(const std::string& FileName);
  bool ReadTags(TByteSource& Source);
  bool ReadTags(std::span<const std::uint8_t> FileBytes);

  std::string Title, Artist, Album;
  std::string AlbumArtist;  // ALBUMARTIST or "ALBUM ARTIST"
  std::string Composer;
  std::string Isrc;
};

}  // namespace cv
