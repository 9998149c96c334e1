// Erasing rewritable discs: blanking (CD-RW, DVD-RW, and any other medium
// the drive may accept it for) or formatting (DVD+RW, DVD-RAM) in an erase
// thread that polls the drive until it has finished and then raises
// OnEraseDone through the dispatcher.
//
// State: the erase request (EraseQuick, OnEraseDone, EraseSender) and
// EraseStatus (0 idle, 2 erasing, 3 background format) live in the device
// object; the thread and the busy flag in TEraseJob, owned by the component.
// Threads: StartErase runs on the component's thread; TEraseThread owns its
// std::jthread and is the only user of the device while it runs.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>

#include "burner/cvBurnHooks.h"
#include "burner/cvDriveWait.h"

namespace cv {

class TSCSIDevice;
class TEraseThread;

// FORMAT UNIT parameter lists (format list header, one format descriptor),
// sent with CDB byte 1 = 11h (FmtData, format code 001b).
// DVD-RW: FOV, DCRT, Immed; 1000 blocks; type 15h (quick format); parameter 16.
inline constexpr std::array<std::uint8_t, 12> kDVDMinusRWFormat = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00,
                                                                    0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
// DVD+RW: FOV, Immed; 0 blocks; type 26h (DVD+RW full format); parameter 0.
inline constexpr std::array<std::uint8_t, 12> kDVDPlusRWFormat = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00,
                                                                   0x00, 0x00, 0x98, 0x00, 0x00, 0x00};
// DVD-RAM: FOV, Immed; 2236704 blocks; type 00h (full format); block length 2048.
inline constexpr std::array<std::uint8_t, 12> kDVDRAMFormat = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22,
                                                                0x21, 0x20, 0x00, 0x00, 0x08, 0x00};
inline constexpr std::uint8_t kFormatFlags = 0x11;

struct TEraseJob {
  TEraseJob();
  ~TEraseJob();
  // From StartErase until the erase thread has ended.
  std::atomic<bool> Running{false};
  // The erase's own error code (beDriveTimeout), 0 when the drive's sense
  // says why it failed. Read once by the component.
  std::atomic<std::int32_t> ErrorCode{0};
  std::unique_ptr<TEraseThread> Thread;
};

// Tests that the drive is ready; if so records the request (EraseStatus 2)
// and starts the erase thread. False (nothing started, no event) when the
// drive is not ready.
bool StartErase(TSCSIDevice& Device, bool Quick, TKAudioCDBurner* Sender, TEraseDoneEvent Handler, TEraseJob& Job,
                const TBurnerHooks& Hooks);

class TEraseThread {
 public:
  TEraseThread(TSCSIDevice& Device, TEraseJob& Job, const TBurnerHooks& Hooks);
  ~TEraseThread();
  TEraseThread(const TEraseThread&) = delete;
  TEraseThread& operator=(const TEraseThread&) = delete;

  // What FireEraseDone reports.
  std::uint16_t Id = 0;
  std::atomic<bool> WithError{false};
  TKAudioCDBurner* Sender = nullptr;

  // Raises OnEraseDone(Sender, Id, WithError) when a handler is assigned.
  void FireEraseDone();
  void Join();

 private:
  void Execute(std::stop_token stop);
  bool Blank(std::stop_token& stop, std::uint8_t medium);
  bool FormatPlusRW(std::stop_token& stop);
  bool FormatRAM(std::stop_token& stop);
  TPollAnswer PollFinished(std::span<std::uint8_t> info);

  TSCSIDevice& Device_;
  TEraseJob& Job_;
  TBurnerHooks Hooks_;
  std::jthread Thread_;  // last
};

}  // namespace cv
