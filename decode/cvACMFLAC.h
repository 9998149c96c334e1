// The FLAC driver (format tag 0xF1AC): native FLAC streams decoded by
// libFLAC's stream decoder.
//
// The driver walks the stream's metadata itself (an ID3v2 tag in front is
// stepped over; every block but STREAMINFO is skipped without being held,
// so a large picture costs nothing) and hands libFLAC "fLaC", STREAMINFO
// and the audio frames. libFLAC pulls its input, so the driver holds back
// input until it has at least two of the largest frames STREAMINFO allows
// (plus libFLAC's read-ahead) before it lets libFLAC decode a frame, and
// never lets one frame read more than that: a damaged frame that would need
// more is dropped and libFLAC resynchronises on the next one. The output is
// therefore the same however the input was split. The frames' own rate,
// channel count and sample size are used (1 or 2 channels; a frame with
// more is skipped), and the total is STREAMINFO's sample count for an
// intact file. A stream without "fLaC" and STREAMINFO answers
// ACMERR_NOTPOSSIBLE at the end.
#pragma once

#include "decode/cvACMDriver.h"
