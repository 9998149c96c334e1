#include "formats/cvTrackList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "formats/cvCueSheet.h"
#include "formats/cvPlaylist.h"
#include "formats/cvUnicode.h"

namespace cv {

namespace {

// Lists opened in one expansion at most (a list may name the same other list
// many times without a loop; this bounds the work).
constexpr int kMaxListsOpened = 1000;

// Endings tried for a cue sheet's FILE that is not there under its own name
// (a sheet written for the WAV rip and kept beside the compressed album).
constexpr const char* kAudioEndings[] = {".flac", ".wav", ".mp3", ".ogg", ".opus", ".m4a", ".aiff", ".aif", ".wma"};

std::string LowerEnding(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  std::string ending = path.substr(dot);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ending;
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return path.substr(0, slash + 1);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Why path cannot be used as a file of a list; empty when it can.
std::string FileProblem(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder, not a file";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  return {};
}

bool ValidUTF8(std::string_view text) {
  while (!text.empty()) {
    std::uint32_t codePoint = 0;
    const std::size_t n = DecodeUTF8(text, codePoint);
    if (n == 0) return false;
    text.remove_prefix(n);
  }
  return true;
}

// The paths a list's entry may mean, most likely first: as written, with
// Windows separators turned round, with ISO-8859-1 bytes as UTF-8.
std::vector<std::string> Candidates(const std::string& folder, const std::string& location) {
  std::vector<std::string> names{location};
  if (location.find('\\') != std::string::npos) {
    std::string turned = location;
    std::replace(turned.begin(), turned.end(), '\\', '/');
    names.push_back(turned);
  }
  for (std::size_t i = 0, n = names.size(); i < n; ++i)
    if (!ValidUTF8(names[i])) names.push_back(Latin1ToUTF8(names[i]));
  std::vector<std::string> paths;
  for (const std::string& name : names) paths.push_back(!name.empty() && name.front() == '/' ? name : folder + name);
  return paths;
}

class TExpander {
 public:
  TExpander(std::vector<TListTrack>& tracks, TListError& error) : Tracks_(tracks), Error_(error) {}

  // Adds path: an audio file as it is, a list expanded. from: the list and
  // line naming it (empty for a path given directly).
  bool Add(const std::string& path, const std::string& fromList, std::int32_t fromLine);

 private:
  bool Fail(const std::string& file, std::int32_t line, std::string message) {
    Error_ = {file, line, std::move(message)};
    return false;
  }
  bool Push(TListTrack track) {
    if (Tracks_.size() >= kMaxListTracks)
      return Fail(track.ListFile, track.ListLine,
                  "the lists name more than " + std::to_string(kMaxListTracks) + " tracks");
    Tracks_.push_back(std::move(track));
    return true;
  }
  bool ReadList(const std::string& path, std::string& text, const std::string& fromList, std::int32_t fromLine);
  bool ExpandPlaylist(const std::string& path, TListKind kind, const std::string& text);
  bool ExpandCue(const std::string& path, const std::string& text);
  // The existing file an entry at line of list names; false (Error set) when
  // there is none.
  bool Resolve(const std::string& list, std::int32_t line, const std::string& location, bool tryEndings,
               std::string& path);

  std::vector<TListTrack>& Tracks_;
  TListError& Error_;
  std::vector<std::string> Open_;  // canonical paths of the lists being expanded
  int Opened_ = 0;
};

bool TExpander::Resolve(const std::string& list, std::int32_t line, const std::string& location, bool tryEndings,
                        std::string& path) {
  const std::vector<std::string> candidates = Candidates(Folder(list), location);
  for (const std::string& candidate : candidates)
    if (IsRegularFile(candidate)) {
      path = candidate;
      return true;
    }
  if (tryEndings) {
    for (const std::string& candidate : candidates) {
      const std::string ending = LowerEnding(candidate);
      if (ending.empty()) continue;
      const std::string stem = candidate.substr(0, candidate.size() - ending.size());
      for (const char* other : kAudioEndings)
        if (IsRegularFile(stem + other)) {
          path = stem + other;
          return true;
        }
    }
  }
  const std::string shown = UnmarkedTextToUTF8(location);
  const std::string problem = FileProblem(candidates.front());
  if (problem == std::strerror(ENOENT))
    return Fail(list, line, "\"" + shown + "\" does not exist (looked for " + UnmarkedTextToUTF8(candidates.front()) + ")");
  return Fail(list, line, "\"" + shown + "\" cannot be used: " + problem);
}

bool TExpander::ReadList(const std::string& path, std::string& text, const std::string& fromList,
                         std::int32_t fromLine) {
  auto failHere = [&](const std::string& message) {
    if (fromList.empty()) return Fail(path, 0, message);
    return Fail(fromList, fromLine, UnmarkedTextToUTF8(path) + ": " + message);
  };
  if (++Opened_ > kMaxListsOpened)
    return failHere("more than " + std::to_string(kMaxListsOpened) + " lists opened: the lists name each other too often");
  if (std::string problem = FileProblem(path); !problem.empty()) return failHere(problem);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return failHere(std::strerror(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return failHere("it is not a regular file");
  }
  if (st.st_size > kMaxListFileBytes) {
    ::close(fd);
    return failHere("too large for a playlist or cue sheet (more than " + std::to_string(kMaxListFileBytes) +
                    " bytes)");
  }
  text.assign(static_cast<std::size_t>(st.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return failHere(std::strerror(error));
    }
    if (n == 0) break;  // shrank meanwhile: what was there
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  text.resize(got);
  return true;
}

bool TExpander::Add(const std::string& path, const std::string& fromList, std::int32_t fromLine) {
  const TListKind kind = ListKindOfName(path);
  if (kind == TListKind::None) {
    TListTrack track;
    track.Path = path;
    track.ListFile = fromList;
    track.ListLine = fromLine;
    return Push(std::move(track));
  }
  if (Open_.size() >= static_cast<std::size_t>(kMaxListDepth))
    return Fail(fromList, fromLine, "lists nested more than " + std::to_string(kMaxListDepth) + " deep");
  std::string text;
  if (!ReadList(path, text, fromList, fromLine)) return false;
  char resolved[PATH_MAX];
  const std::string canonical = ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
  if (std::find(Open_.begin(), Open_.end(), canonical) != Open_.end())
    return Fail(fromList, fromLine,
                UnmarkedTextToUTF8(path) + " is a list that includes itself (directly or through other lists)");
  Open_.push_back(canonical);
  const bool good = kind == TListKind::Cue ? ExpandCue(path, text) : ExpandPlaylist(path, kind, text);
  Open_.pop_back();
  return good;
}

bool TExpander::ExpandPlaylist(const std::string& path, TListKind kind, const std::string& text) {
  std::vector<TPlaylistEntry> entries;
  const bool parsed = kind == TListKind::PLS ? ParsePLS(text, path, entries, Error_)
                                             : ParseM3U(text, kind == TListKind::M3U8, path, entries, Error_);
  if (!parsed) return false;
  for (const TPlaylistEntry& entry : entries) {
    std::string file;
    if (!Resolve(path, entry.Line, entry.Location, false, file)) return false;
    const std::size_t before = Tracks_.size();
    if (!Add(file, path, entry.Line)) return false;
    // A title from the playlist names a single audio file, not a list.
    if (Tracks_.size() == before + 1 && !Tracks_.back().IsRange() && !entry.Title.empty() &&
        ListKindOfName(file) == TListKind::None)
      Tracks_.back().Title = entry.Title;
  }
  return true;
}

bool TExpander::ExpandCue(const std::string& path, const std::string& text) {
  TCueSheet sheet;
  if (!ParseCueSheet(text, path, sheet, Error_)) return false;
  std::vector<std::string> files(sheet.Files.size());
  for (std::size_t i = 0; i < sheet.Files.size(); ++i) {
    if (!Resolve(path, sheet.Files[i].Line, sheet.Files[i].Name, true, files[i])) return false;
    if (ListKindOfName(files[i]) != TListKind::None)
      return Fail(path, sheet.Files[i].Line, "a cue sheet's FILE must be an audio file, not a list");
  }
  for (const TCueTrack& cue : sheet.Tracks) {
    TListTrack track;
    track.Path = files[cue.File];
    track.StartSample = cue.StartSample;
    track.EndSample = cue.EndSample;
    track.Title = cue.Title;
    track.Performer = cue.Performer.empty() ? sheet.Performer : cue.Performer;
    track.ListFile = path;
    track.ListLine = cue.StartLine;
    track.CueTrack = cue.Number;
    if (!Push(std::move(track))) return false;
  }
  return true;
}

}  // namespace

TListKind ListKindOfName(const std::string& Path) {
  const std::string ending = LowerEnding(Path);
  if (ending == ".m3u") return TListKind::M3U;
  if (ending == ".m3u8") return TListKind::M3U8;
  if (ending == ".pls") return TListKind::PLS;
  if (ending == ".cue") return TListKind::Cue;
  return TListKind::None;
}

bool ExpandTrackLists(const std::vector<std::string>& Paths, std::vector<TListTrack>& Tracks, TListError& Error) {
  Tracks.clear();
  TExpander expander(Tracks, Error);
  for (const std::string& path : Paths)
    if (!expander.Add(path, "", 0)) {
      Tracks.clear();
      return false;
    }
  return true;
}

}  // namespace cv
