#include "vrecorder/cvVirtualCueSheet.h"

#include <array>
#include <climits>
#include <cstdio>

namespace cv {

namespace {

constexpr std::size_t kEntryBytes = 8;
constexpr std::uint8_t kLeadOutTrack = 0xAA;
constexpr std::int32_t kMinTrackBlocks = 300;
constexpr std::int32_t kNoStart = INT32_MIN;  // no INDEX 01 seen yet

struct TEntry {
  std::span<const std::uint8_t, kEntryBytes> B;
  std::uint8_t Ctl() const { return B[0] >> 4; }
  std::uint8_t Adr() const { return B[0] & 0x0F; }
  std::uint8_t Tno() const { return B[1]; }
  std::uint8_t Index() const { return B[2]; }
  std::uint8_t Form() const { return B[3]; }
  std::uint8_t Scms() const { return B[4]; }
};

std::string Hex2(std::uint8_t v) {
  char text[4];
  std::snprintf(text, sizeof text, "%02X", v);
  return text;
}

std::string MsfText(std::span<const std::uint8_t> msf) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", msf[0], msf[1], msf[2]);
  return text;
}

bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
bool IsUpperOrDigit(std::uint8_t c) { return IsDigit(c) || (c >= 'A' && c <= 'Z'); }

const struct {
  const char* Name;
  unsigned Bit;
} kRefusals[] = {
    {"leadin-start", kVRRefuseLeadInStart}, {"leadin-zero", kVRRefuseLeadInZero},
    {"zero-pregap", kVRRefuseZeroPregap},   {"isrc-ctl", kVRRefuseIsrcCtl},
    {"isrc-noctl", kVRRefuseIsrcNoCtl},
};

}  // namespace

unsigned VRCueRefusalFromName(std::string_view name) {
  for (const auto& r : kRefusals)
    if (name == r.Name) return r.Bit;
  return 0;
}

std::string VRCueRefusalNames(unsigned refusals) {
  std::string names;
  for (const auto& r : kRefusals)
    if (refusals & r.Bit) names += (names.empty() ? "" : ",") + std::string(r.Name);
  return names;
}

std::int32_t VRMsfToLba(int minute, int second, int frame) {
  const std::int32_t frames = (minute * 60 + second) * 75 + frame;
  return minute >= 90 ? frames - 450150 : frames - 150;
}

