// The MP4 driver: AAC (format tag 0x00FF) and ALAC (0x6C61) from MP4/M4A
// files, decoded by libavcodec.
//
// MP4 keeps its audio as samples listed in the track's sample tables, not as
// a self-delimiting stream, so the driver is not fed the file as stored but
// the track's samples in order, each as a 32-bit big-endian length followed
// by the sample's bytes (cvMP4Source produces this from a file). The format
// block's extra bytes carry what the container knows (MP4Extra below): the
// track's time scale, the frames to drop at the start (the encoder delay) and
// the frames to keep after them (the track's length without the padding), and
// the decoder configuration (AAC's AudioSpecificConfig, ALAC's magic cookie).
// A sample longer than 16 MiB ends the stream (the framing is lost). A stream
// that decoded nothing answers ACMERR_NOTPOSSIBLE at the end.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "decode/cvACMDriver.h"

namespace cv {

// The extra bytes of an AAC or ALAC format block: time scale (u32), frames
// to skip (u64), frames to keep (u64, UINT64_MAX for all), all little-endian,
// then the decoder configuration.
struct TMP4Extra {
  uint32_t TimeScale = 0;
  uint64_t Skip = 0;
  uint64_t Keep = UINT64_MAX;
  std::vector<uint8_t> Config;

  static constexpr size_t kFixedSize = 20;
  std::vector<uint8_t> Encode() const;
  // False when the bytes are shorter than the fixed part.
  static bool Decode(std::span<const uint8_t> bytes, TMP4Extra* out);
};

}  // namespace cv
