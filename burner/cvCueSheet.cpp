#include "burner/cvCueSheet.h"

#include <array>

namespace cv {

namespace {

constexpr std::uint8_t kAdrTime = 0x01;
constexpr std::uint8_t kAdrMcn = 0x02;
constexpr std::uint8_t kAdrIsrc = 0x03;
constexpr std::uint8_t kTnoLeadOut = 0xAA;
constexpr std::uint8_t kAudioControl = 0x00;  // two channels, no pre-emphasis, copy prohibited

void Entry(std::vector<std::uint8_t>& sheet, const std::array<std::uint8_t, 8>& entry) {
  sheet.insert(sheet.end(), entry.begin(), entry.end());
}

void TimeEntry(std::vector<std::uint8_t>& sheet, std::uint8_t tno, std::uint8_t index, std::uint8_t form,
               std::int32_t lba) {
  const TMsf msf = MsfOfLBA(lba);
  Entry(sheet, {static_cast<std::uint8_t>(kAudioControl | kAdrTime), tno, index, form, 0x00, msf.M, msf.S, msf.F});
}

std::uint8_t Char(const std::string& text, std::size_t i) { return static_cast<std::uint8_t>(text[i]); }

}  // namespace

TMsf MsfOfLBA(std::int32_t LBA) {
  const std::int32_t frames = LBA < -kFirstPregapSectors ? LBA + 450150 : LBA + kFirstPregapSectors;
  TMsf msf;
  msf.M = static_cast<std::uint8_t>(frames / 4500);
  msf.S = static_cast<std::uint8_t>(frames / 75 % 60);
  msf.F = static_cast<std::uint8_t>(frames % 75);
  return msf;
}

std::vector<std::uint8_t> BuildCueSheet(const TDiscLayout& Layout, bool CDText, std::int32_t LeadInStart,
                                        const TCueSheetVariant& Variant) {
  std::vector<std::uint8_t> sheet;
  if (!Layout.Mcn.empty()) {
    const std::string& m = Layout.Mcn;
    Entry(sheet, {kAdrMcn, Char(m, 0), Char(m, 1), Char(m, 2), Char(m, 3), Char(m, 4), Char(m, 5), Char(m, 6)});
    Entry(sheet, {kAdrMcn, Char(m, 7), Char(m, 8), Char(m, 9), Char(m, 10), Char(m, 11), Char(m, 12), 0x00});
  }
  const std::uint8_t leadInForm = static_cast<std::uint8_t>(kCueFormGenerated | (CDText ? kCueFormCDText : 0));
  if (Variant.LeadInAtStart) {
    TimeEntry(sheet, 0x00, 0x00, leadInForm, LeadInStart);
  } else {
    Entry(sheet, {static_cast<std::uint8_t>(kAudioControl | kAdrTime), 0x00, 0x00, leadInForm, 0x00, 0, 0, 0});
  }
  for (std::size_t i = 0; i < Layout.Tracks.size(); ++i) {
    const TLaidTrack& track = Layout.Tracks[i];
    const auto tno = static_cast<std::uint8_t>(track.Number);
    if (!track.Isrc.empty()) {
      const auto adr = static_cast<std::uint8_t>(kAudioControl | kAdrIsrc);
      const std::string& c = track.Isrc;
      Entry(sheet, {adr, tno, Char(c, 0), Char(c, 1), Char(c, 2), Char(c, 3), Char(c, 4), Char(c, 5)});
      Entry(sheet, {adr, tno, Char(c, 6), Char(c, 7), Char(c, 8), Char(c, 9), Char(c, 10), Char(c, 11)});
    }
    if (track.HasPregap()) {
      TimeEntry(sheet, tno, 0x00, kCueFormAudio, track.Index00);
    } else if (Variant.OneSectorPregaps && i > 0) {
      TimeEntry(sheet, tno, 0x00, kCueFormAudio, track.Index01 - 1);
    }
    TimeEntry(sheet, tno, 0x01, kCueFormAudio, track.Index01);
  }
  TimeEntry(sheet, kTnoLeadOut, 0x01, kCueFormGenerated, Layout.LeadOut);
  return sheet;
}

std::vector<TCueSheetVariant> CueSheetVariants(const TDiscLayout& Layout) {
  bool gapless = false;
  for (std::size_t i = 1; i < Layout.Tracks.size(); ++i) gapless = gapless || !Layout.Tracks[i].HasPregap();
  std::vector<TCueSheetVariant> variants;
  for (const bool pregaps : {false, true}) {
    if (pregaps && !gapless) continue;
    for (const bool atStart : {false, true}) variants.push_back({atStart, pregaps});
  }
  return variants;
}

std::string CueSheetText(const std::vector<std::uint8_t>& Sheet) {
  static const char* digits = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < Sheet.size(); ++i) {
    text += digits[Sheet[i] >> 4];
    text += digits[Sheet[i] & 15];
    text += (i % 8 == 7) ? '\n' : ' ';
  }
  return text;
}

}  // namespace cv
