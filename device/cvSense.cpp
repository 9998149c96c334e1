#include "device/cvSense.h"

#include <algorithm>
#include <cstdio>

namespace cv {

namespace {

constexpr std::uint8_t kFixedCurrent = 0x70;
constexpr std::uint8_t kFixedDeferred = 0x71;
constexpr std::uint8_t kDescriptorCurrent = 0x72;
constexpr std::uint8_t kDescriptorDeferred = 0x73;
constexpr std::uint8_t kDescSenseKeySpecific = 0x02;
constexpr std::uint8_t kDescProgress = 0x0A;
constexpr std::uint8_t kSksv = 0x80;

std::uint8_t At(std::span<const std::uint8_t> bytes, std::size_t i) { return i < bytes.size() ? bytes[i] : 0; }

// One row of the word table. Ascq 0xFF matches every ASCQ of the ASC.
struct TSenseRow {
  std::uint8_t Asc;
  std::uint8_t Ascq;
  const char* Words;        // what happened
  const char* Consequence;  // what it means for the disc or what to do; may be null
};

constexpr std::uint8_t kAnyAscq = 0xFF;

constexpr TSenseRow kRows[] = {
    {0x04, 0x00, "the drive is not ready", nullptr},
    {0x04, 0x01, "the drive is becoming ready", "try again in a moment"},
    {0x04, 0x04, "the drive is formatting the disc", "wait until it has finished"},
    {0x04, 0x07, "the drive is busy with an operation in progress", "wait until it has finished"},
    {0x04, 0x08, "the drive is busy writing", "wait until it has finished"},
    {0x04, kAnyAscq, "the drive is not ready", nullptr},
    {0x09, kAnyAscq, "the drive could not follow the track", nullptr},
    {0x0C, 0x09, "write error, the drive's buffer ran empty",
     "the CD-R holds what was written until then; the track is damaged"},
    {0x0C, kAnyAscq, "write error", "the CD-R holds what was written until then"},
    {0x11, kAnyAscq, "read error", "the disc may be damaged or dirty"},
    {0x1A, 0x00, "the drive refused the length of a parameter list", nullptr},
    {0x20, 0x00, "the drive does not know this command", nullptr},
    {0x21, 0x00, "write beyond the end of the disc", nullptr},
    {0x21, 0x02, "write at the wrong address", "the drive expected another next writable address"},
    {0x21, kAnyAscq, "address out of range", nullptr},
    {0x24, 0x00, "the drive refused a field of the command", nullptr},
    {0x26, kAnyAscq, "the drive refused a parameter", nullptr},
    {0x27, kAnyAscq, "the disc is write-protected", nullptr},
    {0x28, 0x00, "a disc was inserted or the tray moved", "try again"},
    {0x29, kAnyAscq, "the drive was reset", "try again"},
    {0x2A, kAnyAscq, "the drive's settings were changed", "try again"},
    {0x2C, 0x00, "the drive refused the order of commands", nullptr},
    {0x30, 0x05, "this disc cannot be written in this format", "use a blank CD-R or CD-RW"},
    {0x30, 0x06, "this disc cannot be formatted", nullptr},
    {0x30, kAnyAscq, "the drive cannot use this disc", "use a blank CD-R or CD-RW"},
    {0x31, kAnyAscq, "the disc's format is damaged", "erase a CD-RW; a CD-R cannot be repaired"},
    {0x3A, 0x00, "no disc in the drive", nullptr},
    {0x3A, 0x01, "no disc in the drive", nullptr},
    {0x3A, 0x02, "the tray is open", "close it and try again"},
    {0x3A, kAnyAscq, "no disc in the drive", nullptr},
    {0x3E, kAnyAscq, "the drive has not finished starting up", "try again in a moment"},
    {0x44, kAnyAscq, "the drive reported an internal failure", nullptr},
    {0x53, 0x02, "the tray is locked", "a program is using the drive"},
    {0x53, kAnyAscq, "the tray could not be moved", nullptr},
    {0x57, kAnyAscq, "the table of contents cannot be read", "the disc may be damaged"},
    {0x5D, kAnyAscq, "the drive predicts a failure", nullptr},
    {0x63, kAnyAscq, "the end of the disc was reached", "the disc is full"},
    {0x64, kAnyAscq, "the drive refused the write mode for this track", nullptr},
    {0x6F, kAnyAscq, "copy protection refused the command", nullptr},
    {0x72, 0x03, "the session could not be closed: a track shorter than 4 seconds cannot be closed", nullptr},
    {0x72, kAnyAscq, "the session could not be closed", "the disc may not play"},
    {0x73, 0x03, "the disc's power calibration area is full", "use a new disc"},
    {0x73, kAnyAscq, "the drive could not control the disc", nullptr},
};

const char* KeyWords(std::uint8_t key) {
  switch (key) {
    case 0x0: return "no error reported";
    case 0x1: return "error recovered by the drive";
    case 0x2: return "the drive is not ready";
    case 0x3: return "disc error";
    case 0x4: return "drive hardware error";
    case 0x5: return "the drive refused the request";
    case 0x6: return "the drive reports a change";
    case 0x7: return "the disc is protected";
    case 0x8: return "blank area where data was expected";
    case 0xB: return "the drive aborted the command";
    case 0xD: return "the disc is full";
    case 0xE: return "data miscompare";
    default: return "the drive reported an error";
  }
}

}  // namespace

TSense DecodeSense(std::span<const std::uint8_t> bytes) {
  TSense sense;
  const std::uint8_t response = At(bytes, 0) & 0x7F;
  if (response == kFixedCurrent || response == kFixedDeferred) {
    if (bytes.size() < 3) return sense;
    sense.Valid = true;
    sense.Deferred = response == kFixedDeferred;
    sense.Key = At(bytes, 2) & 0x0F;
    // The additional sense length says how much follows byte 7.
    const std::size_t end = std::min<std::size_t>(bytes.size(), 8 + std::size_t{At(bytes, 7)});
    if (end > 12) sense.Asc = bytes[12];
    if (end > 13) sense.Ascq = bytes[13];
    if (end > 17 && (bytes[15] & kSksv) && (sense.Key == kSenseNotReady || sense.Key == kSenseNoSense)) {
      sense.HasProgress = true;
      sense.Progress = static_cast<std::uint16_t>(bytes[16] << 8 | bytes[17]);
    }
    return sense;
  }
  if (response == kDescriptorCurrent || response == kDescriptorDeferred) {
    if (bytes.size() < 4) return sense;
    sense.Valid = true;
    sense.Descriptor = true;
    sense.Deferred = response == kDescriptorDeferred;
    sense.Key = bytes[1] & 0x0F;
    sense.Asc = bytes[2];
    sense.Ascq = bytes[3];
    // Descriptors follow the 8-byte header: type, additional length, body.
    const std::size_t end = std::min<std::size_t>(bytes.size(), 8 + std::size_t{At(bytes, 7)});
    for (std::size_t at = 8; at + 2 <= end;) {
      const std::uint8_t type = bytes[at];
      const std::size_t length = 2 + std::size_t{bytes[at + 1]};
      if (at + length > end) break;
      if (type == kDescSenseKeySpecific && length >= 7 && (bytes[at + 4] & kSksv) &&
          (sense.Key == kSenseNotReady || sense.Key == kSenseNoSense)) {
        sense.HasProgress = true;
        sense.Progress = static_cast<std::uint16_t>(bytes[at + 5] << 8 | bytes[at + 6]);
      } else if (type == kDescProgress && length >= 8) {
        sense.HasProgress = true;
        sense.Progress = static_cast<std::uint16_t>(bytes[at + 6] << 8 | bytes[at + 7]);
      }
      at += length;
    }
    return sense;
  }
  return sense;
}

TSenseClass ClassifySense(bool completed, bool busy, const TSense& sense) {
  if (completed) return TSenseClass::Good;
  if (busy) return TSenseClass::Retry;
  if (!sense.Valid) return TSenseClass::Fail;
  if (sense.Asc == kAscNoMedium) return TSenseClass::NoMedium;
  if (sense.Key == kSenseUnitAttention) return TSenseClass::UnitAttention;
  if (sense.Asc == kAscNotReady) return TSenseClass::NotReady;
  if (sense.Key == kSenseAbortedCommand) return TSenseClass::Retry;
  return TSenseClass::Fail;
}

std::string SenseWords(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
  if (key == 0 && asc == 0) return {};
  const TSenseRow* row = nullptr;
  for (const TSenseRow& r : kRows) {
    if (r.Asc == asc && (r.Ascq == ascq || r.Ascq == kAnyAscq)) {
      row = &r;
      break;
    }
  }
  char code[16];
  std::snprintf(code, sizeof code, "%X/%02X/%02X", key & 0x0F, asc, ascq);
  std::string words = row ? row->Words : KeyWords(key & 0x0F);
  words += " (";
  words += code;
  words += ")";
  if (row && row->Consequence) {
    words += ": ";
    words += row->Consequence;
  }
  return words;
}

}  // namespace cv
