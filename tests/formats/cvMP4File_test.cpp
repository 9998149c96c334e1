// TMP4File on MP4/M4A files made by ffmpeg (AAC with an edit list, AAC with
// iTunSMPB, ALAC), and on damaged and hand-made box structures.
#include "formats/cvMP4File.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "tests/formats/reader_test_util.h"

namespace cv {
namespace {

using testing::Bytes;
using testing::Fixture;
using testing::ReadAll;

TMP4File Read(const std::string& name) {
  TMP4File r;
  EXPECT_TRUE(r.ReadFileInfo(Fixture("codecs/" + name)));
  return r;
}

// A box: 32-bit big-endian size, type, body.
Bytes Box(const char* type, const Bytes& body) {
  Bytes b;
  const uint32_t size = uint32_t(body.size() + 8);
  for (int k = 3; k >= 0; --k) b.push_back(uint8_t(size >> (8 * k)));
  b.insert(b.end(), type, type + 4);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

}  // namespace

TEST(MP4File, AacWithEditListGivesTheSourceLengthAndTags) {
  TMP4File r = Read("tone-aac.m4a");
  ASSERT_TRUE(r.Valid);
  EXPECT_EQ(r.Codec, TMP4Codec::AAC);
  EXPECT_EQ(r.CodecName, "mp4a");
  EXPECT_EQ(r.ChannelCount, 2);
  EXPECT_EQ(r.SampleRate, 44100u);
  EXPECT_EQ(r.TimeScale, 44100u);
  EXPECT_TRUE(r.HasEditList);
  EXPECT_FALSE(r.HasSMPB);
  EXPECT_EQ(r.EncoderDelay, 1024u);
  // The edit list's duration is in milliseconds (rounded); the sample tables
  // give the exact 16208 frames the source had.
  EXPECT_EQ(r.PlayableUnits, 16208u);
  EXPECT_EQ(r.PlayableFrames(), 16208u);
  EXPECT_EQ(r.DurationSectors(), 28);  // 16208 / 588 = 27.6
  EXPECT_EQ(r.MediaUnits, 16208u + 1024u);
  EXPECT_EQ(r.SampleSizes.size(), 17u);  // ceil((16208 + 1024) / 1024) packets
  EXPECT_EQ(r.SampleOffsets.size(), r.SampleSizes.size());
  ASSERT_GE(r.DecoderConfig.size(), 2u);  // AudioSpecificConfig
  EXPECT_EQ(r.DecoderConfig[0] >> 3, 2);  // AAC LC
  EXPECT_EQ(r.Title, "Aac Title");
  EXPECT_EQ(r.Artist, "Aac Artist");
  EXPECT_EQ(r.Album, "Aac Album");
  EXPECT_EQ(r.Track, 6);
}

TEST(MP4File, AacWithITunSMPBAndAlac) {
  TMP4File s = Read("tone-aac-smpb.m4a");
  ASSERT_TRUE(s.Valid);
  EXPECT_FALSE(s.HasEditList);
  EXPECT_TRUE(s.HasSMPB);
  EXPECT_EQ(s.EncoderDelay, 1024u);
  EXPECT_EQ(s.PlayableUnits, 16208u);

  TMP4File a = Read("tone-alac.m4a");
  ASSERT_TRUE(a.Valid);
  EXPECT_EQ(a.Codec, TMP4Codec::ALAC);
  EXPECT_EQ(a.BitsPerSample, 16);
  EXPECT_EQ(a.ChannelCount, 2);
  EXPECT_EQ(a.EncoderDelay, 0u);
  EXPECT_EQ(a.PlayableUnits, 16208u);
  EXPECT_EQ(a.DecoderConfig.size(), 36u);
  EXPECT_EQ(std::memcmp(a.DecoderConfig.data() + 4, "alac", 4), 0);
  EXPECT_EQ(a.Title, "Alac Title");
  EXPECT_EQ(a.Track, 5);
  EXPECT_EQ(a.TrackTotal, 9);
  // Every sample lies inside the file, one after the other.
  const auto file = ReadAll(Fixture("codecs/tone-alac.m4a"));
  for (size_t i = 0; i < a.SampleOffsets.size(); ++i)
    EXPECT_LE(a.SampleOffsets[i] + a.SampleSizes[i], file.size());

  TMP4File m = Read("mono22k-aac.m4a");
  ASSERT_TRUE(m.Valid);
  EXPECT_EQ(m.ChannelCount, 1);
  EXPECT_EQ(m.SampleRate, 22050u);
  EXPECT_EQ(m.PlayableFrames(), 8104u);
}

TEST(MP4File, OtherFilesAndDamage) {
  // Not MP4 at all, and files of other kinds.
  for (const char* other : {"codecs/tone.flac", "codecs/source.wav", "mp3/cbr128.mp3"}) {
    TMP4File r;
    EXPECT_TRUE(r.ReadFileInfo(Fixture(other))) << other;
    EXPECT_FALSE(r.Valid) << other;
    EXPECT_FALSE(r.HasFtyp) << other;
  }
  TMP4File missing;
  EXPECT_FALSE(missing.ReadFileInfo(Fixture("codecs/no-such-file.m4a")));

  // An ftyp alone, or ftyp and a moov without a sound track.
  Bytes ftyp = Box("ftyp", {'M', '4', 'A', ' ', 0, 0, 0, 0});
  TMP4File r;
  EXPECT_TRUE(r.ReadFileInfo(ftyp));
  EXPECT_TRUE(r.HasFtyp);
  EXPECT_EQ(r.MajorBrand, "M4A ");
  EXPECT_FALSE(r.Valid);
  Bytes file = ftyp;
  Bytes moov = Box("moov", Box("trak", Box("mdia", Box("hdlr", Bytes(24, 0)))));
  file.insert(file.end(), moov.begin(), moov.end());
  EXPECT_TRUE(r.ReadFileInfo(file));
  EXPECT_FALSE(r.Valid);

  // A box size beyond the file, a zero size, a 64-bit size: no crash.
  Bytes big = ftyp;
  Bytes bad = {0xFF, 0xFF, 0xFF, 0xF0, 'm', 'o', 'o', 'v', 1, 2, 3};
  big.insert(big.end(), bad.begin(), bad.end());
  EXPECT_TRUE(r.ReadFileInfo(big));
  EXPECT_FALSE(r.Valid);

  // Every cut of a real file: never a crash; samples past the cut dropped.
  const auto alac = ReadAll(Fixture("codecs/tone-alac.m4a"));
  for (size_t cut = 0; cut < alac.size(); cut += 997) {
    Bytes part(alac.begin(), alac.begin() + std::ptrdiff_t(cut));
    TMP4File p;
    p.ReadFileInfo(part);
    for (size_t i = 0; i < p.SampleOffsets.size(); ++i) EXPECT_LE(p.SampleOffsets[i] + p.SampleSizes[i], cut);
  }
  // Flipped bytes in the movie box (ffmpeg writes it last): never a crash,
  // never a sample outside the file.
  for (size_t i = 0; i < 4000; ++i) {
    Bytes flipped = alac;
    const size_t at = alac.size() - 1 - (i * 7919) % 900;
    flipped[at] ^= uint8_t(1 + i % 255);
    TMP4File p;
    p.ReadFileInfo(flipped);
    for (size_t k = 0; k < p.SampleOffsets.size(); ++k)
      EXPECT_LE(p.SampleOffsets[k] + p.SampleSizes[k], flipped.size());
  }
}

TEST(MP4Reader, PlainAacConfigurationsAreTellable) {
  const Bytes lc = {0x12, 0x10};                        // LC, 44100 Hz, stereo
  const Bytes lcSync = {0x12, 0x10, 0x56, 0xE5, 0x00};  // and "no SBR", as ffmpeg writes it
  const Bytes lcSbr = {0x12, 0x10, 0x56, 0xE5, 0x80};   // and SBR present
  const Bytes he = {0x2B, 0x92, 0x08, 0x00};            // object type 5: SBR
  const Bytes half = {0x13, 0x90};                      // LC at 22050 Hz
  const Bytes pce = {0x12, 0x00};                       // channels from a program config element
  const Bytes frames960 = {0x12, 0x14};                 // 960 samples per frame
  EXPECT_TRUE(AACConfigIsPlain(lc, 44100));
  EXPECT_TRUE(AACConfigIsPlain(lcSync, 44100));
  EXPECT_FALSE(AACConfigIsPlain(lcSbr, 44100));
  EXPECT_FALSE(AACConfigIsPlain(he, 44100));
  EXPECT_FALSE(AACConfigIsPlain(half, 44100));  // SBR may double it
  EXPECT_TRUE(AACConfigIsPlain(half, 22050));
  EXPECT_FALSE(AACConfigIsPlain(pce, 44100));
  EXPECT_FALSE(AACConfigIsPlain(frames960, 44100));
  EXPECT_FALSE(AACConfigIsPlain({}, 44100));
  EXPECT_FALSE(AACConfigIsPlain(Bytes{0x12}, 44100));
  // The fixtures ffmpeg made.
  for (const char* name : {"tone-aac.m4a", "tone-aac-smpb.m4a", "mono22k-aac.m4a"}) {
    const TMP4File r = Read(name);
    EXPECT_TRUE(AACConfigIsPlain(r.DecoderConfig, r.SampleRate)) << name;
  }
}

TEST(MP4Reader, AnnouncedSbrGivesTheRateTheDecoderGives) {
  // SBR announced by a sync extension behind AAC-LC at 22.05 kHz: the
  // decoder gives 44.1 kHz, and so does the reader; the track still counts
  // in 22.05 kHz units.
  const TMP4File e = Read("explicit-sbr.m4a");
  ASSERT_TRUE(e.Valid);
  EXPECT_EQ(e.SampleRate, 44100u);
  EXPECT_EQ(e.ChannelCount, 2);
  EXPECT_EQ(e.TimeScale, 22050u);
  EXPECT_EQ(e.EncoderDelay, 1024u);
  EXPECT_EQ(e.PlayableUnits, 8104u);
  EXPECT_EQ(e.PlayableFrames(), 16208u);
  EXPECT_FALSE(AACConfigIsPlain(e.DecoderConfig, e.SampleRate));
  // SBR that only the stream shows: the headers give the core rate.
  const TMP4File i = Read("implicit-sbr.m4a");
  ASSERT_TRUE(i.Valid);
  EXPECT_EQ(i.SampleRate, 22050u);
  EXPECT_EQ(i.PlayableFrames(), 8104u);
  EXPECT_EQ(i.DurationSectors(), e.DurationSectors());
  // Hierarchical signalling (object type 5: core 22050 Hz, stereo, output
  // 44100, then LC) in place of the sync extension, same length.
  Bytes file = ReadAll(Fixture("codecs/explicit-sbr.m4a"));
  const Bytes sync = {0x13, 0x90, 0x56, 0xE5, 0xA0}, hierarchical = {0x2B, 0x92, 0x08, 0x00, 0x00};
  auto at = std::search(file.begin(), file.end(), sync.begin(), sync.end());
  ASSERT_NE(at, file.end());
  std::copy(hierarchical.begin(), hierarchical.end(), at);
  TMP4File h;
  h.ReadFileInfo(file);
  ASSERT_TRUE(h.Valid);
  EXPECT_EQ(h.SampleRate, 44100u);
  EXPECT_EQ(h.ChannelCount, 2);
  // A sync extension that marks SBR absent (ffmpeg's encoder writes one):
  // the core rate.
  const Bytes absent = {0x13, 0x90, 0x56, 0xE5, 0x00};
  std::copy(absent.begin(), absent.end(), at);
  h.ReadFileInfo(file);
  EXPECT_EQ(h.SampleRate, 22050u);
  // Cut short: SBR present at an escaped rate (index 15), but the
  // configuration ends inside the 24 bits of that rate. The core rate,
  // nothing read beyond.
  const Bytes cut = {0x13, 0x90, 0x56, 0xE5, 0xF8};
  std::copy(cut.begin(), cut.end(), at);
  h.ReadFileInfo(file);
  EXPECT_EQ(h.SampleRate, 22050u);
}

}  // namespace cv
