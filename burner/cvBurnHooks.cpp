#include "burner/cvBurnHooks.h"

#include <condition_variable>

namespace cv {

void RunDispatched(const TBurnerHooks& hooks, std::function<void()> routine, std::stop_token stop) {
  if (!hooks.Dispatcher) {
    std::lock_guard lock(hooks.Alive->Mutex);
    if (hooks.Alive->Alive) routine();
    return;
  }
  struct TDone {
    std::mutex Mutex;
    std::condition_variable_any Wake;
    bool Done = false;
  };
  auto done = std::make_shared<TDone>();
  hooks.Dispatcher([alive = hooks.Alive, done, routine = std::move(routine)] {
    {
      std::lock_guard lock(alive->Mutex);
      if (alive->Alive) routine();
    }
    {
      std::lock_guard lock(done->Mutex);
      done->Done = true;
    }
    done->Wake.notify_all();
  });
  std::unique_lock lock(done->Mutex);
  done->Wake.wait(lock, stop, [&] { return done->Done; });
}

}  // namespace cv
