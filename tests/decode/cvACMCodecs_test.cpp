// The codec drivers on real encoder output, against the libraries' own
// whole-file decodes: libmpg123 (file mode), libvorbisfile, and FFmpeg's
// ASF demuxer with its WMA decoders.
#include <gtest/gtest.h>
#include <mpg123.h>
#include <vorbis/vorbisfile.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>
#include <cstring>

#include "decode/cvACM.h"
#include "tests/decode/DecodeTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

// libmpg123 reading the file itself, 16-bit, native rate and channels.
std::vector<uint8_t> Mpg123Reference(const std::string& path, long* rate, int* channels) {
  mpg123_handle* h = mpg123_new(nullptr, nullptr);
  mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  mpg123_format_none(h);
  const long* rates;
  size_t n;
  mpg123_rates(&rates, &n);
  for (size_t i = 0; i < n; ++i) mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
  std::vector<uint8_t> out;
  if (mpg123_open(h, path.c_str()) == MPG123_OK) {
    int enc;
    mpg123_getformat(h, rate, channels, &enc);
    std::vector<uint8_t> buf(65536);
    for (;;) {
      size_t done = 0;
      int r = mpg123_read(h, buf.data(), buf.size(), &done);
      out.insert(out.end(), buf.begin(), buf.begin() + std::ptrdiff_t(done));
      if (r != MPG123_OK && r != MPG123_NEW_FORMAT) break;
    }
  }
  mpg123_delete(h);
  return out;
}

// libvorbisfile's 16-bit little-endian output of the whole file.
std::vector<uint8_t> VorbisReference(const std::string& path, long* rate, int* channels) {
  OggVorbis_File vf;
  std::vector<uint8_t> out;
  if (ov_fopen(path.c_str(), &vf) != 0) return out;
  vorbis_info* vi = ov_info(&vf, -1);
  *rate = vi->rate;
  *channels = vi->channels;
  std::vector<char> buf(65536);
  int section;
  long n;
  while ((n = ov_read(&vf, buf.data(), int(buf.size()), 0, 2, 1, &section)) > 0)
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  ov_clear(&vf);
  return out;
}

// FFmpeg's own decode of the file (libavformat's ASF demuxer), float planar
// rounded to 16 bits as FFmpeg's s16 conversion does.
std::vector<uint8_t> FFmpegReference(const std::string& path) {
  std::vector<uint8_t> out;
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return out;
  avformat_find_stream_info(fmt, nullptr);
  int index = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  const AVCodec* codec = avcodec_find_decoder(fmt->streams[index]->codecpar->codec_id);
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(ctx, fmt->streams[index]->codecpar);
  avcodec_open2(ctx, codec, nullptr);
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(ctx, frame) == 0) {
      int ch = frame->ch_layout.nb_channels;
      for (int i = 0; i < frame->nb_samples; ++i)
        for (int c = 0; c < ch; ++c) {
          float x = reinterpret_cast<const float*>(frame->extended_data[c])[i];
          long v = std::lrintf(x * 32768.0f);
          auto s = uint16_t(int16_t(v > 32767 ? 32767 : v < -32768 ? -32768 : v));
          out.push_back(uint8_t(s));
          out.push_back(uint8_t(s >> 8));
        }
    }
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == index) {
      avcodec_send_packet(ctx, pkt);
      drain();
    }
    av_packet_unref(pkt);
  }
  avcodec_send_packet(ctx, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&ctx);
  avformat_close_input(&fmt);
  return out;
}

TRun Decode(uint16_t tag, const std::string& name, size_t block, uint16_t channels = 2, uint32_t rate = 44100) {
  return RunStream(CodecFormat(tag, channels, rate), CDFormat(), ReadFile(Fixture(name)), block);
}

// Two stages, as the decoder runs them: the codec to 32-bit PCM at the
// source's shape, then the PCM converter to CD PCM.
TRun DecodeTwoStage(uint16_t tag, const std::string& name, uint16_t channels, uint32_t rate, size_t block) {
  TFormatBlock src = CodecFormat(tag, channels, rate);
  TFormatBlock mid(64);
  mid.SetFormatTag(WAVE_FORMAT_PCM);
  EXPECT_EQ(acmFormatSuggest(nullptr, src, mid, 64, ACM_FORMATSUGGESTF_WFORMATTAG), MMSYSERR_NOERROR);
  TRun a = RunStream(src, mid, ReadFile(Fixture(name)), block);
  TRun b = RunStream(mid, CDFormat(), a.Out, 4096);
  b.EndResult = a.EndResult;
  return b;
}

}  // namespace

