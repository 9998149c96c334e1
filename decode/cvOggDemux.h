// The Ogg layer the Ogg codecs share: pages found in the byte stream, the one
// logical stream (link) being decoded, and its packets handed to the codec.
// A chained file is a row of links; another stream multiplexed beside the
// link being decoded is passed over.
#ifndef CORVID_DECODE_CVOGGDEMUX_H
#define CORVID_DECODE_CVOGGDEMUX_H

#if CORVID_WITH_VORBIS || CORVID_WITH_OPUS

#include <ogg/ogg.h>

#include <cstdint>
#include <span>

namespace cv {

// What the codec does with the link's pages and packets.
class TOggLinkSink {
 public:
  virtual ~TOggLinkSink() = default;
  // A beginning-of-stream page starts a new link: the codec ends the one it
  // was decoding (if any) and readies itself for new headers.
  virtual void NewLink() = 0;
  // Whether the current link has given audio: until it has, a second stream
  // beginning beside it replaces it (a stream that was not this codec's).
  virtual bool LinkHasAudio() const = 0;
  virtual void Packet(ogg_packet& packet) = 0;
  // All packets of one page were handed over; its granule position (-1: no
  // packet ends on the page).
  virtual void PageEnded(ogg_int64_t granule) = 0;
};

class TOggDemux {
 public:
  TOggDemux();
  ~TOggDemux();
  TOggDemux(const TOggDemux&) = delete;
  TOggDemux& operator=(const TOggDemux&) = delete;

  // Takes bytes in slices (libogg's buffer stays small whatever the caller
  // pushes at once) and hands every complete page's packets to the sink.
  void Feed(std::span<const std::uint8_t> src, TOggLinkSink& sink);
  // The current link is given up (not this codec's stream, a damaged
  // header, or its end): pages wait for the next beginning of stream.
  void DropLink();
  // The current link's end-of-stream page has been seen.
  bool Eos() const { return Eos_; }
  // Holes and pages or packets libogg could not take.
  std::uint32_t Damaged() const { return Damaged_; }

 private:
  void Page(ogg_page& page, TOggLinkSink& sink);

  ogg_sync_state Sync_{};
  ogg_stream_state Stream_{};
  bool Active_ = false;  // Stream_ is initialised
  int Serial_ = 0;
  bool Eos_ = false;
  std::uint32_t Damaged_ = 0;
};

}  // namespace cv

#endif  // CORVID_WITH_VORBIS || CORVID_WITH_OPUS

#endif  // CORVID_DECODE_CVOGGDEMUX_H
