// The engine's view of the decoder: identify, measure and decode one audio
// file into CD-DA PCM (44100 Hz, 16-bit little-endian, two channels).
//
// Threads: an object is used by one thread. Objects on different threads
// (a measurement on the GUI thread during a burn) do not disturb each other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace cv {

class TAudioFile;

// CD sample frames (44100 Hz, one sample of each channel, 4 bytes of PCM)
// in one sector.
inline constexpr std::int64_t kSamplesPerSector = 588;

// Sectors that Samples CD sample frames fill (a partial sector counts whole).
std::int32_t SamplesToSectors(std::int64_t Samples);

class TTrackDecoder {
 public:
  // Identifies FileName. A file that cannot be opened raises EInOutError.
  explicit TTrackDecoder(const std::string& FileName);
  ~TTrackDecoder();
  TTrackDecoder(const TTrackDecoder&) = delete;
  TTrackDecoder& operator=(const TTrackDecoder&) = delete;

  // TAudioFileKind found (0: not audio).
  std::uint8_t FileKind() const;
  // Limits decoding to the CD sample frames [StartSample, EndSample) of the
  // file's decoded PCM; EndSample -1: to the end of the file. Before
  // PrepareDecoding or MeasureSectors. Decoding then begins at StartSample
  // exactly (moving there in the file where its samples allow it, else
  // decoding and discarding what lies before) and ends at EndSample or at
  // the end of the file, whichever comes first.
  void SetRange(std::int64_t StartSample, std::int64_t EndSample);
  // Decodes the whole file (or its range) and answers its length in sectors
  // (rounded up); 0 when nothing decodes. May exceed 65535 (the caller
  // refuses those).
  std::int32_t MeasureSectors();
  // As MeasureSectors, in CD sample frames.
  std::int64_t MeasureSamples();
  // The whole file's length in CD sample frames found by the last
  // MeasureSectors or MeasureSamples.
  std::int64_t FileSamples() const;
  // Opens decoding; false when it cannot be prepared.
  bool PrepareDecoding();
  // Decodes one block: PCM bytes delivered (0 or more), or -1 on the call
  // that reaches the end of the file or of the range (whose PCM is still
  // delivered).
  std::int32_t DecodeBlock();
  const std::uint8_t* OutputBuffer() const;
  std::int32_t OutputLength() const;

 private:
  std::unique_ptr<TAudioFile> File_;
  // The range, in bytes of CD PCM: still to be skipped, and still to be
  // delivered (-1: no limit).
  std::int64_t SkipBytes_ = 0;
  std::int64_t LeftBytes_ = -1;
  std::int64_t StartSample_ = 0;
  // The part of the decoder's OutputBuffer this block delivers.
  std::int32_t Offset_ = 0;
  std::int32_t Length_ = 0;
  bool Ended_ = false;
};

// TAudioFileKinds the installed codecs decode (bit k for kind k).
std::uint16_t SupportedAudioKinds();

}  // namespace cv
