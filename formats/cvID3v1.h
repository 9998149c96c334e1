// ID3v1 / ID3v1.1 tag reader: the 128-byte tag that may stand at the very end
// of an audio file, and the table of genre names indexed by its genre byte.
//
// TMP3File owns one TID3v1 and reads it to learn whether the audio data ends
// 128 bytes before the end of the file. An object is used by one thread at a
// time; the genre table is constant and may be read from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "formats/cvByteSource.h"

namespace cv {

// Number of named genres (0 .. 147: the ID3v1 list and its Winamp extensions).
inline constexpr int kID3v1GenreCount = 148;

// Genre names indexed by the genre number, spellings as the players wrote
// them ("AlternRock", "Psychadelic", "Progessive Rock", ...).
extern const std::array<std::string_view, kID3v1GenreCount> ID3v1Genres;

// The genre's name; empty for 148 and above (255 = no genre).
std::string_view ID3v1GenreName(std::uint8_t genre);

class TID3v1 {
 public:
  // Size of the tag, and of the read at the end of the file.
  static constexpr int kTagSize = 128;

  TID3v1();  // cleared

  // Present := false, TagVersion := 1, texts empty, Track := 0, Genre := 255.
  void Clear();

  // Reads the last 128 bytes of the named file. True when they could be read
  // (whether or not they are a tag: Present says that); false, with the
  // object cleared, for a file that cannot be opened or is shorter than 128
  // bytes. Never throws.
  bool ReadTag(const std::string& FileName);
  // The same over an already opened source.
  bool ReadTag(TByteSource& Source);
  // The same over bytes in memory (the whole file).
  bool ReadTag(std::span<const std::uint8_t> FileBytes);

  bool Present = false;          // the last 128 bytes begin with "TAG"
  std::uint8_t TagVersion = 1;   // 1 = ID3v1, 2 = ID3v1.1
  // Texts, trailing characters of code 32 or less removed, in UTF-8: the
  // tag's bytes as they stand when they are UTF-8, else read as ISO-8859-1.
  std::string Title;    // at most 30 characters
  std::string Artist;   // at most 30 characters
  std::string Album;    // at most 30 characters
  std::string Year;     // at most 4 characters
  std::string Comment;  // at most 30 characters (28 in ID3v1.1)
  std::uint8_t Track = 0;    // ID3v1.1 track number, 0 otherwise
  std::uint8_t Genre = 255;  // genre number, 255 when there is no tag
};

}  // namespace cv
