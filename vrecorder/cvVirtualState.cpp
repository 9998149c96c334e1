#include "vrecorder/cvVirtualState.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <nlohmann/json.hpp>

namespace cv {

namespace {

// Last possible lead-out starts from the ATIP: 74:43:00 and 79:59:74.
constexpr std::int32_t kLeadOut74 = 336075;
constexpr std::int32_t kLeadOut80 = 359849;

constexpr TVRMediumInfo kMedia[] = {
    {TVRMediumKind::None, "none", 0x0000, false, false, false, false, 0, "no disc"},
    {TVRMediumKind::CDROM, "cdrom", 0x0008, true, false, false, false, kLeadOut80, "CD-ROM (finished, read-only)"},
    {TVRMediumKind::CDR74, "cdr74", 0x0009, true, true, false, true, kLeadOut74, "CD-R 74 min"},
    {TVRMediumKind::CDR80, "cdr80", 0x0009, true, true, false, true, kLeadOut80, "CD-R 80 min"},
    {TVRMediumKind::CDRW74, "cdrw74", 0x000A, true, false, true, true, kLeadOut74, "CD-RW 74 min"},
    {TVRMediumKind::CDRW80, "cdrw80", 0x000A, true, false, true, true, kLeadOut80, "CD-RW 80 min"},
    {TVRMediumKind::DVDROM, "dvdrom", 0x0010, false, false, false, false, 2298496, "DVD-ROM"},
    {TVRMediumKind::DVDR, "dvdr", 0x0011, false, true, false, false, 2298496, "DVD-R"},
    {TVRMediumKind::DVDPlusR, "dvd+r", 0x001B, false, true, false, false, 2295104, "DVD+R"},
    {TVRMediumKind::DVDRAM, "dvdram", 0x0012, false, false, true, false, 2236704, "DVD-RAM"},
    {TVRMediumKind::DVDRWRestricted, "dvdrw-ro", 0x0013, false, false, true, false, 2298496,
     "DVD-RW restricted overwrite"},
    {TVRMediumKind::DVDRWSequential, "dvdrw", 0x0014, false, false, true, false, 2298496, "DVD-RW sequential"},
    {TVRMediumKind::DVDPlusRW, "dvd+rw", 0x001A, false, false, true, false, 2295104, "DVD+RW"},
};

std::string ToHex(const std::uint8_t* data, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  text.reserve(n * 2);
  for (std::size_t i = 0; i < n; ++i) {
    text.push_back(digits[data[i] >> 4]);
    text.push_back(digits[data[i] & 15]);
  }
  return text;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* OperationName(TVROperationKind kind) {
  switch (kind) {
    case TVROperationKind::None: return "none";
    case TVROperationKind::Blank: return "blank";
    case TVROperationKind::Format: return "format";
    case TVROperationKind::CloseSession: return "close-session";
    case TVROperationKind::BackgroundFormat: return "background-format";
  }
  return "none";
}

TVROperationKind OperationFromName(const std::string& name) {
  for (auto kind : {TVROperationKind::None, TVROperationKind::Blank, TVROperationKind::Format,
                    TVROperationKind::CloseSession, TVROperationKind::BackgroundFormat})
    if (name == OperationName(kind)) return kind;
  throw std::runtime_error("unknown operation \"" + name + "\"");
}

std::string PacksHex(const std::vector<TVRPack>& packs) {
  std::vector<std::uint8_t> bytes;
  for (const TVRPack& p : packs) bytes.insert(bytes.end(), p.begin(), p.end());
  return VRHex(bytes);
}

std::vector<TVRPack> PacksFromHex(const std::string& text) {
  std::vector<std::uint8_t> bytes;
  if (!VRFromHex(text, bytes) || bytes.size() % kVRPackBytes || bytes.size() > kVRPackBytes * 2048)
    throw std::runtime_error("CD-TEXT packs are not whole hexadecimal packs");
  std::vector<TVRPack> packs(bytes.size() / kVRPackBytes);
  for (std::size_t i = 0; i < packs.size(); ++i)
    std::copy_n(bytes.begin() + static_cast<long>(i * kVRPackBytes), kVRPackBytes, packs[i].begin());
  return packs;
}

template <typename T>
nlohmann::json Optional(const std::optional<T>& value) {
  return value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}

template <typename T>
std::optional<T> GetOptional(const nlohmann::json& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || it->is_null()) return std::nullopt;
  return it->get<T>();
}

template <typename T>
void Get(const nlohmann::json& object, const char* key, T& into) {
  auto it = object.find(key);
  if (it != object.end()) into = it->get<T>();
}

}  // namespace

const TVRMediumInfo& VRMediumInfo(TVRMediumKind kind) {
  for (const auto& info : kMedia)
    if (info.Kind == kind) return info;
  return kMedia[0];
}

const TVRMediumInfo* FindVRMedium(std::string_view name) {
  for (const auto& info : kMedia)
    if (name == info.Name) return &info;
  return nullptr;
}

std::vector<std::string> VRMediumNames() {
  std::vector<std::string> names;
  for (const auto& info : kMedia) names.emplace_back(info.Name);
  return names;
}

std::array<std::uint8_t, kVRPageBytes> DefaultVRPage05() {
  std::array<std::uint8_t, kVRPageBytes> page{};
  page[0] = 0x05;
  page[1] = 0x32;
  page[2] = 0x01;  // Track-At-Once, BUFE off
  page[3] = 0x04;  // data track
  page[4] = 0x08;  // Mode 1, 2048 bytes
  page[14] = 0x00;
  page[15] = 150;  // audio pause length
  return page;
}

TVRState NewVRState(TVRMediumKind medium) {
  TVRState state;
  state.Medium = medium;
  state.Page05 = DefaultVRPage05();
  state.UnitAttention = medium != TVRMediumKind::None;
  return state;
}

nlohmann::json VRStateToJson(const TVRState& s) {
  using nlohmann::json;
  json tracks = json::array();
  for (const auto& t : s.Disc.Tracks)
    tracks.push_back({{"number", t.Number}, {"session", t.Session}, {"start", t.Start}, {"pregap", t.Pregap},
                      {"length", t.Length}, {"closed", t.Closed}, {"damaged", t.Damaged}, {"control", t.Control},
                      {"isrc", t.Isrc}, {"indexes", t.Indexes}});
  return {
      {"version", 1},
      {"settings",
       {{"speed", s.Settings.Speed}, {"buffer-kib", s.Settings.BufferKiB}, {"time-scale", s.Settings.TimeScale},
        {"keep-disc", s.Settings.KeepDisc}}},
      {"faults",
       {{"busy-writes", s.Faults.BusyWrites},
        {"not-ready-writes", s.Faults.NotReadyWrites},
        {"write-error-at", Optional(s.Faults.WriteErrorAt)},
        {"fail-opcode", Optional(s.Faults.FailOpcode)},
        {"fail-opcode-count", s.Faults.FailOpcodeCount},
        {"block-descriptor", s.Faults.BlockDescriptor},
        {"page05-length", Optional(s.Faults.Page05Length)},
        {"blank-refused", s.Faults.BlankRefused},
        {"vanish-after-writes", Optional(s.Faults.VanishAfterWrites)},
        {"vanished", s.Faults.Vanished},
        {"trace", s.Faults.Trace},
        {"cue-refuse", VRCueRefusalNames(s.Faults.CueRefuse)},
        {"sao-unsupported", s.Faults.SaoUnsupported},
        {"cdtext-unsupported", s.Faults.CdTextUnsupported}}},
      {"medium",
       {{"type", VRMediumInfo(s.Medium).Name}, {"tray-open", s.TrayOpen}, {"unit-attention", s.UnitAttention},
        {"ejected", s.Ejected}}},
      {"disc",
       {{"tracks", tracks}, {"session-lead-outs", s.Disc.SessionLeadOuts}, {"complete", s.Disc.Complete},
        {"formatted", s.Disc.Formatted}, {"written", s.Disc.Written}, {"mcn", s.Disc.Mcn},
        {"cd-text", PacksHex(s.Disc.CdText)}}},
      {"session-at-once",
       {{"cue-sheet", VRHex(s.Sao.CueSheet)}, {"next", s.Sao.Next}, {"packs", PacksHex(s.Sao.Packs)},
        {"packs-received", s.Sao.PacksReceived}, {"damaged", s.Sao.Damaged}, {"last-refusal", s.LastRefusal}}},
      {"page05", ToHex(s.Page05.data(), s.Page05.size())},
      {"speeds", {{"read-kBs", s.ReadSpeedKBs}, {"write-kBs", s.WriteSpeedKBs}}},
      {"operation",
       {{"kind", OperationName(s.Operation.Kind)}, {"start-ms", s.Operation.StartMs},
        {"duration-ms", s.Operation.DurationMs}}},
      {"counters",
       {{"commands", s.Counters.Commands}, {"writes", s.Counters.Writes},
        {"sectors-written", s.Counters.SectorsWritten}, {"underruns", s.Counters.Underruns},
        {"write-errors", s.Counters.WriteErrors}, {"blanks", s.Counters.Blanks}, {"formats", s.Counters.Formats},
        {"sessions-closed", s.Counters.SessionsClosed}, {"buffer-primings", s.Counters.BufferPrimings},
        {"lowest-fill-percent", s.Counters.LowestFillPercent}}},
  };
}

TVRState VRStateFromJson(const nlohmann::json& j) {
  try {
    if (!j.is_object()) throw std::runtime_error("not a JSON object");
    TVRState s = NewVRState();
    if (auto it = j.find("settings"); it != j.end()) {
      Get(*it, "speed", s.Settings.Speed);
      Get(*it, "buffer-kib", s.Settings.BufferKiB);
      Get(*it, "time-scale", s.Settings.TimeScale);
      Get(*it, "keep-disc", s.Settings.KeepDisc);
    }
    if (auto it = j.find("faults"); it != j.end()) {
      Get(*it, "busy-writes", s.Faults.BusyWrites);
      Get(*it, "not-ready-writes", s.Faults.NotReadyWrites);
      s.Faults.WriteErrorAt = GetOptional<std::int64_t>(*it, "write-error-at");
      s.Faults.FailOpcode = GetOptional<int>(*it, "fail-opcode");
      Get(*it, "fail-opcode-count", s.Faults.FailOpcodeCount);
      Get(*it, "block-descriptor", s.Faults.BlockDescriptor);
      s.Faults.Page05Length = GetOptional<int>(*it, "page05-length");
      Get(*it, "blank-refused", s.Faults.BlankRefused);
      s.Faults.VanishAfterWrites = GetOptional<int>(*it, "vanish-after-writes");
      Get(*it, "vanished", s.Faults.Vanished);
      Get(*it, "trace", s.Faults.Trace);
      Get(*it, "sao-unsupported", s.Faults.SaoUnsupported);
      Get(*it, "cdtext-unsupported", s.Faults.CdTextUnsupported);
      const std::string refuse = it->value("cue-refuse", std::string());
      for (std::size_t at = 0; at < refuse.size();) {
        const std::size_t comma = std::min(refuse.find(',', at), refuse.size());
        const unsigned bit = VRCueRefusalFromName(std::string_view(refuse).substr(at, comma - at));
        if (!bit) throw std::runtime_error("unknown cue-refuse form in \"" + refuse + "\"");
        s.Faults.CueRefuse |= bit;
        at = comma + 1;
      }
    }
    if (auto it = j.find("medium"); it != j.end()) {
      std::string type = it->value("type", std::string("cdr80"));
      const TVRMediumInfo* info = FindVRMedium(type);
      if (!info) throw std::runtime_error("unknown medium \"" + type + "\"");
      s.Medium = info->Kind;
      Get(*it, "tray-open", s.TrayOpen);
      Get(*it, "unit-attention", s.UnitAttention);
      Get(*it, "ejected", s.Ejected);
    }
    if (auto it = j.find("disc"); it != j.end()) {
      if (auto tracks = it->find("tracks"); tracks != it->end()) {
        for (const auto& t : *tracks) {
          TVRTrack track;
          track.Number = t.at("number").get<int>();
          track.Session = t.at("session").get<int>();
          track.Start = t.at("start").get<std::int32_t>();
          track.Pregap = t.at("pregap").get<std::int32_t>();
          track.Length = t.at("length").get<std::int32_t>();
          track.Closed = t.at("closed").get<bool>();
          track.Damaged = t.value("damaged", false);
          track.Control = t.value("control", std::uint8_t{0});
          track.Isrc = t.value("isrc", std::string());
          if (auto indexes = t.find("indexes"); indexes != t.end()) track.Indexes = indexes->get<std::vector<std::int32_t>>();
          if (track.Control > 0x0F || (!track.Isrc.empty() && track.Isrc.size() != 12))
            throw std::runtime_error("track control or ISRC out of range");
          if (track.Number < 1 || track.Number > 99 || track.Length < 0 || track.Pregap < 0 || track.Start < 0)
            throw std::runtime_error("track out of range");
          s.Disc.Tracks.push_back(track);
        }
      }
      Get(*it, "session-lead-outs", s.Disc.SessionLeadOuts);
      Get(*it, "complete", s.Disc.Complete);
      Get(*it, "formatted", s.Disc.Formatted);
      Get(*it, "written", s.Disc.Written);
      Get(*it, "mcn", s.Disc.Mcn);
      s.Disc.CdText = PacksFromHex(it->value("cd-text", std::string()));
    }
    if (auto it = j.find("session-at-once"); it != j.end()) {
      if (!VRFromHex(it->value("cue-sheet", std::string()), s.Sao.CueSheet) || s.Sao.CueSheet.size() % 8)
        throw std::runtime_error("session-at-once cue sheet is not whole hexadecimal entries");
      Get(*it, "next", s.Sao.Next);
      s.Sao.Packs = PacksFromHex(it->value("packs", std::string()));
      Get(*it, "packs-received", s.Sao.PacksReceived);
      Get(*it, "damaged", s.Sao.Damaged);
      Get(*it, "last-refusal", s.LastRefusal);
    }
    if (auto it = j.find("page05"); it != j.end()) {
      std::string hex = it->get<std::string>();
      if (hex.size() != kVRPageBytes * 2) throw std::runtime_error("page05 has the wrong length");
      for (std::size_t i = 0; i < kVRPageBytes; ++i) {
        int hi = HexDigit(hex[2 * i]), lo = HexDigit(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) throw std::runtime_error("page05 is not hexadecimal");
        s.Page05[i] = static_cast<std::uint8_t>(hi * 16 + lo);
      }
    }
    if (auto it = j.find("speeds"); it != j.end()) {
      Get(*it, "read-kBs", s.ReadSpeedKBs);
      Get(*it, "write-kBs", s.WriteSpeedKBs);
    }
    if (auto it = j.find("operation"); it != j.end()) {
      s.Operation.Kind = OperationFromName(it->value("kind", std::string("none")));
      Get(*it, "start-ms", s.Operation.StartMs);
      Get(*it, "duration-ms", s.Operation.DurationMs);
    }
    if (auto it = j.find("counters"); it != j.end()) {
      Get(*it, "commands", s.Counters.Commands);
      Get(*it, "writes", s.Counters.Writes);
      Get(*it, "sectors-written", s.Counters.SectorsWritten);
      Get(*it, "underruns", s.Counters.Underruns);
      Get(*it, "write-errors", s.Counters.WriteErrors);
      Get(*it, "blanks", s.Counters.Blanks);
      Get(*it, "formats", s.Counters.Formats);
      Get(*it, "sessions-closed", s.Counters.SessionsClosed);
      Get(*it, "buffer-primings", s.Counters.BufferPrimings);
      Get(*it, "lowest-fill-percent", s.Counters.LowestFillPercent);
    }
    if (s.Settings.Speed < 0 || s.Settings.BufferKiB < 1 || !(s.Settings.TimeScale >= 0))
      throw std::runtime_error("settings out of range");
    return s;
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error(std::string("bad field: ") + e.what());
  }
}

std::filesystem::path VirtualRecorderDirectory() {
  if (const char* dir = std::getenv("CORVID_VIRTUAL_RECORDER"); dir && *dir) {
    if (std::string_view(dir) == "off") return {};
    return dir;
  }
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
    return std::filesystem::path(data) / "corvid-burner" / "virtual-recorder";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::filesystem::path(home) / ".local" / "share" / "corvid-burner" / "virtual-recorder";
  return {};
}

cvVRStateStore::cvVRStateStore(std::filesystem::path directory) : Dir(std::move(directory)) {}

cvVRStateStore::~cvVRStateStore() { Unlock(); }

bool cvVRStateStore::TryLock() {
  if (LockFd >= 0) return true;
  std::error_code ec;
  std::filesystem::create_directories(Dir, ec);
  if (ec) {
    LastError = "cannot create " + Dir.string() + ": " + ec.message();
    return false;
  }
  int fd = ::open(File("lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    LastError = "cannot open " + File("lock").string() + ": " + std::strerror(errno);
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EWOULDBLOCK) {
      // The holder wrote its process id into the file when it took the lock.
      char text[24] = {};
      const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
      const long pid = n > 0 ? std::strtol(text, nullptr, 10) : 0;
      LastError = "the virtual recorder is in use by another program";
      if (pid > 0) LastError += " (pid " + std::to_string(pid) + ")";
    } else {
      LastError = std::string("cannot lock: ") + std::strerror(errno);
    }
    ::close(fd);
    return false;
  }
  // Who holds it, for the next process that finds it locked.
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != static_cast<ssize_t>(pid.size())) {
    // Only the holder's name is lost; the lock itself holds.
  }
  LockFd = fd;
  return true;
}

