// Text and number helpers of the readers: trimming, UTF-8 validation,
// decimal conversion, and the conversion of a playing time in milliseconds
// into Sectors. (Binary fields are read through device/cvByteReader.h.)
//
// Pure functions; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cv {

// Removes blanks, control characters and zeros (every byte <= 0x20) from
// both ends.
std::string TrimText(std::string_view Text);

// Same for UTF-16 code units (every unit <= 0x20).
std::u16string TrimText16(std::u16string_view Text);

// Decodes UTF-8 as far as it is valid: a byte that does not start a valid
// sequence (bad lead byte, bad continuation byte, overlong form, surrogate,
// beyond U+10FFFF) or a sequence cut off by the end of the text ends the
// decoding. Returns the valid prefix, which is well-formed UTF-8.
std::string Utf8ValidPrefix(std::string_view Text);

// Upper-cases the ASCII letters a..z; other bytes stay as they are.
std::string UpperAscii(std::string_view Text);

// The whole of Text as a decimal integer: an optional sign and one or more
// digits, within the 32-bit signed range. Anything else gives nullopt.
std::optional<int32_t> ParseDecimal(std::string_view Text);

// Playing time in Sectors from milliseconds:
// (ms div 1000) x 75 + Ceil((ms mod 1000) / 13.333), in exact arithmetic.
int64_t SectorsFromMs(int64_t Ms);

// Ceil(A / B) for A >= 0, B > 0.
inline int64_t CeilDiv(int64_t A, int64_t B) { return (A + B - 1) / B; }

}  // namespace cv
