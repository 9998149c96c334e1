// The decoder (TAudioFile) on the fixtures of the later codecs: the WAVE
// codecs through the WAV kind, and an MP3 whose header reader guessed
// another format than its stream has.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <opus_multistream.h>

#include "decode/cvACMPCM.h"
#include "decode/cvAudFiles.h"
#include "tests/decode/CodecFixtures.h"
#include "tests/decode/RefDecode.h"

using namespace cv;
using namespace cvtest;

namespace {

struct TDecodeResult {
  bool Prepared = false;
  bool TwoStage = false;
  std::vector<uint8_t> Pcm;
  uint32_t Measured = 0;  // LengthSectors from CalcLength on another object
};

TDecodeResult Decode(const std::string& path) {
  TDecodeResult r;
  {
    TAudioFile f(path);
    r.Prepared = f.PrepareDecoding();
    r.TwoStage = f.TwoStage;
    for (int calls = 0; r.Prepared && calls < 1000000; ++calls) {
      int32_t n = f.DecodeBlock();
      r.Pcm.insert(r.Pcm.end(), f.OutputBuffer.begin(), f.OutputBuffer.begin() + f.OutputLength);
      if (n == -1) break;
    }
  }
  TAudioFile m(path);
  m.CalcLength();
  r.Measured = m.LengthSectors;
  return r;
}

uint32_t Sectors(size_t bytes) { return uint32_t((bytes + 2351) / 2352); }

// libmpg123 reading the file itself: 16-bit at the stream's own format.
std::vector<uint8_t> Mpg123Decode(const std::string& path, int* channels) {
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  std::vector<uint8_t> out;
  if (mpg123_open(h, path.c_str()) == MPG123_OK) {
    long rate = 0;
    int enc = 0;
    std::vector<uint8_t> buf(65536);
    for (;;) {
      size_t done = 0;
      int r = mpg123_read(h, buf.data(), buf.size(), &done);
      if (r == MPG123_NEW_FORMAT) mpg123_getformat(h, &rate, channels, &enc);
      out.insert(out.end(), buf.begin(), buf.begin() + std::ptrdiff_t(done));
      if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
    }
  }
  mpg123_delete(h);
  return out;
}

}  // namespace

TEST(AudioFileCodecs, MP3DecodesInItsStreamsFormatWhateverTheHeaderReaderGuessed) {
  // The header reader lands on a mono MP3 inside a second ID3v2 tag; the
  // stream behind the tags is joint stereo.
  const std::string path = CodecFixture("stereo-behind-mono-tag.mp3");
  TAudioFile probe(path);
  ASSERT_EQ(probe.FileKind, afMP3);
  EXPECT_EQ(probe.MP3File->ChannelCount(), 1);
  int channels = 0;
  const auto reference = Mpg123Decode(path, &channels);
  ASSERT_EQ(channels, 2);
  ASSERT_GT(reference.size(), 40000u);
  TDecodeResult d = Decode(path);
  ASSERT_TRUE(d.Prepared);
  EXPECT_FALSE(d.TwoStage);  // stereo at 44.1 kHz: straight to CD PCM
  EXPECT_EQ(d.Pcm.size(), reference.size());
  EXPECT_TRUE(d.Pcm == reference);  // not a mono mix: both channels as decoded
  EXPECT_EQ(d.Measured, Sectors(d.Pcm.size()));
}

TEST(AudioFileCodecs, EveryWaveCodecDecodesThroughTheWavKind) {
  struct TCase {
    const char* Name;
    size_t Frames;  // at the file's rate, as the encoder wrote them
    uint32_t Rate;
  };
  // Block codecs end on a whole block: sox pads the last one.
  for (TCase c : {TCase{"ima_adpcm.wav", 8585, 22050}, TCase{"ms_adpcm.wav", 16288, 44100},
                  TCase{"alaw.wav", 16208, 44100}, TCase{"mulaw.wav", 8104, 22050}, TCase{"gsm610.wav", 3200, 8000}}) {
    const std::string path = CodecFixture(c.Name);
    TAudioFile probe(path);
    ASSERT_EQ(probe.FileKind, afWAV) << c.Name;
    TDecodeResult d = Decode(path);
    ASSERT_TRUE(d.Prepared) << c.Name;
    EXPECT_EQ(d.TwoStage, c.Rate != 44100 || probe.WAVFile->ChannelCount != 2) << c.Name;
    const double expected = double(c.Frames) * 44100 / c.Rate;
    EXPECT_NEAR(double(d.Pcm.size() / 4), expected, 1.0) << c.Name;
    EXPECT_EQ(d.Measured, Sectors(d.Pcm.size())) << c.Name;
  }
  // The old fixture of the WAV reader tests, too.
  TDecodeResult old = Decode(std::string(CORVID_FIXTURES_DIR) + "/wav/adpcm_mono_22k.wav");
  ASSERT_TRUE(old.Prepared);
  EXPECT_GT(old.Pcm.size(), 0u);
  EXPECT_EQ(old.Measured, Sectors(old.Pcm.size()));
}

