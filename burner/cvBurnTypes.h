// Types shared by the burning engine and its front ends: the burn status
// codes, the error codes and their texts, the completion events, the hooks a
// front end gives the engine (dispatcher, beep) and the engine's timings.
//
// Header only apart from GetBurnErrorText and TBurnTimings' defaults; no
// thread rules of its own (plain values).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace cv {

class TKAudioCDBurner;

// Status of the component as GetStatus answers it. The words a front end shows
// for each code come from BurnStatusText.
enum TBurnStatus : std::uint8_t {
  bsIdle = 0,
  bsWriting = 1,
  bsErasing = 2,
  bsBackgroundFormat = 3,
  bsClosingTrack = 4,
  bsClosingSession = 5,
  bsPreparing = 6,  // preflight and drive preparation of a burn
  bsAborting = 7,   // reserved
  bsBurnError = 9,
};

// "IDLE", "WRITING", ... ("CLOSING TRACK # " for bsClosingTrack: the front
// end appends the track number). Unknown codes give an empty text.
std::string BurnStatusText(std::uint8_t status);

// Error codes read once through TakeLastError / GetErrorText. 1..4 are the
// burn error codes; 5..255 are this engine's own refusals and burn outcomes.
// Any value of 256 or more is a drive's sense code (ASC * 256 + ASCQ) and
// reads "DEVICE ERROR %d".
enum TBurnError : std::int32_t {
  beNone = 0,
  beDataNotPrepared = 1,      // "DATA NOT PREPARED FOR BURNING/WRITING"
  beCantOpenFile = 2,         // "CAN'T OPEN FILE FOR READ"
  beCantCreateFile = 3,       // "CAN'T CREATE FILE"
  beAbortedByUser = 4,        // "ABORTED BY USER"
  beNoTracks = 5,             // "NO TRACKS TO BURN"
  beFileChanged = 6,          // "FILE CHANGED SINCE IT WAS ADDED"
  beNoWritableDisc = 7,       // "NO BLANK OR APPENDABLE CD-R/CD-RW IN THE DRIVE"
  beNotEnoughSpace = 8,       // "NOT ENOUGH FREE SPACE ON THE DISC"
  beTrackEmpty = 9,           // "TRACK HAS NO AUDIO"
  beTrackShort = 10,          // "TRACK SHORTER THAN MEASURED, FILLED WITH SILENCE"
  beBusy = 11,                // "BURNER BUSY"
  beDriveNotReady = 12,       // "DRIVE NOT READY"
  beTooManyTracks = 13,       // "TOO MANY TRACKS"
  beTrackTooLong = 14,        // "TRACK TOO LONG"
  beNoDevice = 15,            // "NO DEVICE SELECTED"
  beWriteFailed = 16,         // "WRITE FAILED" (the drive gave no sense data)
  beDiscNotClosed = 17,       // "DISC NOT CLOSED: A TRACK OR THE SESSION IS STILL OPEN"
  beDriveTimeout = 18,        // "THE DRIVE DID NOT FINISH IN TIME"
  beDiscOpen = 19,            // "LAST SESSION ON THE DISC IS OPEN OR DAMAGED: ERASE THE CD-RW OR USE A NEW CD-R"
  beCloseRunning = 20,        // "THE DISC IS BEING CLOSED: THIS MUST FINISH"
  beNothingToCancel = 21,     // "NO BURN TO CANCEL"
  beDriveUnavailable = 22,    // "DRIVE CANNOT BE OPENED OR IS IN USE" (the detail says why)
  // Session-At-Once: refusals before anything is written.
  beSAONeedsBlankDisc = 23,   // "SESSION-AT-ONCE NEEDS A BLANK CD-R/CD-RW"
  beSAOUnsupported = 24,      // "DRIVE CANNOT WRITE SESSION-AT-ONCE"
  beCueSheetRefused = 25,     // "DRIVE REFUSED THE DISC LAYOUT (CUE SHEET)"
};

// The fixed message of an error code (table above; codes 256 and up and any
// unknown code: "DEVICE ERROR %d" with the code).
std::string GetBurnErrorText(std::int32_t code);

// Completion events: Sender is the component, Id is always 0. Raised through
// the dispatcher (below), i.e. on the front end's GUI thread when it gives one.
using TWriteDoneEvent = std::function<void(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError)>;
using TEraseDoneEvent = std::function<void(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError)>;

// Runs a routine on the front end's GUI thread. It may run it before
// returning (a blocking queued call) or queue it and return at once; the
// worker that dispatches waits for the routine either way, and stops waiting
// when the component is destroyed (a queued routine then does nothing). A
// queuing dispatcher is preferred: a blocking one cannot be waited out when
// the GUI thread is itself blocked in the component's destructor.
using TDispatcher = std::function<void(std::function<void()> routine)>;

// The default system beep at the end of a burn. Called on the write thread.
using TBeepHook = std::function<void()>;

// Called on a worker thread (or the calling thread) each time GetStatus's
// value changes, with the new value. For progress displays and tests; must
// not call back into the component.
using TStatusObserver = std::function<void(std::uint8_t status)>;

// The waits of the engine. The defaults are the drive-facing periods the
// engine is built around; tests shorten them through
// TKAudioCDBurner::SetTimings. Deadlines bound every wait for a drive so
// that nothing waits forever.
struct TBurnTimings {
  // Poll period while the drive closes a session, blanks or formats.
  std::chrono::milliseconds DrivePoll{5000};
  // Retry period of a write the drive answers busy or not ready.
  std::chrono::milliseconds WriteRetry{100};
  // Number of write attempts before a busy/not ready drive counts as failed.
  int WriteAttempts = 5000;
  // Poll period of Burn while the cache primes.
  std::chrono::milliseconds PrimePoll{100};
  // Pause after a failed write before the close-out.
  std::chrono::milliseconds FailurePause{100};
  // Pause of the write thread before it takes each block.
  std::chrono::milliseconds BlockPause{1};
  // Pause of the cache thread after the writer has taken everything before
  // it ends. Nothing needs one (the block queue outlives both threads);
  // tests hold the thread with it.
  std::chrono::milliseconds CacheTail{0};
  // Longest wait for one drive operation (close session, blank, format).
  std::chrono::milliseconds DriveDeadline{std::chrono::hours(2)};
  // Longest wait of Burn for the cache to prime.
  std::chrono::milliseconds PrimeDeadline{std::chrono::minutes(30)};
};

// The timings for a drive whose time runs at pace times real time: the
// waits that face the drive (poll, write retry, failure pause, the pause
// before each block) multiplied by pace, which is 1 for a real drive; an
// emulated drive (the virtual recorder) names a smaller one and is polled at
// the speed of its own emulation. Deadlines and the priming poll, which
// face our own threads, stay.
TBurnTimings PacedTimings(const TBurnTimings& timings, double pace);

// Identity of a file when it was measured (size and modification time), to
// find it changed before a burn. Size -1: not known.
struct TFileStamp {
  std::int64_t Size = -1;
  std::int64_t ModifiedNs = 0;
  bool operator==(const TFileStamp&) const = default;
};

// Medium codes as GetMediumType answers them, with a display name for each.
std::string MediumTypeName(std::uint8_t mediumType);

}  // namespace cv
