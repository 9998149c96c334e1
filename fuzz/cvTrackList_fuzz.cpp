// Fuzz target of the list expansion on real files: the input is cut at each
// 0xFF byte into up to four lists (a.m3u, b.pls, c.cue, d.m3u8) written to a
// folder of their own, which may name each other and a few audio files
// there; a.m3u is expanded. Loops, depth and size must be refused, never
// hang or crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "formats/cvTrackList.h"

namespace {

std::filesystem::path Folder() {
  static const std::filesystem::path folder = [] {
    char pattern[] = "/tmp/cv-fuzz-lists-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    std::filesystem::path path = made ? made : "/tmp";
    for (const char* name : {"x.wav", "y.flac", "z.mp3"}) std::ofstream(path / name) << "x";
    return path;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path folder = Folder();
  const char* names[] = {"a.m3u", "b.pls", "c.cue", "d.m3u8"};
  size_t start = 0;
  for (int i = 0; i < 4; ++i) {
    size_t end = start;
    while (end < size && data[end] != 0xFF) ++end;
    std::ofstream(folder / names[i], std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data + start), static_cast<std::streamsize>(end - start));
    start = end < size ? end + 1 : size;
  }
  std::vector<cv::TListTrack> tracks;
  cv::TListError error;
  if (!cv::ExpandTrackLists({(folder / "a.m3u").string()}, tracks, error)) {
    if (error.Message.empty() || !tracks.empty()) __builtin_trap();
    return 0;
  }
  if (tracks.empty() || tracks.size() > cv::kMaxListTracks) __builtin_trap();
  for (const cv::TListTrack& t : tracks)
    if (t.Path.empty() || t.StartSample < 0 || (t.EndSample != -1 && t.EndSample <= t.StartSample)) __builtin_trap();
  return 0;
}
