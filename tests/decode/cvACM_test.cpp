// The codec layer's interface: drivers and tags, metrics, suggestion, the
// stream rules and result codes, queue draining.
#include "decode/cvACM.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "tests/decode/DecodeTestUtil.h"
#include "tests/decode/WavTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

std::set<uint32_t> CodecTags() {
  std::set<uint32_t> tags;
  acmDriverEnum(
      [&](HACMDRIVERID id, uintptr_t, uint32_t support) {
        ACMDRIVERDETAILS d;
        d.cbStruct = sizeof d;
        EXPECT_EQ(acmDriverDetails(id, &d, 0), MMSYSERR_NOERROR);
        EXPECT_EQ(d.fdwSupport, support);
        if (!(support & ACMDRIVERDETAILS_SUPPORTF_CODEC)) return true;
        HACMDRIVER had = nullptr;
        EXPECT_EQ(acmDriverOpen(&had, id, 0), MMSYSERR_NOERROR);
        for (uint32_t i = 0; i < d.cFormatTags; ++i) {
          ACMFORMATTAGDETAILS t;
          t.cbStruct = sizeof t;
          t.dwFormatTagIndex = i;
          EXPECT_EQ(acmFormatTagDetails(had, &t, ACM_FORMATTAGDETAILSF_INDEX), MMSYSERR_NOERROR);
          tags.insert(t.dwFormatTag);
        }
        EXPECT_EQ(acmDriverClose(had, 0), MMSYSERR_NOERROR);
        return true;
      },
      0, 0);
  return tags;
}

}  // namespace

TEST(ACMDrivers, CodecsReportTheirFormatTags) {
  auto tags = CodecTags();
  EXPECT_TRUE(tags.count(WAVE_FORMAT_MPEGLAYER3));
  EXPECT_TRUE(tags.count(WAVE_FORMAT_OGG_VORBIS));
  EXPECT_TRUE(tags.count(WAVE_FORMAT_WMAUDIO1));
  EXPECT_TRUE(tags.count(WAVE_FORMAT_WMAUDIO2));
  for (uint16_t tag : {WAVE_FORMAT_FLAC, WAVE_FORMAT_OPUS, WAVE_FORMAT_AAC, WAVE_FORMAT_ALAC, WAVE_FORMAT_IMA_ADPCM,
                       WAVE_FORMAT_ADPCM, WAVE_FORMAT_ALAW, WAVE_FORMAT_MULAW, WAVE_FORMAT_GSM610})
    EXPECT_TRUE(tags.count(tag)) << tag;
  uint32_t drivers = 0, codecs = 0;
  EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_COUNT_DRIVERS, &drivers), MMSYSERR_NOERROR);
  EXPECT_EQ(acmMetrics(nullptr, ACM_METRIC_COUNT_CODECS, &codecs), MMSYSERR_NOERROR);
  // PCM converter; MP3, Vorbis, WMA, FLAC, Opus, MP4, WAVE codecs.
  EXPECT_EQ(drivers, 8u);
  EXPECT_EQ(codecs, 7u);
}

TEST(ACMDrivers, MaxFormatSizeCoversEveryTag) {
  uint32_t max = 0;
  ASSERT_EQ(acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &max), MMSYSERR_NOERROR);
  for (uint32_t tag : {0x0001u, 0x0003u, 0x0055u, 0x0160u, 0x0161u, 0x6771u, 0xF1ACu, 0x704Fu, 0x00FFu, 0x6C61u,
                       0x0002u, 0x0006u, 0x0007u, 0x0011u, 0x0031u, 0xBE01u, 0xBE03u}) {
    ACMFORMATTAGDETAILS t;
    t.cbStruct = sizeof t;
    t.dwFormatTag = tag;
    ASSERT_EQ(acmFormatTagDetails(nullptr, &t, ACM_FORMATTAGDETAILSF_FORMATTAG), MMSYSERR_NOERROR) << tag;
    EXPECT_LE(t.cbFormatSize, max) << tag;
  }
}

