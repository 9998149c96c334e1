// Session-At-Once writing: the whole disc in one pass, laid out before the
// first write, with gapless joins, CD-TEXT, ISRCs and the MCN.
//
// Phases, as for Track-At-Once: preflight (StartSAOBurn: the track and file
// checks, a blank CD-R/RW, every track decoded once to its exact length, the
// layout and the free space; nothing is sent that changes the disc),
// preparation (the feed thread primes, then page 05h with Write Type 2 and
// the cue sheet, trying the forms drives accept in turn), writing
// (TSAOWriteThread: the CD-TEXT lead-in from the lead-in start to LBA -151,
// then every sector from LBA -150 to the lead-out, contiguous), and the
// close (SYNCHRONIZE CACHE, the bounded polls of the close-out until the
// drive is ready, the disc's state read back and checked: complete, or still
// blank after a test write).
//
// A cancel stops the writing at once: a Session-At-Once session that is not
// written to its end cannot be closed (the disc is lost; a CD-RW can be
// erased), and the disc's state says so.
//
// When the cue sheet is refused with 5/26/xx (a field the drive does not
// take), the other forms are tried (lead-in at the lead-in start; gapless
// joins with a one-sector INDEX 00), then the same without CD-TEXT, as
// burning programs do; any other refusal, or all forms refused, ends the
// burn before anything is written. A drive whose configuration lacks
// R-W sub-channel writing gets no CD-TEXT (a note says so).
//
// Threads: StartSAOBurn runs on the component's thread. TSAOFeed and
// TSAOWriteThread each own a std::jthread; the writer is the only user of
// the device while it runs; blocks pass from the feed to the writer under
// the feed's mutex.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "burner/cvBurnHooks.h"
#include "burner/cvBurnRecord.h"
#include "burner/cvDiscLayout.h"
#include "device/cvSense.h"
#include "device/cvWritePage.h"

namespace cv {

class TSCSIDevice;

struct TSAOOptions {
  bool CDText = true;     // CD-TEXT from the files' tags
  std::string Mcn;        // 13 digits, or empty
  bool TestWrite = false; // the drive goes through the motions and writes nothing
  // A drive that cannot write Session-At-Once, or refuses every form of
  // the cue sheet, gets the tracks Track-At-Once instead (a test write only
  // when the component's Track-At-Once test write is on as well).
  bool FallBackToTrackAtOnce = true;
};

// Decoded audio laid out as the program area: every sector from LBA -150
// to the lead-out, in blocks of up to 27 sectors. Owns its thread.
class TSAOFeed {
 public:
  struct TBlock {
    std::vector<std::uint8_t> Data;  // whole sectors
  };
  TSAOFeed(const TAudioFiles& Files, const TDiscLayout& Layout, std::size_t CapacityBlocks);
  ~TSAOFeed();
  TSAOFeed(const TSAOFeed&) = delete;
  TSAOFeed& operator=(const TSAOFeed&) = delete;

  // Waits (until stop) for the next block; false when stopped or when no
  // block will come.
  bool Take(TBlock& Block, std::stop_token Stop);
  // True once the queue is full or everything is decoded.
  bool Primed() const { return Primed_.load(); }
  // A track could not be decoded (0: none), or decoded shorter than measured
  // (beTrackShort; filled with silence).
  std::int32_t Error() const { return Error_.load(); }
  bool Failed() const { return Failed_.load(); }
  void RequestStop() { Thread_.request_stop(); }

 private:
  void Run(std::stop_token stop);
  bool Push(std::vector<std::uint8_t>& block, std::stop_token& stop);

  const TAudioFiles& Files_;
  TDiscLayout Layout_;
  std::size_t Capacity_;
  std::mutex Mutex_;                 // guards Queue_ and Done_
  std::condition_variable Changed_;  // a block was queued or taken, or the feed ended
  std::deque<TBlock> Queue_;
  bool Done_ = false;
  std::atomic<bool> Primed_{false};
  std::atomic<bool> Failed_{false};
  std::atomic<std::int32_t> Error_{0};
  std::jthread Thread_;  // last: starts after every other member exists
};

// The writer of a Session-At-Once burn.
class TSAOWriteThread {
 public:
  TSAOWriteThread(TAudioFiles& Files, TSCSIDevice& Device, const TBurnerHooks& Hooks, TDiscLayout Layout,
                  bool CDText, std::int32_t LeadInStart, bool TestWrite, std::unique_ptr<TSAOFeed> Feed);
  ~TSAOWriteThread();
  TSAOWriteThread(const TSAOWriteThread&) = delete;
  TSAOWriteThread& operator=(const TSAOWriteThread&) = delete;