void cvVRStateStore::Unlock() {
  if (LockFd >= 0) {
    ::flock(LockFd, LOCK_UN);
    ::close(LockFd);
    LockFd = -1;
  }
}

bool cvVRStateStore::Load(TVRState& state) {
  state = NewVRState();
  std::ifstream in(File("recorder.json"), std::ios::binary);
  if (!in) return true;  // a new recorder
  std::stringstream text;
  text << in.rdbuf();
  try {
    state = VRStateFromJson(nlohmann::json::parse(text.str()));
    return true;
  } catch (const std::exception& e) {
    state = NewVRState();
    LastError = File("recorder.json").string() + " is corrupt (" + e.what() + ")";
    return false;
  }
}

bool cvVRStateStore::Save(const TVRState& state, bool durable) {
  const std::string text = VRStateToJson(state).dump(1) + "\n";
  const std::filesystem::path temp = File("recorder.json.tmp");
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    LastError = "cannot write " + temp.string() + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      LastError = "cannot write " + temp.string() + ": " + std::strerror(errno);
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (durable && ::fsync(fd) != 0) {
    LastError = "cannot sync " + temp.string() + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  ::close(fd);
  if (::rename(temp.c_str(), File("recorder.json").c_str()) != 0) {
    LastError = "cannot replace recorder.json: " + std::string(std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

}  // namespace cv
