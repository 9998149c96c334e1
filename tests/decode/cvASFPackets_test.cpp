// The ASF packet parser on ffmpeg's WMA output and on damaged headers.
#include "decode/cvASFPackets.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/decode/DecodeTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

struct TParsed {
  TASFPackets Parser;
  size_t Objects = 0;
  size_t Bytes = 0;
};

void Parse(TParsed& p, const std::vector<uint8_t>& bytes, size_t slice) {
  auto sink = [&](std::span<const uint8_t> o) {
    ++p.Objects;
    p.Bytes += o.size();
  };
  for (size_t at = 0; at < bytes.size(); at += slice)
    p.Parser.Feed({bytes.data() + at, std::min(slice, bytes.size() - at)}, sink);
  p.Parser.Finish(sink);
}

// Offset of the first header object with this GUID's first four bytes.
size_t FindObject(const std::vector<uint8_t>& f, const uint8_t (&id)[4]) {
  for (size_t at = 30; at + 24 <= f.size();) {
    if (!std::memcmp(&f[at], id, 4)) return at;
    uint64_t size = 0;
    for (int k = 0; k < 8; ++k) size |= uint64_t(f[at + 16 + k]) << (8 * k);
    if (size < 24) break;
    at += size_t(size);
  }
  return 0;
}

const uint8_t kStreamProperties[4] = {0x91, 0x07, 0xDC, 0xB7};
const uint8_t kFileProperties[4] = {0xA1, 0xDC, 0xAB, 0x8C};

}  // namespace

TEST(ASFPackets, ReadsTheStreamAndReassemblesObjectsInAnySlicing) {
  auto wma = ReadFile(Fixture("wma2_44100_2.wma"));
  TParsed whole, bytewise;
  Parse(whole, wma, wma.size());
  Parse(bytewise, wma, 1);
  ASSERT_TRUE(whole.Parser.Ready()) << whole.Parser.Error();
  EXPECT_EQ(whole.Parser.Audio().FormatTag, 0x0161);
  EXPECT_EQ(whole.Parser.Audio().Channels, 2);
  EXPECT_EQ(whole.Parser.Audio().SampleRate, 44100u);
  EXPECT_EQ(whole.Parser.Audio().Extra.size(), 10u);
  EXPECT_GT(whole.Parser.PacketSize(), 0u);
  EXPECT_GT(whole.Objects, 10u);
  EXPECT_EQ(whole.Parser.Damaged(), 0u);
  EXPECT_EQ(bytewise.Objects, whole.Objects);
  EXPECT_EQ(bytewise.Bytes, whole.Bytes);
}

TEST(ASFPackets, RefusesEncryptedAndBrokenHeaders) {
  auto wma = ReadFile(Fixture("wma2_44100_2.wma"));
  {
    auto f = wma;
    size_t sp = FindObject(f, kStreamProperties);
    ASSERT_GT(sp, 0u);
    f[sp + 73] |= 0x80;  // the stream's encrypted flag
    TParsed p;
    Parse(p, f, 2352);
    EXPECT_EQ(p.Parser.State(), TASFPackets::TState::Failed);
    EXPECT_EQ(p.Parser.Error(), "ASF content is encrypted");
    EXPECT_EQ(p.Objects, 0u);
  }
  {
    auto f = wma;
    size_t fp = FindObject(f, kFileProperties);
    ASSERT_GT(fp, 0u);
    f[fp + 92] ^= 0x01;  // minimum packet size no longer the maximum
    TParsed p;
    Parse(p, f, 2352);
    EXPECT_EQ(p.Parser.Error(), "ASF packet size not fixed or out of range");
  }
  {
    auto f = wma;
    for (int k = 0; k < 8; ++k) f[16 + k] = 0xFF;  // a header of 2^64 - 1 bytes
    TParsed p;
    Parse(p, f, 2352);
    EXPECT_EQ(p.Parser.Error(), "ASF header size out of range");
  }
  {
    std::vector<uint8_t> f(wma.begin(), wma.begin() + 100);
    TParsed p;
    Parse(p, f, 2352);
    EXPECT_EQ(p.Parser.Error(), "ASF header cut short");
  }
  {
    TParsed p;
    Parse(p, ReadFile(Fixture("ogg_44100_2.ogg")), 2048);
    EXPECT_EQ(p.Parser.Error(), "not an ASF file");
  }
}

TEST(ASFPackets, ADamagedPacketCostsThatPacketOnly) {
  auto wma = ReadFile(Fixture("wma2_44100_2.wma"));
  TParsed clean;
  Parse(clean, wma, 4096);
  ASSERT_TRUE(clean.Parser.Ready());
  // Zero a whole packet in the middle of the data.
  auto f = wma;
  size_t packet = clean.Parser.PacketSize();
  size_t at = f.size() / 2;
  std::fill(f.begin() + std::ptrdiff_t(at), f.begin() + std::ptrdiff_t(at + packet), uint8_t(0));
  TParsed damaged;
  Parse(damaged, f, 4096);
  // A zeroed packet reads as one payload of stream 0: nothing of the audio.
  EXPECT_LT(damaged.Objects, clean.Objects);
  EXPECT_GE(damaged.Objects + 12, clean.Objects);
}
