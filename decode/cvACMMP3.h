// The MP3 driver (format tag 0x0055): libmpg123 in feed mode.
//
// Each convert feeds its bytes and reads until libmpg123 needs more. ID3v2
// and ID3v1 tags, a RIFF header in front and the Xing/LAME frame are
// skipped by the library, and the encoder delay and padding are trimmed, so
// the sample count is exact. The output format is pinned after the first
// format event (a damaged frame cannot switch rate or channels), reading
// goes on after a decoding error, and libmpg123's own resampler is never
// used: PCM at the stream's native rate goes to our PCM converter. A stream
// in which no MPEG audio was found by the end answers ACMERR_NOTPOSSIBLE.
#pragma once

#include <cstdint>
#include <string>

#include "decode/cvACMDriver.h"

namespace cv {

#if CORVID_WITH_MP3
// The format of the MPEG audio stream in bytes [Start, End) of a file, as
// libmpg123 finds it (its first format event, which the driver pins): the
// rate and channel count a decode will really have, whatever a header
// reader guessed from the frame it happened to find. Feeds at most 16 MiB
// (a large ID3v2 tag in front is skipped on the way). False when the file
// cannot be read or no format was found.
bool MP3StreamFormat(const std::string& Path, uint64_t Start, uint64_t End, uint32_t* Rate, uint16_t* Channels);
#endif

}  // namespace cv
