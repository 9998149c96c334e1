// The virtual recorder's Session-At-Once writing: from an accepted cue sheet
// to a closed session. The host writes the layout the cue sheet announced,
// in order and without gaps: the lead-in's CD-TEXT as 96-byte blocks from
// the lead-in start to LBA -151 (when the sheet's lead-in has DATA FORM
// 41h), then every 2352-byte block from -150 up to the lead-out. Each WRITE
// is checked against that layout; the lead-in is checked pack by pack. The
// SYNCHRONIZE CACHE after the last block closes the session: the disc gets
// the cue sheet's tracks, index points, ISRCs and catalog number and one
// copy of the CD-TEXT packs.
//
// TVRSaoSession is the persistent part (in TVRState); cvVRSaoWriter is the
// working form rebuilt from it (the parsed layout, the pack checker).
//
// Threads: used by the recorder's command thread only.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "vrecorder/cvVirtualCDText.h"
#include "vrecorder/cvVirtualCueSheet.h"

namespace cv {

struct TVRDisc;

struct TVRSaoSession {
  std::vector<std::uint8_t> CueSheet;  // the accepted sheet; empty: no Session-At-Once write under way
  std::int32_t Next = 0;               // the address the next WRITE must start at
  std::vector<TVRPack> Packs;          // the lead-in's pack list as far as received (one copy)
  std::uint64_t PacksReceived = 0;     // lead-in packs received, all cycles
  bool Damaged = false;                // an underrun without BUFE spoiled it

  bool Active() const { return !CueSheet.empty(); }
};

// The reason a WRITE was refused: the sense and why.
struct TVRSaoRefusal {
  std::uint8_t Key = 0, Asc = 0, Ascq = 0;
  std::string Why;
};

class cvVRSaoWriter {
 public:
  // Rebuilds the writer of a session under way (its sheet was accepted
  // before, so it parses); nullopt when it no longer does.
  static std::optional<cvVRSaoWriter> Resume(const TVRSaoSession& session, std::int32_t leadInStart);

  const TVRCueLayout& Layout() const { return Cue; }
  std::int32_t LeadInStart() const { return LeadIn; }
  // The first address of the layout and the end (the lead-out).
  std::int32_t FirstWrite() const { return Cue.FirstWrite(LeadIn); }
  bool Started(const TVRSaoSession& s) const { return s.Next != FirstWrite(); }
  bool AllWritten(const TVRSaoSession& s) const { return s.Next == Cue.LeadOut; }

  // Checks a WRITE of count blocks at lba with these bytes against the
  // layout and, in the lead-in, checks its packs. On success the session's
  // next address (and pack list) move on; on a refusal nothing changes.
  [[nodiscard]] std::optional<TVRSaoRefusal> Write(TVRSaoSession& s, std::int32_t lba, std::uint32_t count,
                                                   std::span<const std::uint8_t> data);

  // The bytes per block the host sends at this address.
  std::uint32_t BlockBytes(std::int32_t lba) const { return lba < -150 ? 96 : 2352; }

  // Closes the session: the disc gets the tracks (session 1), catalog
  // number, ISRCs, index points and CD-TEXT. appendable: Multi-session 11b.
  void Close(const TVRSaoSession& s, TVRDisc& disc, bool appendable) const;

 private:
  TVRCueLayout Cue;
  std::int32_t LeadIn = 0;
  cvVRCDTextChecker Checker;
};

// Hexadecimal text of bytes and back (for recorder.json); false on a bad digit.
std::string VRHex(std::span<const std::uint8_t> bytes);
bool VRFromHex(std::string_view text, std::vector<std::uint8_t>& bytes);

}  // namespace cv
