// SEND CUE SHEET data: a worked three-track sheet entry by entry, the
// variants drives may need, and the order they are tried in.
#include "burner/cvCueSheet.h"

#include <gtest/gtest.h>

namespace cv {
namespace {

constexpr std::int64_t S = kSamplesPerSector;

// MCN 0123456789012; track 1 10000 sectors, track 2 12345 sectors joined
// without a pause, track 3 a 150-sector pause and 9000 sectors; ISRCs
// USABC2500001..3.
TDiscLayout ThreeTracks() {
  std::vector<TLayoutInput> inputs(3);
  inputs[0].Samples = 10000 * S;
  inputs[1].Samples = 12345 * S;
  inputs[2].Samples = 9000 * S;
  inputs[2].PauseSectors = 150;
  for (int i = 0; i < 3; ++i) inputs[static_cast<std::size_t>(i)].Isrc = "USABC250000" + std::to_string(i + 1);
  TLayoutOptions options;
  options.Mcn = "0123456789012";
  return LayOutDisc(inputs, options);
}

TEST(CueSheet, ThreeTracksWithMcnIsrcsAndCDTextEntryByEntry) {
  const TDiscLayout layout = ThreeTracks();
  const auto sheet = BuildCueSheet(layout, true, -12490, {});
  EXPECT_EQ(CueSheetText(sheet),
            "02 30 31 32 33 34 35 36\n"  // MCN 1-7
            "02 37 38 39 30 31 32 00\n"  // MCN 8-13
            "01 00 00 41 00 00 00 00\n"  // lead-in with CD-TEXT at 00:00:00
            "03 01 55 53 41 42 43 32\n"  // ISRC track 1 "USABC2"
            "03 01 35 30 30 30 30 31\n"  //              "500001"
            "01 01 00 00 00 00 00 00\n"  // track 1 INDEX 00 at LBA -150
            "01 01 01 00 00 00 02 00\n"  // track 1 INDEX 01 at LBA 0
            "03 02 55 53 41 42 43 32\n"
            "03 02 35 30 30 30 30 32\n"
            "01 02 01 00 00 02 0F 19\n"  // track 2 INDEX 01 at LBA 10000, no INDEX 00
            "03 03 55 53 41 42 43 32\n"
            "03 03 35 30 30 30 30 33\n"
            "01 03 00 00 00 04 3B 46\n"  // track 3 INDEX 00 at LBA 22345
            "01 03 01 00 00 05 01 46\n"  // track 3 INDEX 01 at LBA 22495
            "01 AA 01 01 00 07 01 46\n");  // lead-out at LBA 31495
  EXPECT_EQ(sheet.size(), 15u * 8);
}

TEST(CueSheet, VariantsChangeOnlyTheirEntries) {
  const TDiscLayout layout = ThreeTracks();
  TCueSheetVariant variant;
  variant.LeadInAtStart = true;
  variant.OneSectorPregaps = true;
  const std::string text = CueSheetText(BuildCueSheet(layout, false, -12490, variant));
  // Lead-in at 97:15:35 (LBA -12490), no CD-TEXT.
  EXPECT_NE(text.find("01 00 00 01 00 61 0F 23\n"), std::string::npos) << text;
  // Track 2 gets a one-sector INDEX 00 (LBA 9999 = 02:15:24); track 1
  // keeps its two seconds, track 3 its pause.
  EXPECT_NE(text.find("01 02 00 00 00 02 0F 18\n01 02 01 00 00 02 0F 19\n"), std::string::npos) << text;
  EXPECT_NE(text.find("01 03 00 00 00 04 3B 46\n"), std::string::npos);
  EXPECT_EQ(BuildCueSheet(layout, false, -12490, variant).size(), 16u * 8);
  // The lead-in entry is the first after the MCN either way.
  EXPECT_EQ(text.substr(48, 23), "01 00 00 01 00 61 0F 23");
}

TEST(CueSheet, MsfOfLeadInAndProgramArea) {
  auto msf = [](std::int32_t lba) {
    const TMsf m = MsfOfLBA(lba);
    return std::to_string(m.M) + ":" + std::to_string(m.S) + ":" + std::to_string(m.F);
  };
  EXPECT_EQ(msf(-150), "0:0:0");
  EXPECT_EQ(msf(0), "0:2:0");
  EXPECT_EQ(msf(31495), "7:1:70");
  EXPECT_EQ(msf(-12490), "97:15:35");
  EXPECT_EQ(msf(-11634), "97:26:66");
  EXPECT_EQ(msf(-151), "99:59:74");
}

TEST(CueSheet, VariantsAreTriedCommonFormFirstAndOnlyWhereTheyMatter) {
  const auto all = CueSheetVariants(ThreeTracks());
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[0], TCueSheetVariant{});
  EXPECT_EQ(all[1], (TCueSheetVariant{true, false}));
  EXPECT_EQ(all[2], (TCueSheetVariant{false, true}));
  EXPECT_EQ(all[3], (TCueSheetVariant{true, true}));
  // Pauses everywhere: no gapless join, no pregap form.
  std::vector<TLayoutInput> paused(2);
  paused[0].Samples = paused[1].Samples = 400 * S;
  paused[1].PauseSectors = 150;
  EXPECT_EQ(CueSheetVariants(LayOutDisc(paused, {})).size(), 2u);
}

}  // namespace
}  // namespace cv
