// Tests of `corvid-burn probe`: the command-line tool is run on every audio
// fixture, and its JSON is checked against the decoder's own identification
// of the same files.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "decode/cvAudFiles.h"
#include "tests/formats/reader_test_util.h"

namespace cv {
namespace {

using nlohmann::json;

struct TRun {
  int Status = -1;
  std::string Out;
};

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Tool() { return std::string(CORVID_BINARY_DIR) + "/app/corvid-burn"; }

TRun RunTool(const std::vector<std::string>& args) {
  std::string command = Quote(Tool());
  for (const auto& a : args) command += " " + Quote(a);
  command += " 2>/dev/null";
  TRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.Out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::vector<std::string> AudioFixtures() {
  std::vector<std::string> files;
  for (const char* dir : {"wav", "ogg", "wma", "mp3"}) {
    const std::filesystem::path p = std::string(CORVID_FIXTURES_DIR) + "/" + dir;
    if (!std::filesystem::is_directory(p)) continue;
    for (const auto& e : std::filesystem::directory_iterator(p))
      if (e.is_regular_file() && e.path().extension() != ".sh") files.push_back(e.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

class ProbeCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(Tool())) << "build corvid-burn first: " << Tool();
  }
};

TEST_F(ProbeCommand, JsonOfEveryFixtureMatchesTheDecoder) {
  const auto files = AudioFixtures();
  ASSERT_GE(files.size(), 17u);
  std::vector<std::string> args = {"probe", "--json"};
  args.insert(args.end(), files.begin(), files.end());
  const TRun run = RunTool(args);
  ASSERT_EQ(run.Status, 0);
  const json out = json::parse(run.Out);
  ASSERT_TRUE(out.is_array());
  ASSERT_EQ(out.size(), files.size());

  const std::vector<std::string> order = {"M4A", "WMA", "MP3", "OGG", "WAV"};
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    const json& o = out[i];
    const TAudioFile f(files[i]);
    EXPECT_EQ(o.at("path"), files[i]);
    EXPECT_EQ(o.at("kind"), AudioFileKindName(f.FileKind));
    EXPECT_EQ(o.at("kind_code"), static_cast<int>(f.FileKind));
    EXPECT_EQ(o.at("estimated_sectors"), f.EstimatedLength);
    EXPECT_NE(f.FileKind, afNone);
    EXPECT_GT(o.at("channels").get<int>(), 0);
    EXPECT_GE(o.at("sample_rate").get<int>(), 8000);
    for (const char* tag : {"title", "artist", "album", "year", "genre", "comment"})
      EXPECT_TRUE(o.at("tags").at(tag).is_string()) << tag;
    EXPECT_TRUE(o.at("tags").at("track").is_number());

    // The readers that were tried, and no other: all up to the accepting one.
    const json& readers = o.at("readers");
    const size_t accepted = static_cast<size_t>(
        std::find(order.begin(), order.end(), AudioFileKindName(f.FileKind)) - order.begin());
    for (size_t r = 0; r < order.size(); ++r) {
      EXPECT_EQ(readers.contains(order[r]), r <= accepted) << order[r];
    }
    if (readers.contains("MP3")) {
      for (const char* part : {"Frame", "VBR", "ID3v1", "ID3v2"}) EXPECT_TRUE(readers["MP3"].at(part).is_object());
      EXPECT_EQ(readers["MP3"].at("IsValid"), f.FileKind == afMP3);
    }
    if (readers.contains("WMA")) {
      EXPECT_EQ(readers["WMA"].at("Valid"), f.FileKind == afWMA);
    }
    if (readers.contains("OGG")) {
      EXPECT_EQ(readers["OGG"].at("IsValid"), f.FileKind == afOGG);
    }
    if (f.FileKind == afWAV) {
      EXPECT_EQ(readers["WAV"].at("DurationSectors"), f.WAVFile->DurationSectors());
      EXPECT_EQ(readers["WAV"].at("HeaderSize"), f.WAVFile->HeaderSize);
    }
    if (f.FileKind == afOGG) {
      EXPECT_EQ(o.at("tags").at("title"), f.OGGFile->Title);
      EXPECT_EQ(readers["OGG"].at("SampleRate"), f.OGGFile->SampleRate);
    }
    if (f.FileKind == afWMA) {
      EXPECT_EQ(o.at("tags").at("artist"), f.WMAFile->Artist);
    }
  }
}

TEST_F(ProbeCommand, M4AGivesKindFormatExactLengthAndTags) {
  const std::string dir = std::string(CORVID_FIXTURES_DIR) + "/codecs/";
  const TRun run = RunTool({"probe", "--json", dir + "tone-alac.m4a", dir + "tone-aac.m4a", dir + "mono22k-aac.m4a"});
  ASSERT_EQ(run.Status, 0);
  const json out = json::parse(run.Out);
  ASSERT_EQ(out.size(), 3u);
  struct TWant {
    const char* Title;
    int Channels, Rate, Bits, Track;
  };
  const TWant want[] = {{"Alac Title", 2, 44100, 16, 5}, {"Aac Title", 2, 44100, 0, 6}, {"", 1, 22050, 0, 0}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(out[i].at("path").get<std::string>());
    EXPECT_EQ(out[i].at("kind"), "M4A");
    EXPECT_EQ(out[i].at("kind_code"), 7);
    EXPECT_EQ(out[i].at("channels"), want[i].Channels);
    EXPECT_EQ(out[i].at("sample_rate"), want[i].Rate);
    EXPECT_EQ(out[i].at("bits"), want[i].Bits);
    // 16208 frames at 44.1 kHz: 27.6 sectors, a part counted whole.
    EXPECT_EQ(out[i].at("length_sectors"), 28);
    EXPECT_EQ(out[i].at("estimated_sectors"), 28);
    EXPECT_EQ(out[i].at("tags").at("title"), want[i].Title);
    EXPECT_EQ(out[i].at("tags").at("track"), want[i].Track);
    EXPECT_EQ(out[i].at("readers").at("M4A").at("Valid"), true);
  }
  EXPECT_EQ(out[0].at("tags").at("artist"), "Alac Artist");
  EXPECT_EQ(out[0].at("tags").at("album"), "Alac Album");
  EXPECT_EQ(out[1].at("readers").at("M4A").at("EncoderDelay"), 1024);
  EXPECT_EQ(out[1].at("readers").at("M4A").at("PlayableFrames"), 16208);
}

TEST_F(ProbeCommand, UnopenableFileIsReportedAndTheOthersAreStillProbed) {
  const std::string wav = testing::Fixture("wav/pcm16_stereo_44k.wav");
  const std::string ogg = testing::Fixture("ogg/tagged_stereo_44k.ogg");
  const TRun run = RunTool({"probe", "--json", wav, "/nonexistent/corvid.ogg", ogg});
  EXPECT_EQ(run.Status, 1);
  const json out = json::parse(run.Out);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].at("kind"), "WAV");
  EXPECT_EQ(out[1].at("kind"), "none");
  EXPECT_EQ(out[1].at("kind_code"), 0);
  EXPECT_EQ(out[1].at("error"), "I/O error 2");
  EXPECT_EQ(out[2].at("kind"), "OGG");
  EXPECT_EQ(out[2].at("tags").at("track"), 3);
}

