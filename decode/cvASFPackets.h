// A push parser for the data packets of an ASF (WMA) file: bytes go in as
// they are read, complete media objects of the first audio stream come out.
//
// It collects the Header Object (bounded: kMaxHeader bytes), takes the fixed
// packet size from File Properties and the audio stream's WAVEFORMATEX from
// its Stream Properties, skips any top-level object before the Data Object,
// then cuts the data into packets of that fixed size. In each packet it
// skips the error-correction data, reads the payload parsing information,
// and reassembles the payloads of the audio stream (single or multiple
// payloads, fragments by media object number and offset, compressed
// payloads) into media objects. Every length is checked against the bytes
// held: a damaged packet costs that packet only, since the next one starts
// at a fixed offset. Encrypted and scrambled (audio spread with a span above
// 1) streams are refused.
//
// Owned by one stream; one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace cv {

struct TASFAudioStream {
  uint16_t StreamNumber = 0;
  uint16_t FormatTag = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
  std::vector<uint8_t> Extra;  // the codec's extra data (cbSize bytes)
};

class TASFPackets {
 public:
  static constexpr size_t kMaxHeader = 16u << 20;
  static constexpr size_t kMaxPacket = 1u << 20;
  static constexpr size_t kMaxObject = 1u << 20;

  enum class TState { Header, Objects, Packets, Trailer, Failed };
  using TSink = std::function<void(std::span<const uint8_t> object)>;

  // Consumes all of bytes; calls sink once per complete media object of the
  // audio stream, in file order.
  void Feed(std::span<const uint8_t> bytes, const TSink& sink);
  // End of input: a final partial packet gives the payloads it holds whole.
  void Finish(const TSink& sink);

  TState State() const { return Mode; }
  // True once the header has been read and an audio stream found.
  bool Ready() const { return Mode == TState::Packets || Mode == TState::Trailer; }
  const TASFAudioStream& Audio() const { return Stream; }
  uint32_t PacketSize() const { return Packet; }
  // Why the parser failed (empty while it has not).
  const std::string& Error() const { return Failure; }
  // Packets and payloads dropped as damaged.
  uint32_t Damaged() const { return DamagedCount; }

 private:
  void Fail(std::string why);
  void ParseHeader();
  void ParsePacket(std::span<const uint8_t> packet, const TSink& sink);
  void Fragment(uint32_t stream, uint32_t number, uint32_t offset, uint32_t size, std::span<const uint8_t> data,
                const TSink& sink);

  TState Mode = TState::Header;
  std::string Failure;
  std::vector<uint8_t> Held;  // the header, an object prefix or a packet
  uint64_t HeaderSize = 0;
  uint64_t Skip = 0;           // bytes of a top-level object still to skip
  uint64_t DataLeft = 0;       // bytes of the Data Object after its 50-byte head
  bool DataBounded = false;    // whether DataLeft is known
  uint32_t Packet = 0;
  TASFAudioStream Stream;
  bool HaveStream = false;
  bool Encrypted = false;
  bool Scrambled = false;
  uint32_t DamagedCount = 0;

  // The media object being reassembled.
  std::vector<uint8_t> Object;
  uint32_t ObjectNumber = 0;
  uint32_t ObjectSize = 0;
  bool ObjectOpen = false;
};

}  // namespace cv
