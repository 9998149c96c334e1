// The MP4 driver (AAC, ALAC), fed by our sample-table reader: ALAC against
// the source samples, AAC against libavcodec's decode of the packets
// libavformat demuxes, trimmed by the delay libavformat reports and the
// source's length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "decode/cvACM.h"
#include "decode/cvACMPCM.h"
#include "decode/cvMP4Source.h"
#include "formats/cvMP4File.h"
#include "tests/decode/CodecFixtures.h"
#include "tests/decode/RefDecode.h"

using namespace cv;
using namespace cvtest;

namespace {

// The track's samples as the decoder feeds them, and its source format.
struct TTrack {
  TMP4File Reader;
  std::vector<uint8_t> Stream;
  std::unique_ptr<TFormatBlock> Format;
};

TTrack Track(const std::string& name) {
  TTrack t;
  const std::string path = CodecFixture(name);
  EXPECT_TRUE(t.Reader.ReadFileInfo(path));
  EXPECT_TRUE(t.Reader.Valid) << name;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  TMP4Source source(t.Reader, f);
  t.Stream.resize(source.Size());
  EXPECT_EQ(source.Read(t.Stream.data(), t.Stream.size()), t.Stream.size());
  uint8_t more;
  EXPECT_EQ(source.Read(&more, 1), 0u);
  std::fclose(f);
  t.Format = MP4SourceFormat(t.Reader, 0);
  return t;
}

}  // namespace

TEST(MP4Driver, AlacDecodesBitIdenticalToTheSourceSamples) {
  TTrack t = Track("tone-alac.m4a");
  EXPECT_EQ(t.Format->wFormatTag(), WAVE_FORMAT_ALAC);
  const auto source = SourcePcm();
  for (size_t block : {size_t(1), size_t(2048), t.Stream.size()}) {
    TRun run = RunStream(*t.Format, CDFormat(), t.Stream, block);
    ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.Out.size(), source.size()) << "block " << block;
    EXPECT_TRUE(run.Out == source) << "block " << block;
  }
}

TEST(MP4Driver, AacEqualsLibavcodecWithTheSameTrims) {
  // The edit list (ffmpeg's encoder) and iTunSMPB (no edit list) carry the
  // same delay and length.
  for (const char* name : {"tone-aac.m4a", "tone-aac-smpb.m4a"}) {
    TTrack t = Track(name);
    EXPECT_EQ(t.Format->wFormatTag(), WAVE_FORMAT_AAC);
    int rate = 0, channels = 0;
    int64_t delay = 0;
    const auto ref = FFmpegDecodeAll(CodecFixture(name), &rate, &channels, &delay);
    ASSERT_EQ(rate, 44100);
    ASSERT_EQ(channels, 2);
    // libavformat reads the delay from the edit list, or from iTunSMPB.
    ASSERT_EQ(delay, 1024) << name;
    ASSERT_GE(ref.size() / 2, size_t(delay) + kSourceFrames);
    const auto expected = FloatBytes(ref, size_t(delay) * 2, kSourceFrames * 2);
    for (size_t block : {size_t(2048), size_t(13), t.Stream.size()}) {
      TRun run = RunStream(*t.Format, FloatFormat(2, 44100), t.Stream, block);
      ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR) << name;
      EXPECT_EQ(run.Out.size(), expected.size()) << name << " block " << block;
      EXPECT_TRUE(run.Out == expected) << name << " block " << block;
    }
    // Straight to CD PCM: the same samples rounded to 16 bits.
    TRun cd = RunStream(*t.Format, CDFormat(), t.Stream, 2048);
    EXPECT_TRUE(cd.Out == S16Bytes(ref, size_t(delay) * 2, kSourceFrames * 2)) << name;
  }
}

TEST(MP4Driver, MonoAacAtAnotherRateTakesTwoStages) {
  TTrack t = Track("mono22k-aac.m4a");
  EXPECT_EQ(RunStream(*t.Format, CDFormat(), t.Stream, 2048).OpenResult, ACMERR_NOTPOSSIBLE);
  int64_t delay = 0;
  const auto ref = FFmpegDecodeAll(CodecFixture("mono22k-aac.m4a"), nullptr, nullptr, &delay);
  EXPECT_EQ(delay, 1024);
  TRun first = RunStream(*t.Format, FloatFormat(1, 22050), t.Stream, 2048);
  ASSERT_EQ(first.OpenResult, MMSYSERR_NOERROR);
  EXPECT_TRUE(first.Out == FloatBytes(ref, size_t(delay), kSourceFrames / 2));
}

