#include "burner/cvDriveWait.h"

#include "burner/cvThreadLayer.h"
#include "device/cvSCSILib.h"

namespace cv {

TSenseClass LastCommandClass(const TSCSIDevice& Device, bool completed) {
  return ClassifySense(completed, Device.Busy, DecodeSense(Device.Sense));
}

bool DriveReady(TSCSIDevice& Device) {
  for (int i = 0; i < 3; ++i) {
    const bool ready = Device.TestUnitReady();
    if (LastCommandClass(Device, ready) != TSenseClass::UnitAttention) return ready;
  }
  return false;
}

TPollAnswer PollAnswerOf(const TSCSIDevice& Device, bool completed) {
  switch (LastCommandClass(Device, completed)) {
    case TSenseClass::Good: return TPollAnswer::Done;
    case TSenseClass::Retry:
    case TSenseClass::UnitAttention:
    case TSenseClass::NotReady: return TPollAnswer::Working;
    case TSenseClass::NoMedium:
    case TSenseClass::Fail: return TPollAnswer::Refused;
  }
  return TPollAnswer::Refused;
}

TPollEnd PollDrive(const TBurnTimings& timings, std::stop_token stop, bool napFirst,
                   const std::function<TPollAnswer()>& poll) {
  const auto deadline = std::chrono::steady_clock::now() + timings.DriveDeadline;
  int refused = 0;
  for (bool first = true;; first = false) {
    if (!first || napFirst) {
      if (!SleepFor(stop, timings.DrivePoll)) return TPollEnd::Stopped;
    } else if (stop.stop_requested()) {
      return TPollEnd::Stopped;
    }
    switch (poll()) {
      case TPollAnswer::Done: return TPollEnd::Done;
      case TPollAnswer::Working: refused = 0; break;
      case TPollAnswer::Refused:
        if (++refused >= kMaxRefusedPolls) return TPollEnd::Refused;
        break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return TPollEnd::Deadline;
  }
}

}  // namespace cv
