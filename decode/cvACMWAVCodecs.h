// The driver of the WAVE codecs a desktop's codec manager decodes: IMA
// ADPCM (0x0011), Microsoft ADPCM (0x0002), A-law (0x0006), mu-law (0x0007)
// and GSM 6.10 (0x0031), each by libavcodec.
//
// It is fed the samples of a WAV file's data chunk with the fmt chunk's
// fields as its source format. The block codecs (ADPCM,
// GSM) are cut into packets of nBlockAlign bytes, A-law and mu-law into
// packets of whole sample frames; a partial block at the end is decoded as
// far as it goes. A stream that decoded nothing answers ACMERR_NOTPOSSIBLE
// at the end.
#pragma once

#include "decode/cvACMDriver.h"
