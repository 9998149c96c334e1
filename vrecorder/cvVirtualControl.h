// The virtual recorder's control panel: what `corvid-burn virtual` shows and
// changes. It works on the state directory directly: Show reads
// recorder.json (atomically replaced, so safe while a recorder runs);
// Insert, Set and Reset take the directory's lock, so they fail with a clear
// message while another process uses the recorder.
//
// Threads: any, one call at a time per object.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "vrecorder/cvVirtualState.h"

namespace cv {

class cvVirtualControl {
 public:
  // The default directory is VirtualRecorderDirectory().
  cvVirtualControl();
  explicit cvVirtualControl(std::filesystem::path directory);

  // False (with Error) when the recorder is switched off.
  bool Enabled() const { return !Dir.empty(); }
  const std::filesystem::path& Directory() const { return Dir; }

  // The report of `virtual show --json`: medium, tray, disc status,
  // sessions and tracks, free sectors, settings, faults, counters, images.
  [[nodiscard]] bool Show(nlohmann::json& report);
  // The same as text, one fact a line.
  static std::string ShowText(const nlohmann::json& report);
  // Puts a new medium in the tray (archiving a written image).
  [[nodiscard]] bool Insert(std::string_view type);
  // KEY=VALUE settings and faults; all are checked before any is applied.
  [[nodiscard]] bool Set(const std::vector<std::string>& assignments);
  // Clears every fault.
  [[nodiscard]] bool Reset();

  const std::string& Error() const { return LastError; }
  // True when the last failure was the caller's input (an unknown type,
  // key or value) rather than the recorder's state.
  bool BadInput() const { return InputError; }

  // The keys Set takes.
  static std::vector<std::string> Keys();

 private:
  // Runs change on the loaded state under the lock and saves it. fresh: a
  // corrupt recorder.json is set aside and a new state used.
  template <typename Change>
  bool Modify(Change change, bool fresh = false);
  bool Fail(std::string message);
  bool Reject(std::string message);

  std::filesystem::path Dir;
  std::string LastError;
  bool InputError = false;
};

}  // namespace cv
