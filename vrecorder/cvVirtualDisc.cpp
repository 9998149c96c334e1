#include "vrecorder/cvVirtualDisc.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

namespace cv {

std::string VRMsfText(std::int64_t sectors) {
  if (sectors < 0) sectors = 0;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(sectors / 4500),
                static_cast<long long>((sectors / 75) % 60), static_cast<long long>(sectors % 75));
  return text;
}

int VRCurrentSession(const TVRDisc& disc) { return disc.ClosedSessions() + 1; }

TVRTrack* VROpenTrack(TVRDisc& disc) {
  if (disc.Tracks.empty() || disc.Tracks.back().Closed) return nullptr;
  return &disc.Tracks.back();
}

const TVRTrack* VROpenTrack(const TVRDisc& disc) {
  if (disc.Tracks.empty() || disc.Tracks.back().Closed) return nullptr;
  return &disc.Tracks.back();
}

int VRTracksInCurrentSession(const TVRDisc& disc) {
  const int session = VRCurrentSession(disc);
  int n = 0;
  for (const auto& t : disc.Tracks)
    if (t.Session == session) ++n;
  return n;
}

std::int32_t VRSessionStart(const TVRDisc& disc) {
  if (disc.SessionLeadOuts.empty()) return 0;
  return disc.SessionLeadOuts.back() + (disc.SessionLeadOuts.size() == 1 ? kVRFirstSessionGap : kVRLaterSessionGap);
}

std::int32_t VRNewTrackPregap(const TVRDisc& disc, std::uint16_t pauseLength) {
  return VRTracksInCurrentSession(disc) == 0 ? kVRFirstPregap : pauseLength;
}

std::optional<std::int32_t> VRNextWritable(const TVRDisc& disc, std::uint16_t pauseLength) {
  if (disc.Complete) return std::nullopt;
  if (const TVRTrack* open = VROpenTrack(disc)) {
    if (open->Damaged) return std::nullopt;
    return open->End();
  }
  if (static_cast<int>(disc.Tracks.size()) >= kVRMaxTracks) return std::nullopt;
  if (VRTracksInCurrentSession(disc) == 0) return VRSessionStart(disc);
  return disc.Tracks.back().End() + pauseLength;
}

TVRTrack& VRBeginTrack(TVRDisc& disc, std::int32_t lba, std::uint16_t pauseLength) {
  TVRTrack track;
  track.Number = static_cast<int>(disc.Tracks.size()) + 1;
  track.Session = VRCurrentSession(disc);
  track.Pregap = VRNewTrackPregap(disc, pauseLength);
  track.Start = lba;
  disc.Tracks.push_back(track);
  disc.Written = true;
  return disc.Tracks.back();
}

TVRCloseResult VRCloseTrack(TVRDisc& disc) {
  TVRTrack* open = VROpenTrack(disc);
  if (!open) return TVRCloseResult::NothingOpen;
  if (open->Length < kVRMinTrackSectors) return TVRCloseResult::TooShort;
  open->Closed = true;
  return TVRCloseResult::Closed;
}

TVRCloseResult VRCloseSession(TVRDisc& disc, bool appendable) {
  if (VRCloseTrack(disc) == TVRCloseResult::TooShort) return TVRCloseResult::TooShort;
  if (disc.Complete || VRTracksInCurrentSession(disc) == 0) return TVRCloseResult::Empty;
  disc.SessionLeadOuts.push_back(disc.Tracks.back().End());
  disc.Complete = !appendable;
  return TVRCloseResult::Closed;
}

std::string VRCueSheet(const TVRDisc& disc) {
  std::string cue = "FILE \"disc.bin\" BINARY\n";
  int lastSession = 1;
  for (const auto& t : disc.Tracks) {
    if (!t.Closed) break;
    char line[64];
    const bool firstOfSession = t.Session != lastSession;
    if (firstOfSession) {
      std::snprintf(line, sizeof line, "REM SESSION %02d\n", t.Session);
      cue += line;
      lastSession = t.Session;
    }
    std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n", t.Number);
    cue += line;
    if (t.Number == 1) {
      cue += "    PREGAP 00:02:00\n";
    } else if (firstOfSession && t.Session >= 2 &&
               static_cast<std::size_t>(t.Session - 2) < disc.SessionLeadOuts.size()) {
      // The lead-out, lead-in and pregap between two sessions are zeros in
      // disc.bin; they open this track so that they belong to no track.
      cue += "    INDEX 00 " + VRMsfText(disc.SessionLeadOuts[t.Session - 2]) + "\n";
    } else if (t.Pregap > 0) {
      cue += "    INDEX 00 " + VRMsfText(t.Start - t.Pregap) + "\n";
    }
    cue += "    INDEX 01 " + VRMsfText(t.Start) + "\n";
  }
  return cue;
}

