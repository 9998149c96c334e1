// A queue of routines that one thread runs: the event loop of a front end
// without a GUI toolkit (the command-line tool, the tests). Its Dispatcher
// posts routines here; the owning thread runs them in RunUntil.
//
// Threads: Post and the dispatcher from any thread; RunUntil and RunPending
// from the owning thread only.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "burner/cvBurnTypes.h"

namespace cv {

class TCallQueue {
 public:
  void Post(std::function<void()> routine);
  // A dispatcher for TKAudioCDBurner::SetDispatcher that posts here. The
  // queue must outlive the component it is given to.
  TDispatcher Dispatcher();
  // Runs routines as they come until done() answers true (checked after each
  // routine and at least every tick) or timeout has passed; answers done().
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                std::chrono::milliseconds tick = std::chrono::milliseconds(50));
  // Runs the routines queued now; answers how many ran.
  int RunPending();

 private:
  std::mutex Mutex_;
  std::condition_variable Wake_;
  std::deque<std::function<void()>> Queue_;  // guarded by Mutex_
};

}  // namespace cv
