// Session-At-Once burns of real files onto the virtual recorder, checked as
// a reader of the disc checks them: the image holds exactly the decoded
// audio where the table of contents says, gapless joins run on without a
// break, the CD-TEXT comes back from the lead-in (READ TOC format 5, and
// disc.cdt) and the codes from the Q sub-channel (READ SUB-CHANNEL); and
// the recorder's refusals drive the writer's fallbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvSAOWriter.h"
#include "decode/cvAudFiles.h"
#include "burner_test_support.h"
#include "tests/cvTestWav.h"
#include "device/cvTransport.h"
#include "vrecorder/cvVirtualCueSheet.h"
#include "vrecorder/cvVirtualRecorder.h"

namespace cv {
namespace {

using cvtest::WriteWav;
using test::TBurnerRig;
using test::TRecorderDir;

constexpr std::size_t kSector = 2352;
constexpr std::size_t kSamplesPerSector = 588;

std::string Tagged(const char* name) { return (std::filesystem::path(CORVID_FIXTURES_DIR) / "tags" / name).string(); }

struct TOutcome {
  bool Started = false;
  bool WithError = false;
  std::string ErrorText;
  std::string DiscState;
  std::vector<std::string> Notes;
};

TOutcome BurnSAO(TBurnerRig& rig, const std::vector<std::string>& files, const TSAOOptions& options,
                 std::uint16_t pause) {
  TOutcome outcome;
  TKAudioCDBurner& burner = *rig.Burner;
  bool done = false;
  burner.OnWriteDone = [&](TKAudioCDBurner* sender, std::uint16_t, bool withError) {
    outcome.WithError = withError;
    outcome.ErrorText = sender->GetErrorText();
    done = true;
  };
  EXPECT_TRUE(burner.ClearTracks());
  burner.SetWriteMode(TWriteMode::SessionAtOnce, options);
  for (const auto& file : files)
    EXPECT_TRUE(burner.AddTrack(file, burner.GetFileLength(file), pause)) << file << ": " << burner.GetErrorText();
  burner.SetCacheSize(8388608);
  outcome.Started = burner.Burn();
  if (!outcome.Started) {
    outcome.ErrorText = burner.GetErrorText();
    outcome.Notes = burner.GetBurnNotes();
    return outcome;
  }
  EXPECT_TRUE(rig.WaitDone(done));
  outcome.DiscState = burner.GetDiscState();
  outcome.Notes = burner.GetBurnNotes();
  return outcome;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const auto& line : lines) text += line + "\n";
  return text;
}

// One command sent to the recorder as a reader sends it, after the burn
// (the component is gone by then).
struct TReply {
  bool Good = false;
  std::uint8_t Key = 0, Asc = 0;
  std::vector<std::uint8_t> Data;
};
TReply Command(std::vector<std::uint8_t> cdb, std::size_t length) {
  TReply reply;
  const auto transport = OpenVirtualRecorder();
  if (!transport) return reply;
  reply.Data.assign(length, 0);
  const TScsiCommand command{cdb, length ? TDataDirection::FromDevice : TDataDirection::None, reply.Data, 0};
  const TScsiOutcome outcome = transport->Execute(command);
  reply.Good = outcome.Good();
  if (outcome.SenseLength) {
    reply.Key = outcome.Sense[2] & 0x0F;
    reply.Asc = outcome.Sense[12];
  }
  reply.Data.resize(length - std::min<std::size_t>(outcome.Residual, length));
  return reply;
}
TReply ReadToc(std::uint8_t format, std::uint16_t length = 4096) {
  return Command({0x43, 0, format, 0, 0, 0, 0, static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0},
                 length);
}
TReply SubChannel(std::uint8_t format, std::uint8_t track = 0) {
  return Command({0x42, 0x00, 0x40, format, 0, 0, track, 0, 24, 0}, 24);
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// CD-TEXT read as a player reads it, independently of the encoder and of
// the recorder: the texts of one pack type in order (disc first, then each
// track), each pack's CRC checked on the way.
std::vector<std::string> PackTexts(std::span<const std::uint8_t> packs, std::uint8_t type) {
  std::string stream;
  for (std::size_t at = 0; at + 18 <= packs.size(); at += 18) {
    const std::uint8_t* p = packs.data() + at;
    std::uint16_t crc = 0;
    for (int i = 0; i < 16; ++i) {
      crc ^= static_cast<std::uint16_t>(p[i] << 8);
      for (int b = 0; b < 8; ++b) crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    EXPECT_EQ(static_cast<std::uint16_t>(~crc), static_cast<std::uint16_t>(p[16] << 8 | p[17])) << "pack " << at / 18;
    if (p[0] == type) stream.append(reinterpret_cast<const char*>(p + 4), 12);
  }
  std::vector<std::string> texts;
  std::size_t start = 0;
  for (std::size_t i = 0; i < stream.size(); ++i) {
    if (stream[i] != '\0') continue;
    if (i == start && texts.size() > 0 && stream.find_first_not_of('\0', i) == std::string::npos) break;
    std::string text = stream.substr(start, i - start);
    if (text == "\t" && !texts.empty()) text = texts.back();
    texts.push_back(text);
    start = i + 1;
  }
  return texts;
}

std::size_t SectorsFor(std::size_t bytes) { return (bytes + kSector - 1) / kSector; }

bool AllZero(const std::vector<std::uint8_t>& image, std::size_t from, std::size_t to) {
  if (to > image.size()) return false;
  return std::all_of(image.begin() + static_cast<std::ptrdiff_t>(from), image.begin() + static_cast<std::ptrdiff_t>(to),
                     [](std::uint8_t b) { return b == 0; });
}

// --- Four kinds of tags, four codecs -------------------------------------------

// What each tagged fixture carries, as ISO-8859-1 CD-TEXT (characters
// outside it checked separately).
struct TTagged {
  const char* Name;
  const char* Isrc;
  const char* Title;  // nullptr: has characters outside ISO-8859-1
  const char* Performer;
  const char* Songwriter;
};
constexpr TTagged kTagged[] = {
    {"01-id3.mp3", "GBAYE0601498", nullptr, "Zo\xEB Keating", "Fr\xE9" "d\xE9ric Chopin"},
    {"02-vorbis.ogg", "USABC2500002", "Second Movement", "Ensemble Vorbis", "Clara Schumann"},
    {"03-flac.flac", "NOXYZ2500003", nullptr, "FLAC Quartet", "Edvard Grieg"},
    {"04-alac.m4a", "SEABC2500004", "Fourth, in MP4", "ALAC Trio", "Amy Beach"},
};

TEST(SAOBurn, TaggedFilesOfEveryKindLandWithTheirAudioTextsAndCodes) {
  TRecorderDir dir;
  // FLAC takes part where this build decodes it (its tags are read either
  // way: see the track tag tests).
  std::vector<TTagged> tagged;
  for (const TTagged& t : kTagged)
    if (std::string(t.Name) != "03-flac.flac" || HasKind(SupportedAudioKinds(), afFLAC)) tagged.push_back(t);
  std::vector<std::string> files;
  for (const TTagged& t : tagged) files.push_back(Tagged(t.Name));
  const std::size_t n = files.size();
  TOutcome outcome;
  {
    TBurnerRig rig;
    TSAOOptions options;
    options.Mcn = "4006381333931";
    outcome = BurnSAO(rig, files, options, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText << "\n" << Joined(outcome.Notes);
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText << "\n" << outcome.DiscState;
  EXPECT_NE(outcome.DiscState.find("closed with " + std::to_string(n) + " tracks"), std::string::npos)
      << outcome.DiscState;

  // The table of contents: track 1 at LBA 0, each later track after its
  // own audio (whole sectors) and a two-second pregap.
  const TVRState state = dir.Load();
  ASSERT_EQ(state.Disc.Tracks.size(), n);
  EXPECT_TRUE(state.Disc.Complete);
  EXPECT_EQ(state.Disc.Mcn, "4006381333931");
  const std::vector<std::uint8_t> image = dir.Image();
  std::int32_t expectedStart = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const TVRTrack& track = state.Disc.Tracks[i];
    const std::vector<std::uint8_t> pcm = test::DecodeAll(files[i]);
    ASSERT_FALSE(pcm.empty()) << files[i];
    EXPECT_EQ(track.Start, expectedStart) << "track " << i + 1;
    EXPECT_EQ(track.Pregap, 150) << "track " << i + 1;
    EXPECT_EQ(track.Isrc, tagged[i].Isrc);
    // The decoded audio byte for byte, then silence up to the next track.
    const std::size_t at = static_cast<std::size_t>(track.Start) * kSector;
    ASSERT_LE(at + pcm.size(), image.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), image.begin() + static_cast<std::ptrdiff_t>(at))) << files[i];
    const std::size_t sectors = std::max<std::size_t>(SectorsFor(pcm.size()), 301);
    EXPECT_EQ(track.Length, static_cast<std::int32_t>(sectors)) << "track " << i + 1;
    const std::size_t next = at + (sectors + (i + 1 < n ? 150 : 0)) * kSector;
    EXPECT_TRUE(AllZero(image, at + pcm.size(), next)) << "after track " << i + 1;
    expectedStart += static_cast<std::int32_t>(sectors) + 150;
  }
  EXPECT_EQ(image.size(), static_cast<std::size_t>(state.Disc.Tracks.back().End()) * kSector);

  // CD-TEXT from the lead-in, as READ TOC format 5 gives it and as disc.cdt
  // keeps it: the same packs.
  const TReply toc5 = ReadToc(5);
  ASSERT_TRUE(toc5.Good);
  ASSERT_GT(toc5.Data.size(), 4u);
  const std::size_t length = static_cast<std::size_t>(toc5.Data[0] << 8 | toc5.Data[1]) + 2;
  ASSERT_EQ(length, toc5.Data.size());
  const std::span<const std::uint8_t> packs = std::span(toc5.Data).subspan(4);
  EXPECT_EQ(packs.size() % 18, 0u);
  const std::vector<std::uint8_t> cdt = ReadBytes(dir.Path() / "disc.cdt");
  EXPECT_TRUE(std::equal(packs.begin(), packs.end(), cdt.begin(), cdt.end()));
  const std::vector<std::string> titles = PackTexts(packs, 0x80);
  const std::vector<std::string> performers = PackTexts(packs, 0x81);
  const std::vector<std::string> songwriters = PackTexts(packs, 0x82);
  ASSERT_EQ(titles.size(), n + 1);
  ASSERT_EQ(performers.size(), n + 1);
  ASSERT_EQ(songwriters.size(), n + 1);
  // The disc: the first file's album and album artist.
  EXPECT_EQ(titles[0], "Gapless \xC9tudes");
  EXPECT_EQ(performers[0], "The Album Artist");
  for (std::size_t i = 0; i < n; ++i) {
    if (tagged[i].Title) {
      EXPECT_EQ(titles[i + 1], tagged[i].Title);
    } else {
      // Characters outside ISO-8859-1 become readable ones.
      EXPECT_FALSE(titles[i + 1].empty());
      for (const unsigned char c : titles[i + 1]) EXPECT_TRUE(c >= 0x20 && c != 0x7F) << titles[i + 1];
    }
    EXPECT_EQ(performers[i + 1], tagged[i].Performer);
    EXPECT_EQ(songwriters[i + 1], tagged[i].Songwriter);
  }
  // "Łódź Nocturne — ‘Live’": ó is ISO-8859-1, Ł, ź, the dash and the
  // quotes have readable stand-ins.
  EXPECT_EQ(titles[1], "L\xF3" "dz Nocturne - 'Live'");

  // The image's cue sheet names the same (as UTF-8).
  const std::string cue = dir.Cue();
  EXPECT_NE(cue.find("CATALOG 4006381333931"), std::string::npos) << cue;
  EXPECT_NE(cue.find("CDTEXTFILE \"disc.cdt\""), std::string::npos) << cue;
  EXPECT_NE(cue.find("TITLE \"Gapless \xC3\x89tudes\""), std::string::npos) << cue;
  EXPECT_NE(cue.find("PERFORMER \"Zo\xC3\xAB Keating\""), std::string::npos) << cue;
  EXPECT_NE(cue.find("SONGWRITER \"Clara Schumann\""), std::string::npos) << cue;
  EXPECT_NE(cue.find("TITLE \"Fourth, in MP4\""), std::string::npos) << cue;
  EXPECT_NE(cue.find("SONGWRITER \"Amy Beach\""), std::string::npos) << cue;
  for (const TTagged& t : tagged) EXPECT_NE(cue.find(std::string("ISRC ") + t.Isrc), std::string::npos) << cue;

  // The codes from the Q sub-channel.
  const TReply mcn = SubChannel(0x02);
  ASSERT_TRUE(mcn.Good);
  ASSERT_GE(mcn.Data.size(), 24u);
  EXPECT_TRUE(mcn.Data[8] & 0x80);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&mcn.Data[9]), 13), "4006381333931");
  for (std::size_t t = 1; t <= n; ++t) {
    const TReply isrc = SubChannel(0x03, static_cast<std::uint8_t>(t));
    ASSERT_TRUE(isrc.Good);
    ASSERT_GE(isrc.Data.size(), 24u);
    EXPECT_TRUE(isrc.Data[8] & 0x80) << t;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&isrc.Data[9]), 12), tagged[t - 1].Isrc);
  }
}

