// Turns what a user hands over (audio files, playlists, cue sheets) into the
// tracks to burn, in order.
//
// Playlists (.m3u, .m3u8, .pls) and cue sheets (.cue) are recognised by
// their name's ending, in any case; everything else is taken for an audio
// file and passed on untouched (the decoder identifies it later). A playlist
// entry or a cue sheet FILE is resolved against the folder of its list and
// must name an existing regular file; a list may name other lists, which are
// expanded in place. A list that names itself, directly or through others, is
// refused, as are lists nested more than kMaxListDepth deep, lists that
// expand to more than kMaxListTracks tracks, and every problem a parser
// finds: the error names the list and the line.
//
// Reads the lists from the file system; keeps no state; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/cvListText.h"

namespace cv {

enum class TListKind : std::uint8_t { None, M3U, M3U8, PLS, Cue };

// The kind of list a file name ends in; None for anything else.
TListKind ListKindOfName(const std::string& Path);

inline constexpr int kMaxListDepth = 8;
inline constexpr std::size_t kMaxListTracks = 10000;

// One track: an audio file, or a part of one (a cue sheet's track).
struct TListTrack {
  std::string Path;              // the audio file
  // CD sample frames of the file's decoded audio that make the track:
  // [StartSample, EndSample), EndSample -1 to the end of the file.
  std::int64_t StartSample = 0;
  std::int64_t EndSample = -1;
  std::string Title;             // for display (UTF-8), may be empty
  std::string Performer;
  std::string ListFile;          // the list that named it; empty when given directly
  std::int32_t ListLine = 0;     // where in that list (the entry, or the INDEX 01)
  std::int32_t CueTrack = 0;     // its number in the cue sheet, 0 otherwise

  bool IsRange() const { return StartSample != 0 || EndSample >= 0; }
};

// Expands Paths in order into Tracks. False with Error (and Tracks empty) on
// the first problem.
bool ExpandTrackLists(const std::vector<std::string>& Paths, std::vector<TListTrack>& Tracks, TListError& Error);

}  // namespace cv
