#include "formats/cvByteSource.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace cv {

TFileByteSource::TFileByteSource(const std::string& fileName) {
  // Only regular files: opening a FIFO would wait for a writer, a device may
  // never end.
  std::error_code ec;
  const auto status = std::filesystem::status(fileName, ec);
  if (ec) {
    Error = ec.value() != 0 ? ec.value() : ENOENT;
    return;
  }
  if (!std::filesystem::is_regular_file(status)) {
    Error = std::filesystem::is_directory(status) ? EISDIR : EINVAL;
    return;
  }
  errno = 0;
  Stream.open(fileName, std::ios::in | std::ios::binary);
  if (!Stream.is_open()) {
    Error = errno != 0 ? errno : ENOENT;
    return;
  }
  Stream.seekg(0, std::ios::end);
  const std::streamoff end = Stream.tellg();
  if (!Stream || end < 0) {
    // Not a seekable regular file (a directory, a pipe).
    Error = errno != 0 ? errno : EIO;
    Stream.close();
    return;
  }
  FileSize = static_cast<std::int64_t>(end);
  Open = true;
}

std::size_t TFileByteSource::ReadAt(std::int64_t position, std::span<std::uint8_t> dst) {
  if (!Open || position < 0 || position > FileSize || dst.empty()) return 0;
  const std::int64_t available = FileSize - position;
  const std::size_t count =
      static_cast<std::size_t>(std::min<std::int64_t>(available, static_cast<std::int64_t>(dst.size())));
  if (count == 0) return 0;
  Stream.clear();
  Stream.seekg(static_cast<std::streamoff>(position), std::ios::beg);
  if (!Stream) return 0;
  Stream.read(reinterpret_cast<char*>(dst.data()), static_cast<std::streamsize>(count));
  const std::streamsize got = Stream.gcount();
  return got > 0 ? static_cast<std::size_t>(got) : 0;
}

std::size_t TMemoryByteSource::ReadAt(std::int64_t position, std::span<std::uint8_t> dst) {
  if (position < 0 || position > Size() || dst.empty()) return 0;
  const std::size_t start = static_cast<std::size_t>(position);
  const std::size_t count = std::min(dst.size(), Bytes.size() - start);
  if (count > 0) std::memcpy(dst.data(), Bytes.data() + start, count);
  return count;
}

}  // namespace cv
