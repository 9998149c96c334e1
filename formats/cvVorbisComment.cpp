#include "formats/cvVorbisComment.h"

#include <limits>

#include "device/cvByteReader.h"
#include "formats/cvTagText.h"

namespace cv {
namespace {

// Longest value kept (a cover picture in a comment is not a title).
constexpr size_t kMaxValue = 4096;

}  // namespace

bool TVorbisComment::Parse(std::span<const uint8_t> Block) {
  *this = TVorbisComment{};
  TByteReader r(Block);
  const uint32_t vendorLength = r.LE32();
  if (!r.Has(vendorLength)) return false;
  Vendor = Utf8ValidPrefix(TrimText(r.Text(std::min<size_t>(vendorLength, kMaxValue))));
  r.Skip(vendorLength > kMaxValue ? vendorLength - kMaxValue : 0);
  const uint32_t count = r.LE32();
  std::string artist, performer, comment, description;
  for (uint32_t i = 0; i < count && r.Ok(); ++i) {
    const uint32_t length = r.LE32();
    if (!r.Has(length)) break;
    const std::string entry = r.Text(std::min<size_t>(length, kMaxValue));
    r.Skip(length > kMaxValue ? length - kMaxValue : 0);
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = UpperAscii(entry.substr(0, eq));
    const std::string value = Utf8ValidPrefix(TrimText(entry.substr(eq + 1)));
    // The first entry of a name counts.
    auto keep = [&](std::string& slot) {
      if (slot.empty()) slot = value;
    };
    if (name == "TITLE") keep(Title);
    else if (name == "ARTIST") keep(artist);
    else if (name == "PERFORMER") keep(performer);
    else if (name == "ALBUM") keep(Album);
    else if (name == "DATE") keep(Date);
    else if (name == "GENRE") keep(Genre);
    else if (name == "COMMENT") keep(comment);
    else if (name == "DESCRIPTION") keep(description);
    else if (name == "ALBUMARTIST" || name == "ALBUM ARTIST") keep(AlbumArtist);
    else if (name == "COMPOSER") keep(Composer);
    else if (name == "ISRC") keep(Isrc);
    else if (name == "TRACKNUMBER" && Track == 0) {
      const auto number = ParseDecimal(value.substr(0, value.find('/')));
      if (number && *number > 0 && *number <= std::numeric_limits<uint16_t>::max())
        Track = static_cast<uint16_t>(*number);
    }
  }
  Artist = artist.empty() ? performer : artist;
  Comment = comment.empty() ? description : comment;
  return true;
}

}  // namespace cv
