// The disc a Session-At-Once burn writes, laid out completely before the
// first write: where each track's pregap (INDEX 00) and start (INDEX 01)
// lie, which samples fill every sector from LBA -150 to the lead-out, the
// ISRCs, the MCN and the CD-TEXT packs.
//
// Audio is counted in samples (one stereo sample = 4 bytes; 588 make a
// sector) and positions from LBA -150, the start of track 1's two-second
// pregap. Where a track follows the one before it with a pause, the earlier
// track's audio is filled with silence to a whole sector and the pause is
// whole sectors of silence. Where it follows with no pause (a gapless join)
// nothing is inserted: the samples run on across the join, and the next
// track's INDEX 01 goes to the sector boundary nearest its first sample, so
// the track marker moves by less than half a sector (at most 294 samples)
// while the music stays continuous. Every track spans at least 301 sectors
// from its INDEX 01 to the next track's first index (a recorder refuses
// tracks under 300, and a fallback cue sheet may take one sector off for a
// one-sector pregap); a shorter track is followed by silence up to that.
// The last track is filled with silence to a whole sector.
//
// Pure functions and values; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "burner/cvCDText.h"
#include "burner/cvTrackSource.h"  // kSamplesPerSector

namespace cv {

inline constexpr std::int32_t kFirstPregapSectors = 150;  // track 1 always starts at LBA 0
inline constexpr std::int32_t kMinLaidTrackSectors = 301;

// One track as the burn has it.
struct TLayoutInput {
  std::int64_t Samples = 0;        // exact decoded length
  std::uint16_t PauseSectors = 0;  // silence before the track (not for track 1)
  std::string Isrc;                // 12 characters CCOOOYYSSSSS, or empty
  std::string Title, Performer, Songwriter;  // UTF-8, for CD-TEXT
};

struct TLayoutOptions {
  std::string Mcn;                       // 13 digits, or empty
  bool CDText = true;                    // write CD-TEXT when there is any text
  std::string AlbumTitle, AlbumPerformer;  // UTF-8
};

// One piece of the program area, in order from LBA -150.
struct TLayoutSegment {
  enum TKind : std::uint8_t { Silence, Audio } Kind = Silence;
  std::int32_t Track = -1;   // Audio: index into the track list
  std::int64_t Samples = 0;  // > 0
};

// A track as laid out.
struct TLaidTrack {
  std::int32_t Number = 0;       // 1-based
  std::int32_t Index00 = 0;      // LBA where the pregap starts (== Index01: none)
  std::int32_t Index01 = 0;      // LBA where the track starts
  std::int32_t End = 0;          // LBA after its last sector (next Index00, or the lead-out)
  std::int64_t FirstSample = 0;  // position of its first audio sample
  std::int64_t Samples = 0;      // its audio
  // Index01's sample position minus FirstSample: how far the track marker
  // stands from the true start (negative: before it). Within +-294.
  std::int32_t ShiftSamples = 0;
  std::string Isrc;              // validated, or empty
  bool HasPregap() const { return Index00 < Index01; }
};

struct TDiscLayout {
  std::vector<TLaidTrack> Tracks;
  std::vector<TLayoutSegment> Segments;  // from LBA -150 to the lead-out
  std::int32_t LeadOut = 0;              // LBA of the lead-out
  std::string Mcn;                       // validated, or empty
  TCDTextResult CDText;                  // packs empty: no CD-TEXT
  std::vector<std::string> Notes;        // what was left out or changed, one line each

  // Sectors written from LBA -150 to the lead-out.
  std::int32_t ProgramSectors() const { return LeadOut + kFirstPregapSectors; }
};

// ISRC: two letters, three letters or digits, seven digits.
bool ValidIsrc(const std::string& Isrc);
// MCN (UPC/EAN): thirteen digits.
bool ValidMcn(const std::string& Mcn);

// Lays out Tracks (at least one, each with Samples > 0). Invalid ISRCs and
// an invalid MCN are left out with a note.
TDiscLayout LayOutDisc(const std::vector<TLayoutInput>& Tracks, const TLayoutOptions& Options);

}  // namespace cv
