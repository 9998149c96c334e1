// The virtual recorder's timing: the drive buffer that a WRITE fills and
// the laser drains at the write speed, and the durations of blank, format
// and session close.
//
// The buffer is a model evaluated when a command comes in (Advance), not a
// thread: the fill falls by the speed times the time passed. When it reaches
// zero while a track is being streamed, that is an underrun.
//
// Threads: the recorder's command thread only.
#pragma once

#include <chrono>
#include <cstdint>

#include "vrecorder/cvVirtualState.h"

namespace cv {

class cvVRTiming {
 public:
  using Clock = std::chrono::steady_clock;

  // speedX 0: writes complete at once and the buffer always reads empty.
  void Configure(int speedX, int bufferKiB);
  int SpeedX() const { return Speed; }

  // Brings the buffer to `now`. True when it ran empty since the last call
  // while data was streaming (an underrun); streaming then stops until the
  // next Add.
  bool Advance(Clock::time_point now);
  // How long to wait until `sectors` more fit in the buffer.
  Clock::duration WaitToFit(std::uint32_t sectors) const;
  // Puts sectors written by the host into the buffer.
  void Add(std::uint32_t sectors);
  // How long until the buffer is empty.
  Clock::duration DrainTime() const;
  // The host flushed (SYNCHRONIZE CACHE, close): empty, not streaming.
  void Flush();

  std::uint32_t CapacityBytes() const { return CapacitySectors * 2352u; }
  std::uint32_t FillBytes() const;

 private:
  int Speed = 0;
  std::uint32_t CapacitySectors = 891;
  double Fill = 0;  // sectors
  bool Streaming = false;
  Clock::time_point Last = Clock::now();
};

// Durations at time-scale 1 (milliseconds).
inline constexpr std::int64_t kVRMinimalBlankMs = 60'000;
inline constexpr std::int64_t kVRFullBlankMs = 600'000;
inline constexpr std::int64_t kVRQuickFormatMs = 60'000;
inline constexpr std::int64_t kVRRamFormatMs = 300'000;
inline constexpr std::int64_t kVRBackgroundFormatMs = 120'000;
inline constexpr std::int64_t kVRCloseSessionMs = 30'000;

std::int64_t VRNowMs();
// Starts a long operation of the given unscaled duration.
void VRStartOperation(TVRState& state, TVROperationKind kind, std::int64_t unscaledMs);
// True while the operation runs; ends it (Kind None) once its time is up.
bool VROperationRunning(TVRState& state);
// Progress 0..65535 of the running operation.
std::uint16_t VROperationProgress(const TVRState& state);

}  // namespace cv
