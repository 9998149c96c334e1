// TAudioFile's decoding half: what reaches the codec, one and two stages,
// the end-of-file rule, exact lengths, warnings, and decoders side by side.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "decode/cvAudFiles.h"
#include "tests/decode/DecodeTestUtil.h"
#include "tests/decode/WavTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

struct TDecoded {
  std::vector<uint8_t> Pcm;
  int Calls = 0;
  bool Prepared = false;
  bool TwoStage = false;
};

TDecoded DecodeAll(const std::string& path) {
  TDecoded d;
  TAudioFile f(path);
  d.Prepared = f.PrepareDecoding();
  d.TwoStage = f.TwoStage;
  if (!d.Prepared) return d;
  for (;;) {
    int32_t r = f.DecodeBlock();
    ++d.Calls;
    d.Pcm.insert(d.Pcm.end(), f.OutputBuffer.begin(), f.OutputBuffer.begin() + f.OutputLength);
    if (r == -1) break;
    EXPECT_EQ(r, f.OutputLength);
  }
  return d;
}

uint32_t Measure(const std::string& path) {
  TAudioFile f(path);
  EXPECT_TRUE(f.CalcLength());
  return f.LengthSectors;
}

std::vector<uint8_t> CanonicalWav(const std::vector<uint8_t>& pcm) {
  std::vector<uint8_t> w(44 + pcm.size());
  auto put32 = [&](size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) w[at + k] = uint8_t(v >> (8 * k));
  };
  std::memcpy(&w[0], "RIFF", 4);
  put32(4, uint32_t(36 + pcm.size()));
  std::memcpy(&w[8], "WAVEfmt ", 8);
  put32(16, 16);
  put32(20, 1 | (2 << 16));
  put32(24, 44100);
  put32(28, 176400);
  put32(32, 4 | (16 << 16));
  std::memcpy(&w[36], "data", 4);
  put32(40, uint32_t(pcm.size()));
  std::copy(pcm.begin(), pcm.end(), w.begin() + 44);
  return w;
}

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("corvid-decode-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

struct TLogCapture {
  std::vector<std::string> Lines;
  TLogCapture() {
    TAudioFile::SetLogSink([this](const std::string& l) { Lines.push_back(l); });
  }
  ~TLogCapture() { TAudioFile::SetLogSink(nullptr); }
};

const char* const kAllFixtures[] = {
    "pcm16_44100_2.wav", "pcm16_44100_1.wav", "pcm8_22050_1.wav", "pcm24_48000_2.wav", "pcm16_96000_2.wav",
    "float32_44100_2.wav", "list_chunk.wav", "riff_mp3.wav", "mp3_44100_2.mp3", "mp3_22050_1.mp3",
    "mp3_32000_2.mp3", "mp3_48000_2.mp3", "mp3_tiny.mp3", "ogg_44100_2.ogg", "ogg_22050_1.ogg",
    "ogg_32000_2.ogg", "ogg_48000_2.ogg", "ogg_chained.ogg", "wma2_44100_2.wma", "wma1_44100_2.wma",
    "wma2_22050_1.wma", "wma2_48000_2.wma",
};

}  // namespace

