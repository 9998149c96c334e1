// Playlists: M3U (.m3u, .m3u8) and PLS (.pls) read into their entries.
//
// M3U: one entry per line, a path (absolute, or relative to the list's
// folder) or a file: URL; lines beginning with '#' are comments, except
// "#EXTINF:<seconds>,<title>", whose title belongs to the next entry. An
// .m3u8 list is UTF-8 throughout; an .m3u list may be UTF-8 or ISO-8859-1.
//
// PLS: an INI-style "[playlist]" section with FileN=<path or URL>, TitleN=,
// LengthN=, NumberOfEntries= and Version=; entries are taken in the order of
// N.
//
// Both refuse, naming the line: URLs other than local file: URLs, malformed
// lines, and lists without any entry. Pure parsing of text in memory; safe
// from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/cvListText.h"

namespace cv {

struct TPlaylistEntry {
  std::string Location;  // path as written (file: URLs decoded); bytes of the list
  std::string Title;     // from #EXTINF or TitleN (UTF-8), may be empty
  std::int32_t Line = 0; // where the path is written
};

// Utf8: the list is declared UTF-8 (.m3u8): a line that is not valid UTF-8 is
// refused.
bool ParseM3U(std::string_view Text, bool Utf8, const std::string& ListName, std::vector<TPlaylistEntry>& Entries,
              TListError& Error);

bool ParsePLS(std::string_view Text, const std::string& ListName, std::vector<TPlaylistEntry>& Entries,
              TListError& Error);

}  // namespace cv
