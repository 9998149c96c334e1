#include "vrecorder/cvVirtualTiming.h"

#include <algorithm>
#include <cmath>

namespace cv {

namespace {

double Rate(int speed) { return speed * 75.0; }  // sectors a second

cvVRTiming::Clock::duration Seconds(double s) {
  return std::chrono::duration_cast<cvVRTiming::Clock::duration>(std::chrono::duration<double>(s));
}

}  // namespace

void cvVRTiming::Configure(int speedX, int bufferKiB) {
  const auto now = Clock::now();
  Advance(now);
  Speed = std::max(0, speedX);
  CapacitySectors = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(std::max(1, bufferKiB)) * 1024u / 2352u);
  if (Speed == 0) Fill = 0;
}

bool cvVRTiming::Advance(Clock::time_point now) {
  if (now <= Last) return false;
  const double elapsed = std::chrono::duration<double>(now - Last).count();
  Last = now;
  if (Speed == 0) {
    Fill = 0;
    return false;
  }
  const double drained = Rate(Speed) * elapsed;
  if (drained < Fill) {
    Fill -= drained;
    return false;
  }
  Fill = 0;
  if (!Streaming) return false;
  Streaming = false;
  return true;
}

cvVRTiming::Clock::duration cvVRTiming::WaitToFit(std::uint32_t sectors) const {
  if (Speed == 0) return Clock::duration::zero();
  // A write larger than the whole buffer waits for it to empty.
  const double room = static_cast<double>(CapacitySectors) - std::min<double>(sectors, CapacitySectors);
  if (Fill <= room) return Clock::duration::zero();
  return Seconds((Fill - room) / Rate(Speed));
}

void cvVRTiming::Add(std::uint32_t sectors) {
  if (Speed == 0) return;
  Fill += sectors;
  Streaming = true;
}

cvVRTiming::Clock::duration cvVRTiming::DrainTime() const {
  if (Speed == 0 || Fill <= 0) return Clock::duration::zero();
  return Seconds(Fill / Rate(Speed));
}

void cvVRTiming::Flush() {
  Fill = 0;
  Streaming = false;
  Last = Clock::now();
}

std::uint32_t cvVRTiming::FillBytes() const {
  const double bytes = std::ceil(Fill) * 2352.0;
  return static_cast<std::uint32_t>(std::min<double>(bytes, CapacityBytes()));
}

std::int64_t VRNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

void VRStartOperation(TVRState& state, TVROperationKind kind, std::int64_t unscaledMs) {
  state.Operation.Kind = kind;
  state.Operation.StartMs = VRNowMs();
  state.Operation.DurationMs =
      static_cast<std::int64_t>(std::llround(static_cast<double>(unscaledMs) * state.Settings.TimeScale));
}

bool VROperationRunning(TVRState& state) {
  if (state.Operation.Kind == TVROperationKind::None) return false;
  const std::int64_t now = VRNowMs();
  // A clock set back before the start would stretch the operation: bound it.
  if (now >= state.Operation.StartMs + state.Operation.DurationMs || now < state.Operation.StartMs) {
    state.Operation = {};
    return false;
  }
  return true;
}

std::uint16_t VROperationProgress(const TVRState& state) {
  if (state.Operation.Kind == TVROperationKind::None || state.Operation.DurationMs <= 0) return 0;
  const double done = static_cast<double>(VRNowMs() - state.Operation.StartMs) /
                      static_cast<double>(state.Operation.DurationMs);
  return static_cast<std::uint16_t>(std::clamp(done, 0.0, 1.0) * 65535.0);
}

}  // namespace cv
