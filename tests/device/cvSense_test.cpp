// Sense data decoded in both formats, classified, and put into words.
#include "device/cvSense.h"

#include <gtest/gtest.h>

#include <vector>

#include "device/cvWritePage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Fixed(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::uint8_t response = 0x70) {
  Bytes b(18, 0);
  b[0] = response;
  b[2] = key;
  b[7] = 10;
  b[12] = asc;
  b[13] = ascq;
  return b;
}

TEST(SenseTest, FixedFormatCurrentAndDeferred) {
  cv::TSense s = cv::DecodeSense(Fixed(3, 0x0C, 0x00));
  EXPECT_TRUE(s.Valid);
  EXPECT_FALSE(s.Descriptor);
  EXPECT_FALSE(s.Deferred);
  EXPECT_EQ(s.Key, 3);
  EXPECT_EQ(s.Code(), 0x0C00);

  // The VALID bit (80h) is not part of the response code; 71h is deferred.
  s = cv::DecodeSense(Fixed(2, 0x3A, 0x01, 0xF1));
  EXPECT_TRUE(s.Valid);
  EXPECT_TRUE(s.Deferred);
  EXPECT_EQ(s.Code(), 0x3A01);
}

TEST(SenseTest, FixedFormatHonoursTheAdditionalLength) {
  Bytes b = Fixed(5, 0x24, 0x00);
  b[7] = 4;  // only up to byte 11: no ASC
  cv::TSense s = cv::DecodeSense(b);
  EXPECT_TRUE(s.Valid);
  EXPECT_EQ(s.Key, 5);
  EXPECT_EQ(s.Asc, 0);
  // Cut short: the key is there, the ASC is not.
  s = cv::DecodeSense(Bytes{0x70, 0, 0x06});
  EXPECT_TRUE(s.Valid);
  EXPECT_EQ(s.Key, 6);
  EXPECT_EQ(s.Asc, 0);
}

TEST(SenseTest, FixedFormatProgressOfALongOperation) {
  Bytes b = Fixed(2, 0x04, 0x07);
  b[15] = 0x80;  // SKSV
  b[16] = 0x40;
  b[17] = 0x00;
  cv::TSense s = cv::DecodeSense(b);
  EXPECT_TRUE(s.HasProgress);
  EXPECT_EQ(s.Progress, 0x4000);
  b[15] = 0;
  EXPECT_FALSE(cv::DecodeSense(b).HasProgress);
}

TEST(SenseTest, DescriptorFormatWithProgressDescriptors) {
  // 72h: key, ASC, ASCQ in bytes 1-3; a sense-key specific descriptor (02h).
  Bytes b = {0x72, 0x02, 0x04, 0x04, 0, 0, 0, 8, 0x02, 0x06, 0, 0, 0x80, 0x12, 0x34, 0};
  cv::TSense s = cv::DecodeSense(b);
  EXPECT_TRUE(s.Valid);
  EXPECT_TRUE(s.Descriptor);
  EXPECT_EQ(s.Key, 2);
  EXPECT_EQ(s.Code(), 0x0404);
  EXPECT_TRUE(s.HasProgress);
  EXPECT_EQ(s.Progress, 0x1234);

  // 73h (deferred) with a progress indication descriptor (0Ah).
  b = {0x73, 0x03, 0x0C, 0x00, 0, 0, 0, 8, 0x0A, 0x06, 0, 0, 0, 0, 0x00, 0x10};
  s = cv::DecodeSense(b);
  EXPECT_TRUE(s.Deferred);
  EXPECT_EQ(s.Key, 3);
  EXPECT_EQ(s.Code(), 0x0C00);
  EXPECT_TRUE(s.HasProgress);
  EXPECT_EQ(s.Progress, 0x0010);
}

TEST(SenseTest, DescriptorLengthsThatRunOffTheEndStopTheWalk) {
  Bytes b = {0x72, 0x02, 0x04, 0x07, 0, 0, 0, 200, 0x02, 0xF0, 0, 0, 0x80, 0xFF, 0xFF};
  const cv::TSense s = cv::DecodeSense(b);
  EXPECT_TRUE(s.Valid);
  EXPECT_EQ(s.Code(), 0x0407);
  EXPECT_FALSE(s.HasProgress);
}

