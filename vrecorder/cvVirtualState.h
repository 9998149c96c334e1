// The virtual recorder's persistent state and the directory that holds it.
//
// TVRState is everything the recorder keeps between processes: settings,
// faults, the medium in the tray and its session/track table, the write
// parameters page, the running long operation and the counters. It lives as
// recorder.json in the state directory, written atomically (temporary file +
// rename). cvVRStateStore owns the directory: it takes the exclusive flock
// lock that makes one process at a time the recorder's user, and loads and
// saves the state.
//
// Threads: plain data; cvVRStateStore is used by one thread at a time (its
// owner serialises).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace cv {

// The kinds of medium the recorder can hold (the TYPE of `virtual insert`).
enum class TVRMediumKind : std::uint8_t {
  None, CDROM, CDR74, CDR80, CDRW74, CDRW80, DVDROM, DVDR, DVDPlusR, DVDRAM, DVDRWRestricted, DVDRWSequential,
  DVDPlusRW,
};

struct TVRMediumInfo {
  TVRMediumKind Kind;
  const char* Name;         // as typed: "cdr80"
  std::uint16_t Profile;    // MMC profile number
  bool IsCD;
  bool WriteOnce;           // CD-R, DVD-R, DVD+R
  bool Rewritable;          // Erasable bit of the disc information
  bool AudioWritable;       // CD-R and CD-RW take audio
  std::int32_t LeadOut;     // CD: last possible lead-out start (LBA); DVD: blocks
  const char* Description;
};

// The table of media; Find answers nullptr for an unknown name.
const TVRMediumInfo& VRMediumInfo(TVRMediumKind kind);
const TVRMediumInfo* FindVRMedium(std::string_view name);
std::vector<std::string> VRMediumNames();

// ATIP start of lead-in of every virtual CD-R/RW: 97:15:35.
inline constexpr std::int32_t kVRLeadInStart = -12490;

// One track on the virtual disc. Start is the LBA of INDEX 01; the pregap
// (INDEX 00) covers the Pregap sectors before it.
struct TVRTrack {
  int Number = 0;
  int Session = 0;
  std::int32_t Start = 0;
  std::int32_t Pregap = 0;
  std::int32_t Length = 0;  // sectors written
  bool Closed = false;
  bool Damaged = false;     // an underrun without BUFE hit it

  std::int32_t End() const { return Start + Length; }
};

struct TVRDisc {
  std::vector<TVRTrack> Tracks;
  std::vector<std::int32_t> SessionLeadOuts;  // lead-out start of each closed session
  bool Complete = false;                      // finalized: no further session
  bool Formatted = false;                     // DVD-RAM after FORMAT UNIT
  bool Written = false;                       // anything ever written (archive on replace)

  int ClosedSessions() const { return static_cast<int>(SessionLeadOuts.size()); }
  bool Blank() const { return Tracks.empty() && SessionLeadOuts.empty() && !Complete; }
};

struct TVRSettings {
  int Speed = 0;            // 0: writes complete at once; N: N x 75 sectors a second
  int BufferKiB = 2048;
  double TimeScale = 0.01;  // multiplies the durations of blank, format, close
  bool KeepDisc = false;    // loading keeps a finished write-once disc
};

struct TVRFaults {
  int BusyWrites = 0;
  int NotReadyWrites = 0;
  std::optional<std::int64_t> WriteErrorAt;
  std::optional<int> FailOpcode;
  int FailOpcodeCount = 0;  // 0: always, else the next N
  bool BlockDescriptor = false;
  std::optional<int> Page05Length;
  bool BlankRefused = false;
  std::optional<int> VanishAfterWrites;
  bool Vanished = false;
  bool Trace = false;
};

struct TVRCounters {
  std::uint64_t Commands = 0;
  std::uint64_t Writes = 0;
  std::uint64_t SectorsWritten = 0;
  std::uint64_t Underruns = 0;
  std::uint64_t WriteErrors = 0;
  std::uint64_t Blanks = 0;
  std::uint64_t Formats = 0;
  std::uint64_t SessionsClosed = 0;
};

// A long operation started by BLANK, FORMAT UNIT or CLOSE SESSION. Times
// are wall-clock milliseconds so that a new process sees it still running.
enum class TVROperationKind : std::uint8_t { None, Blank, Format, CloseSession, BackgroundFormat };

struct TVROperation {
  TVROperationKind Kind = TVROperationKind::None;
  std::int64_t StartMs = 0;
  std::int64_t DurationMs = 0;
};

inline constexpr std::size_t kVRPageBytes = 256;

struct TVRState {
  TVRSettings Settings;
  TVRFaults Faults;
  TVRMediumKind Medium = TVRMediumKind::CDR80;
  bool TrayOpen = false;
  bool UnitAttention = true;
  bool Ejected = false;  // the tray was opened since the disc went in
  TVRDisc Disc;
  std::array<std::uint8_t, kVRPageBytes> Page05{};  // page 05h as last set (byte 1 = its length)
  std::uint16_t ReadSpeedKBs = 0xFFFF;               // from SET CD SPEED
  std::uint16_t WriteSpeedKBs = 0xFFFF;
  TVROperation Operation;
  TVRCounters Counters;
};

// The page 05h a drive holds at power-on: Track-At-Once, Mode 1 data blocks.
std::array<std::uint8_t, kVRPageBytes> DefaultVRPage05();

// A new state with the default medium, or with the given one.
TVRState NewVRState(TVRMediumKind medium = TVRMediumKind::CDR80);

nlohmann::json VRStateToJson(const TVRState& state);
// Throws std::runtime_error with a message naming the bad field.
TVRState VRStateFromJson(const nlohmann::json& json);

// The state directory: $CORVID_VIRTUAL_RECORDER, else
// $XDG_DATA_HOME/corvid-burner/virtual-recorder, else
// ~/.local/share/corvid-burner/virtual-recorder. Empty when switched off
// (CORVID_VIRTUAL_RECORDER=off) or when no home directory is known.
std::filesystem::path VirtualRecorderDirectory();

// Owner of one state directory while a process uses it.
class cvVRStateStore {
 public:
  explicit cvVRStateStore(std::filesystem::path directory);
  ~cvVRStateStore();
  cvVRStateStore(const cvVRStateStore&) = delete;
  cvVRStateStore& operator=(const cvVRStateStore&) = delete;

  // Creates the directory if needed and takes the exclusive lock without
  // waiting. False when another process holds it (or the directory cannot
  // be made); Error() then says why.
  [[nodiscard]] bool TryLock();
  bool Locked() const { return LockFd >= 0; }
  void Unlock();

  // Loads recorder.json; a missing file gives a new state. False (with
  // Error()) when the file is unreadable or corrupt; state then is new.
  [[nodiscard]] bool Load(TVRState& state);
  // Writes recorder.json atomically. Durable: fsync before the rename.
  [[nodiscard]] bool Save(const TVRState& state, bool durable);

  const std::filesystem::path& Directory() const { return Dir; }
  std::filesystem::path File(std::string_view name) const { return Dir / std::string(name); }
  const std::string& Error() const { return LastError; }

 private:
  std::filesystem::path Dir;
  int LockFd = -1;
  std::string LastError;
};

}  // namespace cv
