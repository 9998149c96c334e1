// CD-TEXT as the virtual recorder receives it in a Session-At-Once lead-in:
// 96-byte blocks of raw R-W sub-channel data (DATA FORM 41h), each holding
// four 18-byte packs as 24 six-bit symbols. The recorder decodes every block,
// checks every pack as it arrives (CRC, pack type, block and sequence
// numbers, the repeating cycle) and the whole pack list once a cycle is
// complete (size information packs, track numbers and character positions
// of the texts, terminators, lengths), and keeps one copy of the packs for
// READ TOC format 5 and disc.cdt.
//
// This is the recorder's own reading of the format, written apart from any
// encoder so that it checks a writer independently.
//
// Threads: plain functions and values; a checker is used by one thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace cv {

inline constexpr std::size_t kVRPackBytes = 18;
inline constexpr std::size_t kVRLeadInBlockBytes = 96;
inline constexpr std::size_t kVRPacksPerLeadInBlock = 4;
// Packs one block may hold (sequence numbers 0..255) and blocks per disc.
inline constexpr std::size_t kVRMaxPacksPerBlock = 256;
inline constexpr int kVRMaxTextBlocks = 8;
// The longest text readers take (with its terminator it fills their
// 256-byte field buffer up to the last two bytes).
inline constexpr std::size_t kVRMaxTextBytes = 253;

using TVRPack = std::array<std::uint8_t, kVRPackBytes>;

// CRC-16 of bytes 0..15 of a pack: polynomial 1021h, initial value 0, the
// result inverted (stored big-endian in bytes 16..17).
std::uint16_t VRPackCrc(std::span<const std::uint8_t> first16);
bool VRPackCrcValid(const TVRPack& pack);

// The four packs of a 96-byte lead-in block. Every byte carries one six-bit
// symbol in bits 5..0 (bits 7..6 are the P and Q channels, which the drive
// makes itself and ignores here); four symbols give three bytes.
std::array<TVRPack, kVRPacksPerLeadInBlock> VRDecodeLeadInBlock(std::span<const std::uint8_t> block96);

// Checks the packs of a lead-in in the order written. The lead-in repeats
// one pack list cyclically; the checker learns the list from the first
// cycle (which must start with the first pack of block 0) and then expects
// every further pack to repeat it.
class cvVRCDTextChecker {
 public:
  // The next pack of the lead-in. An error text when the pack is refused
  // (the checker's state then stays as before the pack).
  [[nodiscard]] std::optional<std::string> Add(const TVRPack& pack);
  // Checks the list as a whole; called once the first cycle is complete
  // (Add does it itself when the list starts over) or when the lead-in
  // ends. firstTrack/lastTrack: the session's tracks from the cue sheet.
  [[nodiscard]] std::optional<std::string> Finish(int firstTrack, int lastTrack);

  // True once the list started over (its whole length is known).
  bool CycleComplete() const { return Complete; }
  bool Finished() const { return Checked; }
  // One copy of the pack list, as far as it is known.
  const std::vector<TVRPack>& Packs() const { return List; }
  // Packs received so far (all cycles).
  std::uint64_t Received() const { return Count; }

  // Continues a lead-in from what was kept of it: the pack list as far as
  // received and the number of packs received (all cycles).
  void Restore(std::vector<TVRPack> packs, std::uint64_t received) {
    List = std::move(packs);
    Count = received;
    Complete = received > List.size();
    Checked = Complete;
  }

  // Tracks the cue sheet announces (for the check when a cycle completes).
  void SetTracks(int firstTrack, int lastTrack) {
    First = firstTrack;
    Last = lastTrack;
  }

 private:
  std::vector<TVRPack> List;
  std::uint64_t Count = 0;
  bool Complete = false;
  bool Checked = false;
  int First = 0;
  int Last = 0;
};

// Checks a whole pack list (as READ TOC format 5 returns it, or a disc.cdt):
// everything Add and Finish check. Empty when the list is sound.
std::optional<std::string> VRCheckCDTextPacks(std::span<const TVRPack> packs, int firstTrack, int lastTrack);

// The texts of one block, decoded. Texts[type - 80h][n]: n = 0 for the
// disc, n = track number for a track; a repeat mark (TAB) is resolved to the
// text it repeats. Only the single-byte character codes (00h ISO-8859-1,
// 01h ASCII) are converted, to UTF-8; double-byte blocks keep no texts.
struct TVRCDTextBlock {
  int Block = 0;
  std::uint8_t CharacterCode = 0;
  std::uint8_t Language = 0;
  bool DoubleByte = false;
  std::array<std::vector<std::string>, 16> Texts;

  // A text or "" when there is none.
  std::string Text(std::uint8_t packType, int track) const;
};

// Decodes a pack list that VRCheckCDTextPacks accepted.
std::vector<TVRCDTextBlock> VRDecodeCDText(std::span<const TVRPack> packs);

}  // namespace cv
