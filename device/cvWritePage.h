// The write parameters mode page (05h): its fields by name, and the one
// routine that puts a page image over the drive's current page and sends it
// back (MODE SENSE(10), MODE SELECT(10)).
//
// Every writer (track-at-once, session-at-once) and the medium setup of an
// erase send page 05h through SendWritePage; the writers build their image
// from TWritePage.
//
// Threads: SendWritePage uses the device object; call it from the thread
// that drives the device.
#pragma once

#include <array>
#include <cstdint>

namespace cv {

class TSCSIDevice;

inline constexpr std::uint8_t kWriteParametersPage = 0x05;
// Bytes of the page image the device object keeps (WritePage).
inline constexpr std::size_t kWritePageImageBytes = 72;
using TWritePageImage = std::array<std::uint8_t, kWritePageImageBytes>;

// Write types (byte 2 bits 3-0).
enum TWriteType : std::uint8_t {
  wtPacket = 0,
  wtTrackAtOnce = 1,
  wtSessionAtOnce = 2,
  wtRaw = 3,
};

// Multi-session field (byte 3 bits 7-6).
enum TMultiSession : std::uint8_t {
  msNone = 0,      // the next session closes the disc
  msNext = 3,      // 11b: another session may follow
};

// The fields of page 05h this library sets; everything else is 0 (link
// size, host application code, catalogue number, ISRC).
struct TWritePage {
  TWriteType WriteType = wtTrackAtOnce;
  bool TestWrite = false;          // byte 2 bit 4: the drive only simulates writing
  bool BufferUnderrunFree = true;  // byte 2 bit 6 (BUFE)
  TMultiSession MultiSession = msNone;
  std::uint8_t TrackMode = 0;       // byte 3 bits 3-0: 0 = two-channel audio, no pre-emphasis
  std::uint8_t DataBlockType = 0;   // byte 4 bits 3-0: 0 = raw 2352-byte sectors
  std::uint8_t SessionFormat = 0;   // byte 8: 00h = CD-DA or CD-ROM
  std::uint16_t AudioPauseLength = 150;  // bytes 14-15, sectors

  TWritePageImage Image() const;
};

// The smallest page (page length byte) that holds the audio pause length.
inline constexpr std::uint8_t kAudioWritePageLength = 14;

// Reads the drive's current page 05h (no block descriptor: the page follows
// the 8-byte header; otherwise it follows one 8-byte descriptor), puts the
// image over it (page code and length as the drive has them; at most the
// page's own length and at most 72 bytes, the rest keeps the drive's
// bytes), keeps the image in Device.WritePage and sends the header and page
// back with MODE SELECT(10). False without MODE SELECT when the page cannot
// be read, is not where it must be, or is shorter than minPageLength.
bool SendWritePage(TSCSIDevice& Device, const TWritePageImage& image, std::uint8_t minPageLength = 0);

}  // namespace cv