TEST(AudioFileDecode, WavPcmIsItsDataChunkByteForByte) {
  for (const char* name : {"pcm16_44100_2.wav", "list_chunk.wav"}) {
    auto wav = ParseWav(ReadFile(Fixture(name)));
    ASSERT_TRUE(wav.Ok);
    auto d = DecodeAll(Fixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    EXPECT_FALSE(d.TwoStage) << name;
    EXPECT_EQ(d.Pcm.size(), wav.Data.size()) << name;
    EXPECT_TRUE(d.Pcm == wav.Data) << name << ": header or trailing chunk bytes reached the output";
  }
}

// What the first stage alone gives: the codec's (or the WAV data chunk's)
// own frame count at the source's rate.
size_t NativeFrames(const std::string& name, uint16_t tag, uint16_t channels, uint32_t rate) {
  auto bytes = ReadFile(Fixture(name));
  TFormatBlock src = CodecFormat(tag, channels, rate);
  if (tag == WAVE_FORMAT_PCM) {
    auto wav = ParseWav(bytes);
    return wav.Data.size() / (channels * (wav.Bits / 8));
  }
  auto run = RunStream(src, TFormatBlock::Pcm(WAVE_FORMAT_PCM, channels, rate, 32), bytes, 1 << 22);
  return run.Out.size() / (4u * channels);
}

TEST(AudioFileDecode, OtherShapesTakeTwoStagesToCdPcm) {
  struct Case {
    const char* Name;
    uint16_t Tag;
    uint16_t Channels;
    uint32_t Rate;
  };
  for (Case c : {Case{"pcm8_22050_1.wav", 1, 1, 22050}, Case{"pcm24_48000_2.wav", 1, 2, 48000},
                 Case{"pcm16_44100_1.wav", 1, 1, 44100}, Case{"pcm16_96000_2.wav", 1, 2, 96000},
                 Case{"mp3_22050_1.mp3", 0x55, 1, 22050}, Case{"mp3_32000_2.mp3", 0x55, 2, 32000},
                 Case{"mp3_48000_2.mp3", 0x55, 2, 48000}, Case{"ogg_22050_1.ogg", 0x6771, 1, 22050},
                 Case{"ogg_32000_2.ogg", 0x6771, 2, 32000}, Case{"ogg_48000_2.ogg", 0x6771, 2, 48000}}) {
    auto d = DecodeAll(Fixture(c.Name));
    ASSERT_TRUE(d.Prepared) << c.Name;
    EXPECT_TRUE(d.TwoStage) << c.Name;
    EXPECT_EQ(d.Pcm.size() % 4, 0u) << c.Name;
    size_t native = NativeFrames(c.Name, c.Tag, c.Channels, c.Rate);
    ASSERT_GT(native, 0u) << c.Name;
    EXPECT_NEAR(double(d.Pcm.size() / 4), double(native) * 44100.0 / c.Rate, 1.0) << c.Name;
  }
}

TEST(AudioFileDecode, MatchesOneWholeFileStreamOfTheLayer) {
  // The decoder's blocks give what one stream fed the whole file gives.
  struct Case {
    const char* Name;
    uint16_t Tag;
  };
  for (Case c : {Case{"mp3_44100_2.mp3", WAVE_FORMAT_MPEGLAYER3}, Case{"ogg_44100_2.ogg", WAVE_FORMAT_OGG_VORBIS},
                 Case{"wma2_44100_2.wma", WAVE_FORMAT_WMAUDIO1}}) {
    auto whole = RunStream(CodecFormat(c.Tag, 2, 44100), CDFormat(), ReadFile(Fixture(c.Name)), 1 << 22);
    auto d = DecodeAll(Fixture(c.Name));
    EXPECT_FALSE(d.TwoStage);
    EXPECT_EQ(Hash(d.Pcm), Hash(whole.Out)) << c.Name;
  }
}

TEST(AudioFileDecode, CalcLengthEqualsTheDecodedLengthOnTheReadersFixtures) {
  // The header readers' fixtures too: whatever decodes measures the same.
  int decoded = 0;
  for (const char* dir : {"wav", "mp3", "ogg", "wma"}) {
    std::filesystem::path p = std::string(CORVID_FIXTURES_DIR) + "/" + dir;
    if (!std::filesystem::is_directory(p)) continue;
    for (const auto& e : std::filesystem::directory_iterator(p)) {
      if (!e.is_regular_file() || e.path().extension() == ".sh") continue;
      auto d = DecodeAll(e.path().string());
      if (!d.Prepared) continue;
      ++decoded;
      uint32_t sectors = uint32_t((d.Pcm.size() + 2351) / 2352);
      EXPECT_EQ(Measure(e.path().string()), sectors) << e.path();
      EXPECT_EQ(Measure(e.path().string()), sectors) << e.path() << " (second run)";
    }
  }
  EXPECT_GT(decoded, 0);
}

TEST(AudioFileDecode, CalcLengthEqualsTheDecodedLengthEveryTime) {
  for (const char* name : kAllFixtures) {
    auto d = DecodeAll(Fixture(name));
    ASSERT_TRUE(d.Prepared) << name;
    uint32_t sectors = uint32_t((d.Pcm.size() + 2351) / 2352);
    EXPECT_GT(sectors, 0u) << name;
    EXPECT_EQ(Measure(Fixture(name)), sectors) << name;
    EXPECT_EQ(Measure(Fixture(name)), sectors) << name << " (second run)";
  }
}

TEST(AudioFileDecode, NonPcmWavGoesToTheCodecOfItsTag) {
  // The data chunk alone through the MP3 driver: no RIFF byte reaches it.
  auto d = DecodeAll(Fixture("riff_mp3.wav"));
  ASSERT_TRUE(d.Prepared);
  auto chunk = ParseWav(ReadFile(Fixture("riff_mp3.wav")));
  ASSERT_EQ(chunk.Tag, WAVE_FORMAT_MPEGLAYER3);
  auto direct = RunStream(CodecFormat(WAVE_FORMAT_MPEGLAYER3, 2, 44100), CDFormat(), chunk.Data, 1 << 20);
  EXPECT_EQ(Hash(d.Pcm), Hash(direct.Out));
  EXPECT_NEAR(double(d.Pcm.size() / 4), 44100.0, 2 * 1152.0);  // 1.0 s plus encoder delay and padding
  TLogCapture log;
  TAudioFile adpcm(Fixture("adpcm.wav"));
  ASSERT_EQ(adpcm.FileKind, afWAV);
  EXPECT_TRUE(adpcm.CalcLength());
  EXPECT_EQ(adpcm.LengthSectors, 0u);
  ASSERT_FALSE(log.Lines.empty());
  EXPECT_EQ(log.Lines.back(), "invalid buffer Size");
}

TEST(AudioFileDecode, EmptyDataEndsOnTheFirstBlock) {
  std::string path = TempPath("empty.wav");
  WriteFile(path, CanonicalWav({}));
  TAudioFile f(path);
  ASSERT_EQ(f.FileKind, afWAV);
  ASSERT_TRUE(f.PrepareDecoding());
  EXPECT_EQ(f.DecodeBlock(), -1);
  EXPECT_EQ(f.OutputLength, 0);
  EXPECT_EQ(f.DecodeBlock(), -1);
  TAudioFile g(path);
  g.CalcLength();
  EXPECT_EQ(g.LengthSectors, 0u);
  std::remove(path.c_str());

  std::string zero = TempPath("zero.mp3");
  WriteFile(zero, {});
  TAudioFile z(zero);
  EXPECT_EQ(z.FileKind, afNone);
  z.CalcLength();
  EXPECT_EQ(z.LengthSectors, 0u);
  std::remove(zero.c_str());
}

TEST(AudioFileDecode, ExactMultipleOfTheBlockSizeNeedsNoExtraCall) {
  std::vector<uint8_t> pcm(3000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = uint8_t(i * 7);
  std::string path = TempPath("multiple.wav");
  WriteFile(path, CanonicalWav(pcm));
  TAudioFile f(path);
  ASSERT_TRUE(f.PrepareDecoding());
  ASSERT_EQ(f.BlockSize, 1000);
  EXPECT_EQ(f.DecodeBlock(), 1000);
  EXPECT_EQ(f.DecodeBlock(), 1000);
  EXPECT_EQ(f.DecodeBlock(), -1);
  EXPECT_EQ(f.OutputLength, 1000);
  EXPECT_EQ(0, std::memcmp(f.OutputBuffer.data(), pcm.data() + 2000, 1000));
  std::remove(path.c_str());
}

TEST(AudioFileDecode, PartialLastSectorCountsAsAWholeOne) {
  for (size_t extra : {0u, 4u}) {
    std::vector<uint8_t> pcm(2352 * 3 + extra, 1);
    std::string path = TempPath("sectors.wav");
    WriteFile(path, CanonicalWav(pcm));
    EXPECT_EQ(Measure(path), 3u + (extra ? 1 : 0)) << extra;
    std::remove(path.c_str());
  }
}

TEST(AudioFileDecode, LengthsBeyondSixteenBits) {
  // 15 minutes of CD PCM: 67500 sectors, past what 16 bits hold.
  std::vector<uint8_t> pcm(size_t(67500) * 2352);
  std::string path = TempPath("long.wav");
  WriteFile(path, CanonicalWav(pcm));
  EXPECT_EQ(Measure(path), 67500u);
  std::remove(path.c_str());
}

TEST(AudioFileDecode, CheckResultTexts) {
  TLogCapture log;
  TAudioFile f("");
  log.Lines.clear();
  for (uint32_t code : {0u, 5u, 10u, 11u, 512u, 7u, 0xABCDu}) f.CheckResult(code);
  EXPECT_EQ(log.Lines, (std::vector<std::string>{
                           "Warning: The specified handle is invalid.",
                           "Warning: At least one flag is invalid.",
                           "Warning: Invalid parameters passed",
                           "Warning: The requested operation cannot be performed/No capable filter found",
                           "Warning: mmr = 00000007",
                           "Warning: mmr = 0000ABCD",
                       }));
}

TEST(AudioFileDecode, SupportedKindsListsEveryCodec) {
  TAudioFile f("  \t");
  EXPECT_EQ(f.FileKind, afNone);
  // WAV, WMA, MP3, OGG, FLAC, Opus, M4A, AIFF.
  EXPECT_EQ(f.SupportedKinds, 0x02 | 0x04 | 0x08 | 0x10 | 0x20 | 0x40 | 0x80 | 0x100);
  EXPECT_EQ(f.MP3CodecCount, 1);
  EXPECT_EQ(f.WMACodecCount, 1);
  EXPECT_EQ(f.VorbisCodecCount, 1);
  EXPECT_EQ(f.FLACCodecCount, 1);
  EXPECT_EQ(f.OpusCodecCount, 1);
  EXPECT_EQ(f.MP4CodecCount, 2);  // AAC and ALAC
}

TEST(AudioFileDecode, DecodersSideBySideKeepTheirOwnStreams) {
  // A file measured on one thread while another is decoded on another.
  auto alone = DecodeAll(Fixture("mp3_48000_2.mp3"));
  uint32_t oggAlone = Measure(Fixture("ogg_32000_2.ogg"));
  TDecoded together;
  uint32_t oggTogether = 0;
  std::thread a([&] { together = DecodeAll(Fixture("mp3_48000_2.mp3")); });
  std::thread b([&] {
    for (int i = 0; i < 3; ++i) oggTogether = Measure(Fixture("ogg_32000_2.ogg"));
  });
  a.join();
  b.join();
  EXPECT_EQ(Hash(together.Pcm), Hash(alone.Pcm));
  EXPECT_EQ(oggTogether, oggAlone);
  // Interleaved on one thread, too.
  TAudioFile x(Fixture("wma2_44100_2.wma")), y(Fixture("pcm16_44100_2.wav"));
  ASSERT_TRUE(x.PrepareDecoding());
  ASSERT_TRUE(y.PrepareDecoding());
  std::vector<uint8_t> px, py;
  bool ex = false, ey = false;
  while (!ex || !ey) {
    if (!ex) {
      ex = x.DecodeBlock() == -1;
      px.insert(px.end(), x.OutputBuffer.begin(), x.OutputBuffer.begin() + x.OutputLength);
    }
    if (!ey) {
      ey = y.DecodeBlock() == -1;
      py.insert(py.end(), y.OutputBuffer.begin(), y.OutputBuffer.begin() + y.OutputLength);
    }
  }
  EXPECT_EQ(Hash(px), Hash(DecodeAll(Fixture("wma2_44100_2.wma")).Pcm));
  EXPECT_EQ(py, ParseWav(ReadFile(Fixture("pcm16_44100_2.wav"))).Data);
}

TEST(AudioFileDecode, DamagedFilesOfEveryKindDecodeAndMeasureAlike) {
  for (const char* name : {"mp3_44100_2.mp3", "ogg_48000_2.ogg", "wma2_44100_2.wma", "pcm24_48000_2.wav"}) {
    auto bytes = ReadFile(Fixture(name));
    std::vector<std::vector<uint8_t>> variants;
    variants.emplace_back(bytes.begin(), bytes.begin() + std::ptrdiff_t(bytes.size() * 2 / 3));
    auto flipped = bytes;
    uint32_t x = 3;
    for (int i = 0; i < 200; ++i) {
      x = x * 1103515245 + 12345;
      size_t at = 200 + (x >> 8) % (flipped.size() - 200);  // keep the identifying header
      flipped[at] ^= uint8_t(1u << (x & 7));
    }
    variants.push_back(flipped);
    auto garbage = bytes;
    for (size_t i = bytes.size() / 3; i < bytes.size() / 3 + 8000 && i < bytes.size(); ++i)
      garbage[i] = uint8_t((x = x * 1664525 + 1013904223) >> 24);
    variants.push_back(garbage);
    for (size_t v = 0; v < variants.size(); ++v) {
      std::string path = TempPath("damaged" + std::string(std::strrchr(name, '.')));
      WriteFile(path, variants[v]);
      auto d = DecodeAll(path);
      if (d.Prepared) {
        EXPECT_EQ(Measure(path), uint32_t((d.Pcm.size() + 2351) / 2352)) << name << " variant " << v;
        if (v != 1) {  // flips may hit every Ogg page
          EXPECT_GT(d.Pcm.size(), 0u) << name << " variant " << v;
        }
      }
      std::remove(path.c_str());
    }
  }
}
