// Measuring the length of an album without decoding it, against decoding
// it, in the same run: twelve 128 kbit/s MP3 tracks of 6 min 10 s each
// (74 minutes), made at run time with sox and lame in a temporary folder
// and removed afterwards. Prints both times and their ratio.
//
//   cv_measure_bench [--tracks N] [--seconds S]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/cvAudFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  int tracks = 12;
  int seconds = 370;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--tracks")) tracks = std::atoi(argv[i + 1]);
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atoi(argv[i + 1]);
  }
  char pattern[] = "/tmp/cv_measure_bench_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::string dir = pattern;
  std::vector<std::string> files;
  std::printf("making %d tracks of %d s (128 kbit/s MP3, sox + lame)...\n", tracks, seconds);
  std::fflush(stdout);
  for (int t = 0; t < tracks; ++t) {
    const std::string wav = dir + "/t.wav", mp3 = dir + "/track" + std::to_string(t + 1) + ".mp3";
    // Different tones and noise per track, so no two tracks are alike.
    const std::string make = "sox -n -r 44100 -b 16 -c 2 '" + wav + "' synth " + std::to_string(seconds) +
                             " sine " + std::to_string(220 + 37 * t) + " pinknoise vol 0.4 && lame --quiet -b 128 '" +
                             wav + "' '" + mp3 + "'";
    if (std::system(make.c_str()) != 0) {
      std::fprintf(stderr, "could not make the tracks (are sox and lame installed?)\n");
      std::filesystem::remove_all(dir);
      return 1;
    }
    files.push_back(mp3);
  }
  std::filesystem::remove(dir + "/t.wav");

  uint64_t countedSectors = 0, decodedSectors = 0;
  int counted = 0;
  const auto t0 = Clock::now();
  for (const auto& f : files) {
    cv::TAudioFile a(f);
    a.CalcLength();
    countedSectors += a.LengthSectors;
    counted += a.LengthCounted ? 1 : 0;
  }
  const double measure = Seconds(Clock::now() - t0);
  const auto t1 = Clock::now();
  for (const auto& f : files) {
    cv::TAudioFile a(f);
    a.DecodeLength();
    decodedSectors += a.LengthSectors;
  }
  const double decode = Seconds(Clock::now() - t1);
  std::filesystem::remove_all(dir);

  std::printf("album: %d tracks, %llu sectors (%.1f min)\n", tracks, (unsigned long long)decodedSectors,
              double(decodedSectors) / 75 / 60);
  std::printf("measured without decoding: %.3f s (%d of %d tracks counted), %llu sectors\n", measure, counted, tracks,
              (unsigned long long)countedSectors);
  std::printf("measured by decoding:      %.3f s\n", decode);
  std::printf("ratio: %.1fx faster%s\n", decode / measure,
              countedSectors == decodedSectors ? "" : "  (LENGTHS DIFFER)");
  return countedSectors == decodedSectors ? 0 : 1;
}