  void RequestStop() { Thread_.request_stop(); }
  bool Ended() const { return Ended_.load(); }
  void Join();

 private:
  void Execute(std::stop_token stop);
  bool Write(std::int32_t lba, std::int32_t blocks, const std::uint8_t* data, std::size_t bytes,
             std::stop_token& stop);
  // True once stop or a cancel is asked for (a cancel is remembered).
  bool Stopping(std::stop_token& stop);
  bool WriteLeadIn(std::stop_token& stop);
  bool WriteProgram(std::stop_token& stop);
  // SYNCHRONIZE CACHE and the polls until the drive is ready: 0, or the
  // error code (refused gets the sense of what failed first).
  std::int32_t Close(std::stop_token& stop, TSense& refused);

  TAudioFiles& Files_;
  TSCSIDevice& Device_;
  TBurnerHooks Hooks_;
  TDiscLayout Layout_;
  bool CDText_;
  std::int32_t LeadInStart_;
  bool TestWrite_;
  std::unique_ptr<TSAOFeed> Feed_;
  TSense FailedSense_;               // the sense of a write that failed
  bool Cancelled_ = false;           // the writer's thread only
  std::int32_t LeadInWritten_ = 0;   // lead-in blocks written
  std::atomic<bool> Ended_{false};
  std::jthread Thread_;  // last: starts after every other member exists
};

// Owned by the burn record while a Session-At-Once burn runs.
struct TSAOBurn {
  std::unique_ptr<TSAOWriteThread> Writer;  // holds the feed
};

// Exact length in samples of a track's decoded audio (its part of the file;
// 0 when nothing decodes). Raises EInOutError when the file cannot be
// opened.
std::int64_t MeasureSamples(const TAudioFilesToBurn& Track);

// Lays out the burn record's tracks (each decoded once to measure it) with
// their tags. Answers 0 and the layout, or the error code.
std::int32_t LayOutTracks(const TAudioFiles& Files, const TSAOOptions& Options, TDiscLayout& Layout);

// Mode page 05h for Session-At-Once: BUFE, Write Type 2, the test write
// bit, data block type DataBlockType, no next session (the disc is closed).
TWritePage SessionWritePage(bool TestWrite, std::uint8_t DataBlockType);
// Sends it over the drive's current page (SetTrackWriteParameters). False
// when the page cannot be read or is refused.
bool SetSessionWriteParameters(TSCSIDevice& Device, bool TestWrite, std::uint8_t DataBlockType);

struct TDiscCheck;
// The disc's state in words after a Session-At-Once burn: Check as read
// back, Blank whether the disc reports itself blank, what was written.
std::string SAODiscStateText(const TDiscCheck& Check, bool TestWrite, bool Blank, std::int32_t LeadInWritten,
                             std::int32_t SectorsWritten, const TDiscLayout& Layout);

// The lead-in start the disc reports (READ DISC INFORMATION, else the
// ATIP), as an LBA; 0 when it cannot be learned.
std::int32_t ReadLeadInStart(TSCSIDevice& Device);

// Sends the first cue sheet the drive accepts (see the header comment).
// Answers 0, or the error code; CDText is cleared when the drive took the
// sheet only without CD-TEXT. Notes gets a line for each form given up.
std::int32_t SendCueSheetLadder(TSCSIDevice& Device, const TDiscLayout& Layout, bool& CDText,
                                std::int32_t LeadInStart, std::vector<std::string>& Notes);

// The whole Session-At-Once burn; the counterpart of StartBurn. True when
// the writer runs (OnWriteDone will be raised once); false with ErrorCode
// set when the burn was refused (nothing written, no event).
bool StartSAOBurn(TAudioFiles& Files, TSCSIDevice& Device, TKAudioCDBurner* Sender, TWriteDoneEvent Handler,
                  const TBurnerHooks& Hooks, const TSAOOptions& Options, std::vector<std::string>& Notes);

}  // namespace cv
