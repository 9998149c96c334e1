// Waiting for a drive: the readiness test a burn and an erase begin with,
// and the one bounded poll that every wait for a long drive operation uses
// (closing a session, blanking, formatting).
//
// A poll ends only on a good answer (the command completed and the drive
// reports nothing in progress), or with an error: the deadline passed, the
// drive kept refusing the poll, or stop was requested. A refused poll is
// never taken for "done".
//
// Threads: used by one thread at a time, with the device it is given.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>

#include "burner/cvBurnTypes.h"
#include "device/cvSense.h"

namespace cv {

class TSCSIDevice;

// How the last command sent through Device ended (see ClassifySense).
// completed is that command's result.
TSenseClass LastCommandClass(const TSCSIDevice& Device, bool completed);

// TEST UNIT READY, repeated (at most three times) while the drive answers a
// unit attention (a new medium or a reset: it has news, it is not unready).
bool DriveReady(TSCSIDevice& Device);

// One poll's answer.
enum class TPollAnswer : std::uint8_t {
  Done,     // good answer: ready, nothing in progress
  Working,  // the drive is still busy with the operation (or busy, or has news)
  Refused,  // the poll command failed for another reason
};

// The answer of a poll whose one command returned completed: Done when it
// completed, Working while the drive says it is busy or not ready, else
// Refused.
TPollAnswer PollAnswerOf(const TSCSIDevice& Device, bool completed);

// How a poll ended.
enum class TPollEnd : std::uint8_t {
  Done,      // a good answer
  Refused,   // kMaxRefusedPolls refused polls in a row
  Deadline,  // TBurnTimings::DriveDeadline passed
  Stopped,   // stop was requested
};

// Refused polls in a row that end a poll with TPollEnd::Refused.
inline constexpr int kMaxRefusedPolls = 3;

// Polls the drive: poll() sends its command(s) and answers; between polls
// the thread sleeps TBurnTimings::DrivePoll. With napFirst the first sleep
// comes before the first poll (the drive has just been given the job).
TPollEnd PollDrive(const TBurnTimings& timings, std::stop_token stop, bool napFirst,
                   const std::function<TPollAnswer()>& poll);

}  // namespace cv
