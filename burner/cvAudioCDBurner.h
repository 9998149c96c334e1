// TKAudioCDBurner: the single entry point of the burning library.
//
// A front end owns one instance and uses it to list and select drives, probe
// audio files, fill the track list, burn it as an audio CD (Track-At-Once),
// erase a rewritable disc, eject and load the tray, query the free space and
// poll status, progress and the read-once error text.
//
// Owner and threads: every operation is called from one thread, the front
// end's GUI thread (the command-line tool's main thread). Burn and Erase start
// worker threads owned by the component (cache and write threads, or the
// erase thread); the getters of status and progress read atomics the workers
// write and may be polled at any time. While a worker runs, every operation
// that sends a drive command or changes the track list is refused: it answers
// False (or -1, or 0 for GetMediumType's "none") and TakeLastError answers
// beBusy ("BURNER BUSY"). OnWriteDone and OnEraseDone are raised through the
// dispatcher, exactly once per started burn or erase. The destructor stops
// and joins the workers; it never waits on the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "burner/cvBurnTypes.h"

namespace cv {

class TSCSIDevice;
struct TAudioFiles;
struct TEraseJob;
struct TBurnerHooks;
struct TSAOOptions;

// How Burn writes the disc: Track-At-Once (the default: each track with its
// own pause, the disc stays appendable) or Session-At-Once (the whole disc
// in one pass onto a blank CD: gapless joins, CD-TEXT, ISRC, MCN; see
// cvSAOWriter.h).
enum class TWriteMode : std::uint8_t { TrackAtOnce, SessionAtOnce };

class TKAudioCDBurner {
 public:
  TKAudioCDBurner();
  ~TKAudioCDBurner();
  TKAudioCDBurner(const TKAudioCDBurner&) = delete;
  TKAudioCDBurner& operator=(const TKAudioCDBurner&) = delete;

  // Raised at the end of every burn that Burn started (Burn answered True),
  // with WithError True when the burn failed or was incomplete. Assign while
  // idle; a running burn keeps the handler it started with.
  TWriteDoneEvent OnWriteDone;
  // Raised at the end of every erase that Erase started.
  TEraseDoneEvent OnEraseDone;

