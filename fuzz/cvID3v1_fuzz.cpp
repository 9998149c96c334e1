// libFuzzer target: the ID3v1 tag reader over arbitrary file contents. Every
// text must come out as valid UTF-8 without trailing blanks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "formats/cvID3v1.h"
#include "formats/cvUnicode.h"

namespace {

void RequireText(std::string_view s) {
  std::uint32_t cp;
  for (std::size_t i = 0, n; i < s.size(); i += n)
    if ((n = cv::DecodeUTF8(s.substr(i), cp)) == 0) std::abort();
  if (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cv::TID3v1 tag;
  const bool read = tag.ReadTag(std::span<const std::uint8_t>(data, size));
  if (read != (size >= 128)) std::abort();
  if (!tag.Present && (tag.Genre != 255 || !tag.Title.empty() || tag.Track != 0)) std::abort();
  for (const auto* s : {&tag.Title, &tag.Artist, &tag.Album, &tag.Year, &tag.Comment}) RequireText(*s);
  (void)cv::ID3v1GenreName(tag.Genre);
  return 0;
}
