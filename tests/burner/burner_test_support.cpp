#include "burner_test_support.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <nlohmann/json.hpp>

#include "burner/cvTrackSource.h"
#include "vrecorder/cvVirtualRecorder.h"

namespace cv::test {

namespace {
// As the front ends do at start-up: discovery lists the virtual recorder.
[[maybe_unused]] const bool kRecorderListed = (UseVirtualRecorder(), true);
}  // namespace

TRecorderDir::TRecorderDir(TVRMediumKind medium) {
  char pattern[] = "/tmp/corvid-burner-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  Dir_ = made ? made : "/tmp/corvid-burner-test";
  if (const char* old = std::getenv("CORVID_VIRTUAL_RECORDER")) {
    HadEnv_ = true;
    OldEnv_ = old;
  }
  ::setenv("CORVID_VIRTUAL_RECORDER", Dir_.c_str(), 1);
  Edit([&](TVRState& state) {
    state = NewVRState(medium);
    state.Settings.TimeScale = 0.002;
  });
}

TRecorderDir::~TRecorderDir() {
  if (HadEnv_) ::setenv("CORVID_VIRTUAL_RECORDER", OldEnv_.c_str(), 1);
  else ::unsetenv("CORVID_VIRTUAL_RECORDER");
  std::error_code ignored;
  std::filesystem::remove_all(Dir_, ignored);
}

void TRecorderDir::Edit(const std::function<void(TVRState&)>& edit) {
  cvVRStateStore store(Dir_);
  if (!store.TryLock()) throw std::runtime_error("recorder directory locked: " + store.Error());
  TVRState state;
  (void)store.Load(state);
  edit(state);
  if (!store.Save(state, false)) throw std::runtime_error("cannot save the recorder state: " + store.Error());
}

TVRState TRecorderDir::Load() const {
  std::ifstream in(Dir_ / "recorder.json");
  return VRStateFromJson(nlohmann::json::parse(in));
}

std::vector<std::uint8_t> TRecorderDir::Image() const {
  std::ifstream in(Dir_ / "disc.bin", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string TRecorderDir::Cue() const {
  std::ifstream in(Dir_ / "disc.cue");
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TBurnTimings FastTimings() {
  TBurnTimings timings;
  timings.DrivePoll = std::chrono::milliseconds(10);
  timings.WriteRetry = std::chrono::milliseconds(2);
  timings.PrimePoll = std::chrono::milliseconds(5);
  timings.FailurePause = std::chrono::milliseconds(5);
  timings.CacheTail = std::chrono::milliseconds(10);
  timings.DriveDeadline = std::chrono::seconds(60);
  timings.PrimeDeadline = std::chrono::seconds(60);
  return timings;
}

TBurnerRig::TBurnerRig() : Burner(std::make_unique<TKAudioCDBurner>()) {
  Burner->SetDispatcher(Queue.Dispatcher());
  Burner->SetTimings(FastTimings());
  // The component itself, not the owner pointer (which reset() clears
  // before the component's destructor has joined its workers).
  TKAudioCDBurner* burner = Burner.get();
  Burner->SetStatusObserver([this, burner](std::uint8_t status) {
    std::lock_guard lock(Mutex_);
    Statuses_.emplace_back(status, burner->GetCurrentTrack());
  });
  Burner->FindDevices();
  for (int i = 0; i < Burner->GetDeviceCount(); ++i)
    if (Burner->GetDevicePath(static_cast<std::uint8_t>(i)) == "virtual") Burner->SelectDevice(static_cast<std::uint8_t>(i));
}

TBurnerRig::~TBurnerRig() { Burner.reset(); }

std::vector<std::pair<std::uint8_t, int>> TBurnerRig::Statuses() const {
  std::lock_guard lock(Mutex_);
  return Statuses_;
}

bool TBurnerRig::WaitDone(const bool& done) {
  return Queue.RunUntil([&] { return done && !Burner->IsBusy(); }, std::chrono::seconds(120));
}

std::vector<std::uint8_t> DecodeAll(const std::string& path) {
  TTrackDecoder decoder(path);
  std::vector<std::uint8_t> pcm;
  if (!decoder.PrepareDecoding()) return pcm;
  for (;;) {
    const std::int32_t result = decoder.DecodeBlock();
    pcm.insert(pcm.end(), decoder.OutputBuffer(), decoder.OutputBuffer() + decoder.OutputLength());
    if (result == -1) break;
  }
  return pcm;
}

}  // namespace cv::test