TEST(AudioFileCodecs, M4AIsIdentifiedByItsFtypAndDecodesExactly) {
  for (const char* name : {"tone-alac.m4a", "tone-aac.m4a", "tone-aac-smpb.m4a", "mono22k-aac.m4a",
                           "implicit-sbr.m4a", "implicit-sbr-44k.m4a", "explicit-sbr.m4a"}) {
    TAudioFile f(CodecFixture(name));
    EXPECT_EQ(f.FileKind, afM4A) << name;
    EXPECT_TRUE(HasKind(f.SupportedKinds, afM4A)) << name;
    EXPECT_EQ(f.WMAFile, nullptr) << name;  // no other reader was needed
  }
  // ALAC: the source samples bit for bit.
  TDecodeResult alac = Decode(CodecFixture("tone-alac.m4a"));
  ASSERT_TRUE(alac.Prepared);
  EXPECT_FALSE(alac.TwoStage);
  EXPECT_TRUE(alac.Pcm == SourcePcm());
  // AAC trimmed by its edit list or by iTunSMPB: the 16208 source frames.
  for (const char* name : {"tone-aac.m4a", "tone-aac-smpb.m4a"}) {
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_FALSE(d.TwoStage) << name;
    EXPECT_EQ(d.Pcm.size(), kSourceFrames * 4) << name;
    TAudioFile f(CodecFixture(name));
    EXPECT_EQ(f.EstimatedLength, Sectors(d.Pcm.size())) << name;  // the reader's exact length
  }
  // Mono 22.05 kHz AAC: two stages, 8104 frames become 16208.
  TDecodeResult m = Decode(CodecFixture("mono22k-aac.m4a"));
  ASSERT_TRUE(m.Prepared);
  EXPECT_TRUE(m.TwoStage);
  EXPECT_EQ(m.Pcm.size(), 2 * 8104 * 4u);
  // HE-AAC with SBR found only in the stream (the headers say 22.05 kHz, the
  // decoder gives 44.1): trimmed in the decoder's frames, the 16208 frames
  // of the source, whether the track counts at 22.05 or at 44.1 kHz.
  for (const char* name : {"implicit-sbr.m4a", "implicit-sbr-44k.m4a"}) {
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_TRUE(d.TwoStage) << name;
    EXPECT_EQ(d.Pcm.size(), kSourceFrames * 4) << name;
    EXPECT_EQ(d.Measured, Sectors(d.Pcm.size())) << name;
  }
}

TEST(AudioFileCodecs, AacThroughTheDecoderEqualsLibavcodecWithTheSameTrims) {
  for (const char* name : {"tone-aac.m4a", "tone-aac-smpb.m4a"}) {
    int64_t delay = 0;
    const auto ref = FFmpegDecodeAll(CodecFixture(name), nullptr, nullptr, &delay);
    ASSERT_EQ(delay, 1024) << name;
    ASSERT_GE(ref.size() / 2, size_t(delay) + kSourceFrames) << name;
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_TRUE(d.Pcm == S16Bytes(ref, size_t(delay) * 2, kSourceFrames * 2)) << name;
  }
}

TEST(AudioFileCodecs, AnnouncedSbrDecodesInOneStageAtTheOutputRate) {
  // HE-AAC whose configuration announces SBR at 44.1 kHz: one stage, the
  // whole band, libavcodec's samples after the delay (1024 units of the
  // track's 22.05 kHz: 2048 frames).
  const std::string path = CodecFixture("explicit-sbr.m4a");
  TAudioFile f(path);
  EXPECT_EQ(f.FileKind, afM4A);
  const auto ref = FFmpegDecodeAll(path);
  TDecodeResult d = Decode(path);
  ASSERT_TRUE(d.Prepared);
  EXPECT_FALSE(d.TwoStage);
  EXPECT_TRUE(d.Pcm == S16Bytes(ref, 2048 * 2, kSourceFrames * 2));
  EXPECT_EQ(d.Measured, Sectors(d.Pcm.size()));
}

TEST(AudioFileCodecs, FlacAndAiffDecodeToTheSourceSamplesBitForBit) {
  // 44.1 kHz 16-bit stereo FLAC, AIFF (big-endian 16-bit) and AIFF-C
  // (big-endian 24-bit holding the same samples): one stage, the samples.
  for (const char* name : {"tone.flac", "tone.aiff", "tone24.aifc"}) {
    TAudioFile f(CodecFixture(name));
    EXPECT_EQ(f.FileKind, std::string(name).ends_with(".flac") ? afFLAC : afAIFF) << name;
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_FALSE(d.TwoStage) << name;
    EXPECT_EQ(d.Pcm.size(), kSourceFrames * 4) << name;
    EXPECT_TRUE(d.Pcm == SourcePcm()) << name;
    EXPECT_EQ(d.Measured, Sectors(d.Pcm.size())) << name;
  }
  // 22.05 kHz mono 24-bit FLAC: two stages, the length doubled.
  TDecodeResult m = Decode(CodecFixture("mono22k_24.flac"));
  ASSERT_TRUE(m.Prepared);
  EXPECT_TRUE(m.TwoStage);
  EXPECT_EQ(m.Pcm.size(), 2 * 8104 * 4u);
  // HE-AAC with SBR found only in the stream (the headers say 22.05 kHz, the
  // decoder gives 44.1): trimmed in the decoder's frames, the 16208 frames
  // of the source, whether the track counts at 22.05 or at 44.1 kHz.
  for (const char* name : {"implicit-sbr.m4a", "implicit-sbr-44k.m4a"}) {
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_TRUE(d.TwoStage) << name;
    EXPECT_EQ(d.Pcm.size(), kSourceFrames * 4) << name;
    EXPECT_EQ(d.Measured, Sectors(d.Pcm.size())) << name;
  }
}

