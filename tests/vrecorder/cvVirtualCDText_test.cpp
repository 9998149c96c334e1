// The recorder's CD-TEXT reading: the pack CRC and the six-bit lead-in form
// against published examples, the "Joyful Nights" test vector accepted and
// decoded, and every kind of damaged pack list refused with the reason.
#include "vrecorder/cvVirtualCDText.h"

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualSaoUtil.h"

namespace {

using cvtest::JoyfulNightsPacks;
using cvtest::Reseal;

TEST(VirtualCDText, CrcReproducesEveryStoredPackOfTheVector) {
  for (const cv::TVRPack& p : JoyfulNightsPacks()) {
    const std::uint16_t stored = static_cast<std::uint16_t>(p[16] << 8 | p[17]);
    EXPECT_EQ(cv::VRPackCrc(std::span(p).first(16)), stored);
    EXPECT_TRUE(cv::VRPackCrcValid(p));
  }
  cv::TVRPack p = JoyfulNightsPacks()[7];
  p[9] ^= 0x01;
  EXPECT_FALSE(cv::VRPackCrcValid(p));
}

TEST(VirtualCDText, SixBitSymbolsDecodeToPacks) {
  // A published example: a size information pack and its 24 symbols.
  const std::uint8_t symbols[24] = {0x23, 0x30, 0x00, 0x2A, 0x00, 0x00, 0x04, 0x01, 0x00, 0x30, 0x00, 0x06,
                                    0x01, 0x10, 0x10, 0x05, 0x01, 0x30, 0x18, 0x01, 0x00, 0x24, 0x21, 0x25};
  const cv::TVRPack expected = {0x8F, 0x00, 0x2A, 0x00, 0x01, 0x01, 0x03, 0x00, 0x06,
                                0x05, 0x04, 0x05, 0x07, 0x06, 0x01, 0x02, 0x48, 0x65};
  std::vector<std::uint8_t> block(96, 0);
  for (int i = 0; i < 24; ++i) block[24 + i] = symbols[i] | 0xC0;  // P and Q bits are the drive's own
  const auto packs = cv::VRDecodeLeadInBlock(block);
  EXPECT_EQ(packs[1], expected);
  EXPECT_EQ(packs[0], cv::TVRPack{});
  // The other way round, all 22 packs of the vector.
  const auto list = JoyfulNightsPacks();
  const auto leadIn = cvtest::LeadInBlocks(list, 0, 11);
  for (std::size_t b = 0; b < 11; ++b) {
    const auto four = cv::VRDecodeLeadInBlock(std::span(leadIn).subspan(b * 96, 96));
    for (std::size_t k = 0; k < 4; ++k) EXPECT_EQ(four[k], list[(4 * b + k) % 22]) << "block " << b;
  }
}

TEST(VirtualCDText, TestVectorIsAcceptedAndDecoded) {
  const auto packs = JoyfulNightsPacks();
  EXPECT_EQ(cv::VRCheckCDTextPacks(packs, 1, 3), std::nullopt);
  const auto blocks = cv::VRDecodeCDText(packs);
  ASSERT_EQ(blocks.size(), 1u);
  const cv::TVRCDTextBlock& b = blocks[0];
  EXPECT_EQ(b.CharacterCode, 0x00);
  EXPECT_EQ(b.Language, 0x09);
  EXPECT_EQ(b.Text(0x80, 0), "Joyful Nights");
  EXPECT_EQ(b.Text(0x80, 1), "Song of Joy");
  EXPECT_EQ(b.Text(0x80, 2), "Humpty Dumpty");
  EXPECT_EQ(b.Text(0x80, 3), "Mee Owwww");
  EXPECT_EQ(b.Text(0x81, 0), "");
  EXPECT_EQ(b.Text(0x81, 1), "Felix and The Purrs");
  EXPECT_EQ(b.Text(0x81, 2), "Catwalk Beauties");
  EXPECT_EQ(b.Text(0x81, 3), "Mia Kitten");
  EXPECT_EQ(b.Text(0x82, 1), "Friedrich Schiller");
  EXPECT_EQ(b.Text(0x82, 2), "Mother Goose");
  EXPECT_EQ(b.Text(0x8E, 0), "1234567890123");
  EXPECT_EQ(b.Text(0x8E, 3), "XYBLG1100006");
  EXPECT_EQ(b.Text(0x83, 1), "");
}

TEST(VirtualCDText, TextsOfTheTestEncoderAndLatin1AndRepeats) {
  // Latin-1 bytes come out as UTF-8; a TAB repeats the text before it.
  const auto packs = cvtest::TextPacks({{0x80, {"Caf\xe9", "\xc0 la carte", "\t", "Last"}},
                                        {0x81, {"", "P", "P", "P"}}},
                                       3);
  ASSERT_EQ(cv::VRCheckCDTextPacks(packs, 1, 3), std::nullopt);
  const auto b = cv::VRDecodeCDText(packs).at(0);
  EXPECT_EQ(b.Text(0x80, 0), "Caf\xc3\xa9");
  EXPECT_EQ(b.Text(0x80, 1), "\xc3\x80 la carte");
  EXPECT_EQ(b.Text(0x80, 2), "\xc3\x80 la carte");
  EXPECT_EQ(b.Text(0x80, 3), "Last");
  EXPECT_EQ(b.Text(0x81, 3), "P");
}

// Each damage of the vector, and the words its refusal must carry.
TEST(VirtualCDText, DamagedListsAreRefusedWithTheReason) {
  struct Case {
    const char* Name;
    std::function<void(std::vector<cv::TVRPack>&)> Damage;
    const char* Reason;
  };
  const Case cases[] = {
      {"bad CRC", [](auto& p) { p[7][16] ^= 0x40; }, "pack 7 (type 81h, block 0, sequence 7): CRC mismatch"},
      {"reserved type", [](auto& p) { p[13][0] = 0x8B; Reseal(p[13]); }, "reserved pack type"},
      {"not a pack", [](auto& p) { p[3][0] = 0x40; Reseal(p[3]); }, "not a CD-TEXT pack type"},
      {"sequence gap", [](auto& p) { p.erase(p.begin() + 2); }, "sequence number 3 follows 1"},
      {"types out of order", [](auto& p) { std::swap(p[4], p[5]); p[4][2] = 4; p[5][2] = 5; Reseal(p[4]); Reseal(p[5]); },
       "pack type below the pack before it"},
      {"wrong track byte", [](auto& p) { p[2][1] = 2; Reseal(p[2]); }, "carries track 2, its first text belongs to track 1"},
      {"wrong character position", [](auto& p) { p[4][3] = 0x07; Reseal(p[4]); }, "character position 7, expected 8"},
      {"pack count", [](auto& p) { p[19][8] = 4; Reseal(p[19]); }, "counts 4 packs of type 80h, the block has 5"},
      {"last sequence", [](auto& p) { p[20][12] = 0x14; Reseal(p[20]); }, "gives 20 as the last sequence number of block 0"},
      {"size packs missing", [](auto& p) { p.pop_back(); }, "2 size information packs, expected 3"},
      {"character code", [](auto& p) { p[19][4] = 0x7F; Reseal(p[19]); }, "unknown character code 7Fh"},
      {"track range", [](auto& p) { p[19][6] = 0x02; Reseal(p[19]); }, "names tracks 1..2, the disc has 1..3"},
      {"not from block 0", [](auto& p) { for (auto& q : p) { q[3] |= 0x10; Reseal(q); } }, "must start with sequence 0 of block 0"},
      {"unterminated", [](auto& p) { for (int k = 5; k < 16; ++k) p[4][k] = 'x'; Reseal(p[4]); }, "the last text has no terminator"},
      {"repeat for the disc", [](auto& p) { p[10][4] = '\t'; p[10][5] = 0; Reseal(p[10]); }, "a repeat mark with no text before it"},
  };
  for (const Case& c : cases) {
    auto packs = JoyfulNightsPacks();
    c.Damage(packs);
    const auto error = cv::VRCheckCDTextPacks(packs, 1, 3);
    ASSERT_TRUE(error.has_value()) << c.Name;
    EXPECT_NE(error->find(c.Reason), std::string::npos) << c.Name << ": " << *error;
  }
}

TEST(VirtualCDText, LengthsAndTrackCountsHaveLimits) {
  auto tooLong = cvtest::TextPacks({{0x80, {std::string(254, 'a'), "t"}}}, 1);
  auto error = cv::VRCheckCDTextPacks(tooLong, 1, 1);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("longer than 253 bytes"), std::string::npos) << *error;
  EXPECT_EQ(cv::VRCheckCDTextPacks(cvtest::TextPacks({{0x80, {std::string(253, 'a'), "t"}}}, 1), 1, 1), std::nullopt);
  // Texts for more tracks than the size information names.
  error = cv::VRCheckCDTextPacks(cvtest::TextPacks({{0x80, {"disc", "one", "two"}}}, 1), 1, 1);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("a text for track 2, the disc ends with track 1"), std::string::npos) << *error;
}

