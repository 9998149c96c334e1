#include "burner/cvTrackSource.h"

#include <algorithm>
#include <limits>

#include "decode/cvAudFiles.h"

namespace cv {

namespace {

constexpr std::int64_t kSampleBytes = 4;
// Far beyond any audio file (about 800 years at 44.1 kHz); keeps byte counts
// clear of overflow.
constexpr std::int64_t kMaxSample = std::int64_t{1} << 50;
// Decoder calls one DecodeBlock makes at most while it discards audio before
// the range, so that a caller can still stop between blocks.
constexpr int kSkipCallsPerBlock = 256;

}  // namespace

std::int32_t SamplesToSectors(std::int64_t Samples) {
  if (Samples <= 0) return 0;
  const std::int64_t sectors = (std::min(Samples, kMaxSample) + kSamplesPerSector - 1) / kSamplesPerSector;
  return static_cast<std::int32_t>(std::min<std::int64_t>(sectors, std::numeric_limits<std::int32_t>::max()));
}

TTrackDecoder::TTrackDecoder(const std::string& FileName) : File_(std::make_unique<TAudioFile>(FileName)) {}

TTrackDecoder::~TTrackDecoder() = default;

std::uint8_t TTrackDecoder::FileKind() const { return File_->FileKind; }

void TTrackDecoder::SetRange(std::int64_t StartSample, std::int64_t EndSample) {
  StartSample_ = std::clamp<std::int64_t>(StartSample, 0, kMaxSample);
  SkipBytes_ = StartSample_ * kSampleBytes;
  LeftBytes_ = EndSample < 0
                   ? -1
                   : (std::clamp<std::int64_t>(EndSample, StartSample_, kMaxSample) - StartSample_) * kSampleBytes;
}

std::int64_t TTrackDecoder::MeasureSamples() {
  File_->LengthSectors = 0;
  File_->LengthSamples = 0;
  File_->CalcLength();
  const std::int64_t total = FileSamples();
  // The range's part of the file: what its decoding delivers.
  std::int64_t end = LeftBytes_ < 0 ? total : std::min(total, StartSample_ + LeftBytes_ / kSampleBytes);
  return std::max<std::int64_t>(0, end - StartSample_);
}

std::int64_t TTrackDecoder::FileSamples() const {
  // A length known only in whole sectors counts as whole sectors.
  const std::uint64_t samples =
      File_->LengthSamples > 0 ? File_->LengthSamples : std::uint64_t{File_->LengthSectors} * kSamplesPerSector;
  return static_cast<std::int64_t>(std::min<std::uint64_t>(samples, kMaxSample));
}

std::int32_t TTrackDecoder::MeasureSectors() {
  if (StartSample_ > 0 || LeftBytes_ >= 0) return SamplesToSectors(MeasureSamples());
  File_->LengthSectors = 0;
  File_->LengthSamples = 0;
  File_->CalcLength();
  return static_cast<std::int32_t>(
      std::min<std::uint32_t>(File_->LengthSectors, static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())));
}

bool TTrackDecoder::PrepareDecoding() {
  if (!File_->PrepareDecoding()) return false;
  if (SkipBytes_ > 0 && File_->SeekSamples(static_cast<std::uint64_t>(StartSample_))) SkipBytes_ = 0;
  return true;
}

std::int32_t TTrackDecoder::DecodeBlock() {
  Offset_ = 0;
  Length_ = 0;
  if (Ended_) return -1;
  for (int calls = 1;; ++calls) {
    const std::int32_t result = File_->DecodeBlock();
    // Never more than the buffer holds.
    const auto size = static_cast<std::int64_t>(File_->OutputBuffer.size());
    std::int64_t length = std::clamp<std::int64_t>(File_->OutputLength, 0, size);
    std::int64_t offset = 0;
    if (SkipBytes_ > 0) {
      offset = std::min(SkipBytes_, length);
      SkipBytes_ -= offset;
      length -= offset;
    }
    if (LeftBytes_ >= 0) {
      length = std::min(length, LeftBytes_);
      LeftBytes_ -= length;
    }
    Offset_ = static_cast<std::int32_t>(offset);
    Length_ = static_cast<std::int32_t>(length);
    if (result == -1 || LeftBytes_ == 0) {
      Ended_ = true;
      return -1;
    }
    if (Length_ > 0 || SkipBytes_ == 0 || calls >= kSkipCallsPerBlock) return Length_;
  }
}

const std::uint8_t* TTrackDecoder::OutputBuffer() const { return File_->OutputBuffer.data() + Offset_; }

std::int32_t TTrackDecoder::OutputLength() const { return Length_; }

std::uint16_t SupportedAudioKinds() {
  TAudioFile probe("");
  return probe.SupportedKinds;
}

}  // namespace cv
