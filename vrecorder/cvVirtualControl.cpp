#include "vrecorder/cvVirtualControl.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <system_error>

#include "vrecorder/cvVirtualDisc.h"
#include "vrecorder/cvVirtualTiming.h"

namespace cv {

namespace {

bool ParseInt(std::string_view text, long long& value, int base = 10) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseBool(std::string_view text, bool& value) {
  if (text == "1" || text == "on" || text == "yes" || text == "true") return value = true, true;
  if (text == "0" || text == "off" || text == "no" || text == "false") return value = false, true;
  return false;
}

bool IsOff(std::string_view text) { return text == "off" || text == "none"; }

const char* StatusName(const TVRState& s) {
  const TVRMediumInfo& info = VRMediumInfo(s.Medium);
  if (s.Medium == TVRMediumKind::None) return "no disc";
  if (!info.IsCD) return s.Disc.Formatted ? "formatted" : "not written";
  if (s.Medium == TVRMediumKind::CDROM || s.Disc.Complete) return "complete";
  if (s.Disc.Blank()) return "blank";
  return "appendable";
}

const char* OperationText(TVROperationKind kind) {
  switch (kind) {
    case TVROperationKind::Blank: return "blank";
    case TVROperationKind::Format: return "format";
    case TVROperationKind::CloseSession: return "close-session";
    case TVROperationKind::BackgroundFormat: return "background-format";
    case TVROperationKind::None: break;
  }
  return "none";
}

}  // namespace

cvVirtualControl::cvVirtualControl() : Dir(VirtualRecorderDirectory()) {}

cvVirtualControl::cvVirtualControl(std::filesystem::path directory) : Dir(std::move(directory)) {}

bool cvVirtualControl::Fail(std::string message) {
  LastError = std::move(message);
  InputError = false;
  return false;
}

bool cvVirtualControl::Reject(std::string message) {
  LastError = std::move(message);
  InputError = true;
  return false;
}

std::vector<std::string> cvVirtualControl::Keys() {
  return {"speed",      "buffer-kib",    "time-scale",       "keep-disc",     "busy-writes",
          "not-ready-writes", "write-error-at", "fail-opcode", "block-descriptor", "page05-length",
          "blank-refused", "vanish-after-writes", "trace"};
}

template <typename Change>
bool cvVirtualControl::Modify(Change change, bool fresh) {
  if (Dir.empty()) return Fail("the virtual recorder is switched off (CORVID_VIRTUAL_RECORDER=off)");
  cvVRStateStore store(Dir);
  if (!store.TryLock()) return Fail(store.Error());
  TVRState state;
  if (!store.Load(state)) {
    if (!fresh) return Fail(store.Error() + "; 'virtual insert TYPE' starts afresh");
    std::error_code ec;
    std::filesystem::rename(store.File("recorder.json"), store.File("recorder.json.corrupt"), ec);
  }
  if (!change(state, store)) return false;
  if (!store.Save(state, true)) return Fail(store.Error());
  return true;
}

bool cvVirtualControl::Insert(std::string_view type) {
  const TVRMediumInfo* info = FindVRMedium(type);
  if (!info) {
    std::string names;
    for (const auto& n : VRMediumNames()) names += (names.empty() ? "" : ", ") + n;
    return Reject("unknown medium type \"" + std::string(type) + "\" (types: " + names + ")");
  }
  return Modify([&](TVRState& state, cvVRStateStore& store) {
    cvVRImage image(store.Directory());
    if (state.Disc.Written) {
      image.Archive(VRMediumInfo(state.Medium).Name);
      if (!image.Error().empty()) return Fail(image.Error());
    }
    image.Clear();
    state.Medium = info->Kind;
    state.Disc = {};
    state.TrayOpen = false;
    state.Ejected = false;
    state.Operation = {};
    state.UnitAttention = info->Kind != TVRMediumKind::None;
    if (info->Kind == TVRMediumKind::CDROM) {
      // A pressed disc: one finished track of silence.
      TVRTrack track;
      track.Number = 1;
      track.Session = 1;
      track.Pregap = 150;
      track.Length = 4500;
      track.Closed = true;
      state.Disc.Tracks.push_back(track);
      state.Disc.SessionLeadOuts.push_back(track.End());
      state.Disc.Complete = true;
    }
    return true;
  }, true);
}

bool cvVirtualControl::Set(const std::vector<std::string>& assignments) {
  if (assignments.empty()) return Reject("nothing to set (KEY=VALUE; keys: speed, buffer-kib, time-scale, ...)");
  std::vector<std::function<void(TVRState&)>> changes;
  for (const std::string& a : assignments) {
    const auto eq = a.find('=');
    if (eq == std::string::npos || eq == 0) return Reject("\"" + a + "\" is not KEY=VALUE");
    const std::string key = a.substr(0, eq);
    const std::string value = a.substr(eq + 1);
    auto bad = [&](const char* expected) { return Reject("bad value for " + key + ": \"" + value + "\" (" + expected + ")"); };
    long long n = 0;
    bool flag = false;
    auto intIn = [&](long long lo, long long hi) { return ParseInt(value, n) && n >= lo && n <= hi; };
    if (key == "speed") {
      if (!intIn(0, 255)) return bad("0 for instant writes, or 1..255 times 75 sectors a second");
      changes.push_back([n](TVRState& s) { s.Settings.Speed = static_cast<int>(n); });
    } else if (key == "buffer-kib") {
      if (!intIn(3, 1 << 20)) return bad("3..1048576");
      changes.push_back([n](TVRState& s) { s.Settings.BufferKiB = static_cast<int>(n); });
    } else if (key == "time-scale") {
      double d = 0;
      std::istringstream in(value);
      if (!(in >> d) || !in.eof() || !(d >= 0 && d <= 1000)) return bad("a number from 0 to 1000");
      changes.push_back([d](TVRState& s) { s.Settings.TimeScale = d; });
    } else if (key == "keep-disc" || key == "block-descriptor" || key == "blank-refused" || key == "trace") {
      if (!ParseBool(value, flag)) return bad("0 or 1");
      changes.push_back([key, flag](TVRState& s) {
        if (key == "keep-disc") s.Settings.KeepDisc = flag;
        else if (key == "block-descriptor") s.Faults.BlockDescriptor = flag;
        else if (key == "blank-refused") s.Faults.BlankRefused = flag;
        else s.Faults.Trace = flag;
      });
    } else if (key == "busy-writes" || key == "not-ready-writes") {
      if (!intIn(0, 1 << 30)) return bad("a count");
      changes.push_back([key, n](TVRState& s) {
        (key == "busy-writes" ? s.Faults.BusyWrites : s.Faults.NotReadyWrites) = static_cast<int>(n);
      });
    } else if (key == "write-error-at") {
      if (IsOff(value)) {
        changes.push_back([](TVRState& s) { s.Faults.WriteErrorAt.reset(); });
      } else {
        if (!intIn(-150, 404849)) return bad("an LBA from -150 to 404849, or off");
        changes.push_back([n](TVRState& s) { s.Faults.WriteErrorAt = n; });
      }
    } else if (key == "fail-opcode") {
      if (IsOff(value)) {
        changes.push_back([](TVRState& s) { s.Faults.FailOpcode.reset(); });
      } else {
        const auto colon = value.find(':');
        long long code = 0, count = 0;
        if (!ParseInt(std::string_view(value).substr(0, colon), code, 16) || code < 0 || code > 255 ||
            (colon != std::string::npos &&
             (!ParseInt(std::string_view(value).substr(colon + 1), count) || count < 1 || count > (1 << 30))))
          return bad("a hexadecimal opcode XX or XX:N, or off");
        changes.push_back([code, count](TVRState& s) {
          s.Faults.FailOpcode = static_cast<int>(code);
          s.Faults.FailOpcodeCount = static_cast<int>(count);
        });
      }
    } else if (key == "page05-length") {
      if (IsOff(value)) {
        changes.push_back([](TVRState& s) { s.Faults.Page05Length.reset(); });
      } else {
        if (!intIn(0, 254)) return bad("0..254, or off");
        changes.push_back([n](TVRState& s) { s.Faults.Page05Length = static_cast<int>(n); });
      }
    } else if (key == "vanish-after-writes") {
      if (IsOff(value)) {
        changes.push_back([](TVRState& s) { s.Faults.VanishAfterWrites.reset(); });
      } else {
        if (!intIn(0, 1 << 30)) return bad("a count, or off");
        changes.push_back([n](TVRState& s) {
          if (n == 0) s.Faults.Vanished = true;
          else s.Faults.VanishAfterWrites = static_cast<int>(n);
        });
      }
    } else {
      std::string keys;
      for (const auto& k : Keys()) keys += (keys.empty() ? "" : ", ") + k;
      return Reject("unknown key \"" + key + "\" (keys: " + keys + ")");
    }
  }
  return Modify([&](TVRState& state, cvVRStateStore&) {
    for (auto& change : changes) change(state);
    return true;
  });
}

bool cvVirtualControl::Reset() {
  return Modify([](TVRState& state, cvVRStateStore&) {
    state.Faults = {};
    return true;
  });
}

bool cvVirtualControl::Show(nlohmann::json& report) {
  using nlohmann::json;
  if (Dir.empty()) return Fail("the virtual recorder is switched off (CORVID_VIRTUAL_RECORDER=off)");
  cvVRStateStore store(Dir);
  TVRState s;
  if (!store.Load(s)) return Fail(store.Error());
  const TVRMediumInfo& info = VRMediumInfo(s.Medium);
  const std::uint16_t pause = static_cast<std::uint16_t>(s.Page05[14] << 8 | s.Page05[15]);

  json sessions = json::array();
  const int sessionCount = s.Disc.ClosedSessions() + (VRTracksInCurrentSession(s.Disc) > 0 ? 1 : 0);
  for (int n = 1; n <= sessionCount; ++n) {
    json tracks = json::array();
    for (const auto& t : s.Disc.Tracks) {
      if (t.Session != n) continue;
      tracks.push_back({{"number", t.Number}, {"start", t.Start}, {"pregap", t.Pregap}, {"length", t.Length},
                        {"length-msf", VRMsfText(t.Length)}, {"closed", t.Closed}, {"damaged", t.Damaged}});
    }
    const bool closed = n <= s.Disc.ClosedSessions();
    sessions.push_back({{"number", n}, {"closed", closed},
                        {"lead-out", closed ? json(s.Disc.SessionLeadOuts[n - 1]) : json(nullptr)},
                        {"tracks", tracks}});
  }
  json free = nullptr, next = nullptr;
  if (info.AudioWritable && s.Medium != TVRMediumKind::None) {
    if (auto nwa = VRNextWritable(s.Disc, pause)) {
      next = *nwa;
      free = std::max(0, info.LeadOut - *nwa);
    } else {
      free = 0;
    }
  }
  const bool running = VROperationRunning(s);
  json operation = {{"kind", OperationText(s.Operation.Kind)}};
  if (running) operation["progress-percent"] = VROperationProgress(s) * 100 / 65535;

  json archived = json::array();
  std::error_code ec;
  for (std::filesystem::directory_iterator it(Dir / "discs", ec), end; !ec && it != end; it.increment(ec))
    archived.push_back(it->path().string());
  std::sort(archived.begin(), archived.end());
  auto fileInfo = [&](const char* name) -> json {
    const auto path = Dir / name;
    std::error_code e;
    if (!std::filesystem::exists(path, e)) return nullptr;
    return {{"path", path.string()}, {"bytes", std::filesystem::file_size(path, e)}};
  };
  char profile[8];
  std::snprintf(profile, sizeof profile, "%04Xh", info.Profile);
  char failOpcode[16] = "";
  if (s.Faults.FailOpcode) std::snprintf(failOpcode, sizeof failOpcode, "%02X", *s.Faults.FailOpcode);
  auto optional = [](const auto& v) { return v ? json(*v) : json(nullptr); };

  report = {
      {"directory", Dir.string()},
      {"medium",
       {{"type", info.Name}, {"description", info.Description}, {"profile", profile},
        {"tray", s.TrayOpen ? "open" : "closed"}, {"disc-status", StatusName(s)},
        {"unit-attention", s.UnitAttention}}},
      {"sessions", sessions},
      {"next-writable", next},
      {"free-sectors", free},
      {"audio-pause-length", pause},
      {"operation", operation},
      {"settings",
       {{"speed", s.Settings.Speed}, {"buffer-kib", s.Settings.BufferKiB}, {"time-scale", s.Settings.TimeScale},
        {"keep-disc", s.Settings.KeepDisc}}},
      {"faults",
       {{"busy-writes", s.Faults.BusyWrites}, {"not-ready-writes", s.Faults.NotReadyWrites},
        {"write-error-at", optional(s.Faults.WriteErrorAt)},
        {"fail-opcode", s.Faults.FailOpcode ? json(std::string(failOpcode)) : json(nullptr)},
        {"fail-opcode-count", s.Faults.FailOpcodeCount}, {"block-descriptor", s.Faults.BlockDescriptor},
        {"page05-length", optional(s.Faults.Page05Length)}, {"blank-refused", s.Faults.BlankRefused},
        {"vanish-after-writes", optional(s.Faults.VanishAfterWrites)}, {"vanished", s.Faults.Vanished},
        {"trace", s.Faults.Trace}}},
      {"counters",
       {{"commands", s.Counters.Commands}, {"writes", s.Counters.Writes},
        {"sectors-written", s.Counters.SectorsWritten}, {"underruns", s.Counters.Underruns},
        {"write-errors", s.Counters.WriteErrors}, {"blanks", s.Counters.Blanks}, {"formats", s.Counters.Formats},
        {"sessions-closed", s.Counters.SessionsClosed}}},
      {"images", {{"bin", fileInfo("disc.bin")}, {"cue", fileInfo("disc.cue")}, {"archived", archived}}},
  };
  return true;
}

std::string cvVirtualControl::ShowText(const nlohmann::json& r) {
  std::ostringstream out;
  const auto& m = r["medium"];
  out << "Virtual recorder in " << r["directory"].get<std::string>() << "\n";
  out << "  medium:      " << m["type"].get<std::string>() << " (" << m["description"].get<std::string>()
      << ", profile " << m["profile"].get<std::string>() << ")\n";
  out << "  tray:        " << m["tray"].get<std::string>() << "\n";
  out << "  disc:        " << m["disc-status"].get<std::string>() << "\n";
  for (const auto& session : r["sessions"]) {
    out << "  session " << session["number"].get<int>() << ":   "
        << (session["closed"].get<bool>() ? "closed, lead-out at " + std::to_string(session["lead-out"].get<int>())
                                          : std::string("open"))
        << "\n";
    for (const auto& t : session["tracks"]) {
      char line[160];
      std::snprintf(line, sizeof line, "    track %02d  start %7d  pregap %5d  length %7d (%s)%s%s\n",
                    t["number"].get<int>(), t["start"].get<int>(), t["pregap"].get<int>(), t["length"].get<int>(),
                    t["length-msf"].get<std::string>().c_str(), t["closed"].get<bool>() ? "" : "  open",
                    t["damaged"].get<bool>() ? "  damaged" : "");
      out << line;
    }
  }
  if (!r["free-sectors"].is_null()) {
    out << "  free:        " << r["free-sectors"].get<int>() << " sectors (" << VRMsfText(r["free-sectors"].get<int>())
        << ")";
    if (!r["next-writable"].is_null()) out << ", next writable address " << r["next-writable"].get<int>();
    out << "\n";
  }
  const auto& op = r["operation"];
  if (op["kind"].get<std::string>() != "none") {
    out << "  operation:   " << op["kind"].get<std::string>();
    if (op.contains("progress-percent")) out << " " << op["progress-percent"].get<int>() << "%";
    out << "\n";
  }
  out << "  settings:   ";
  for (const auto& [k, v] : r["settings"].items()) out << " " << k << "=" << (v.is_boolean() ? (v.get<bool>() ? "1" : "0") : v.dump());
  out << "\n  faults:     ";
  bool any = false;
  for (const auto& [k, v] : r["faults"].items()) {
    if (v.is_null() || v == false || v == 0) continue;
    if (k == "fail-opcode-count") continue;
    any = true;
    out << " " << k << "=" << (v.is_string() ? v.get<std::string>() : v.is_boolean() ? std::string("1") : v.dump());
    if (k == "fail-opcode" && r["faults"]["fail-opcode-count"].get<int>() > 0)
      out << ":" << r["faults"]["fail-opcode-count"].get<int>();
  }
  if (!any) out << " none";
  out << "\n  counters:   ";
  for (const auto& [k, v] : r["counters"].items()) out << " " << k << "=" << v.dump();
  out << "\n";
  const auto& images = r["images"];
  if (!images["bin"].is_null())
    out << "  image:       " << images["bin"]["path"].get<std::string>() << " (" << images["bin"]["bytes"].dump()
        << " bytes)\n";
  if (!images["cue"].is_null()) out << "  cue sheet:   " << images["cue"]["path"].get<std::string>() << "\n";
  if (!images["archived"].empty()) out << "  archived:    " << images["archived"].size() << " image(s) in discs/\n";
  return out.str();
}

}  // namespace cv