// --- Gapless joins --------------------------------------------------------------

// One continuous piece (real decoded audio, three files end to end) cut into
// three WAVs at sample positions off the sector grid.
struct TPiece {
  std::vector<std::uint8_t> Pcm;
  std::vector<std::size_t> Cuts;  // sample positions where tracks 2 and 3 start
  std::vector<std::string> Files;
};
TPiece CutPiece(const std::filesystem::path& dir) {
  TPiece piece;
  for (const char* name : {"03-coda.ogg", "02-theme.mp3", "01-intro.wav"}) {
    const auto pcm = test::DecodeAll(test::DemoFile(name));
    piece.Pcm.insert(piece.Pcm.end(), pcm.begin(), pcm.end());
  }
  const std::size_t samples = piece.Pcm.size() / 4;
  // Off the grid by 100 and by 400 samples (the nearest sector boundary is
  // then before and after the cut).
  piece.Cuts = {301 * kSamplesPerSector + 40 * kSamplesPerSector + 100,
                2 * 301 * kSamplesPerSector + 90 * kSamplesPerSector + 400};
  EXPECT_GT(samples, piece.Cuts[1] + 302 * kSamplesPerSector) << "the fixtures are too short for three tracks";
  std::size_t from = 0;
  for (std::size_t k = 0; k < 3; ++k) {
    const std::size_t to = k < 2 ? piece.Cuts[k] : samples;
    const auto path = dir / ("part" + std::to_string(k + 1) + ".wav");
    WriteWav(path, std::span(piece.Pcm).subspan(from * 4, (to - from) * 4));
    piece.Files.push_back(path.string());
    from = to;
  }
  return piece;
}

