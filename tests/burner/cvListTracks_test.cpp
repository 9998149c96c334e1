// Tracks that are parts of files: the decoder's range (sample-exact against
// a full decode, seeking or discarding), the measuring of playlists and cue
// sheets with the component, and one-file albums with a cue sheet burnt onto
// the virtual recorder and read back from its disc.bin and disc.cue.
#include "burner/cvListTracks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvBurnRecord.h"
#include "burner/cvTrackSource.h"
#include "burner_test_support.h"
#include "decode/cvAudFiles.h"

namespace cv {
namespace {

namespace fs = std::filesystem;
using test::TBurnerRig;
using test::TRecorderDir;

const fs::path kCueDir = fs::path(CORVID_FIXTURES_DIR) / "cue";

// A folder for the files a test writes.
class TTempDir {
 public:
  TTempDir() {
    char pattern[] = "/tmp/corvid-ranges-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    Dir_ = made ? made : "/tmp/corvid-ranges";
  }
  ~TTempDir() {
    std::error_code ignored;
    fs::remove_all(Dir_, ignored);
  }
  std::string Write(const std::string& name, const std::string& text) const {
    std::ofstream(Dir_ / name, std::ios::binary) << text;
    return (Dir_ / name).string();
  }
  std::string Path(const std::string& name) const { return (Dir_ / name).string(); }

