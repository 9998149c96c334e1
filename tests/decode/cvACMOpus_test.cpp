// The Ogg Opus driver against libopus' own decode of the same packets
// (demuxed by libavformat), trimmed as the stream's headers say.
#include <gtest/gtest.h>
#include <opus_multistream.h>

#include "decode/cvACM.h"
#include "tests/decode/CodecFixtures.h"
#include "tests/decode/RefDecode.h"

using namespace cv;
using namespace cvtest;

namespace {

struct TOpusRef {
  int Channels = 0;
  int PreSkip = 0;
  std::vector<float> Samples;  // all of them, interleaved, untrimmed
};

TOpusRef LibopusDecode(const std::string& path) {
  TOpusRef r;
  TRefStream s = DemuxFirstAudio(path);
  if (s.Extra.size() < 19) return r;
  r.Channels = s.Extra[9];
  r.PreSkip = s.Extra[10] | (s.Extra[11] << 8);
  const auto gain = int16_t(s.Extra[16] | (s.Extra[17] << 8));
  unsigned char mapping[2] = {0, 1};
  int error = 0;
  OpusMSDecoder* d = opus_multistream_decoder_create(48000, r.Channels, 1, r.Channels - 1, mapping, &error);
  opus_multistream_decoder_ctl(d, OPUS_SET_GAIN(gain));
  std::vector<float> pcm(5760 * size_t(r.Channels));
  for (const auto& p : s.Packets) {
    int n = opus_multistream_decode_float(d, p.data(), opus_int32(p.size()), pcm.data(), 5760, 0);
    if (n > 0) r.Samples.insert(r.Samples.end(), pcm.begin(), pcm.begin() + n * r.Channels);
  }
  opus_multistream_decoder_destroy(d);
  return r;
}

}  // namespace

TEST(OpusDriver, EqualsLibopusDecodeWithPreSkipAndEndTrimmed) {
  for (const char* name : {"tone.opus", "mono.opus"}) {
    const std::string path = CodecFixture(name);
    const auto file = ReadFile(path);
    TOpusRef ref = LibopusDecode(path);
    ASSERT_GT(ref.Channels, 0) << name;
    const int64_t granule = LastGranule(file);
    ASSERT_GT(granule, ref.PreSkip) << name;
    const size_t frames = size_t(granule - ref.PreSkip);
    ASSERT_LT(frames + size_t(ref.PreSkip), ref.Samples.size() / size_t(ref.Channels) + 1) << name;
    const auto expected = FloatBytes(ref.Samples, size_t(ref.PreSkip) * ref.Channels, frames * ref.Channels);

    const uint16_t ch = uint16_t(ref.Channels);
    TRun run = RunStream(CodecFormat(WAVE_FORMAT_OPUS, ch, 48000), FloatFormat(ch, 48000), file, 2048);
    ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR) << name;
    EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR) << name;
    EXPECT_EQ(run.Out.size(), frames * 4 * ch) << name;
    EXPECT_TRUE(run.Out == expected) << name;
    for (size_t block : {size_t(1), size_t(333), file.size()})
      EXPECT_EQ(Hash(RunStream(CodecFormat(WAVE_FORMAT_OPUS, ch, 48000), FloatFormat(ch, 48000), file, block).Out),
                Hash(expected))
          << name << " block " << block;
  }
}

TEST(OpusDriver, TwoStagesGiveCDPcmOfTheResampledLength) {
  const auto file = ReadFile(CodecFixture("tone.opus"));
  TFormatBlock src = CodecFormat(WAVE_FORMAT_OPUS, 2, 48000);
  EXPECT_EQ(RunStream(src, CDFormat(), file, 2048).OpenResult, ACMERR_NOTPOSSIBLE);
  TFormatBlock mid(64);
  mid.SetFormatTag(WAVE_FORMAT_PCM);
  ASSERT_EQ(acmFormatSuggest(nullptr, src, mid, 64, ACM_FORMATSUGGESTF_WFORMATTAG), MMSYSERR_NOERROR);
  TRun a = RunStream(src, mid, file, 2048);
  TRun b = RunStream(mid, CDFormat(), a.Out, 4096);
  const double frames48 = double(a.Out.size() / 8);
  EXPECT_NEAR(double(b.Out.size() / 4), std::round(frames48 * 44100 / 48000), 1.0);
  // opusenc kept the source's length: 16208 frames at 44.1 kHz.
  EXPECT_NEAR(double(b.Out.size() / 4), double(kSourceFrames), 1.0);
}

TEST(OpusDriver, ForeignAndDamagedInput) {
  // Ogg Vorbis is not Opus.
  TRun v = RunStream(CodecFormat(WAVE_FORMAT_OPUS, 2, 48000), FloatFormat(2, 48000),
                     ReadFile(Fixture("ogg_44100_2.ogg")), 2048);
  EXPECT_TRUE(v.Out.empty());
  EXPECT_EQ(v.EndResult, ACMERR_NOTPOSSIBLE);
  // The fixture is one audio page: damage in it costs that page (its
  // checksum fails), a cut file ends early; neither crashes, the headers
  // still count as Opus, and the result does not depend on the block size.
  const auto whole = ReadFile(CodecFixture("tone.opus"));
  auto file = whole;
  for (size_t i = file.size() / 2; i < file.size() / 2 + 500; ++i) file[i] ^= 0x5A;
  TRun d1 = RunStream(CodecFormat(WAVE_FORMAT_OPUS, 2, 48000), FloatFormat(2, 48000), file, 1000);
  TRun d2 = RunStream(CodecFormat(WAVE_FORMAT_OPUS, 2, 48000), FloatFormat(2, 48000), file, file.size());
  EXPECT_EQ(d1.EndResult, MMSYSERR_NOERROR);
  EXPECT_EQ(Hash(d1.Out), Hash(d2.Out));
  EXPECT_LT(d1.Out.size(), kSourceFrames * 8);
  file.assign(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() * 2 / 3));
  TRun cut = RunStream(CodecFormat(WAVE_FORMAT_OPUS, 2, 48000), FloatFormat(2, 48000), file, 2048);
  EXPECT_EQ(cut.EndResult, MMSYSERR_NOERROR);
  EXPECT_LT(cut.Out.size(), kSourceFrames * 8);
}