// Burns the cut piece with a pause of 0 and no CD-TEXT, and checks the
// image: the piece unbroken, each INDEX 01 at the sector nearest its cut,
// pregaps of one sector or none.
void BurnPieceGapless(const TRecorderDir& dir, bool onePregapSector) {
  const TPiece piece = CutPiece(dir.Path());
  TOutcome outcome;
  {
    TBurnerRig rig;
    TSAOOptions options;
    options.CDText = false;
    outcome = BurnSAO(rig, piece.Files, options, 0);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText << "\n" << outcome.DiscState;
  const TVRState state = dir.Load();
  ASSERT_EQ(state.Disc.Tracks.size(), 3u);
  const std::vector<std::uint8_t> image = dir.Image();
  // From track 1's INDEX 01 on, the piece unbroken: no silence at the joins.
  ASSERT_GE(image.size(), piece.Pcm.size());
  EXPECT_TRUE(std::equal(piece.Pcm.begin(), piece.Pcm.end(), image.begin()));
  EXPECT_TRUE(AllZero(image, piece.Pcm.size(), image.size()));
  EXPECT_EQ(image.size(), SectorsFor(piece.Pcm.size()) * kSector);
  // Each INDEX 01 at the sector nearest its cut.
  for (std::size_t k = 0; k < 2; ++k) {
    const TVRTrack& track = state.Disc.Tracks[k + 1];
    const auto nearest = static_cast<std::int32_t>((piece.Cuts[k] + kSamplesPerSector / 2) / kSamplesPerSector);
    EXPECT_EQ(track.Start, nearest) << "track " << k + 2;
    EXPECT_EQ(track.Pregap, onePregapSector ? 1 : 0) << "track " << k + 2;
  }
  EXPECT_EQ(state.Disc.Tracks[0].Start, 0);
}

TEST(SAOBurn, GaplessJoinsKeepAContinuousPieceUnbroken) {
  TRecorderDir dir;
  BurnPieceGapless(dir, false);
  // The image's cue: no INDEX 00 at the joins.
  EXPECT_EQ(dir.Cue().find("INDEX 00"), std::string::npos) << dir.Cue();
}

// --- The recorder's refusals and the writer's fallbacks ---------------------------

TEST(SAOBurn, ARecorderRefusingZeroPregapsGetsOneSectorPregapsWithTheSameAudio) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.CueRefuse = kVRRefuseZeroPregap; });
  BurnPieceGapless(dir, true);
}

