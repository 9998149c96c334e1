// The texts a disc carries for a track, read from its file's tags: title,
// artist, album, album artist, composer and ISRC, as UTF-8.
//
// Where they come from, by kind: ID3v2 (ID3v1 when there is none) for MP3
// and WAV, Vorbis comments for Ogg Vorbis, FLAC and Ogg Opus, the iTunes
// items of MP4/M4A (\251nam, \251ART, \251alb, aART, \251wrt, ----:ISRC), the
// NAME/AUTH chunks or ID3 chunk of AIFF, the content description objects
// for WMA. A file without tags, or one that cannot be read, gives empty
// texts; reading tags never fails a burn.
//
// Pure function over the file; safe from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace cv {

struct TTrackTags {
  std::string Title;
  std::string Artist;
  std::string Album;
  std::string AlbumArtist;
  std::string Composer;
  std::string Isrc;  // as tagged (upper-cased, blanks and dashes removed)
};

// FileKind: the TAudioFileKind the decoder found.
TTrackTags ReadTrackTags(const std::string& FileName, std::uint8_t FileKind);

}  // namespace cv
