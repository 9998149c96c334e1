// The PCM converter: exact copies, partial frames, resampled lengths,
// rounding and determinism.
#include "decode/cvACMPCM.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tests/decode/CodecFixtures.h"
#include "tests/decode/DecodeTestUtil.h"
#include "tests/decode/WavTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

std::vector<uint8_t> Sine32(size_t frames, uint32_t rate, uint16_t channels) {
  std::vector<uint8_t> v(frames * channels * 4);
  for (size_t i = 0; i < frames; ++i)
    for (uint16_t c = 0; c < channels; ++c) {
      auto s = int32_t(std::lround(0.5 * std::sin(2 * M_PI * 1000.0 * double(i) / rate + c) * 2147483647.0));
      std::memcpy(&v[(i * channels + c) * 4], &s, 4);
    }
  return v;
}

}  // namespace

TEST(PCMConverter, CdPcmIsCopiedByteForByte) {
  auto wav = ParseWav(ReadFile(Fixture("pcm16_44100_2.wav")));
  ASSERT_TRUE(wav.Ok);
  auto run = RunStream(CDFormat(), CDFormat(), wav.Data, 1000);
  ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
  EXPECT_EQ(run.Out, wav.Data);
}

TEST(PCMConverter, PartialFramesCarryOverBetweenBlocks) {
  // 24-bit stereo: 6-byte frames never line up with 1000-byte blocks.
  auto wav = ParseWav(ReadFile(Fixture("pcm24_48000_2.wav")));
  ASSERT_TRUE(wav.Ok);
  TFormatBlock src = TFormatBlock::Pcm(1, 2, 48000, 24);
  TFormatBlock wide = TFormatBlock::Pcm(1, 2, 48000, 32);
  auto whole = RunStream(src, wide, wav.Data, wav.Data.size());
  auto blocks = RunStream(src, wide, wav.Data, 1000);
  auto bytes = RunStream(src, wide, wav.Data, 7);
  ASSERT_EQ(whole.OpenResult, MMSYSERR_NOERROR);
  EXPECT_EQ(whole.Out.size(), wav.Data.size() / 3 * 4);
  EXPECT_EQ(blocks.Out, whole.Out);
  EXPECT_EQ(bytes.Out, whole.Out);
  // 24-bit samples land in the top bytes of the 32-bit ones.
  for (size_t i = 0; i < 64; ++i) {
    EXPECT_EQ(whole.Out[i * 4], 0);
    EXPECT_EQ(0, std::memcmp(&whole.Out[i * 4 + 1], &wav.Data[i * 3], 3)) << i;
  }
}

TEST(PCMConverter, ResampledLengthIsRoundedAndIndependentOfBlocks) {
  struct Case {
    uint32_t Rate;
    size_t Frames;
    size_t Expected;
  };
  // round(N x 44100 / rate); 48000 Hz, 80 frames is a tie (73.5) that soxr
  // rounds up.
  for (Case c : {Case{48000, 80, 74}, Case{22050, 1000, 2000}, Case{32000, 1000, 1378}, Case{96000, 7, 3}}) {
    auto in = Sine32(c.Frames, c.Rate, 2);
    TFormatBlock src = TFormatBlock::Pcm(1, 2, c.Rate, 32);
    auto a = RunStream(src, CDFormat(), in, in.size());
    auto b = RunStream(src, CDFormat(), in, 1000);
    ASSERT_EQ(a.OpenResult, MMSYSERR_NOERROR);
    EXPECT_EQ(a.Out.size() / 4, c.Expected) << c.Rate << " " << c.Frames;
    EXPECT_EQ(a.Out, b.Out) << c.Rate;
    EXPECT_EQ(Hash(RunStream(src, CDFormat(), in, 333).Out), Hash(a.Out)) << "run to run";
  }
}

TEST(PCMConverter, EightBitMonoBecomesStereoSixteenBit) {
  std::vector<uint8_t> in = {128, 255, 0, 64, 192};
  TFormatBlock src = TFormatBlock::Pcm(1, 1, 44100, 8);
  TFormatBlock wide = TFormatBlock::Pcm(1, 1, 44100, 32);
  auto stage1 = RunStream(src, wide, in, in.size());
  auto run = RunStream(wide, CDFormat(), stage1.Out, stage1.Out.size());
  ASSERT_EQ(run.Out.size(), in.size() * 4);
  const int16_t expect[] = {0, 127 * 256, -32768, -64 * 256, 64 * 256};
  for (size_t i = 0; i < in.size(); ++i) {
    int16_t l, r;
    std::memcpy(&l, &run.Out[i * 4], 2);
    std::memcpy(&r, &run.Out[i * 4 + 2], 2);
    EXPECT_EQ(l, expect[i]) << i;
    EXPECT_EQ(r, l) << i;
  }
}

