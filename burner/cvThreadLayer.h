// Thread priorities and interruptible sleeps for the engine's worker threads.
//
// Priorities map to nice values of the calling thread (SCHED_OTHER). The
// levels keep their order (highest <= normal <= below normal <= lowest <=
// idle in nice terms) within what this process may set *and undo*: an
// unprivileged process may raise a thread's nice value but not lower it
// again beyond RLIMIT_NICE, and can never leave SCHED_IDLE, so no level uses
// SCHED_IDLE and no level goes where the thread could not come back from.
// Without any allowance (RLIMIT_NICE 0, not root) every level is the nice
// value the process started with; with an allowance the levels spread out
// from it as far as the allowance reaches back. The nice value actually in
// force is read back and answered, never assumed.
//
// Threads: each function acts on the calling thread only, but
// StartWritingThread, which starts one.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <thread>

namespace cv {

// Priority numbers as the cache thread keeps them in CachePriority.
enum TThreadPriority : std::uint8_t {
  tpIdle = 0,
  tpLowest = 1,
  tpBelowNormal = 2,
  tpNormal = 3,
  tpHighest = 5,
};

// The lowest nice value a thread of this process may set, also after it has
// raised its value: -20 for root, else 20 - RLIMIT_NICE (20: none at all).
int ReachableNiceFloor();

// The nice value priority maps to for a process whose own nice value is
// base and whose floor is floor (see ReachableNiceFloor); within base..19.
int NiceForPriority(TThreadPriority priority, int base, int floor);

// Gives the calling thread the priority and answers the nice value in force
// afterwards (read back from the system), whether or not the change was
// granted.
int SetCurrentThreadPriority(TThreadPriority priority);

// The calling thread's nice value in force.
int CurrentThreadNice();

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

// A thread that writes to a drive: off the decode core and raised for
// writing where the system allows it (a drive starved of data ruins the
// disc), then Body; Ended is set when Body returns. The caller owns the
// thread (std::jthread: stop requested and joined when it goes).
std::jthread StartWritingThread(std::function<void(std::stop_token)> Body, std::atomic<bool>& Ended);

// Sleeps for period, or less when stop is requested meanwhile. Answers false
// when stop was requested (before or during the sleep).
bool SleepFor(std::stop_token stop, std::chrono::milliseconds period);

}  // namespace cv
