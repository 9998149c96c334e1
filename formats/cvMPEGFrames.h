// The exact sample count of an MPEG audio file (MP3, also Layers I and II)
// from its frame headers alone, without decoding: what the MP3 codec's
// gapless decode yields for the same file.
//
// The walk starts right behind the ID3v2 tags at the start of the file and
// steps from header to header to the end. It gives an exact count only for
// a file it can vouch for: every frame where the previous one ended, all of
// one MPEG version, layer, sample rate and channel count, no free-format
// frames, and nothing after the last frame but an ID3v1 tag. For such a
// file:
//   - with a Xing/Info frame carrying a LAME tag (LAME, or FFmpeg's "Lavf"/
//     "Lavc"), the Info frame is not audio, and the count is frames x
//     samples per frame less the encoder delay and padding, as the decoder
//     trims them (its own 529-sample delay moves the window, so padding
//     below 529 trims less at the end); the frame count in the Xing header
//     must equal the frames walked;
//   - with no Xing/Info/VBRI frame, every frame is audio and nothing is
//     trimmed.
// Anything else (damage, junk, a cut last frame, a VBRI header, a Xing
// header without a LAME tag, an APE tag) gives no exact count, and the
// caller measures by decoding.
//
// A free function over a byte source; one thread at a time.
#pragma once

#include <cstdint>
#include <string>

#include "formats/cvByteSource.h"

namespace cv {

struct TMPEGFrames {
  bool Exact = false;
  std::string Why;             // why there is no exact count ("" when Exact)
  uint64_t Samples = 0;        // per channel, at SampleRate (when Exact)
  uint32_t SampleRate = 0;
  uint8_t ChannelCount = 0;
  uint32_t SamplesPerFrame = 0;
  uint64_t Frames = 0;         // audio frames walked (the Info frame not counted)
  int64_t FirstFrame = 0;      // offset of the first frame
  bool InfoFrame = false;      // a Xing/Info frame with a LAME tag led the stream
  uint32_t EncoderDelay = 0;   // from the LAME tag
  uint32_t EncoderPadding = 0;
};

// The decoder's own delay for Layer III, which its gapless trimming adds.
inline constexpr uint32_t kMPEGDecoderDelay = 529;

TMPEGFrames CountMPEGFrames(TByteSource& Source);

}  // namespace cv
