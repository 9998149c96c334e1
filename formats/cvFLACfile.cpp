#include "formats/cvFLACfile.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "device/cvByteReader.h"
#include "formats/cvReadFile.h"

namespace cv {
namespace {

enum TBlockType : uint8_t { kStreamInfo = 0, kVorbisComment = 4 };

constexpr uint32_t kMaxBlocks = 1024;
// A comment block longer than this is cut (what is left of a truncated
// entry is dropped); covers belong in PICTURE blocks.
constexpr uint32_t kMaxCommentBytes = 1 << 20;


uint8_t Crc8(const uint8_t* p, size_t n) {
  uint8_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = uint8_t((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
  }
  return crc;
}

uint16_t Crc16(const uint8_t* p, size_t n) {
  static const auto table = [] {
    std::array<uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
      uint16_t c = uint16_t(i << 8);
      for (int k = 0; k < 8; ++k) c = uint16_t((c & 0x8000) ? (c << 1) ^ 0x8005 : c << 1);
      t[i] = c;
    }
    return t;
  }();
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) crc = uint16_t((crc << 8) ^ table[((crc >> 8) ^ p[i]) & 0xFF]);
  return crc;
}

struct TFrameHead {
  uint64_t FirstSample = 0;  // the frame's first sample number
  uint32_t BlockSize = 0;
};

// A frame header at p (Left bytes available) whose fields are legal and
// whose CRC-8 holds. NominalBlock: STREAMINFO's block size, for
// fixed-block streams (whose headers count frames, not samples).
bool ParseFrameHead(const uint8_t* p, size_t Left, uint32_t NominalBlock, TFrameHead& out) {
  if (Left < 6 || p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return false;
  const bool variable = p[1] & 1;
  const unsigned blockCode = p[2] >> 4, rateCode = p[2] & 15;
  const unsigned channels = p[3] >> 4, sizeCode = (p[3] >> 1) & 7;
  if (blockCode == 0 || rateCode == 15 || channels > 10 || sizeCode == 3 || (p[3] & 1)) return false;
  size_t at = 4;
  // The frame or sample number, UTF-8 style (1 to 7 bytes).
  const uint8_t lead = p[at++];
  int extra = 0;
  uint64_t number = 0;
  if (lead < 0x80) number = lead;
  else if ((lead & 0xE0) == 0xC0) extra = 1, number = lead & 0x1F;
  else if ((lead & 0xF0) == 0xE0) extra = 2, number = lead & 0x0F;
  else if ((lead & 0xF8) == 0xF0) extra = 3, number = lead & 0x07;
  else if ((lead & 0xFC) == 0xF8) extra = 4, number = lead & 0x03;
  else if ((lead & 0xFE) == 0xFC) extra = 5, number = lead & 0x01;
  else if (lead == 0xFE) extra = 6, number = 0;
  else return false;
  if (!variable && extra > 5) return false;
  for (int i = 0; i < extra; ++i) {
    if (at >= Left || (p[at] & 0xC0) != 0x80) return false;
    number = (number << 6) | (p[at++] & 0x3F);
  }
  uint32_t block = 0;
  if (blockCode == 1) block = 192;
  else if (blockCode <= 5) block = 576u << (blockCode - 2);
  else if (blockCode == 6) {
    if (at >= Left) return false;
    block = uint32_t(p[at++]) + 1;
  } else if (blockCode == 7) {
    if (at + 1 >= Left) return false;
    block = ((uint32_t(p[at]) << 8) | p[at + 1]) + 1;
    at += 2;
  } else {
    block = 256u << (blockCode - 8);
  }
  if (rateCode == 12) at += 1;
  else if (rateCode == 13 || rateCode == 14) at += 2;
  if (at >= Left || Crc8(p, at) != p[at]) return false;
  out.BlockSize = block;
  out.FirstSample = variable ? number : number * NominalBlock;
  return true;
}

}  // namespace

bool ReadFLACStreamInfo(std::span<const uint8_t> Body, TFLACStreamInfo* Out) {
  TByteReader r(Body);
  TFLACStreamInfo info;
  info.MinBlockSize = r.BE16();
  info.MaxBlockSize = r.BE16();
  info.MinFrameSize = r.BE24();
  info.MaxFrameSize = r.BE24();
  // 20 bits rate, 3 bits channels - 1, 5 bits bits - 1, 36 bits samples.
  const uint64_t packed = r.BE64();
  info.SampleRate = uint32_t(packed >> 44);
  info.ChannelCount = uint8_t(((packed >> 41) & 7) + 1);
  info.BitsPerSample = uint8_t(((packed >> 36) & 31) + 1);
  info.TotalSamples = packed & ((uint64_t{1} << 36) - 1);
  info.MD5 = r.Bytes(16);
  if (!r.Ok()) return false;
  if (Out) *Out = info;
  return true;
}

bool TFLACfile::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  return ReadFileInfo(source);
}