TEST_F(ProbeCommand, TextLinePerFile) {
  const std::string wav = testing::Fixture("wav/pcm16_stereo_44k.wav");
  const std::string ogg = testing::Fixture("ogg/tagged_stereo_44k.ogg");
  const TRun run = RunTool({"probe", "--no-measure", wav, ogg, "/nonexistent/corvid.wav"});
  EXPECT_EQ(run.Status, 1);
  EXPECT_EQ(run.Out,
            wav + "\tWAV\t00:01:00\t2 ch\t44100 Hz\t1411 kbit/s\t\t\n" +
            ogg + "\tOGG\t00:02:01\t2 ch\t44100 Hz\t" + std::to_string(TAudioFile(ogg).OGGFile->BitRateNominal) +
            " kbit/s\tTone \xF0\x9F\x8E\xB5 Ünïcode\tCorvid Test\n");
}

TEST_F(ProbeCommand, UnknownFileIsNoneWithoutError) {
  testing::TempDir dir;
  const std::string junk = dir.Write("junk.mp3", testing::Bytes(3000, 0x5A));
  const TRun run = RunTool({"probe", "--json", junk});
  EXPECT_EQ(run.Status, 0);
  const json out = json::parse(run.Out);
  EXPECT_EQ(out[0].at("kind"), "none");
  EXPECT_EQ(out[0].at("estimated_sectors"), 0);
  EXPECT_FALSE(out[0].contains("error"));
  EXPECT_EQ(out[0].at("readers").size(), 8u);  // FLAC, OPUS, M4A, AIFF, then WMA, MP3, OGG, WAV
}

