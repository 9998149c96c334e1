#include "vrecorder/cvVirtualCommands.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace cv {

// What a handler sees and answers: the command, and the reply being built.
struct cvVirtualDrive::TReply {
  std::span<const std::uint8_t> Cdb;
  std::span<std::uint8_t> Data;
  std::uint8_t Status = kScsiGood;
  TVRSense Sense;
  bool HasProgress = false;
  std::uint16_t Progress = 0;
  std::uint32_t Transferred = 0;
  bool HostError = false;  // the data phase did not match the command

  void Fail(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    Status = kScsiCheckCondition;
    Sense = {key, asc, ascq};
  }
  bool Failed() const { return Status != kScsiGood; }
  // Sends reply bytes to the host, cut to the allocation length and buffer.
  void Send(const std::vector<std::uint8_t>& bytes, std::uint32_t allocation) {
    const std::size_t n = std::min<std::size_t>({bytes.size(), allocation, Data.size()});
    if (n) std::memcpy(Data.data(), bytes.data(), n);
    Transferred = static_cast<std::uint32_t>(n);
  }
};

struct cvVirtualDrive::TCommandEntry {
  std::uint8_t Opcode;
  const char* Name;
  std::uint8_t CdbLength;
  TDataDirection Direction;
  bool NeedsMedium;
  bool DuringOperation;  // answered while blank/format/close runs
  bool PassesAttention;  // not stopped by a pending unit attention
  THandler Handler;
};

namespace {

using Entry = cvVirtualDrive::TCommandEntry;
constexpr auto kNone = TDataDirection::None;
constexpr auto kIn = TDataDirection::FromDevice;
constexpr auto kOut = TDataDirection::ToDevice;

std::uint16_t Be16(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] << 8 | b[at + 1]);
}
std::uint32_t Be24(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 16 | static_cast<std::uint32_t>(b[at + 1]) << 8 | b[at + 2];
}
std::uint32_t Be32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) << 24 | Be24(b, at + 1);
}
void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<std::uint8_t>(v >> 8);
  b[at + 1] = static_cast<std::uint8_t>(v);
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v >> 16);
  Put16(b, at + 2, v);
}
// Minutes, seconds, frames of an LBA (binary, with the 150-sector offset;
// lead-in addresses wrap as MMC gives them).
void PutMsf(std::vector<std::uint8_t>& b, std::size_t at, std::int32_t lba) {
  std::int64_t n = lba >= -150 ? std::int64_t{lba} + 150 : std::int64_t{lba} + 450150;
  b[at] = static_cast<std::uint8_t>(n / 4500);
  b[at + 1] = static_cast<std::uint8_t>((n / 75) % 60);
  b[at + 2] = static_cast<std::uint8_t>(n % 75);
}

constexpr std::uint16_t kMaxSpeedKBs = 8467;  // 48x
// The longest cue sheet SEND CUE SHEET takes: 99 tracks with an ISRC,
// INDEX 00 and 01 and a few more index points.
constexpr std::uint32_t kVRMaxCueSheetBytes = 4096;

// Commands that see the simulated disc while Test Write is on: the writes,
// closes and the disc's address and status queries.
bool IsDiscCommand(std::uint8_t opcode) {
  switch (opcode) {
    case 0x2A: case 0x35: case 0x5B: case 0x51: case 0x52: case 0x43: case 0x25: return true;
    default: return false;
  }
}

const std::uint16_t kProfiles[] = {0x001B, 0x001A, 0x0014, 0x0013, 0x0012, 0x0011, 0x0010, 0x000A, 0x0009, 0x0008};

}  // namespace

std::span<const cvVirtualDrive::TCommandEntry> cvVirtualDrive::Commands() {
  static const Entry kCommands[] = {
    {0x00, "TEST UNIT READY", 6, kNone, true, false, false, &cvVirtualDrive::TestUnitReady},
    {0x01, "REZERO UNIT", 6, kNone, true, false, false, &cvVirtualDrive::RezeroUnit},
    {0x03, "REQUEST SENSE", 6, kIn, false, true, true, &cvVirtualDrive::RequestSense},
    {0x04, "FORMAT UNIT", 6, kOut, true, false, false, &cvVirtualDrive::FormatUnit},
    {0x12, "INQUIRY", 6, kIn, false, true, true, &cvVirtualDrive::Inquiry},
    {0x1B, "START STOP UNIT", 6, kNone, false, false, false, &cvVirtualDrive::StartStopUnit},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL", 6, kNone, false, true, false, &cvVirtualDrive::PreventAllow},
    {0x25, "READ CAPACITY", 10, kIn, true, false, false, &cvVirtualDrive::ReadCapacity},
    {0x2A, "WRITE(10)", 10, kOut, true, false, false, &cvVirtualDrive::Write10},
    {0x35, "SYNCHRONIZE CACHE", 10, kNone, true, false, false, &cvVirtualDrive::SynchronizeCache},
    {0x42, "READ SUB-CHANNEL", 10, kIn, true, false, false, &cvVirtualDrive::ReadSubChannel},
    {0x43, "READ TOC/PMA/ATIP", 10, kIn, true, false, false, &cvVirtualDrive::ReadToc},
    {0x46, "GET CONFIGURATION", 10, kIn, false, true, true, &cvVirtualDrive::GetConfiguration},
    {0x51, "READ DISC INFORMATION", 10, kIn, true, false, false, &cvVirtualDrive::ReadDiscInformation},
    {0x52, "READ TRACK INFORMATION", 10, kIn, true, false, false, &cvVirtualDrive::ReadTrackInformation},
    {0x54, "SEND OPC INFORMATION", 10, kNone, true, false, false, &cvVirtualDrive::SendOpcInformation},
    {0x55, "MODE SELECT(10)", 10, kOut, false, false, false, &cvVirtualDrive::ModeSelect10},
    {0x5A, "MODE SENSE(10)", 10, kIn, false, true, false, &cvVirtualDrive::ModeSense10},
    {0x5B, "CLOSE TRACK/SESSION", 10, kNone, true, false, false, &cvVirtualDrive::CloseTrackSession},
    {0x5C, "READ BUFFER CAPACITY", 10, kIn, true, false, false, &cvVirtualDrive::ReadBufferCapacity},
    {0x5D, "SEND CUE SHEET", 10, kOut, true, false, false, &cvVirtualDrive::SendCueSheet},
    {0xA1, "BLANK", 12, kNone, true, false, false, &cvVirtualDrive::Blank},
    {0xBB, "SET CD SPEED", 12, kNone, false, false, false, &cvVirtualDrive::SetCDSpeed},
    {0xBE, "READ CD", 12, kIn, true, false, false, &cvVirtualDrive::ReadCD},
  };
  return kCommands;
}

const cvVirtualDrive::TCommandEntry* cvVirtualDrive::FindCommand(std::uint8_t opcode) {
  for (const auto& entry : Commands())
    if (entry.Opcode == opcode) return &entry;
  return nullptr;
}

const char* VRCommandName(std::uint8_t opcode) {
  const Entry* entry = cvVirtualDrive::FindCommand(opcode);
  return entry ? entry->Name : nullptr;
}

cvVirtualDrive::cvVirtualDrive(TVRState& state, cvVRImage& image, cvVRTiming& timing)
    : State(state), Image(image), Timing(timing) {
  ApplySpeed();
}

void cvVirtualDrive::PowerOn() {
  Prevented = false;
  Sao.reset();
  ResetPending = false;
  HavePendingSense = false;
  ApplySpeed();
}

bool cvVirtualDrive::SimulatedCommand(std::uint8_t opcode) const {
  return (State.Page05[2] & 0x10) && Medium().AudioWritable && IsDiscCommand(opcode);
}

