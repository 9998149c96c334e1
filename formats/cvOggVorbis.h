// TOGGFile: reader of the headers of an Ogg Vorbis file.
//
// Reads the first page (the identification header), the second page (the
// comment header) and the last page of the stream, behind any ID3v2 tag in
// front of it, and derives the channel count, sample rate, nominal bit rate,
// tags and the playing time. It never decodes audio.
//
// The comment walk reads at most 250 bytes of every comment and stops at the
// end of the file whatever the counts claim; the last page is searched for
// in the last 12,060 bytes or so of the file (in the whole file when it is
// shorter). Tags are UTF-8 (the valid prefix of each value).
//
// ReadFileInfo raises EInOutError (device/cvIOError.h) when the file cannot
// be opened; every other failure gives False with the fields cleared.
// Owned by its creator; one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"

namespace cv {

class TOGGFile {
 public:
  TOGGFile();

  // All numbers 0, all strings empty.
  void Clear();

  // Clears, then reads FileName. True when the first page and the
  // identification header were recognised (the fields are then filled).
  // Throws EInOutError when the file cannot be opened.
  bool ReadFileInfo(const std::string& FileName);
  // The same over an opened source, or over the bytes of a whole file.
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  // Playing time in Sectors: from Samples / SampleRate when the last page
  // gave a granule position, else from the nominal bit rate.
  int32_t DurationSectors() const;
  // Average bit rate in kbit/s over the playing time; serves IsValid only.
  uint16_t BitRate() const;
  // ChannelCount 1 or 2, SampleRate > 0, DurationSectors > 0, BitRate > 0.
  bool IsValid() const;

  int64_t FileSize = 0;         // size of the file in bytes
  uint32_t SampleRate = 0;      // the identification header's rate, in full
  uint16_t BitRateNominal = 0;  // nominal bit rate / 1000, rounded (kbit/s)
  int32_t Samples = 0;          // low 32 bits of the last page's granule position
  int32_t ID3v2Size = 0;        // bytes of an ID3v2 tag in front; 0 if none
  std::string Title, Artist, Album;
  uint16_t Track = 0;  // 0 .. 255
  std::string Date, Genre, Comment;
  std::string Vendor;
  // ALBUMARTIST (or "ALBUM ARTIST"), COMPOSER and ISRC, for a disc's texts.
  std::string AlbumArtist, Composer, Isrc;
  uint8_t ChannelCount = 0;
};

}  // namespace cv
