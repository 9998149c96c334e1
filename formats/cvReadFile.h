// TReadFile: the bounded, cached read access the WAV, WMA and Ogg header
// readers use over a byte source (a file or memory, formats/cvByteSource.h).
//
// ReadAt copies at most what the source holds from an offset and says how
// many bytes it copied, so no length field read from a file can make a
// reader read outside the source or its own buffers. Reads go through a
// 64 KiB window, so a walk over many small records costs no system call per
// record.
//
// Lives on the stack of one ReadFileInfo; one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/cvByteSource.h"

namespace cv {

class TReadFile {
 public:
  explicit TReadFile(TByteSource& Source) : source_(Source), size_(Source.Size()) {}

  int64_t Size() const { return size_; }

  // Copies up to Count bytes from Offset into Dest and returns the number
  // copied: fewer at the end of the source, 0 for an offset outside it or on
  // a read error.
  size_t ReadAt(int64_t Offset, void* Dest, size_t Count);

  // ReadAt into a zero-filled buffer of Count bytes; a short read leaves the
  // tail zero.
  std::vector<uint8_t> ReadZeroFilled(int64_t Offset, size_t Count);

 private:
  bool Fill(int64_t Offset);

  TByteSource& source_;
  int64_t size_;
  std::vector<uint8_t> window_;
  int64_t windowStart_ = -1;
  size_t windowLength_ = 0;
};

// Bytes of an ID3v2 tag at the start of the file (header, body and a
// footer), 0 when there is none, its size is not sync-safe or it would end
// beyond the file. Readers of kinds that some taggers prefix with such a tag
// (FLAC, Ogg) start behind it.
int64_t LeadingID3v2Size(TReadFile& File);

}  // namespace cv
