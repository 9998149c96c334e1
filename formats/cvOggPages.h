// Ogg pages: the framing of Ogg Vorbis and Ogg Opus files, read for their
// header packets and their granule positions (never to decode).
//
// ReadOggPage reads one page header and its lacing table; ReadOggPackets
// reassembles the first packets of the logical stream that starts at a page
// (header packets may span pages: a cover picture in the tags), each packet
// cut at a size limit; WalkOggStream steps over every page of a file,
// checking the pattern, sequence, serial and CRC of each one, to tell
// whether the file is one whole, undamaged stream and what its final
// granule position is.
//
// Free functions over a TReadFile or a byte source; one thread at a time.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/cvByteSource.h"
#include "formats/cvReadFile.h"

namespace cv {

struct TOggPage {
  int64_t Offset = 0;       // of "OggS" in the file
  uint8_t Flags = 0;        // 1 continued packet, 2 first page, 4 last page
  int64_t Granule = -1;     // -1: no packet ends on this page
  uint32_t Serial = 0;
  uint32_t Sequence = 0;
  uint32_t Crc = 0;
  uint8_t Segments = 0;
  uint8_t Lacing[255] = {};
  uint32_t HeaderSize = 0;  // 27 + Segments
  uint32_t BodySize = 0;    // sum of the lacing values
  int64_t End() const { return Offset + HeaderSize + BodySize; }
};

constexpr uint8_t kOggContinued = 1, kOggFirst = 2, kOggLast = 4;

// Reads the page header at Offset. False unless "OggS", version 0 and the
// whole lacing table are there (the body is not read).
bool ReadOggPage(TReadFile& File, int64_t Offset, TOggPage& Page);

// The first Count packets of the stream whose first page is at Offset,
// following pages of that serial only. Each packet keeps its first MaxBytes
// bytes. Stops at the end of the file, at a page that is not where the
// previous one ended, or after MaxPages pages; fewer packets then come back.
std::vector<std::vector<uint8_t>> ReadOggPackets(TReadFile& File, int64_t Offset, size_t Count, size_t MaxBytes,
                                                 int MaxPages = 512);

// The last page of the stream with Serial within the last Window bytes of
// the file whose granule position is set; -1 for none.
int64_t LastOggGranule(TReadFile& File, uint32_t Serial, int64_t Window = 65536 + 65307);

struct TOggWalk {
  // Every page from the start to the end of the file is where the previous
  // one ended, of one serial, in sequence, with a CRC that holds; only the
  // first has the first-page flag; the file ends where the last page ends.
  bool Whole = false;
  uint32_t Serial = 0;
  int64_t Pages = 0;
  int64_t LastGranule = -1;  // of the last page that has one
};

// Walks every page from Offset to the end of the file (reading it once).
TOggWalk WalkOggStream(TByteSource& Source, int64_t Offset);

}  // namespace cv