TEST(SenseTest, UnknownResponseCodesAndEmptyBytesAreNotSense) {
  EXPECT_FALSE(cv::DecodeSense(Bytes{}).Valid);
  EXPECT_FALSE(cv::DecodeSense(Bytes(32, 0)).Valid);
  Bytes garbage = Fixed(3, 0x0C, 0);
  garbage[0] = 0x7F;
  const cv::TSense s = cv::DecodeSense(garbage);
  EXPECT_FALSE(s.Valid);
  EXPECT_EQ(s.Asc, 0);
}

TEST(SenseTest, Classification) {
  using C = cv::TSenseClass;
  auto classify = [](bool ok, bool busy, Bytes b) { return cv::ClassifySense(ok, busy, cv::DecodeSense(b)); };
  EXPECT_EQ(classify(true, false, {}), C::Good);
  EXPECT_EQ(classify(false, true, {}), C::Retry);
  EXPECT_EQ(classify(false, false, Fixed(0x0B, 0x47, 0)), C::Retry);
  EXPECT_EQ(classify(false, false, Fixed(6, 0x28, 0)), C::UnitAttention);
  EXPECT_EQ(classify(false, false, Fixed(2, 0x3A, 0)), C::NoMedium);
  EXPECT_EQ(classify(false, false, Fixed(2, 0x3A, 2)), C::NoMedium);
  EXPECT_EQ(classify(false, false, Fixed(2, 0x04, 7)), C::NotReady);
  EXPECT_EQ(classify(false, false, Fixed(2, 0x04, 8)), C::NotReady);
  EXPECT_EQ(classify(false, false, Fixed(3, 0x0C, 0)), C::Fail);
  EXPECT_EQ(classify(false, false, Fixed(5, 0x20, 0)), C::Fail);
  // A failure that brought no sense at all (the drive is gone).
  EXPECT_EQ(classify(false, false, Bytes(32, 0)), C::Fail);
  // Descriptor format classifies the same.
  EXPECT_EQ(classify(false, false, Bytes{0x72, 0x02, 0x04, 0x07, 0, 0, 0, 0}), C::NotReady);
}

TEST(SenseTest, WordsFromTheTable) {
  EXPECT_EQ(cv::SenseWords(2, 0x3A, 0x00), "no disc in the drive (2/3A/00)");
  EXPECT_EQ(cv::SenseWords(2, 0x3A, 0x02), "the tray is open (2/3A/02): close it and try again");
  EXPECT_EQ(cv::SenseWords(3, 0x0C, 0x00), "write error (3/0C/00): the CD-R holds what was written until then");
  EXPECT_EQ(cv::SenseWords(5, 0x20, 0x00), "the drive does not know this command (5/20/00)");
  // An ASCQ the table does not name takes the row of its ASC.
  EXPECT_EQ(cv::SenseWords(2, 0x04, 0x22), "the drive is not ready (2/04/22)");
  // An unknown ASC falls back to its sense key's words.
  EXPECT_EQ(cv::SenseWords(4, 0xEE, 0x01), "drive hardware error (4/EE/01)");
  EXPECT_EQ(cv::SenseWords(0, 0, 0), "");
}

TEST(WritePageTest, FieldsByName) {
  cv::TWritePage page;
  cv::TWritePageImage image = page.Image();
  EXPECT_EQ(image[0], 0x05);
  EXPECT_EQ(image[2], 0x41);  // BUFE, track at once
  EXPECT_EQ(image[3], 0x00);
  EXPECT_EQ(image[4], 0x00);
  EXPECT_EQ(image[14], 0x00);
  EXPECT_EQ(image[15], 150);

  page.WriteType = cv::wtSessionAtOnce;
  page.TestWrite = true;
  page.BufferUnderrunFree = false;
  page.MultiSession = cv::msNext;
  page.AudioPauseLength = 450;
  image = page.Image();
  EXPECT_EQ(image[2], 0x12);
  EXPECT_EQ(image[3], 0xC0);
  EXPECT_EQ(image[14], 0x01);
  EXPECT_EQ(image[15], 0xC2);
}

}  // namespace
