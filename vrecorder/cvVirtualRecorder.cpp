#include "vrecorder/cvVirtualRecorder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <mutex>
#include <system_error>

#include "vrecorder/cvVirtualCommands.h"
#include "vrecorder/cvVirtualDisc.h"
#include "vrecorder/cvVirtualState.h"
#include "vrecorder/cvVirtualTiming.h"

namespace cv {

namespace {

const char* DirectionName(TDataDirection direction) {
  switch (direction) {
    case TDataDirection::None: return "none";
    case TDataDirection::FromDevice: return "in";
    case TDataDirection::ToDevice: return "out";
  }
  return "none";
}

std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[48];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(ms));
  return text;
}

class cvVirtualRecorder final : public cvVirtualRecorderPort {
 public:
  explicit cvVirtualRecorder(const std::filesystem::path& directory)
      : Store(directory), Image(directory), Drive(State, Image, Timing) {
    Acquire();
  }

  ~cvVirtualRecorder() override {
    std::lock_guard lock(Mutex);
    if (Store.Locked()) (void)Store.Save(State, true);
  }

  // The recorder's long operations take time-scale times their real time;
  // it is polled at that pace.
  double Pace() const override {
    std::lock_guard lock(Mutex);
    return std::clamp(State.Settings.TimeScale, 0.0, 1.0);
  }

  std::string Unavailable() const override {
    std::lock_guard lock(Mutex);
    if (Store.Locked()) return State.Faults.Vanished ? "the virtual recorder is gone (fault 'vanished')" : "";
    return Store.Error();
  }

  bool Owned() const override {
    std::lock_guard lock(Mutex);
    return Store.Locked();
  }

  void AllowRemoval() override {
    std::lock_guard lock(Mutex);
    Drive.AllowRemoval();
  }

  void BusReset() override {
    std::lock_guard lock(Mutex);
    Drive.BusReset();
  }

  TScsiOutcome Execute(const TScsiCommand& command) override {
    std::lock_guard lock(Mutex);
    TScsiOutcome outcome;
    if (!Store.Locked() && !Acquire()) {
      outcome.Delivered = true;
      outcome.ScsiStatus = kScsiBusy;
      return outcome;  // another process owns the drive
    }
    if (State.Faults.Vanished) {
      outcome.Delivered = false;
      outcome.OSError = ENODEV;
    } else {
      outcome = Drive.Run(command);
      if (Drive.Changed()) (void)Store.Save(State, Drive.Durable());
    }
    if (State.Faults.Trace) Trace(command, outcome);
    return outcome;
  }

 private:
  bool Acquire() {
    if (!Store.TryLock()) return false;
    if (!Store.Load(State)) {
      // Keep the unreadable file for inspection and start afresh.
      std::error_code ec;
      std::filesystem::rename(Store.File("recorder.json"), Store.File("recorder.json.corrupt"), ec);
    }
    // A long operation the last process started ends on its own time.
    (void)VROperationRunning(State);
    Drive.PowerOn();
    return true;
  }

  void Trace(const TScsiCommand& command, const TScsiOutcome& outcome) {
    std::ofstream log(Store.File("trace.log"), std::ios::app);
    if (!log) return;
    char hex[4];
    std::string cdb;
    for (std::uint8_t b : command.Cdb) {
      std::snprintf(hex, sizeof hex, "%02X ", b);
      cdb += hex;
    }
    if (!cdb.empty()) cdb.pop_back();
    char line[160];
    if (!outcome.Delivered) {
      std::snprintf(line, sizeof line, " | %s %zu | not delivered (errno %d)", DirectionName(command.Direction),
                    command.Data.size(), outcome.OSError);
    } else {
      std::snprintf(line, sizeof line, " | %s %zu | status %02X | sense %X/%02X/%02X", DirectionName(command.Direction),
                    command.Data.size(), outcome.ScsiStatus, outcome.SenseLength ? outcome.Sense[2] & 0x0F : 0,
                    outcome.SenseLength ? outcome.Sense[12] : 0, outcome.SenseLength ? outcome.Sense[13] : 0);
    }
    log << TimeStamp() << ' ' << cdb << line << '\n';
  }

  mutable std::mutex Mutex;  // guards everything below
  cvVRStateStore Store;
  TVRState State;
  cvVRImage Image;
  cvVRTiming Timing;
  cvVirtualDrive Drive;
};

}  // namespace

std::unique_ptr<cvTransport> OpenVirtualRecorderAt(const std::filesystem::path& directory) {
  return std::make_unique<cvVirtualRecorder>(directory);
}

std::unique_ptr<cvVirtualRecorderPort> OpenVirtualRecorderPort(const std::filesystem::path& directory) {
  return std::make_unique<cvVirtualRecorder>(directory);
}

std::unique_ptr<cvTransport> OpenVirtualRecorder() {
  const std::filesystem::path directory = VirtualRecorderDirectory();
  if (directory.empty()) return nullptr;
  return OpenVirtualRecorderAt(directory);
}

TTransportSource VirtualRecorderSource() { return TTransportSource{"virtual", [] { return OpenVirtualRecorder(); }}; }

void UseVirtualRecorder() { SetTransportSources({VirtualRecorderSource()}); }

}  // namespace cv