// libopus' own decode of the file's packets (demuxed by libavformat) at
// 48 kHz, the pre-skip and the end trimmed as the headers say.
std::vector<float> LibopusTrimmed(const std::string& path, int* channels) {
  TRefStream s = DemuxFirstAudio(path);
  if (s.Extra.size() < 19) return {};
  const int ch = s.Extra[9];
  const int preSkip = s.Extra[10] | (s.Extra[11] << 8);
  const auto gain = int16_t(s.Extra[16] | (s.Extra[17] << 8));
  unsigned char mapping[2] = {0, 1};
  int error = 0;
  OpusMSDecoder* dec = opus_multistream_decoder_create(48000, ch, 1, ch - 1, mapping, &error);
  opus_multistream_decoder_ctl(dec, OPUS_SET_GAIN(gain));
  std::vector<float> all, pcm(5760 * size_t(ch));
  for (const auto& p : s.Packets) {
    int n = opus_multistream_decode_float(dec, p.data(), opus_int32(p.size()), pcm.data(), 5760, 0);
    if (n > 0) all.insert(all.end(), pcm.begin(), pcm.begin() + n * ch);
  }
  opus_multistream_decoder_destroy(dec);
  const int64_t granule = LastGranule(ReadFile(path));
  const size_t first = size_t(preSkip) * size_t(ch);
  const size_t count = size_t(granule - preSkip) * size_t(ch);
  if (granule <= preSkip || first + count > all.size()) return {};
  *channels = ch;
  return {all.begin() + std::ptrdiff_t(first), all.begin() + std::ptrdiff_t(first + count)};
}

TEST(AudioFileCodecs, OpusThroughTheDecoderIsLibopusResampledByTheConverter) {
  for (const char* name : {"tone.opus", "mono.opus"}) {
    TAudioFile f(CodecFixture(name));
    ASSERT_EQ(f.FileKind, afOpus) << name;
    int ch = 0;
    const std::vector<float> ref = LibopusTrimmed(CodecFixture(name), &ch);
    ASSERT_FALSE(ref.empty()) << name;
    // The reference through the converter that the decoder's second stage is.
    TPCMConverter conv(TPcmShape{TSampleType::S16, 2, 44100});
    conv.Write(reinterpret_cast<const uint8_t*>(ref.data()), ref.size() / size_t(ch),
               TPcmShape{TSampleType::F32, uint16_t(ch), 48000});
    conv.Finish();
    std::vector<uint8_t> expected(conv.Output().Size());
    conv.Output().Take(expected.data(), expected.size(), 4);
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_TRUE(d.TwoStage) << name;
    EXPECT_EQ(d.Pcm.size(), expected.size()) << name;
    EXPECT_TRUE(d.Pcm == expected) << name;
    EXPECT_EQ(d.Measured, Sectors(d.Pcm.size())) << name;
  }
}

TEST(AudioFileCodecs, AnMP4WithoutADecodableTrackIsNone) {
  // ftyp and an empty movie: not audio we can decode, and no other reader
  // gets to find a chance MP3 frame in it.
  const std::string path = ::testing::TempDir() + "/codecs_empty_movie.mp4";
  std::vector<uint8_t> bytes = {0, 0, 0, 16, 'f', 't', 'y', 'p', 'i', 's', 'o', 'm', 0, 0, 2, 0,
                                0, 0, 0, 8,  'm', 'o', 'o', 'v'};
  // A run of MPEG frame headers after it.
  for (int i = 0; i < 200; ++i) bytes.insert(bytes.end(), {0xFF, 0xFB, 0x90, 0x64});
  WriteFile(path, bytes);
  TAudioFile f(path);
  EXPECT_EQ(f.FileKind, afNone);
  EXPECT_EQ(f.MP3File, nullptr);
}

TEST(AudioFileCodecs, MeasuredLengthIsTheDecodedLengthForEveryFixture) {
  for (const char* name : {"tone-alac.m4a", "tone-aac.m4a", "tone-aac-smpb.m4a", "mono22k-aac.m4a",
                           "tone.flac", "mono22k_24.flac", "tone.opus", "mono.opus", "tone.aiff", "tone24.aifc",
                           "ima_adpcm.wav", "ms_adpcm.wav", "alaw.wav", "mulaw.wav", "gsm610.wav", "source.wav",
                           "stereo-behind-mono-tag.mp3"}) {
    TDecodeResult d = Decode(CodecFixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_GT(d.Pcm.size(), 0u) << name;
    EXPECT_EQ(d.Measured, Sectors(d.Pcm.size())) << name;
  }
}
