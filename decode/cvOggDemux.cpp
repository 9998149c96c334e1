#include "decode/cvOggDemux.h"

#if CORVID_WITH_VORBIS || CORVID_WITH_OPUS

#include <algorithm>
#include <cstring>

namespace cv {

TOggDemux::TOggDemux() { ogg_sync_init(&Sync_); }

TOggDemux::~TOggDemux() {
  DropLink();
  ogg_sync_clear(&Sync_);
}

void TOggDemux::Feed(std::span<const std::uint8_t> src, TOggLinkSink& sink) {
  constexpr std::size_t kSlice = 16384;
  for (std::size_t done = 0; done < src.size();) {
    const std::size_t n = std::min(kSlice, src.size() - done);
    char* buffer = ogg_sync_buffer(&Sync_, static_cast<long>(n));
    if (!buffer) {
      ++Damaged_;
      return;
    }
    std::memcpy(buffer, src.data() + done, n);
    ogg_sync_wrote(&Sync_, static_cast<long>(n));
    done += n;
    ogg_page page;
    for (;;) {
      const int r = ogg_sync_pageout(&Sync_, &page);
      if (r == 0) break;
      if (r < 0) {
        ++Damaged_;  // a hole: libogg skipped bytes to the next page
        continue;
      }
      Page(page, sink);
    }
  }
}

void TOggDemux::DropLink() {
  if (Active_) ogg_stream_clear(&Stream_);
  Active_ = false;
  Eos_ = false;
}

void TOggDemux::Page(ogg_page& page, TOggLinkSink& sink) {
  const int serial = ogg_page_serialno(&page);
  if (ogg_page_bos(&page) && (!Active_ || Eos_ || (serial != Serial_ && sink.LinkHasAudio()))) {
    sink.NewLink();
    DropLink();
    ogg_stream_init(&Stream_, serial);
    Active_ = true;
    Serial_ = serial;
  }
  if (!Active_ || serial != Serial_) return;  // another logical stream
  if (ogg_stream_pagein(&Stream_, &page) != 0) {
    ++Damaged_;
    return;
  }
  ogg_packet packet;
  for (;;) {
    const int r = ogg_stream_packetout(&Stream_, &packet);
    if (r == 0) break;
    if (r < 0) {
      ++Damaged_;
      continue;
    }
    sink.Packet(packet);
    if (!Active_) return;  // the codec gave the link up
  }
  if (ogg_page_eos(&page)) Eos_ = true;
  sink.PageEnded(ogg_page_granulepos(&page));
}

}  // namespace cv

#endif  // CORVID_WITH_VORBIS || CORVID_WITH_OPUS
