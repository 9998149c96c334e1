// The MP4 driver (AAC, ALAC), fed by our sample-table reader: ALAC against
// the source samples, AAC against libavcodec's decode of the packets
// libavformat demuxes, trimmed by the delay libavformat reports and the
// source's length.
#include <gtest/gtest.h>

#include <cstdio>

#include "decode/cvACM.h"
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