TEST(MP4Driver, ImplicitSbrIsTrimmedInTheFramesTheDecoderGives) {
  // HE-AAC whose configuration says only AAC-LC at 22.05 kHz: the decoder
  // finds SBR in the stream and gives 44.1 kHz, 2048 frames per access unit.
  // The delay and the length are times, whether the track counts them at
  // 22.05 kHz (1024 and 8104 units) or at 44.1 kHz (2048 and 16208): 2048
  // and 16208 of the frames the decoder gives.
  struct TCase {
    const char* Name;
    uint32_t TimeScale;
    uint64_t Delay, Length;
  };
  for (const TCase& c : {TCase{"implicit-sbr.m4a", 22050, 1024, 8104}, TCase{"implicit-sbr-44k.m4a", 44100, 2048, 16208}}) {
    TTrack t = Track(c.Name);
    ASSERT_EQ(t.Format->wFormatTag(), WAVE_FORMAT_AAC);
    ASSERT_EQ(t.Reader.SampleRate, 22050u) << c.Name;  // all the headers tell
    ASSERT_EQ(t.Reader.TimeScale, c.TimeScale) << c.Name;
    ASSERT_EQ(t.Reader.EncoderDelay, c.Delay) << c.Name;
    ASSERT_EQ(t.Reader.PlayableUnits, c.Length) << c.Name;
    int rate = 0, channels = 0;
    const auto ref = FFmpegDecodeAll(CodecFixture(c.Name), &rate, &channels);
    ASSERT_EQ(rate, 44100) << c.Name;
    ASSERT_EQ(channels, 2);
    ASSERT_EQ(ref.size(), t.Reader.SampleSizes.size() * 2048 * 2) << c.Name;
    ASSERT_GE(ref.size() / 2, 2048 + kSourceFrames);
    // The driver decodes to the rate the headers give: libavcodec's frames
    // 2048 to 2048 + 16208, through the converter to 22.05 kHz.
    TPCMConverter conv(TPcmShape{TSampleType::F32, 2, 22050});
    conv.Write(reinterpret_cast<const uint8_t*>(ref.data() + 2048 * 2), kSourceFrames,
               TPcmShape{TSampleType::F32, 2, 44100});
    conv.Finish();
    std::vector<uint8_t> expected(conv.Output().Size());
    expected.resize(conv.Output().Take(expected.data(), expected.size(), 8));
    ASSERT_EQ(expected.size(), kSourceFrames / 2 * 8);
    for (size_t block : {size_t(2048), size_t(13), t.Stream.size()}) {
      TRun run = RunStream(*t.Format, FloatFormat(2, 22050), t.Stream, block);
      ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR) << c.Name;
      EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR) << c.Name;
      ASSERT_EQ(run.Out.size(), expected.size()) << c.Name << " block " << block;
      const auto got = AsFloats(run.Out), want = AsFloats(expected);
      float worst = 0;
      for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::fabs(got[i] - want[i]));
      EXPECT_LT(worst, 1e-4f) << c.Name << " block " << block;
    }
  }
}

TEST(MP4Driver, AnnouncedSbrDecodesAtTheOutputRateTrimmedInItsFrames) {
  // SBR announced in the configuration: the header rate is 44.1 kHz, the
  // track counts in 22.05 kHz units (delay 1024, length 8104). libavcodec's
  // own frames 2048 to 2048 + 16208, unchanged.
  TTrack t = Track("explicit-sbr.m4a");
  ASSERT_EQ(t.Format->nSamplesPerSec(), 44100u);
  ASSERT_EQ(t.Reader.TimeScale, 22050u);
  int rate = 0, channels = 0;
  const auto ref = FFmpegDecodeAll(CodecFixture("explicit-sbr.m4a"), &rate, &channels);
  ASSERT_EQ(rate, 44100);
  ASSERT_EQ(channels, 2);
  ASSERT_GE(ref.size() / 2, 2048 + kSourceFrames);
  const auto expected = FloatBytes(ref, 2048 * 2, kSourceFrames * 2);
  for (size_t block : {size_t(2048), size_t(13), t.Stream.size()}) {
    TRun run = RunStream(*t.Format, FloatFormat(2, 44100), t.Stream, block);
    ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.Out.size(), expected.size()) << "block " << block;
    EXPECT_TRUE(run.Out == expected) << "block " << block;
  }
}

TEST(MP4Driver, BrokenFramingAndGarbage) {
  TTrack t = Track("tone-aac.m4a");
  // A length beyond any sample: the rest is ignored, what came before stays.
  auto stream = t.Stream;
  std::vector<uint8_t> huge = {0x7F, 0xFF, 0xFF, 0xFF};
  stream.insert(stream.begin() + std::ptrdiff_t(stream.size() / 2), huge.begin(), huge.end());
  TRun broken = RunStream(*t.Format, FloatFormat(2, 44100), stream, 2048);
  EXPECT_GT(broken.Out.size(), 0u);
  EXPECT_LT(broken.Out.size(), kSourceFrames * 8);
  // Samples of garbage: no output, "not possible", no crash.
  std::vector<uint8_t> garbage;
  uint32_t x = 99;
  for (int i = 0; i < 200; ++i) {
    garbage.insert(garbage.end(), {0, 0, 1, 0});
    for (int k = 0; k < 256; ++k) garbage.push_back(uint8_t((x = x * 1103515245 + 12345) >> 16));
  }
  TRun g = RunStream(*t.Format, FloatFormat(2, 44100), garbage, 2048);
  EXPECT_EQ(g.OpenResult, MMSYSERR_NOERROR);
  // A format block without the extra bytes is refused at open.
  TFormatBlock bare = CodecFormat(WAVE_FORMAT_AAC, 2, 44100);
  EXPECT_EQ(RunStream(bare, CDFormat(), t.Stream, 2048).OpenResult, ACMERR_NOTPOSSIBLE);
}