void cvVirtualDrive::Touch(bool durable) {
  StateChanged = true;
  DurableChange = DurableChange || durable;
}

std::uint16_t cvVirtualDrive::PauseLength() const {
  return static_cast<std::uint16_t>(State.Page05[14] << 8 | State.Page05[15]);
}

std::uint8_t cvVirtualDrive::Page05Length() const {
  return static_cast<std::uint8_t>(State.Faults.Page05Length.value_or(0x32));
}

// The write speed follows the speed setting, lowered by SET CD SPEED.
void cvVirtualDrive::ApplySpeed() {
  int speed = State.Settings.Speed;
  if (speed > 0 && State.WriteSpeedKBs != 0xFFFF) {
    int asked = std::max(1, static_cast<int>(std::lround(State.WriteSpeedKBs / 176.4)));
    speed = std::min(speed, asked);
  }
  Timing.Configure(speed, State.Settings.BufferKiB);
}

void cvVirtualDrive::DrainBuffer() {
  const auto wait = Timing.DrainTime();
  if (wait > cvVRTiming::Clock::duration::zero()) std::this_thread::sleep_for(wait);
  Timing.Flush();
}

// A command sent without Immed returns when its operation is over.
void cvVirtualDrive::WaitForOperation() {
  if (State.Operation.Kind == TVROperationKind::None) return;
  const std::int64_t left = State.Operation.StartMs + State.Operation.DurationMs - VRNowMs();
  if (left > 0 && left <= State.Operation.DurationMs) std::this_thread::sleep_for(std::chrono::milliseconds(left));
  State.Operation = {};
}

TScsiOutcome cvVirtualDrive::Run(const TScsiCommand& command) {
  StateChanged = true;  // the command counter
  DurableChange = false;
  ++State.Counters.Commands;

  TScsiOutcome outcome;
  if (command.Cdb.empty()) {
    outcome.Delivered = false;
    outcome.OSError = EINVAL;
    return outcome;
  }
  outcome.Delivered = true;

  TReply r;
  r.Cdb = command.Cdb;
  r.Data = command.Data;
  const std::uint8_t opcode = command.Cdb[0];
  const Entry* entry = FindCommand(opcode);

  const bool trackOpen = VROpenTrack(State.Disc) != nullptr;
  const bool saoWriting = SaoStarted();
  if (Timing.Advance(cvVRTiming::Clock::now()) && (trackOpen || saoWriting)) {
    ++State.Counters.Underruns;
    const bool bufe = State.Page05[2] & 0x40;
    if (!bufe) {
      if (trackOpen) VROpenTrack(State.Disc)->Damaged = true;
      else State.Sao.Damaged = true;
      Touch(true);
    }
  }
  // The fill is lowest just before the host's next command arrives.
  if (Timing.Primed() && trackOpen)
    State.Counters.LowestFillPercent = std::min<std::uint64_t>(State.Counters.LowestFillPercent, Timing.FillPercent());

  if (!entry) {
    r.Fail(5, 0x20, 0x00);
  } else if (command.Cdb.size() < entry->CdbLength) {
    r.Fail(5, 0x24, 0x00);
  } else if (State.Faults.FailOpcode && *State.Faults.FailOpcode == opcode) {
    r.Fail(5, 0x20, 0x00);
    if (State.Faults.FailOpcodeCount > 0 && --State.Faults.FailOpcodeCount == 0) State.Faults.FailOpcode.reset();
  } else if (!entry->DuringOperation && VROperationRunning(State) &&
             State.Operation.Kind != TVROperationKind::BackgroundFormat) {
    r.Fail(2, 0x04, State.Operation.Kind == TVROperationKind::Format ? 0x04 : 0x07);
    r.HasProgress = true;
    r.Progress = VROperationProgress(State);
  } else if (!entry->PassesAttention && ResetPending) {
    ResetPending = false;
    r.Fail(6, 0x29, 0x00);
  } else if (!entry->PassesAttention && State.UnitAttention && MediumPresent()) {
    State.UnitAttention = false;
    Touch(true);
    r.Fail(6, 0x28, 0x00);
  } else if (entry->NeedsMedium && State.TrayOpen) {
    r.Fail(2, 0x3A, 0x02);
  } else if (entry->NeedsMedium && State.Medium == TVRMediumKind::None) {
    r.Fail(2, 0x3A, opcode == 0x00 ? 0x01 : 0x00);
  } else if (!command.Data.empty() && command.Direction != entry->Direction) {
    r.HostError = true;
  } else if (SimulatedCommand(opcode)) {
    // Test Write: the command works on the simulated copy of the disc.
    if (!Simulated) Simulated = State.Disc;
    std::swap(State.Disc, *Simulated);
    Simulating = true;
    (this->*(entry->Handler))(r);
    Simulating = false;
    std::swap(State.Disc, *Simulated);
    if (opcode == 0x5B && (r.Cdb[2] & 0x07) == 2 && !r.Failed()) Simulated.reset();  // session "closed"
  } else {
    (this->*(entry->Handler))(r);
  }
  if (!(State.Page05[2] & 0x10)) Simulated.reset();

  if (r.HostError) {
    outcome.HostStatus = 0x07;  // the data phase failed on the bus
    outcome.Residual = static_cast<std::uint32_t>(command.Data.size());
    return outcome;
  }
  outcome.ScsiStatus = r.Status;
  outcome.Residual = static_cast<std::uint32_t>(command.Data.size()) - std::min<std::uint32_t>(
                                                                          r.Transferred, command.Data.size());
  if (r.Status == kScsiCheckCondition) {
    auto& s = outcome.Sense;
    s[0] = 0x70;
    s[2] = r.Sense.Key;
    s[7] = 10;
    s[12] = r.Sense.Asc;
    s[13] = r.Sense.Ascq;
    if (r.HasProgress) {
      s[15] = 0x80;
      s[16] = static_cast<std::uint8_t>(r.Progress >> 8);
      s[17] = static_cast<std::uint8_t>(r.Progress);
    }
    outcome.SenseLength = 18;
    PendingSense = r.Sense;
    HavePendingSense = opcode != 0x03;
  }
  return outcome;
}

// --- SPC commands --------------------------------------------------------

void cvVirtualDrive::TestUnitReady(TReply&) {}

void cvVirtualDrive::RezeroUnit(TReply&) {}

void cvVirtualDrive::RequestSense(TReply& r) {
  std::vector<std::uint8_t> sense(18, 0);
  sense[0] = 0x70;
  sense[7] = 10;
  TVRSense s;
  if (VROperationRunning(State) && State.Operation.Kind != TVROperationKind::BackgroundFormat) {
    s = {2, 0x04, static_cast<std::uint8_t>(State.Operation.Kind == TVROperationKind::Format ? 0x04 : 0x07)};
    const std::uint16_t progress = VROperationProgress(State);
    sense[15] = 0x80;
    sense[16] = static_cast<std::uint8_t>(progress >> 8);
    sense[17] = static_cast<std::uint8_t>(progress);
  } else if (HavePendingSense) {
    s = PendingSense;
    HavePendingSense = false;
  } else if (ResetPending) {
    s = {6, 0x29, 0x00};
    ResetPending = false;
  } else if (State.UnitAttention && MediumPresent()) {
    s = {6, 0x28, 0x00};
    State.UnitAttention = false;
    Touch(true);
  } else if (State.TrayOpen) {
    s = {2, 0x3A, 0x02};
  } else if (State.Medium == TVRMediumKind::None) {
    s = {2, 0x3A, 0x01};
  }
  sense[2] = s.Key;
  sense[12] = s.Asc;
  sense[13] = s.Ascq;
  r.Send(sense, r.Cdb[4]);
}

