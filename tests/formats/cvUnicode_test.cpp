#include "formats/cvUnicode.h"

#include <gtest/gtest.h>

TEST(Unicode, Utf8Encoding) {
  std::string s;
  for (std::uint32_t cp : {0x41u, 0xE9u, 0x20ACu, 0x1F600u}) cv::AppendUTF8(s, cp);
  EXPECT_EQ(s, "A\u00E9\u20AC\U0001F600");
  s.clear();
  cv::AppendUTF8(s, 0xD800);
  cv::AppendUTF8(s, 0x110000);
  EXPECT_EQ(s, "\uFFFD\uFFFD");
}

TEST(Unicode, Utf8Decoding) {
  std::uint32_t cp = 0;
  EXPECT_EQ(cv::DecodeUTF8("\xF0\x9F\x98\x80", cp), 4u);
  EXPECT_EQ(cp, 0x1F600u);
  EXPECT_EQ(cv::DecodeUTF8("\xE2\x82\xAC", cp), 3u);
  EXPECT_EQ(cp, 0x20ACu);
  EXPECT_EQ(cv::DecodeUTF8("\xC0\x80", cp), 0u);          // overlong
  EXPECT_EQ(cv::DecodeUTF8("\xE0\x80\xAF", cp), 0u);      // overlong
  EXPECT_EQ(cv::DecodeUTF8("\xED\xA0\x80", cp), 0u);      // surrogate
  EXPECT_EQ(cv::DecodeUTF8("\xF4\x90\x80\x80", cp), 0u);  // above U+10FFFF
  EXPECT_EQ(cv::DecodeUTF8("\xE2\x82", cp), 0u);          // cut short
  EXPECT_EQ(cv::DecodeUTF8("\x80", cp), 0u);
  EXPECT_EQ(cv::DecodeUTF8("", cp), 0u);
}

TEST(Unicode, Utf16Conversion) {
  EXPECT_EQ(cv::UTF16ToUTF8(u"\u00FF\u65E5"), "\u00FF\u65E5");
  EXPECT_EQ(cv::UTF16ToUTF8(std::u16string{0xD834, 0xDD1E}), "\U0001D11E");
  EXPECT_EQ(cv::UTF16ToUTF8(std::u16string{0xDD1E, 0xD834}), "\uFFFD\uFFFD");  // wrong order
  EXPECT_EQ(cv::UTF16ToUTF8(std::u16string{u'a', 0xD834}), "a\uFFFD");         // cut pair
}

TEST(Unicode, UnmarkedText) {
  EXPECT_EQ(cv::UnmarkedTextToUTF8("plain"), "plain");
  EXPECT_EQ(cv::UnmarkedTextToUTF8("\xE9t\xE9"), "\u00E9t\u00E9");  // Latin-1
  EXPECT_EQ(cv::UnmarkedTextToUTF8("\xC3\xA9t\xC3\xA9"), "\u00E9t\u00E9");
  EXPECT_EQ(cv::UnmarkedTextToUTF8("\xC3\xA9t\xC3"), "\u00E9t");  // cut at the end
  EXPECT_EQ(cv::UnmarkedTextToUTF8("ab\xC3"), "ab\u00C3");  // no UTF-8 before: Latin-1
  EXPECT_EQ(cv::UnmarkedTextToUTF8("\xC3\xA9\xFF"), "\u00C3\u00A9\u00FF");
}
