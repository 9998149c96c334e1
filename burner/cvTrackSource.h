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

class TTrackDecoder {
 public:
  // Identifies FileName. A file that cannot be opened raises EInOutError.
  explicit TTrackDecoder(const std::string& FileName);
  ~TTrackDecoder();
  TTrackDecoder(const TTrackDecoder&) = delete;
  TTrackDecoder& operator=(const TTrackDecoder&) = delete;

  // TAudioFileKind found (0: not audio).
  std::uint8_t FileKind() const;
  // Decodes the whole file and answers its length in sectors (rounded up);
  // 0 when nothing decodes. May exceed 65535 (the caller refuses those).
  std::int32_t MeasureSectors();
  // Opens decoding; false when it cannot be prepared.
  bool PrepareDecoding();
  // Decodes one block: PCM bytes delivered (0 or more), or -1 on the call
  // that reaches the end (whose PCM is still delivered).
  std::int32_t DecodeBlock();
  const std::uint8_t* OutputBuffer() const;
  std::int32_t OutputLength() const;

 private:
  std::unique_ptr<TAudioFile> File_;
};

// TAudioFileKinds the installed codecs decode (bit k for kind k).
std::uint16_t SupportedAudioKinds();

}  // namespace cv
