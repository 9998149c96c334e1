#include "formats/cvWAVfile.h"

#include <algorithm>
#include <cstring>

#include "device/cvByteReader.h"
#include "formats/cvReadFile.h"
#include "formats/cvTagText.h"

namespace cv {
namespace {

constexpr int64_t kMinFileSize = 40;
// A hostile file cannot make the walk run long: every step advances by at
// least 8 bytes, and the step count is capped as well.
constexpr int kMaxChunks = 100000;

bool IdIs(const uint8_t* p, const char* id) { return std::memcmp(p, id, 4) == 0; }

}  // namespace

TWAVfile::TWAVfile() { Clear(); }

void TWAVfile::Clear() {
  Valid = false;
  FormatTag = 0;
  ChannelCount = 0;
  SampleRate = 0;
  BytesPerSecond = 0;
  BlockAlign = 0;
  BitsPerSample = 0;
  SampleCount = 0;
  HeaderSize = 0;
  FileSize = 0;
  DataSize = 0;
  HasFact = false;
}

bool TWAVfile::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  if (!source.IsOpen()) {
    Clear();
    return false;
  }
  return ReadFileInfo(source);
}

bool TWAVfile::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TWAVfile::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);
  const int64_t diskSize = file.Size();
  if (diskSize < kMinFileSize) return false;

  uint8_t riff[12];
  if (file.ReadAt(0, riff, sizeof riff) != sizeof riff) return false;
  if (!IdIs(riff, "RIFF") || !IdIs(riff + 8, "WAVE")) return true;

  // The RIFF size bounds the walk only when it is a real size inside the file.
  const uint32_t riffSize = TByteReader(riff, 4).LE32();
  int64_t riffEnd = diskSize;
  if (riffSize != 0 && riffSize != 0xFFFFFFFFu && int64_t{riffSize} + 8 <= diskSize)
    riffEnd = int64_t{riffSize} + 8;

  bool haveFmt = false, haveData = false;
  uint8_t fmt[16] = {};
  int32_t factSamples = 0;
  bool haveFact = false;
  int64_t dataStart = 0, dataSize = 0;

  int64_t pos = 12;
  for (int step = 0; step < kMaxChunks && pos + 8 <= diskSize; ++step) {
    uint8_t head[8];
    if (file.ReadAt(pos, head, 8) != 8) break;
    const int64_t size = TByteReader(head, 4).LE32();
    const int64_t body = pos + 8;
    if (IdIs(head, "data") && !haveData) {
      // The samples run to the end of the file when the size is a streaming
      // placeholder or larger than what the file holds; nothing after them
      // can then be found.
      dataStart = body;
      dataSize = size;
      haveData = true;
      if (size == 0 || size == 0xFFFFFFFFLL || body + size > diskSize) {
        dataSize = diskSize - body;
        break;
      }
      if (haveFmt) break;
    }
    if (body + size > diskSize) break;  // a chunk cut off by the end of the file
    if (IdIs(head, "fmt ") && !haveFmt) {
      if (size < 16) break;
      if (file.ReadAt(body, fmt, 16) != 16) break;
      haveFmt = true;
    } else if (IdIs(head, "fact") && !haveFact && size >= 4) {
      uint8_t v[4];
      if (file.ReadAt(body, v, 4) != 4) break;
      factSamples = static_cast<int32_t>(TByteReader(v).LE32());
      haveFact = true;
    }
    pos = body + size + (size & 1);  // chunks are padded to even sizes
  }

  if (!haveFmt || !haveData) return true;
  TByteReader f(fmt);
  const uint16_t tag = f.LE16();
  const uint16_t channels = f.LE16();
  if (channels != 1 && channels != 2) return true;

  Valid = true;
  FormatTag = tag;
  ChannelCount = static_cast<uint8_t>(channels);
  SampleRate = f.LE32();
  BytesPerSecond = f.LE32();
  BlockAlign = f.LE16();
  BitsPerSample = static_cast<uint8_t>(f.LE16());
  SampleCount = haveFact ? factSamples : 0;
  HasFact = haveFact;
  HeaderSize = static_cast<uint32_t>(std::min<int64_t>(dataStart, 0xFFFFFFFFLL));
  DataSize = static_cast<uint32_t>(std::min<int64_t>(dataSize, 0xFFFFFFFFLL));
  FileSize = static_cast<uint32_t>(std::min<int64_t>(riffEnd, 0xFFFFFFFFLL));
  return true;
}

int64_t TWAVfile::DurationMs() const {
  if (!Valid) return 0;
  int64_t ms = 0;
  if (SampleCount <= 0 && BytesPerSecond > 0) ms = CeilDiv(int64_t{DataSize} * 1000, BytesPerSecond);
  if (SampleCount > 0 && SampleRate > 0) ms = CeilDiv(int64_t{SampleCount} * 1000, SampleRate);
  return ms;
}

int32_t TWAVfile::DurationSectors() const {
  return static_cast<int32_t>(std::min<int64_t>(SectorsFromMs(DurationMs()), INT32_MAX));
}

}  // namespace cv
