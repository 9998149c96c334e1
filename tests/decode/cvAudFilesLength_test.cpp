// Identification of the later kinds (their signatures first), and lengths
// counted without decoding against the length a full decode gives, to the
// sample, on every fixture.
#include <gtest/gtest.h>

#include <string>

#include "decode/cvAudFiles.h"
#include "decode/cvACMPCM.h"
#include "formats/cvMP3File.h"

namespace cv {
namespace {

std::string Path(const std::string& relative) { return std::string(CORVID_FIXTURES_DIR) + "/" + relative; }

TEST(AudioFileKinds, SignaturesOfTheLaterKindsComeFirst) {
  struct TCase {
    const char* file;
    TAudioFileKind kind;
  };
  for (const TCase& c : {TCase{"flac/tone44_16_2.flac", afFLAC}, TCase{"flac/tone48_24_2.flac", afFLAC},
                         TCase{"flac/id3_front.flac", afFLAC}, TCase{"flac/mp3_inside.flac", afFLAC},
                         TCase{"opus/tone44_2.opus", afOpus}, TCase{"opus/tone16_1.opus", afOpus},
                         TCase{"aiff/tone44_16_2.aiff", afAIFF}, TCase{"aiff/sowt.aifc", afAIFF},
                         TCase{"aiff/float.aifc", afAIFF}, TCase{"ogg/tagged_stereo_44k.ogg", afOGG},
                         TCase{"mp3/cbr128.mp3", afMP3}, TCase{"wav/pcm16_stereo_44k.wav", afWAV},
                         TCase{"wma/v2_stereo_44k.wma", afWMA}}) {
    SCOPED_TRACE(c.file);
    TAudioFile f(Path(c.file));
    EXPECT_EQ(f.FileKind, c.kind);
    EXPECT_GT(f.EstimatedLength, 0u);
    // A file with a later kind's signature never reaches the original readers.
    EXPECT_EQ(static_cast<bool>(f.WMAFile), c.kind <= afOGG);
  }
  // The chance frame sync: on its own the MP3 reader takes this FLAC file
  // for MPEG audio; its signature decides first.
  TMP3File mp3;
  mp3.ReadFileInfo(Path("flac/mp3_inside.flac"));
  EXPECT_TRUE(mp3.IsValid());
  EXPECT_EQ(TAudioFile(Path("flac/mp3_inside.flac")).FileKind, afFLAC);
  EXPECT_TRUE(HasKind(TAudioFile("").SupportedKinds, afAIFF));
}

// Frames of CD PCM from a full decode, or -1 when the file cannot be decoded.
int64_t DecodedFrames(const std::string& path) {
  TAudioFile f(path);
  if (!f.PrepareDecoding()) return -1;
  while (f.DecodeBlock() != -1) {
  }
  return f.TotalOutput / 4;
}

TEST(AudioFileLength, CountedLengthsEqualDecodedLengths) {
  struct TCase {
    const char* file;
    bool counted;  // the file says its length exactly
  };
  const TCase cases[] = {
      // PCM from the data size.
      {"decode/pcm16_44100_2.wav", true}, {"decode/pcm16_44100_1.wav", true}, {"decode/pcm8_22050_1.wav", true},
      {"decode/pcm24_48000_2.wav", true}, {"decode/pcm16_96000_2.wav", true}, {"decode/float32_44100_2.wav", true},
      {"decode/list_chunk.wav", true}, {"aiff/tone44_16_2.aiff", true}, {"aiff/tone22_8_1.aiff", true},
      {"aiff/tone48_24_1.aiff", true}, {"aiff/sowt.aifc", true}, {"aiff/float.aifc", true},
      {"aiff/tagged.aiff", true},
      // MP3 from the LAME tag or the frame walk.
      {"decode/mp3_44100_2.mp3", true}, {"decode/mp3_22050_1.mp3", true}, {"decode/mp3_32000_2.mp3", true},
      {"decode/mp3_48000_2.mp3", true}, {"decode/mp3_tiny.mp3", true}, {"mp3/cbr128.mp3", true},
      {"mp3/cbr128_info.mp3", true}, {"mp3/id3v1.mp3", true}, {"mp3/id3v23.mp3", true}, {"mp3/id3v24.mp3", true},
      {"mp3/mono_vbr.mp3", true}, {"mp3/mpeg2_22k_cbr64.mp3", true}, {"mp3/mpeg2_22k_vbr.mp3", true},
      {"mp3/mpeg2_24k_mono_vbr.mp3", true}, {"mp3/vbr_xing.mp3", true}, {"mp3/layer2.mp2", true},
      {"demo/02-theme.mp3", true}, {"app/tone2s.mp3", true},
      // Ogg Vorbis from the final granule; a chained file is decoded.
      {"decode/ogg_44100_2.ogg", true}, {"decode/ogg_22050_1.ogg", true}, {"decode/ogg_32000_2.ogg", true},
      {"decode/ogg_48000_2.ogg", true}, {"ogg/tagged_stereo_44k.ogg", true}, {"ogg/low_rate_8k.ogg", true},
      {"ogg/hires_96k.ogg", true}, {"ogg/mono_22k.ogg", true}, {"demo/03-coda.ogg", true},
      {"ogg/id3v2_front.ogg", true},
      {"decode/ogg_chained.ogg", false},
      // FLAC from STREAMINFO, checked against the last frame.
      {"flac/tone44_16_2.flac", true}, {"flac/tone22_8_1.flac", true}, {"flac/tone48_24_2.flac", true},
      {"flac/id3_front.flac", true}, {"flac/mp3_inside.flac", true}, {"flac/truncated.flac", false},
      // Opus from the final granule less the pre-skip.
      {"opus/tone44_2.opus", true}, {"opus/tone48_1.opus", true}, {"opus/tone16_1.opus", true},
      {"opus/truncated.opus", false},
      // MP4 from the sample tables less the delay and padding (edit list or
      // iTunSMPB); the codec drivers' fixtures of the other later kinds.
      {"codecs/tone-alac.m4a", true}, {"codecs/tone-aac.m4a", true}, {"codecs/tone-aac-smpb.m4a", true},
      {"codecs/mono22k-aac.m4a", true}, {"codecs/tone.flac", true}, {"codecs/mono22k_24.flac", true},
      {"codecs/tone.opus", true}, {"codecs/mono.opus", true}, {"codecs/tone.aiff", true},
      {"codecs/tone24.aifc", true},
      // HE-AAC with SBR only in the stream: nothing in the headers tells it
      // from AAC-LC at 22.05 kHz, so a time scale of that rate is counted
      // (the length is a time either way); at the output rate, decoded.
      {"codecs/implicit-sbr.m4a", true}, {"codecs/implicit-sbr-44k.m4a", false},
      // SBR announced: the output rate is not the time scale's, decoded.
      {"codecs/explicit-sbr.m4a", false},
      // Measured by decoding: WMA, MPEG audio in RIFF, the WAVE codecs.
      {"codecs/ima_adpcm.wav", false}, {"codecs/ms_adpcm.wav", false}, {"codecs/alaw.wav", false},
      {"codecs/mulaw.wav", false}, {"codecs/gsm610.wav", false},
      {"decode/wma2_44100_2.wma", false}, {"decode/riff_mp3.wav", false}, {"decode/adpcm.wav", false},
  };
  int compared = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = Path(c.file);
    TAudioFile f(path);
    ASSERT_NE(f.FileKind, afNone);
    uint64_t frames = 0;
    std::string why;
    const bool counted = f.CountLength(frames, &why);
    EXPECT_EQ(counted, c.counted && HasKind(f.SupportedKinds, f.FileKind)) << why;
    if (!HasKind(f.SupportedKinds, f.FileKind)) continue;  // no codec built in for this kind
    const int64_t decoded = DecodedFrames(path);
    if (counted) {
      EXPECT_EQ(int64_t(frames), decoded);
      ++compared;
    }
    // CalcLength gives the decoded length either way, in Sectors.
    TAudioFile g(path);
    ASSERT_TRUE(g.CalcLength());
    EXPECT_EQ(g.LengthCounted, counted);
    EXPECT_EQ(int64_t(g.LengthSectors), decoded < 0 ? 0 : (decoded + 587) / 588);
  }
  EXPECT_GE(compared, 50);
}

TEST(AudioFileLength, ConvertedFramesFollowTheResampler) {
  // Against the converter itself: ordinary cases and exact ties.
  struct TCase {
    uint64_t frames;
    uint32_t rate;
  };
  for (const TCase& c : {TCase{1, 48000}, TCase{80, 48000}, TCase{1000, 32000}, TCase{44101, 22050},
                         TCase{197500, 12000}, TCase{7, 8000}, TCase{12345, 96000}, TCase{480, 48000}}) {
    SCOPED_TRACE(std::to_string(c.frames) + " at " + std::to_string(c.rate));
    TPCMConverter conv(TPcmShape{TSampleType::S16, 2, 44100});
    std::vector<uint8_t> noise(c.frames * 2);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t(i * 7919 >> 3);
    conv.Write(noise.data(), c.frames, TPcmShape{TSampleType::S16, 1, c.rate});
    conv.Finish();
    EXPECT_EQ(TAudioFile::ConvertedFrames(c.frames, c.rate), conv.Output().Size() / 4);
  }
  EXPECT_EQ(TAudioFile::ConvertedFrames(123456, 44100), 123456u);
  EXPECT_EQ(TAudioFile::ConvertedFrames(5, 0), 0u);
}

}  // namespace
}  // namespace cv