TEST(VirtualCDText, CheckerLearnsTheCycleAndHoldsItsWritersToIt) {
  const auto list = JoyfulNightsPacks();
  cv::cvVRCDTextChecker checker;
  checker.SetTracks(1, 3);
  for (std::size_t k = 0; k < 22 * 3 + 5; ++k) ASSERT_EQ(checker.Add(list[k % 22]), std::nullopt) << k;
  EXPECT_TRUE(checker.CycleComplete());
  EXPECT_TRUE(checker.Finished());
  EXPECT_EQ(checker.Packs(), list);
  EXPECT_EQ(checker.Received(), 22u * 3 + 5);
  // A later cycle that differs.
  auto error = checker.Add(list[9]);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("lead-in pack 71 differs from pack 5 of the first cycle"), std::string::npos) << *error;
  EXPECT_EQ(checker.Received(), 22u * 3 + 5);  // refused packs leave the state as it was

  // The first cycle is checked as a whole when it starts over.
  cv::cvVRCDTextChecker wrongTracks;
  wrongTracks.SetTracks(1, 4);
  for (const auto& p : list) ASSERT_EQ(wrongTracks.Add(p), std::nullopt);
  error = wrongTracks.Add(list[0]);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("size information names tracks 1..3, the disc has 1..4"), std::string::npos) << *error;
  EXPECT_FALSE(wrongTracks.CycleComplete());

  // A lead-in must begin with the first pack.
  cv::cvVRCDTextChecker late;
  error = late.Add(list[5]);
  ASSERT_TRUE(error);
  EXPECT_NE(error->find("must start with sequence 0 of block 0"), std::string::npos);
}

}  // namespace
