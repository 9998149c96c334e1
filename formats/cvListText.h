// What the playlist and cue sheet readers share: the error that names the
// list and the line, and the cutting of a list's text into bounded lines.
//
// Pure functions over text held in memory; safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cv {

// A list refused: which file, which line (1-based; 0 for the file as a
// whole) and what is wrong with it.
struct TListError {
  std::string File;
  std::int32_t Line = 0;
  std::string Message;

  // "<file> line <n>: <message>", or "<file>: <message>" without a line.
  std::string Text() const;
};

// Longest line a list may hold, in bytes; longer ones are refused.
inline constexpr std::size_t kMaxListLineBytes = 16 * 1024;
// Largest list file read, in bytes.
inline constexpr std::int64_t kMaxListFileBytes = 4 * 1024 * 1024;

// One line of a list: its text without the line break, and its number.
struct TListLine {
  std::string_view Text;
  std::int32_t Number = 0;
};

// Cuts Text into lines (LF, CR LF or a lone CR end a line), drops a UTF-8
// byte-order mark at the start and trailing blanks of each line. False, with
// Error naming the line, when a line is longer than kMaxListLineBytes or
// holds a NUL byte (not a text file). The lines point into Text.
bool SplitListLines(std::string_view Text, const std::string& ListName, std::vector<TListLine>& Lines,
                    TListError& Error);

// Text without leading and trailing blanks (spaces and tabs).
std::string_view TrimBlanks(std::string_view Text);

// True when Text and Word are equal ignoring ASCII case.
bool SameWord(std::string_view Text, std::string_view Word);

// A "file:" URL's local path with its %XX escapes decoded ("file:///a%20b"
// is "/a b"; "file://localhost/a" is "/a"). False for a URL naming another
// host or holding a bad escape.
bool FileURLToPath(std::string_view URL, std::string& Path);

// True when Text begins with a URL scheme ("http://", "file:").
bool HasURLScheme(std::string_view Text);

}  // namespace cv