TEST(ACMDrivers, BadHandlesFlagsAndSizesGiveTheirCodes) {
  uint32_t v = 0;
  EXPECT_EQ(acmMetrics(&v, ACM_METRIC_MAX_SIZE_FORMAT, &v), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmMetrics(nullptr, 9999, &v), MMSYSERR_INVALPARAM);
  ACMDRIVERDETAILS d;
  d.cbStruct = 100;
  HACMDRIVERID first = nullptr;
  acmDriverEnum([&](HACMDRIVERID id, uintptr_t, uint32_t) { return first = id, false; }, 0, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(acmDriverDetails(first, &d, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmDriverDetails(reinterpret_cast<HACMDRIVERID>(&d), &d, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmDriverEnum([](HACMDRIVERID, uintptr_t, uint32_t) { return true; }, 0, 1), MMSYSERR_INVALFLAG);

  HACMSTREAM none;
  uint32_t size = 0;
  EXPECT_EQ(acmStreamSize(none, 1000, &size, 0), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(acmStreamClose(none, 0), MMSYSERR_INVALHANDLE);
  HACMSTREAM s;
  ASSERT_EQ(acmStreamOpen(&s, nullptr, CDFormat(), CDFormat(), nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamSize(s, 1000, &size, 7), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamOpen(&s, nullptr, CDFormat(), CDFormat(), nullptr, 0, 0, ACM_STREAMOPENF_ASYNC),
            MMSYSERR_INVALFLAG);
}

TEST(ACMStreams, CodecsOpenDirectlyOnlyAtTheirOwnRateAndChannels) {
  const TFormatBlock cd = CDFormat();
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, CodecFormat(0x55, 2, 44100), cd, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, CodecFormat(0x55, 2, 48000), cd, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, CodecFormat(0x6771, 1, 44100), cd, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
  // No driver for IMA ADPCM.
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, CodecFormat(0x11, 1, 22050), cd, nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            ACMERR_NOTPOSSIBLE);
}

TEST(ACMStreams, SuggestionIs32BitPcmAtTheSourceShape) {
  TFormatBlock suggested(1024);
  suggested.SetFormatTag(WAVE_FORMAT_PCM);
  ASSERT_EQ(acmFormatSuggest(nullptr, CodecFormat(0x55, 1, 22050), suggested, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  EXPECT_EQ(suggested.wFormatTag(), WAVE_FORMAT_PCM);
  EXPECT_EQ(suggested.nChannels(), 1);
  EXPECT_EQ(suggested.nSamplesPerSec(), 22050u);
  EXPECT_EQ(suggested.wBitsPerSample(), 32);
  EXPECT_EQ(suggested.nBlockAlign(), 4);
  // Both stages then open.
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, CodecFormat(0x55, 1, 22050), suggested, nullptr, 0, 0,
                          ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamOpen(nullptr, nullptr, suggested, CDFormat(), nullptr, 0, 0, ACM_STREAMOPENF_QUERY),
            MMSYSERR_NOERROR);
  // A destination size beyond the block is refused, not written past.
  TFormatBlock small(18);
  EXPECT_EQ(acmFormatSuggest(nullptr, CodecFormat(0x55, 1, 22050), small, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_INVALPARAM);
}

TEST(ACMStreams, PcmOtherThanCdPcmTakesTwoStages) {
  const TFormatBlock cd = CDFormat();
  auto query = [&](const TFormatBlock& src) {
    return acmStreamOpen(nullptr, nullptr, src, cd, nullptr, 0, 0, ACM_STREAMOPENF_QUERY);
  };
  EXPECT_EQ(query(cd), MMSYSERR_NOERROR);
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 2, 44100, 24)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 1, 44100, 16)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 2, 48000, 16)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 2, 48000, 32)), MMSYSERR_NOERROR);
  EXPECT_EQ(query(TFormatBlock::Pcm(3, 2, 48000, 32)), MMSYSERR_NOERROR);
  // Hostile shapes are refused before anything is sized from them.
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 6, 44100, 16)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 2, 4000000, 32)), ACMERR_NOTPOSSIBLE);
  EXPECT_EQ(query(TFormatBlock::Pcm(1, 2, 44100, 12)), ACMERR_NOTPOSSIBLE);
}

TEST(ACMStreams, ConvertNeedsAPreparedHeaderWithItsOwnBuffers) {
  HACMSTREAM s;
  ASSERT_EQ(acmStreamOpen(&s, nullptr, CDFormat(), CDFormat(), nullptr, 0, 0, 0), MMSYSERR_NOERROR);
  std::vector<uint8_t> in(1000), out(1000), other(1000);
  ACMSTREAMHEADER h;
  h.cbStruct = sizeof h;
  h.pbSrc = in.data();
  h.cbSrcLength = 1000;
  h.pbDst = out.data();
  h.cbDstLength = 1000;
  EXPECT_EQ(acmStreamConvert(s, &h, 0), MMSYSERR_INVALPARAM);  // not prepared
  ASSERT_EQ(acmStreamPrepareHeader(s, &h, 0), MMSYSERR_NOERROR);
  EXPECT_TRUE(h.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED);
  h.cbSrcLength = 1001;
  EXPECT_EQ(acmStreamConvert(s, &h, 0), MMSYSERR_INVALPARAM);  // longer than prepared
  h.cbSrcLength = 1000;
  h.pbDst = other.data();
  EXPECT_EQ(acmStreamConvert(s, &h, 0), MMSYSERR_INVALPARAM);  // another buffer
  h.pbDst = out.data();
  EXPECT_EQ(acmStreamConvert(s, &h, 0x100), MMSYSERR_INVALFLAG);
  EXPECT_EQ(acmStreamConvert(s, &h, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
  EXPECT_EQ(h.cbSrcLengthUsed, 1000u);
  EXPECT_EQ(h.cbDstLengthUsed, 1000u);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_NOERROR);
  EXPECT_EQ(acmStreamUnprepareHeader(s, &h, 0), MMSYSERR_INVALPARAM);
  EXPECT_EQ(acmStreamClose(s, 0), MMSYSERR_NOERROR);
  EXPECT_FALSE(s);
}

TEST(ACMStreams, NothingIsDroppedWhenTheDestinationIsSmall) {
  // 96 kHz 16-bit through the wide stage, drained through a 64-byte buffer
  // and through a generous one: the same bytes.
  auto wav = ParseWav(ReadFile(Fixture("pcm16_96000_2.wav")));
  ASSERT_TRUE(wav.Ok);
  TFormatBlock src = TFormatBlock::Pcm(1, 2, 96000, 16);
  TFormatBlock wide = TFormatBlock::Pcm(1, 2, 96000, 32);
  auto stage1 = RunStream(src, wide, wav.Data, 1000);
  ASSERT_EQ(stage1.OpenResult, MMSYSERR_NOERROR);
  EXPECT_EQ(stage1.Out.size(), wav.Data.size() * 2);
  auto big = RunStream(wide, CDFormat(), stage1.Out, 4000);
  auto small = RunStream(wide, CDFormat(), stage1.Out, 4000, 64);
  ASSERT_EQ(big.OpenResult, MMSYSERR_NOERROR);
  EXPECT_GT(small.Calls, big.Calls);
  EXPECT_EQ(Hash(small.Out), Hash(big.Out));
  EXPECT_EQ(small.Out.size(), big.Out.size());
}
