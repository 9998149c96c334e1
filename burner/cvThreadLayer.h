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
#include <string>

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

// The write thread's priority: ahead of ordinary processes where the system
// allows it, never behind them. In order: SCHED_RR at a low real-time
// priority (CAP_SYS_NICE, or RLIMIT_RTPRIO of 1 or more), else the lowest
// nice value down to -10 that RLIMIT_NICE allows, else the nice value the
// thread has (the process's own: an ordinary process's 0). Nothing it takes
// needs privileges to give back. Answers the priority in force, read back
// from the system ("SCHED_RR 10", "nice -10", "nice 0").
std::string RaiseCurrentThreadForWriting();

// Decoding on a core of its own: with two or more CPUs allowed to the
// process, the cache thread runs on the last of them and the write thread on
// the others, so neither waits for the other's CPU. False (nothing changed)
// with a single CPU or when the system refuses.
bool MoveCurrentThreadToDecodeCore();
bool MoveCurrentThreadOffDecodeCore();

// Sleeps for period, or less when stop is requested meanwhile. Answers false
// when stop was requested (before or during the sleep).
bool SleepFor(std::stop_token stop, std::chrono::milliseconds period);

}  // namespace cv
