// Damaged input of every kind through every driver: truncated, bit-flipped
// and garbage files decode without a crash or a hang, give the same output
// for every block size and on every run, and keep what can be recovered.
#include <gtest/gtest.h>

#include "decode/cvACM.h"
#include "tests/decode/DecodeTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

struct Kind {
  const char* Name;
  uint16_t Tag;
  size_t Block;
};

const Kind kKinds[] = {
    {"mp3_44100_2.mp3", WAVE_FORMAT_MPEGLAYER3, 2048},
    {"ogg_44100_2.ogg", WAVE_FORMAT_OGG_VORBIS, 2048},
    {"wma2_44100_2.wma", WAVE_FORMAT_WMAUDIO2, 2352},
    {"pcm16_44100_2.wav", WAVE_FORMAT_PCM, 1000},
};

TFormatBlock Source(const Kind& k) {
  return k.Tag == WAVE_FORMAT_PCM ? CDFormat() : CodecFormat(k.Tag, 2, 44100);
}

std::vector<uint8_t> Flipped(std::vector<uint8_t> v, size_t flips, size_t from, uint32_t seed) {
  for (size_t i = 0; i < flips; ++i) {
    seed = seed * 1103515245 + 12345;
    size_t at = from + (seed >> 8) % (v.size() - from);
    v[at] ^= uint8_t(1u << (seed & 7));
  }
  return v;
}

void ExpectStable(const Kind& k, const std::vector<uint8_t>& bytes, const char* what, size_t minimumFrames) {
  auto a = RunStream(Source(k), CDFormat(), bytes, k.Block);
  auto b = RunStream(Source(k), CDFormat(), bytes, 777);
  ASSERT_EQ(a.OpenResult, MMSYSERR_NOERROR);
  EXPECT_EQ(a.Out.size() % 4, 0u) << k.Name << " " << what;
  EXPECT_EQ(Hash(a.Out), Hash(b.Out)) << k.Name << " " << what << ": block size changed the output";
  EXPECT_GE(a.Out.size() / 4, minimumFrames) << k.Name << " " << what;
}

}  // namespace

TEST(DamagedInput, TruncatedFilesKeepWhatTheyHold) {
  for (const Kind& k : kKinds) {
    auto whole = ReadFile(Fixture(k.Name));
    auto full = RunStream(Source(k), CDFormat(), whole, k.Block);
    std::vector<uint8_t> half(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 2));
    // Half the file gives at least a quarter of the audio (the MP3 spends
    // 12 KB of its first half on an ID3v2 tag).
    ExpectStable(k, half, "half", full.Out.size() / 4 / 4);
    std::vector<uint8_t> head(whole.begin(), whole.begin() + 300);
    ExpectStable(k, head, "300 bytes", 0);
  }
}

TEST(DamagedInput, FlippedBitsAreSurvived) {
  for (const Kind& k : kKinds) {
    auto whole = ReadFile(Fixture(k.Name));
    ExpectStable(k, Flipped(whole, 100, whole.size() / 10, 7), "100 flips", 0);
    ExpectStable(k, Flipped(whole, 20, 0, 99), "20 flips anywhere", 0);
    ExpectStable(k, Flipped(whole, 3000, 0, 5), "3000 flips", 0);
  }
}

TEST(DamagedInput, GarbageIsAnErrorForCodecs) {
  std::vector<uint8_t> garbage(40000);
  uint32_t x = 1;
  for (auto& b : garbage) b = uint8_t((x = x * 1664525 + 1013904223) >> 24);
  for (const Kind& k : kKinds) {
    auto run = RunStream(Source(k), CDFormat(), garbage, k.Block);
    ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR);
    if (k.Tag != WAVE_FORMAT_PCM) {
      EXPECT_EQ(run.EndResult, ACMERR_NOTPOSSIBLE) << k.Name;
    }
    auto empty = RunStream(Source(k), CDFormat(), {}, k.Block);
    EXPECT_TRUE(empty.Out.empty()) << k.Name;
  }
}

TEST(DamagedInput, AHeaderOfAnotherFileAheadOfTheStream) {
  // An Ogg page in front of an MP3, an ASF header in front of Ogg pages.
  auto mp3 = ReadFile(Fixture("mp3_44100_2.mp3"));
  auto ogg = ReadFile(Fixture("ogg_44100_2.ogg"));
  auto wma = ReadFile(Fixture("wma2_44100_2.wma"));
  std::vector<uint8_t> a(ogg.begin(), ogg.begin() + 4000);
  a.insert(a.end(), mp3.begin(), mp3.end());
  ExpectStable(kKinds[0], a, "ogg+mp3", 80000);
  std::vector<uint8_t> b(wma.begin(), wma.begin() + 6000);
  b.insert(b.end(), ogg.begin(), ogg.end());
  ExpectStable(kKinds[1], b, "wma+ogg", 88200);
}