void cvVirtualDrive::Inquiry(TReply& r) {
  if ((r.Cdb[1] & 0x01) || r.Cdb[2] != 0) return r.Fail(5, 0x24, 0x00);  // no vital product data pages
  std::vector<std::uint8_t> reply(36, ' ');
  reply[0] = 0x05;  // CD/DVD device
  reply[1] = 0x80;  // removable
  reply[2] = 0x05;  // SPC-3
  reply[3] = 0x02;  // response data format
  reply[4] = 36 - 5;
  reply[5] = reply[6] = reply[7] = 0;
  std::memcpy(&reply[8], "CORVID  ", 8);
  std::memcpy(&reply[16], "VIRTUAL RECORDER", 16);
  std::memcpy(&reply[32], "1.00", 4);
  r.Send(reply, Be16(r.Cdb, 3));
}

void cvVirtualDrive::StartStopUnit(TReply& r) {
  const std::uint8_t b4 = r.Cdb[4];
  if (b4 & 0xF0) return;  // a power condition: no tray movement
  const bool loej = b4 & 0x02, start = b4 & 0x01;
  if (!loej) return;  // spin up or down
  if (!start) {
    if (Prevented) return r.Fail(5, 0x53, 0x02);
    if (!State.TrayOpen) {
      DrainBuffer();
      State.TrayOpen = true;
      State.Ejected = State.Medium != TVRMediumKind::None;
      Touch(true);
    }
    return;
  }
  if (!State.TrayOpen) return;  // already loaded
  State.TrayOpen = false;
  const TVRMediumInfo& info = Medium();
  if (State.Ejected && info.WriteOnce && info.IsCD && !State.Settings.KeepDisc &&
      !State.Disc.SessionLeadOuts.empty()) {
    // The user took the finished CD-R out and put a new blank in.
    if (State.Disc.Written) Image.Archive(info.Name);
    Image.Clear();
    State.Disc = {};
  }
  State.Ejected = false;
  State.UnitAttention = State.Medium != TVRMediumKind::None;
  Touch(true);
}

void cvVirtualDrive::PreventAllow(TReply& r) { Prevented = r.Cdb[4] & 0x01; }

// --- mode pages ------------------------------------------------------------

void cvVirtualDrive::ModeSense10(TReply& r) {
  const bool dbd = r.Cdb[1] & 0x08;
  const std::uint8_t control = r.Cdb[2] >> 6, page = r.Cdb[2] & 0x3F;
  if (control == 3) return r.Fail(5, 0x39, 0x00);  // saved values
  if (page != 0x05 && page != 0x2A && page != 0x3F) return r.Fail(5, 0x24, 0x00);

  std::vector<std::uint8_t> reply(8, 0);
  if (State.Faults.BlockDescriptor && !dbd) {
    reply[7] = 8;
    reply.resize(16, 0);
    reply[13] = 0x00, reply[14] = 0x08, reply[15] = 0x00;  // block length 2048
  }
  if (page == 0x05 || page == 0x3F) {
    const std::size_t length = Page05Length();
    std::vector<std::uint8_t> p(length + 2, 0);
    p[0] = 0x05;
    p[1] = static_cast<std::uint8_t>(length);
    for (std::size_t i = 2; i < p.size() && i < kVRPageBytes; ++i) {
      if (control == 1) {  // changeable: every field of the page
        static const std::uint8_t mask[16] = {0, 0, 0x7F, 0xFF, 0x0F, 0xFF, 0, 0x3F, 0xFF, 0, 0xFF, 0xFF,
                                              0xFF, 0xFF, 0xFF, 0xFF};
        p[i] = i < 16 ? mask[i] : 0xFF;
      } else if (control == 2) {
        p[i] = DefaultVRPage05()[i];
      } else {
        p[i] = State.Page05[i];
      }
    }
    reply.insert(reply.end(), p.begin(), p.end());
  }
  if (page == 0x2A || page == 0x3F) {
    std::vector<std::uint8_t> p(36, 0);
    p[0] = 0x2A;
    p[1] = 34;
    if (control != 1) {
      auto current = [](std::uint16_t asked) { return asked == 0xFFFF ? kMaxSpeedKBs : std::min(asked, kMaxSpeedKBs); };
      const std::uint16_t read = control == 2 ? kMaxSpeedKBs : current(State.ReadSpeedKBs);
      const std::uint16_t write = control == 2 ? kMaxSpeedKBs : current(State.WriteSpeedKBs);
      p[2] = 0x3F;                            // reads CD-R, CD-RW, Method 2, DVD-ROM, DVD-R, DVD-RAM
      p[3] = 0x07;                            // writes CD-R, CD-RW; Test Write
      p[4] = 0xC1;                            // BUF, multi-session, audio play
      p[5] = 0x63;                            // CD-DA commands, accurate, ISRC and catalog number
      p[6] = 0x29 | (Prevented ? 0x02 : 0);   // tray, eject, lock
      Put16(p, 8, kMaxSpeedKBs);
      Put16(p, 12, static_cast<std::uint32_t>(std::clamp(State.Settings.BufferKiB, 0, 0xFFFF)));
      Put16(p, 14, read);
      Put16(p, 18, kMaxSpeedKBs);
      Put16(p, 20, write);
      Put16(p, 28, write);
      Put16(p, 30, 1);  // one write speed descriptor
      Put16(p, 34, kMaxSpeedKBs);
    }
    reply.insert(reply.end(), p.begin(), p.end());
  }
  Put16(reply, 0, static_cast<std::uint32_t>(reply.size() - 2));
  r.Send(reply, Be16(r.Cdb, 7));
}

void cvVirtualDrive::ModeSelect10(TReply& r) {
  if (!(r.Cdb[1] & 0x10)) return r.Fail(5, 0x24, 0x00);  // pages must be in the standard format
  if (r.Cdb[1] & 0x01) return r.Fail(5, 0x39, 0x00);     // saving pages
  const std::uint32_t length = Be16(r.Cdb, 7);
  if (length == 0) return;
  if (length > r.Data.size() || length < 8) return r.Fail(5, 0x1A, 0x00);
  const std::span<const std::uint8_t> list = r.Data.first(length);
  r.Transferred = length;
  std::size_t at = 8 + Be16(list, 6);
  if (at > length) return r.Fail(5, 0x1A, 0x00);

  // Check every page before any takes effect.
  std::vector<std::pair<std::size_t, std::size_t>> pages;
  while (at < length) {
    if (at + 2 > length) return r.Fail(5, 0x26, 0x00);
    const std::uint8_t code = list[at] & 0x3F;
    const std::size_t pageLength = list[at + 1];
    if (code != 0x05 || at + 2 + pageLength > length) return r.Fail(5, 0x26, 0x00);
    // Write types: only those the recorder writes, Track-At-Once and
    // Session-At-Once (not packet, not raw), each also as a Test Write.
    if (pageLength >= 1) {
      const std::uint8_t writeType = list[at + 2] & 0x0F;
      if (writeType != 1 && writeType != 2) return r.Fail(5, 0x26, 0x00);
      if (writeType == 2 && State.Faults.SaoUnsupported) return r.Fail(5, 0x26, 0x00);
    }
    if (pageLength >= 3) {
      const std::uint8_t blockType = list[at + 4] & 0x0F;
      if ((blockType >= 4 && blockType <= 7) || blockType >= 14) return r.Fail(5, 0x26, 0x00);
    }
    pages.emplace_back(at, pageLength);
    at += 2 + pageLength;
  }
  for (auto [offset, pageLength] : pages) {
    for (std::size_t i = 2; i < pageLength + 2 && i < kVRPageBytes; ++i) State.Page05[i] = list[offset + i];
    State.Page05[1] = static_cast<std::uint8_t>(pageLength);
  }
  Touch(true);
}

// --- medium information ----------------------------------------------------

