// TWAVfile: reader of the RIFF/WAVE header of a WAV file.
//
// Gives the decoder the parameters of the source format (format tag,
// channels, sample rate, byte rate, block alignment, bits per sample), where
// the samples lie in the file and an estimated playing time. It walks the
// chunk list: chunks may come in any order, unknown ones are skipped, and
// every size is checked against the file. SampleCount comes only from a
// real "fact" chunk; HeaderSize is the offset of the data chunk's samples
// and DataSize their length. A RIFF or data size of 0 or 0xFFFFFFFF (as
// streaming writers leave them) or one that runs beyond the end of the file
// stands for "up to the end of the file".
//
// The reader only reads. Owned by its creator (the decoder keeps the one it
// tried); one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"

namespace cv {

class TWAVfile {
 public:
  TWAVfile();

  // Valid := False, every other field 0.
  void Clear();

  // Clears, then reads the header of FileName. True when the file could be
  // opened and holds at least 40 bytes, whether or not it is a usable WAV
  // file; Valid tells whether it is (the fields are filled only then).
  bool ReadFileInfo(const std::string& FileName);
  // The same over an opened source, or over the bytes of a whole file.
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  // Playing time in Sectors (1/75 s): from SampleCount / SampleRate when a
  // fact chunk gave a sample count, else from DataSize / BytesPerSecond.
  int32_t DurationSectors() const;

  // The milliseconds DurationSectors is computed from.
  int64_t DurationMs() const;

  // True when the last ReadFileInfo found RIFF/WAVE with a fmt chunk of 1 or
  // 2 channels and a data chunk.
  bool Valid = false;
  uint16_t FormatTag = 0;       // wFormatTag; read, not tested
  uint8_t ChannelCount = 0;     // low byte of nChannels
  uint32_t SampleRate = 0;      // nSamplesPerSec
  uint32_t BytesPerSecond = 0;  // nAvgBytesPerSec
  uint16_t BlockAlign = 0;      // nBlockAlign
  uint8_t BitsPerSample = 0;    // low byte of wBitsPerSample
  int32_t SampleCount = 0;      // dwSampleLength of a fact chunk; 0 without one
  // Offset of the first sample byte (just after the data chunk's header).
  // 32 bits wide: chunks in front of the data (a large LIST, say) may move
  // it beyond 65535.
  uint32_t HeaderSize = 0;
  // RIFF chunk size + 8 when that size is a real one inside the file; the
  // size of the file otherwise (streamed or damaged RIFF size).
  uint32_t FileSize = 0;
  // Bytes of sample data: the data chunk's size, or what the file holds from
  // HeaderSize on when that size is 0, 0xFFFFFFFF or beyond the file.
  uint32_t DataSize = 0;
  // True when a "fact" chunk was present.
  bool HasFact = false;
};

}  // namespace cv
