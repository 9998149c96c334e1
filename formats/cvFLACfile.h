// TFLACfile: reader of the metadata of a FLAC file.
//
// Reads the "fLaC" marker (behind any ID3v2 tag, which some taggers put in
// front), the STREAMINFO block (sample rate, channels, bits per sample,
// total samples), the VORBIS_COMMENT block (tags) and steps over every other
// block by its length. Every length is checked against the file; the walk
// stops after the last-block flag, at 1024 blocks or at the end of the file.
// It never decodes audio.
//
// ReadFileInfo raises nothing: a file that cannot be opened or is not FLAC
// gives False with the fields cleared. Owned by its creator (the decoder
// keeps the one it tried); one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"
#include "formats/cvVorbisComment.h"

namespace cv {

// The fields of a STREAMINFO block.
struct TFLACStreamInfo {
  uint16_t MinBlockSize = 0, MaxBlockSize = 0;
  uint32_t MinFrameSize = 0, MaxFrameSize = 0;  // 0 = not known
  uint32_t SampleRate = 0;
  uint8_t ChannelCount = 0;
  uint8_t BitsPerSample = 0;
  uint64_t TotalSamples = 0;  // per channel; 0 = not known
  std::span<const uint8_t> MD5;  // 16 bytes, within the block given
};

inline constexpr size_t kFLACStreamInfoSize = 34;

// Reads a STREAMINFO block's body (its first 34 bytes). False when it is
// shorter.
bool ReadFLACStreamInfo(std::span<const uint8_t> Body, TFLACStreamInfo* Out);

class TFLACfile {
 public:
  TFLACfile() = default;

  // Every field back to its initial value.
  void Clear() { *this = TFLACfile{}; }

  // Clears, then reads. True when the marker and a whole STREAMINFO block
  // were read (Valid then tells whether the stream is one this system can
  // use).
  bool ReadFileInfo(const std::string& FileName);
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  // Playing time in Sectors (1/75 s, a part of a Sector counted whole); 0
  // when the total is unknown.
  int32_t DurationSectors() const;

  // STREAMINFO read, rate 1 .. 655350 Hz, 1 .. 8 channels, 4 .. 32 bits.
  bool Valid = false;
  int64_t FileSize = 0;
  int64_t ID3v2Size = 0;        // bytes of an ID3v2 tag in front of "fLaC"
  int64_t AudioOffset = 0;      // first byte after the last metadata block
  uint32_t SampleRate = 0;
  uint8_t ChannelCount = 0;
  uint8_t BitsPerSample = 0;
  uint64_t TotalSamples = 0;    // per channel; 0 = not known
  uint16_t MinBlockSize = 0, MaxBlockSize = 0;
  uint32_t MinFrameSize = 0, MaxFrameSize = 0;
  std::string MD5;              // of the decoded samples, 32 hex digits
  uint32_t Blocks = 0;          // metadata blocks walked
  TVorbisComment Tags;
};

// The sample number just past the last frame of a FLAC stream, found by
// looking back from the end of the file for a frame header whose CRC-8
// holds and whose frame, running to the end of the file, ends in a CRC-16
// that holds; -1 when no such frame is found in the last MaxBack bytes.
// Trailing tag bytes make it -1 too: the caller then measures by decoding.
// NominalBlock: STREAMINFO's block size (fixed-block streams number their
// frames, not their samples).
int64_t FLACEndSample(TByteSource& Source, int64_t AudioOffset, uint32_t NominalBlock, int64_t MaxBack = 1 << 20);

}  // namespace cv
