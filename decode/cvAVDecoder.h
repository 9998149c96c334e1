// One libavcodec audio decoder in front of a PCM converter: the engine the
// MP4 (AAC, ALAC) and WAVE codec (ADPCM, A-law, mu-law, GSM) drivers share.
//
// Packets go in whole (the drivers cut them); every decoded frame goes to
// the converter in its own rate, channel count and sample format (any of
// libavcodec's packed or planar u8, s16, s32, float and double layouts; 16-
// and 32-bit integers reach the converter unchanged, so a lossless codec at
// the destination's shape is copied bit for bit). Optional trimming drops
// the first Skip frames of the decoder's output and everything after Keep
// frames (the encoder delay and padding of an MP4 track), counted in output
// frames or in a time scale of the container's: then they are converted at
// the rate of the first frame the decoder gives, which for AAC with SBR
// found only in the stream is twice the rate its configuration states.
//
// Owned by one driver's codec object; one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "decode/cvACMPCM.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace cv {

enum class TAVCodec : uint8_t { AAC, ALAC, ImaAdpcmWav, MsAdpcm, ALaw, MuLaw, GsmMs };

struct TAVCodecParams {
  TAVCodec Codec = TAVCodec::AAC;
  uint32_t Rate = 0;
  uint16_t Channels = 0;
  uint16_t BitsPerCodedSample = 0;
  uint32_t BlockAlign = 0;
  uint64_t BitRate = 0;
  std::span<const uint8_t> Extra;  // the codec's configuration (extradata)
};

class TAVDecoder {
 public:
  explicit TAVDecoder(TPCMConverter& conv);
  ~TAVDecoder();
  TAVDecoder(const TAVDecoder&) = delete;
  TAVDecoder& operator=(const TAVDecoder&) = delete;

  // Opens the decoder; false when libavcodec refuses the parameters.
  bool Open(const TAVCodecParams& params);
  bool IsOpen() const { return Context != nullptr; }
  // What to drop first, and to keep after it at most (UINT64_MAX: all):
  // output frames when timeScale is 0, else units of timeScale per second.
  void SetTrim(uint64_t skip, uint64_t keep, uint32_t timeScale = 0);
  // Decodes one packet and delivers its frames.
  void Send(std::span<const uint8_t> packet);
  // End of input: drains the decoder.
  void Drain();
  // Packets refused and frames in a shape the converter cannot take.
  uint32_t Errors() const { return ErrorCount; }
  // Frames delivered (after trimming).
  uint64_t Delivered() const { return Kept; }

 private:
  void Receive();
  void Deliver(const AVFrame& frame);

  struct TContextDeleter {
    void operator()(AVCodecContext* c) const noexcept;
  };
  struct TFrameDeleter {
    void operator()(AVFrame* f) const noexcept;
  };
  struct TPacketDeleter {
    void operator()(AVPacket* p) const noexcept;
  };

  TPCMConverter& Conv;
  std::unique_ptr<AVCodecContext, TContextDeleter> Context;
  std::unique_ptr<AVFrame, TFrameDeleter> Frame;
  std::unique_ptr<AVPacket, TPacketDeleter> Pkt;
  std::vector<uint8_t> Packed;
  uint64_t Skip = 0;            // output frames, once TrimScale is 0
  uint64_t Keep = UINT64_MAX;
  uint32_t TrimScale = 0;       // Skip and Keep still in this time scale
  uint64_t Seen = 0;  // frames the decoder gave
  uint64_t Kept = 0;
  uint32_t ErrorCount = 0;
};

}  // namespace cv
