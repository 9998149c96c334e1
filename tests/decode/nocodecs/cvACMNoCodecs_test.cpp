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

#include <string>
#include <vector>

#include "decode/cvAudFiles.h"

TEST(ACMWithoutCodecs, OnlyWavIsSupportedAndOthersCannotBePrepared) {
  std::vector<std::string> lines;
  TAudioFile::SetLogSink([&](const std::string& l) { lines.push_back(l); });
  TAudioFile f(std::string(CORVID_FIXTURES_DIR) + "/decode/mp3_44100_2.mp3");
  EXPECT_EQ(f.SupportedKinds, 0x102);  // WAV and AIFF: the PCM converter is always there
  EXPECT_EQ(f.FileKind, afMP3);
  EXPECT_FALSE(f.PrepareDecoding());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "Warning: The requested operation cannot be performed/No capable filter found");
  EXPECT_EQ(lines.back(), "invalid buffer Size");
  TAudioFile g(std::string(CORVID_FIXTURES_DIR) + "/decode/ogg_44100_2.ogg");
  EXPECT_TRUE(g.CalcLength());
  EXPECT_EQ(g.LengthSectors, 0u);
  // PCM still decodes.
  TAudioFile w(std::string(CORVID_FIXTURES_DIR) + "/decode/pcm24_48000_2.wav");
  EXPECT_TRUE(w.CalcLength());
  EXPECT_GT(w.LengthSectors, 0u);
  TAudioFile::SetLogSink(nullptr);
}
