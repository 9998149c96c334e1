// Tests of the identification half of TAudioFile: the order in which the
// readers are tried, what each tried reader keeps, and the estimated length.
#include "decode/cvAudFiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "device/cvIOError.h"
#include "tests/formats/reader_test_util.h"

namespace cv {
namespace {

using namespace cv::testing;

TEST(AudioFileKinds, KindsAndTheirBits) {
  EXPECT_EQ(afNone, 0);
  EXPECT_EQ(afWAV, 1);
  EXPECT_EQ(afWMA, 2);
  EXPECT_EQ(afMP3, 3);
  EXPECT_EQ(afOGG, 4);
  EXPECT_EQ(KindBit(afWAV), 0x02);
  EXPECT_EQ(KindBit(afWMA), 0x04);
  EXPECT_EQ(KindBit(afMP3), 0x08);
  EXPECT_EQ(KindBit(afOGG), 0x10);
  EXPECT_TRUE(HasKind(0x0A, afMP3));
  EXPECT_FALSE(HasKind(0x0A, afOGG));
  EXPECT_STREQ(AudioFileKindName(afOGG), "OGG");
  EXPECT_STREQ(AudioFileKindName(afNone), "none");
  EXPECT_EQ(sizeof(TAudioFileKind), 1u);
  // The later kinds need a ninth bit; the original four keep theirs.
  EXPECT_EQ(sizeof(TAudioFileKinds), 2u);
  EXPECT_EQ(KindBit(afFLAC), 0x20);
  EXPECT_EQ(KindBit(afOpus), 0x40);
  EXPECT_EQ(KindBit(afM4A), 0x80);
  EXPECT_EQ(KindBit(afAIFF), 0x100);
  EXPECT_STREQ(AudioFileKindName(afFLAC), "FLAC");
  EXPECT_STREQ(AudioFileKindName(afOpus), "OPUS");
  EXPECT_STREQ(AudioFileKindName(afM4A), "M4A");
  EXPECT_STREQ(AudioFileKindName(afAIFF), "AIFF");
}

TEST(AudioFileCreate, EmptyOrBlankNameIdentifiesNothing) {
  for (const char* name : {"", "   ", "\t \r\n"}) {
    SCOPED_TRACE(name);
    TAudioFile f(name);
    EXPECT_EQ(f.FileKind, afNone);
    EXPECT_TRUE(HasKind(f.SupportedKinds, afWAV));
    EXPECT_EQ(f.FileName, "");
    EXPECT_FALSE(f.WMAFile || f.MP3File || f.OGGFile || f.WAVFile);  // no file touched
    EXPECT_EQ(f.EstimatedLength, 0u);
  }
}

TEST(AudioFileCreate, SupportedKindsFollowTheCodecsBuiltIn) {
  // WAV and AIFF always; the others with their drivers (a build without
  // any codec is tested in tests/decode/nocodecs).
  TAudioFile f("");
  EXPECT_EQ(f.SupportedKinds, 0x102 | (CORVID_WITH_WMA ? 0x04 : 0) | (CORVID_WITH_MP3 ? 0x08 : 0) |
                                  (CORVID_WITH_VORBIS ? 0x10 : 0) | (CORVID_WITH_FLAC ? 0x20 : 0) |
                                  (CORVID_WITH_OPUS ? 0x40 : 0) | (CORVID_WITH_MP4 ? 0x80 : 0));
}

struct TKindCase {
  const char* file;
  TAudioFileKind kind;
};

TEST(AudioFileCreate, FixturesGetTheirKindAndTheReadersTriedInOrder) {
  const TKindCase cases[] = {
      {"wma/v1_stereo_44k.wma", afWMA},     {"wma/v2_stereo_44k.wma", afWMA},
      {"wma/v2_mono_22k.wma", afWMA},       {"ogg/tagged_stereo_44k.ogg", afOGG},
      {"ogg/id3v2_front.ogg", afOGG},       {"ogg/low_rate_8k.ogg", afOGG},
      {"ogg/hires_96k.ogg", afOGG},         {"ogg/mono_22k.ogg", afOGG},
      {"wav/pcm16_stereo_44k.wav", afWAV},  {"wav/list_stereo_44k.wav", afWAV},
      {"wav/pcm24_stereo_48k.wav", afWAV},  {"wav/pcm8_mono_22k.wav", afWAV},
      {"wav/float32_stereo_44k.wav", afWAV}, {"wav/adpcm_mono_22k.wav", afWAV},
      // MPEG frames inside RIFF: the MP3 reader comes before the WAV reader.
      {"wav/mp3_in_riff.wav", afMP3},
  };
  for (const TKindCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = Fixture(c.file);
    TAudioFile f(path);
    EXPECT_EQ(f.FileKind, c.kind);
    EXPECT_EQ(f.FileName, path);
    // Every reader up to the accepting one was tried, none after it.
    ASSERT_TRUE(f.WMAFile);
    EXPECT_EQ(static_cast<bool>(f.MP3File), c.kind != afWMA);
    EXPECT_EQ(static_cast<bool>(f.OGGFile), c.kind == afOGG || c.kind == afWAV);
    EXPECT_EQ(static_cast<bool>(f.WAVFile), c.kind == afWAV);
    switch (c.kind) {
      case afWMA: EXPECT_EQ(f.EstimatedLength, static_cast<uint32_t>(f.WMAFile->DurationSectors)); break;
      case afMP3: EXPECT_EQ(f.EstimatedLength, static_cast<uint32_t>(f.MP3File->DurationSectors())); break;
      case afOGG: EXPECT_EQ(f.EstimatedLength, static_cast<uint32_t>(f.OGGFile->DurationSectors())); break;
      case afWAV: EXPECT_EQ(f.EstimatedLength, static_cast<uint32_t>(f.WAVFile->DurationSectors())); break;
      default: break;
    }
    EXPECT_GT(f.EstimatedLength, 0u);
  }
}

TEST(AudioFileCreate, TheExtensionPlaysNoPart) {
  TempDir dir;
  const TKindCase cases[] = {
      {"wma/v2_stereo_44k.wma", afWMA},
      {"ogg/tagged_stereo_44k.ogg", afOGG},
      {"wav/pcm16_stereo_44k.wav", afWAV},
      {"wav/mp3_in_riff.wav", afMP3},
  };
  for (const TKindCase& c : cases) {
    for (const char* ext : {".wav", ".mp3", ".ogg", ".wma", ""}) {
      SCOPED_TRACE(std::string(c.file) + " as " + ext);
      const std::string path = dir.Write(std::string("renamed") + ext, ReadAll(Fixture(c.file)));
      TAudioFile f(path);
      EXPECT_EQ(f.FileKind, c.kind);
    }
  }
}

TEST(AudioFileCreate, OneSecondWavIs75Sectors) {
  TAudioFile f(Fixture("wav/pcm16_stereo_44k.wav"));
  EXPECT_EQ(f.EstimatedLength, 75u);
  TAudioFile g(Fixture("wav/list_stereo_44k.wav"));
  EXPECT_EQ(g.EstimatedLength, 75u);
}

TEST(AudioFileCreate, UnknownDamagedAndEmptyFilesAreNone) {
  TempDir dir;
  Bytes garbage(5000);
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 7 + 3);
  Bytes truncatedOgg = ReadAll(Fixture("ogg/tagged_stereo_44k.ogg"));
  truncatedOgg.resize(40);
  for (const auto& [name, content] : std::vector<std::pair<std::string, Bytes>>{
           {"garbage.mp3", garbage}, {"empty.wav", {}}, {"cut.ogg", truncatedOgg}, {"text.wma", Bytes(100, 'a')}}) {
    SCOPED_TRACE(name);
    TAudioFile f(dir.Write(name, content));
    EXPECT_EQ(f.FileKind, afNone);
    EXPECT_EQ(f.EstimatedLength, 0u);
    EXPECT_TRUE(f.WMAFile && f.MP3File && f.OGGFile && f.WAVFile);  // all four tried
  }
}

TEST(AudioFileCreate, FileThatCannotBeOpenedRaisesTheIOError) {
  TempDir dir;
  for (const std::string& path : {std::string("/nonexistent/corvid/track.wav"), dir.Path()}) {
    SCOPED_TRACE(path);
    EXPECT_THROW(TAudioFile f(path), EInOutError);
  }
}

TEST(AudioFileCreate, NameIsKeptAsGiven) {
  // The name is trimmed only to decide whether it is empty.
  TempDir dir;
  const std::string path = dir.Write(" spaced.wav ", ReadAll(Fixture("wav/pcm16_stereo_44k.wav")));
  TAudioFile f(path);
  EXPECT_EQ(f.FileName, path);
  EXPECT_EQ(f.FileKind, afWAV);
}

TEST(AudioFileCreate, LengthSectorsHoldsMoreThan16Bits) {
  TAudioFile f("");
  f.LengthSectors = 79 * 4500 + 59 * 75 + 74;  // 79:59:74
  EXPECT_EQ(f.LengthSectors, 359999u);
}

}  // namespace
}  // namespace cv
