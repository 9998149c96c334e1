// Tests of the text and number helpers of the WAV, WMA and Ogg readers.
#include "formats/cvTagText.h"

#include <gtest/gtest.h>

namespace cv {
namespace {

TEST(TagText, TrimRemovesBlanksControlsAndZerosOnly) {
  EXPECT_EQ(TrimText(std::string_view("\0 \t abc d\r\n\0", 12)), "abc d");
  EXPECT_EQ(TrimText("\xC3\xA9"), "\xC3\xA9");  // bytes above 0x7F stay
  EXPECT_EQ(TrimText("   "), "");
  EXPECT_EQ(TrimText16(std::u16string_view(u"\0 x \x1F", 5)), u"x");
}

TEST(TagText, Utf8ValidPrefix) {
  EXPECT_EQ(Utf8ValidPrefix("plain"), "plain");
  EXPECT_EQ(Utf8ValidPrefix("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5"), "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5");
  EXPECT_EQ(Utf8ValidPrefix("a\x80z"), "a");              // stray continuation byte
  EXPECT_EQ(Utf8ValidPrefix("a\xC3" "b"), "a");             // bad continuation
  EXPECT_EQ(Utf8ValidPrefix("a\xF0\x9F\x8E"), "a");         // cut off
  EXPECT_EQ(Utf8ValidPrefix("a\xE0\x80\xAF"), "a");         // overlong
  EXPECT_EQ(Utf8ValidPrefix("a\xED\xA0\x80"), "a");         // surrogate
  EXPECT_EQ(Utf8ValidPrefix("a\xF4\x90\x80\x80"), "a");     // beyond U+10FFFF
  EXPECT_EQ(Utf8ValidPrefix("a\xFF"), "a");
}

TEST(TagText, ParseDecimalTakesTheWholeTextOnly) {
  EXPECT_EQ(ParseDecimal("7"), 7);
  EXPECT_EQ(ParseDecimal("-12"), -12);
  EXPECT_EQ(ParseDecimal("+3"), 3);
  EXPECT_EQ(ParseDecimal("2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimal("-2147483648"), INT32_MIN);
  EXPECT_FALSE(ParseDecimal("2147483648"));
  EXPECT_FALSE(ParseDecimal("7/12"));
  EXPECT_FALSE(ParseDecimal(""));
  EXPECT_FALSE(ParseDecimal("-"));
  EXPECT_FALSE(ParseDecimal(" 7"));
  EXPECT_FALSE(ParseDecimal("99999999999999999999999"));
}

TEST(TagText, SectorsFromMsAtTheRoundingEdges) {
  // (ms div 1000) x 75 + Ceil((ms mod 1000) / 13.333)
  EXPECT_EQ(SectorsFromMs(0), 0);
  EXPECT_EQ(SectorsFromMs(1), 1);
  EXPECT_EQ(SectorsFromMs(13), 1);    // 0.975
  EXPECT_EQ(SectorsFromMs(14), 2);    // 1.050
  EXPECT_EQ(SectorsFromMs(26), 2);    // 1.950
  EXPECT_EQ(SectorsFromMs(27), 3);    // 2.025
  EXPECT_EQ(SectorsFromMs(500), 38);  // 37.5009
  EXPECT_EQ(SectorsFromMs(999), 75);  // 74.927
  EXPECT_EQ(SectorsFromMs(1000), 75);
  EXPECT_EQ(SectorsFromMs(1001), 76);
  EXPECT_EQ(SectorsFromMs(1500), 113);
}

}  // namespace
}  // namespace cv