cvVRImage::cvVRImage(std::filesystem::path directory) : Dir(std::move(directory)) {}

cvVRImage::~cvVRImage() { CloseBin(); }

bool cvVRImage::OpenBin() {
  if (Fd >= 0) return true;
  Fd = ::open(BinPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (Fd < 0) {
    LastError = "cannot open " + BinPath().string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void cvVRImage::CloseBin() {
  if (Fd >= 0) {
    ::close(Fd);
    Fd = -1;
  }
}

bool cvVRImage::Write(std::int32_t lba, std::span<const std::uint8_t> data) {
  if (lba < 0) {
    LastError = "negative address";
    return false;
  }
  if (!OpenBin()) return false;
  off_t offset = static_cast<off_t>(lba) * kVRSectorBytes;
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(Fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LastError = "cannot write " + BinPath().string() + ": " + std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool cvVRImage::Read(std::int32_t lba, std::span<std::uint8_t> into) {
  std::memset(into.data(), 0, into.size());
  std::int64_t offset = static_cast<std::int64_t>(lba) * kVRSectorBytes;
  std::size_t skip = 0;
  if (offset < 0) {  // the first pregap is not in disc.bin
    skip = static_cast<std::size_t>(std::min<std::int64_t>(-offset, static_cast<std::int64_t>(into.size())));
    offset = 0;
  }
  if (skip >= into.size()) return true;
  if (!OpenBin()) return false;
  std::size_t done = skip;
  while (done < into.size()) {
    ssize_t n = ::pread(Fd, into.data() + done, into.size() - done, static_cast<off_t>(offset) +
                                                                        static_cast<off_t>(done - skip));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      LastError = "cannot read " + BinPath().string() + ": " + std::strerror(errno);
      return false;
    }
    if (n == 0) break;  // beyond the end: zeros
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool cvVRImage::Sync() {
  if (Fd >= 0 && ::fdatasync(Fd) != 0) {
    LastError = "cannot sync " + BinPath().string() + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool cvVRImage::WriteCue(const TVRDisc& disc) {
  const std::string text = VRCueSheet(disc);
  const std::filesystem::path temp = Dir / "disc.cue.tmp";
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    LastError = "cannot write " + temp.string() + ": " + std::strerror(errno);
    return false;
  }
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), CuePath().c_str()) != 0) {
    LastError = "cannot write " + CuePath().string() + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

std::filesystem::path cvVRImage::Archive(const std::string& mediumName) {
  std::error_code ec;
  if (!std::filesystem::exists(BinPath(), ec) && !std::filesystem::exists(CuePath(), ec)) return {};
  CloseBin();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  std::filesystem::path target = Dir / "discs" / (std::string(stamp) + "-" + mediumName);
  for (int n = 2; std::filesystem::exists(target, ec); ++n)
    target = Dir / "discs" / (std::string(stamp) + "-" + mediumName + "-" + std::to_string(n));
  std::filesystem::create_directories(target, ec);
  if (ec) {
    LastError = "cannot create " + target.string() + ": " + ec.message();
    return {};
  }
  for (const char* name : {"disc.bin", "disc.cue"}) {
    if (std::filesystem::exists(Dir / name, ec)) std::filesystem::rename(Dir / name, target / name, ec);
    if (ec) LastError = "cannot archive " + std::string(name) + ": " + ec.message();
  }
  return target;
}

void cvVRImage::Clear() {
  CloseBin();
  std::error_code ec;
  std::filesystem::remove(BinPath(), ec);
  std::filesystem::remove(CuePath(), ec);
}

}  // namespace cv
