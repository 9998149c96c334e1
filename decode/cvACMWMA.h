// The WMA driver (format tags 0x0160 and 0x0161): our ASF packet parser
// (cvASFPackets) feeds libavcodec's wmav1/wmav2 decoders. The codec tag,
// rate, channels, bit rate, block alignment and extra data come from the
// stream properties in the bytes fed, whatever the source format block
// says. Output comes in whole 2048-sample frames (deterministic, not
// gapless). A stream whose header never parsed, or whose codec is not WMA
// v1/v2, answers ACMERR_NOTPOSSIBLE at the end.
#pragma once

#include "decode/cvACMDriver.h"
