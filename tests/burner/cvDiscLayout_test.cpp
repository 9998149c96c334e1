// The disc laid out before a Session-At-Once burn: gapless joins off the
// sector grid, pauses, short tracks, the invariants over many random track
// lists, and the codes.
#include "burner/cvDiscLayout.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace cv {
namespace {

constexpr std::int64_t S = kSamplesPerSector;

TLayoutInput Track(std::int64_t samples, std::uint16_t pause = 0) {
  TLayoutInput input;
  input.Samples = samples;
  input.PauseSectors = pause;
  return input;
}

// Every property a layout must have, whatever its tracks.
void ExpectSound(const TDiscLayout& layout, const std::vector<TLayoutInput>& inputs) {
  ASSERT_EQ(layout.Tracks.size(), inputs.size());
  // The segments fill the program area exactly, the audio of each track
  // once, in order, where FirstSample says.
  std::int64_t pos = 0;
  std::int32_t nextTrack = 0;
  for (const TLayoutSegment& segment : layout.Segments) {
    ASSERT_GT(segment.Samples, 0);
    if (segment.Kind == TLayoutSegment::Audio) {
      ASSERT_EQ(segment.Track, nextTrack);
      EXPECT_EQ(segment.Samples, inputs[static_cast<std::size_t>(nextTrack)].Samples);
      EXPECT_EQ(layout.Tracks[static_cast<std::size_t>(nextTrack)].FirstSample, pos);
      ++nextTrack;
    }
    pos += segment.Samples;
  }
  EXPECT_EQ(nextTrack, static_cast<std::int32_t>(inputs.size()));
  EXPECT_EQ(pos, static_cast<std::int64_t>(layout.ProgramSectors()) * S);

  EXPECT_EQ(layout.Tracks[0].Index00, -150);
  EXPECT_EQ(layout.Tracks[0].Index01, 0);
  for (std::size_t i = 0; i < layout.Tracks.size(); ++i) {
    const TLaidTrack& t = layout.Tracks[i];
    EXPECT_EQ(t.Number, static_cast<std::int32_t>(i + 1));
    // INDEX 01 at the sector boundary nearest the first sample.
    EXPECT_EQ((static_cast<std::int64_t>(t.Index01) + 150) * S - t.FirstSample, t.ShiftSamples);
    EXPECT_LE(std::abs(t.ShiftSamples), 294) << "track " << t.Number;
    EXPECT_GE(t.End - t.Index01, kMinLaidTrackSectors) << "track " << t.Number;
    EXPECT_LE(t.Index00, t.Index01);
    if (i > 0) {
      EXPECT_EQ(layout.Tracks[i - 1].End, t.Index00);
      EXPECT_EQ(t.Index01 - t.Index00, inputs[i].PauseSectors);
      // A pause starts and ends on the grid: the track before is filled
      // with silence, the track after starts exactly at its INDEX 01.
      if (inputs[i].PauseSectors > 0) {
        EXPECT_EQ(t.ShiftSamples, 0);
      }
    }
  }
  EXPECT_EQ(layout.Tracks.back().End, layout.LeadOut);
}

TEST(DiscLayout, GaplessJoinsCarryTheRemainderAndMarkTheNearestSector) {
  // Cuts at 100 samples past a boundary (marker rounds down, 100 samples
  // of track 2 in track 1's last sector ... the other way round) and at 500
  // (marker rounds up).
  const std::vector<TLayoutInput> inputs = {Track(400 * S + 100), Track(350 * S + 400), Track(500 * S + 7)};
  const TDiscLayout layout = LayOutDisc(inputs, {});
  ExpectSound(layout, inputs);
  // Nothing but the two-second pregap before and the fill after the last track.
  ASSERT_EQ(layout.Segments.size(), 5u);
  EXPECT_EQ(layout.Segments[0].Samples, 150 * S);
  EXPECT_EQ(layout.Segments[4].Samples, S - 507);
  EXPECT_EQ(layout.Tracks[1].Index01, 400);
  EXPECT_EQ(layout.Tracks[1].ShiftSamples, -100);
  EXPECT_EQ(layout.Tracks[2].Index01, 751);
  EXPECT_EQ(layout.Tracks[2].ShiftSamples, 88);
  EXPECT_EQ(layout.LeadOut, 1251);
  EXPECT_FALSE(layout.Tracks[1].HasPregap());
}

TEST(DiscLayout, HalfASectorRoundsForwardAndExactCutsStayExact) {
  const std::vector<TLayoutInput> inputs = {Track(400 * S + 294), Track(400 * S - 294), Track(400 * S)};
  const TDiscLayout layout = LayOutDisc(inputs, {});
  ExpectSound(layout, inputs);
  EXPECT_EQ(layout.Tracks[1].Index01, 401);
  EXPECT_EQ(layout.Tracks[1].ShiftSamples, 294);
  EXPECT_EQ(layout.Tracks[2].Index01, 800);  // back on the grid
  EXPECT_EQ(layout.Tracks[2].ShiftSamples, 0);
  EXPECT_EQ(layout.LeadOut, 1200);
  EXPECT_EQ(layout.Segments.size(), 4u);  // pregap, three tracks, no fill
}

TEST(DiscLayout, APauseFillsTheTrackBeforeToTheGrid) {
  const std::vector<TLayoutInput> inputs = {Track(400 * S + 100), Track(350 * S, 150), Track(320 * S + 9, 75)};
  const TDiscLayout layout = LayOutDisc(inputs, {});
  ExpectSound(layout, inputs);
  EXPECT_EQ(layout.Tracks[1].Index00, 401);
  EXPECT_EQ(layout.Tracks[1].Index01, 551);
  EXPECT_EQ(layout.Tracks[2].Index00, 901);
  EXPECT_EQ(layout.Tracks[2].Index01, 976);
  EXPECT_TRUE(layout.Tracks[1].HasPregap());
  // Silence after track 1: 488 samples of fill and 150 sectors of pause.
  EXPECT_EQ(layout.Segments[2].Kind, TLayoutSegment::Silence);
  EXPECT_EQ(layout.Segments[2].Samples, (S - 100) + 150 * S);
}

TEST(DiscLayout, AShortTrackIsFilledWithSilenceToTheShortestSpan) {
  // Track 2 lasts two seconds; track 1 one second plus change (the first
  // track also gets the shortest span).
  const std::vector<TLayoutInput> inputs = {Track(75 * S + 5), Track(150 * S + 300), Track(400 * S)};
  const TDiscLayout layout = LayOutDisc(inputs, {});
  ExpectSound(layout, inputs);
  EXPECT_EQ(layout.Tracks[1].Index01, kMinLaidTrackSectors);
  EXPECT_EQ(layout.Tracks[1].ShiftSamples, 0);
  EXPECT_EQ(layout.Tracks[2].Index01, 2 * kMinLaidTrackSectors);
  EXPECT_EQ(layout.LeadOut, 2 * kMinLaidTrackSectors + 400);
}

TEST(DiscLayout, RandomTrackListsKeepEveryInvariant) {
  // A fixed generator: the same lists on every run.
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  auto next = [&](std::uint64_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return (state >> 33) % bound;
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<TLayoutInput> inputs(1 + next(30));
    for (TLayoutInput& input : inputs) {
      // Mostly a few minutes; now and then under the shortest span.
      input.Samples = next(6) == 0 ? 1 + static_cast<std::int64_t>(next(400 * S))
                                   : 300 * S + static_cast<std::int64_t>(next(20000 * S));
      const std::uint16_t pauses[] = {0, 0, 0, 1, 75, 150};
      input.PauseSectors = pauses[next(6)];
    }
    const TDiscLayout layout = LayOutDisc(inputs, {});
    ExpectSound(layout, inputs);
    if (HasFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
    // No silence where two long-enough tracks join without a pause.
    for (std::size_t i = 1; i < inputs.size(); ++i) {
      const TLaidTrack& before = layout.Tracks[i - 1];
      const bool longEnough = before.FirstSample + before.Samples >=
                              (static_cast<std::int64_t>(before.Index01) + 150 + kMinLaidTrackSectors) * S + S / 2;
      if (inputs[i].PauseSectors == 0 && longEnough) {
        EXPECT_EQ(layout.Tracks[i].FirstSample, before.FirstSample + before.Samples) << "round " << round;
      }
    }
  }
}

TEST(DiscLayout, CodesAreCheckedAndTextsGoIntoCDText) {
  std::vector<TLayoutInput> inputs = {Track(400 * S), Track(400 * S)};
  inputs[0].Isrc = "USABC2500001";
  inputs[0].Title = "First";
  inputs[0].Performer = "Band";
  inputs[1].Isrc = "US-ABC-25-00002";
  inputs[1].Title = "Second";
  TLayoutOptions options;
  options.Mcn = "0123456789012";
  options.AlbumTitle = "Album";
  TDiscLayout layout = LayOutDisc(inputs, options);
  EXPECT_EQ(layout.Tracks[0].Isrc, "USABC2500001");
  EXPECT_EQ(layout.Tracks[1].Isrc, "");
  EXPECT_EQ(layout.Mcn, "0123456789012");
  ASSERT_EQ(layout.Notes.size(), 1u);
  EXPECT_NE(layout.Notes[0].find("US-ABC-25-00002"), std::string::npos);
  ASSERT_FALSE(layout.CDText.Packs.empty());
  EXPECT_EQ(layout.CDText.Block.Titles, (std::vector<std::string>{"Album", "First", "Second"}));
  EXPECT_EQ(layout.CDText.Block.Performers, (std::vector<std::string>{"", "Band", ""}));
  EXPECT_EQ(layout.CDText.Block.Codes, (std::vector<std::string>{"0123456789012", "USABC2500001", ""}));

  options.CDText = false;
  options.Mcn = "12345";
  layout = LayOutDisc(inputs, options);
  EXPECT_TRUE(layout.CDText.Packs.empty());
  EXPECT_EQ(layout.Mcn, "");
  EXPECT_EQ(layout.Notes.size(), 2u);

  EXPECT_TRUE(ValidIsrc("GBAYE0601498"));
  EXPECT_TRUE(ValidIsrc("DE1231200001"));
  EXPECT_FALSE(ValidIsrc("gbaye0601498"));
  EXPECT_FALSE(ValidIsrc("GBAYE06014"));
  EXPECT_FALSE(ValidIsrc("GBAYE06014AB"));
  EXPECT_FALSE(ValidMcn("012345678901"));
  EXPECT_FALSE(ValidMcn("01234567890a2"));
}

}  // namespace
}  // namespace cv
