// Decoding speed of TAudioFile, in times real time, for a 4-minute file of
// each kind, against `ffmpeg -f s16le` decoding the same file in the same
// run. The files are made at run time (sox, lame, oggenc, ffmpeg) in a
// temporary folder and removed afterwards.
//
//   cv_decode_bench [--seconds N] [--runs N]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decode/cvAudFiles.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

struct Kind {
  std::string Label;
  std::string File;
  std::string Make;  // shell command that makes File from $SRC (a 44.1 kHz WAV) or $SRC48
};

// Best of `runs` wall times of a full decode, and the PCM bytes it gave.
double TimeOurs(const std::string& path, int runs, uint64_t* bytes) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    cv::TAudioFile f(path);
    uint64_t total = 0;
    if (f.PrepareDecoding()) {
      for (;;) {
        int32_t r = f.DecodeBlock();
        total += uint64_t(f.OutputLength);
        if (r == -1) break;
      }
    }
    best = std::min(best, Seconds(Clock::now() - t0));
    *bytes = total;
  }
  return best;
}

double TimeFFmpeg(const std::string& path, int runs) {
  double best = 1e30;
  std::string command = "ffmpeg -nostdin -v error -threads 1 -i '" + path +
                        "' -f s16le -acodec pcm_s16le -ar 44100 -ac 2 - > /dev/null";
  for (int i = 0; i < runs; ++i) {
    auto t0 = Clock::now();
    if (!Run(command)) return -1;
    best = std::min(best, Seconds(Clock::now() - t0));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 240, runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--seconds") seconds = std::atoi(argv[i + 1]);
    if (a == "--runs") runs = std::atoi(argv[i + 1]);
  }
  cv::TAudioFile::SetLogSink([](const std::string&) {});
  auto dir = std::filesystem::temp_directory_path() / ("corvid-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string d = dir.string();
  const std::string len = std::to_string(seconds);
  std::printf("making %d-second test files in %s ...\n", seconds, d.c_str());
  // Music-like material: two sweeps, tones and pink noise.
  if (!Run("sox -R -n -r 44100 -c 2 -b 16 " + d + "/src.wav synth " + len +
           " sine 100-8000 sine 6000-200 pinknoise tremolo 3 40 vol 0.3") ||
      !Run("sox -R " + d + "/src.wav -r 48000 -b 24 " + d + "/src48.wav")) {
    std::fprintf(stderr, "cv_decode_bench: sox failed\n");
    return 1;
  }
  const std::vector<Kind> kinds = {
      {"WAV 44.1k/16/2", d + "/src.wav", ""},
      {"WAV 48k/24/2", d + "/src48.wav", ""},
      {"MP3 128k", d + "/m128.mp3", "lame --quiet -b 128 " + d + "/src.wav " + d + "/m128.mp3"},
      {"MP3 48k V2", d + "/m48.mp3", "lame --quiet -V 2 " + d + "/src48.wav " + d + "/m48.mp3"},
      {"Ogg q5", d + "/q5.ogg", "oggenc --quiet -q 5 -o " + d + "/q5.ogg " + d + "/src.wav"},
      {"WMA v2 128k", d + "/w2.wma",
       "ffmpeg -nostdin -v error -y -i " + d + "/src.wav -c:a wmav2 -b:a 128k " + d + "/w2.wma"},
  };
  std::printf("%-16s %12s %12s %10s %12s\n", "kind", "ours (xRT)", "ffmpeg (xRT)", "ratio", "sectors");
  for (const auto& k : kinds) {
    if (!k.Make.empty() && !Run(k.Make)) {
      std::printf("%-16s (could not make the file)\n", k.Label.c_str());
      continue;
    }
    uint64_t bytes = 0;
    double ours = TimeOurs(k.File, runs, &bytes);
    double ff = TimeFFmpeg(k.File, runs);
    double ourRT = seconds / ours;
    double ffRT = ff > 0 ? seconds / ff : 0;
    std::printf("%-16s %12.0f %12.0f %9.2fx %12llu\n", k.Label.c_str(), ourRT, ffRT, ffRT > 0 ? ourRT / ffRT : 0.0,
                static_cast<unsigned long long>((bytes + 2351) / 2352));
    std::fflush(stdout);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