void cvVirtualDrive::GetConfiguration(TReply& r) {
  const std::uint8_t rt = r.Cdb[1] & 0x03;
  if (rt == 3) return r.Fail(5, 0x24, 0x00);
  const std::uint16_t first = Be16(r.Cdb, 2);
  const TVRMediumInfo& info = Medium();
  const std::uint16_t profile = MediumPresent() ? info.Profile : 0;

  struct Feature {
    std::uint16_t Code;
    bool Current;
    std::vector<std::uint8_t> Bytes;
  };
  std::vector<Feature> features;
  {
    std::vector<std::uint8_t> f(4 + 4 * std::size(kProfiles), 0);
    f[2] = 0x03;
    f[3] = static_cast<std::uint8_t>(4 * std::size(kProfiles));
    for (std::size_t i = 0; i < std::size(kProfiles); ++i) {
      Put16(f, 4 + 4 * i, kProfiles[i]);
      f[6 + 4 * i] = kProfiles[i] == profile ? 0x01 : 0x00;
    }
    features.push_back({0x0000, true, f});
  }
  features.push_back({0x0001, true, {0x00, 0x01, 0x07, 0x08, 0x00, 0x00, 0x00, 0x02, 0x01, 0, 0, 0}});  // core, ATAPI
  features.push_back({0x0003, true, {0x00, 0x03, 0x03, 0x04, 0x29, 0, 0, 0}});  // removable medium, tray
  const bool cd = MediumPresent() && info.IsCD;
  features.push_back({0x001E, cd, {0x00, 0x1E, static_cast<std::uint8_t>(0x08 | (cd ? 1 : 0)), 0x04, 0, 0, 0, 0}});
  const bool tao = MediumPresent() && info.AudioWritable;
  features.push_back(
      {0x002D, tao, {0x00, 0x2D, static_cast<std::uint8_t>(0x08 | (tao ? 1 : 0)), 0x04, 0x46, 0x00, 0x00, 0x01}});  // BUF, Test Write, CD-RW
  if (!State.Faults.SaoUnsupported) {
    // CD Mastering: Session-At-Once, BUFE, Test Write, CD-RW, R-W
    // sub-channel (CD-TEXT in the lead-in); the longest cue sheet. A
    // Session-At-Once test write checks every block and leaves the disc
    // blank.
    const std::uint8_t flags = 0x40 | 0x20 | 0x04 | 0x02 | (State.Faults.CdTextUnsupported ? 0x00 : 0x01);
    features.push_back({0x002E, tao,
                        {0x00, 0x2E, static_cast<std::uint8_t>(0x08 | (tao ? 1 : 0)), 0x04, flags,
                         static_cast<std::uint8_t>(kVRMaxCueSheetBytes >> 16),
                         static_cast<std::uint8_t>(kVRMaxCueSheetBytes >> 8),
                         static_cast<std::uint8_t>(kVRMaxCueSheetBytes)}});
  }

  std::vector<std::uint8_t> reply(8, 0);
  Put16(reply, 6, profile);
  for (const auto& f : features) {
    if (f.Code < first) continue;
    if (rt == 2 && f.Code != first) continue;
    if (rt == 1 && !f.Current) continue;
    reply.insert(reply.end(), f.Bytes.begin(), f.Bytes.end());
  }
  Put32(reply, 0, static_cast<std::uint32_t>(reply.size() - 4));
  r.Send(reply, Be16(r.Cdb, 7));
}

void cvVirtualDrive::ReadToc(TReply& r) {
  const bool msf = r.Cdb[1] & 0x02;
  const std::uint8_t format = r.Cdb[2] & 0x0F;
  const std::uint8_t first = r.Cdb[6];
  const std::uint32_t allocation = Be16(r.Cdb, 7);
  const TVRMediumInfo& info = Medium();
  const TVRDisc& disc = State.Disc;
  auto putAddress = [msf](std::vector<std::uint8_t>& b, std::size_t at, std::int32_t lba) {
    if (msf) {
      b[at] = 0;
      PutMsf(b, at + 1, lba);
    } else {
      Put32(b, at, static_cast<std::uint32_t>(lba));
    }
  };

  if (format == 4) {  // ATIP
    if (!info.IsCD || State.Medium == TVRMediumKind::CDROM) return r.Fail(5, 0x24, 0x00);
    std::vector<std::uint8_t> reply(28, 0);
    Put16(reply, 0, 26);
    reply[4] = 0x80 | 0x40 | 0x05;            // writing power 4, reference speed
    reply[6] = info.Rewritable ? 0xC0 : 0x80;  // disc type: CD-RW or CD-R
    PutMsf(reply, 8, kVRLeadInStart);
    PutMsf(reply, 12, info.LeadOut);
    return r.Send(reply, allocation);
  }
  if (format != 0 && format != 1 && format != 2 && format != 5) return r.Fail(5, 0x24, 0x00);
  if (!info.IsCD || disc.SessionLeadOuts.empty()) return r.Fail(5, 0x24, 0x00);  // no closed session
  if (format == 5) {  // CD-TEXT: the lead-in's packs, one copy (the MSF bit does not apply)
    std::vector<std::uint8_t> reply(4, 0);
    for (const TVRPack& p : disc.CdText) reply.insert(reply.end(), p.begin(), p.end());
    Put16(reply, 0, static_cast<std::uint32_t>(reply.size() - 2));
    return r.Send(reply, allocation);
  }

  std::vector<const TVRTrack*> tracks;
  for (const auto& t : disc.Tracks)
    if (t.Session <= disc.ClosedSessions()) tracks.push_back(&t);
  if (tracks.empty()) return r.Fail(5, 0x24, 0x00);
  std::vector<std::uint8_t> reply(4, 0);
  if (format == 2) {  // full TOC: A0, A1, A2 and the tracks of each session, addresses in MSF
    reply[2] = 1;
    reply[3] = static_cast<std::uint8_t>(disc.ClosedSessions());
    auto entry = [&](int session, std::uint8_t point, std::int32_t lba, std::uint8_t pmin) {
      std::vector<std::uint8_t> d(11, 0);
      d[0] = static_cast<std::uint8_t>(session);
      d[1] = 0x10;  // ADR 1, audio
      d[3] = point;
      if (pmin != 0xFF) d[8] = pmin;  // A0/A1: a track number, PSEC/PFRAME 0 (CD-DA)
      else PutMsf(d, 8, lba);
      reply.insert(reply.end(), d.begin(), d.end());
    };
    for (int s = 1; s <= disc.ClosedSessions(); ++s) {
      const TVRTrack* firstTrack = nullptr;
      const TVRTrack* lastTrack = nullptr;
      for (const TVRTrack* t : tracks)
        if (t->Session == s) {
          if (!firstTrack) firstTrack = t;
          lastTrack = t;
        }
      if (!firstTrack) continue;
      entry(s, 0xA0, 0, static_cast<std::uint8_t>(firstTrack->Number));
      entry(s, 0xA1, 0, static_cast<std::uint8_t>(lastTrack->Number));
      entry(s, 0xA2, disc.SessionLeadOuts[static_cast<std::size_t>(s - 1)], 0xFF);
      for (const TVRTrack* t : tracks)
        if (t->Session == s) entry(s, static_cast<std::uint8_t>(t->Number), t->Start, 0xFF);
    }
  } else if (format == 1) {  // session information
    reply[2] = 1;
    reply[3] = static_cast<std::uint8_t>(disc.ClosedSessions());
    const TVRTrack* firstOfLast = nullptr;
    for (const TVRTrack* t : tracks)
      if (t->Session == disc.ClosedSessions()) {
        firstOfLast = t;
        break;
      }
    std::vector<std::uint8_t> d(8, 0);
    d[1] = static_cast<std::uint8_t>(0x10 | firstOfLast->Control);
    d[2] = static_cast<std::uint8_t>(firstOfLast->Number);
    putAddress(d, 4, firstOfLast->Start);
    reply.insert(reply.end(), d.begin(), d.end());
  } else {
    const int last = tracks.back()->Number;
    if (first > last && first != 0xAA) return r.Fail(5, 0x24, 0x00);
    reply[2] = 1;
    reply[3] = static_cast<std::uint8_t>(last);
    for (const TVRTrack* t : tracks) {
      if (t->Number < first) continue;
      std::vector<std::uint8_t> d(8, 0);
      d[1] = static_cast<std::uint8_t>(0x10 | t->Control);  // ADR 1, audio
      d[2] = static_cast<std::uint8_t>(t->Number);
      putAddress(d, 4, t->Start);
      reply.insert(reply.end(), d.begin(), d.end());
    }
    std::vector<std::uint8_t> d(8, 0);
    d[1] = 0x10;
    d[2] = 0xAA;
    putAddress(d, 4, disc.SessionLeadOuts.back());
    reply.insert(reply.end(), d.begin(), d.end());
  }
  Put16(reply, 0, static_cast<std::uint32_t>(reply.size() - 2));
  r.Send(reply, allocation);
}

