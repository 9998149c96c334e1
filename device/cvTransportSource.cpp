// The process-wide list of transports beyond the kernel's drives.
#include "device/cvTransportSource.h"

#include <mutex>
#include <utility>

namespace cv {
namespace {

std::mutex& SourcesMutex() {
  static std::mutex mutex;
  return mutex;
}

// Guarded by SourcesMutex().
std::vector<TTransportSource>& Sources() {
  static std::vector<TTransportSource> sources;
  return sources;
}

}  // namespace

void SetTransportSources(std::vector<TTransportSource> sources) {
  std::lock_guard lock(SourcesMutex());
  Sources() = std::move(sources);
}

std::vector<TTransportSource> TransportSources() {
  std::lock_guard lock(SourcesMutex());
  return Sources();
}

}  // namespace cv
