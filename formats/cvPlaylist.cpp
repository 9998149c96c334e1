#include "formats/cvPlaylist.h"

#include <algorithm>
#include <map>

#include "formats/cvUnicode.h"

namespace cv {

namespace {

// Highest entry number a PLS list may use.
constexpr std::int64_t kMaxPLSNumber = 1000000;

bool ValidUTF8(std::string_view text) {
  while (!text.empty()) {
    std::uint32_t codePoint = 0;
    const std::size_t n = DecodeUTF8(text, codePoint);
    if (n == 0) return false;
    text.remove_prefix(n);
  }
  return true;
}

// The location of an entry: a path, or a file: URL turned into one.
bool EntryLocation(std::string_view text, std::string& location, std::string& problem) {
  if (HasURLScheme(text)) {
    if (!FileURLToPath(text, location)) {
      problem = "\"" + UnmarkedTextToUTF8(text.substr(0, 200)) + "\" is not a local file (only files can be burned)";
      return false;
    }
    return true;
  }
  location = std::string(text);
  return true;
}

}  // namespace

bool ParseM3U(std::string_view Text, bool Utf8, const std::string& ListName, std::vector<TPlaylistEntry>& Entries,
              TListError& Error) {
  Entries.clear();
  std::vector<TListLine> lines;
  if (!SplitListLines(Text, ListName, lines, Error)) return false;
  std::string title;
  bool haveTitle = false;
  for (const TListLine& line : lines) {
    const std::string_view text = TrimBlanks(line.Text);
    if (text.empty()) continue;
    if (Utf8 && !ValidUTF8(text)) {
      Error = {ListName, line.Number, "the line is not valid UTF-8 (an .m3u8 list must be UTF-8)"};
      Entries.clear();
      return false;
    }
    if (text.front() == '#') {
      if (text.size() >= 8 && SameWord(text.substr(0, 8), "#EXTINF:")) {
        const std::size_t comma = text.find(',');
        if (comma == std::string_view::npos) {
          Error = {ListName, line.Number, "#EXTINF needs a length and a title: #EXTINF:<seconds>,<title>"};
          Entries.clear();
          return false;
        }
        title = UnmarkedTextToUTF8(TrimBlanks(text.substr(comma + 1)));
        haveTitle = true;
      }
      continue;
    }
    TPlaylistEntry entry;
    std::string problem;
    if (!EntryLocation(text, entry.Location, problem)) {
      Error = {ListName, line.Number, problem};
      Entries.clear();
      return false;
    }
    if (haveTitle) entry.Title = std::move(title);
    title.clear();
    haveTitle = false;
    entry.Line = line.Number;
    Entries.push_back(std::move(entry));
  }
  if (Entries.empty()) {
    Error = {ListName, 0, "the playlist lists no files"};
    return false;
  }
  return true;
}

bool ParsePLS(std::string_view Text, const std::string& ListName, std::vector<TPlaylistEntry>& Entries,
              TListError& Error) {
  Entries.clear();
  std::vector<TListLine> lines;
  if (!SplitListLines(Text, ListName, lines, Error)) return false;
  auto fail = [&](std::int32_t line, std::string message) {
    Error = {ListName, line, std::move(message)};
    Entries.clear();
    return false;
  };
  bool inSection = false;
  std::map<std::int64_t, TPlaylistEntry> files;
  std::map<std::int64_t, std::string> titles;
  for (const TListLine& line : lines) {
    const std::string_view text = TrimBlanks(line.Text);
    if (text.empty() || text.front() == ';' || text.front() == '#') continue;
    if (text.front() == '[') {
      if (!SameWord(text, "[playlist]"))
        return fail(line.Number, "unknown section " + UnmarkedTextToUTF8(text.substr(0, 40)) +
                                     " (a PLS list has one section, [playlist])");
      if (inSection) return fail(line.Number, "a second [playlist] section");
      inSection = true;
      continue;
    }
    if (!inSection) return fail(line.Number, "text before the [playlist] section: this is not a PLS playlist");
    const std::size_t equals = text.find('=');
    if (equals == std::string_view::npos) return fail(line.Number, "expected Key=Value");
    const std::string_view key = TrimBlanks(text.substr(0, equals));
    const std::string_view value = TrimBlanks(text.substr(equals + 1));
    // FileN, TitleN, LengthN: a name and a number.
    std::size_t digits = key.size();
    while (digits > 0 && key[digits - 1] >= '0' && key[digits - 1] <= '9') --digits;
    const std::string_view name = key.substr(0, digits);
    const std::string_view numberText = key.substr(digits);
    const bool numbered = SameWord(name, "File") || SameWord(name, "Title") || SameWord(name, "Length");
    if (!numbered) continue;  // NumberOfEntries, Version and others
    std::int64_t number = 0;
    if (numberText.empty() || numberText.size() > 7) return fail(line.Number, "entry number missing or too large");
    for (char c : numberText) number = number * 10 + (c - '0');
    if (number < 1 || number > kMaxPLSNumber) return fail(line.Number, "entry number missing or too large");
    if (SameWord(name, "File")) {
      if (value.empty()) return fail(line.Number, "File" + std::string(numberText) + " names no file");
      if (files.count(number)) return fail(line.Number, "File" + std::string(numberText) + " is given twice");
      TPlaylistEntry entry;
      std::string problem;
      if (!EntryLocation(value, entry.Location, problem)) return fail(line.Number, problem);
      entry.Line = line.Number;
      files.emplace(number, std::move(entry));
    } else if (SameWord(name, "Title")) {
      titles[number] = UnmarkedTextToUTF8(value);
    }
  }
  if (!inSection) return fail(0, "no [playlist] section: this is not a PLS playlist");
  for (auto& [number, entry] : files) {
    if (auto title = titles.find(number); title != titles.end()) entry.Title = title->second;
    Entries.push_back(std::move(entry));
  }
  if (Entries.empty()) return fail(0, "the playlist lists no files (no FileN= entry)");
  return true;
}

}  // namespace cv
