#include "formats/cvReadFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cv {
namespace {
constexpr size_t kWindowSize = 64 * 1024;
}

TReadFile::~TReadFile() { Close(); }

int TReadFile::Open(const std::string& FileName) {
  Close();
  int fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    return e;
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return EISDIR;
  }
  fd_ = fd;
  size_ = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  windowStart_ = -1;
  windowLength_ = 0;
  return 0;
}

void TReadFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  size_ = 0;
  windowStart_ = -1;
  windowLength_ = 0;
}

bool TReadFile::Fill(int64_t Offset) {
  if (window_.size() != kWindowSize) window_.assign(kWindowSize, 0);
  size_t want = static_cast<size_t>(std::min<int64_t>(kWindowSize, size_ - Offset));
  size_t got = 0;
  while (got < want) {
    ssize_t n = ::pread(fd_, window_.data() + got, want - got, static_cast<off_t>(Offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  windowStart_ = Offset;
  windowLength_ = got;
  return got > 0;
}

size_t TReadFile::ReadAt(int64_t Offset, void* Dest, size_t Count) {
  if (fd_ < 0 || Offset < 0 || Offset >= size_ || Count == 0) return 0;
  auto* out = static_cast<uint8_t*>(Dest);
  size_t done = 0;
  while (done < Count) {
    int64_t pos = Offset + static_cast<int64_t>(done);
    if (pos >= size_) break;
    bool inWindow = windowStart_ >= 0 && pos >= windowStart_ &&
                    pos < windowStart_ + static_cast<int64_t>(windowLength_);
    if (!inWindow && !Fill(pos)) break;
    size_t at = static_cast<size_t>(pos - windowStart_);
    size_t n = std::min(Count - done, windowLength_ - at);
    std::memcpy(out + done, window_.data() + at, n);
    done += n;
  }
  return done;
}

std::vector<uint8_t> TReadFile::ReadZeroFilled(int64_t Offset, size_t Count) {
  std::vector<uint8_t> buffer(Count, 0);
  ReadAt(Offset, buffer.data(), Count);
  return buffer;
}

}  // namespace cv
