// The recorder's reading of SEND CUE SHEET data: the sheets the peers send
// are taken with their layout, and every kind of bad sheet is refused with
// the entry and the reason.
#include "vrecorder/cvVirtualCueSheet.h"

#include <functional>

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualSaoUtil.h"

namespace {

using cvtest::CueSheet;

// Three tracks: 10000 blocks, 12345 without a pregap, a 150-block pregap and
// 9000 blocks; catalog number, CD-TEXT, ISRCs.
CueSheet ThreeTracks() {
  CueSheet c;
  c.Mcn("0123456789012").LeadIn(true);
  c.Isrc(1, "USABC2500001").Index(1, 0, -150).Index(1, 1, 0);
  c.Isrc(2, "USABC2500002").Index(2, 1, 10000);
  c.Isrc(3, "USABC2500003").Index(3, 0, 22345).Index(3, 1, 22495);
  return c.LeadOut(31495);
}

TEST(VirtualCueSheet, ReadsTheLayout) {
  const CueSheet c = ThreeTracks();
  ASSERT_EQ(c.Bytes.size(), 120u);
  // Spot checks of the encoding against a worked example of the format.
  EXPECT_EQ(std::vector<std::uint8_t>(c.Bytes.begin() + 72, c.Bytes.begin() + 80),
            (std::vector<std::uint8_t>{0x01, 0x02, 0x01, 0x00, 0x00, 0x02, 0x0F, 0x19}));
  EXPECT_EQ(std::vector<std::uint8_t>(c.Bytes.end() - 8, c.Bytes.end()),
            (std::vector<std::uint8_t>{0x01, 0xAA, 0x01, 0x01, 0x00, 0x07, 0x01, 0x46}));
  cv::TVRCueLayout layout;
  ASSERT_EQ(cv::VRReadCueSheet(c.Bytes, {}, layout), std::nullopt);
  EXPECT_EQ(layout.Mcn, "0123456789012");
  EXPECT_TRUE(layout.CdText);
  EXPECT_FALSE(layout.LeadInAtStart);
  EXPECT_EQ(layout.LeadOut, 31495);
  EXPECT_EQ(layout.FirstWrite(-12490), -12490);
  ASSERT_EQ(layout.Tracks.size(), 3u);
  const auto& t = layout.Tracks;
  EXPECT_EQ(t[0].Isrc, "USABC2500001");
  EXPECT_EQ(t[0].Index0, -150);
  EXPECT_EQ(t[0].Start, 0);
  EXPECT_EQ(t[0].End, 10000);
  EXPECT_EQ(t[1].Index0, std::nullopt);
  EXPECT_EQ(t[1].Pregap(), 0);
  EXPECT_EQ(t[1].End, 22345);
  EXPECT_EQ(t[2].Pregap(), 150);
  EXPECT_EQ(t[2].Start, 22495);
  EXPECT_EQ(t[2].End, 31495);
}

TEST(VirtualCueSheet, TakesThePeersForms) {
  // Lead-in at the lead-in start, a zero-length INDEX 00, sub-indexes,
  // copy-permitted tracks with and without CTL in the ISRC entries, no
  // CD-TEXT, a lead-out at the last possible address.
  CueSheet c;
  c.LeadIn(true, -12490);
  c.Isrc(1, "XYBLG1101234", 2).Index(1, 0, -150, 2).Index(1, 1, 0, 2).Index(1, 2, 100, 2).Index(1, 3, 200, 2);
  c.Isrc(2, "XYBLG1100005", 0).Index(2, 0, 400, 2).Index(2, 1, 400, 2);
  c.LeadOut(359849);
  cv::TVRCueLayout layout;
  ASSERT_EQ(cv::VRReadCueSheet(c.Bytes, {}, layout), std::nullopt);
  EXPECT_TRUE(layout.LeadInAtStart);
  EXPECT_EQ(layout.Tracks[0].Control, 2);
  EXPECT_EQ(layout.Tracks[0].MoreIndexes, (std::vector<std::int32_t>{100, 200}));
  EXPECT_EQ(layout.Tracks[1].Pregap(), 0);
  EXPECT_EQ(layout.Tracks[1].Index0, 400);
  CueSheet plain;
  plain.LeadIn().Index(1, 0, -150).Index(1, 1, 0).LeadOut(300);
  ASSERT_EQ(cv::VRReadCueSheet(plain.Bytes, {}, layout), std::nullopt);
  EXPECT_FALSE(layout.CdText);
  EXPECT_EQ(layout.FirstWrite(-12490), -150);
  EXPECT_TRUE(layout.Mcn.empty());
}

TEST(VirtualCueSheet, RefusesBadSheetsNamingTheEntry) {
  struct Case {
    const char* Name;
    std::function<CueSheet()> Make;
    const char* Reason;
  };
  auto one = [](std::int32_t leadOut) {
    CueSheet c;
    c.LeadIn().Index(1, 0, -150).Index(1, 1, 0);
    return c.LeadOut(leadOut);
  };
  const Case cases[] = {
      {"empty", [] { return CueSheet{}; }, "not a whole number of 8-byte entries"},
      {"ragged", [&] { auto c = one(300); c.Bytes.pop_back(); return c; }, "not a whole number of 8-byte entries"},
      {"no lead-in", [] { CueSheet c; c.Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "entry 1: the lead-in entry"},
      {"lead-in not first",
       [] { CueSheet c; c.Mcn("0123456789012").Index(1, 0, -150).LeadIn().Index(1, 1, 0).LeadOut(300); return c; },
       "entry 3: the lead-in entry"},
      {"catalog not digits", [] { CueSheet c; c.Mcn("01234567890AB").LeadIn().Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "entry 1: the catalog number is not 13 digits"},
      {"catalog late", [] { CueSheet c; c.LeadIn().Mcn("0123456789012").Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "entry 2: catalog number entries must come first"},
      {"lead-out not last", [&] { auto c = one(300); c.Index(2, 1, 300); return c; }, "entry 5: entries after the lead-out"},
      {"no lead-out", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0); return c; },
       "entry 3: the lead-out entry (TNO AAh) must be the last entry"},
      {"decreasing address",
       [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(2, 1, 600).Index(3, 0, 599).Index(3, 1, 900).LeadOut(1200); return c; },
       "entry 5: MSF 00:09:74 lies before the entry before it"},
      {"short track", [&] { return one(299); }, "track 1 has 299 blocks, at least 300 are needed"},
      {"short middle track",
       [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(2, 0, 300).Index(2, 1, 450).Index(3, 1, 749).LeadOut(1100); return c; },
       "track 2 has 299 blocks"},
      {"no pause", [] { CueSheet c; c.LeadIn().Index(1, 1, 0).LeadOut(300); return c; }, "the first track needs INDEX 00"},
      {"pause not at zero", [] { CueSheet c; c.LeadIn().Index(1, 0, -149).Index(1, 1, 0).LeadOut(300); return c; },
       "entry 2: the first track's INDEX 00 must be at 00:00:00"},
      {"pause too short", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, -1).LeadOut(300); return c; },
       "entry 3: the first track's INDEX 01 must be at 00:02:00 or later"},
      {"track numbers skip", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(3, 1, 300).LeadOut(600); return c; },
       "entry 4: track 3 where track 2 must follow"},
      {"track without INDEX 01", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(2, 0, 300).Index(3, 1, 600).LeadOut(900); return c; },
       "entry 5: track 2 has no INDEX 01"},
      {"index skipped", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(1, 3, 10).LeadOut(300); return c; },
       "entry 4: INDEX 3 where INDEX 2 must follow"},
      {"data form", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0, 0, 0x10).LeadOut(300); return c; },
       "entry 3: DATA FORM 10h for track 1: this recorder takes CD-DA from the host (00h) only"},
      {"sub-channel data form", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0, 0, 0x40).LeadOut(300); return c; },
       "DATA FORM 40h"},
      {"data track", [] { CueSheet c; c.LeadIn().Index(1, 0, -150, 4).Index(1, 1, 0, 4).LeadOut(300); return c; },
       "entry 2: a data track"},
      {"lead-in form", [] { CueSheet c; c.Raw({0x01, 0, 0, 0x14, 0, 0, 0, 0}).Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "entry 1: lead-in DATA FORM 14h"},
      {"lead-in address", [] { CueSheet c; c.LeadIn(true, -11000).Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "expected 00:00:00 or the lead-in start"},
      {"lead-out form", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Raw({0x01, 0xAA, 0x01, 0x00, 0, 0, 6, 0}); return c; },
       "lead-out DATA FORM 00h"},
      {"beyond the disc", [&] { return one(359850); }, "beyond the disc's last possible lead-out"},
      {"bad MSF", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Raw({0x01, 1, 1, 0, 0, 0, 60, 0}).LeadOut(300); return c; },
       "entry 3: MSF 00:60:00 is not an address"},
      {"ISRC letters", [] { CueSheet c; c.LeadIn().Isrc(1, "us-BC2500001").Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "is not an ISRC"},
      {"ISRC digits", [] { CueSheet c; c.LeadIn().Isrc(1, "USABC25A0001").Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "is not an ISRC"},
      {"ISRC of another track", [] { CueSheet c; c.LeadIn().Isrc(2, "USABC2500001").Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "entry 2: an ISRC for track 2 before track 1's index entries"},
      {"ISRC half", [] { CueSheet c; c.LeadIn().Raw({0x03, 1, 'U', 'S', 'A', 'B', 'C', '2'}).Index(1, 0, -150).Index(1, 1, 0).LeadOut(300); return c; },
       "an ISRC needs two ADR 3 entries"},
      {"ISRC inside a track", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Isrc(1, "USABC2500001").Index(1, 1, 0).LeadOut(300); return c; },
       "an ISRC for track 1 before track 2's index entries"},
      {"unknown ADR", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Raw({0x05, 1, 1, 0, 0, 0, 2, 0}).LeadOut(300); return c; },
       "entry 3: ADR 5 is not a cue sheet entry"},
      {"SCMS", [] { CueSheet c; c.LeadIn().Index(1, 0, -150).Raw({0x01, 1, 1, 0, 0x40, 0, 2, 0}).LeadOut(300); return c; },
       "SCMS 40h"},
      {"CTL changes in a track", [] { CueSheet c; c.LeadIn().Index(1, 0, -150, 2).Index(1, 1, 0, 0).LeadOut(300); return c; },
       "CTL bits differ within track 1"},
  };
  for (const Case& c : cases) {
    cv::TVRCueLayout layout;
    const auto error = cv::VRReadCueSheet(c.Make().Bytes, {}, layout);
    ASSERT_TRUE(error.has_value()) << c.Name;
    EXPECT_NE(error->find(c.Reason), std::string::npos) << c.Name << ": " << *error;
  }
}

