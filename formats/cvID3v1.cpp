#include "formats/cvID3v1.h"

#include <cstring>

#include "formats/cvUnicode.h"

namespace cv {

const std::array<std::string_view, kID3v1GenreCount> ID3v1Genres = {
    // The ID3v1 list, 0 .. 79.
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop",
    "Jazz", "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap",
    "Reggae", "Rock", "Techno", "Industrial", "Alternative", "Ska", "Death Metal", "Pranks",
    "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance",
    "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise",
    "AlternRock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop",
    "Instrumental Rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic",
    "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz",
    "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock",
    // Winamp's extensions, 80 .. 147.
    "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob", "Latin", "Revival",
    "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progessive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella",
    "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror",
    "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap",
    "Heavy Metal", "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock",
    "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop", "Synthpop",
};

std::string_view ID3v1GenreName(std::uint8_t genre) {
  return genre < kID3v1GenreCount ? ID3v1Genres[genre] : std::string_view{};
}

namespace {

// The field's bytes without trailing characters of code 32 or less, as UTF-8.
std::string TrimmedField(const std::uint8_t* bytes, std::size_t width) {
  while (width > 0 && bytes[width - 1] <= 32) --width;
  std::string text = UnmarkedTextToUTF8(std::string_view(reinterpret_cast<const char*>(bytes), width));
  // A UTF-8 character cut off by the field's end is dropped, which may bare
  // more blanks.
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.pop_back();
  return text;
}

}  // namespace

TID3v1::TID3v1() { Clear(); }

void TID3v1::Clear() {
  Present = false;
  TagVersion = 1;
  Title.clear();
  Artist.clear();
  Album.clear();
  Year.clear();
  Comment.clear();
  Track = 0;
  Genre = 255;
}

bool TID3v1::ReadTag(const std::string& FileName) {
  TFileByteSource source(FileName);
  return ReadTag(source);
}

bool TID3v1::ReadTag(std::span<const std::uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadTag(source);
}

bool TID3v1::ReadTag(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  const std::int64_t size = Source.Size();
  if (size < kTagSize) return false;
  std::uint8_t tag[kTagSize];
  if (!Source.ReadExact(size - kTagSize, tag)) return false;

  if (std::memcmp(tag, "TAG", 3) != 0) return true;
  Present = true;
  if ((tag[125] == 0 && tag[126] != 0) || (tag[125] == 0x20 && tag[126] != 0x20)) TagVersion = 2;
  Title = TrimmedField(tag + 3, 30);
  Artist = TrimmedField(tag + 33, 30);
  Album = TrimmedField(tag + 63, 30);
  Year = TrimmedField(tag + 93, 4);
  if (TagVersion == 1) {
    Comment = TrimmedField(tag + 97, 30);
  } else {
    Comment = TrimmedField(tag + 97, 28);
    Track = tag[126];
  }
  Genre = tag[127];
  return true;
}

}  // namespace cv
