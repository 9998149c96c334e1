#include "burner/cvCallQueue.h"

namespace cv {

void TCallQueue::Post(std::function<void()> routine) {
  {
    std::lock_guard lock(Mutex_);
    Queue_.push_back(std::move(routine));
  }
  Wake_.notify_all();
}

TDispatcher TCallQueue::Dispatcher() {
  return [this](std::function<void()> routine) { Post(std::move(routine)); };
}

int TCallQueue::RunPending() {
  std::deque<std::function<void()>> now;
  {
    std::lock_guard lock(Mutex_);
    now.swap(Queue_);
  }
  for (auto& routine : now) routine();
  return static_cast<int>(now.size());
}

bool TCallQueue::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout,
                          std::chrono::milliseconds tick) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    RunPending();
    if (done()) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    std::unique_lock lock(Mutex_);
    Wake_.wait_until(lock, std::min(deadline, now + tick), [&] { return !Queue_.empty(); });
  }
}

}  // namespace cv
