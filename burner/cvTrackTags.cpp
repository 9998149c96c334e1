#include "burner/cvTrackTags.h"

#include "decode/cvAudFiles.h"
#include "formats/cvID3v1.h"
#include "formats/cvFLACTags.h"
#include "formats/cvID3v2.h"
#include "formats/cvMP4File.h"
#include "formats/cvOggVorbis.h"
#include "formats/cvWMAfile.h"

namespace cv {

namespace {

// An ISRC as people write it ("us-abc-25-00001") in the 12-character form.
std::string CompactIsrc(const std::string& text) {
  std::string code;
  for (const char c : text) {
    if (c == '-' || c == ' ') continue;
    code += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  return code;
}

void FromID3(const std::string& FileName, TTrackTags& tags) {
  TID3v2 v2;
  if (v2.ReadTag(FileName) && v2.Present) {
    tags.Title = v2.Title;
    tags.Artist = v2.Artist;
    tags.Album = v2.Album;
    tags.AlbumArtist = v2.AlbumArtist;
    tags.Composer = v2.Composer;
    tags.Isrc = v2.Isrc;
    if (!tags.Title.empty() || !tags.Artist.empty() || !tags.Album.empty()) return;
  }
  TID3v1 v1;
  if (v1.ReadTag(FileName) && v1.Present) {
    tags.Title = v1.Title;
    tags.Artist = v1.Artist;
    tags.Album = v1.Album;
  }
}

}  // namespace

TTrackTags ReadTrackTags(const std::string& FileName, std::uint8_t FileKind) {
  TTrackTags tags;
  try {
    switch (FileKind) {
      case afOGG: {
        TOGGFile ogg;
        if (ogg.ReadFileInfo(FileName)) {
          tags.Title = ogg.Title;
          tags.Artist = ogg.Artist;
          tags.Album = ogg.Album;
          tags.AlbumArtist = ogg.AlbumArtist;
          tags.Composer = ogg.Composer;
          tags.Isrc = ogg.Isrc;
        }
        break;
      }
      case afFLAC: {
        TFLACTags flac;
        if (flac.ReadTags(FileName)) {
          tags.Title = flac.Title;
          tags.Artist = flac.Artist;
          tags.Album = flac.Album;
          tags.AlbumArtist = flac.AlbumArtist;
          tags.Composer = flac.Composer;
          tags.Isrc = flac.Isrc;
        }
        break;
      }
      case afM4A: {
        TMP4File mp4;
        if (mp4.ReadFileInfo(FileName)) {
          tags.Title = mp4.Title;
          tags.Artist = mp4.Artist;
          tags.Album = mp4.Album;
          tags.AlbumArtist = mp4.AlbumArtist;
          tags.Composer = mp4.Composer;
          tags.Isrc = mp4.Isrc;
        }
        break;
      }
      case afWMA: {
        TWMAfile wma;
        if (wma.ReadFileInfo(FileName)) {
          tags.Title = wma.Title;
          tags.Artist = wma.Artist;
          tags.Album = wma.Album;
        }
        break;
      }
      default:
        FromID3(FileName, tags);
        break;
    }
  } catch (...) {
    // An unreadable file has no texts; the burn reports the file itself.
    return TTrackTags{};
  }
  tags.Isrc = CompactIsrc(tags.Isrc);
  return tags;
}

}  // namespace cv
