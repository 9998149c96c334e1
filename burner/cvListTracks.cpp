#include "burner/cvListTracks.h"

#include <cstdio>
#include <map>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvBurnTypes.h"
#include "burner/cvTrackSource.h"
#include "formats/cvUnicode.h"

namespace cv {

namespace {

// "mm:ss:ff" of a position in CD sample frames (frames of 1/75 s, rounded
// down).
std::string PositionText(std::int64_t samples) {
  const std::int64_t frames = samples / kSamplesPerSector;
  char text[40];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(frames / 4500),
                static_cast<long long>((frames / 75) % 60), static_cast<long long>(frames % 75));
  return text;
}

// " (named in <list> line <n>)" for a track a list named.
std::string Origin(const TListTrack& track) {
  if (track.ListFile.empty()) return {};
  return " (named in " + UnmarkedTextToUTF8(track.ListFile) + " line " + std::to_string(track.ListLine) + ")";
}

struct TFileFacts {
  std::uint8_t Kind = 0;
  std::int32_t Sectors = 0;
  std::int64_t Samples = 0;
  std::int32_t Error = 0;
};

}  // namespace

std::string TrackDisplayTitle(const TListTrack& Track) {
  if (!Track.Performer.empty() && !Track.Title.empty()) return Track.Performer + " - " + Track.Title;
  return Track.Title.empty() ? Track.Performer : Track.Title;
}

std::string DescribeTrack(const TListTrack& Track) {
  std::string text = UnmarkedTextToUTF8(Track.Path);
  if (Track.CueTrack > 0) {
    text += " track " + std::to_string(Track.CueTrack) + " [" + PositionText(Track.StartSample) + " - " +
            (Track.EndSample < 0 ? std::string("end") : PositionText(Track.EndSample)) + "]";
  }
  const std::string title = TrackDisplayTitle(Track);
  if (!title.empty()) text += " \"" + title + "\"";
  return text;
}

bool MeasureTracks(TKAudioCDBurner& Burner, const std::vector<std::string>& Paths, std::vector<TMeasuredTrack>& Tracks,
                   std::string& Problem) {
  Tracks.clear();
  std::vector<TListTrack> listed;
  TListError error;
  if (!ExpandTrackLists(Paths, listed, error)) {
    Problem = UnmarkedTextToUTF8(error.Text());
    return false;
  }
  std::map<std::string, TFileFacts> files;  // each file measured once
  for (const TListTrack& track : listed) {
    auto known = files.find(track.Path);
    if (known == files.end()) {
      Burner.TakeLastError();
      TFileFacts facts;
      facts.Sectors = Burner.GetFileLength(track.Path);
      facts.Kind = Burner.GetLastFileKind();
      facts.Samples = Burner.GetLastFileSamples();
      facts.Error = Burner.TakeLastError();
      known = files.emplace(track.Path, facts).first;
    }
    const TFileFacts& facts = known->second;
    const std::string name = UnmarkedTextToUTF8(track.Path);
    if (facts.Kind == 0) {
      Problem = name + (facts.Error == beCantOpenFile ? ": cannot be read (CAN'T OPEN FILE FOR READ)"
                                                      : ": not an audio file") + Origin(track);
      Tracks.clear();
      return false;
    }
    if (facts.Sectors <= 0) {
      Problem = name + ": no audio could be decoded from it" + Origin(track);
      Tracks.clear();
      return false;
    }
    TMeasuredTrack measured;
    measured.Track = track;
    measured.FileKind = facts.Kind;
    measured.FileSamples = facts.Samples;
    measured.LengthSectors = facts.Sectors;
    if (track.IsRange()) {
      const std::string where = UnmarkedTextToUTF8(track.ListFile) + " line " + std::to_string(track.ListLine) +
                                ": track " + std::to_string(track.CueTrack);
      const std::string fileEnd = " the end of " + name + " (" + PositionText(facts.Samples) + ")";
      if (track.StartSample >= facts.Samples) {
        Problem = where + " starts at " + PositionText(track.StartSample) + ", at or beyond" + fileEnd;
        Tracks.clear();
        return false;
      }
      if (track.EndSample > facts.Samples) {
        Problem = where + " ends at " + PositionText(track.EndSample) + ", beyond" + fileEnd;
        Tracks.clear();
        return false;
      }
      const std::int64_t end = track.EndSample < 0 ? facts.Samples : track.EndSample;
      measured.LengthSectors = SamplesToSectors(end - track.StartSample);
    }
    Tracks.push_back(std::move(measured));
  }
  return true;
}

}  // namespace cv
