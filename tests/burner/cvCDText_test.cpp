// CD-TEXT packs: a published three-track example byte for byte, the size
// packs, the lead-in symbols, the ISO-8859-1 fallback and the block limits.
#include "burner/cvCDText.h"

#include <gtest/gtest.h>

#include <sstream>

namespace cv {
namespace {

// The example album "Joyful Nights" of libburn's CD-TEXT documentation, as
// a recorder must receive it: 22 packs with their CRCs.
constexpr const char* kJoyfulNights[] = {
    "80 00 00 00 4a 6f 79 66 75 6c 20 4e 69 67 68 74 f0 f7",
    "80 00 01 0c 73 00 53 6f 6e 67 20 6f 66 20 4a 6f 43 1c",
    "80 01 02 0a 79 00 48 75 6d 70 74 79 20 44 75 6d 43 f9",
    "80 02 03 0a 70 74 79 00 4d 65 65 20 4f 77 77 77 24 72",
    "80 03 04 08 77 00 00 00 00 00 00 00 00 00 00 00 6e af",
    "81 00 05 00 00 46 65 6c 69 78 20 61 6e 64 20 54 4d 51",
    "81 01 06 0b 68 65 20 50 75 72 72 73 00 43 61 74 a7 40",
    "81 02 07 03 77 61 6c 6b 20 42 65 61 75 74 69 65 59 80",
    "81 02 08 0f 73 00 4d 69 61 20 4b 69 74 74 65 6e 30 c9",
    "81 03 09 0a 00 00 00 00 00 00 00 00 00 00 00 00 ad 19",
    "82 00 0a 00 00 46 72 69 65 64 72 69 63 68 20 53 70 8f",
    "82 01 0b 0b 63 68 69 6c 6c 65 72 00 4d 6f 74 68 33 43",
    "82 02 0c 04 65 72 20 47 6f 6f 73 65 00 4d 69 61 d6 f5",
    "82 03 0d 03 20 4b 69 74 74 65 6e 00 00 00 00 00 f5 83",
    "8e 00 0e 00 31 32 33 34 35 36 37 38 39 30 31 32 92 3e",
    "8e 00 0f 0c 33 00 58 59 42 4c 47 31 31 30 31 32 c0 2b",
    "8e 01 10 0a 33 34 00 58 59 42 4c 47 31 31 30 30 bb b3",
    "8e 02 11 09 30 30 35 00 58 59 42 4c 47 31 31 30 f3 bf",
    "8e 03 12 08 30 30 30 36 00 00 00 00 00 00 00 00 5b 5c",
    "8f 00 13 00 00 01 03 00 05 05 04 00 00 00 00 00 9b fe",
    "8f 01 14 00 00 00 00 00 00 00 05 03 15 00 00 00 11 0b",
    "8f 02 15 00 00 00 00 00 09 00 00 00 00 00 00 00 da 77",
};

std::string Hex(const TCDTextPack& pack) {
  std::ostringstream out;
  for (std::size_t i = 0; i < pack.size(); ++i) {
    static const char* digits = "0123456789abcdef";
    if (i > 0) out << ' ';
    out << digits[pack[i] >> 4] << digits[pack[i] & 15];
  }
  return out.str();
}

TCDTextDisc JoyfulNights() {
  TCDTextDisc disc;
  disc.Title = "Joyful Nights";
  disc.UpcEan = "1234567890123";
  disc.Tracks = {{"Song of Joy", "Felix and The Purrs", "Friedrich Schiller", "XYBLG1101234"},
                 {"Humpty Dumpty", "Catwalk Beauties", "Mother Goose", "XYBLG1100005"},
                 {"Mee Owwww", "Mia Kitten", "Mia Kitten", "XYBLG1100006"}};
  return disc;
}

TEST(CDTextEncoder, ReproducesThePublishedExampleByteForByte) {
  const TCDTextResult result = BuildCDText(JoyfulNights());
  EXPECT_TRUE(result.Notes.empty());
  ASSERT_EQ(result.Packs.size(), std::size(kJoyfulNights));
  for (std::size_t i = 0; i < result.Packs.size(); ++i) EXPECT_EQ(Hex(result.Packs[i]), kJoyfulNights[i]) << "pack " << i;
}

TEST(CDTextEncoder, CrcIsInvertedCcittOverSixteenBytes) {
  const TCDTextResult result = BuildCDText(JoyfulNights());
  for (const TCDTextPack& pack : result.Packs) {
    const std::uint16_t crc = CDTextCRC(std::span(pack).first(16));
    EXPECT_EQ(pack[16], crc >> 8);
    EXPECT_EQ(pack[17], crc & 0xFF);
  }
  // One flipped bit changes it.
  TCDTextPack damaged = result.Packs[0];
  damaged[5] ^= 0x10;
  EXPECT_NE(CDTextCRC(std::span(damaged).first(16)), CDTextCRC(std::span(result.Packs[0]).first(16)));
}

TEST(CDTextEncoder, SizePacksCountEachKindAndTheLastSequence) {
  TCDTextDisc disc;
  disc.Title = "Album";
  disc.Tracks.resize(12);
  for (std::size_t i = 0; i < disc.Tracks.size(); ++i) disc.Tracks[i].Title = "Track number " + std::to_string(i + 1);
  disc.FirstTrack = 3;
  const auto packs = BuildCDText(disc).Packs;
  ASSERT_GE(packs.size(), 4u);
  const std::size_t textPacks = packs.size() - 3;
  // Only titles: the other kinds are absent, not written empty.
  for (std::size_t i = 0; i < textPacks; ++i) {
    EXPECT_EQ(packs[i][0], 0x80);
    EXPECT_EQ(packs[i][2], i);  // sequence
  }
  std::vector<std::uint8_t> record;
  for (std::size_t part = 0; part < 3; ++part) {
    const TCDTextPack& pack = packs[textPacks + part];
    EXPECT_EQ(pack[0], 0x8F);
    EXPECT_EQ(pack[1], part);
    EXPECT_EQ(pack[2], textPacks + part);
    record.insert(record.end(), pack.begin() + 4, pack.begin() + 16);
  }
  EXPECT_EQ(record[0], 0x00);  // ISO-8859-1
  EXPECT_EQ(record[1], 3);     // first track
  EXPECT_EQ(record[2], 14);    // last track
  EXPECT_EQ(record[4], textPacks);
  EXPECT_EQ(record[5], 0);
  EXPECT_EQ(record[4 + 15], 3);
  EXPECT_EQ(record[20], packs.size() - 1);
  EXPECT_EQ(record[28], 0x09);  // English
  // Track numbers in the headers start at the first track.
  EXPECT_EQ(packs[0][1], 0);  // "Album\0Track n" starts with the disc's title
  EXPECT_EQ(packs[1][1], 3);  // "umber 1\0Trac": track 3's text, 6 characters in
  EXPECT_EQ(packs[1][3], 6);
}

TEST(CDTextEncoder, NoTextGivesNoPacks) {
  TCDTextDisc disc;
  disc.Tracks.resize(5);
  EXPECT_TRUE(BuildCDText(disc).Packs.empty());
}

TEST(CDTextLeadIn, SpreadsEachPackOverTwentyFourSixBitSymbols) {
  // The expansion example of libburn's SAO cookbook.
  TCDTextPack pack = {0x8F, 0x00, 0x2A, 0x00, 0x01, 0x01, 0x03, 0x00, 0x06,
                      0x05, 0x04, 0x05, 0x07, 0x06, 0x01, 0x02, 0x48, 0x65};
  const std::vector<TCDTextPack> one = {pack};
  const auto block = CDTextLeadInBlock(one, 0);
  const std::uint8_t expected[24] = {0x23, 0x30, 0x00, 0x2A, 0x00, 0x00, 0x04, 0x01, 0x00, 0x30, 0x00, 0x06,
                                     0x01, 0x10, 0x10, 0x05, 0x01, 0x30, 0x18, 0x01, 0x00, 0x24, 0x21, 0x25};
  for (std::size_t i = 0; i < 24; ++i) EXPECT_EQ(block[i], expected[i]) << i;
  // The one pack fills all four places of the block.
  for (std::size_t p = 1; p < 4; ++p)
    EXPECT_TRUE(std::equal(block.begin(), block.begin() + 24, block.begin() + 24 * p));
}

TEST(CDTextLeadIn, CyclesThroughThePackList) {
  const auto packs = BuildCDText(JoyfulNights()).Packs;  // 22 packs
  // Block 5 holds packs 20, 21, 0, 1; block 11 starts the list again.
  const auto five = CDTextLeadInBlock(packs, 5);
  const std::vector<TCDTextPack> order = {packs[20], packs[21], packs[0], packs[1]};
  const auto expected = CDTextLeadInBlock(order, 0);
  EXPECT_EQ(five, expected);
  EXPECT_EQ(CDTextLeadInBlock(packs, 11), CDTextLeadInBlock(packs, 0));
  for (std::uint8_t symbol : five) EXPECT_EQ(symbol & 0xC0, 0);
}

TEST(CDTextLatin1, KeepsLatin1AndSpellsOtherCharactersReadably) {
  EXPECT_EQ(ToLatin1("Caf\xC3\xA9 M\xC3\xBCller"), "Caf\xE9 M\xFCller");
  EXPECT_EQ(ToLatin1("Dvo\xC5\x99\xC3\xA1k: \xC5\x81\xC3\xB3\xC4\x91\xC5\xBA"), "Dvor\xE1k: L\xF3" "dz");
  EXPECT_EQ(ToLatin1("\xE2\x80\x9CHello\xE2\x80\x9D \xE2\x80\x94 it\xE2\x80\x99s\xE2\x80\xA6"),
            "\"Hello\" - it's...");
  EXPECT_EQ(ToLatin1("\xD0\xA7\xD0\xB0\xD0\xB9\xD0\xBA\xD0\xBE\xD0\xB2\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9"),
            "Chaykovskiy");
  EXPECT_EQ(ToLatin1("\xCE\x9C\xCE\xB9\xCE\xBA\xCE\xB7\xCF\x82"), "Mikis");
  EXPECT_EQ(ToLatin1("\xC5\x92uvre \xE2\x82\xAC" "5"), "OEuvre EUR5");
  // A letter and a combining accent become the precomposed letter.
  EXPECT_EQ(ToLatin1("Beyonce\xCC\x81"), "Beyonc\xE9");
  // Full-width forms become ASCII; what has no spelling becomes '?'.
  EXPECT_EQ(ToLatin1("\xEF\xBC\xA1\xEF\xBC\xA2 \xE6\x9D\xB1"), "AB ?");
  // Control characters and TAB become spaces, broken UTF-8 '?'.
  EXPECT_EQ(ToLatin1("a\tb\nc\xFF" "d\xC3"), "a b c?d?");
}

TEST(CDTextFit, LongTextsAreCutAndAFullBlockDropsTheLeastImportantKindsFirst) {
  TCDTextDisc disc;
  disc.Title = std::string(300, 'x');
  disc.Tracks.resize(3);
  disc.Tracks[0].Title = "Short";
  TCDTextResult result = BuildCDText(disc);
  EXPECT_EQ(result.Block.Titles[0].size(), kCDTextMaxChars);
  EXPECT_EQ(result.Block.Titles[1], "Short");
  ASSERT_EQ(result.Notes.size(), 1u);

  // 99 tracks with long titles, performers, songwriters and ISRCs cannot
  // all fit: the codes go first, texts are shortened, and every title is
  // still there (no title is dropped).
  TCDTextDisc full;
  full.Title = "A very long album title that goes on and on";
  full.Performer = "Somebody";
  full.UpcEan = "1234567890123";
  for (int i = 0; i < 99; ++i)
    full.Tracks.push_back({"Title of track " + std::to_string(i) + " which is long", "Performer " + std::to_string(i),
                           "Songwriter " + std::to_string(i), "USABC2500" + std::string(3 - std::to_string(i).size(), '0') +
                                                                  std::to_string(i)});
  result = BuildCDText(full);
  ASSERT_FALSE(result.Packs.empty());
  EXPECT_LE(result.Packs.size(), kCDTextMaxTextPacks + 3);
  EXPECT_FALSE(result.Notes.empty());
  for (std::size_t i = 1; i <= 99; ++i) EXPECT_FALSE(result.Block.Titles[i].empty());
  for (const std::string& code : result.Block.Codes) EXPECT_TRUE(code.empty());
  EXPECT_EQ(result.Packs.back()[0], 0x8F);
  EXPECT_EQ(result.Packs.back()[2], result.Packs.size() - 1);
}

TEST(CDTextFit, MalformedCodesAreLeftOutWithANote) {
  TCDTextDisc disc;
  disc.UpcEan = "12345";
  disc.Tracks = {{"One", "", "", "us-abc-25-00001"}, {"Two", "", "", "USABC2500002"}};
  const TCDTextResult result = BuildCDText(disc);
  EXPECT_EQ(result.Block.Codes[0], "");
  EXPECT_EQ(result.Block.Codes[1], "");
  EXPECT_EQ(result.Block.Codes[2], "USABC2500002");
  EXPECT_EQ(result.Notes.size(), 2u);
}

}  // namespace
}  // namespace cv
