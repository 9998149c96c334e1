// corvid-burn burn: burns audio files as an audio CD, one track per file;
// playlists (.m3u, .m3u8, .pls) give their files in order, and a cue sheet
// (.cue) its tracks, each a part of a file.
//
// SIGINT and SIGTERM during the burn become the component's Cancel: writing
// stops, the open track is finished and the session closed, and the tool
// exits with kExitCancelled. A signal during the close-out is refused with a
// message: the close must finish.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <vector>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"
#include "burner/cvDiscLayout.h"
#include "burner/cvListTracks.h"
#include "burner/cvSAOWriter.h"
#include "device/cvSCSILib.h"
#include "vrecorder/cvVirtualState.h"

namespace {

struct BurnOptions {
  std::string device;
  // Two seconds: what the CD standard and other burners use between tracks.
  int pause = 150;
  std::int64_t cacheSize = 8388608;
  int speed = 0;  // x, 0 = the drive's fastest
  bool closeDisc = false;
  bool eject = false;
  std::vector<std::string> files;
  bool sao = false;
  bool noCDText = false;
  std::string mcn;
  bool simulate = false;
};

// Signals received while the burn runs; the handler only counts.
std::atomic<int> gSignals{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void CountSignal(int) { gSignals.fetch_add(1); }

// SIGINT and SIGTERM counted while the object lives, the old handlers back
// afterwards.
class SignalsToCancel {
 public:
  SignalsToCancel() {
    gSignals = 0;
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &OldInt_);
    ::sigaction(SIGTERM, &action, &OldTerm_);
  }
  ~SignalsToCancel() {
    ::sigaction(SIGINT, &OldInt_, nullptr);
    ::sigaction(SIGTERM, &OldTerm_, nullptr);
  }
  SignalsToCancel(const SignalsToCancel&) = delete;
  SignalsToCancel& operator=(const SignalsToCancel&) = delete;

 private:
  struct sigaction OldInt_ {};
  struct sigaction OldTerm_ {};
};

// The Session-At-Once burn's notes (texts cut, codes left out, CD-TEXT the
// drive refused, a fall-back to Track-At-Once), one line each on standard
// error.
void PrintNotes(cv::TKAudioCDBurner& burner) {
  for (const std::string& note : burner.GetBurnNotes()) std::cerr << "corvid-burn: note: " << note << '\n';
}

std::string Readable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return {};
}

int Burn(const BurnOptions& options) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, options.device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;
  if (options.sao) {
    cv::TSAOOptions sao;
    sao.CDText = !options.noCDText;
    sao.Mcn = options.mcn;
    sao.TestWrite = options.simulate;
    burner.SetWriteMode(cv::TWriteMode::SessionAtOnce, sao);
  }
  const int pause = options.pause;

  // Every file is measured and added before anything is sent to the drive.
  burner.ClearTracks();
  for (const std::string& file : options.files)
    if (cv::ListKindOfName(file) == cv::TListKind::None)
      if (std::string why = Readable(file); !why.empty())
        return cli::Fail(file + ": cannot be read (CAN'T OPEN FILE FOR READ) - " + why);
  std::vector<cv::TMeasuredTrack> tracks;
  if (std::string problem; !cv::MeasureTracks(burner, options.files, tracks, problem)) return cli::Fail(problem);
  const bool listed = tracks.size() != options.files.size() ||
                      std::any_of(tracks.begin(), tracks.end(), [](const auto& t) { return !t.Track.ListFile.empty(); });
  int number = 0;
  for (const cv::TMeasuredTrack& track : tracks) {
    if (!burner.AddTrack(track.Track.Path, track.LengthSectors, static_cast<std::uint16_t>(pause),
                         track.Track.StartSample, track.Track.EndSample))
      return cli::Fail(cv::DescribeTrack(track.Track) + ": cannot be added (" + cli::Reason(burner) + ")");
    // What the lists made of the files, before the burn starts.
    if (listed)
      std::cout << "Track " << ++number << "  " << cv::SectorsToMSFText(static_cast<std::uint32_t>(track.LengthSectors))
                << "  " << cv::DescribeTrack(track.Track) << '\n';
  }
  burner.SetCacheSize(static_cast<std::int32_t>(options.cacheSize));
  burner.SetWriteSpeed(static_cast<std::uint16_t>(options.speed));
  burner.SetCloseDisc(options.closeDisc);
  burner.SetTestWrite(options.simulate);

  bool done = false;
  bool withError = false;
  bool cancelled = false;
  std::string message;
  burner.OnWriteDone = [&](cv::TKAudioCDBurner* sender, std::uint16_t, bool error) {
    done = true;
    withError = error;
    if (!error) {
      message = "Write Done!";
      return;
    }
    const std::int32_t code = sender->TakeLastError();
    cancelled = code == cv::beAbortedByUser;
    message = "Write Done Failed! (" + cv::GetBurnErrorText(code) + ")";
    if (const std::string detail = sender->GetErrorDetail(); !detail.empty()) message += " - " + detail;
  };

  SignalsToCancel signals;
  if (!burner.Burn()) {
    PrintNotes(burner);
    if (gSignals.load() > 0) return cli::kExitCancelled;
    return cli::Fail("Burn Not Started! (" + cli::Reason(burner) + ")");
  }
  int handled = 0;
  cli::WaitForJob(
      session,
      [&] {
        for (; handled < gSignals.load(); ++handled) {
          if (burner.Cancel()) {
            if (options.sao)
              std::cerr << "\ncorvid-burn: cancelling: writing stops (a Session-At-Once disc written only in part "
                           "cannot be closed); please wait\n";
            else
              std::cerr << "\ncorvid-burn: cancelling: writing stops, the open track is finished and the session "
                           "closed; please wait\n";
          } else {
            burner.TakeLastError();  // the refusal, not the burn's outcome
            if (!done) std::cerr << "\ncorvid-burn: the disc is being closed; this must finish (please wait)\n";
          }
        }
        return done;
      },
      false);
  PrintNotes(burner);
  if (!done) return cli::Fail("Write Done Failed! (no answer from the burner)");
  const std::string disc = burner.GetDiscState();
  if (withError) {
    cli::Fail(message + ". Disc: " + (disc.empty() ? "state unknown" : disc));
    return cancelled ? cli::kExitCancelled : cli::kExitError;
  }
  std::cout << message << '\n';
  if (!disc.empty()) std::cout << "Disc: " << disc << '\n';
  if (options.eject && !burner.EjectMedium(true)) std::cerr << "corvid-burn: the tray could not be opened\n";
  const std::int32_t selected = burner.GetSelectedDevice();
  if (!options.simulate && selected >= 0 && burner.GetDevicePath(static_cast<std::uint8_t>(selected)) == "virtual")
    std::cout << "Disc image: " << (cv::VirtualRecorderDirectory() / "disc.cue").string() << " ("
              << (cv::VirtualRecorderDirectory() / "disc.bin").string() << ")\n";
  return cli::kExitOk;
}