// READ CAPACITY (25h): the last recorded block and a 2048-byte block length
// (0 on a blank disc).
void cvVirtualDrive::ReadCapacity(TReply& r) {
  if (r.Cdb[8] & 0x01) return r.Fail(5, 0x24, 0x00);  // PMI: no partial capacity
  const TVRDisc& disc = State.Disc;
  std::int32_t last = 0;
  if (!disc.SessionLeadOuts.empty()) last = disc.SessionLeadOuts.back() - 1;
  for (const auto& t : disc.Tracks) last = std::max(last, t.Start + t.Length - 1);
  std::vector<std::uint8_t> reply(8, 0);
  Put32(reply, 0, static_cast<std::uint32_t>(std::max(last, 0)));
  Put32(reply, 4, 2048);
  r.Send(reply, 8);
}

// SEND OPC INFORMATION (54h): the recorder needs no power calibration.
void cvVirtualDrive::SendOpcInformation(TReply&) {}

void cvVirtualDrive::ReadDiscInformation(TReply& r) {
  if (r.Cdb[1] & 0x07) return r.Fail(5, 0x24, 0x00);  // only the standard disc information
  const TVRMediumInfo& info = Medium();
  const TVRDisc& disc = State.Disc;
  std::vector<std::uint8_t> reply(34, 0);
  Put16(reply, 0, 32);
  reply[3] = 1;
  reply[7] = 0x20;  // unrestricted use
  if (info.IsCD) {
    const bool readOnly = State.Medium == TVRMediumKind::CDROM;
    const bool complete = disc.Complete || readOnly;
    std::uint8_t status = 0, sessionState = 0;
    if (complete) {
      status = 2;
      sessionState = 3;
    } else if (!disc.Blank()) {
      status = 1;
      sessionState = VRTracksInCurrentSession(disc) > 0 ? 1 : 0;
    }
    reply[2] = static_cast<std::uint8_t>((info.Rewritable ? 0x10 : 0) | sessionState << 2 | status);
    const int tracks = static_cast<int>(disc.Tracks.size());
    int sessions, firstInLast, lastInLast;
    if (complete) {
      sessions = std::max(1, disc.ClosedSessions());
      firstInLast = 1;
      for (const auto& t : disc.Tracks)
        if (t.Session == sessions) {
          firstInLast = t.Number;
          break;
        }
      lastInLast = std::max(1, tracks);
    } else {
      sessions = disc.ClosedSessions() + 1;
      int before = 0;
      for (const auto& t : disc.Tracks)
        if (t.Session < sessions) ++before;
      firstInLast = before + 1;
      lastInLast = VROpenTrack(disc) ? tracks : std::min(tracks + 1, kVRMaxTracks);
    }
    reply[4] = static_cast<std::uint8_t>(sessions);
    reply[5] = static_cast<std::uint8_t>(firstInLast);
    reply[6] = static_cast<std::uint8_t>(lastInLast);
    reply[8] = 0x00;  // CD-DA or CD-ROM
    if (complete) {
      Put32(reply, 16, 0xFFFFFFFF);
      Put32(reply, 20, 0xFFFFFFFF);
    } else {
      std::int32_t leadIn = kVRLeadInStart;
      if (!disc.SessionLeadOuts.empty())
        leadIn = disc.SessionLeadOuts.back() + (disc.SessionLeadOuts.size() == 1 ? 6750 : 2250);
      PutMsf(reply, 17, leadIn);
      PutMsf(reply, 21, info.LeadOut);
    }
  } else {
    std::uint8_t byte2 = 0;
    switch (State.Medium) {
      case TVRMediumKind::DVDROM: byte2 = 0x0E; break;
      case TVRMediumKind::DVDR:
      case TVRMediumKind::DVDPlusR: byte2 = 0x00; break;
      case TVRMediumKind::DVDRAM: byte2 = 0x1F; break;
      case TVRMediumKind::DVDRWRestricted: byte2 = 0x1E; break;
      case TVRMediumKind::DVDRWSequential: byte2 = 0x10; break;
      case TVRMediumKind::DVDPlusRW: byte2 = disc.Formatted ? 0x1E : 0x10; break;
      default: break;
    }
    reply[2] = byte2;
    reply[4] = reply[5] = reply[6] = 1;
    if (State.Medium == TVRMediumKind::DVDPlusRW) {
      const bool running = VROperationRunning(State) && State.Operation.Kind == TVROperationKind::BackgroundFormat;
      reply[7] |= running ? 0x02 : (disc.Formatted ? 0x03 : 0x00);
    }
    Put32(reply, 20, static_cast<std::uint32_t>(info.LeadOut));
  }
  r.Send(reply, Be16(r.Cdb, 7));
}

