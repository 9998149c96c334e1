#include "formats/cvCueSheet.h"

#include <algorithm>
#include <cctype>

#include "formats/cvUnicode.h"

namespace cv {

namespace {

// One word of a line, and whether it was written in quotes.
struct TWord {
  std::string_view Text;
  bool Quoted = false;
};

// Cuts a line into words: blank-separated, or "quoted" (no escapes inside).
bool SplitWords(std::string_view line, std::vector<TWord>& words, std::string& problem) {
  words.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    if (line[at] == ' ' || line[at] == '\t') {
      ++at;
      continue;
    }
    if (line[at] == '"') {
      const std::size_t close = line.find('"', at + 1);
      if (close == std::string_view::npos) {
        problem = "a quoted text has no closing quote";
        return false;
      }
      words.push_back({line.substr(at + 1, close - at - 1), true});
      at = close + 1;
      continue;
    }
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    words.push_back({line.substr(at, end - at), false});
    at = end;
  }
  return true;
}

// The words from index first on, as one text (blank-separated words joined
// by one space).
std::string Rest(const std::vector<TWord>& words, std::size_t first) {
  std::string text;
  for (std::size_t i = first; i < words.size(); ++i) {
    if (i > first) text.push_back(' ');
    text.append(words[i].Text);
  }
  return text;
}

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A number of 1 to maxDigits decimal digits.
bool ParseNumber(std::string_view text, std::size_t maxDigits, std::int64_t& value) {
  if (text.empty() || text.size() > maxDigits) return false;
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// mm:ss:ff (minutes of up to five digits, seconds below 60, frames below 75)
// in frames.
bool ParseTime(std::string_view text, std::int64_t& frames) {
  const std::size_t first = text.find(':');
  if (first == std::string_view::npos) return false;
  const std::size_t second = text.find(':', first + 1);
  if (second == std::string_view::npos) return false;
  std::int64_t minutes = 0, seconds = 0, rest = 0;
  if (!ParseNumber(text.substr(0, first), 5, minutes) ||
      !ParseNumber(text.substr(first + 1, second - first - 1), 2, seconds) ||
      !ParseNumber(text.substr(second + 1), 2, rest) || seconds >= 60 || rest >= 75)
    return false;
  frames = (minutes * 60 + seconds) * 75 + rest;
  return true;
}

class TCueReader {
 public:
  TCueReader(const std::string& listName, TCueSheet& sheet, TListError& error)
      : ListName_(listName), Sheet_(sheet), Error_(error) {}

  bool Line(std::string_view text, std::int32_t number);
  bool Finish();

 private:
  bool Fail(std::int32_t line, std::string message) {
    Error_ = {ListName_, line, std::move(message)};
    return false;
  }
  bool File(const std::vector<TWord>& words, std::int32_t line);
  bool Track(const std::vector<TWord>& words, std::int32_t line);
  bool Index(const std::vector<TWord>& words, std::int32_t line);

  const std::string& ListName_;
  TCueSheet& Sheet_;
  TListError& Error_;
  bool HaveFile_ = false;
  bool InTrack_ = false;
  std::int32_t LastIndex_ = -1;        // index number last given in the track
  std::int64_t LastFramesInFile_ = -1; // index point last given in the file
  std::vector<bool> FileHasStart_;     // a track's INDEX 01 lies in the file
  std::vector<TWord> Words_;
};

bool TCueReader::Line(std::string_view text, std::int32_t number) {
  std::string problem;
  if (!SplitWords(text, Words_, problem)) return Fail(number, problem);
  if (Words_.empty()) return true;
  const std::string command = Upper(Words_[0].Text);
  if (command == "REM") return true;
  if (command == "FILE") return File(Words_, number);
  if (command == "TRACK") return Track(Words_, number);
  if (command == "INDEX") return Index(Words_, number);
  if (command == "TITLE" || command == "PERFORMER") {
    if (Words_.size() < 2) return Fail(number, command + " without a text");
    const std::string value = UnmarkedTextToUTF8(Rest(Words_, 1));
    std::string& field = command == "TITLE" ? (InTrack_ ? Sheet_.Tracks.back().Title : Sheet_.Title)
                                            : (InTrack_ ? Sheet_.Tracks.back().Performer : Sheet_.Performer);
    field = value;
    return true;
  }
  if (command == "PREGAP" || command == "POSTGAP") {
    if (!InTrack_) return Fail(number, command + " outside a track");
    std::int64_t frames = 0;
    if (Words_.size() != 2 || !ParseTime(Words_[1].Text, frames))
      return Fail(number, command + " needs one time mm:ss:ff (seconds below 60, frames below 75)");
    return true;
  }
  if (command == "CATALOG" || command == "CDTEXTFILE" || command == "FLAGS" || command == "ISRC" ||
      command == "SONGWRITER" || command == "ARRANGER" || command == "COMPOSER" || command == "MESSAGE" ||
      command == "DISC_ID" || command == "GENRE" || command == "UPC_EAN" || command == "TOC_INFO1" ||
      command == "TOC_INFO2" || command == "SIZE_INFO")
    return true;
  std::string shown = UnmarkedTextToUTF8(Words_[0].Text.substr(0, 40));
  return Fail(number, "unknown command \"" + shown + "\" (not a cue sheet line)");
}

bool TCueReader::File(const std::vector<TWord>& words, std::int32_t line) {
  if (words.size() < 2) return Fail(line, "FILE without a file name");
  std::string name;
  std::string type;
  if (words.size() == 2) {
    name = std::string(words[1].Text);
  } else if (words[1].Quoted) {
    name = std::string(words[1].Text);
    type = Upper(Rest(words, 2));
  } else {
    // An unquoted name with blanks in it: the last word is the type.
    std::vector<TWord> nameWords(words.begin() + 1, words.end() - 1);
    name = Rest(nameWords, 0);
    type = Upper(words.back().Text);
  }
  if (name.empty()) return Fail(line, "FILE with an empty file name");
  if (type == "BINARY" || type == "MOTOROLA")
    return Fail(line, "FILE of type " + type +
                          " is raw CD data without a header, which cannot be burned from here; "
                          "convert it to a WAV file");
  Sheet_.Files.push_back({std::move(name), std::move(type), line});
  FileHasStart_.push_back(false);
  HaveFile_ = true;
  LastFramesInFile_ = -1;
  return true;
}

bool TCueReader::Track(const std::vector<TWord>& words, std::int32_t line) {
  if (!HaveFile_) return Fail(line, "TRACK before any FILE");
  std::int64_t number = 0;
  if (words.size() < 2 || !ParseNumber(words[1].Text, 2, number) || number < 1 || number > 99)
    return Fail(line, "TRACK needs a number from 1 to 99");
  if (words.size() < 3) return Fail(line, "TRACK " + std::to_string(number) + " has no type (AUDIO)");
  const std::string type = Upper(words[2].Text);
  if (type != "AUDIO")
    return Fail(line, "track " + std::to_string(number) + " is a data track (" +
                          UnmarkedTextToUTF8(words[2].Text.substr(0, 20)) + "): only audio tracks can be burned");
  if (!Sheet_.Tracks.empty()) {
    const TCueTrack& last = Sheet_.Tracks.back();
    if (number <= last.Number)
      return Fail(line, "track " + std::to_string(number) + " follows track " + std::to_string(last.Number) +
                            ": track numbers must rise");
    if (last.StartLine == 0)
      return Fail(last.Line, "track " + std::to_string(last.Number) + " has no INDEX 01 (where its audio starts)");
  }
  TCueTrack track;
  track.Number = static_cast<std::int32_t>(number);
  track.Line = line;
  Sheet_.Tracks.push_back(std::move(track));
  InTrack_ = true;
  LastIndex_ = -1;
  return true;
}

bool TCueReader::Index(const std::vector<TWord>& words, std::int32_t line) {
  if (!InTrack_) return Fail(line, "INDEX outside a track");
  std::int64_t number = 0;
  std::int64_t frames = 0;
  if (words.size() != 3 || !ParseNumber(words[1].Text, 2, number) || !ParseTime(words[2].Text, frames))
    return Fail(line, "INDEX needs a number and a time mm:ss:ff (seconds below 60, frames below 75)");
  if (number <= LastIndex_)
    return Fail(line, "INDEX " + std::to_string(number) + " follows INDEX " + std::to_string(LastIndex_) +
                          ": index numbers must rise");
  if (frames < LastFramesInFile_) return Fail(line, "this index point lies before the one above it in the same file");
  LastIndex_ = static_cast<std::int32_t>(number);
  LastFramesInFile_ = frames;
  if (number == 1) {
    TCueTrack& track = Sheet_.Tracks.back();
    track.File = Sheet_.Files.size() - 1;
    track.StartSample = frames * kCueFrameSamples;
    track.StartLine = line;
    FileHasStart_.back() = true;
  }
  return true;
}

bool TCueReader::Finish() {
  if (Sheet_.Files.empty()) return Fail(0, "no FILE entry: this is not a cue sheet of audio files");
  if (Sheet_.Tracks.empty()) return Fail(0, "no TRACK entry: the cue sheet lists no tracks");
  for (std::size_t i = 0; i < Sheet_.Files.size(); ++i)
    if (!FileHasStart_[i])
      return Fail(Sheet_.Files[i].Line, "no track starts in this FILE (it holds no INDEX 01)");
  std::vector<TCueTrack>& tracks = Sheet_.Tracks;
  if (tracks.back().StartLine == 0)
    return Fail(tracks.back().Line,
                "track " + std::to_string(tracks.back().Number) + " has no INDEX 01 (where its audio starts)");
  for (std::size_t i = 0; i + 1 < tracks.size(); ++i) {
    const TCueTrack& next = tracks[i + 1];
    if (next.File != tracks[i].File) continue;  // runs to the end of its file
    if (next.StartSample <= tracks[i].StartSample)
      return Fail(next.StartLine, "track " + std::to_string(next.Number) + " starts where track " +
                                      std::to_string(tracks[i].Number) + " starts: it would be empty");
    tracks[i].EndSample = next.StartSample;
  }
  return true;
}

}  // namespace

bool ParseCueSheet(std::string_view Text, const std::string& ListName, TCueSheet& Sheet, TListError& Error) {
  Sheet = TCueSheet{};
  std::vector<TListLine> lines;
  if (!SplitListLines(Text, ListName, lines, Error)) return false;
  TCueReader reader(ListName, Sheet, Error);
  bool good = true;
  for (const TListLine& line : lines)
    if (!(good = reader.Line(line.Text, line.Number))) break;
  if (good) good = reader.Finish();
  if (!good) Sheet = TCueSheet{};
  return good;
}

}  // namespace cv
