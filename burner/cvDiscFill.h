// How much of a disc a burn fills, and times as people read them.
//
// A Track-At-Once burn writes every track at least kMinTrackSectors long
// (four seconds: shorter audio is padded with silence) and the pause the
// track was added with before every track but the first; the first track's
// pause lies before the session's first writable address (the drive puts it
// there, in the disc's or the new session's lead-in area), so the drive's
// free space does not have to hold it. These are the sectors Burn checks
// against the free space; the front ends show the same figure so that a list
// they call a fit is one Burn accepts.
//
// Without a disc the list is measured against the nominal sizes of blank
// CD-Rs (74 and 80 minutes).
//
// A Session-At-Once burn writes what its disc layout lays out (see
// cvDiscLayout.h): from LBA 0 to the lead-out, with the pauses as given,
// every track at least 301 sectors from its start to the next track's
// pregap, and gapless joins (pause 0) that share sectors instead of padding
// each track to a whole one. SessionAtOnceSectors lays the list out the
// same way, from the tracks' exact lengths in samples, and is what that
// burn checks against the free space. A drive's free space of an appendable disc
// counts from the next writable address, which lies past the new session's
// lead-in (a closed session costs 11400 sectors before the next one's first
// track, 6900 after further sessions): SessionOverheadSectors gives that
// figure for front ends that only know the disc's size and what it holds.
//
// Pure functions; safe from any thread.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cv {

// One track of a list as the burn will write it.
struct TFillTrack {
  std::int32_t LengthSectors = 0;
  std::int32_t PauseSectors = 0;  // pause written before the track
  // The exact length in CD sample frames (588 make a sector), for
  // Session-At-Once; 0: LengthSectors whole sectors.
  std::int64_t Samples = 0;
};

inline constexpr std::int32_t kSectorsPerSecond = 75;
inline constexpr std::int32_t kBlank74Sectors = 74 * 60 * kSectorsPerSecond;  // 333000
inline constexpr std::int32_t kBlank80Sectors = 80 * 60 * kSectorsPerSecond;  // 360000

// Sectors the burn of Tracks writes: each track at least four seconds, and
// the pause before each track after the first.
std::int64_t BurnSectors(std::span<const TFillTrack> Tracks);

// Sectors a Session-At-Once burn of Tracks writes: the lead-out address of
// their disc layout (track 1's own pause is ignored: it always gets the
// two seconds before LBA 0). 0 for no tracks.
std::int64_t SessionAtOnceSectors(std::span<const TFillTrack> Tracks);

// Sectors between the end of the last closed session and the first track of
// a new one: 0 on a blank disc, 11400 after the first session (its 6750-
// sector lead-out, the new lead-in of 4500 and the first pause of 150), 6900
// after further ones (2250 + 4500 + 150).
std::int32_t SessionOverheadSectors(std::int32_t ClosedSessions);

// A list against a disc.
struct TDiscFill {
  std::int64_t Needed = 0;     // BurnSectors of the list
  std::int64_t Capacity = 0;   // free sectors of the disc, or the blank size compared with
  bool DiscRead = false;       // Capacity is the inserted disc's free space
  bool Fits() const { return Needed <= Capacity; }
  std::int64_t Over() const { return Needed > Capacity ? Needed - Capacity : 0; }
  std::int64_t Left() const { return Needed < Capacity ? Capacity - Needed : 0; }
};

// Needed against the free space of the inserted disc (FreeSectors >= 0), or,
// with no disc read (FreeSectors < 0), against the smallest blank that holds
// it: 74 minutes, else 80 minutes (over capacity beyond 80).
TDiscFill FillOf(std::int64_t Needed, std::int32_t FreeSectors);

// "m:ss" of a sector count (seconds rounded down; minutes not wrapped:
// "79:59"); "h:mm:ss" from an hour on. Negative counts read as 0:00.
std::string MinutesSecondsText(std::int64_t Sectors);

// The same for a time in seconds.
std::string SecondsText(std::int64_t Seconds);

// The fill in words: "52:10 of 74:00 (m:ss), 21:50 left" or
// "74:41 of 74:00 (m:ss): 0:41 too long", the capacity named as a blank's
// size when no disc was read ("of a 74-minute CD").
std::string FillText(const TDiscFill& Fill);

}  // namespace cv