TEST(MP3Driver, EqualsLibmpg123WholeFileDecode) {
  for (const char* name : {"mp3_44100_2.mp3", "mp3_tiny.mp3"}) {
    long rate = 0;
    int channels = 0;
    auto ref = Mpg123Reference(Fixture(name), &rate, &channels);
    ASSERT_EQ(rate, 44100);
    ASSERT_EQ(channels, 2);
    ASSERT_FALSE(ref.empty());
    auto run = Decode(WAVE_FORMAT_MPEGLAYER3, name, 2048);
    ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.Out.size(), ref.size()) << name;
    EXPECT_EQ(Hash(run.Out), Hash(ref)) << name;
  }
}

TEST(MP3Driver, TinyFileKeepsItsExactSampleCount) {
  // 0.03 s at 44.1 kHz = 1323 frames, encoder delay and padding trimmed.
  auto run = Decode(WAVE_FORMAT_MPEGLAYER3, "mp3_tiny.mp3", 2048);
  EXPECT_EQ(run.Out.size(), 1323u * 4);
}

TEST(MP3Driver, OutputDoesNotDependOnBlockSize) {
  auto whole = Decode(WAVE_FORMAT_MPEGLAYER3, "mp3_44100_2.mp3", 1 << 20);
  for (size_t block : {1u, 7u, 1000u, 2048u})
    EXPECT_EQ(Hash(Decode(WAVE_FORMAT_MPEGLAYER3, "mp3_44100_2.mp3", block).Out), Hash(whole.Out)) << block;
}

TEST(MP3Driver, GarbageYieldsNothingAndNotPossible) {
  std::vector<uint8_t> garbage(50000);
  uint32_t x = 12345;
  for (auto& b : garbage) b = uint8_t((x = x * 1103515245 + 12345) >> 24);
  auto run = RunStream(CodecFormat(0x55, 2, 44100), CDFormat(), garbage, 2048);
  EXPECT_EQ(run.EndResult, ACMERR_NOTPOSSIBLE);
  EXPECT_TRUE(run.Out.empty());
}

TEST(MP3Driver, OtherRatesTakeTwoStagesToTheRightLength) {
  struct Case {
    const char* Name;
    uint16_t Channels;
    uint32_t Rate;
  };
  for (Case c : {Case{"mp3_22050_1.mp3", 1, 22050}, Case{"mp3_32000_2.mp3", 2, 32000},
                 Case{"mp3_48000_2.mp3", 2, 48000}}) {
    long rate = 0;
    int channels = 0;
    auto ref = Mpg123Reference(Fixture(c.Name), &rate, &channels);
    ASSERT_EQ(uint32_t(rate), c.Rate);
    size_t native = ref.size() / (2 * size_t(channels));
    auto run = DecodeTwoStage(0x55, c.Name, c.Channels, c.Rate, 2048);
    double expect = double(native) * 44100.0 / c.Rate;
    EXPECT_NEAR(double(run.Out.size() / 4), expect, 1.0) << c.Name;
    EXPECT_EQ(run.Out.size() % 4, 0u);
  }
}

TEST(MP3Driver, AStreamUnlikeItsHeaderIsStillConverted) {
  // The source format says 44.1 kHz stereo; the file is 22.05 kHz mono.
  auto run = Decode(WAVE_FORMAT_MPEGLAYER3, "mp3_22050_1.mp3", 2048);
  long rate;
  int channels;
  auto ref = Mpg123Reference(Fixture("mp3_22050_1.mp3"), &rate, &channels);
  EXPECT_NEAR(double(run.Out.size() / 4), double(ref.size() / 2) * 2.0, 1.0);
}

TEST(VorbisDriver, EqualsLibvorbisWholeFileDecode) {
  long rate = 0;
  int channels = 0;
  auto ref = VorbisReference(Fixture("ogg_44100_2.ogg"), &rate, &channels);
  ASSERT_EQ(rate, 44100);
  ASSERT_EQ(channels, 2);
  auto run = Decode(WAVE_FORMAT_OGG_VORBIS, "ogg_44100_2.ogg", 2048);
  ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
  EXPECT_EQ(run.Out.size(), ref.size());
  EXPECT_EQ(Hash(run.Out), Hash(ref));
  EXPECT_EQ(run.Out.size(), 88200u * 4);  // 2.0 s, exact
}

