#include "burner/cvDiscLayout.h"

#include <algorithm>

namespace cv {

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool Upper(char c) { return c >= 'A' && c <= 'Z'; }

// Sector (as LBA) that holds sample position pos, rounded down / to nearest.
std::int32_t FloorLBA(std::int64_t pos) {
  return static_cast<std::int32_t>(pos / kSamplesPerSector) - kFirstPregapSectors;
}
std::int32_t NearestLBA(std::int64_t pos) {
  return static_cast<std::int32_t>((pos + kSamplesPerSector / 2) / kSamplesPerSector) - kFirstPregapSectors;
}
std::int64_t PositionOf(std::int32_t lba) { return (static_cast<std::int64_t>(lba) + kFirstPregapSectors) * kSamplesPerSector; }

}  // namespace

bool ValidIsrc(const std::string& Isrc) {
  if (Isrc.size() != 12) return false;
  for (std::size_t i = 0; i < 12; ++i) {
    const char c = Isrc[i];
    const bool ok = i < 2 ? Upper(c) : i < 5 ? (Upper(c) || Digit(c)) : Digit(c);
    if (!ok) return false;
  }
  return true;
}

bool ValidMcn(const std::string& Mcn) {
  return Mcn.size() == 13 && std::all_of(Mcn.begin(), Mcn.end(), Digit);
}

TDiscLayout LayOutDisc(const std::vector<TLayoutInput>& Tracks, const TLayoutOptions& Options) {
  TDiscLayout layout;
  std::int64_t pos = 0;
  auto silence = [&](std::int64_t samples) {
    if (samples <= 0) return;
    if (!layout.Segments.empty() && layout.Segments.back().Kind == TLayoutSegment::Silence)
      layout.Segments.back().Samples += samples;
    else
      layout.Segments.push_back({TLayoutSegment::Silence, -1, samples});
    pos += samples;
  };
  // Ends the audio before a pregap or the lead-out: silence to the next
  // sector boundary, and on to the previous track's shortest span.
  auto closeOnGrid = [&](std::int32_t previousIndex01) {
    std::int64_t end = (pos + kSamplesPerSector - 1) / kSamplesPerSector * kSamplesPerSector;
    end = std::max(end, PositionOf(previousIndex01 + kMinLaidTrackSectors));
    silence(end - pos);
  };

  silence(static_cast<std::int64_t>(kFirstPregapSectors) * kSamplesPerSector);
  for (std::size_t i = 0; i < Tracks.size(); ++i) {
    const TLayoutInput& input = Tracks[i];
    TLaidTrack track;
    track.Number = static_cast<std::int32_t>(i + 1);
    if (i == 0) {
      track.Index00 = -kFirstPregapSectors;
      track.Index01 = 0;
    } else if (input.PauseSectors > 0) {
      closeOnGrid(layout.Tracks.back().Index01);
      track.Index00 = FloorLBA(pos);
      silence(static_cast<std::int64_t>(input.PauseSectors) * kSamplesPerSector);
      track.Index01 = FloorLBA(pos);
    } else {
      // Gapless: the marker at the boundary nearest the first sample, unless
      // the track before would be too short; then that track is filled
      // with silence and this one starts on the grid.
      const std::int32_t shortest = layout.Tracks.back().Index01 + kMinLaidTrackSectors;
      if (NearestLBA(pos) < shortest) silence(PositionOf(shortest) - pos);
      track.Index01 = NearestLBA(pos);
      track.Index00 = track.Index01;
    }
    if (i > 0) layout.Tracks.back().End = track.Index00;
    track.FirstSample = pos;
    track.Samples = input.Samples;
    track.ShiftSamples = static_cast<std::int32_t>(PositionOf(track.Index01) - pos);
    if (ValidIsrc(input.Isrc)) {
      track.Isrc = input.Isrc;
    } else if (!input.Isrc.empty()) {
      layout.Notes.push_back("track " + std::to_string(track.Number) + ": ISRC \"" + input.Isrc +
                             "\" left out: not of the form CCOOOYYNNNNN");
    }
    if (input.Samples > 0) {
      layout.Segments.push_back({TLayoutSegment::Audio, static_cast<std::int32_t>(i), input.Samples});
      pos += input.Samples;
    }
    layout.Tracks.push_back(track);
  }
  if (!layout.Tracks.empty()) {
    closeOnGrid(layout.Tracks.back().Index01);
    layout.LeadOut = FloorLBA(pos);
    layout.Tracks.back().End = layout.LeadOut;
  }

  if (ValidMcn(Options.Mcn)) {
    layout.Mcn = Options.Mcn;
  } else if (!Options.Mcn.empty()) {
    layout.Notes.push_back("MCN \"" + Options.Mcn + "\" left out: not 13 digits");
  }

  if (Options.CDText) {
    TCDTextDisc disc;
    disc.Title = Options.AlbumTitle;
    disc.Performer = Options.AlbumPerformer;
    disc.UpcEan = layout.Mcn;
    for (std::size_t i = 0; i < Tracks.size(); ++i)
      disc.Tracks.push_back({Tracks[i].Title, Tracks[i].Performer, Tracks[i].Songwriter, layout.Tracks[i].Isrc});
    layout.CDText = BuildCDText(disc);
    layout.Notes.insert(layout.Notes.end(), layout.CDText.Notes.begin(), layout.CDText.Notes.end());
  }
  return layout;
}

}  // namespace cv
