// The Ogg Opus driver (format tag 0x704F): libogg for pages and packets,
// libopus (multistream API, channel mapping families 0 and 1) for the audio.
//
// Opus always decodes at 48000 Hz; the stream's output goes through the PCM
// converter like any other rate (soxr to 44100 Hz on the two-stage path).
// The identification header (OpusHead) gives the channel count, the
// pre-skip and the output gain; the gain is applied by libopus. Trimming is
// exact: the pre-skip is dropped from the start, and decoded samples past a
// page's granule position are held until a later page's granule covers
// them, so the end-of-stream page trims the padding of the last packet (the
// length is the final granule position less the pre-skip). A truncated
// stream without an end-of-stream page gives everything decoded. Chained
// streams are decoded one after the other, each trimmed on its own; other
// logical streams are ignored. A stream with more than two output channels,
// or whose headers never parsed, answers ACMERR_NOTPOSSIBLE at the end.
#pragma once

#include "decode/cvACMDriver.h"
