// libFuzzer target: the MPEG audio stream header reader over arbitrary file
// contents, with every derived value asked for. Checks what must hold for
// any input: valid UTF-8 texts, a cleared state without a frame, values
// inside their tables.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "formats/cvMP3File.h"
#include "formats/cvUnicode.h"

namespace {

void RequireUTF8(std::string_view s) {
  std::uint32_t cp;
  for (std::size_t i = 0, n; i < s.size(); i += n)
    if ((n = cv::DecodeUTF8(s.substr(i), cp)) == 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  cv::TMP3File mp3;
  mp3.ReadFileInfo(std::span<const std::uint8_t>(data, size));
  const bool valid = mp3.IsValid();
  const auto kbps = mp3.BitRateKbps();
  const auto rate = mp3.SampleRateHz();
  const auto channels = mp3.ChannelCount();
  const auto sectors = mp3.DurationSectors();
  if (valid && (kbps < 8 || kbps > 448 || sectors < 1 || rate == 0 || channels == 0)) std::abort();
  if (!mp3.Frame.Found && (mp3.FileLength != 0 || mp3.ID3v2->Present || mp3.ID3v1->Present || sectors != 0))
    std::abort();
  if (mp3.FileLength > static_cast<std::int64_t>(size)) std::abort();
  if (mp3.ID3v2->Size < 0 || mp3.ID3v2->Size > static_cast<std::int64_t>(size)) std::abort();
  RequireUTF8(mp3.EncoderID);
  RequireUTF8(mp3.VBR.VendorID);
  for (const auto* s : {&mp3.ID3v2->Title, &mp3.ID3v2->Artist, &mp3.ID3v2->Comment, &mp3.ID3v1->Title})
    RequireUTF8(*s);
  return 0;
}
