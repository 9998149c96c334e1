// Sense data: the one place where a drive's sense bytes are decoded (fixed
// format 70h/71h and descriptor format 72h/73h), classified into what a
// caller should do about the command that produced them, and put into words
// for the user.
//
// Callers never read sense bytes themselves: the device object keeps the
// last command's bytes in Sense, and everything above asks DecodeSense /
// ClassifySense / SenseWords.
//
// Threads: pure functions over their arguments; the word table is constant.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace cv {

// SPC sense keys used by name.
inline constexpr std::uint8_t kSenseNoSense = 0x0;
inline constexpr std::uint8_t kSenseNotReady = 0x2;
inline constexpr std::uint8_t kSenseMediumError = 0x3;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x5;
inline constexpr std::uint8_t kSenseUnitAttention = 0x6;
inline constexpr std::uint8_t kSenseAbortedCommand = 0xB;

// Additional sense codes used by name.
inline constexpr std::uint8_t kAscNotReady = 0x04;  // logical unit not ready (ASCQ says why)
inline constexpr std::uint8_t kAscNoMedium = 0x3A;  // medium not present

// One command's sense data, whatever format the drive sent.
struct TSense {
  bool Valid = false;       // a known response code (70h..73h) was found
  bool Descriptor = false;  // 72h/73h
  bool Deferred = false;    // 71h/73h: about an earlier command
  std::uint8_t Key = 0;
  std::uint8_t Asc = 0;
  std::uint8_t Ascq = 0;
  // Progress of a long operation (sense-key specific bytes with SKSV set,
  // or a progress indication descriptor): 0..65535 of 65536.
  bool HasProgress = false;
  std::uint16_t Progress = 0;

  // ASC x 256 + ASCQ, as LastSenseCode keeps it.
  std::uint16_t Code() const { return static_cast<std::uint16_t>(Asc << 8 | Ascq); }
};

// Decodes sense bytes of either format. Bytes that do not start with a known
// response code, or are too short to hold the key, give an invalid TSense
// (all zero). Never reads outside bytes.
TSense DecodeSense(std::span<const std::uint8_t> bytes);

// What a command's outcome means for the caller.
enum class TSenseClass : std::uint8_t {
  Good,           // the command completed
  Retry,          // the drive was busy (status 08h) or aborted the command: send it again
  UnitAttention,  // the drive has news (new medium, reset): send it again once
  NoMedium,       // no disc, or the tray is open (ASC 3Ah)
  NotReady,       // the drive is busy with a long operation (ASC 04h): wait and ask again
  Fail,           // anything else: the command failed
};

// Classifies one command: completed is whether it completed, busy whether
// the drive answered status BUSY, sense its decoded sense data.
TSenseClass ClassifySense(bool completed, bool busy, const TSense& sense);

// "no disc in the drive (2/3A/00)", "write error (3/0C/00): the CD-R holds
// what was written until then", ...: the words for a sense key, ASC and
// ASCQ from one table (an unknown code falls back to the words of its sense
// key). Empty for key 0 with ASC 0 (nothing to say).
std::string SenseWords(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);
inline std::string SenseWords(const TSense& sense) { return SenseWords(sense.Key, sense.Asc, sense.Ascq); }

}  // namespace cv