 private:
  fs::path Dir_;
};

// A RIFF/WAVE file of `frames` sample frames: rate Hz, 16-bit stereo, every
// frame different (a counter on the left, a ramp on the right), so that any
// shift of a range shows.
std::string WriteWav(const std::string& path, std::uint32_t frames, std::uint32_t rate = 44100) {
  const std::uint32_t bytes = frames * 4;
  std::vector<std::uint8_t> file(44 + bytes);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  auto put16 = [&](std::size_t at, std::uint16_t v) {
    file[at] = static_cast<std::uint8_t>(v);
    file[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  std::memcpy(&file[0], "RIFF", 4);
  put32(4, 36 + bytes);
  std::memcpy(&file[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 2);
  put32(24, rate);
  put32(28, rate * 4);
  put16(32, 4);
  put16(34, 16);
  std::memcpy(&file[36], "data", 4);
  put32(40, bytes);
  for (std::uint32_t i = 0; i < frames; ++i) {
    put16(44 + i * 4, static_cast<std::uint16_t>(i * 7));
    put16(44 + i * 4 + 2, static_cast<std::uint16_t>((i % 1000) * 30 - 15000));
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  return path;
}

// What a ranged decode delivers.
std::vector<std::uint8_t> DecodeRange(const std::string& path, std::int64_t start, std::int64_t end) {
  TTrackDecoder decoder(path);
  decoder.SetRange(start, end);
  std::vector<std::uint8_t> pcm;
  if (!decoder.PrepareDecoding()) return pcm;
  for (int calls = 0; calls < 10000000; ++calls) {
    const std::int32_t result = decoder.DecodeBlock();
    pcm.insert(pcm.end(), decoder.OutputBuffer(), decoder.OutputBuffer() + decoder.OutputLength());
    if (result == -1) break;
  }
  return pcm;
}

// The samples [start, end) of a full decode (end -1 or beyond: to its end).
std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& pcm, std::int64_t start, std::int64_t end) {
  const auto size = static_cast<std::int64_t>(pcm.size());
  const std::int64_t from = std::min(size, start * 4);
  const std::int64_t to = end < 0 ? size : std::min(size, end * 4);
  if (to <= from) return {};
  return {pcm.begin() + from, pcm.begin() + to};
}

// Each range decoded on its own equals the same samples of the whole file's
// decode, and measures as long as it is.
void ExpectRangesExact(const std::string& path) {
  const auto whole = test::DecodeAll(path);
  ASSERT_GT(whole.size(), 4u * 20000);
  const std::int64_t total = static_cast<std::int64_t>(whole.size() / 4);
  const std::pair<std::int64_t, std::int64_t> ranges[] = {
      {0, 588},          {0, -1},          {1, 2},          {588 * 3, 588 * 20 + 17}, {12345, -1},
      {total - 1, -1},   {total - 5000, total + 5000},      {total, -1},              {total + 100, -1},
  };
  for (const auto& [start, end] : ranges) {
    SCOPED_TRACE(path + " [" + std::to_string(start) + ", " + std::to_string(end) + ")");
    const auto expected = Slice(whole, start, end);
    const auto got = DecodeRange(path, start, end);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
    TTrackDecoder measure(path);
    measure.SetRange(start, end);
    EXPECT_EQ(measure.MeasureSamples(), static_cast<std::int64_t>(expected.size() / 4));
    EXPECT_EQ(measure.FileSamples(), total);
    TTrackDecoder sectors(path);  // a decoder measures once
    sectors.SetRange(start, end);
    EXPECT_EQ(sectors.MeasureSectors(), SamplesToSectors(static_cast<std::int64_t>(expected.size() / 4)));
  }
}

TEST(TrackRange, WavAt44100MovesToTheStartSampleExact) {
  TTempDir dir;
  ExpectRangesExact(WriteWav(dir.Path("cd.wav"), 44100 + 333));
}

TEST(TrackRange, ResampledWavAndMp3DecodeAndDiscardSampleExact) {
  TTempDir dir;
  ExpectRangesExact(WriteWav(dir.Path("48k.wav"), 48000, 48000));
  ExpectRangesExact((kCueDir / "album.mp3").string());
}

TEST(TrackRange, SamplesToSectorsRoundsUp) {
  EXPECT_EQ(SamplesToSectors(0), 0);
  EXPECT_EQ(SamplesToSectors(-5), 0);
  EXPECT_EQ(SamplesToSectors(1), 1);
  EXPECT_EQ(SamplesToSectors(588), 1);
  EXPECT_EQ(SamplesToSectors(589), 2);
  EXPECT_EQ(SamplesToSectors(std::int64_t{1} << 62), 2147483647);
}

// The INDEX 01 of each track of the recorder's disc.cue, in sectors.
std::vector<std::int64_t> DiscTrackStarts(const std::string& cue) {
  std::vector<std::int64_t> starts;
  const std::regex index(R"(INDEX 01 (\d+):(\d+):(\d+))");
  for (auto it = std::sregex_iterator(cue.begin(), cue.end(), index); it != std::sregex_iterator(); ++it)
    starts.push_back((std::stoll((*it)[1]) * 60 + std::stoll((*it)[2])) * 75 + std::stoll((*it)[3]));
  return starts;
}

// Burns what the lists name and checks that every track on the disc holds
// exactly its part of its file's decode, then silence to its length.
void BurnListsAndCompare(const std::vector<std::string>& paths, std::size_t expectedTracks) {
  TRecorderDir dir;
  TBurnerRig rig;
  TKAudioCDBurner& burner = *rig.Burner;
  std::vector<TMeasuredTrack> tracks;
  std::string problem;
  ASSERT_TRUE(MeasureTracks(burner, paths, tracks, problem)) << problem;
  ASSERT_EQ(tracks.size(), expectedTracks);
  for (const TMeasuredTrack& t : tracks)
    ASSERT_TRUE(burner.AddTrack(t.Track.Path, t.LengthSectors, 0, t.Track.StartSample, t.Track.EndSample));
  bool done = false;
  bool withError = true;
  burner.OnWriteDone = [&](TKAudioCDBurner*, std::uint16_t, bool error) {
    withError = error;
    done = true;
  };
  burner.SetCacheSize(8388608);
  ASSERT_TRUE(burner.Burn()) << burner.GetErrorText();
  ASSERT_TRUE(rig.WaitDone(done));
  ASSERT_FALSE(withError) << burner.GetErrorText();

  const auto image = dir.Image();
  const std::string cue = dir.Cue();
  const auto starts = DiscTrackStarts(cue);
  ASSERT_EQ(starts.size(), expectedTracks) << cue;
  std::map<std::string, std::vector<std::uint8_t>> decoded;
  for (std::size_t i = 0; i < tracks.size(); ++i) {
    const TListTrack& t = tracks[i].Track;
    SCOPED_TRACE(DescribeTrack(t));
    if (!decoded.count(t.Path)) decoded[t.Path] = test::DecodeAll(t.Path);
    auto expected = Slice(decoded[t.Path], t.StartSample, t.EndSample);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(tracks[i].LengthSectors, SamplesToSectors(static_cast<std::int64_t>(expected.size() / 4)));
    expected.resize(static_cast<std::size_t>(std::max(tracks[i].LengthSectors, kMinTrackSectors)) * kSectorBytes, 0);
    const std::size_t at = static_cast<std::size_t>(starts[i]) * kSectorBytes;
    ASSERT_LE(at + expected.size(), image.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.begin() + static_cast<std::ptrdiff_t>(at)));
    if (i + 1 < starts.size()) {
      EXPECT_EQ(starts[i + 1] - starts[i], static_cast<std::int64_t>(expected.size() / kSectorBytes));
    }
  }
}

TEST(ListBurn, WavWithCueSheetBurnsAsItsTracks) {
  TTempDir dir;
  // 30 s: three tracks longer than the 4-second minimum, starts off whole
  // seconds, the last to the end of the file (not a whole sector).
  WriteWav(dir.Path("album.wav"), 30 * 44100 + 100);
  const std::string cue = dir.Write("album.cue",
                                    "FILE \"album.wav\" WAVE\n"
                                    "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                    "  TRACK 02 AUDIO\n    INDEX 00 00:09:00\n    INDEX 01 00:10:33\n"
                                    "  TRACK 03 AUDIO\n    INDEX 01 00:21:74\n");
  BurnListsAndCompare({cue}, 3);
}

TEST(ListBurn, Mp3WithCueSheetBurnsAsItsTracks) {
  BurnListsAndCompare({(kCueDir / "album-mp3.cue").string()}, 3);
}

TEST(ListBurn, FlacWithCueSheetBurnsAsItsTracks) {
  if (!CORVID_WITH_FLAC) GTEST_SKIP() << "built without the FLAC driver (-DCORVID_WITH_FLAC=OFF)";
  ASSERT_TRUE(HasKind(SupportedAudioKinds(), afFLAC));
  ASSERT_EQ(TTrackDecoder((kCueDir / "album.flac").string()).FileKind(), afFLAC);
  BurnListsAndCompare({(kCueDir / "album-flac.cue").string()}, 3);
}

TEST(ListBurn, PlaylistOfFilesAndACueSheet) {
  TTempDir dir;
  WriteWav(dir.Path("a.wav"), 5 * 44100);
  const std::string list =
      dir.Write("mix.m3u8", "#EXTM3U\n#EXTINF:5,Counter\na.wav\n" + (kCueDir / "album-mp3.cue").string() + "\n");
  BurnListsAndCompare({list}, 4);
}

TEST(ListMeasure, EachFileIsMeasuredOnceAndRangesAreChecked) {
  TTempDir dir;
  TBurnerRig rig;
  WriteWav(dir.Path("short.wav"), 10 * 44100);
  dir.Write("text.wav", "not audio at all");
  std::vector<TMeasuredTrack> tracks;
  std::string problem;

  const std::string good = dir.Write("good.cue",
                                     "FILE short.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                     "TRACK 02 AUDIO\nINDEX 01 00:02:00\n");
  ASSERT_TRUE(MeasureTracks(*rig.Burner, {good}, tracks, problem)) << problem;
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0].LengthSectors, 150);
  EXPECT_EQ(tracks[1].LengthSectors, 600);
  EXPECT_EQ(tracks[1].FileSamples, 10 * 44100);
  EXPECT_EQ(tracks[1].FileKind, 1);

  const std::string late = dir.Write("late.cue",
                                     "FILE short.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
                                     "TRACK 02 AUDIO\nINDEX 01 00:10:00\n");
  EXPECT_FALSE(MeasureTracks(*rig.Burner, {good, late}, tracks, problem));
  EXPECT_TRUE(tracks.empty());
  EXPECT_EQ(problem, late + " line 5: track 2 starts at 00:10:00, at or beyond the end of " + dir.Path("short.wav") +
                         " (00:10:00)");

  const std::string notAudio = dir.Write("bad.m3u", "short.wav\ntext.wav\n");
  EXPECT_FALSE(MeasureTracks(*rig.Burner, {notAudio}, tracks, problem));
  EXPECT_EQ(problem, dir.Path("text.wav") + ": not an audio file (named in " + notAudio + " line 2)");

  EXPECT_FALSE(MeasureTracks(*rig.Burner, {dir.Path("gone.wav")}, tracks, problem));
  EXPECT_EQ(problem, dir.Path("gone.wav") + ": cannot be read (CAN'T OPEN FILE FOR READ)");

  const std::string loop = dir.Write("loop.m3u", "short.wav\nloop.m3u\n");
  EXPECT_FALSE(MeasureTracks(*rig.Burner, {loop}, tracks, problem));
  EXPECT_NE(problem.find(loop + " line 2: "), std::string::npos) << problem;
}

TEST(ListMeasure, AddTrackRefusesAnEmptyOrReversedRange) {
  TTempDir dir;
  TBurnerRig rig;
  const std::string wav = WriteWav(dir.Path("a.wav"), 44100);
  EXPECT_FALSE(rig.Burner->AddTrack(wav, 0, 0, 100, 100));
  EXPECT_EQ(rig.Burner->GetErrorText(), "TRACK HAS NO AUDIO");
  EXPECT_FALSE(rig.Burner->AddTrack(wav, 0, 0, -1, 100));
  EXPECT_EQ(rig.Burner->GetTrackCount(), 0);
  // Measured by AddTrack itself: the range's length.
  EXPECT_TRUE(rig.Burner->AddTrack(wav, 0, 0, 588 * 10, 588 * 30 + 1));
  EXPECT_EQ(rig.Burner->GetTotalSectors(), kMinTrackSectors);
  TAudioFiles files;
  ASSERT_EQ(AddTrack(files, wav, 0, 0, 588 * 10, 588 * 30 + 1), TAddTrackResult::Added);
  EXPECT_EQ(files.Tracks[0].LengthSectors, 21);
  EXPECT_EQ(files.Tracks[0].StartSample, 588 * 10);
  EXPECT_EQ(files.Tracks[0].EndSample, 588 * 30 + 1);
}

}  // namespace
}  // namespace cv
