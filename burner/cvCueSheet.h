// The cue sheet of a Session-At-Once burn (SEND CUE SHEET, 5Dh): 8-byte
// entries CTL/ADR, TNO, INDEX, DATA FORM, SCMS, MIN, SEC, FRAME (absolute
// time, binary): the MCN, the lead-in, per track its ISRC, INDEX 00 and
// INDEX 01, and the lead-out.
//
// Drives differ in the forms they accept, and burning programs answer a
// refused sheet by trying others. The variants here are those forms: the
// lead-in entry at 00:00:00 or at the lead-in start the disc reports, and a
// gapless join announced without an INDEX 00 or with a one-sector INDEX 00
// carved from the end of the previous track (the audio stream is the same
// either way). (Some programs also vary whether ISRC entries carry the
// track's control bits; for audio without copy permission the control bits
// are 0 and both forms are the same bytes.)
//
// Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/cvDiscLayout.h"

namespace cv {

inline constexpr std::uint8_t kCueFormAudio = 0x00;        // CD-DA, 2352 bytes from the host
inline constexpr std::uint8_t kCueFormGenerated = 0x01;    // CD-DA made by the drive (lead-in, lead-out)
inline constexpr std::uint8_t kCueFormCDText = 0x40;       // + raw R-W sub-channel from the host

struct TCueSheetVariant {
  bool LeadInAtStart = false;     // lead-in entry at the lead-in start, else at 00:00:00
  bool OneSectorPregaps = false;  // gapless joins get INDEX 00 one sector before INDEX 01
  bool operator==(const TCueSheetVariant&) const = default;
};

// Absolute time (binary minutes, seconds, frames) of an LBA: LBA + 150
// frames for the program area, LBA + 450150 for the lead-in (LBA < -150).
struct TMsf {
  std::uint8_t M = 0, S = 0, F = 0;
};
TMsf MsfOfLBA(std::int32_t LBA);

// The sheet for Layout. CDText: the lead-in carries CD-TEXT (DATA FORM
// 41h). LeadInStart: LBA of the lead-in start (used with LeadInAtStart).
std::vector<std::uint8_t> BuildCueSheet(const TDiscLayout& Layout, bool CDText, std::int32_t LeadInStart,
                                        const TCueSheetVariant& Variant);

// The variants to try in order, the first being the common form; the
// pregap forms only where the layout has gapless joins.
std::vector<TCueSheetVariant> CueSheetVariants(const TDiscLayout& Layout);

// A sheet as text, one entry a line ("01 00 00 41 00 00 00 00"), for logs
// and test messages.
std::string CueSheetText(const std::vector<std::uint8_t>& Sheet);

}  // namespace cv
