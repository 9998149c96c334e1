#include "app/cli/burner_session.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "app/cli/cli.h"
#include "burner/cvDiscFill.h"
#include "device/cvSCSILib.h"

namespace cli {

void AddDeviceOption(CLI::App& sub, std::string& device) {
  sub.add_option("-d,--device", device, "Drive: list index, device path or 'virtual' (default: the first drive)");
}

std::string OpenBurner(BurnerSession& session, const std::string& device) {
  session.Burner = std::make_unique<cv::TKAudioCDBurner>();
  cv::TKAudioCDBurner& burner = *session.Burner;
  burner.SetDispatcher(session.Queue.Dispatcher());
  burner.SetBeep(Beep);
  burner.FindDevices();
  const int count = burner.GetDeviceCount();
  // A drive that is there but could not be opened is named with its reason;
  // the virtual recorder never stands in for it unasked.
  std::string unopened;
  for (const std::string& text : burner.GetUnopenedDrives()) unopened += (unopened.empty() ? "" : "; ") + text;
  if (count == 0) return unopened.empty() ? "no CD/DVD drive found" : "no CD/DVD drive could be opened: " + unopened;

  int index = -1;
  if (device.empty()) {
    if (!unopened.empty() && burner.GetDevicePath(0) == "virtual")
      return "no CD/DVD drive could be opened: " + unopened + " (the virtual recorder is used only with -d virtual)";
    index = 0;
  } else if (device.find_first_not_of("0123456789") == std::string::npos) {
    index = std::stoi(device.substr(0, 4));
    if (index >= count) return "no drive " + device + " (there are " + std::to_string(count) + ")";
  } else {
    for (int i = 0; i < count; ++i)
      if (burner.GetDevicePath(static_cast<std::uint8_t>(i)) == device) index = i;
    if (index < 0) {
      // A node that is there but would not open: its reason.
      for (const std::string& text : burner.GetUnopenedDrives())
        if (text.rfind(device + ":", 0) == 0) return text;
      return "no drive " + device + " (see 'corvid-burn devices')";
    }
  }
  burner.SelectDevice(static_cast<std::uint8_t>(index));
  return "";
}

std::string StatusWord(cv::TKAudioCDBurner& burner) {
  const std::uint8_t status = burner.GetStatus();
  std::string word = cv::BurnStatusText(status);
  if (status == cv::bsClosingTrack) word += std::to_string(burner.GetCurrentTrack());
  return word;
}

ProgressLine::ProgressLine()
    : Terminal_(::isatty(STDERR_FILENO) == 1), Started_(std::chrono::steady_clock::now()), Last_() {}

void ProgressLine::Update(cv::TKAudioCDBurner& burner, bool erasing) {
  const auto now = std::chrono::steady_clock::now();
  const auto period = Terminal_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(3000);
  if (Last_.time_since_epoch().count() != 0 && now - Last_ < period) return;
  Last_ = now;

  char line[200];
  if (erasing) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - Started_).count();
    std::snprintf(line, sizeof line, "%-20s %s elapsed (m:ss)", StatusWord(burner).c_str(),
                  cv::SecondsText(seconds).c_str());
  } else {
    const std::int32_t written = burner.GetSectorsWritten();
    const std::int32_t total = burner.GetTotalSectors();
    const int percent = total > 0 ? static_cast<int>(static_cast<std::int64_t>(written) * 100 / total) : 0;
    const std::uint32_t length = burner.GetBufferLength();
    const std::uint32_t free = burner.GetBufferFree();
    char buffer[24] = "buffer   --";
    if (length > 0 && free <= length)
      std::snprintf(buffer, sizeof buffer, "buffer %3d%%",
                    static_cast<int>((static_cast<std::uint64_t>(length - free) * 100) / length));
    if (written > 0 && WritingSince_.time_since_epoch().count() == 0) {
      WritingSince_ = now;
      WrittenAtStart_ = written;
    }
    // Speed and time left from the writing so far.
    char pace[48] = "";
    const double seconds = std::chrono::duration<double>(now - WritingSince_).count();
    if (WritingSince_.time_since_epoch().count() != 0 && seconds >= 1.0 && written > WrittenAtStart_) {
      const double perSecond = (written - WrittenAtStart_) / seconds;
      const auto left = static_cast<std::int64_t>((total - written) / perSecond);
      std::snprintf(pace, sizeof pace, "%4.1fx  %s left", perSecond / cv::kSectorsPerSecond,
                    cv::SecondsText(left).c_str());
    }
    const int track = burner.GetCurrentTrack();
    std::snprintf(line, sizeof line, "%-20s track %d of %d  %s of %s (m:ss)  %3d%%  %s  %s",
                  StatusWord(burner).c_str(), std::max(track, 1), burner.GetTrackCount(),
                  cv::MinutesSecondsText(written).c_str(), cv::MinutesSecondsText(total).c_str(), percent, pace,
                  buffer);
  }
  if (Terminal_) {
    std::cerr << '\r' << line << "\033[K" << std::flush;
    Drawn_ = true;
  } else {
    std::cerr << line << '\n' << std::flush;
  }
}

void ProgressLine::Finish() {
  if (Terminal_ && Drawn_) std::cerr << '\n' << std::flush;
  Drawn_ = false;
}

void WaitForJob(BurnerSession& session, const std::function<bool()>& done, bool erasing) {
  ProgressLine progress;
  cv::TKAudioCDBurner& burner = *session.Burner;
  // The engine bounds every wait for the drive; this only keeps the loop
  // itself from running forever should it not.
  session.Queue.RunUntil(
      [&] {
        progress.Update(burner, erasing);
        return done() && !burner.IsBusy();
      },
      std::chrono::hours(24), std::chrono::milliseconds(100));
  progress.Finish();
}

std::string Reason(cv::TKAudioCDBurner& burner) {
  const std::int32_t code = burner.TakeLastError();
  std::string text = code != 0 ? cv::GetBurnErrorText(code) : std::string("the drive gave no reason");
  const std::string detail = burner.GetErrorDetail();
  if (!detail.empty()) text += " - " + detail;
  return text;
}

void Beep() {
  if (::isatty(STDERR_FILENO) == 1) std::cerr << '\a' << std::flush;
}

}  // namespace cli
