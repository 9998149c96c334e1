// TByteReader: a bounds-checked cursor over bytes that someone else owns: the
// one way every parser of the project reads fixed-width fields (drive
// replies, audio file headers, tags, container boxes and pages).
//
// Every read checks what is left first. A read that would pass the end is a
// short read: it returns zero (or an empty span), consumes nothing, and
// leaves the reader failed, so that every later read fails too and one Ok()
// at the end of a record tells whether the whole record was there. Nothing a
// field claims is ever allocated or indexed without that check.
//
// The reader never owns the bytes; the caller keeps them alive while it is
// used. One thread at a time; readers over the same bytes share nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace cv {

class TByteReader {
 public:
  TByteReader() = default;
  explicit TByteReader(std::span<const std::uint8_t> Bytes, std::size_t At = 0)
      : Bytes_(Bytes), Pos_(At), Good_(At <= Bytes.size()) {}

  // False once any read was short (or the start lay beyond the bytes).
  bool Ok() const { return Good_; }
  std::size_t Pos() const { return Pos_; }
  std::size_t Size() const { return Bytes_.size(); }
  // Bytes left from the position (0 once failed).
  std::size_t Left() const { return Good_ ? Bytes_.size() - Pos_ : 0; }
  // True when at least N bytes are left (no state change).
  bool Has(std::size_t N) const { return Good_ && N <= Left(); }

  std::uint8_t U8() { return static_cast<std::uint8_t>(Take(1, false)); }
  std::uint16_t LE16() { return static_cast<std::uint16_t>(Take(2, false)); }
  std::uint32_t LE24() { return static_cast<std::uint32_t>(Take(3, false)); }
  std::uint32_t LE32() { return static_cast<std::uint32_t>(Take(4, false)); }
  std::uint64_t LE64() { return Take(8, false); }
  std::uint16_t BE16() { return static_cast<std::uint16_t>(Take(2, true)); }
  std::uint32_t BE24() { return static_cast<std::uint32_t>(Take(3, true)); }
  std::uint32_t BE32() { return static_cast<std::uint32_t>(Take(4, true)); }
  std::uint64_t BE64() { return Take(8, true); }
  // An unsigned field of Width bytes (0 to 8).
  std::uint64_t LE(std::size_t Width) { return Take(Width, false); }
  std::uint64_t BE(std::size_t Width) { return Take(Width, true); }

  // The next N bytes as a view (empty and failed when fewer are left).
  std::span<const std::uint8_t> Bytes(std::size_t N);
  // The next N bytes as text (byte for byte, no decoding).
  std::string Text(std::size_t N);
  // Steps over N bytes.
  bool Skip(std::size_t N);
  // Moves to an absolute position within the bytes (the end included).
  bool Seek(std::size_t At);
  // True, and consumes them, when the next bytes are exactly Magic; false
  // otherwise (a mismatch consumes nothing and does not fail the reader; too
  // few bytes do fail it).
  bool Expect(std::string_view Magic);
  // The rest of the bytes from the position (empty once failed).
  std::span<const std::uint8_t> Rest() const;

 private:
  std::uint64_t Take(std::size_t Width, bool BigEndian);

  std::span<const std::uint8_t> Bytes_;
  std::size_t Pos_ = 0;
  bool Good_ = true;
};

// Writes fixed-width fields into a caller's buffer, with the same rule: a
// field that would not fit writes nothing and fails the writer.
class TByteWriter {
 public:
  explicit TByteWriter(std::span<std::uint8_t> Bytes, std::size_t At = 0)
      : Bytes_(Bytes), Pos_(At), Good_(At <= Bytes.size()) {}

  bool Ok() const { return Good_; }
  std::size_t Pos() const { return Pos_; }

  TByteWriter& U8(std::uint8_t V) { return Put(V, 1, false); }
  TByteWriter& LE16(std::uint16_t V) { return Put(V, 2, false); }
  TByteWriter& LE32(std::uint32_t V) { return Put(V, 4, false); }
  TByteWriter& BE16(std::uint16_t V) { return Put(V, 2, true); }
  TByteWriter& BE24(std::uint32_t V) { return Put(V, 3, true); }
  TByteWriter& BE32(std::uint32_t V) { return Put(V, 4, true); }

 private:
  TByteWriter& Put(std::uint64_t V, std::size_t Width, bool BigEndian);

  std::span<std::uint8_t> Bytes_;
  std::size_t Pos_ = 0;
  bool Good_ = true;
};

}  // namespace cv
