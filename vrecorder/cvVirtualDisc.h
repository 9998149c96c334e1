// The virtual recorder's disc: the rules of a Track-At-Once CD (next
// writable address, pregaps, track and session closing) over the track table
// of TVRDisc, and the image files that hold what was written: disc.bin (raw
// 2352-byte sectors, LBA 0 at offset 0, samples as received) and disc.cue.
//
// Threads: used by the recorder's command thread only (the recorder
// serialises commands).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "vrecorder/cvVirtualState.h"

namespace cv {

inline constexpr std::uint32_t kVRSectorBytes = 2352;
inline constexpr std::int32_t kVRMinTrackSectors = 300;  // 4 seconds
inline constexpr int kVRMaxTracks = 99;
inline constexpr std::int32_t kVRFirstPregap = 150;
// From the lead-out start of a closed session to the next session's first
// track: lead-out, lead-in and pregap (6750 + 4500 + 150 after the first
// session, 2250 + 4500 + 150 after later ones).
inline constexpr std::int32_t kVRFirstSessionGap = 11400;
inline constexpr std::int32_t kVRLaterSessionGap = 6900;

// MSF text "mm:ss:ff" of a sector count.
std::string VRMsfText(std::int64_t sectors);

// The session number the next track goes into.
int VRCurrentSession(const TVRDisc& disc);
// The open (started, not closed) track, or nullptr.
TVRTrack* VROpenTrack(TVRDisc& disc);
const TVRTrack* VROpenTrack(const TVRDisc& disc);
// Tracks of the current (not yet closed) session.
int VRTracksInCurrentSession(const TVRDisc& disc);
// Where the current session's first track starts.
std::int32_t VRSessionStart(const TVRDisc& disc);
// The pregap a track started now would get with the given Audio Pause Length.
std::int32_t VRNewTrackPregap(const TVRDisc& disc, std::uint16_t pauseLength);

// The next writable address: in the open track, or where a new track would
// start with this Audio Pause Length. Empty when the disc takes no more
// writes (complete, 99 tracks, damaged open track).
std::optional<std::int32_t> VRNextWritable(const TVRDisc& disc, std::uint16_t pauseLength);

// Starts a new track at lba (which must be VRNextWritable).
TVRTrack& VRBeginTrack(TVRDisc& disc, std::int32_t lba, std::uint16_t pauseLength);

enum class TVRCloseResult { Closed, NothingOpen, TooShort, Empty };
TVRCloseResult VRCloseTrack(TVRDisc& disc);
// Closes the open track and the session. appendable: Multi-session 11b.
TVRCloseResult VRCloseSession(TVRDisc& disc, bool appendable);

// The cue sheet of the closed tracks.
std::string VRCueSheet(const TVRDisc& disc);

// disc.bin, disc.cue and the archive discs/ in a state directory.
class cvVRImage {
 public:
  explicit cvVRImage(std::filesystem::path directory);
  ~cvVRImage();
  cvVRImage(const cvVRImage&) = delete;
  cvVRImage& operator=(const cvVRImage&) = delete;

  // Writes sectors at lba (>= 0). False with Error() on an I/O failure.
  [[nodiscard]] bool Write(std::int32_t lba, std::span<const std::uint8_t> data);
  // Reads sectors at lba; what disc.bin does not hold reads as zeros.
  [[nodiscard]] bool Read(std::int32_t lba, std::span<std::uint8_t> into);
  [[nodiscard]] bool Sync();
  [[nodiscard]] bool WriteCue(const TVRDisc& disc);
  // Moves disc.bin and disc.cue into discs/<time>-<medium>/; answers the
  // new folder (empty when there was nothing to archive).
  std::filesystem::path Archive(const std::string& mediumName);
  // Removes disc.bin and disc.cue.
  void Clear();

  std::filesystem::path BinPath() const { return Dir / "disc.bin"; }
  std::filesystem::path CuePath() const { return Dir / "disc.cue"; }
  const std::string& Error() const { return LastError; }

 private:
  bool OpenBin();
  void CloseBin();

  std::filesystem::path Dir;
  int Fd = -1;
  std::string LastError;
};

}  // namespace cv
