// CD-TEXT: the disc's and the tracks' texts as a recorder writes them into the
// lead-in: one language block of 18-byte packs (types 80h title, 81h
// performer, 82h songwriter, 8Eh UPC/EAN and ISRC, then the three 8Fh size
// packs), each with its CRC, and the 96-byte lead-in blocks that carry them
// (four packs a block, each pack spread over 24 six-bit symbols).
//
// Texts come in as UTF-8 and go onto the disc as ISO-8859-1 (character code
// 00h): a character outside ISO-8859-1 becomes its nearest readable form
// (a letter without its accent, a Latin spelling of Greek and Cyrillic,
// straight quotes for curly ones), '?' only where none exists; a text is
// never dropped for a character it contains. A block holds at most 253 packs
// of text: texts are cut to 160 characters, and where the block would still
// be larger, cut shorter and, last of all, the less important kinds left out
// (ISRC and UPC/EAN first: they also travel in the Q sub-channel; then
// songwriters, then performers). What was cut is reported.
//
// Pure functions; safe from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace cv {

inline constexpr std::size_t kCDTextPackBytes = 18;
inline constexpr std::size_t kCDTextLeadInBlockBytes = 96;  // four packs as six-bit symbols
inline constexpr std::size_t kCDTextMaxTextPacks = 253;     // per block, size packs not counted
inline constexpr std::size_t kCDTextMaxChars = 160;         // per text

using TCDTextPack = std::array<std::uint8_t, kCDTextPackBytes>;

// The texts of one track, UTF-8 (Isrc: 12 characters, CCOOOYYSSSSS).
struct TCDTextTrack {
  std::string Title;
  std::string Performer;
  std::string Songwriter;
  std::string Isrc;
};

// The texts of a disc, UTF-8. UpcEan: 13 digits or empty.
struct TCDTextDisc {
  std::string Title;
  std::string Performer;
  std::string Songwriter;
  std::string UpcEan;
  std::vector<TCDTextTrack> Tracks;  // tracks FirstTrack, FirstTrack + 1, ...
  std::uint8_t FirstTrack = 1;
};

// The texts of one block in the bytes that go onto the disc (ISO-8859-1 for
// the texts, ASCII for UPC/EAN and ISRC), no terminators. A kind is written
// when any of its texts is not empty; its empty texts are then written as
// empty texts.
struct TCDTextBlock {
  std::uint8_t CharacterCode = 0x00;  // ISO-8859-1
  std::uint8_t Language = 0x09;       // English
  std::uint8_t FirstTrack = 1;
  // Index 0: the disc; index n: track FirstTrack + n - 1.
  std::vector<std::string> Titles;
  std::vector<std::string> Performers;
  std::vector<std::string> Songwriters;
  std::vector<std::string> Codes;  // UPC/EAN (index 0) and ISRCs
};

// The packs of Block, sequence numbers from 0, size packs last. Empty when
// no kind has any text. The caller keeps within kCDTextMaxTextPacks (see
// BuildCDText); packs beyond it are still produced here.
std::vector<TCDTextPack> EncodeCDText(const TCDTextBlock& Block);

// CRC of a pack's first 16 bytes (CRC-16/CCITT, polynomial 1021h, initial 0,
// inverted), as stored big-endian in bytes 16 and 17.
std::uint16_t CDTextCRC(std::span<const std::uint8_t> Bytes16);

// Number of text packs (size packs not counted) EncodeCDText would produce.
std::size_t CountCDTextPacks(const TCDTextBlock& Block);

// UTF-8 to ISO-8859-1 with the readable fallback above. Control characters
// (and TAB, which means "same as the previous track" on a disc) become
// spaces; invalid UTF-8 bytes become '?'.
std::string ToLatin1(std::string_view Utf8);

// What BuildCDText made and what it had to give up.
struct TCDTextResult {
  TCDTextBlock Block;               // the texts as written
  std::vector<TCDTextPack> Packs;   // empty: no text at all
  std::vector<std::string> Notes;   // one line per text cut or kind left out
};

// Converts, fits and encodes the texts of a disc.
TCDTextResult BuildCDText(const TCDTextDisc& Disc);

// Lead-in block Index of the cycle through Packs (four packs a block, the
// list repeated from its start: block i holds packs 4i .. 4i+3 modulo the
// count): 96 bytes, each 18-byte pack as 24 symbols of six bits (bits 7 and
// 6 zero). Packs must not be empty.
std::array<std::uint8_t, kCDTextLeadInBlockBytes> CDTextLeadInBlock(std::span<const TCDTextPack> Packs,
                                                                      std::size_t Index);

}  // namespace cv
