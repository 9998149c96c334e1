#include "burner/cvThreadLayer.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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