void cvVirtualDrive::ReadTrackInformation(TReply& r) {
  const std::uint8_t type = r.Cdb[1] & 0x03;
  const std::uint32_t number = Be32(r.Cdb, 2);
  const TVRMediumInfo& info = Medium();
  const TVRDisc& disc = State.Disc;
  std::vector<std::uint8_t> reply(48, 0);
  Put16(reply, 0, 46);

  if (!info.IsCD) {
    if (type == 3 || (type == 1 && number != 1 && number != 0xFF) || (type == 2 && number != 1))
      return r.Fail(5, 0x24, 0x00);
    reply[2] = reply[3] = 1;
    const bool blank = State.Medium == TVRMediumKind::DVDR || State.Medium == TVRMediumKind::DVDPlusR;
    reply[6] = blank ? 0x40 : 0x00;
    Put32(reply, 24, static_cast<std::uint32_t>(info.LeadOut));
    if (blank) Put32(reply, 16, static_cast<std::uint32_t>(info.LeadOut));
    return r.Send(reply, Be16(r.Cdb, 7));
  }

  const std::int32_t leadOut = info.LeadOut;
  const std::optional<std::int32_t> nwa = VRNextWritable(disc, PauseLength());
  const TVRTrack* track = nullptr;
  bool invisible = false;
  const int count = static_cast<int>(disc.Tracks.size());
  const bool haveInvisible = !VROpenTrack(disc) && nwa.has_value();
  if (type == 1) {
    if (number == 0xFF) {
      if (VROpenTrack(disc)) track = VROpenTrack(disc);
      else if (haveInvisible) invisible = true;
    } else if (number >= 1 && number <= static_cast<std::uint32_t>(count)) {
      track = &disc.Tracks[number - 1];
    } else if (number == static_cast<std::uint32_t>(count) + 1 && haveInvisible) {
      invisible = true;
    }
  } else if (type == 0) {
    const auto lba = static_cast<std::int32_t>(number);
    for (const auto& t : disc.Tracks)
      if (lba >= t.Start - t.Pregap && lba < (t.Closed ? t.End() : leadOut)) track = &t;
    if (!track && haveInvisible && lba >= *nwa - VRNewTrackPregap(disc, PauseLength()) && lba < leadOut)
      invisible = true;
  } else if (type == 2) {
    for (const auto& t : disc.Tracks)
      if (static_cast<std::uint32_t>(t.Session) == number) {
        track = &t;
        break;
      }
    if (!track && haveInvisible && number == static_cast<std::uint32_t>(VRCurrentSession(disc))) invisible = true;
  }
  if (!track && !invisible) return r.Fail(5, 0x24, 0x00);

  if (invisible) {
    const std::int32_t start = *nwa;
    const std::int32_t free = std::max(0, leadOut - start);
    reply[2] = static_cast<std::uint8_t>(count + 1);
    reply[3] = static_cast<std::uint8_t>(VRCurrentSession(disc));
    reply[6] = 0x40 | 0x0F;  // blank, data mode unknown
    reply[7] = 0x01;         // NWA valid
    // In Session-At-Once mode a blank disc is written from -150 on (as
    // drives that report it do; the writers then write the layout).
    const bool sao = (State.Page05[2] & 0x0F) == 2 && disc.Blank();
    Put32(reply, 8, static_cast<std::uint32_t>(start));
    Put32(reply, 12, static_cast<std::uint32_t>(sao ? -150 : start));
    Put32(reply, 16, static_cast<std::uint32_t>(free));
    Put32(reply, 24, static_cast<std::uint32_t>(free));
  } else {
    reply[2] = static_cast<std::uint8_t>(track->Number);
    reply[3] = static_cast<std::uint8_t>(track->Session);
    reply[5] = static_cast<std::uint8_t>((track->Damaged ? 0x20 : 0x00) | track->Control);  // audio
    reply[6] = 0x01;
    Put32(reply, 8, static_cast<std::uint32_t>(track->Start));
    if (track->Closed) {
      Put32(reply, 24, static_cast<std::uint32_t>(track->Length));
    } else {
      if (!track->Damaged) {
        reply[7] |= 0x01;
        Put32(reply, 12, static_cast<std::uint32_t>(track->End()));
      }
      Put32(reply, 16, static_cast<std::uint32_t>(std::max(0, leadOut - track->End())));
      Put32(reply, 24, static_cast<std::uint32_t>(std::max(0, leadOut - track->Start)));
    }
    if (track->Length > 0) {
      reply[7] |= 0x02;
      Put32(reply, 28, static_cast<std::uint32_t>(track->End() - 1));
    }
  }
  r.Send(reply, Be16(r.Cdb, 7));
}

void cvVirtualDrive::ReadBufferCapacity(TReply& r) {
  const bool block = r.Cdb[1] & 0x01;
  std::vector<std::uint8_t> reply(12, 0);
  Put16(reply, 0, 10);
  const std::uint32_t capacity = Timing.CapacityBytes();
  const std::uint32_t free = capacity - Timing.FillBytes();
  if (block) {
    reply[3] = 0x01;
    Put32(reply, 8, free / kVRSectorBytes);
  } else {
    Put32(reply, 4, capacity);
    Put32(reply, 8, free);
  }
  r.Send(reply, Be16(r.Cdb, 7));
}

void cvVirtualDrive::SetCDSpeed(TReply& r) {
  State.ReadSpeedKBs = Be16(r.Cdb, 2);
  State.WriteSpeedKBs = Be16(r.Cdb, 4);
  ApplySpeed();
  Touch(false);
}

// --- writing -----------------------------------------------------------------

void cvVirtualDrive::Write10(TReply& r) {
  const auto lba = static_cast<std::int32_t>(Be32(r.Cdb, 2));
  const std::uint32_t count = Be16(r.Cdb, 7);
  TVRFaults& faults = State.Faults;
  ++State.Counters.Writes;
  Touch(false);
  // The drive drops off the bus after this many more WRITE commands.
  struct VanishCountdown {
    TVRFaults& Faults;
    ~VanishCountdown() {
      if (Faults.VanishAfterWrites && --*Faults.VanishAfterWrites <= 0) {
        Faults.VanishAfterWrites.reset();
        Faults.Vanished = true;
      }
    }
  } countdown{faults};

  if (faults.BusyWrites > 0) {
    --faults.BusyWrites;
    r.Status = kScsiBusy;
    return;
  }
  if (faults.NotReadyWrites > 0) {
    --faults.NotReadyWrites;
    return r.Fail(2, 0x04, 0x08);
  }
  const TVRMediumInfo& info = Medium();
  if (!info.AudioWritable) return r.Fail(5, 0x30, 0x05);
  if ((State.Page05[2] & 0x0F) == 2) return WriteSessionAtOnce(r, lba, count);
  if (SaoStarted()) return Refuse(r, {5, 0x2C, 0x00}, "a Session-At-Once session is half written; it cannot take Track-At-Once writes");
  if (State.Sao.Active()) {
    State.Sao = {};  // a cue sheet nothing was written for
    Sao.reset();
  }
  const auto& page = State.Page05;
  const bool audioTao = (page[2] & 0x0F) == 1 && (page[4] & 0x0F) == 0 &&
                        (page[3] & 0x0F) <= 1 && page[8] == 0x00;
  if (!audioTao) return r.Fail(5, 0x64, 0x00);
  if (count == 0) return;
  if (r.Data.size() != static_cast<std::size_t>(count) * kVRSectorBytes) return r.Fail(5, 0x24, 0x00);
  TVRDisc& disc = State.Disc;
  if (TVRTrack* open = VROpenTrack(disc); open && open->Damaged) return r.Fail(3, 0x0C, 0x09);
  const std::optional<std::int32_t> nwa = VRNextWritable(disc, PauseLength());
  if (!nwa || lba != *nwa) return r.Fail(5, 0x21, 0x02);
  if (static_cast<std::int64_t>(lba) + count > info.LeadOut) return r.Fail(5, 0x21, 0x00);
  if (faults.WriteErrorAt && *faults.WriteErrorAt >= lba && *faults.WriteErrorAt < std::int64_t{lba} + count) {
    ++State.Counters.WriteErrors;
    return r.Fail(3, 0x0C, 0x00);
  }

  const auto wait = Timing.WaitToFit(count);
  if (wait > cvVRTiming::Clock::duration::zero()) {
    std::this_thread::sleep_for(wait);
    (void)Timing.Advance(cvVRTiming::Clock::now());  // the data was waiting: no underrun
    if (!Timing.Primed()) {
      Timing.MarkPrimed();
      ++State.Counters.BufferPrimings;
    }
  }
  TVRTrack* track = VROpenTrack(disc);
  if (!track) {
    track = &VRBeginTrack(disc, lba, PauseLength());
    Touch(true);
  }
  if (!Simulating && !Image.Write(lba, r.Data)) {
    ++State.Counters.WriteErrors;
    return r.Fail(3, 0x0C, 0x00);
  }
  r.Transferred = static_cast<std::uint32_t>(r.Data.size());
  track->Length += static_cast<std::int32_t>(count);
  State.Counters.SectorsWritten += count;
  Timing.Add(count);
}