TEST(SAOBurn, ALeadInRefusedAtZeroIsAnnouncedAtTheLeadInStart) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.CueRefuse = kVRRefuseLeadInZero; });
  TOutcome outcome;
  {
    TBurnerRig rig;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg"), Tagged("04-alac.m4a")}, TSAOOptions{}, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_EQ(Joined(outcome.Notes).find("CD-TEXT"), std::string::npos) << Joined(outcome.Notes);
  const std::vector<std::uint8_t> cdt = ReadBytes(dir.Path() / "disc.cdt");
  const std::vector<std::string> titles = PackTexts(cdt, 0x80);
  ASSERT_EQ(titles.size(), 3u);
  EXPECT_EQ(titles[1], "Second Movement");
}

TEST(SAOBurn, EveryLeadInFormRefusedGivesADiscWithoutCDTextAndANote) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.CueRefuse = kVRRefuseLeadInZero | kVRRefuseLeadInStart; });
  const std::vector<std::string> files = {Tagged("02-vorbis.ogg"), Tagged("04-alac.m4a")};
  TOutcome outcome;
  {
    TBurnerRig rig;
    outcome = BurnSAO(rig, files, TSAOOptions{}, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_NE(Joined(outcome.Notes).find("refused the CD-TEXT lead-in"), std::string::npos) << Joined(outcome.Notes);
  const TVRState state = dir.Load();
  EXPECT_TRUE(state.Disc.CdText.empty());
  ASSERT_EQ(state.Disc.Tracks.size(), 2u);
  const auto pcm = test::DecodeAll(files[1]);
  const auto image = dir.Image();
  const std::size_t at = static_cast<std::size_t>(state.Disc.Tracks[1].Start) * kSector;
  ASSERT_LE(at + pcm.size(), image.size());
  EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), image.begin() + static_cast<std::ptrdiff_t>(at)));
  const TReply toc5 = ReadToc(5);
  ASSERT_TRUE(toc5.Good);
  EXPECT_LE(toc5.Data.size(), 4u);
}

