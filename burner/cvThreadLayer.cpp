#include "burner/cvThreadLayer.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>

namespace cv {

namespace {

constexpr int kNiceMin = -20;
constexpr int kNiceMax = 19;

id_t CurrentTid() { return static_cast<id_t>(::syscall(SYS_gettid)); }

// The process's own nice value (the main thread's, which never changes it).
int ProcessNice() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(::getpid()));
  return errno != 0 ? 0 : nice;
}

}  // namespace

int ReachableNiceFloor() {
  if (::geteuid() == 0) return kNiceMin;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NICE, &limit) != 0) return 20;
  const rlim_t allowed = std::min<rlim_t>(limit.rlim_cur, 40);
  return 20 - static_cast<int>(allowed);
}

int NiceForPriority(TThreadPriority priority, int base, int floor) {
  // Offsets from the process's own value; the levels above it reach only as
  // far back as the floor allows.
  int nice = base;
  switch (priority) {
    case tpHighest: nice = std::max(floor, base - 10); break;
    case tpNormal: nice = base; break;
    case tpBelowNormal: nice = base + 5; break;
    case tpLowest: nice = base + 10; break;
    case tpIdle: nice = base + 15; break;
  }
  // A thread moved off base must be able to return to it: without that
  // reach every level stays at base.
  if (floor > base) return base;
  return std::clamp(nice, kNiceMin, kNiceMax);
}

int CurrentThreadNice() {
  errno = 0;
  const int nice = ::getpriority(PRIO_PROCESS, CurrentTid());
  return errno != 0 ? 0 : nice;
}

int SetCurrentThreadPriority(TThreadPriority priority) {
  const id_t tid = CurrentTid();
  // A thread left in SCHED_IDLE by someone else is brought back when the
  // system lets us; we never put one there.
  if (::sched_getscheduler(static_cast<pid_t>(tid)) == SCHED_IDLE) {
    sched_param param{};
    (void)::sched_setscheduler(static_cast<pid_t>(tid), SCHED_OTHER, &param);
  }
  const int want = NiceForPriority(priority, ProcessNice(), ReachableNiceFloor());
  (void)::setpriority(PRIO_PROCESS, tid, want);
  return CurrentThreadNice();
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

std::jthread StartWritingThread(std::function<void(std::stop_token)> Body, std::atomic<bool>& Ended) {
  return std::jthread([Body = std::move(Body), &Ended](std::stop_token stop) {
    MoveCurrentThreadOffDecodeCore();
    (void)RaiseCurrentThreadForWriting();
    Body(stop);
    Ended = true;
  });
}

}  // namespace cv