TEST(PCMConverter, FloatIsRoundedToNearestAndClipped) {
  std::vector<float> f = {0.0f, 1.0f, -1.0f, 2.5f, -3.0f, 0.5f / 32768.0f, 1.5f / 32768.0f, -0.6f / 32768.0f,
                          NAN, 0.25f};
  std::vector<uint8_t> in(f.size() * 4);
  std::memcpy(in.data(), f.data(), in.size());
  TFormatBlock src = TFormatBlock::Pcm(3, 2, 44100, 32);
  auto run = RunStream(src, CDFormat(), in, in.size());
  ASSERT_EQ(run.Out.size(), in.size() / 2);
  std::vector<int16_t> s(f.size());
  std::memcpy(s.data(), run.Out.data(), run.Out.size());
  EXPECT_EQ(s, (std::vector<int16_t>{0, 32767, -32768, 32767, -32768, 0, 2, -1, 0, 8192}));
}

TEST(PCMConverter, AiffBigEndianSamplesBecomeTheSourceSamples) {
  // sox wrote the same samples as big-endian 16-bit AIFF and 24-bit AIFF-C.
  const auto source = cvtest::SourcePcm();
  struct TCase {
    const char* Name;
    uint16_t Bits;
  };
  for (TCase c : {TCase{"tone.aiff", 16}, TCase{"tone24.aifc", 24}}) {
    const auto file = cvtest::ReadFile(cvtest::CodecFixture(c.Name));
    auto ssnd = cvtest::ChunkBody(file, "SSND");
    ASSERT_GT(ssnd.size(), 8u) << c.Name;
    ssnd.erase(ssnd.begin(), ssnd.begin() + 8);  // offset and block size
    const auto src = TFormatBlock::Pcm(WAVE_FORMAT_PCM_BE, 2, 44100, c.Bits);
    // One stage: big-endian to CD PCM at the same rate and channel count.
    for (size_t block : {size_t(1000), size_t(7), ssnd.size()}) {
      cvtest::TRun run = cvtest::RunStream(src, cvtest::CDFormat(), ssnd, block);
      ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR) << c.Name;
      // The 24-bit file was made from the 16-bit samples: its low bytes are
      // zero, and the conversion gives the 16-bit samples back exactly.
      EXPECT_TRUE(run.Out == source) << c.Name << " block " << block;
    }
  }
  // 8-bit AIFF is signed: -128 is the lowest sample, 0 silence.
  std::vector<uint8_t> s8 = {0x80, 0x00, 0x7F, 0x40};
  cvtest::TRun eight = cvtest::RunStream(TFormatBlock::Pcm(WAVE_FORMAT_PCM_BE, 1, 44100, 8),
                                         TFormatBlock::Pcm(WAVE_FORMAT_PCM, 1, 44100, 16), s8, 4);
  ASSERT_EQ(eight.Out.size(), 8u);
  auto at = [&](size_t i) { return int16_t(eight.Out[2 * i] | (eight.Out[2 * i + 1] << 8)); };
  EXPECT_EQ(at(0), -32768);
  EXPECT_EQ(at(1), 0);
  EXPECT_EQ(at(2), 127 * 256);
  EXPECT_EQ(at(3), 64 * 256);
  // Big-endian float, 32 and 64 bits: 0.5 and -0.25.
  std::vector<uint8_t> f32 = {0x3F, 0x00, 0x00, 0x00, 0xBE, 0x80, 0x00, 0x00};
  std::vector<uint8_t> f64 = {0x3F, 0xE0, 0, 0, 0, 0, 0, 0, 0xBF, 0xD0, 0, 0, 0, 0, 0, 0};
  for (auto [bytes, bits] : {std::pair{f32, uint16_t(32)}, std::pair{f64, uint16_t(64)}}) {
    cvtest::TRun f = cvtest::RunStream(TFormatBlock::Pcm(WAVE_FORMAT_FLOAT_BE, 1, 44100, bits),
                                       TFormatBlock::Pcm(WAVE_FORMAT_PCM, 1, 44100, 16), bytes, 3);
    ASSERT_EQ(f.Out.size(), 4u) << bits;
    EXPECT_EQ(int16_t(f.Out[0] | (f.Out[1] << 8)), 16384) << bits;
    EXPECT_EQ(int16_t(f.Out[2] | (f.Out[3] << 8)), -8192) << bits;
  }
  // Never a destination.
  cvtest::TRun bad = cvtest::RunStream(cvtest::CDFormat(), TFormatBlock::Pcm(WAVE_FORMAT_PCM_BE, 2, 44100, 16), s8, 4);
  EXPECT_EQ(bad.OpenResult, ACMERR_NOTPOSSIBLE);
}