void cvVirtualDrive::CloseTrackAndCue(TReply& r, bool session) {
  DrainBuffer();
  if (!Simulating && !Image.Sync()) return r.Fail(3, 0x0C, 0x00);
  const bool appendable = (State.Page05[3] >> 6) == 3;
  const TVRCloseResult result = session ? VRCloseSession(State.Disc, appendable) : VRCloseTrack(State.Disc);
  switch (result) {
    case TVRCloseResult::NothingOpen: return;
    case TVRCloseResult::TooShort: return r.Fail(5, 0x72, 0x03);
    case TVRCloseResult::Empty: return r.Fail(5, 0x2C, 0x00);
    case TVRCloseResult::Closed: break;
  }
  Touch(true);
  if (!Simulating && !Image.WriteCue(State.Disc)) return r.Fail(3, 0x0C, 0x00);
  if (session) {
    ++State.Counters.SessionsClosed;
    VRStartOperation(State, TVROperationKind::CloseSession, kVRCloseSessionMs);
  }
}

void cvVirtualDrive::SynchronizeCache(TReply& r) {
  if (!Medium().AudioWritable) return;
  if (SaoStarted()) return CloseSessionAtOnce(r, r.Cdb[1] & 0x02);
  CloseTrackAndCue(r, false);
}

void cvVirtualDrive::CloseTrackSession(TReply& r) {
  const bool immed = r.Cdb[1] & 0x01;
  const std::uint8_t function = r.Cdb[2] & 0x07;
  const TVRMediumInfo& info = Medium();
  if (State.Medium == TVRMediumKind::CDROM || State.Medium == TVRMediumKind::DVDROM) return r.Fail(5, 0x30, 0x05);
  if (!info.IsCD) {
    if (function > 6) return r.Fail(5, 0x24, 0x00);
    if (function == 2 && State.Operation.Kind == TVROperationKind::BackgroundFormat) {
      State.Operation = {};  // stops the background format
      Touch(true);
    }
    return;
  }
  if (function != 1 && function != 2) return r.Fail(5, 0x24, 0x00);
  if (SaoStarted()) {
    // Session-At-Once needs no close; after the last block it closes as
    // SYNCHRONIZE CACHE does, before it the session is incomplete.
    if (!SaoWriter()->AllWritten(State.Sao)) return r.Fail(5, 0x72, 0x03);
    return CloseSessionAtOnce(r, immed);
  }
  if (function == 1) return CloseTrackAndCue(r, false);
  CloseTrackAndCue(r, true);
  if (!r.Failed() && !immed) WaitForOperation();
}

// --- erasing -----------------------------------------------------------------

void cvVirtualDrive::Blank(TReply& r) {
  const bool immed = r.Cdb[1] & 0x10;
  const std::uint8_t type = r.Cdb[1] & 0x07;
  if (type > 1) return r.Fail(5, 0x24, 0x00);
  const bool dvdrw =
      State.Medium == TVRMediumKind::DVDRWRestricted || State.Medium == TVRMediumKind::DVDRWSequential;
  if (!(Medium().IsCD && Medium().Rewritable) && !dvdrw) return r.Fail(5, 0x30, 0x05);
  if (State.Faults.BlankRefused) return r.Fail(5, 0x24, 0x00);
  Timing.Flush();
  if (State.Disc.Written) Image.Archive(Medium().Name);
  Image.Clear();
  State.Disc = {};
  if (dvdrw) State.Medium = TVRMediumKind::DVDRWSequential;
  ++State.Counters.Blanks;
  VRStartOperation(State, TVROperationKind::Blank, type == 0 ? kVRFullBlankMs : kVRMinimalBlankMs);
  Touch(true);
  if (!immed) WaitForOperation();
}

void cvVirtualDrive::FormatUnit(TReply& r) {
  const std::uint8_t b1 = r.Cdb[1];
  if (!(b1 & 0x10) || (b1 & 0x07) != 1) return r.Fail(5, 0x24, 0x00);  // FmtData, format code 001b
  if (r.Data.size() < 4) return r.Fail(5, 0x1A, 0x00);
  const std::span<const std::uint8_t> list = r.Data;
  const std::uint16_t descriptorLength = Be16(list, 2);
  if (descriptorLength != 8) return r.Fail(5, 0x26, 0x00);
  if (list.size() < 12) return r.Fail(5, 0x1A, 0x00);
  r.Transferred = 12;
  const bool immed = list[1] & 0x02;
  const std::uint32_t blocks = Be32(list, 4);
  const std::uint8_t formatType = list[8] >> 2;
  const std::uint32_t parameter = Be24(list, 9);
  const TVRMediumInfo& info = Medium();
  if (!info.Rewritable) return r.Fail(5, 0x30, 0x05);

  TVROperationKind kind = TVROperationKind::Format;
  std::int64_t duration = 0;
  switch (State.Medium) {
    case TVRMediumKind::DVDRWRestricted:
    case TVRMediumKind::DVDRWSequential:
      if (formatType != 0x15) return r.Fail(5, 0x26, 0x00);
      duration = kVRQuickFormatMs;
      break;
    case TVRMediumKind::DVDPlusRW:
      if (formatType != 0x26) return r.Fail(5, 0x26, 0x00);
      kind = TVROperationKind::BackgroundFormat;
      duration = kVRBackgroundFormatMs;
      break;
    case TVRMediumKind::DVDRAM:
      if (formatType != 0x00 || parameter != 2048 || blocks == 0 ||
          blocks > static_cast<std::uint32_t>(info.LeadOut))
        return r.Fail(5, 0x26, 0x00);
      duration = kVRRamFormatMs;
      break;
    default:
      return r.Fail(5, 0x26, 0x00);  // CD-RW: no formats for packet writing
  }
  if (State.Faults.BlankRefused) return r.Fail(5, 0x24, 0x00);
  if (State.Medium == TVRMediumKind::DVDRWSequential) State.Medium = TVRMediumKind::DVDRWRestricted;
  State.Disc = {};
  State.Disc.Formatted = true;
  ++State.Counters.Formats;
  VRStartOperation(State, kind, duration);
  Touch(true);
  if (!immed && kind == TVROperationKind::Format) WaitForOperation();
}

// --- reading -----------------------------------------------------------------

void cvVirtualDrive::ReadCD(TReply& r) {
  const std::uint8_t expected = (r.Cdb[1] >> 2) & 0x07;
  const auto lba = static_cast<std::int32_t>(Be32(r.Cdb, 2));
  const std::uint32_t count = Be24(r.Cdb, 6);
  const std::uint8_t fields = r.Cdb[9];
  if (r.Cdb[10] & 0x07) return r.Fail(5, 0x24, 0x00);  // no sub-channel data
  if (fields & 0x06) return r.Fail(5, 0x24, 0x00);     // no C2 error information
  if (!Medium().IsCD) return r.Fail(5, 0x30, 0x02);
  if (expected > 1) return r.Fail(5, 0x64, 0x00);  // audio tracks only
  if (count == 0) return;
  // Only recorded sectors can be read: the tracks and their pregaps.
  const std::int64_t end = std::int64_t{lba} + count;
  bool recorded = false;
  for (const auto& t : State.Disc.Tracks)
    if (lba >= t.Start - t.Pregap && end <= t.End()) recorded = true;
  if (!recorded) return r.Fail(5, 0x21, 0x00);
  if (!(fields & 0x10)) return;  // no user data asked for
  const std::size_t bytes = std::min<std::size_t>(static_cast<std::size_t>(count) * kVRSectorBytes, r.Data.size());
  if (!Image.Read(lba, r.Data.first(bytes))) return r.Fail(3, 0x11, 0x00);
  r.Transferred = static_cast<std::uint32_t>(bytes);
}

// --- Session-At-Once -------------------------------------------------------

void cvVirtualDrive::Refuse(TReply& r, TVRSense sense, std::string why) {
  State.LastRefusal = std::move(why);
  Touch(false);
  r.Fail(sense.Key, sense.Asc, sense.Ascq);
}

