#include "burner/cvThreadLayer.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace cv {

bool SetCurrentThreadPriority(TThreadPriority priority) {
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  sched_param param{};
  if (priority == tpIdle) return ::sched_setscheduler(static_cast<pid_t>(tid), SCHED_IDLE, &param) == 0;

  // Leave SCHED_IDLE first (a no-op when the thread is not idle).
  if (::sched_getscheduler(static_cast<pid_t>(tid)) == SCHED_IDLE &&
      ::sched_setscheduler(static_cast<pid_t>(tid), SCHED_OTHER, &param) != 0)
    return false;
  int nice = 0;
  switch (priority) {
    case tpLowest: nice = 19; break;
    case tpBelowNormal: nice = 10; break;
    case tpNormal: nice = 0; break;
    case tpHighest: nice = -10; break;
    default: nice = 0; break;
  }
  return ::setpriority(PRIO_PROCESS, tid, nice) == 0;
}

namespace {

// The CPUs the calling thread may run on and the last of them (-1 when fewer
// than two).
int DecodeCore(cpu_set_t& allowed) {
  CPU_ZERO(&allowed);
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return -1;
  for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu)
    if (CPU_ISSET(cpu, &allowed)) return cpu;
  return -1;
}

}  // namespace

std::string RaiseCurrentThreadForWriting() {
  const auto tid = static_cast<pid_t>(::syscall(SYS_gettid));
  constexpr int kWriterRealTime = 10;
  constexpr int kWriterNice = -10;
  rlimit limit{};
  int realTime = kWriterRealTime;
  if (::getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && ::geteuid() != 0)
    realTime = std::min<int>(kWriterRealTime, static_cast<int>(limit.rlim_cur));
  sched_param param{};
  param.sched_priority = realTime;
  if (realTime < 1 || ::sched_setscheduler(tid, SCHED_RR, &param) != 0) {
    // No real-time priority for this process: the lowest nice value it may
    // take, when that is below the one the thread has.
    const int current = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    int nice = kWriterNice;
    if (::getrlimit(RLIMIT_NICE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY && ::geteuid() != 0)
      nice = std::max(nice, 20 - static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 40)));
    if (nice < current) (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice);
  }
  const int policy = ::sched_getscheduler(tid);
  if (policy == SCHED_RR || policy == SCHED_FIFO) {
    sched_param now{};
    ::sched_getparam(tid, &now);
    return std::string(policy == SCHED_RR ? "SCHED_RR " : "SCHED_FIFO ") + std::to_string(now.sched_priority);
  }
  return "nice " + std::to_string(::getpriority(PRIO_PROCESS, static_cast<id_t>(tid)));
}

bool MoveCurrentThreadToDecodeCore() {
  cpu_set_t allowed;
  const int core = DecodeCore(allowed);
  if (core < 0) return false;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(core, &one);
  return ::sched_setaffinity(0, sizeof one, &one) == 0;
}

bool MoveCurrentThreadOffDecodeCore() {
  cpu_set_t allowed;
  const int core = DecodeCore(allowed);
  if (core < 0) return false;
  CPU_CLR(core, &allowed);
  return ::sched_setaffinity(0, sizeof allowed, &allowed) == 0;
}

bool SleepFor(std::stop_token stop, std::chrono::milliseconds period) {
  if (stop.stop_requested()) return false;
  if (period.count() <= 0) return true;
  std::mutex mutex;
  std::condition_variable_any wake;
  std::unique_lock lock(mutex);
  wake.wait_for(lock, stop, period, [] { return false; });
  return !stop.stop_requested();
}

}  // namespace cv
