// Helpers for the decode tests: fixture files, and a whole-file run through
// one conversion stream of the codec layer.
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "decode/cvACM.h"

namespace cvtest {

inline std::string Fixture(const std::string& name) { return std::string(CORVID_FIXTURES_DIR) + "/decode/" + name; }

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline cv::TFormatBlock CDFormat() { return cv::TFormatBlock::Pcm(cv::WAVE_FORMAT_PCM, 2, 44100, 16); }

inline cv::TFormatBlock CodecFormat(uint16_t tag, uint16_t channels, uint32_t rate) {
  cv::TFormatBlock f(18);
  f.SetFormatTag(tag);
  f.SetChannels(channels);
  f.SetSamplesPerSec(rate);
  f.SetBlockAlign(1);
  return f;
}

struct TRun {
  cv::MMRESULT OpenResult = 0;
  cv::MMRESULT EndResult = 0;
  std::vector<uint8_t> Out;
  uint32_t Calls = 0;
};

// Pushes bytes through one stream from src to dst in blocks of blockSize,
// with a destination buffer of dstBuffer bytes (0: what acmStreamSize says),
// draining the stream after every block.
inline TRun RunStream(const cv::TFormatBlock& src, const cv::TFormatBlock& dst, const std::vector<uint8_t>& bytes,
                      size_t blockSize, uint32_t dstBuffer = 0) {
  using namespace cv;
  TRun run;
  HACMSTREAM stream;
  run.OpenResult = acmStreamOpen(&stream, nullptr, src, dst, nullptr, 0, 0, 0);
  if (run.OpenResult != MMSYSERR_NOERROR) return run;
  if (dstBuffer == 0 && acmStreamSize(stream, uint32_t(blockSize), &dstBuffer, ACM_STREAMSIZEF_SOURCE) != 0) {
    run.OpenResult = ACMERR_NOTPOSSIBLE;
    return run;
  }
  std::vector<uint8_t> in(blockSize), out(dstBuffer);
  ACMSTREAMHEADER h;
  h.cbStruct = sizeof h;
  h.pbSrc = in.data();
  h.cbSrcLength = uint32_t(blockSize);
  h.pbDst = out.data();
  h.cbDstLength = dstBuffer;
  if (acmStreamPrepareHeader(stream, &h, 0) != 0) {
    run.OpenResult = MMSYSERR_INVALPARAM;
    return run;
  }
  size_t pos = 0;
  do {
    size_t n = std::min(blockSize, bytes.size() - pos);
    std::copy_n(bytes.begin() + std::ptrdiff_t(pos), n, in.begin());
    pos += n;
    bool end = pos == bytes.size();
    h.cbSrcLength = uint32_t(n);
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN | (end ? ACM_STREAMCONVERTF_END : 0);
    MMRESULT r = acmStreamConvert(stream, &h, flags);
    ++run.Calls;
    if (end) run.EndResult = r;
    run.Out.insert(run.Out.end(), out.begin(), out.begin() + h.cbDstLengthUsed);
    // Drain what did not fit.
    while (h.cbDstLengthUsed == h.cbDstLength) {
      h.cbSrcLength = 0;
      acmStreamConvert(stream, &h, flags);
      ++run.Calls;
      run.Out.insert(run.Out.end(), out.begin(), out.begin() + h.cbDstLengthUsed);
    }
    h.cbSrcLength = uint32_t(blockSize);
  } while (pos < bytes.size());
  acmStreamUnprepareHeader(stream, &h, 0);
  acmStreamClose(stream, 0);
  return run;
}

// 64-bit FNV-1a, to compare outputs in failure messages compactly.
inline uint64_t Hash(const std::vector<uint8_t>& v) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : v) h = (h ^ b) * 1099511628211ull;
  return h;
}

}  // namespace cvtest
