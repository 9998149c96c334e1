// corvid-burn decode FILE -o OUT.wav: decodes FILE to CD-DA PCM and writes it
// as a canonical WAV file (44-byte header, 44100 Hz, 16-bit, stereo) holding
// exactly the audio a burn writes for that track: the decoded PCM, padded
// with digital silence to a whole number of sectors, and to 300 sectors
// (4 seconds, the shortest track a recorder closes) when shorter.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "decode/cvAudFiles.h"

namespace {

using namespace cv;

constexpr uint64_t kSector = 2352;
constexpr uint64_t kMinimumSectors = 300;

void Put32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = uint8_t(v >> (8 * k));
}

std::vector<uint8_t> WavHeader(uint32_t dataBytes) {
  std::vector<uint8_t> h(44, 0);
  std::memcpy(&h[0], "RIFF", 4);
  Put32(&h[4], 36 + dataBytes);
  std::memcpy(&h[8], "WAVEfmt ", 8);
  Put32(&h[16], 16);
  Put32(&h[20], 1 | (2u << 16));  // PCM, 2 channels
  Put32(&h[24], 44100);
  Put32(&h[28], 176400);
  Put32(&h[32], 4 | (16u << 16));  // block align 4, 16 bits
  std::memcpy(&h[36], "data", 4);
  Put32(&h[40], dataBytes);
  return h;
}

struct TCloser {
  void operator()(std::FILE* f) const noexcept {
    if (f) std::fclose(f);
  }
};

int Decode(const std::string& input, const std::string& output) {
  TAudioFile file(input);
  if (file.FileKind == afNone) return cli::Fail(input + ": not a WAV, MP3, WMA or Ogg Vorbis file");
  if (!file.PrepareDecoding()) return cli::Fail(input + ": cannot be decoded (no codec for this file)");
  std::unique_ptr<std::FILE, TCloser> out(std::fopen(output.c_str(), "wb"));
  if (!out) return cli::Fail(output + ": " + std::strerror(errno));
  auto failWrite = [&] {
    int e = errno;
    out.reset();
    std::remove(output.c_str());
    return cli::Fail(output + ": " + std::strerror(e ? e : EIO));
  };
  std::vector<uint8_t> header = WavHeader(0);
  if (std::fwrite(header.data(), 1, header.size(), out.get()) != header.size()) return failWrite();
  uint64_t total = 0;
  for (;;) {
    int32_t r = file.DecodeBlock();
    if (file.OutputLength > 0) {
      size_t n = size_t(file.OutputLength);
      if (std::fwrite(file.OutputBuffer.data(), 1, n, out.get()) != n) return failWrite();
      total += n;
    }
    if (r == -1) break;
  }
  uint64_t sectors = (total + kSector - 1) / kSector;
  if (sectors < kMinimumSectors) sectors = kMinimumSectors;
  const uint64_t padded = sectors * kSector;
  if (padded > 0xFFFFFFFFull - 36) return cli::Fail(input + ": too long for a WAV file");
  std::vector<uint8_t> silence(kSector, 0);
  for (uint64_t left = padded - total; left > 0;) {
    size_t n = size_t(left < kSector ? left : kSector);
    if (std::fwrite(silence.data(), 1, n, out.get()) != n) return failWrite();
    left -= n;
  }
  header = WavHeader(uint32_t(padded));
  if (std::fseek(out.get(), 0, SEEK_SET) != 0 || std::fwrite(header.data(), 1, 44, out.get()) != 44 ||
      std::fflush(out.get()) != 0)
    return failWrite();
  if (std::fclose(out.release()) != 0) return cli::Fail(output + ": " + std::strerror(errno));
  return cli::kExitOk;
}

cli::Registrar reg{{"decode", "Decode an audio file to the CD-DA PCM a burn writes, as a WAV file", 30,
                    [](CLI::App& sub) -> cli::Runner {
                      auto input = std::make_shared<std::string>();
                      auto output = std::make_shared<std::string>();
                      sub.add_option("FILE", *input, "Audio file (WAV, MP3, WMA, Ogg Vorbis)")->required();
                      sub.add_option("-o,--output", *output, "WAV file to write")->required();
                      return [input, output] { return Decode(*input, *output); };
                    }}};

}  // namespace