TEST(SAOBurn, ARecorderWithoutCDTextWritingGetsTheAudioAndANote) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.CdTextUnsupported = true; });
  TOutcome outcome;
  {
    TBurnerRig rig;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg")}, TSAOOptions{}, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText;
  EXPECT_NE(Joined(outcome.Notes).find("cannot write CD-TEXT"), std::string::npos) << Joined(outcome.Notes);
  EXPECT_TRUE(dir.Load().Disc.CdText.empty());
}

TEST(SAOBurn, ARecorderRefusingSessionAtOnceGetsTheTracksTrackAtOnceWithANote) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.SaoUnsupported = true; });
  const std::vector<std::string> files = {Tagged("02-vorbis.ogg"), Tagged("04-alac.m4a")};
  TOutcome outcome;
  {
    TBurnerRig rig;
    outcome = BurnSAO(rig, files, TSAOOptions{}, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText << "\n" << outcome.DiscState;
  EXPECT_NE(Joined(outcome.Notes).find("cannot write Session-At-Once: the disc is written Track-At-Once"),
            std::string::npos)
      << Joined(outcome.Notes);
  const TVRState state = dir.Load();
  ASSERT_EQ(state.Disc.Tracks.size(), 2u);
  EXPECT_TRUE(state.Disc.CdText.empty());
  const auto image = dir.Image();
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto pcm = test::DecodeAll(files[i]);
    const std::size_t at = static_cast<std::size_t>(state.Disc.Tracks[i].Start) * kSector;
    ASSERT_LE(at + pcm.size(), image.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), image.begin() + static_cast<std::ptrdiff_t>(at))) << files[i];
  }
}

