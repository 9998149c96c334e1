// Random-access byte sources for the header readers: a file opened
// read-only, or a block of memory (tests, fuzzers, callers that already hold
// the bytes).
//
// A source answers its size and copies bytes at an absolute position; it
// never allocates what the data claims. One source is used by one thread at
// a time; separate sources share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>

namespace cv {

class TByteSource {
 public:
  virtual ~TByteSource() = default;

  // False when the source could not be opened; every other call then fails.
  virtual bool IsOpen() const = 0;
  // Size of the whole source in bytes (0 when not open).
  virtual std::int64_t Size() const = 0;
  // Copies up to dst.size() bytes from the absolute position into dst and
  // returns how many were copied (fewer near the end, 0 on any error or for a
  // position outside 0..Size()).
  virtual std::size_t ReadAt(std::int64_t position, std::span<std::uint8_t> dst) = 0;

  // Reads exactly dst.size() bytes; false (dst partly written) otherwise.
  bool ReadExact(std::int64_t position, std::span<std::uint8_t> dst) {
    return ReadAt(position, dst) == dst.size();
  }
};

// A regular file opened read-only with the standard C++ streams (anything
// else, such as a directory, FIFO or device, is refused without being
// opened). The file stays open for the life of the object and is closed by
// the destructor.
class TFileByteSource final : public TByteSource {
 public:
  explicit TFileByteSource(const std::string& fileName);

  bool IsOpen() const override { return Open; }
  std::int64_t Size() const override { return FileSize; }
  std::size_t ReadAt(std::int64_t position, std::span<std::uint8_t> dst) override;

  // errno of the failed open (0 when open).
  int OpenError() const { return Error; }

 private:
  std::ifstream Stream;
  bool Open = false;
  std::int64_t FileSize = 0;
  int Error = 0;
};

// A view of bytes owned by the caller, who keeps them alive while the source
// is used.
class TMemoryByteSource final : public TByteSource {
 public:
  explicit TMemoryByteSource(std::span<const std::uint8_t> bytes) : Bytes(bytes) {}

  bool IsOpen() const override { return true; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(Bytes.size()); }
  std::size_t ReadAt(std::int64_t position, std::span<std::uint8_t> dst) override;

 private:
  std::span<const std::uint8_t> Bytes;
};

}  // namespace cv
