// Text conversions for tag readers. Every text the library hands out is a
// UTF-8 std::string; these turn the encodings found in audio files into it.
// Pure functions, safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cv {

// Appends the UTF-8 form of a Unicode scalar value; a value that is not one
// (a surrogate, or above U+10FFFF) is appended as U+FFFD.
void AppendUTF8(std::string& out, std::uint32_t codePoint);

// ISO-8859-1 bytes to UTF-8 (every byte is the code point of its value).
std::string Latin1ToUTF8(std::string_view latin1);

// Bytes of unknown 8-bit encoding (texts without an encoding mark, as in
// ID3v1 tags): taken as UTF-8 when they are valid UTF-8 (an incomplete
// sequence cut off at the very end is dropped), else as ISO-8859-1.
std::string UnmarkedTextToUTF8(std::string_view bytes);

// Length of the valid UTF-8 sequence at the start of s (1 to 4), or 0 when s
// does not begin with one (overlong forms and surrogates are not valid).
// codePoint receives the decoded value.
std::size_t DecodeUTF8(std::string_view s, std::uint32_t& codePoint);

// UTF-16 code units to UTF-8: surrogate pairs are combined, an unpaired
// surrogate becomes U+FFFD.
std::string UTF16ToUTF8(std::u16string_view utf16);

}  // namespace cv
