#include "formats/cvOpusFile.h"

#include <algorithm>
#include <climits>

#include "device/cvByteReader.h"
#include "formats/cvOggPages.h"
#include "formats/cvReadFile.h"

namespace cv {
namespace {

constexpr size_t kMaxTagsBytes = 1 << 20;


}  // namespace

bool ReadOpusHead(std::span<const uint8_t> Packet, TOpusHead* Out) {
  TByteReader r(Packet);
  if (!r.Expect("OpusHead")) return false;
  TOpusHead h;
  h.Version = r.U8();
  h.ChannelCount = r.U8();
  h.PreSkip = r.LE16();
  h.InputSampleRate = r.LE32();
  h.OutputGain = static_cast<int16_t>(r.LE16());
  h.MappingFamily = r.U8();
  // Versions 0 to 15 share this layout; a later major version does not.
  if (!r.Ok() || h.Version > 15 || h.ChannelCount == 0) return false;
  if (h.MappingFamily == 0) {
    h.StreamCount = 1;
    h.CoupledCount = uint8_t(h.ChannelCount - 1);
    h.Mapping[0] = 0;
    h.Mapping[1] = 1;
  } else {
    h.StreamCount = r.U8();
    h.CoupledCount = r.U8();
    const auto table = r.Bytes(h.ChannelCount);
    if (!r.Ok()) return false;
    std::copy(table.begin(), table.end(), h.Mapping.begin());
  }
  if (Out) *Out = h;
  return true;
}

bool TOpusFile::ReadFileInfo(const std::string& FileName) {
  TFileByteSource source(FileName);
  return ReadFileInfo(source);
}

bool TOpusFile::ReadFileInfo(std::span<const uint8_t> FileBytes) {
  TMemoryByteSource source(FileBytes);
  return ReadFileInfo(source);
}

bool TOpusFile::ReadFileInfo(TByteSource& Source) {
  Clear();
  if (!Source.IsOpen()) return false;
  TReadFile file(Source);
  TOpusFile found;
  found.FileSize = file.Size();
  found.ID3v2Size = LeadingID3v2Size(file);
  TOggPage first;
  if (!ReadOggPage(file, found.ID3v2Size, first) || !(first.Flags & kOggFirst)) return false;
  const auto packets = ReadOggPackets(file, found.ID3v2Size, 2, kMaxTagsBytes);
  if (packets.empty()) return false;
  TOpusHead head;
  if (!ReadOpusHead(packets[0], &head)) return false;
  found.Version = head.Version;
  found.ChannelCount = head.ChannelCount;
  found.PreSkip = head.PreSkip;
  found.InputSampleRate = head.InputSampleRate;
  found.OutputGain = head.OutputGain;
  found.MappingFamily = head.MappingFamily;
  found.Serial = first.Serial;
  if (packets.size() > 1) {
    TByteReader tags(packets[1]);
    if (tags.Expect("OpusTags")) found.Tags.Parse(tags.Rest());
  }
  found.LastGranule = LastOggGranule(file, found.Serial);
  found.Valid = found.ChannelCount >= 1 &&
                ((found.MappingFamily == 0 && found.ChannelCount <= 2) ||
                 (found.MappingFamily == 1 && found.ChannelCount <= 8));
  *this = std::move(found);
  return true;
}

uint64_t TOpusFile::Samples() const {
  if (LastGranule < int64_t{PreSkip}) return 0;
  return uint64_t(LastGranule - PreSkip);
}

int32_t TOpusFile::DurationSectors() const {
  const uint64_t sectors = (Samples() * 75 + kDecodeRate - 1) / kDecodeRate;
  return int32_t(std::min<uint64_t>(sectors, INT32_MAX));
}

}  // namespace cv
