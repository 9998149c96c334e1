// corvid-burn burn: burns audio files as an audio CD, one track per file.
#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <memory>
#include <vector>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"
#include "vrecorder/cvVirtualState.h"

namespace {

struct BurnOptions {
  std::string device;
  int pause = 450;
  std::int64_t cacheSize = 8388608;
  std::vector<std::string> files;
};

bool Readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

int Burn(const BurnOptions& options) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, options.device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;

  // Every file is measured and added before anything is sent to the drive.
  burner.ClearTracks();
  for (const std::string& file : options.files) {
    if (!Readable(file)) return cli::Fail(file + ": cannot be read (CAN'T OPEN FILE FOR READ)");
    const std::int32_t length = burner.GetFileLength(file);
    if (burner.GetLastFileKind() == 0) return cli::Fail(file + ": not an audio file");
    if (length <= 0) return cli::Fail(file + ": no audio could be decoded from it");
    burner.TakeLastError();
    if (!burner.AddTrack(file, length, static_cast<std::uint16_t>(options.pause)))
      return cli::Fail(file + ": cannot be added (" + burner.GetErrorText() + ")");
  }
  burner.SetCacheSize(static_cast<std::int32_t>(options.cacheSize));

  bool done = false;
  bool withError = false;
  std::string message;
  burner.OnWriteDone = [&](cv::TKAudioCDBurner* sender, std::uint16_t, bool error) {
    done = true;
    withError = error;
    message = error ? "Write Done Failed! (" + sender->GetErrorText() + ")" : "Write Done!";
  };
  if (!burner.Burn()) return cli::Fail("cannot burn: " + burner.GetErrorText());
  cli::WaitForJob(session, [&] { return done; }, false);
  if (!done) return cli::Fail("Write Done Failed! (no answer from the burner)");
  if (withError) return cli::Fail(message);
  std::cout << message << '\n';
  const std::int32_t selected = burner.GetSelectedDevice();
  if (selected >= 0 && burner.GetDevicePath(static_cast<std::uint8_t>(selected)) == "virtual")
    std::cout << "Disc image: " << (cv::VirtualRecorderDirectory() / "disc.cue").string() << " ("
              << (cv::VirtualRecorderDirectory() / "disc.bin").string() << ")\n";
  return cli::kExitOk;
}

cli::Registrar reg{{"burn", "Burn audio files as an audio CD (one track per file)", 30,
                    [](CLI::App& sub) -> cli::Runner {
                      auto options = std::make_shared<BurnOptions>();
                      cli::AddDeviceOption(sub, options->device);
                      sub.add_option("--pause", options->pause, "Pause before each track, in sectors (75 a second)")
                          ->check(CLI::Range(0, 65535));
                      sub.add_option("--cache-size", options->cacheSize, "Decode-ahead cache in bytes")
                          ->check(CLI::Range(std::int64_t{0}, std::int64_t{2147483647}));
                      sub.add_option("FILE", options->files, "Audio files (WAV, MP3, WMA, Ogg Vorbis)")->required();
                      return [options] { return Burn(*options); };
                    }}};

}  // namespace
