// The tracks a front end burns from what the user hands over: audio files,
// playlists and cue sheets (formats/cvTrackList.h), each track measured
// with the burner component and checked before anything is added.
//
// Threads: the component's (GUI) thread, like GetFileLength.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/cvTrackList.h"

namespace cv {

class TKAudioCDBurner;

// One track ready for AddTrack.
struct TMeasuredTrack {
  TListTrack Track;
  std::uint8_t FileKind = 0;        // TAudioFileKind of its file
  std::int32_t LengthSectors = 0;   // of the track (its part of the file)
  std::int64_t FileSamples = 0;     // the whole file's length in CD sample frames
};

// Expands Paths and measures every track, decoding each audio file once.
// False at the first problem, with Problem saying what and where (the list
// and line that named the file, when a list did): a list the expansion
// refused, a file that cannot be read, is not audio, holds no audio, or a
// cue sheet's track that starts or ends beyond the end of its file.
bool MeasureTracks(TKAudioCDBurner& Burner, const std::vector<std::string>& Paths, std::vector<TMeasuredTrack>& Tracks,
                   std::string& Problem);

// A one-line description of a track for lists and messages: the file, and
// for a cue sheet's track its number, range (mm:ss:ff) and title.
std::string DescribeTrack(const TListTrack& Track);

// The title a track shows: "Performer - Title", or the one of them given;
// empty when the list gave neither.
std::string TrackDisplayTitle(const TListTrack& Track);

}  // namespace cv