TEST_F(ProbeCommand, LaterKindsGiveTheirParametersTagsAndExactLength) {
  struct TCase {
    const char* file;
    const char* kind;
    int rate, channels, bits;
    const char* title;
    int track;
  };
  const TCase cases[] = {
      {"flac/tone44_16_2.flac", "FLAC", 44100, 2, 16, "Flac Title", 3},
      {"opus/tone44_2.opus", "OPUS", 48000, 2, 0, "Opus Title", 7},
      {"aiff/tagged.aiff", "AIFF", 44100, 2, 16, "Aiff Title", 5},
  };
  std::vector<std::string> args = {"probe", "--json"};
  for (const TCase& c : cases) args.push_back(testing::Fixture(c.file));
  const TRun run = RunTool(args);
  ASSERT_EQ(run.Status, 0);
  const json out = json::parse(run.Out);
  ASSERT_EQ(out.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TCase& c = cases[i];
    SCOPED_TRACE(c.file);
    const json& o = out[i];
    EXPECT_EQ(o.at("kind"), c.kind);
    EXPECT_EQ(o.at("sample_rate"), c.rate);
    EXPECT_EQ(o.at("channels"), c.channels);
    EXPECT_EQ(o.at("bits"), c.bits);
    EXPECT_EQ(o.at("tags").at("title"), c.title);
    EXPECT_EQ(o.at("tags").at("track"), c.track);
    EXPECT_FALSE(o.at("tags").at("artist").get<std::string>().empty());
    EXPECT_FALSE(o.at("tags").at("album").get<std::string>().empty());
    TAudioFile f(testing::Fixture(c.file));
    if (!HasKind(f.SupportedKinds, f.FileKind)) continue;  // its codec is not built in
    uint64_t frames = 0;
    ASSERT_TRUE(f.CountLength(frames));
    EXPECT_EQ(o.at("length_counted"), true);
    EXPECT_EQ(o.at("length_sectors"), (frames + 587) / 588);
  }
}

TEST_F(ProbeCommand, CueSheetIsProbedAsItsTracks) {
  const std::string cue = testing::Fixture("cue/album-mp3.cue");
  const std::string mp3 = testing::Fixture("cue/album.mp3");
  const TRun run = RunTool({"probe", "--json", cue});
  EXPECT_EQ(run.Status, 0);
  const json out = json::parse(run.Out);
  ASSERT_EQ(out.size(), 3u);
  TAudioFile whole(mp3);
  whole.CalcLength();
  const std::int64_t starts[] = {0, (1 * 75 + 70) * 588, (4 * 75 + 5) * 588};
  const char* titles[] = {"Low", "Middle", "High"};
  std::int64_t sum = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(out[i].at("path"), cue.substr(0, cue.rfind('/') + 1) + "album.mp3");
    EXPECT_EQ(out[i].at("kind"), "MP3");
    const json& list = out[i].at("list");
    EXPECT_EQ(list.at("file"), cue);
    EXPECT_EQ(list.at("track"), static_cast<int>(i) + 1);
    EXPECT_EQ(list.at("title"), titles[i]);
    EXPECT_EQ(list.at("performer"), "Corvid Test Band");
    EXPECT_EQ(list.at("start_sample"), starts[i]);
    const std::int64_t end = i < 2 ? starts[i + 1] : static_cast<std::int64_t>(whole.LengthSamples);
    if (i < 2) {
      EXPECT_EQ(list.at("end_sample"), end);
    } else {
      EXPECT_TRUE(list.at("end_sample").is_null());
    }
    EXPECT_EQ(out[i].at("length_sectors"), (end - starts[i] + 587) / 588);
    EXPECT_EQ(out[i].at("file_length_sectors"), whole.LengthSectors);
    sum += end - starts[i];
  }
  EXPECT_EQ(sum, static_cast<std::int64_t>(whole.LengthSamples));
}

TEST_F(ProbeCommand, BadListIsReportedWithItsLineAndTheOthersAreStillProbed) {
  testing::TempDir dir;
  const std::string wav = testing::Fixture("wav/pcm16_stereo_44k.wav");
  const std::string list = dir.Write("bad.pls", testing::Bytes{});
  {
    std::FILE* f = std::fopen(list.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("[playlist]\nFile1=" , f);
    std::fputs(wav.c_str(), f);
    std::fputs("\nFile2=https://radio.example/live\n", f);
    std::fclose(f);
  }
  const TRun run = RunTool({"probe", "--json", "--no-measure", list, wav});
  EXPECT_EQ(run.Status, 1);
  const json out = json::parse(run.Out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].at("path"), list);
  EXPECT_EQ(out[0].at("kind"), "none");
  EXPECT_EQ(out[0].at("error"), list + " line 3: \"https://radio.example/live\" is not a local file (only files can be burned)");
  EXPECT_EQ(out[1].at("kind"), "WAV");
  EXPECT_FALSE(out[1].contains("list"));
}

}  // namespace
}  // namespace cv