TEST(SAOBurn, ADriveThatDoesNotKnowSendCueSheetGetsTrackAtOnce) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.FailOpcode = 0x5D; });
  TOutcome outcome;
  {
    TBurnerRig rig;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg")}, TSAOOptions{}, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText << "\n" << outcome.DiscState;
  EXPECT_NE(Joined(outcome.Notes).find("Track-At-Once instead"), std::string::npos) << Joined(outcome.Notes);
  ASSERT_EQ(dir.Load().Disc.Tracks.size(), 1u);
}

TEST(SAOBurn, ATestWriteIsNeverTurnedIntoARealTrackAtOnceBurn) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.SaoUnsupported = true; });
  TOutcome outcome;
  {
    TBurnerRig rig;
    TSAOOptions options;
    options.TestWrite = true;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg")}, options, 150);
  }
  EXPECT_FALSE(outcome.Started);
  EXPECT_EQ(outcome.ErrorText, "DRIVE CANNOT WRITE SESSION-AT-ONCE");
  const TVRState state = dir.Load();
  EXPECT_TRUE(state.Disc.Tracks.empty());
  EXPECT_FALSE(state.Disc.Written);
}

TEST(SAOBurn, WithoutTheFallBackARefusalEndsTheBurnBeforeAnythingIsWritten) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.SaoUnsupported = true; });
  TOutcome outcome;
  {
    TBurnerRig rig;
    TSAOOptions options;
    options.FallBackToTrackAtOnce = false;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg")}, options, 150);
  }
  EXPECT_FALSE(outcome.Started);
  EXPECT_EQ(outcome.ErrorText, "DRIVE CANNOT WRITE SESSION-AT-ONCE");
  EXPECT_FALSE(dir.Load().Disc.Written);
}

TEST(SAOBurn, ASimulatedBurnSendsTheWholeLayoutAndLeavesTheDiscBlank) {
  TRecorderDir dir;
  TOutcome outcome;
  {
    TBurnerRig rig;
    TSAOOptions options;
    options.TestWrite = true;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg"), Tagged("04-alac.m4a")}, options, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  ASSERT_FALSE(outcome.WithError) << outcome.ErrorText << "\n" << outcome.DiscState;
  EXPECT_NE(outcome.DiscState.find("simulated burn, nothing was written"), std::string::npos) << outcome.DiscState;
  const TVRState state = dir.Load();
  EXPECT_TRUE(state.Disc.Tracks.empty());
  EXPECT_FALSE(state.Disc.Written);
  // Every block went to the drive: the lead-in and the program area.
  EXPECT_GT(state.Counters.SectorsWritten, 12340u + 150u + 2 * 301u);
}

TEST(SAOBurn, AWriteErrorInTheProgramAreaEndsWithTheDrivesSenseAndSaysTheDiscIsLost) {
  TRecorderDir dir;
  dir.Edit([](TVRState& s) { s.Faults.WriteErrorAt = 200; });
  TOutcome outcome;
  {
    TBurnerRig rig;
    outcome = BurnSAO(rig, {Tagged("02-vorbis.ogg"), Tagged("04-alac.m4a")}, TSAOOptions{}, 150);
  }
  ASSERT_TRUE(outcome.Started) << outcome.ErrorText;
  EXPECT_TRUE(outcome.WithError);
  EXPECT_EQ(outcome.ErrorText, "DEVICE ERROR 3072");  // 0C/00 WRITE ERROR
  EXPECT_NE(outcome.DiscState.find("cannot be closed"), std::string::npos) << outcome.DiscState;
  EXPECT_FALSE(dir.Load().Disc.Complete);
}

}  // namespace
}  // namespace cv
