// The source bytes of an MP4 audio track as the MP4 driver takes them: the
// track's samples in decoding order, each as a 32-bit big-endian length and
// the sample's bytes, read from the file at the offsets the header reader
// (formats/cvMP4File) found in the sample tables. The decoder feeds this
// stream block by block in place of the file's bytes; the source format
// block for it comes from MP4SourceFormat.
//
// Owned by the decoder while it decodes; one thread at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "decode/cvACM.h"
#include "formats/cvMP4File.h"

namespace cv {

class TMP4Source {
 public:
  // Reads from File (owned by the caller, kept open while this is used)
  // the samples Reader lists.
  TMP4Source(const TMP4File& Reader, std::FILE* File);

  // Bytes of the whole stream.
  uint64_t Size() const { return Total; }
  // Copies up to Count bytes of the stream from the current position;
  // returns how many (0 at the end). A sample the file no longer holds
  // (the file shrank) ends the stream early; a read error raises
  // EInOutError.
  size_t Read(uint8_t* Into, size_t Count);

 private:
  const TMP4File& Reader;
  std::FILE* File;
  uint64_t Total = 0;
  size_t Sample = 0;      // the sample being read
  uint32_t Offset = 0;    // bytes of it (length included) already read
  bool Ended = false;
};

// The source format block for Reader's track (AAC or ALAC tag, channels,
// rate, bits, and the extra bytes of cvACMMP4.h: time scale, delay,
// playable length, decoder configuration), at least MinSize bytes.
std::unique_ptr<TFormatBlock> MP4SourceFormat(const TMP4File& Reader, size_t MinSize);

}  // namespace cv