std::optional<std::string> VRReadCueSheet(std::span<const std::uint8_t> sheet, const TVRCueRules& rules,
                                          TVRCueLayout& layout) {
  layout = {};
  if (sheet.empty() || sheet.size() % kEntryBytes != 0)
    return "a cue sheet of " + std::to_string(sheet.size()) + " bytes is not a whole number of 8-byte entries";
  const std::size_t count = sheet.size() / kEntryBytes;
  auto entry = [&](std::size_t i) { return TEntry{sheet.subspan(i * kEntryBytes).first<kEntryBytes>()}; };
  auto at = [](std::size_t i) { return "entry " + std::to_string(i + 1) + ": "; };
  auto address = [&](const TEntry& e, std::size_t i, std::int32_t& lba) -> std::optional<std::string> {
    const std::uint8_t m = e.B[5], s = e.B[6], f = e.B[7];
    if (s >= 60 || f >= 75 || m >= 100) return at(i) + "MSF " + MsfText(e.B.subspan(5, 3)) + " is not an address";
    lba = VRMsfToLba(m, s, f);
    return std::nullopt;
  };

  std::size_t i = 0;
  // Media Catalog Number: two ADR 2 entries, 13 ASCII digits.
  if (entry(0).Adr() == 2) {
    if (count < 2 || entry(1).Adr() != 2) return at(0) + "a catalog number needs two ADR 2 entries";
    std::string mcn;
    for (std::size_t k = 1; k < 8; ++k) mcn += static_cast<char>(entry(0).B[k]);
    for (std::size_t k = 1; k < 7; ++k) mcn += static_cast<char>(entry(1).B[k]);
    for (char c : mcn)
      if (!IsDigit(static_cast<std::uint8_t>(c))) return at(0) + "the catalog number is not 13 digits";
    if (entry(1).B[7] != 0) return at(1) + "the last byte of the catalog number entry must be 0";
    layout.Mcn = mcn;
    i = 2;
  }

  // The lead-in.
  if (i >= count) return at(i) + "the lead-in entry is missing";
  {
    const TEntry e = entry(i);
    if (e.Adr() != 1 || e.Tno() != 0 || e.Index() != 0)
      return at(i) + "the lead-in entry (ADR 1, TNO 00, INDEX 00) must follow the catalog number";
    if (e.Ctl() & 0x4) return at(i) + "a data lead-in: this recorder writes audio only";
    if (e.Form() != 0x01 && e.Form() != 0x41)
      return at(i) + "lead-in DATA FORM " + Hex2(e.Form()) + "h, expected 01h or 41h (CD-TEXT)";
    layout.CdText = e.Form() == 0x41;
    if (layout.CdText && !rules.CdTextWritable) return at(i) + "this drive does not write CD-TEXT";
    const bool zero = e.B[5] == 0 && e.B[6] == 0 && e.B[7] == 0;
    std::int32_t lba = 0;
    if (auto error = address(e, i, lba)) return error;
    layout.LeadInAtStart = !zero;
    if (!zero && !(layout.CdText && lba == rules.LeadInStart))
      return at(i) + "lead-in at " + MsfText(e.B.subspan(5, 3)) +
             (layout.CdText ? ", expected 00:00:00 or the lead-in start" : ", expected 00:00:00");
    if (layout.CdText && !zero && (rules.Refuse & kVRRefuseLeadInStart))
      return at(i) + "this drive refuses the lead-in start in the lead-in entry";
    if (layout.CdText && zero && (rules.Refuse & kVRRefuseLeadInZero))
      return at(i) + "this drive refuses 00:00:00 in a CD-TEXT lead-in entry";
    ++i;
  }

  // The tracks.
  std::int32_t previous = -150;
  bool isrcPending = false;
  std::size_t isrcEntry = 0;
  TVRCueTrack pendingIsrc;
  bool leadOut = false;
  for (; i < count; ++i) {
    const TEntry e = entry(i);
    const int next = static_cast<int>(layout.Tracks.size()) + 1;
    if (e.Adr() == 2) return at(i) + "catalog number entries must come first";
    if (e.Adr() == 3) {
      if (isrcPending) return at(i) + "a second ISRC for track " + std::to_string(next);
      if (i + 1 >= count || entry(i + 1).Adr() != 3 || entry(i + 1).Tno() != e.Tno())
        return at(i) + "an ISRC needs two ADR 3 entries of the same track";
      if (e.Tno() != next) return at(i) + "an ISRC for track " + std::to_string(e.Tno()) + " before track " +
                                  std::to_string(next) + "'s index entries";
      if (entry(i + 1).Ctl() != e.Ctl()) return at(i + 1) + "the two ISRC entries carry different CTL bits";
      std::string isrc;
      for (std::size_t k = 2; k < 8; ++k) isrc += static_cast<char>(e.B[k]);
      for (std::size_t k = 2; k < 8; ++k) isrc += static_cast<char>(entry(i + 1).B[k]);
      for (std::size_t k = 0; k < 12; ++k) {
        const auto c = static_cast<std::uint8_t>(isrc[k]);
        if (k < 5 ? !IsUpperOrDigit(c) : !IsDigit(c))
          return at(k < 6 ? i : i + 1) + "\"" + isrc + "\" is not an ISRC (5 letters or digits, 7 digits)";
      }
      pendingIsrc = {};
      pendingIsrc.Isrc = isrc;
      pendingIsrc.IsrcControl = e.Ctl();
      isrcPending = true;
      isrcEntry = i;
      ++i;
      continue;
    }
    if (e.Adr() != 1) return at(i) + "ADR " + std::to_string(e.Adr()) + " is not a cue sheet entry";
    if (e.Tno() == kLeadOutTrack) {
      if (isrcPending) return at(isrcEntry) + "an ISRC with no track after it";
      if (layout.Tracks.empty()) return at(i) + "a session without tracks";
      if (i + 1 != count) return at(i + 1) + "entries after the lead-out";
      if (e.Index() != 1) return at(i) + "the lead-out entry must have INDEX 01";
      if (e.Form() != 0x01) return at(i) + "lead-out DATA FORM " + Hex2(e.Form()) + "h, expected 01h (audio)";
      if (e.Ctl() & 0x4) return at(i) + "a data lead-out: this recorder writes audio only";
      std::int32_t lba = 0;
      if (auto error = address(e, i, lba)) return error;
      if (lba < previous) return at(i) + "the lead-out at " + MsfText(e.B.subspan(5, 3)) + " lies before the entry before it";
      if (lba > rules.LastLeadOut)
        return at(i) + "the lead-out at " + MsfText(e.B.subspan(5, 3)) + " lies beyond the disc's last possible lead-out";
      layout.LeadOut = lba;
      leadOut = true;
      break;
    }
    // An index point of the current track or the first of the next.
    if (e.Tno() < 1 || e.Tno() > 99) return at(i) + "track number " + std::to_string(e.Tno()) + " out of range 1..99";
    const bool newTrack = layout.Tracks.empty() || e.Tno() != layout.Tracks.back().Number;
    if (newTrack) {
      if (e.Tno() != next)
        return at(i) + "track " + std::to_string(e.Tno()) + " where track " + std::to_string(next) + " must follow";
      if (!layout.Tracks.empty() && layout.Tracks.back().Start == kNoStart)
        return at(i) + "track " + std::to_string(next - 1) + " has no INDEX 01";
      if (e.Index() > 1) return at(i) + "track " + std::to_string(next) + " must start with INDEX 00 or 01";
      if (next == 1 && e.Index() != 0) return at(i) + "the first track needs INDEX 00 at 00:00:00 (its pause)";
      TVRCueTrack track = isrcPending ? pendingIsrc : TVRCueTrack{};
      track.Number = next;
      track.Control = e.Ctl();
      track.Start = kNoStart;
      layout.Tracks.push_back(track);
      isrcPending = false;
    }
    TVRCueTrack& track = layout.Tracks.back();
    if (isrcPending) return at(isrcEntry) + "an ISRC inside track " + std::to_string(track.Number);
    if (e.Ctl() & 0x4) return at(i) + "a data track: this recorder writes audio only";
    if (e.Ctl() != track.Control) return at(i) + "CTL bits differ within track " + std::to_string(track.Number);
    if (e.Form() != 0x00)
      return at(i) + "DATA FORM " + Hex2(e.Form()) + "h for track " + std::to_string(track.Number) +
             ": this recorder takes CD-DA from the host (00h) only";
    if (e.Scms() != 0x00 && e.Scms() != 0x80) return at(i) + "SCMS " + Hex2(e.Scms()) + "h, expected 00h or 80h";
    std::int32_t lba = 0;
    if (auto error = address(e, i, lba)) return error;
    if (lba < previous) return at(i) + "MSF " + MsfText(e.B.subspan(5, 3)) + " lies before the entry before it";
    previous = lba;
    // Index numbers: 00 (optional, first), 01, then 02, 03, ... in order.
    const int expectedIndex = newTrack ? e.Index() : track.Start == kNoStart ? 1
                                                                              : static_cast<int>(track.MoreIndexes.size()) + 2;
    if (e.Index() != expectedIndex || e.Index() > 99)
      return at(i) + "INDEX " + std::to_string(e.Index()) + " where INDEX " + std::to_string(expectedIndex) +
             " must follow";
    if (e.Index() == 0) track.Index0 = lba;
    else if (e.Index() == 1) track.Start = lba;
    else track.MoreIndexes.push_back(lba);
    if (track.Number == 1 && e.Index() == 0 && lba != -150)
      return at(i) + "the first track's INDEX 00 must be at 00:00:00";
    if (track.Number == 1 && e.Index() == 1 && lba < 0)
      return at(i) + "the first track's INDEX 01 must be at 00:02:00 or later (a pause of 2 seconds)";
  }
  if (!leadOut) return at(count - 1) + "the lead-out entry (TNO AAh) must be the last entry";

  for (std::size_t t = 0; t < layout.Tracks.size(); ++t) {
    TVRCueTrack& track = layout.Tracks[t];
    if (track.Start == kNoStart) return "track " + std::to_string(track.Number) + " has no INDEX 01";
    track.End = t + 1 < layout.Tracks.size() ? layout.Tracks[t + 1].First() : layout.LeadOut;
    if (track.End - track.Start < kMinTrackBlocks)
      return "track " + std::to_string(track.Number) + " has " + std::to_string(track.End - track.Start) +
             " blocks, at least " + std::to_string(kMinTrackBlocks) + " are needed";
    if (!track.Isrc.empty() && track.IsrcControl != 0 && track.IsrcControl != track.Control)
      return "track " + std::to_string(track.Number) + ": its ISRC entries carry other CTL bits than its index entries";
    if (!track.Isrc.empty() && track.Control != 0) {
      if (track.IsrcControl != 0 && (rules.Refuse & kVRRefuseIsrcCtl))
        return "track " + std::to_string(track.Number) + ": this drive refuses CTL bits in ISRC entries";
      if (track.IsrcControl == 0 && (rules.Refuse & kVRRefuseIsrcNoCtl))
        return "track " + std::to_string(track.Number) + ": this drive wants the track's CTL bits in ISRC entries";
    }
    if (t > 0 && track.Pregap() == 0 && (rules.Refuse & kVRRefuseZeroPregap))
      return "track " + std::to_string(track.Number) + ": this drive refuses a track without a pregap";
  }
  return std::nullopt;
}

}  // namespace cv
