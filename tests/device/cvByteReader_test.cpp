// TByteReader and TByteWriter: widths, byte orders, and the rule that a
// short read or write is an error that sticks.
#include "device/cvByteReader.h"

#include <gtest/gtest.h>

#include <array>

namespace cv {
namespace {

TEST(ByteReader, ReadsBothByteOrdersAndStopsAtTheEnd) {
  const std::array<uint8_t, 12> b = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 'O', 'g', 'g', 'S'};
  TByteReader r(b);
  EXPECT_EQ(r.U8(), 0x01);
  EXPECT_EQ(r.LE16(), 0x0302);
  EXPECT_EQ(r.BE24(), 0x040506u);
  EXPECT_EQ(r.Pos(), 6u);
  EXPECT_EQ(r.BE16(), 0x0708);
  EXPECT_FALSE(r.Expect("OggX"));  // a mismatch consumes nothing
  EXPECT_TRUE(r.Ok());
  EXPECT_TRUE(r.Expect("OggS"));
  EXPECT_EQ(r.Left(), 0u);
  EXPECT_TRUE(r.Ok());
  EXPECT_EQ(r.U8(), 0);  // one byte too far
  EXPECT_FALSE(r.Ok());

  TByteReader w(b);
  EXPECT_EQ(w.LE32(), 0x04030201u);
  EXPECT_EQ(w.BE32(), 0x05060708u);
  TByteReader x(b);
  EXPECT_EQ(x.LE64(), 0x0807060504030201ull);
  TByteReader y(b);
  EXPECT_EQ(y.BE64(), 0x0102030405060708ull);
  EXPECT_EQ(y.Text(4), "OggS");
}

TEST(ByteReader, AShortReadFailsEveryLaterRead) {
  const std::array<uint8_t, 5> b = {1, 2, 3, 4, 5};
  TByteReader r(b, 2);
  EXPECT_EQ(r.LE32(), 0u);  // 3 bytes left, 4 wanted: nothing consumed
  EXPECT_FALSE(r.Ok());
  EXPECT_EQ(r.Pos(), 2u);
  EXPECT_EQ(r.U8(), 0);  // would fit, but the reader has failed
  EXPECT_TRUE(r.Bytes(1).empty());
  EXPECT_FALSE(r.Skip(0));
  EXPECT_TRUE(r.Rest().empty());

  TByteReader big(b);
  EXPECT_TRUE(big.Bytes(SIZE_MAX).empty());  // a hostile length
  EXPECT_FALSE(big.Ok());
  TByteReader skip(b);
  EXPECT_FALSE(skip.Skip(6));
  TByteReader seek(b);
  EXPECT_TRUE(seek.Seek(5));
  EXPECT_EQ(seek.Left(), 0u);
  EXPECT_FALSE(seek.Seek(6));
  TByteReader beyond(b, 6);
  EXPECT_FALSE(beyond.Ok());
  EXPECT_EQ(beyond.Left(), 0u);
  TByteReader wide(b);
  EXPECT_EQ(wide.LE(9), 0u);
  EXPECT_FALSE(wide.Ok());
}

TEST(ByteWriter, WritesFieldsThatFitAndNothingElse) {
  std::array<uint8_t, 7> b{};
  TByteWriter w(b);
  w.BE16(0x0102).LE32(0x06050403);
  EXPECT_TRUE(w.Ok());
  w.BE16(0xFFFF);  // one byte of room
  EXPECT_FALSE(w.Ok());
  EXPECT_EQ(b, (std::array<uint8_t, 7>{1, 2, 3, 4, 5, 6, 0}));
  w.U8(9);  // failed: nothing more is written
  EXPECT_EQ(b[6], 0);
}

}  // namespace
}  // namespace cv
