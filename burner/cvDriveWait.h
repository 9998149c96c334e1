// Waiting for a drive: the readiness test a burn and an erase begin with, and
// the bounded poll loop used while the drive closes a session, blanks or
// formats.
//
// Threads: used by one thread at a time, with the device it is given.
#pragma once

#include <chrono>
#include <stop_token>

#include "burner/cvBurnTypes.h"

namespace cv {

class TSCSIDevice;

inline constexpr std::uint8_t kAscNotReady = 0x04;
inline constexpr std::uint8_t kAscNoMedium = 0x3A;
inline constexpr std::uint8_t kSenseUnitAttention = 0x06;

// The last command failed with ASC 04h (logical unit not ready: the drive is
// still busy with a long operation). ok is that command's result.
bool NotReady(const TSCSIDevice& Device, bool ok);

// TEST UNIT READY, repeated (at most three times) while the drive answers a
// unit attention (a new medium or a reset: it has news, it is not unready).
bool DriveReady(TSCSIDevice& Device);

// One wait for a drive: Nap sleeps one poll period and answers false once
// stop is requested or the deadline has passed.
class TDriveWait {
 public:
  TDriveWait(const TBurnTimings& timings, std::stop_token stop);
  bool Nap();

 private:
  std::chrono::milliseconds Period_;
  std::stop_token Stop_;
  std::chrono::steady_clock::time_point Deadline_;
};

}  // namespace cv
