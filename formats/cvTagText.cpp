#include "formats/cvTagText.h"


namespace cv {

std::string TrimText(std::string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && static_cast<unsigned char>(Text[b]) <= 0x20) ++b;
  while (e > b && static_cast<unsigned char>(Text[e - 1]) <= 0x20) --e;
  return std::string(Text.substr(b, e - b));
}

std::u16string TrimText16(std::u16string_view Text) {
  size_t b = 0, e = Text.size();
  while (b < e && Text[b] <= 0x20) ++b;
  while (e > b && Text[e - 1] <= 0x20) --e;
  return std::u16string(Text.substr(b, e - b));
}

std::string Utf8ValidPrefix(std::string_view Text) {
  size_t i = 0;
  const size_t n = Text.size();
  auto byte = [&](size_t k) { return static_cast<unsigned char>(Text[k]); };
  while (i < n) {
    unsigned char b = byte(i);
    size_t len;
    uint32_t cp, min;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, cp = b & 0x07, min = 0x10000;
    } else {
      break;
    }
    if (i + len > n) break;
    bool ok = true;
    for (size_t k = 1; k < len; ++k) {
      unsigned char c = byte(i + k);
      if ((c & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) break;
    i += len;
  }
  return std::string(Text.substr(0, i));
}

std::string UpperAscii(std::string_view Text) {
  std::string out(Text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

std::optional<int32_t> ParseDecimal(std::string_view Text) {
  if (Text.empty()) return std::nullopt;
  size_t start = 0;
  bool negative = false;
  if (Text[0] == '+' || Text[0] == '-') {
    negative = Text[0] == '-';
    start = 1;
  }
  if (start >= Text.size()) return std::nullopt;
  int64_t value = 0;
  for (size_t i = start; i < Text.size(); ++i) {
    char c = Text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return std::nullopt;
  return static_cast<int32_t>(value);
}

int64_t SectorsFromMs(int64_t Ms) {
  if (Ms <= 0) return 0;
  // Ceil(r / 13.333) = Ceil(r * 1000 / 13333) exactly.
  return (Ms / 1000) * 75 + CeilDiv((Ms % 1000) * 1000, 13333);
}

}  // namespace cv
