// corvid-burn burn: burns audio files as an audio CD, one track per file;
// playlists (.m3u, .m3u8, .pls) give their files in order, and a cue sheet
// (.cue) its tracks, each a part of a file.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <vector>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"
#include "burner/cvListTracks.h"
#include "device/cvSCSILib.h"
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
  for (const std::string& file : options.files)
    if (cv::ListKindOfName(file) == cv::TListKind::None && !Readable(file))
      return cli::Fail(file + ": cannot be read (CAN'T OPEN FILE FOR READ)");
  std::vector<cv::TMeasuredTrack> tracks;
  if (std::string problem; !cv::MeasureTracks(burner, options.files, tracks, problem)) return cli::Fail(problem);
  const bool listed = tracks.size() != options.files.size() ||
                      std::any_of(tracks.begin(), tracks.end(), [](const auto& t) { return !t.Track.ListFile.empty(); });
  int number = 0;
  for (const cv::TMeasuredTrack& track : tracks) {
    burner.TakeLastError();
    if (!burner.AddTrack(track.Track.Path, track.LengthSectors, static_cast<std::uint16_t>(options.pause),
                         track.Track.StartSample, track.Track.EndSample))
      return cli::Fail(cv::DescribeTrack(track.Track) + ": cannot be added (" + burner.GetErrorText() + ")");
    // What the lists made of the files, before the burn starts.
    if (listed)
      std::cout << "Track " << ++number << "  " << cv::SectorsToMSFText(static_cast<std::uint32_t>(track.LengthSectors))
                << "  " << cv::DescribeTrack(track.Track) << '\n';
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
                      sub.add_option("FILE", options->files,
                                     "Audio files (WAV, MP3, WMA, Ogg Vorbis), playlists (.m3u, .m3u8, .pls) "
                                     "or cue sheets (.cue)")
                          ->required();
                      return [options] { return Burn(*options); };
                    }}};

}  // namespace
