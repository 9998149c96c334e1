#include "burner/cvTrackTags.h"

#include "decode/cvAudFiles.h"
#include "formats/cvAIFFfile.h"
#include "formats/cvFLACfile.h"
#include "formats/cvID3v1.h"
#include "formats/cvID3v2.h"
#include "formats/cvMP4File.h"
#include "formats/cvOggVorbis.h"
#include "formats/cvOpusFile.h"
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

// The three texts every kind of tag has.
template <class TTag>
TTrackTags Titles(const TTag& tag) {
  return {tag.Title, tag.Artist, tag.Album, {}, {}, {}};
}

// All the texts, from a tag that carries a disc's further ones too.
template <class TTag>
TTrackTags Texts(const TTag& tag) {
  return {tag.Title, tag.Artist, tag.Album, tag.AlbumArtist, tag.Composer, tag.Isrc};
}

// ID3v2; ID3v1's texts where the ID3v2 tag has none of the three.
TTrackTags FromID3(const std::string& FileName) {
  TID3v2 v2;
  TTrackTags tags = v2.ReadTag(FileName) && v2.Present ? Texts(v2) : TTrackTags{};
  if (!tags.Title.empty() || !tags.Artist.empty() || !tags.Album.empty()) return tags;
  TID3v1 v1;
  if (v1.ReadTag(FileName) && v1.Present) {
    tags.Title = v1.Title;
    tags.Artist = v1.Artist;
    tags.Album = v1.Album;
  }
  return tags;
}

}  // namespace

TTrackTags ReadTrackTags(const std::string& FileName, std::uint8_t FileKind) {
  TTrackTags tags;
  try {
    switch (FileKind) {
      case afOGG:
        if (TOGGFile f; f.ReadFileInfo(FileName)) tags = Texts(f);
        break;
      case afFLAC:
        if (TFLACfile f; f.ReadFileInfo(FileName)) tags = Texts(f.Tags);
        break;
      case afOpus:
        if (TOpusFile f; f.ReadFileInfo(FileName)) tags = Texts(f.Tags);
        break;
      case afM4A:
        if (TMP4File f; f.ReadFileInfo(FileName)) tags = Texts(f);
        break;
      case afAIFF:
        if (TAIFFfile f; f.ReadFileInfo(FileName)) tags = Titles(f);
        break;
      case afWMA:
        if (TWMAfile f; f.ReadFileInfo(FileName)) tags = Titles(f);
        break;
      default:
        tags = FromID3(FileName);
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
