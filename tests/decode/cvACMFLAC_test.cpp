// The FLAC driver against the samples the fixtures were encoded from and
// against FFmpeg's own FLAC decoder.
#include <gtest/gtest.h>

#include "decode/cvACM.h"
#include "tests/decode/CodecFixtures.h"
#include "tests/decode/RefDecode.h"

using namespace cv;
using namespace cvtest;

namespace {

TRun DecodeFlac(const std::vector<uint8_t>& bytes, size_t block, const TFormatBlock& dst = CDFormat()) {
  return RunStream(CodecFormat(WAVE_FORMAT_FLAC, 2, 44100), dst, bytes, block);
}

// tone.flac with a metadata block of `size` bytes of padding put in front of
// STREAMINFO's successor (STREAMINFO then is no longer the last block).
std::vector<uint8_t> WithPadding(std::vector<uint8_t> flac, uint32_t size) {
  const size_t at = 4 + 4 + 34;  // fLaC, STREAMINFO header and body
  const bool last = flac[4] & 0x80;
  flac[4] &= 0x7F;
  std::vector<uint8_t> block = {uint8_t((last ? 0x80 : 0) | 1), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
  block.resize(4 + size, 0);
  flac.insert(flac.begin() + at, block.begin(), block.end());
  return flac;
}

}  // namespace

TEST(FLACDriver, DecodesBitIdenticalToTheSourceSamples) {
  const auto flac = ReadFile(CodecFixture("tone.flac"));
  TRun run = DecodeFlac(flac, 2048);
  ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
  EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR);
  const auto source = SourcePcm();
  ASSERT_EQ(source.size(), kSourceFrames * 4);
  EXPECT_EQ(run.Out.size(), source.size());
  EXPECT_TRUE(run.Out == source);
}

TEST(FLACDriver, OutputDoesNotDependOnBlockSizeOrSkippedMetadata) {
  const auto flac = ReadFile(CodecFixture("tone.flac"));
  const uint64_t expected = Hash(SourcePcm());
  for (size_t block : {size_t(1), size_t(7), size_t(1000), size_t(65536), flac.size()})
    EXPECT_EQ(Hash(DecodeFlac(flac, block).Out), expected) << "block " << block;
  // A large block (a picture, say) before the audio is stepped over, never
  // held; also behind an ID3v2 tag.
  auto padded = WithPadding(flac, 3u << 20);
  EXPECT_EQ(Hash(DecodeFlac(padded, 2048).Out), expected);
  std::vector<uint8_t> tagged = {'I', 'D', '3', 4, 0, 0, 0, 0, 1, 0};  // 128 bytes of tag body
  tagged.resize(10 + 128, 0);
  tagged.insert(tagged.end(), flac.begin(), flac.end());
  EXPECT_EQ(Hash(DecodeFlac(tagged, 2048).Out), expected);
}

TEST(FLACDriver, TwoStagesFromMono24BitEqualFFmpegsDecode) {
  const std::string path = CodecFixture("mono22k_24.flac");
  int rate = 0, channels = 0;
  const auto ref = FFmpegDecodeAll(path, &rate, &channels);
  ASSERT_EQ(rate, 22050);
  ASSERT_EQ(channels, 1);
  ASSERT_EQ(ref.size(), kSourceFrames / 2);
  // The first stage, as the decoder opens it: 32-bit samples at the source's
  // own rate and channel count; FFmpeg's samples are the same integers.
  TFormatBlock src = CodecFormat(WAVE_FORMAT_FLAC, 1, 22050);
  TRun first = RunStream(src, TFormatBlock::Pcm(WAVE_FORMAT_PCM, 1, 22050, 32), ReadFile(path), 2048);
  ASSERT_EQ(first.OpenResult, MMSYSERR_NOERROR);
  ASSERT_EQ(first.Out.size(), ref.size() * 4);
  size_t differ = 0;
  for (size_t i = 0; i < ref.size(); ++i) {
    int32_t v;
    std::memcpy(&v, first.Out.data() + i * 4, 4);
    differ += float(double(v) * (1.0 / 2147483648.0)) != ref[i];
  }
  EXPECT_EQ(differ, 0u);
  // Straight to CD PCM the one-stage open is refused (another rate).
  EXPECT_EQ(RunStream(src, CDFormat(), ReadFile(path), 2048).OpenResult, ACMERR_NOTPOSSIBLE);
}

TEST(FLACDriver, DamagedAndForeignInput) {
  auto flac = ReadFile(CodecFixture("tone.flac"));
  // Garbage and a file of another kind: nothing, and "not possible".
  std::vector<uint8_t> garbage(50000);
  uint32_t x = 12345;
  for (auto& b : garbage) b = uint8_t((x = x * 1103515245 + 12345) >> 16);
  TRun g = DecodeFlac(garbage, 2048);
  EXPECT_TRUE(g.Out.empty());
  EXPECT_EQ(g.EndResult, ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(DecodeFlac(ReadFile(CodecFixture("source.wav")), 2048).EndResult, ACMERR_NOTPOSSIBLE);
  // Damage in the audio (the last 12 KB of the file; 8 KB of padding come
  // before): libFLAC gives the frame it hits as silence (its header still
  // tells its length) or drops it; the rest decodes, whatever the block size.
  for (size_t i = flac.size() - 6000; i < flac.size() - 5500; ++i) flac[i] ^= uint8_t(i * 7);
  TRun d1 = DecodeFlac(flac, 1000), d2 = DecodeFlac(flac, flac.size());
  EXPECT_EQ(d1.EndResult, MMSYSERR_NOERROR);
  EXPECT_GT(d1.Out.size(), SourcePcm().size() / 3);
  EXPECT_LE(d1.Out.size(), SourcePcm().size());
  EXPECT_NE(Hash(d1.Out), Hash(SourcePcm()));
  EXPECT_EQ(Hash(d1.Out), Hash(d2.Out));
  // Cut short: the whole frames before the cut decode to the source's first
  // samples.
  flac = ReadFile(CodecFixture("tone.flac"));
  ASSERT_GT(flac.size(), 4000u);
  flac.erase(flac.end() - 4000, flac.end());
  TRun cut = DecodeFlac(flac, 2048);
  const auto source = SourcePcm();
  EXPECT_GT(cut.Out.size(), source.size() / 3);
  EXPECT_LT(cut.Out.size(), source.size());
  EXPECT_TRUE(std::equal(cut.Out.begin(), cut.Out.end(), source.begin()));
}
