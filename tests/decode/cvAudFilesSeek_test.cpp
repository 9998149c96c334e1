// Tests of TAudioFile::SeekSamples: which files it moves in, and that the
// decode after it is the tail of the whole file's decode, byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/cvAudFiles.h"
#include "tests/decode/WavTestUtil.h"

namespace cv {
namespace {

std::string Fixture(const char* name) { return std::string(CORVID_FIXTURES_DIR) + "/" + name; }

std::vector<uint8_t> Decode(TAudioFile& file) {
  std::vector<uint8_t> pcm;
  for (int i = 0; i < 10000000; ++i) {
    const int32_t result = file.DecodeBlock();
    pcm.insert(pcm.end(), file.OutputBuffer.begin(), file.OutputBuffer.begin() + file.OutputLength);
    if (result == -1) break;
  }
  return pcm;
}

TEST(SeekSamples, MovesInCdWavsOnly) {
  struct Case {
    const char* File;
    bool Moves;
  };
  const Case cases[] = {
      {"wav/pcm16_stereo_44k.wav", true},   {"wav/float32_stereo_44k.wav", true},
      {"wav/list_stereo_44k.wav", true},    {"wav/pcm24_stereo_48k.wav", false},
      {"wav/pcm16_mono_22k.wav", false},    {"wav/mp3_in_riff.wav", false},
      {"mp3/cbr128.mp3", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.File);
    TAudioFile whole(Fixture(c.File));
    ASSERT_TRUE(whole.PrepareDecoding());
    const std::vector<uint8_t> all = Decode(whole);
    ASSERT_GT(all.size(), 4u * 1000);

    TAudioFile file(Fixture(c.File));
    EXPECT_FALSE(file.SeekSamples(10));  // not prepared yet
    ASSERT_TRUE(file.PrepareDecoding());
    ASSERT_EQ(file.SeekSamples(777), c.Moves);
    if (!c.Moves) continue;
    EXPECT_FALSE(file.SeekSamples(1));  // only once, before decoding
    const std::vector<uint8_t> tail = Decode(file);
    EXPECT_TRUE(tail == std::vector<uint8_t>(all.begin() + 777 * 4, all.end()));
  }
}

TEST(SeekSamples, BeyondTheEndLeavesNothing) {
  TAudioFile file(Fixture("wav/pcm16_stereo_44k.wav"));
  ASSERT_TRUE(file.PrepareDecoding());
  ASSERT_TRUE(file.SeekSamples(uint64_t{1} << 40));
  EXPECT_TRUE(Decode(file).empty());
}

}  // namespace
}  // namespace cv
