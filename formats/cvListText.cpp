#include "formats/cvListText.h"

#include <cctype>

namespace cv {

std::string TListError::Text() const {
  if (Line > 0) return File + " line " + std::to_string(Line) + ": " + Message;
  return File + ": " + Message;
}

std::string_view TrimBlanks(std::string_view Text) {
  while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t')) Text.remove_prefix(1);
  while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t')) Text.remove_suffix(1);
  return Text;
}

bool SameWord(std::string_view Text, std::string_view Word) {
  if (Text.size() != Word.size()) return false;
  for (std::size_t i = 0; i < Text.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(Text[i])) != std::tolower(static_cast<unsigned char>(Word[i])))
      return false;
  return true;
}

bool SplitListLines(std::string_view Text, const std::string& ListName, std::vector<TListLine>& Lines,
                    TListError& Error) {
  Lines.clear();
  if (Text.substr(0, 3) == "\xEF\xBB\xBF") Text.remove_prefix(3);
  std::int32_t number = 0;
  std::size_t at = 0;
  while (at < Text.size()) {
    ++number;
    std::size_t end = at;
    while (end < Text.size() && Text[end] != '\n' && Text[end] != '\r') ++end;
    const std::string_view line = Text.substr(at, end - at);
    if (line.size() > kMaxListLineBytes) {
      Error = {ListName, number, "the line is too long (more than " + std::to_string(kMaxListLineBytes) + " bytes)"};
      return false;
    }
    if (line.find('\0') != std::string_view::npos) {
      Error = {ListName, number, "the line holds a NUL byte: this is not a text file"};
      return false;
    }
    std::string_view kept = line;
    while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t')) kept.remove_suffix(1);
    Lines.push_back({kept, number});
    if (end < Text.size() && Text[end] == '\r' && end + 1 < Text.size() && Text[end + 1] == '\n') ++end;
    at = end + 1;
  }
  return true;
}

bool HasURLScheme(std::string_view Text) {
  // scheme = letter *( letter / digit / "+" / "-" / "." ) ":", two letters or
  // more so that a drive letter ("C:\") is not taken for one.
  std::size_t i = 0;
  while (i < Text.size() && (std::isalnum(static_cast<unsigned char>(Text[i])) || Text[i] == '+' || Text[i] == '-' ||
                             Text[i] == '.'))
    ++i;
  return i >= 2 && i < Text.size() && Text[i] == ':' && std::isalpha(static_cast<unsigned char>(Text[0]));
}

bool FileURLToPath(std::string_view URL, std::string& Path) {
  Path.clear();
  if (URL.size() < 5 || !SameWord(URL.substr(0, 5), "file:")) return false;
  std::string_view rest = URL.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return false;
    const std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !SameWord(host, "localhost")) return false;
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest.front() != '/') return false;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (std::size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      Path.push_back(rest[i]);
      continue;
    }
    if (i + 2 >= rest.size()) return false;
    const int high = hex(rest[i + 1]);
    const int low = hex(rest[i + 2]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
    Path.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

}  // namespace cv
