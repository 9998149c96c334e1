// The Ogg Vorbis driver (format tag 0x6771): libogg for pages and packets,
// libvorbis' synthesis API for the audio.
//
// Pages are resynchronised after damage (holes are counted as skipped); the
// three header packets set up the decoder; a beginning-of-stream page of a
// new serial number after the current stream has ended or given audio
// starts over (chained files), and the PCM converter follows a change of
// rate or channel count at such a boundary. libvorbis trims the last packet
// to the final granule position, so the count is exact. A stream whose
// headers were never complete answers ACMERR_NOTPOSSIBLE at the end.
#pragma once

#include "decode/cvACMDriver.h"