bool TFLACfile::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TFLACfile::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);
  const int64_t id3 = LeadingID3v2Size(file);
  uint8_t marker[4] = {};
  if (file.ReadAt(id3, marker, 4) != 4 || marker[0] != 'f' || marker[1] != 'L' || marker[2] != 'a' || marker[3] != 'C')
    return false;

  TFLACfile found;
  found.FileSize = file.Size();
  found.ID3v2Size = id3;
  bool streamInfo = false;
  int64_t pos = id3 + 4;
  for (uint32_t n = 0; n < kMaxBlocks; ++n) {
    uint8_t head[4];
    if (file.ReadAt(pos, head, 4) != 4) break;
    TByteReader h(head);
    const uint8_t type = h.U8();
    const uint32_t length = h.BE24();
    const int64_t body = pos + 4;
    if (body + length > found.FileSize) break;  // a block cut off by the end of the file
    ++found.Blocks;
    if ((type & 0x7F) == kStreamInfo && n == 0 && length >= 34) {
      std::vector<uint8_t> bytes(34);
      file.ReadAt(body, bytes.data(), 34);
      TFLACStreamInfo info;
      streamInfo = ReadFLACStreamInfo(bytes, &info);
      found.MinBlockSize = info.MinBlockSize;
      found.MaxBlockSize = info.MaxBlockSize;
      found.MinFrameSize = info.MinFrameSize;
      found.MaxFrameSize = info.MaxFrameSize;
      found.SampleRate = info.SampleRate;
      found.ChannelCount = info.ChannelCount;
      found.BitsPerSample = info.BitsPerSample;
      found.TotalSamples = info.TotalSamples;
      std::string md5;
      for (uint8_t b : info.MD5) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        md5 += hex;
      }
      found.MD5 = md5;
    } else if ((type & 0x7F) == kVorbisComment && found.Tags.Vendor.empty()) {
      std::vector<uint8_t> bytes(std::min(length, kMaxCommentBytes));
      if (file.ReadAt(body, bytes.data(), bytes.size()) == bytes.size()) found.Tags.Parse(bytes);
    }
    pos = body + length;
    if (type & 0x80) {
      found.AudioOffset = pos;
      break;
    }
  }
  if (!streamInfo) return false;
  if (found.AudioOffset == 0) found.AudioOffset = pos;
  found.Valid = found.SampleRate >= 1 && found.SampleRate <= 655350 && found.BitsPerSample >= 4;
  *this = std::move(found);
  return true;
}

int32_t TFLACfile::DurationSectors() const {
  if (!Valid || SampleRate == 0) return 0;
  const uint64_t sectors = (TotalSamples * 75 + SampleRate - 1) / SampleRate;
  return int32_t(std::min<uint64_t>(sectors, INT32_MAX));
}

int64_t FLACEndSample(TByteSource& Source, int64_t AudioOffset, uint32_t NominalBlock, int64_t MaxBack) {
  const int64_t size = Source.Size();
  if (AudioOffset < 0 || size - AudioOffset < 8) return -1;
  for (int64_t back : {int64_t{64 * 1024}, MaxBack}) {
    const int64_t from = std::max(AudioOffset, size - std::min(back, MaxBack));
    std::vector<uint8_t> tail(size_t(size - from));
    if (!Source.ReadExact(from, tail)) return -1;
    // The frame nearest to the end whose header and whole-frame CRC hold.
    for (size_t p = tail.size() - 8;; --p) {
      TFrameHead head;
      if (tail[p] == 0xFF && ParseFrameHead(tail.data() + p, tail.size() - p, NominalBlock, head)) {
        const size_t end = tail.size() - 2;
        const uint16_t stored = uint16_t((tail[end] << 8) | tail[end + 1]);
        if (Crc16(tail.data() + p, end - p) == stored) return int64_t(head.FirstSample + head.BlockSize);
      }
      if (p == 0) break;
    }
    if (from == AudioOffset) break;
  }
  return -1;
}

}  // namespace cv