TEST(VirtualCueSheet, DrivesThatRefuseOneFormAcceptTheOther) {
  auto sheet = [](bool cdText, std::int32_t leadIn, std::uint8_t isrcCtl, bool pregap) {
    CueSheet c;
    c.LeadIn(cdText, leadIn).Isrc(1, "USABC2500001", isrcCtl).Index(1, 0, -150, 2).Index(1, 1, 0, 2);
    if (pregap) c.Index(2, 0, 300, 2);
    c.Index(2, 1, pregap ? 301 : 300, 2);
    return c.LeadOut(700).Bytes;
  };
  struct Case {
    unsigned Refuse;
    std::vector<std::uint8_t> Refused, Accepted;
  };
  const Case cases[] = {
      {cv::kVRRefuseLeadInStart, sheet(true, -12490, 2, true), sheet(true, -150, 2, true)},
      {cv::kVRRefuseLeadInZero, sheet(true, -150, 2, true), sheet(true, -12490, 2, true)},
      {cv::kVRRefuseIsrcCtl, sheet(false, -150, 2, true), sheet(false, -150, 0, true)},
      {cv::kVRRefuseIsrcNoCtl, sheet(false, -150, 0, true), sheet(false, -150, 2, true)},
      {cv::kVRRefuseZeroPregap, sheet(false, -150, 2, false), sheet(false, -150, 2, true)},
  };
  for (const Case& c : cases) {
    cv::TVRCueRules rules;
    rules.Refuse = c.Refuse;
    cv::TVRCueLayout layout;
    EXPECT_TRUE(cv::VRReadCueSheet(c.Refused, rules, layout).has_value()) << cv::VRCueRefusalNames(c.Refuse);
    EXPECT_EQ(cv::VRReadCueSheet(c.Accepted, rules, layout), std::nullopt) << cv::VRCueRefusalNames(c.Refuse);
    EXPECT_EQ(cv::VRReadCueSheet(c.Refused, {}, layout), std::nullopt) << "accepted without the fault";
    EXPECT_EQ(cv::VRCueRefusalFromName(cv::VRCueRefusalNames(c.Refuse)), c.Refuse);
  }
  // Without CD-TEXT the lead-in entry is always at 00:00:00, and a drive
  // without CD-TEXT refuses the CD-TEXT form.
  cv::TVRCueRules rules;
  rules.Refuse = cv::kVRRefuseLeadInZero;
  cv::TVRCueLayout layout;
  EXPECT_EQ(cv::VRReadCueSheet(sheet(false, -150, 2, true), rules, layout), std::nullopt);
  rules = {};
  rules.CdTextWritable = false;
  EXPECT_TRUE(cv::VRReadCueSheet(sheet(true, -150, 2, true), rules, layout).has_value());
  EXPECT_EQ(cv::VRCueRefusalFromName("nonsense"), 0u);
}

}  // namespace