  // 1. Number of drives found by FindDevices.
  std::uint8_t GetDeviceCount() const;
  // 2. List text of drive Index; empty when Index is out of range.
  std::string GetDeviceName(std::uint8_t Index) const;
  // 3. Kinds the installed codecs decode: bit k set for TAudioFileKind k
  //    (WAV 0x02, WMA 0x04, MP3 0x08, OGG 0x10).
  std::uint16_t GetSupportedKinds();
  // 4. Makes drive Index the one every later command addresses.
  bool SelectDevice(std::uint8_t Index);
  // 5. Identifies FileName and measures it by decoding it completely: its
  //    length in sectors (0 when not audio or unreadable). Sets
  //    GetLastFileKind and records the file's size and modification time as
  //    measured (GetLastFileStamp; AddTrack carries them to the burn, which
  //    refuses a file changed since). Safe during a burn (decodes on the
  //    calling thread with its own decoder).
  std::int32_t GetFileLength(const std::string& FileName);
  // 6. Kind found by the last GetFileLength (0 when not recognised).
  std::uint8_t GetLastFileKind() const;
  // Exact length in CD sample frames (44100 Hz, 588 to a sector) that the
  // last GetFileLength measured (0 when not audio or unreadable).
  std::int64_t GetLastFileSamples() const;
  // 7./8. Opens / closes the tray.
  bool EjectMedium(bool Immediate);
  bool LoadMedium(bool Immediate);
  // 9. Discovers the drives (real drives first, then the virtual recorder).
  void FindDevices();
  // 10. Empties the track list and resets the burn record.
  bool ClearTracks();
  // 11. Checks everything (tracks, files, medium, free space) without writing,
  //     prepares the drive, primes the cache and starts the write thread.
  //     False when it refused or could not start: nothing was written,
  //     OnWriteDone is not raised, TakeLastError says why.
  bool Burn();
  // 12. Starts blanking (CD-RW, DVD-RW) or formatting (DVD+RW, DVD-RAM).
  //     False when the drive is not ready (no disc, tray open): no event.
  bool Erase(bool Quick);
  // 13. TBurnStatus: the erase status while an erase runs, else the burn's.
  std::uint8_t GetStatus() const;
  // 14. 1-based number of the track being written (low byte).
  std::uint8_t GetCurrentTrack() const;
  // 15. The pending error code (the component's own refusal, else the burn
  //     record's or the erase's, else the drive's last sense code), then
  //     clears it: a second call answers 0. The component's own refusal
  //     lasts only until the next operation starts (or a job's completion
  //     event); taking it clears only it, leaving a job's outcome pending.
  std::int32_t TakeLastError();
  // 16. The message of TakeLastError.
  std::string GetErrorText();
  // 17. Appends a track: FileName with LengthSectors (as GetFileLength gave
  //     it; 0 makes AddTrack measure the file) and a pause of PauseSectors
  //     before it. False when the file is not audio, too long, or the list is
  //     full (99 tracks). With a measured length the file's stamp is the one
  //     GetFileLength recorded for that name (or Stamp, when given); Burn
  //     refuses the file if it has changed since.
  bool AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors);
  bool AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                const TFileStamp& Stamp);
  //     The same for a part of a file: its CD sample frames [StartSample,
  //     EndSample), EndSample -1 to the end of the file (a track of a cue
  //     sheet). LengthSectors is the range's length (0: measured).
  bool AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                std::int64_t StartSample, std::int64_t EndSample);
  // 18. Sets the decode-ahead cache size in bytes; answers the size stored.
  std::int32_t SetCacheSize(std::int32_t Bytes);
  // 19. Free sectors on the inserted disc (0 on a closed disc), -1 on error.
  std::int32_t GetFreeSpace();
  // 20. Sectors the burn will write (progress maximum).
  std::int32_t GetTotalSectors() const;
  // 21. Sectors written so far in this burn (progress position).
  std::int32_t GetSectorsWritten() const;
  // 22. Flushes the drive's write cache.
  bool SynchronizeCache(bool Immediate);

  // Beyond the operations above, for the front ends:

  // Stops the running burn: the write thread stops writing, finishes an open
  // track shorter than four seconds with silence, closes the session and
  // raises OnWriteDone with WithError (error text "ABORTED BY USER"). False
  // when no burn runs (beNothingToCancel), or when it was cancelled already
  // or its close-out has begun (beCloseRunning: the close must finish); an
  // erase cannot be stopped.
  bool Cancel();
  // Words beside the text of the error last taken by TakeLastError /
  // GetErrorText: the drive's sense in words ("no disc in the drive
  // (2/3A/00)"), or the file a refusal is about. Empty when there are none.
  std::string GetErrorDetail() const;
  // What the last burn left on the disc, read back from the drive after its
  // close-out ("the session is closed with 3 tracks ...", "track 1 was left
  // open ..."). Empty before the first burn's end. Read after OnWriteDone.
  std::string GetDiscState() const;
  // Size and modification time of the file last measured by GetFileLength.
  TFileStamp GetLastFileStamp() const;
  // The stamp GetFileLength recorded for FileName; false when it has not
  // measured that name.
  bool GetMeasuredStamp(const std::string& FileName, TFileStamp& Stamp) const;
  //     AddTrack for a part of a file with the stamp of its measurement (a
  //     file measured by another component, on another thread).
  bool AddTrack(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                std::int64_t StartSample, std::int64_t EndSample, const TFileStamp& Stamp);

  // Burn options, set while idle and kept until changed:
  // The write speeds the selected drive lists (mode page 2Ah), in multiples
  // of 176.4 kB/s ("x"), fastest first, no repeats; empty when it lists none
  // (or while busy). Asks the drive.
  std::vector<std::uint16_t> GetWriteSpeeds();
  // The speed the next burn asks for with SET CD SPEED, in x; 0 (the
  // default) asks for the drive's fastest. The drive may round it. False
  // while busy.
  bool SetWriteSpeed(std::uint16_t SpeedX);
  std::uint16_t GetWriteSpeed() const;
  // True: a Track-At-Once burn that succeeds closes the disc (no session
  // can be added); false (the default): the disc stays appendable. A burn
  // that fails or is cancelled always leaves it appendable. False while busy.
  bool SetCloseDisc(bool Close);
  bool GetCloseDisc() const;

  // Runs completion events on the GUI thread (see TDispatcher). Without one
  // the events run on the worker thread that raises them. Set while idle.
  void SetDispatcher(TDispatcher dispatcher);
  // The beep at the end of a burn; none by default. Set while idle.
  void SetBeep(TBeepHook beep);
  // Status change notifications (see TStatusObserver). Set while idle.
  void SetStatusObserver(TStatusObserver observer);
  // The engine's waits (see TBurnTimings). Set while idle.
  void SetTimings(const TBurnTimings& timings);
  TBurnTimings GetTimings() const;
  // Simulated burns: the write parameters page asks the drive for a test
  // write (nothing reaches the disc; the drive goes through every step).
  // Off by default; kept across FindDevices and ClearTracks. False while
  // busy.
  bool SetTestWrite(bool on);

  // True while a burn or an erase runs: from Burn/Erase until every worker
  // thread (cache, write, erase) has ended.
  bool IsBusy() const;
  // The node path of drive Index ("/dev/sr0", or "virtual" for the virtual
  // recorder); empty when Index is out of range.
  std::string GetDevicePath(std::uint8_t Index) const;
  // The drive nodes the last FindDevices found but could not open, each as
  // "<path>: <why>" (permission denied, in use by pid N); not in the list.
  std::vector<std::string> GetUnopenedDrives() const;
  // Index of the selected drive, -1 before SelectDevice.
  std::int32_t GetSelectedDevice() const;
  // Medium code of the inserted disc (0 none; see MediumTypeName), or -1
  // when refused (busy, no drive selected).
  std::int32_t GetMediumType();
  // Drive buffer figures last read by the write thread (bytes); 0 when the
  // drive does not report them.
  std::uint32_t GetBufferLength() const;
  std::uint32_t GetBufferFree() const;
  // Number of tracks in the list.
  std::int32_t GetTrackCount() const;

  // The write mode of the next Burn, with the Session-At-Once options (the
  // pause before each track is AddTrack's; track 1 always gets two
  // seconds). Set while idle; Track-At-Once until set.
  void SetWriteMode(TWriteMode Mode, const TSAOOptions& Options);
  TWriteMode GetWriteMode() const { return WriteMode; }
  // What the last Session-At-Once burn left out or changed (a text cut to
  // fit the CD-TEXT block, an ISRC not of the right form, CD-TEXT the drive
  // refused), one line each. Read while idle.
  std::vector<std::string> GetBurnNotes() const { return BurnNotes; }

 private:
  void SetError(std::int32_t code, std::string detail = {});
  bool AddTrackStamped(const std::string& FileName, std::int32_t LengthSectors, std::uint16_t PauseSectors,
                       std::int64_t StartSample, std::int64_t EndSample, const TFileStamp* Stamp);
  // Clears the component's own refusal: called as every operation starts.
  void BeginOperation();
  // BeginOperation, then refuses (beBusy) while a worker runs.
  bool RefuseWhenBusy();
  // After a drive operation failed: when the drive could not be reached (its
  // node would not open, another program holds it), the refusal
  // beDriveUnavailable with the device's words for why. True then.
  bool NoteDriveProblem();

  std::unique_ptr<TAudioFiles> Files;      // the burn record
  std::unique_ptr<TSCSIDevice> Device;     // the device object
  std::unique_ptr<TEraseJob> EraseJob;     // erase state and thread
  std::unique_ptr<TBurnerHooks> Hooks;     // dispatcher, beep, observer, timings
  std::uint8_t LastFileKind = 0;
  std::int64_t LastFileSamples = 0;
  // Refusals of the component itself (busy, no drive, unreadable file), read
  // once by TakeLastError before the burn's and the drive's codes.
  std::atomic<std::int32_t> Refusal{0};
  std::string RefusalDetail;                // the component's thread only
  std::string TakenDetail;                  // words of the error last taken
  TFileStamp LastFileStamp;
  std::map<std::string, TFileStamp> MeasuredStamps;  // by file name, as measured
  std::int32_t SelectedIndex = -1;
  std::vector<std::string> DeviceNames;    // copies of the device list
  TWriteMode WriteMode = TWriteMode::TrackAtOnce;
  std::unique_ptr<TSAOOptions> SAOOptions;
  std::vector<std::string> BurnNotes;      // written by Burn on the component's thread
  std::vector<std::string> DevicePaths;
  std::vector<std::string> UnopenedDrives;
};

}  // namespace cv
