// Measures files for a front end's list on a thread of its own, so that the
// list stays usable while a hundred dropped files are decoded.
//
// Each path handed over (an audio file, a playlist or a cue sheet) is
// expanded and measured as MeasureTracks does, with a burner component the
// thread owns; its tracks come back with the stamp of their file's
// measurement (for AddTrack), the file's kind and the title and artist of
// its tags (a cue sheet's own texts for its tracks).
//
// Owner: the front end. The destructor cancels and joins. Threads: Add,
// Cancel and Pending from the owner's thread; the callbacks run on the
// measuring thread (a GUI queues them to itself), one path at a time, in
// the order the paths were added. Cancel drops what is still queued; the
// file being measured is finished (a decode cannot be cut short) but not
// reported.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "burner/cvBurnTypes.h"
#include "burner/cvListTracks.h"

namespace cv {

struct TMeasuredEntry {
  TMeasuredTrack Measured;
  TFileStamp Stamp;    // of the file, read before it was measured
  std::string Title;   // from the tags (UTF-8); empty when there are none
  std::string Artist;
};

// What one path gave.
struct TMeasureResult {
  std::string Path;                    // as added
  bool Ok = false;
  std::string Problem;                 // why not (MeasureTracks' words)
  bool IsList = false;                 // a playlist or cue sheet
  std::vector<TMeasuredEntry> Tracks;  // in order
  std::uint64_t Generation = 0;        // Generation() when it was taken from the queue
};

class TMeasureThread {
 public:
  using TStartedEvent = std::function<void(const std::string& Path)>;
  using TDoneEvent = std::function<void(TMeasureResult Result)>;

  TMeasureThread(TStartedEvent Started, TDoneEvent Done);
  ~TMeasureThread();
  TMeasureThread(const TMeasureThread&) = delete;
  TMeasureThread& operator=(const TMeasureThread&) = delete;

  void Add(const std::vector<std::string>& Paths);
  void Cancel();
  // Paths queued or being measured (a cancelled measurement still counts
  // until it ends).
  std::size_t Pending() const;
  // Counts Cancel calls: a result whose Generation differs was cancelled
  // after it was reported (a front end that queues results drops it).
  std::uint64_t Generation() const;

 private:
  void Run(std::stop_token Stop);

  const TStartedEvent Started_;
  const TDoneEvent Done_;
  mutable std::mutex Mutex_;  // guards Queue_, Busy_, Generation_
  std::condition_variable_any Wake_;
  std::deque<std::string> Queue_;
  bool Busy_ = false;
  std::uint64_t Generation_ = 0;  // counts Cancel calls
  std::jthread Thread_;           // last: starts after the members above
};

// Title and artist of a file's tags (ID3v2, else ID3v1; Vorbis comments;
// WMA's content description), UTF-8; empty texts when there are none or the
// file cannot be read. FileKind: the kind the decoder found.
void ReadTitleAndArtist(const std::string& FileName, std::uint8_t FileKind, std::string& Title, std::string& Artist);

}  // namespace cv
