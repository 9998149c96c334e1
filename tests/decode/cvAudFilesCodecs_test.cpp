// The decoder (TAudioFile) on the fixtures of the later codecs: the WAVE
// codecs through the WAV kind, and an MP3 whose header reader guessed
// another format than its stream has.
#include <gtest/gtest.h>
#include <mpg123.h>

#include "decode/cvAudFiles.h"
#include "tests/decode/CodecFixtures.h"

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
