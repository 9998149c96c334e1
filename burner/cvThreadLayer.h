// Thread priorities and interruptible sleeps for the engine's worker threads.
//
// Priorities map to the calling thread's scheduling on Linux: idle is
// SCHED_IDLE, the others SCHED_OTHER with a nice value (lowest 19, below
// normal 10, normal 0, highest -10). Raising a priority may need privileges
// (RLIMIT_NICE): a refusal is ignored and the thread keeps what it has.
//
// Threads: each function acts on the calling thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <stop_token>

namespace cv {

// Priority numbers as the cache thread keeps them in CachePriority.
enum TThreadPriority : std::uint8_t {
  tpIdle = 0,
  tpLowest = 1,
  tpBelowNormal = 2,
  tpNormal = 3,
  tpHighest = 5,
};

// Gives the calling thread the priority; false when the system refused.
bool SetCurrentThreadPriority(TThreadPriority priority);

// Sleeps for period, or less when stop is requested meanwhile. Answers false
// when stop was requested (before or during the sleep).
bool SleepFor(std::stop_token stop, std::chrono::milliseconds period);

}  // namespace cv
