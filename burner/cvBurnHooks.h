// What the front end gives the engine (dispatcher, beep, status observer,
// timings), and the one routine that runs a completion handler through the
// dispatcher.
//
// Owner: the component holds one TBurnerHooks; each worker takes a copy when
// it starts. Threads: RunDispatched runs on a worker thread.
#pragma once

#include <memory>
#include <mutex>
#include <stop_token>

#include "burner/cvBurnTypes.h"

namespace cv {

// Shared between the component and the routines it has dispatched: a routine
// that runs after the component is gone does nothing.
struct TAliveToken {
  std::mutex Mutex;
  bool Alive = true;  // guarded by Mutex
};

struct TBurnerHooks {
  TDispatcher Dispatcher;
  TBeepHook Beep;
  TStatusObserver StatusObserver;
  TBurnTimings Timings;
  std::shared_ptr<TAliveToken> Alive = std::make_shared<TAliveToken>();
};

// Runs routine through the dispatcher (on the calling thread when there is
// none) and waits until it has run. The wait ends early when stop is
// requested; the routine then never runs if the component is gone.
void RunDispatched(const TBurnerHooks& hooks, std::function<void()> routine, std::stop_token stop);

}  // namespace cv
