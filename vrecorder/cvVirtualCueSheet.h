// SEND CUE SHEET (5Dh) as the virtual recorder reads it: the 8-byte entries
// (CTL|ADR, TNO, INDEX, DATA FORM, SCMS, MIN, SEC, FRAME) that lay out a
// Session-At-Once session before it is written, checked as a strict drive
// checks them: an optional Media Catalog Number pair first, the lead-in,
// per track an optional ISRC pair and its index points (INDEX 00 before the
// first track at 00:00:00, INDEX 01, ascending INDEX 02..), the lead-out
// last; track numbers consecutive, addresses never decreasing, every track
// at least 300 blocks, audio only (the recorder writes CD-DA).
//
// Numbers in the entries are binary; addresses are absolute MSF (LBA =
// frames - 150, lead-in addresses with minutes >= 90 wrap below zero).
//
// Threads: plain functions and values.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cv {

struct TVRCueTrack {
  int Number = 0;
  std::uint8_t Control = 0;  // Q CONTROL nibble: 1 pre-emphasis, 2 copy permitted, 8 four channels
  std::uint8_t IsrcControl = 0;
  std::string Isrc;                      // 12 characters, or empty
  std::optional<std::int32_t> Index0;    // INDEX 00 (pregap start), when the sheet gives one
  std::int32_t Start = 0;                // INDEX 01
  std::vector<std::int32_t> MoreIndexes; // INDEX 02, 03, ...
  std::int32_t End = 0;                  // where the next track's first entry (or the lead-out) begins

  std::int32_t Pregap() const { return Index0 ? Start - *Index0 : 0; }
  std::int32_t First() const { return Index0 ? *Index0 : Start; }
};

struct TVRCueLayout {
  std::string Mcn;             // 13 digits, or empty
  bool CdText = false;         // lead-in DATA FORM 41h: the host writes the lead-in's R-W data
  bool LeadInAtStart = false;  // the lead-in entry names the lead-in start (else 00:00:00)
  std::vector<TVRCueTrack> Tracks;
  std::int32_t LeadOut = 0;

  // The first address the host writes: the lead-in start when it writes
  // CD-TEXT there, else -150.
  std::int32_t FirstWrite(std::int32_t leadInStart) const { return CdText ? leadInStart : -150; }
};

// Cue sheet forms a drive may refuse (the recorder's cue-refuse fault).
enum TVRCueRefusal : unsigned {
  kVRRefuseLeadInStart = 1,  // a CD-TEXT lead-in entry at the lead-in start
  kVRRefuseLeadInZero = 2,   // a CD-TEXT lead-in entry at 00:00:00
  kVRRefuseZeroPregap = 4,   // a track after the first without a pregap
  kVRRefuseIsrcCtl = 8,      // ISRC entries carrying the track's CTL bits
  kVRRefuseIsrcNoCtl = 16,   // ISRC entries without the track's CTL bits
};

// Refusal names as `virtual set cue-refuse=...` takes them; 0 for an unknown name.
unsigned VRCueRefusalFromName(std::string_view name);
std::string VRCueRefusalNames(unsigned refusals);

struct TVRCueRules {
  std::int32_t LeadInStart = -12490;   // the disc's ATIP lead-in start
  std::int32_t LastLeadOut = 359849;   // the disc's last possible lead-out start
  bool CdTextWritable = true;
  unsigned Refuse = 0;
};

// Reads and checks a cue sheet. Empty when accepted (layout filled in),
// else why it was refused, naming the entry ("entry 3: ...").
std::optional<std::string> VRReadCueSheet(std::span<const std::uint8_t> sheet, const TVRCueRules& rules,
                                          TVRCueLayout& layout);

// The LBA of an absolute MSF as cue sheets and the ATIP give it.
std::int32_t VRMsfToLba(int minute, int second, int frame);

}  // namespace cv
