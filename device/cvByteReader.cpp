#include "device/cvByteReader.h"

#include <cstring>

namespace cv {

std::uint64_t TByteReader::Take(std::size_t Width, bool BigEndian) {
  if (Width > 8 || !Has(Width)) {
    Good_ = false;
    return 0;
  }
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < Width; ++i) {
    const std::uint64_t b = Bytes_[Pos_ + i];
    v |= BigEndian ? b << (8 * (Width - 1 - i)) : b << (8 * i);
  }
  Pos_ += Width;
  return v;
}

std::span<const std::uint8_t> TByteReader::Bytes(std::size_t N) {
  if (!Has(N)) {
    Good_ = false;
    return {};
  }
  auto s = Bytes_.subspan(Pos_, N);
  Pos_ += N;
  return s;
}

std::string TByteReader::Text(std::size_t N) {
  auto s = Bytes(N);
  return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

bool TByteReader::Skip(std::size_t N) {
  if (!Has(N)) {
    Good_ = false;
    return false;
  }
  Pos_ += N;
  return true;
}

bool TByteReader::Seek(std::size_t At) {
  if (!Good_ || At > Bytes_.size()) {
    Good_ = false;
    return false;
  }
  Pos_ = At;
  return true;
}

bool TByteReader::Expect(std::string_view Magic) {
  if (!Has(Magic.size())) {
    Good_ = false;
    return false;
  }
  if (std::memcmp(Bytes_.data() + Pos_, Magic.data(), Magic.size()) != 0) return false;
  Pos_ += Magic.size();
  return true;
}

std::span<const std::uint8_t> TByteReader::Rest() const {
  if (!Good_) return {};
  return Bytes_.subspan(Pos_);
}

TByteWriter& TByteWriter::Put(std::uint64_t V, std::size_t Width, bool BigEndian) {
  if (!Good_ || Width > Bytes_.size() - Pos_) {
    Good_ = false;
    return *this;
  }
  for (std::size_t i = 0; i < Width; ++i) {
    const unsigned shift = static_cast<unsigned>(8 * (BigEndian ? Width - 1 - i : i));
    Bytes_[Pos_ + i] = static_cast<std::uint8_t>(V >> shift);
  }
  Pos_ += Width;
  return *this;
}

}  // namespace cv