TEST(VorbisDriver, OutputDoesNotDependOnBlockSize) {
  auto whole = Decode(WAVE_FORMAT_OGG_VORBIS, "ogg_44100_2.ogg", 1 << 20);
  for (size_t block : {1u, 1000u, 2048u})
    EXPECT_EQ(Hash(Decode(WAVE_FORMAT_OGG_VORBIS, "ogg_44100_2.ogg", block).Out), Hash(whole.Out)) << block;
}

TEST(VorbisDriver, OtherRatesTakeTwoStagesToTheRightLength) {
  struct Case {
    const char* Name;
    uint16_t Channels;
    uint32_t Rate;
  };
  for (Case c : {Case{"ogg_22050_1.ogg", 1, 22050}, Case{"ogg_32000_2.ogg", 2, 32000},
                 Case{"ogg_48000_2.ogg", 2, 48000}}) {
    auto run = DecodeTwoStage(WAVE_FORMAT_OGG_VORBIS, c.Name, c.Channels, c.Rate, 2048);
    EXPECT_NEAR(double(run.Out.size() / 4), 88200.0, 1.0) << c.Name;  // 2.0 s at every rate
  }
}

TEST(VorbisDriver, ChainedStreamsAreDecodedOneAfterTheOther) {
  // 2.0 s at 22.05 kHz mono, then 0.03 s at 44.1 kHz stereo.
  auto run = DecodeTwoStage(WAVE_FORMAT_OGG_VORBIS, "ogg_chained.ogg", 1, 22050, 2048);
  // The stream is opened for 22.05 kHz mono: the second link goes down to
  // 661.5 frames there, and both come up to 44.1 kHz in the second stage.
  EXPECT_NEAR(double(run.Out.size() / 4), (44100.0 + 1323.0 / 2.0) * 2.0, 3.0);
}

TEST(WMADriver, EqualsFFmpegsOwnDecode) {
  for (const char* name : {"wma2_44100_2.wma", "wma1_44100_2.wma"}) {
    auto ref = FFmpegReference(Fixture(name));
    ASSERT_FALSE(ref.empty()) << name;
    auto run = Decode(WAVE_FORMAT_WMAUDIO1, name, 2352);
    ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR);
    EXPECT_EQ(run.Out.size(), ref.size()) << name;
    EXPECT_EQ(Hash(run.Out), Hash(ref)) << name;
    EXPECT_EQ(run.Out.size() % (2048 * 4), 0u) << "whole frames";
  }
}

TEST(WMADriver, OutputDoesNotDependOnBlockSize) {
  auto whole = Decode(WAVE_FORMAT_WMAUDIO2, "wma2_44100_2.wma", 1 << 20);
  for (size_t block : {1u, 1000u, 2352u})
    EXPECT_EQ(Hash(Decode(WAVE_FORMAT_WMAUDIO2, "wma2_44100_2.wma", block).Out), Hash(whole.Out)) << block;
}

TEST(WMADriver, OtherRatesTakeTwoStages) {
  auto ref = FFmpegReference(Fixture("wma2_48000_2.wma"));
  auto run = DecodeTwoStage(WAVE_FORMAT_WMAUDIO2, "wma2_48000_2.wma", 2, 48000, 2352);
  EXPECT_NEAR(double(run.Out.size() / 4), double(ref.size() / 4) * 44100.0 / 48000.0, 1.0);
  auto mono = FFmpegReference(Fixture("wma2_22050_1.wma"));
  auto run2 = DecodeTwoStage(WAVE_FORMAT_WMAUDIO2, "wma2_22050_1.wma", 1, 22050, 2352);
  EXPECT_NEAR(double(run2.Out.size() / 4), double(mono.size() / 2) * 2.0, 1.0);
}

TEST(WMADriver, NonAsfInputIsNotPossible) {
  auto run = Decode(WAVE_FORMAT_WMAUDIO2, "mp3_44100_2.mp3", 2352);
  EXPECT_EQ(run.EndResult, ACMERR_NOTPOSSIBLE);
  EXPECT_TRUE(run.Out.empty());
}
