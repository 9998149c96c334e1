// The codec layer built without its codec libraries: only the PCM
// converter is there.
#include <gtest/gtest.h>

#include "decode/cvACM.h"

using namespace cv;

TEST(ACMWithoutCodecs, OnlyThePcmConverterIsEnumerated) {
  int drivers = 0, codecs = 0;
  acmDriverEnum(
      [&](HACMDRIVERID, uintptr_t, uint32_t support) {
        ++drivers;
        if (support & ACMDRIVERDETAILS_SUPPORTF_CODEC) ++codecs;
        return true;
      },
      0, 0);
  EXPECT_EQ(drivers, 1);
  EXPECT_EQ(codecs, 0);
  TFormatBlock mp3(30);
  mp3.SetFormatTag(WAVE_FORMAT_MPEGLAYER3);
  mp3.SetChannels(2);
  mp3.SetSamplesPerSec(44100);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, mp3, TFormatBlock::Pcm(1, 2, 44100, 16), nullptr, 0, 0,
                          ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
}
