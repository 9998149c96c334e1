// libFuzzer target: the ID3v2 tag reader over arbitrary file contents, and
// its text helpers over the raw input. Every text must come out as valid
// UTF-8, and the tag size must stay within the file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "formats/cvID3v2.h"
#include "formats/cvUnicode.h"

namespace {

void RequireUTF8(std::string_view s) {
  std::uint32_t cp;
  for (std::size_t i = 0, n; i < s.size(); i += n)
    if ((n = cv::DecodeUTF8(s.substr(i), cp)) == 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cv::TID3v2 tag;
  const bool read = tag.ReadTag(std::span<const std::uint8_t>(data, size));
  if (read != (size >= 10)) std::abort();
  if (tag.Size < 0 || tag.Size > static_cast<std::int64_t>(size)) std::abort();
  for (const auto* s : {&tag.Title, &tag.Artist, &tag.Album, &tag.TrackText, &tag.Year, &tag.Genre, &tag.Comment,
                        &tag.Composer, &tag.Encoder, &tag.Copyright, &tag.Language, &tag.Link})
    RequireUTF8(*s);
  const std::string_view raw(reinterpret_cast<const char*>(data), size < 600 ? size : 600);
  RequireUTF8(cv::TID3v2::DecodeText(raw));
  RequireUTF8(cv::TID3v2::ExtractText(raw, true));
  RequireUTF8(cv::TID3v2::ExtractText(raw, false));
  (void)cv::TID3v2::TrackNumber(raw);
  return 0;
}
