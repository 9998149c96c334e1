// TReadFile: a read-only view of one file for the header readers.
//
// Every read is bounded: ReadAt copies at most the bytes the file holds from
// the given offset and reports how many it copied, so a reader that trusts
// no length field can never read outside the file or its own buffers. Reads
// go through a small window cache, so a walk over many small records does
// not cost one system call per record.
//
// Owned by one header reader for the duration of one ReadFileInfo; not
// shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cv {

class TReadFile {
 public:
  TReadFile() = default;
  ~TReadFile();
  TReadFile(const TReadFile&) = delete;
  TReadFile& operator=(const TReadFile&) = delete;

  // Opens FileName read-only. Returns 0 on success, else the errno value.
  // A directory counts as a file that cannot be opened (EISDIR).
  int Open(const std::string& FileName);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

  // Size of the file in bytes when it was opened.
  int64_t Size() const { return size_; }

  // Copies up to Count bytes from file offset Offset into Dest and returns
  // the number copied: fewer than Count at the end of the file, 0 for an
  // offset at or beyond the end (or negative), or on a read error.
  size_t ReadAt(int64_t Offset, void* Dest, size_t Count);

  // ReadAt into a zero-filled buffer of Count bytes; short reads leave the
  // tail zero.
  std::vector<uint8_t> ReadZeroFilled(int64_t Offset, size_t Count);

 private:
  bool Fill(int64_t Offset);

  int fd_ = -1;
  int64_t size_ = 0;
  std::vector<uint8_t> window_;
  int64_t windowStart_ = -1;
  size_t windowLength_ = 0;
};

}  // namespace cv
