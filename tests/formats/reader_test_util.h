// Helpers of the WAV, WMA and Ogg reader tests: little-endian byte builders,
// fixture paths, whole-file reads and temporary files.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace cv::testing {

using Bytes = std::vector<uint8_t>;

inline void Put8(Bytes& b, uint8_t v) { b.push_back(v); }
inline void Put16(Bytes& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Put64(Bytes& b, uint64_t v) {
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void PutText(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }
inline void PutBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline void SetLE32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

inline std::string Fixture(const std::string& relative) {
  return std::string(CORVID_FIXTURES_DIR) + "/" + relative;
}

inline Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A directory of its own under the system's temporary directory, removed
// with everything in it when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvid-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }

  // Writes Content to Name inside the directory and returns the full path.
  std::string Write(const std::string& Name, const Bytes& Content) const {
    std::string full = path_ + "/" + Name;
    std::ofstream out(full, std::ios::binary);
    out.write(reinterpret_cast<const char*>(Content.data()), static_cast<std::streamsize>(Content.size()));
    return full;
  }

 private:
  std::string path_;
};

}  // namespace cv::testing
