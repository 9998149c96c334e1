// TWMAfile: reader of the header of a Windows Media Audio file (the ASF
// container).
//
// Walks the header objects and takes the audio parameters from the File
// Properties and Stream Properties objects and the text tags from the
// Content Description and Extended Content Description objects. A file is
// Valid only when the values pass fixed plausibility ranges. The walk is
// bounded by the object count, by the file, and by a minimum object size;
// strings are read at most 250 characters long, the rest skipped.
//
// Texts are UTF-8 (converted from the file's UTF-16LE) and trimmed.
// Owned by its creator; one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"

namespace cv {

class TWMAfile {
 public:
  TWMAfile();

  // Valid := False, all numbers 0, all strings empty.
  void Clear();

  // Clears, then reads the header. True when the file could be opened and
  // the header walk ended without a short read (also for a file that is not
  // ASF); Valid tells whether the values are plausible. On False or an
  // implausible header every field stays cleared.
  bool ReadFileInfo(const std::string& FileName);
  // The same over an opened source, or over the bytes of a whole file.
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  bool Valid = false;
  // Size of the file in bytes. 64 bits wide, so that the duration of files
  // of 2 GiB and more is computed as for smaller ones.
  int64_t FileSize = 0;
  uint8_t ChannelCount = 0;
  int32_t SampleRate = 0;
  // Playing time in Sectors, estimated from the file size and the maximum
  // bit rate of the File Properties object.
  int32_t DurationSectors = 0;
  int32_t BitRateKbps = 0;  // average bytes per second x 8 div 1000
  std::string Title, Artist, Album;
  int32_t Track = 0;  // the track tag as a decimal number, else 0
  std::string Year, Genre, Comment;

  // Values of the header beyond the ones above, kept for diagnostics: the
  // wFormatTag of the (last) stream (0x0160 WMA v1, 0x0161 WMA v2), the
  // maximum bit rate (bit/s) and the average bytes per second.
  uint16_t FormatTag = 0;
  int32_t MaxBitRate = 0;
  int32_t AvgBytesPerSec = 0;
};

}  // namespace cv
