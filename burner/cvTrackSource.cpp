#include "burner/cvTrackSource.h"

#include <limits>

#include "decode/cvAudFiles.h"

namespace cv {

TTrackDecoder::TTrackDecoder(const std::string& FileName) : File_(std::make_unique<TAudioFile>(FileName)) {}

TTrackDecoder::~TTrackDecoder() = default;

std::uint8_t TTrackDecoder::FileKind() const { return File_->FileKind; }

std::int32_t TTrackDecoder::MeasureSectors() {
  File_->LengthSectors = 0;
  File_->CalcLength();
  return static_cast<std::int32_t>(
      std::min<std::uint32_t>(File_->LengthSectors, static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())));
}

bool TTrackDecoder::PrepareDecoding() { return File_->PrepareDecoding(); }

std::int32_t TTrackDecoder::DecodeBlock() { return File_->DecodeBlock(); }

const std::uint8_t* TTrackDecoder::OutputBuffer() const { return File_->OutputBuffer.data(); }

std::int32_t TTrackDecoder::OutputLength() const {
  // Never more than the buffer holds.
  const auto size = static_cast<std::int64_t>(File_->OutputBuffer.size());
  const std::int64_t length = File_->OutputLength;
  return static_cast<std::int32_t>(length < 0 ? 0 : (length > size ? size : length));
}

std::uint16_t SupportedAudioKinds() {
  TAudioFile probe("");
  return probe.SupportedKinds;
}

}  // namespace cv
