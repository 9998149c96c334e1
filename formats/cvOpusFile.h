// TOpusFile: reader of the headers of an Ogg Opus file.
//
// Reads the first page's "OpusHead" packet (channels, pre-skip, the input
// sample rate, output gain, channel mapping family), the "OpusTags" packet
// (Vorbis-comment tags, which may span pages) and the granule position of
// the stream's last page. Opus always decodes at 48000 Hz; the playing time
// is (last granule - pre-skip) / 48000 s. It never decodes audio.
//
// ReadFileInfo raises nothing: a file that cannot be opened or is not Ogg
// Opus gives False with the fields cleared. Owned by its creator (the
// decoder keeps the one it tried); one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "formats/cvByteSource.h"
#include "formats/cvVorbisComment.h"

namespace cv {

// The fields of an "OpusHead" identification packet.
struct TOpusHead {
  uint8_t Version = 0;
  uint8_t ChannelCount = 0;
  uint16_t PreSkip = 0;          // samples at 48000 Hz dropped at the start
  uint32_t InputSampleRate = 0;  // the encoder's input rate (informative)
  int16_t OutputGain = 0;        // Q7.8 dB
  uint8_t MappingFamily = 0;
  // Family 0: one stream, ChannelCount - 1 coupled, mapping 0, 1. Other
  // families: the packet's own table.
  uint8_t StreamCount = 1;
  uint8_t CoupledCount = 0;
  std::array<uint8_t, 255> Mapping{};
};

// Reads an OpusHead packet (the whole packet, as the first page carries
// it). True when it starts with "OpusHead", its version is 0 to 15 (the
// versions that share this layout), it has at least one channel and every
// field it claims is within the packet (the channel mapping table too, for
// families other than 0). Limits on the channels are the caller's.
bool ReadOpusHead(std::span<const uint8_t> Packet, TOpusHead* Out);

class TOpusFile {
 public:
  static constexpr uint32_t kDecodeRate = 48000;

  TOpusFile() = default;
  void Clear() { *this = TOpusFile{}; }

  // Clears, then reads. True when the first page carries an "OpusHead"
  // packet of version 0.x with its fields whole; Valid tells whether the
  // stream is one this system can use.
  bool ReadFileInfo(const std::string& FileName);
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  // Samples at 48000 Hz after the pre-skip: last granule - pre-skip (0 when
  // no last granule was found or it lies before the pre-skip).
  uint64_t Samples() const;
  // Playing time in Sectors (a part of a Sector counted whole).
  int32_t DurationSectors() const;

  // OpusHead read, 1 or 2 channels with mapping family 0, or 1 .. 8 with
  // family 1.
  bool Valid = false;
  int64_t FileSize = 0;
  int64_t ID3v2Size = 0;      // bytes of an ID3v2 tag in front of the first page
  uint32_t Serial = 0;        // of the Opus stream
  uint8_t Version = 0;
  uint8_t ChannelCount = 0;
  uint16_t PreSkip = 0;       // samples at 48000 Hz dropped at the start
  uint32_t InputSampleRate = 0;  // the encoder's input rate (informative)
  int16_t OutputGain = 0;     // Q7.8 dB
  uint8_t MappingFamily = 0;
  int64_t LastGranule = -1;   // -1: not found
  TVorbisComment Tags;
};

}  // namespace cv
