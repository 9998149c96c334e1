// What the burner subcommands of corvid-burn share: a burner component on a
// selected drive with the main thread as its dispatcher, the progress line,
// and the wait for a burn or an erase to end.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvCallQueue.h"

namespace cli {

// The component and the queue its events run on (the main thread's).
struct BurnerSession {
  cv::TCallQueue Queue;  // outlives the component
  std::unique_ptr<cv::TKAudioCDBurner> Burner;
};

// Adds the -d/--device option to sub, storing into device.
void AddDeviceOption(CLI::App& sub, std::string& device);

// Finds the drives and selects device: a list index, a device path, or
// "virtual"; empty selects the first drive, but not the virtual recorder
// while a real drive node exists that could not be opened. Answers an empty
// string, or the message why it could not (naming every node that would
// not open, and why).
std::string OpenBurner(BurnerSession& session, const std::string& device);

// The status as the window shows it ("WRITING", "CLOSING TRACK # 2", ...).
std::string StatusWord(cv::TKAudioCDBurner& burner);

// The progress line on standard error: redrawn in place on a terminal,
// otherwise one line every few seconds. A burn's line reads
//   WRITING  track 2 of 3  0:41 of 3:20 (m:ss)  21%  8.0x  0:25 left  buffer  93%
// (times in minutes:seconds; speed and time left once writing has gone on
// for a second).
class ProgressLine {
 public:
  ProgressLine();
  // Shows the burner's current state if it is time to.
  void Update(cv::TKAudioCDBurner& burner, bool erasing);
  // Ends the line (on a terminal) before other output.
  void Finish();

 private:
  bool Terminal_;
  bool Drawn_ = false;
  std::chrono::steady_clock::time_point Started_;
  std::chrono::steady_clock::time_point Last_;
  // The first moment sectors were seen written, and how many: the speed
  // and the time left are reckoned from there.
  std::chrono::steady_clock::time_point WritingSince_{};
  std::int32_t WrittenAtStart_ = 0;
};

// Runs the main thread's queue until done() (the completion event has run
// and the worker has ended), updating the progress line.
void WaitForJob(BurnerSession& session, const std::function<bool()>& done, bool erasing);

// The terminal bell, only when standard error is a terminal.
void Beep();

// Why the component's last operation failed, as one line: the error text of
// its table and, beside it, the words for it (the drive's sense decoded,
// the file concerned). Takes the pending error. Never "NO ERROR": a failure
// without a code says the drive gave no reason (and why it could not be
// reached, when that is known).
std::string Reason(cv::TKAudioCDBurner& burner);

// Exit status of a cancelled burn (as a shell reports death by SIGINT).
inline constexpr int kExitCancelled = 130;

}  // namespace cli