cli::Registrar reg{{"burn", "Burn audio files as an audio CD (one track per file)", 30,
                    [](CLI::App& sub) -> cli::Runner {
                      auto options = std::make_shared<BurnOptions>();
                      cli::AddDeviceOption(sub, options->device);
                      sub.add_option("--pause", options->pause,
                                     "Pause before each track after the first, in sectors (75 a second; 150 is "
                                     "the CD standard's two seconds; 0 with --sao joins the tracks gaplessly)")
                          ->check(CLI::Range(0, 65535));
                      sub.add_flag("--sao", options->sao,
                                   "Write Session-At-Once onto a blank CD: gapless joins, CD-TEXT from the tags, "
                                   "ISRCs, MCN");
                      sub.add_flag("--no-cd-text", options->noCDText, "With --sao: write no CD-TEXT");
                      sub.add_option("--mcn", options->mcn, "With --sao: the disc's catalogue number (13 digits)")
                          ->check([](const std::string& code) {
                            return cv::ValidMcn(code) ? std::string() : std::string("13 digits expected");
                          });
                      sub.add_option("--speed", options->speed,
                                     "Write speed in x (176.4 kB/s), sent with SET CD SPEED; 0 asks for the "
                                     "drive's fastest ('corvid-burn media' lists the drive's speeds)")
                          ->check(CLI::Range(0, 255));
                      sub.add_flag("--close-disc", options->closeDisc,
                                   "Close the disc after a burn that succeeds: no session can be added later "
                                   "(default: off, the disc stays appendable)");
                      sub.add_flag("--eject", options->eject, "Open the tray when the burn has succeeded (default: off)");
                      sub.add_option("--cache-size", options->cacheSize, "Decode-ahead cache in bytes")
                          ->check(CLI::Range(std::int64_t{0}, std::int64_t{2147483647}));
                      sub.add_flag("--simulate", options->simulate,
                                   "Simulate: the drive goes through the burn but writes nothing (Test Write; default: off)");
                      sub.add_option("FILE", options->files,
                                     "Audio files (WAV, MP3, WMA, Ogg Vorbis), playlists (.m3u, .m3u8, .pls) "
                                     "or cue sheets (.cue)")
                          ->required();
                      return [options] {
                        if (!options->sao && (options->noCDText || !options->mcn.empty()))
                          return cli::UsageError("--no-cd-text and --mcn need --sao");
                        return Burn(*options);
                      };
                    }}};

}  // namespace
