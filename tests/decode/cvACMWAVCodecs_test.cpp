// The WAVE codecs driver: every codec decodes, equal to libavcodec's decode
// of the packets libavformat's WAV demuxer cuts.
#include <gtest/gtest.h>

#include "decode/cvACM.h"
#include "formats/cvWAVfile.h"
#include "tests/decode/CodecFixtures.h"
#include "tests/decode/RefDecode.h"

using namespace cv;
using namespace cvtest;

namespace {

struct TWave {
  TFormatBlock Format;
  std::vector<uint8_t> Data;
};

TWave Wave(const std::string& name) {
  const auto file = ReadFile(CodecFixture(name));
  TWAVfile reader;
  EXPECT_TRUE(reader.ReadFileInfo(file));
  EXPECT_TRUE(reader.Valid);
  TWave w;
  w.Format.SetFormatTag(reader.FormatTag);
  w.Format.SetChannels(reader.ChannelCount);
  w.Format.SetSamplesPerSec(reader.SampleRate);
  w.Format.SetAvgBytesPerSec(reader.BytesPerSecond);
  w.Format.SetBlockAlign(reader.BlockAlign);
  w.Format.SetBitsPerSample(reader.BitsPerSample);
  w.Data.assign(file.begin() + reader.HeaderSize, file.begin() + reader.HeaderSize + reader.DataSize);
  return w;
}

}  // namespace

TEST(WAVCodecsDriver, EveryCodecEqualsLibavcodec) {
  struct TCase {
    const char* Name;
    uint16_t Tag;
  };
  for (TCase c : {TCase{"ima_adpcm.wav", WAVE_FORMAT_IMA_ADPCM}, TCase{"ms_adpcm.wav", WAVE_FORMAT_ADPCM},
                  TCase{"alaw.wav", WAVE_FORMAT_ALAW}, TCase{"mulaw.wav", WAVE_FORMAT_MULAW},
                  TCase{"gsm610.wav", WAVE_FORMAT_GSM610}}) {
    TWave w = Wave(c.Name);
    ASSERT_EQ(w.Format.wFormatTag(), c.Tag) << c.Name;
    const uint16_t ch = w.Format.nChannels();
    const uint32_t rate = w.Format.nSamplesPerSec();
    const auto expected = S16Bytes(FFmpegDecodeAll(CodecFixture(c.Name)));
    ASSERT_FALSE(expected.empty()) << c.Name;
    for (size_t block : {size_t(1000), size_t(1), w.Data.size()}) {
      TRun run = RunStream(w.Format, TFormatBlock::Pcm(WAVE_FORMAT_PCM, ch, rate, 16), w.Data, block);
      ASSERT_EQ(run.OpenResult, MMSYSERR_NOERROR) << c.Name;
      EXPECT_EQ(run.EndResult, MMSYSERR_NOERROR) << c.Name;
      EXPECT_EQ(run.Out.size(), expected.size()) << c.Name << " block " << block;
      EXPECT_TRUE(run.Out == expected) << c.Name << " block " << block;
    }
  }
}

TEST(WAVCodecsDriver, ListsItsTagsAndRefusesNonsense) {
  for (uint16_t tag : {WAVE_FORMAT_IMA_ADPCM, WAVE_FORMAT_ADPCM, WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW,
                       WAVE_FORMAT_GSM610}) {
    ACMFORMATTAGDETAILS d;
    d.cbStruct = sizeof d;
    d.dwFormatTag = tag;
    EXPECT_EQ(acmFormatTagDetails(nullptr, &d, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR) << tag;
  }
  // A block alignment of 0 cannot be cut into packets.
  TWave w = Wave("ima_adpcm.wav");
  w.Format.SetBlockAlign(0);
  EXPECT_EQ(RunStream(w.Format, TFormatBlock::Pcm(WAVE_FORMAT_PCM, 1, 22050, 16), w.Data, 1000).OpenResult,
            ACMERR_NOTPOSSIBLE);
}
