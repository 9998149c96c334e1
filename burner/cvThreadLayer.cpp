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
