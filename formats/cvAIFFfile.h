// TAIFFfile: reader of the header of an AIFF or AIFF-C file.
//
// Walks the chunks of the FORM container (any order, unknown chunks
// skipped, odd sizes padded, every size checked against the file, at most
// 4096 chunks): COMM gives the channels, sample frames, sample size and the
// sample rate (an 80-bit extended number), and for AIFF-C the compression
// type; SSND gives where the sample data lies; NAME, AUTH and ANNO give the
// title, artist and comment, and an "ID3 " chunk (as some taggers and
// ffmpeg write) the tags it holds. It never reads the samples.
//
// ReadFileInfo raises nothing: a file that cannot be opened or is not AIFF
// gives False with the fields cleared. Owned by its creator (the decoder
// keeps the one it tried); one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"

namespace cv {

class TAIFFfile {
 public:
  TAIFFfile() = default;
  void Clear() { *this = TAIFFfile{}; }

  // Clears, then reads. True when the file starts with FORM/AIFF or
  // FORM/AIFC and has a COMM chunk; Valid tells whether the samples can be
  // found and read.
  bool ReadFileInfo(const std::string& FileName);
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  // Bytes of one sample of one channel (the sample size rounded up to whole
  // bytes, 8 for 64-bit float).
  uint32_t BytesPerSample() const;
  // Sample frames the data holds: SampleFrames, or fewer when the SSND
  // chunk is shorter.
  uint64_t Frames() const;
  // Playing time in Sectors (a part of a Sector counted whole).
  int32_t DurationSectors() const;

  // Integer PCM ("AIFF", or AIFF-C "NONE", "twos", "sowt", "raw ") or float
  // ("fl32", "fl64"), 1 or more channels, a rate above 0, COMM and SSND.
  bool Valid = false;
  bool AIFC = false;           // FORM type "AIFC"
  std::string Compression;     // AIFF-C compression type; "NONE" for AIFF
  bool LittleEndian = false;   // "sowt"
  bool Float = false;          // "fl32" / "fl64"
  bool Unsigned = false;       // "raw " (8-bit offset binary)
  int64_t FileSize = 0;
  uint16_t ChannelCount = 0;
  uint32_t SampleFrames = 0;   // COMM's count
  uint16_t SampleSize = 0;     // bits
  uint32_t SampleRate = 0;     // rounded to the nearest Hz
  int64_t DataOffset = 0;      // first sample byte
  int64_t DataSize = 0;        // sample bytes the SSND chunk holds within the file
  std::string Title, Artist, Album, Comment, Year, Genre;
  uint16_t Track = 0;
};

// The value of an 80-bit IEEE extended number (as COMM stores the rate),
// rounded to the nearest integer; 0 for negative, zero, not-a-number or
// values of 2^32 and more.
uint32_t ExtendedToUInt(std::span<const uint8_t, 10> Bytes);

}  // namespace cv
