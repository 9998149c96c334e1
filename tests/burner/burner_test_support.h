// Shared by the burner tests: a virtual recorder in a temporary directory,
// a component on it with short waits, and the decoded PCM of a file.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "burner/cvAudioCDBurner.h"
#include "burner/cvCallQueue.h"
#include "vrecorder/cvVirtualState.h"

namespace cv::test {

inline const std::filesystem::path kDemoDir = std::filesystem::path(CORVID_FIXTURES_DIR) / "demo";
inline std::string DemoFile(const char* name) { return (kDemoDir / name).string(); }

// A recorder state directory of its own, named by CORVID_VIRTUAL_RECORDER
// while the object lives.
class TRecorderDir {
 public:
  explicit TRecorderDir(TVRMediumKind medium = TVRMediumKind::CDR80);
  ~TRecorderDir();
  const std::filesystem::path& Path() const { return Dir_; }
  // Changes the saved state (only while no component has the recorder open).
  void Edit(const std::function<void(TVRState&)>& edit);
  TVRState Load() const;
  std::vector<std::uint8_t> Image() const;  // disc.bin
  std::string Cue() const;                  // disc.cue

 private:
  std::filesystem::path Dir_;
  std::string OldEnv_;
  bool HadEnv_ = false;
};

// Waits short enough for tests (the engine's defaults stay as they are).
TBurnTimings FastTimings();

// A component on the virtual recorder, its events on this thread's queue,
// every status change recorded.
class TBurnerRig {
 public:
  TBurnerRig();
  ~TBurnerRig();
  TCallQueue Queue;
  std::unique_ptr<TKAudioCDBurner> Burner;

  // Status changes in order, and CurrentTrack at each.
  std::vector<std::pair<std::uint8_t, int>> Statuses() const;
  // Runs the queue until the job's event has run and the worker has ended.
  bool WaitDone(const bool& done);

 private:
  mutable std::mutex Mutex_;
  std::vector<std::pair<std::uint8_t, int>> Statuses_;
};

// The CD-DA PCM the decoder makes of path.
std::vector<std::uint8_t> DecodeAll(const std::string& path);

}  // namespace cv::test
