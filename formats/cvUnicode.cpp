#include "formats/cvUnicode.h"

namespace cv {

void AppendUTF8(std::string& out, std::uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

std::string Latin1ToUTF8(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (const char c : latin1) AppendUTF8(out, static_cast<unsigned char>(c));
  return out;
}

std::size_t DecodeUTF8(std::string_view s, std::uint32_t& cp) {
  if (s.empty()) return 0;
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  }
  std::size_t length;
  std::uint32_t minimum;
  if ((b0 & 0xE0) == 0xC0) {
    length = 2;
    cp = b0 & 0x1F;
    minimum = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    length = 3;
    cp = b0 & 0x0F;
    minimum = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    length = 4;
    cp = b0 & 0x07;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

std::string UnmarkedTextToUTF8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::uint32_t cp;
    const std::size_t n = DecodeUTF8(bytes.substr(i), cp);
    if (n == 0) break;
    i += n;
  }
  if (i == bytes.size()) return std::string(bytes);
  // A multi-byte sequence cut off by the end of a fixed-width field: the rest
  // is the start of a valid sequence and nothing follows it.
  const std::string_view tail = bytes.substr(i);
  const auto lead = static_cast<unsigned char>(tail[0]);
  const std::size_t want = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  bool cut = want > tail.size() && i > 0;
  for (std::size_t k = 1; cut && k < tail.size(); ++k)
    cut = (static_cast<unsigned char>(tail[k]) & 0xC0) == 0x80;
  // Only a text that already held a multi-byte sequence counts as UTF-8.
  bool hadMultiByte = false;
  for (std::size_t k = 0; k < i; ++k) hadMultiByte |= static_cast<unsigned char>(bytes[k]) >= 0x80;
  if (cut && hadMultiByte) return std::string(bytes.substr(0, i));
  return Latin1ToUTF8(bytes);
}

std::string UTF16ToUTF8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    const std::uint32_t u = utf16[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < utf16.size()) {
      const std::uint32_t low = utf16[i + 1];
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUTF8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUTF8(out, u);  // unpaired surrogates come out as U+FFFD
  }
  return out;
}

}  // namespace cv
