// Tests of `corvid-burn decode`, `corvid-burn codecs` and probe's measured
// length: the tool is run, and its output checked against the decoder.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "decode/cvAudFiles.h"
#include "tests/decode/DecodeTestUtil.h"
#include "tests/decode/WavTestUtil.h"

using namespace cv;
using namespace cvtest;

namespace {

struct TToolRun {
  int Status = -1;
  std::string Out;
};

TToolRun Tool(const std::string& args) {
  std::string command = std::string(CORVID_BINARY_DIR) + "/app/corvid-burn " + args + " 2>/dev/null";
  TToolRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.Out.append(buffer, n);
  int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::vector<uint8_t> Decoded(const std::string& path) {
  TAudioFile f(path);
  std::vector<uint8_t> pcm;
  if (!f.PrepareDecoding()) return pcm;
  for (;;) {
    int32_t r = f.DecodeBlock();
    pcm.insert(pcm.end(), f.OutputBuffer.begin(), f.OutputBuffer.begin() + f.OutputLength);
    if (r == -1) break;
  }
  return pcm;
}

}  // namespace

TEST(DecodeCommand, WritesTheBurnedAudioAsCanonicalWav) {
  for (const char* name : {"mp3_44100_2.mp3", "wma2_48000_2.wma", "pcm16_44100_2.wav"}) {
    std::string out = std::string(::testing::TempDir()) + "decode-cmd-" + std::to_string(::getpid()) + ".wav";
    auto run = Tool("decode " + Fixture(name) + " -o " + out);
    ASSERT_EQ(run.Status, 0) << name;
    auto wav = ReadFile(out);
    std::remove(out.c_str());
    ASSERT_GE(wav.size(), 44u);
    auto parsed = ParseWav(wav);
    ASSERT_TRUE(parsed.Ok);
    EXPECT_EQ(parsed.Tag, 1);
    EXPECT_EQ(parsed.Channels, 2);
    EXPECT_EQ(parsed.Rate, 44100u);
    EXPECT_EQ(parsed.Bits, 16);
    EXPECT_EQ(0, std::memcmp(&wav[36], "data", 4)) << "canonical 44-byte header";
    // The decoded PCM, then silence up to whole sectors (at least 300).
    auto pcm = Decoded(Fixture(name));
    size_t sectors = std::max<size_t>((pcm.size() + 2351) / 2352, 300);
    ASSERT_EQ(parsed.Data.size(), sectors * 2352) << name;
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), parsed.Data.begin())) << name;
    EXPECT_TRUE(std::all_of(parsed.Data.begin() + std::ptrdiff_t(pcm.size()), parsed.Data.end(),
                            [](uint8_t b) { return b == 0; }))
        << name;
  }
}

TEST(DecodeCommand, RefusesWhatItCannotDecode) {
  EXPECT_EQ(Tool("decode " + Fixture("adpcm.wav") + " -o /dev/null").Status, 1);
  EXPECT_EQ(Tool("decode " + Fixture("make_fixtures.sh") + " -o /dev/null").Status, 1);
  EXPECT_EQ(Tool("decode " + Fixture("pcm16_44100_2.wav")).Status, 2);  // no -o
}

TEST(CodecsCommand, ListsDriversTagsAndSupportedKinds) {
  auto run = Tool("codecs --json");
  ASSERT_EQ(run.Status, 0);
  auto j = nlohmann::json::parse(run.Out);
  EXPECT_EQ(j["supported_kinds"], TAudioFile("").SupportedKinds);
  std::vector<uint32_t> tags;
  for (const auto& d : j["drivers"])
    for (const auto& t : d["format_tags"]) tags.push_back(t["tag"]);
  for (uint32_t tag : {0x0001u, 0x0055u, 0x0160u, 0x0161u, 0x6771u, 0xF1ACu, 0x704Fu, 0x00FFu, 0x6C61u, 0x0002u,
                       0x0006u, 0x0007u, 0x0011u, 0x0031u, 0xBE01u})
    EXPECT_NE(std::find(tags.begin(), tags.end(), tag), tags.end()) << tag;
}

TEST(ProbeMeasure, LengthSectorsUnlessToldNot) {
  std::string files = Fixture("ogg_32000_2.ogg") + " " + Fixture("pcm8_22050_1.wav");
  auto measured = nlohmann::json::parse(Tool("probe --json " + files).Out);
  auto quick = nlohmann::json::parse(Tool("probe --json --no-measure " + files).Out);
  ASSERT_EQ(measured.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    TAudioFile f(measured[i]["path"].get<std::string>());
    uint32_t estimate = f.EstimatedLength;
    f.CalcLength();
    EXPECT_EQ(measured[i]["length_sectors"], f.LengthSectors);
    EXPECT_EQ(measured[i]["estimated_sectors"], estimate);
    EXPECT_TRUE(quick[i]["length_sectors"].is_null());
  }
}
