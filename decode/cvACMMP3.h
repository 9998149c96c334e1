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

#include "decode/cvACMDriver.h"
