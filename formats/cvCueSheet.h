// TCueSheet: a CUE sheet read for burning its audio tracks.
//
// A cue sheet names audio files (FILE "name" TYPE) and the tracks in them
// (TRACK nn AUDIO), each with index points (INDEX nn mm:ss:ff, 75 frames a
// second, each frame 588 CD sample frames at 44100 Hz). A track's audio is
// the part of its file from its INDEX 01 up to the next track's INDEX 01 in
// the same file, or to the end of the file when the next track starts in
// another file or there is none (audio between a later INDEX 00 and INDEX 01,
// the pregap, stays with the track before, as cuebreakpoints splits it).
// Audio of a file before its first INDEX 01 is not burned.
//
// ParseCueSheet checks the whole sheet: commands known, arguments well
// formed, track numbers rising, one INDEX 01 per track, index points rising
// within a file, only audio tracks, only files with a header (not raw
// BINARY/MOTOROLA data). The first problem refuses the sheet, naming the
// line.
//
// Pure parsing of text in memory; safe from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/cvListText.h"

namespace cv {

// CD sample frames in one cue frame (1/75 s).
inline constexpr std::int64_t kCueFrameSamples = 588;

struct TCueFile {
  std::string Name;   // as written (relative to the sheet's folder, or absolute)
  std::string Type;   // WAVE, MP3, FLAC, ... (upper case), may be empty
  std::int32_t Line = 0;
};

struct TCueTrack {
  std::int32_t Number = 0;      // 1..99
  std::int32_t Line = 0;        // of its TRACK command
  std::string Title;            // TITLE within the track (UTF-8)
  std::string Performer;        // PERFORMER within the track (UTF-8)
  // Its audio: file (index into TCueSheet::Files) and CD sample frames
  // [StartSample, EndSample), EndSample -1 to the end of the file.
  std::size_t File = 0;
  std::int64_t StartSample = 0;
  std::int64_t EndSample = -1;
  std::int32_t StartLine = 0;   // of its INDEX 01
};

struct TCueSheet {
  std::string Title;      // the disc's TITLE (UTF-8)
  std::string Performer;  // the disc's PERFORMER (UTF-8)
  std::vector<TCueFile> Files;
  std::vector<TCueTrack> Tracks;  // in the order of the sheet, at least one
};

// Reads a cue sheet from Text (ListName names it in errors). Texts that are
// not valid UTF-8 are read as ISO-8859-1. False with Error on the first
// problem; Sheet is then empty.
bool ParseCueSheet(std::string_view Text, const std::string& ListName, TCueSheet& Sheet, TListError& Error);

}  // namespace cv
