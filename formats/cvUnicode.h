// Text conversions for tag readers. Every text the library hands out is a
// UTF-8 std::string; these turn the encodings found in audio files into it.
// Pure functions, safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cv {

// Appends the UTF-8 form of a Unicode scalar value; a value that is not one
// (a surrogate, or above U+10FFFF) is appended as U+FFFD.
void AppendUTF8(std::string& out, std::uint32_t codePoint);

// ISO-8859-1 bytes to UTF-8 (every byte is the code point of its value).
std::string Latin1ToUTF8(std::string_view latin1);

// UTF-16 code units to UTF-8: surrogate pairs are combined, an unpaired
// surrogate becomes U+FFFD.
std::string UTF16ToUTF8(std::u16string_view utf16);

}  // namespace cv
