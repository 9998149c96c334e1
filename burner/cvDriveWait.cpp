#include "burner/cvDriveWait.h"

#include "burner/cvThreadLayer.h"
#include "device/cvSCSILib.h"

namespace cv {

bool NotReady(const TSCSIDevice& Device, bool ok) { return !ok && Device.Sense[12] == kAscNotReady; }

bool DriveReady(TSCSIDevice& Device) {
  for (int i = 0; i < 3; ++i) {
    if (Device.TestUnitReady()) return true;
    if ((Device.Sense[2] & 0x0F) != kSenseUnitAttention) return false;
  }
  return false;
}

TDriveWait::TDriveWait(const TBurnTimings& timings, std::stop_token stop)
    : Period_(timings.DrivePoll), Stop_(stop), Deadline_(std::chrono::steady_clock::now() + timings.DriveDeadline) {}

bool TDriveWait::Nap() {
  if (std::chrono::steady_clock::now() >= Deadline_) return false;
  return SleepFor(Stop_, Period_);
}

}  // namespace cv