cvVRSaoWriter* cvVirtualDrive::SaoWriter() {
  if (!State.Sao.Active()) {
    Sao.reset();
    return nullptr;
  }
  if (!Sao) Sao = cvVRSaoWriter::Resume(State.Sao, kVRLeadInStart);
  if (!Sao) {
    State.Sao = {};  // a kept sheet that no longer parses
    Touch(true);
    return nullptr;
  }
  return &*Sao;
}

bool cvVirtualDrive::SaoStarted() {
  cvVRSaoWriter* writer = SaoWriter();
  return writer && writer->Started(State.Sao);
}

// SEND CUE SHEET (5Dh): the layout of a Session-At-Once session, checked
// before a block is written.
void cvVirtualDrive::SendCueSheet(TReply& r) {
  const std::uint32_t size = Be24(r.Cdb, 6);
  const TVRMediumInfo& info = Medium();
  if (!info.AudioWritable) return r.Fail(5, 0x30, 0x05);
  if ((State.Page05[2] & 0x0F) != 2)
    return Refuse(r, {5, 0x2C, 0x00}, "SEND CUE SHEET needs Write Type 2 (Session-At-Once) in page 05h");
  if (SaoStarted()) return Refuse(r, {5, 0x2C, 0x00}, "a Session-At-Once session is being written");
  if (!State.Disc.Blank()) return Refuse(r, {5, 0x2C, 0x00}, "Session-At-Once writes a blank disc only");
  if (size == 0 || size % 8 != 0 || size > r.Data.size() || size > kVRMaxCueSheetBytes)
    return Refuse(r, {5, 0x1A, 0x00},
                  "a cue sheet of " + std::to_string(size) + " bytes (" + std::to_string(r.Data.size()) +
                      " sent): whole 8-byte entries up to " + std::to_string(kVRMaxCueSheetBytes) + " bytes");
  r.Transferred = size;
  const std::span<const std::uint8_t> sheet = r.Data.first(size);
  TVRCueRules rules;
  rules.LeadInStart = kVRLeadInStart;
  rules.LastLeadOut = info.LeadOut;
  rules.CdTextWritable = !State.Faults.CdTextUnsupported;
  rules.Refuse = State.Faults.CueRefuse;
  TVRCueLayout layout;
  if (auto error = VRReadCueSheet(sheet, rules, layout)) return Refuse(r, {5, 0x26, 0x00}, "cue sheet: " + *error);
  State.Sao = {};
  State.Sao.CueSheet.assign(sheet.begin(), sheet.end());
  State.Sao.Next = layout.FirstWrite(kVRLeadInStart);
  State.LastRefusal.clear();
  Sao.reset();
  Touch(true);
}

// WRITE(10) with Write Type 2: the next blocks of the cue sheet's layout.
void cvVirtualDrive::WriteSessionAtOnce(TReply& r, std::int32_t lba, std::uint32_t count) {
  cvVRSaoWriter* writer = SaoWriter();
  if (!writer) return Refuse(r, {5, 0x2C, 0x00}, "WRITE in Session-At-Once mode before a cue sheet was accepted");
  const TVRFaults& faults = State.Faults;
  if (faults.WriteErrorAt && *faults.WriteErrorAt >= lba && *faults.WriteErrorAt < std::int64_t{lba} + count) {
    ++State.Counters.WriteErrors;
    return r.Fail(3, 0x0C, 0x00);
  }
  const bool first = !writer->Started(State.Sao);
  const TVRSaoSession before = State.Sao;
  if (auto refusal = writer->Write(State.Sao, lba, count, r.Data))
    return Refuse(r, {refusal->Key, refusal->Asc, refusal->Ascq}, refusal->Why);
  if (count == 0) return;
  const auto wait = Timing.WaitToFit(count);
  if (wait > cvVRTiming::Clock::duration::zero()) {
    std::this_thread::sleep_for(wait);
    (void)Timing.Advance(cvVRTiming::Clock::now());  // the data was waiting: no underrun
  }
  // disc.bin holds LBA 0 on; the lead-in and the first pause are not in it.
  // A test write (page 05h byte 2 bit 4) checks and paces every block but
  // puts nothing on the disc.
  const bool testWrite = State.Page05[2] & 0x10;
  const std::int64_t skip = testWrite ? count : std::max<std::int64_t>(0, -std::int64_t{lba});
  if (skip < count && !Image.Write(lba + static_cast<std::int32_t>(skip), r.Data.subspan(static_cast<std::size_t>(skip) * kVRSectorBytes))) {
    ++State.Counters.WriteErrors;
    State.Sao = before;  // nothing of this WRITE counts
    Sao.reset();
    return r.Fail(3, 0x0C, 0x00);
  }
  State.Disc.Written = State.Disc.Written || skip < count;
  r.Transferred = static_cast<std::uint32_t>(r.Data.size());
  State.Counters.SectorsWritten += count;
  Timing.Add(count);
  Touch(first);
}

// The SYNCHRONIZE CACHE (or CLOSE) after the last block of the layout closes
// the session; an earlier one only flushes the buffer.
void cvVirtualDrive::CloseSessionAtOnce(TReply& r, bool immed) {
  DrainBuffer();
  if (!Image.Sync()) return r.Fail(3, 0x0C, 0x00);
  cvVRSaoWriter* writer = SaoWriter();
  if (!writer->AllWritten(State.Sao)) return;
  if (State.Page05[2] & 0x10) {
    // The end of a test write: the disc stays blank.
    State.Sao = {};
    Sao.reset();
    Touch(true);
    return;
  }
  const bool appendable = (State.Page05[3] >> 6) == 3;
  writer->Close(State.Sao, State.Disc, appendable);
  State.Sao = {};
  Sao.reset();
  Touch(true);
  if (!Image.WriteCue(State.Disc)) return r.Fail(3, 0x0C, 0x00);
  ++State.Counters.SessionsClosed;
  VRStartOperation(State, TVROperationKind::CloseSession, kVRCloseSessionMs);
  if (!immed) WaitForOperation();
}

// READ SUB-CHANNEL (42h): the catalog number (format 02h) and a track's
// ISRC (03h) as the disc holds them; the current position (01h) of a drive
// that is not playing.
void cvVirtualDrive::ReadSubChannel(TReply& r) {
  const bool subQ = r.Cdb[2] & 0x40;
  const std::uint8_t format = r.Cdb[3];
  const std::uint8_t number = r.Cdb[6];
  const std::uint32_t allocation = Be16(r.Cdb, 7);
  if (!Medium().IsCD) return r.Fail(5, 0x30, 0x02);
  if (format < 1 || format > 3) return r.Fail(5, 0x24, 0x00);
  std::vector<std::uint8_t> reply(4, 0);
  reply[1] = 0x15;  // no current audio status
  if (!subQ) return r.Send(reply, allocation);
  const TVRDisc& disc = State.Disc;
  reply.resize(format == 1 ? 16 : 24, 0);
  Put16(reply, 2, static_cast<std::uint32_t>(reply.size() - 4));
  reply[4] = format;
  if (format == 2 && !disc.Mcn.empty()) {
    reply[8] = 0x80;  // MCVAL
    std::memcpy(&reply[9], disc.Mcn.data(), std::min<std::size_t>(13, disc.Mcn.size()));
  } else if (format == 3) {
    const TVRTrack* track = nullptr;
    for (const auto& t : disc.Tracks)
      if (t.Closed && t.Number == number) track = &t;
    if (!track) return r.Fail(5, 0x24, 0x00);
    reply[5] = static_cast<std::uint8_t>(0x30 | track->Control);
    reply[6] = number;
    if (!track->Isrc.empty()) {
      reply[8] = 0x80;  // TCVAL
      std::memcpy(&reply[9], track->Isrc.data(), std::min<std::size_t>(12, track->Isrc.size()));
    }
  } else if (format == 1) {
    reply[5] = 0x10;
  }
  r.Send(reply, allocation);
}

}  // namespace cv
