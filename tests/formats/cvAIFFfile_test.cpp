// TAIFFfile against AIFF and AIFF-C files made by sox and ffmpeg
// (tests/fixtures/aiff/make_fixtures.sh) and damaged copies of them.
#include "formats/cvAIFFfile.h"

#include <gtest/gtest.h>

#include "reader_test_util.h"

namespace cv {
namespace {

using testing::Bytes;
using testing::Fixture;
using testing::ReadAll;

TEST(AIFFfile, CommonChunkAndSoundDataOfEncoderFiles) {
  struct TCase {
    const char* file;
    bool aifc;
    const char* compression;
    uint16_t channels, bits;
    uint32_t rate, frames;
  };
  for (const TCase& c : {TCase{"aiff/tone44_16_2.aiff", false, "NONE", 2, 16, 44100, 8104},
                         TCase{"aiff/tone22_8_1.aiff", false, "NONE", 1, 8, 22050, 3039},
                         TCase{"aiff/tone48_24_1.aiff", false, "NONE", 1, 24, 48000, 4803},
                         TCase{"aiff/sowt.aifc", true, "sowt", 2, 16, 44100, 4410},
                         TCase{"aiff/float.aifc", true, "fl32", 2, 32, 32000, 3200}}) {
    SCOPED_TRACE(c.file);
    TAIFFfile f;
    ASSERT_TRUE(f.ReadFileInfo(Fixture(c.file)));
    EXPECT_TRUE(f.Valid);
    EXPECT_EQ(f.AIFC, c.aifc);
    EXPECT_EQ(f.Compression, c.compression);
    EXPECT_EQ(f.ChannelCount, c.channels);
    EXPECT_EQ(f.SampleSize, c.bits);
    EXPECT_EQ(f.SampleRate, c.rate);
    EXPECT_EQ(f.SampleFrames, c.frames);
    EXPECT_EQ(f.Frames(), c.frames);
    EXPECT_EQ(f.DataSize, int64_t{c.frames} * c.channels * (c.bits / 8));
    EXPECT_EQ(f.DataOffset + f.DataSize <= f.FileSize, true);
  }
  TAIFFfile f;
  ASSERT_TRUE(f.ReadFileInfo(Fixture("aiff/tagged.aiff")));
  EXPECT_EQ(f.Title, "Aiff Title");
  EXPECT_EQ(f.Artist, "Aiff Artist");
  EXPECT_EQ(f.Album, "Aiff Album");
  EXPECT_EQ(f.Track, 5);
  EXPECT_TRUE(f.LittleEndian == false && f.Float == false);
  ASSERT_TRUE(f.ReadFileInfo(Fixture("aiff/sowt.aifc")));
  EXPECT_TRUE(f.LittleEndian);
}

TEST(AIFFfile, ExtendedRates) {
  auto rate = [](std::initializer_list<uint8_t> b) {
    std::array<uint8_t, 10> a{};
    std::copy(b.begin(), b.end(), a.begin());
    return ExtendedToUInt(a);
  };
  EXPECT_EQ(rate({0x40, 0x0E, 0xAC, 0x44}), 44100u);
  EXPECT_EQ(rate({0x40, 0x0E, 0xBB, 0x80}), 48000u);
  EXPECT_EQ(rate({0x40, 0x0D, 0xAC, 0x44}), 22050u);
  EXPECT_EQ(rate({0x3F, 0xFF, 0xC0}), 2u);  // 1.5 rounds to 2
  EXPECT_EQ(rate({0x3F, 0xFE, 0xC0}), 1u);  // 0.75 rounds to 1
  EXPECT_EQ(rate({0xC0, 0x0E, 0xAC, 0x44}), 0u);  // negative
  EXPECT_EQ(rate({0x7F, 0xFF, 0x80}), 0u);         // infinity
  EXPECT_EQ(rate({0x40, 0x3F, 0x80}), 0u);         // 2^64
  EXPECT_EQ(rate({}), 0u);
}

TEST(AIFFfile, CutAndHostileHeaders) {
  TAIFFfile f;
  EXPECT_FALSE(f.ReadFileInfo(Fixture("decode/pcm16_44100_2.wav")));
  EXPECT_FALSE(f.ReadFileInfo(std::string("/nonexistent.aiff")));
  const Bytes whole = ReadAll(Fixture("aiff/tone44_16_2.aiff"));
  // Cut anywhere: never a crash; the sample data never reaches past the file.
  for (size_t n = 0; n < whole.size(); n += n < 200 ? 1 : 997) {
    Bytes cut(whole.begin(), whole.begin() + n);
    if (f.ReadFileInfo(cut) && f.Valid) {
      EXPECT_LE(f.DataOffset + f.DataSize, int64_t(n));
      EXPECT_LE(f.Frames() * 4, uint64_t(f.DataSize));
    }
  }
  // A sound-data chunk that claims 4 GiB ends at the file.
  Bytes big = whole;
  for (size_t i = 12; i + 8 < big.size(); ++i)
    if (big[i] == 'S' && big[i + 1] == 'S' && big[i + 2] == 'N' && big[i + 3] == 'D') {
      big[i + 4] = big[i + 5] = big[i + 6] = big[i + 7] = 0xFF;
      break;
    }
  ASSERT_TRUE(f.ReadFileInfo(big));
  EXPECT_TRUE(f.Valid);
  EXPECT_EQ(f.Frames(), 8104u);
  EXPECT_LE(f.DataOffset + f.DataSize, int64_t(big.size()));
  // An SSND offset field beyond its chunk (a fuzzer's find): no samples,
  // and the data offset still inside the file.
  Bytes far = whole;
  for (size_t i = 12; i + 16 < far.size(); ++i)
    if (far[i] == 'S' && far[i + 1] == 'S' && far[i + 2] == 'N' && far[i + 3] == 'D') {
      far[i + 8] = far[i + 9] = 0x7F;
      break;
    }
  ASSERT_TRUE(f.ReadFileInfo(far));
  EXPECT_EQ(f.DataSize, 0);
  EXPECT_EQ(f.Frames(), 0u);
  EXPECT_LE(f.DataOffset, int64_t(far.size()));
}

}  // namespace
}  // namespace cv
