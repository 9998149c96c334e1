#include "decode/cvMP4Source.h"

#include <sys/types.h>

#include <algorithm>
#include <cerrno>

#include "decode/cvACMMP4.h"
#include "device/cvIOError.h"

namespace cv {

TMP4Source::TMP4Source(const TMP4File& Reader, std::FILE* File) : Reader(Reader), File(File) {
  for (uint32_t size : Reader.SampleSizes) Total += 4 + uint64_t(size);
}

size_t TMP4Source::Read(uint8_t* Into, size_t Count) {
  size_t done = 0;
  while (done < Count && !Ended && Sample < Reader.SampleSizes.size()) {
    const uint32_t size = Reader.SampleSizes[Sample];
    if (Offset < 4) {
      const uint8_t length[4] = {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)};
      while (Offset < 4 && done < Count) Into[done++] = length[Offset++];
      continue;
    }
    const uint32_t inSample = Offset - 4;
    const size_t n = size_t(std::min<uint64_t>(size - inSample, Count - done));
    if (n > 0) {
      if (::fseeko(File, off_t(Reader.SampleOffsets[Sample] + inSample), SEEK_SET) != 0)
        throw EInOutError(errno ? errno : EIO);
      const size_t got = std::fread(Into + done, 1, n, File);
      if (got < n && std::ferror(File)) throw EInOutError(errno ? errno : EIO);
      done += got;
      Offset += uint32_t(got);
      if (got < n) {
        Ended = true;  // the file is shorter than it was
        break;
      }
    }
    if (Offset - 4 == size) {
      ++Sample;
      Offset = 0;
    }
  }
  return done;
}

std::unique_ptr<TFormatBlock> MP4SourceFormat(const TMP4File& Reader, size_t MinSize) {
  TMP4Extra extra;
  extra.TimeScale = Reader.TimeScale;
  extra.Skip = Reader.EncoderDelay;
  extra.Keep = Reader.PlayableUnits;
  extra.Config = Reader.DecoderConfig;
  std::vector<uint8_t> bytes = extra.Encode();
  bytes.resize(std::min<size_t>(bytes.size(), 0xFFFF));
  auto f = std::make_unique<TFormatBlock>(std::max(MinSize, TFormatBlock::kHeaderSize + bytes.size()));
  f->SetFormatTag(Reader.Codec == TMP4Codec::ALAC ? WAVE_FORMAT_ALAC : WAVE_FORMAT_AAC);
  f->SetChannels(Reader.ChannelCount);
  f->SetSamplesPerSec(Reader.SampleRate);
  f->SetAvgBytesPerSec(Reader.AvgBitRate / 8);
  f->SetBlockAlign(1);
  f->SetBitsPerSample(Reader.BitsPerSample);
  f->SetCbSize(uint16_t(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), f->MutableExtra().begin());
  return f;
}

}  // namespace cv
