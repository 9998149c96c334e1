// TMP4File: reader of MP4/M4A audio files (ISO base media file format and
// its QuickTime/iTunes relatives) holding AAC or Apple Lossless (ALAC).
//
// It walks the boxes: "ftyp" must come first; "moov" (before or after the
// media data) is read whole (at most 32 MiB) and walked in memory: "mvhd"
// for the movie time scale, the first track whose "hdlr" is "soun" with its
// "mdhd" (time scale), "edts/elst" (edit list), "stsd" (an "mp4a" entry with
// its "esds" decoder configuration, or an "alac" entry with its magic
// cookie), and the sample tables "stts", "stsz", "stsc" and "stco"/"co64",
// from which it builds the file offset and size of every sample. Tags come
// from "udta/meta/ilst": "©nam", "©ART", "©alb", "trkn", and the iTunes
// "iTunSMPB" (encoder delay, padding, original length).
//
// Every size and count is checked against the bytes that hold it; a sample
// that lies beyond the end of the file ends the sample list there (a cut-off
// file plays as far as it goes).
//
// Exact length. The decoder decodes every sample; the playable part is what
// the encoder delay and padding leave: from the edit list (its media time is
// the delay, its duration the length; when the movie time scale is coarser
// than the track's, the duration is rounded, and the sample tables' own
// total less the delay is taken when it agrees within that rounding), or
// else from iTunSMPB, or else the whole track. EncoderDelay and
// PlayableUnits are in the track's time scale (for AAC and ALAC the sample
// rate).
//
// The reader only reads. Owned by its creator (the decoder keeps the one it
// tried); one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "formats/cvByteSource.h"

namespace cv {

enum class TMP4Codec : uint8_t { None, AAC, ALAC };

class TMP4File {
 public:
  TMP4File() = default;

  // Valid := False, every other field cleared.
  void Clear();

  // Clears, then reads FileName. True when the file could be opened, whether
  // or not it is a usable MP4 audio file; Valid tells whether it is.
  bool ReadFileInfo(const std::string& FileName);
  bool ReadFileInfo(TByteSource& Source);
  bool ReadFileInfo(std::span<const uint8_t> FileBytes);

  // The playable length in frames at SampleRate.
  uint64_t PlayableFrames() const;
  // Playing time in Sectors (1/75 s), rounded up: the exact length at 44100
  // Hz when SampleRate is 44100.
  int32_t DurationSectors() const;

  // True when the file starts with "ftyp" and holds a sound track of AAC or
  // ALAC with 1 or 2 channels, a sample rate, and a non-empty sample table.
  bool Valid = false;
  bool HasFtyp = false;       // the first box is "ftyp"
  std::string MajorBrand;     // "M4A ", "isom", "mp42", ...
  TMP4Codec Codec = TMP4Codec::None;
  std::string CodecName;      // the sample entry's type: "mp4a", "alac", or another
  uint8_t ChannelCount = 0;
  uint32_t SampleRate = 0;
  uint8_t BitsPerSample = 0;  // ALAC's bit depth; the sample entry's size for AAC
  uint32_t AvgBitRate = 0;    // bit/s from the decoder configuration, 0 if absent
  uint32_t MovieTimeScale = 0;
  uint32_t TimeScale = 0;     // the track's (mdhd)
  uint64_t MediaUnits = 0;    // sum of the sample durations (stts)
  uint64_t EncoderDelay = 0;  // units to drop at the start
  uint64_t PlayableUnits = 0; // units to keep after them
  bool HasEditList = false;
  bool HasSMPB = false;
  // AAC: the AudioSpecificConfig; ALAC: the whole "alac" box (36 bytes).
  std::vector<uint8_t> DecoderConfig;
  // The samples in decoding order.
  std::vector<uint64_t> SampleOffsets;
  std::vector<uint32_t> SampleSizes;
  bool Truncated = false;  // the sample list was cut at the end of the file

  std::string Title, Artist, Album;
  std::string AlbumArtist;  // aART
  std::string Composer;     // \251wrt
  std::string Isrc;         // the "----" item com.apple.iTunes:ISRC
  uint16_t Track = 0;
  uint16_t TrackTotal = 0;
};

// True when an AAC AudioSpecificConfig describes plain AAC (Main, LC or
// LTP) at Rate with 1024 samples per frame, a channel configuration of 1
// to 7 and no SBR or PS, neither announced by its object type nor by a sync
// extension behind it: a decoder then gives 1024 frames per access unit at
// Rate. False for anything else or anything cut short (a configuration at
// half the track's rate may hide SBR that only the stream shows).
bool AACConfigIsPlain(std::span<const uint8_t> Config, uint32_t Rate);

}  // namespace cv
