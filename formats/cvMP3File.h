// MPEG audio stream header reader (MPEG 1, 2 and 2.5, Layers I to III).
//
// From at most three 3458-byte windows of a file, TMP3File finds the first
// real frame behind any ID3v2 tag, decodes its header, reads a "Xing" or
// "VBRI" header of the first frame, and for streams without one looks for an
// encoder signature near the end. From these come the bit rate, sample rate,
// channel count, a validity verdict and the playing time in CD sectors.
//
// The audio file decoder creates one TMP3File per file; the object owns one
// ID3v1 and one ID3v2 reader, holds no open file between calls and is used
// by one thread at a time (separate objects share only constant tables).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "formats/cvByteSource.h"
#include "formats/cvID3v1.h"
#include "formats/cvID3v2.h"

namespace cv {

// The variable-bit-rate header of the first frame.
struct VBRData {
  bool Found = false;         // a "Xing" or "VBRI" header was found
  char ID[4] = {};            // "Xing" or "VBRI"
  std::int32_t Frames = 0;    // frames in the stream
  std::int32_t Bytes = 0;     // bytes of the stream
  std::uint8_t Scale = 0;     // quality byte
  std::string VendorID;       // "Xing": the 8 bytes at +120 .. +127, as they stand
};

// The first valid frame.
struct FrameHeader {
  bool Found = false;
  std::int32_t Position = 0;     // offset of the frame within its window
  std::uint16_t Size = 0;        // frame length in bytes
  bool EmptySideInfo = false;    // the six bytes after the header are zero
  std::uint8_t Data[4] = {};     // raw header bytes
  std::uint8_t Version = 0;      // 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
  std::uint8_t Layer = 0;        // 0 reserved, 1 Layer III, 2 Layer II, 3 Layer I
  bool Protected = false;        // a CRC follows the header
  std::uint16_t BitRateIndex = 0;
  std::uint16_t SampleRateIndex = 0;
  bool Padding = false;
  bool Private = false;
  std::uint8_t Mode = 0;         // 0 Stereo, 1 Joint, 2 Dual, 3 Mono, 4 Unknown
  std::uint8_t ModeExtension = 0;
  bool Copyright = false;
  bool Original = false;
  std::uint8_t Emphasis = 0;     // 0 None, 1 50/15 ms, 2 reserved, 3 CCIT J.17
};

// Constant tables.
// Bit rates in kbit/s, [Version][Layer][BitRateIndex].
extern const std::uint16_t MPEG_BIT_RATES[4][4][16];
// Sample rates in Hz, [Version][SampleRateIndex].
extern const std::uint16_t MPEG_SAMPLE_RATES[4][4];
// Channel count by Mode (4 = unknown).
extern const std::uint8_t MPEG_CM_CHANNELS[5];
// Display names.
extern const std::array<std::string_view, 4> MPEG_VERSION;
extern const std::array<std::string_view, 4> MPEG_LAYER;
extern const std::array<std::string_view, 5> MPEG_CM_MODE;
extern const std::array<std::string_view, 4> MPEG_EMPHASIS;

class TMP3File {
 public:
  // Bytes in one search window.
  static constexpr int kWindowSize = 3458;
  // Candidate frame starts searched in a window (0 .. 1729).
  static constexpr int kSearchCandidates = 1730;

  TMP3File();   // creates both tag readers, then clears
  ~TMP3File();

  TMP3File(const TMP3File&) = delete;
  TMP3File& operator=(const TMP3File&) = delete;

  // Back to the state after creation (tag readers cleared too).
  void Clear();

  // Reads the named file and fills every field. True when every read
  // completed; callers ask IsValid for the verdict. Never throws.
  bool ReadFileInfo(const std::string& FileName);
  // The same over an already opened source.
  bool ReadFileInfo(TByteSource& Source);
  // The same over bytes in memory (the whole file).
  bool ReadFileInfo(std::span<const std::uint8_t> FileBytes);

  // A frame was found, 8 <= BitRateKbps <= 448 and DurationSectors >= 1.
  bool IsValid() const;
  // Bit rate in kbit/s: the average from the VBR header, else the table's.
  std::uint16_t BitRateKbps() const;
  std::uint16_t SampleRateHz() const;
  std::uint8_t ChannelCount() const;
  // Playing time in CD sectors of 1/75 s.
  std::int32_t DurationSectors() const;

  // Length of the file in bytes.
  std::int64_t FileLength = 0;
  // "LAME" and four more characters, or "GOGO", found near the end; empty
  // when none was found or none was looked for.
  std::string EncoderID;
  VBRData VBR;
  FrameHeader Frame;
  // Owned tag readers (never null).
  const std::unique_ptr<TID3v1> ID3v1;
  const std::unique_ptr<TID3v2> ID3v2;

  // --- Per-frame values of a header, public for their tests. ---

  // Frame-size coefficient: 48 for Layer I in every version; 144 for the
  // other layers of MPEG 1 and for Layer II of MPEG 2 / 2.5; 72 for Layer III
  // of MPEG 2 / 2.5.
  static int Coefficient(const FrameHeader& frame);
  // Padding bytes of the frame: 4 for Layer I, 1 otherwise, 0 without padding.
  static int PaddingSize(const FrameHeader& frame);
  // Frame length in bytes (0 for a header with no rate).
  static std::uint16_t FrameLength(const FrameHeader& frame);
  // Distance from a frame's first byte to its "Xing" header.
  static int XingOffset(const FrameHeader& frame);
  // Whether four bytes are an acceptable frame header.
  static bool IsFrameHeader(const std::uint8_t* h);
  // Decodes four header bytes into the header fields (Found etc. untouched).
  static void DecodeHeader(const std::uint8_t* h, FrameHeader& frame);
  // Whole playing time in milliseconds to sectors, the 13.333 ms rule.
  static std::int32_t MillisecondsToSectors(std::int64_t ms);
};

}  // namespace cv
