// The device object: shared routines, the record, discovery and the one
// road every command travels (ExecuteCommand). The MMC commands built on it
// are in cvMMCCommands.cpp.
#include "device/cvSCSILib.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "device/cvASPI.h"
#include "device/cvSense.h"

namespace cv {

// ---------------------------------------------------------------------------
// Shared routines

std::uint16_t Swap16(std::uint32_t Value) {
  return static_cast<std::uint16_t>(((Value & 0xFFu) << 8) | ((Value >> 8) & 0xFFu));
}

std::uint32_t Swap32(std::uint32_t Value) {
  return ((Value & 0xFFu) << 24) | ((Value & 0xFF00u) << 8) | ((Value >> 8) & 0xFF00u) | (Value >> 24);
}

void StoreSwap16(const void* Src, void* Dst) {
  const auto* s = static_cast<const std::uint8_t*>(Src);
  std::uint8_t t[2] = {s[1], s[0]};
  std::memcpy(Dst, t, 2);
}

void StoreSwap32(const void* Src, void* Dst) {
  const auto* s = static_cast<const std::uint8_t*>(Src);
  std::uint8_t t[4] = {s[3], s[2], s[1], s[0]};
  std::memcpy(Dst, t, 4);
}

bool TestBit(std::uint32_t Value, int Bit) {
  if (Bit < 0 || Bit > 31) return false;
  return ((Value >> Bit) & 1u) != 0;
}

std::int32_t BytesToSectors(std::int64_t Bytes) {
  if (Bytes <= 0) return 0;
  std::int64_t sectors = Bytes / 2352 + (Bytes % 2352 != 0 ? 1 : 0);
  return sectors > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(sectors);
}

void SectorsToMSF(std::uint32_t Sectors, std::uint8_t& M, std::uint8_t& S, std::uint8_t& F) {
  F = static_cast<std::uint8_t>(Sectors % 75);
  S = static_cast<std::uint8_t>((Sectors / 75) % 60);
  M = static_cast<std::uint8_t>(Sectors / 4500);
}

std::string SectorsToMSFText(std::uint32_t Sectors) {
  std::uint8_t m = 0, s = 0, f = 0;
  SectorsToMSF(Sectors, m, s, f);
  char text[16];
  std::snprintf(text, sizeof text, "%2.2d:%2.2d:%2.2d", m, s, f);
  return text;
}

std::uint16_t ReadBE16(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 2) return 0;
  return static_cast<std::uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

std::uint32_t ReadBE32(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < 4) return 0;
  return (std::uint32_t{bytes[offset]} << 24) | (std::uint32_t{bytes[offset + 1]} << 16) |
         (std::uint32_t{bytes[offset + 2]} << 8) | std::uint32_t{bytes[offset + 3]};
}

const char* TransportName(TTransportKind kind) {
  switch (kind) {
    case TTransportKind::PassThrough: return "pass-through";
    case TTransportKind::Generic: return "generic";
    case TTransportKind::Virtual: return "virtual";
  }
  return "unknown";
}

// ---------------------------------------------------------------------------
// Completion event

struct cvCompletionEvent::TState {
  std::mutex Mutex;
  std::condition_variable Cond;
  bool Signalled = false;
};

std::shared_ptr<cvCompletionEvent::TState> cvCompletionEvent::MakeState() { return std::make_shared<TState>(); }

void cvCompletionEvent::Set() {
  {
    std::lock_guard lock(State_->Mutex);
    State_->Signalled = true;
  }
  State_->Cond.notify_all();
}

void cvCompletionEvent::Reset() {
  std::lock_guard lock(State_->Mutex);
  State_->Signalled = false;
}

bool cvCompletionEvent::Wait(std::uint32_t timeoutMs) {
  std::unique_lock lock(State_->Mutex);
  return State_->Cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return State_->Signalled; });
}

// ---------------------------------------------------------------------------
// Requests and outcomes

TPassThroughRecord MakePassThroughRecord(const TExecRequest& Request) {
  TPassThroughRecord record;
  record.Length = 44;
  record.PathId = record.TargetId = record.Lun = 0;
  record.CdbLength = Request.CdbLength;
  record.SenseInfoLength = Request.SenseLength;
  if (Request.Flags & SRB_DIR_IN)
    record.DataIn = 1;
  else if (Request.Flags & SRB_DIR_OUT)
    record.DataIn = 0;
  else
    record.DataIn = 2;
  record.DataTransferLength = Request.DataLength;
  record.TimeOutValue = 12000;
  record.DataBuffer = Request.Data;
  record.SenseInfoOffset = 48;
  std::memcpy(record.Cdb, Request.Cdb, sizeof record.Cdb);
  return record;
}

TScsiCommand PrepareCommand(TExecRequest& Request) {
  TScsiCommand command;
  std::size_t cdbLength = std::min<std::size_t>(Request.CdbLength, sizeof Request.Cdb);
  command.Cdb = std::span<const std::uint8_t>(Request.Cdb, cdbLength);
  if (Request.Flags & SRB_DIR_IN)
    command.Direction = TDataDirection::FromDevice;
  else if (Request.Flags & SRB_DIR_OUT)
    command.Direction = TDataDirection::ToDevice;
  else
    command.Direction = TDataDirection::None;
  if (command.Direction != TDataDirection::None && Request.Data != nullptr && Request.DataLength > 0)
    command.Data = std::span<std::uint8_t>(Request.Data, Request.DataLength);
  else
    command.Direction = TDataDirection::None;
  // A reply shorter than asked for must not leave bytes of an earlier reply
  // behind in the buffer.
  if (command.Direction == TDataDirection::FromDevice) std::fill(command.Data.begin(), command.Data.end(), 0);
  command.TimeoutMs = Request.TimeoutMs != 0 ? Request.TimeoutMs : kCommandTimeoutMs;
  return command;
}

void CompleteRequest(TExecRequest& Request, const TScsiOutcome& Outcome) {
  if (Outcome.Good()) {
    Request.Status = SS_COMP;
    Request.HaStatus = 0;
    Request.TargetStatus = 0;
    return;
  }
  Request.Status = SS_ERR;
  Request.HaStatus = Outcome.HostStatus;
  Request.TargetStatus = Outcome.Delivered ? Outcome.ScsiStatus : 0;
  std::memset(Request.SenseArea, 0, sizeof Request.SenseArea);
  if (Outcome.Delivered) {
    std::size_t n = std::min<std::size_t>({Outcome.SenseLength, 24, Outcome.Sense.size()});
    std::memcpy(Request.SenseArea, Outcome.Sense.data(), n);
  }
}

// ---------------------------------------------------------------------------
// The record

// The pass-through leg: SG_IO on the selected node, opened on first use and
// closed after each command when CloseAfterCommand says so. It keeps the
// descriptor in the device record (Handle), where discovery puts it too.
class TSCSIDevice::TPassThroughLeg final : public cvTransport {
 public:
  explicit TPassThroughLeg(TSCSIDevice& device) : Device_(device) {}

  TScsiOutcome Execute(const TScsiCommand& command) override {
    TScsiOutcome outcome;
    if (Device_.Handle == kInvalidHandle && !Device_.OpenCurrent()) {
      int openError = Device_.CurrentPath.empty() ? ENODEV : Device_.OS_->LastError();
      outcome.OSError = openError != 0 ? openError : EBADF;
      if (!Device_.CurrentPath.empty()) Device_.DriveProblem = Device_.DescribeOpenFailure(Device_.CurrentPath, openError);
    } else {
      outcome = Device_.OS_->SgIo(Device_.Handle, command);
    }
    if (Device_.CloseAfterCommand) Device_.CloseHandle();
    return outcome;
  }

 private:
  TSCSIDevice& Device_;
};

TSCSIDevice::TSCSIDevice() : TSCSIDevice(CreateLinuxOSLayer()) {}

TSCSIDevice::TSCSIDevice(std::unique_ptr<cvOSLayer> os) : TSCSIDevice(std::move(os), TransportSources()) {}

TSCSIDevice::TSCSIDevice(std::unique_ptr<cvOSLayer> os, std::vector<TTransportSource> sources)
    : OS_(std::move(os)), Sources_(std::move(sources)), PassThrough_(std::make_unique<TPassThroughLeg>(*this)) {}

TSCSIDevice::~TSCSIDevice() { CloseHandle(); }

std::string OpenFailureText(const std::string& path, int error, int holderPid, const std::string& group) {
  switch (error) {
    case EACCES:
    case EPERM:
      return path + ": permission denied (add your user to the group " +
             (group.empty() ? std::string("that owns it, usually 'cdrom'") : "'" + group + "' that owns it") + ")";
    case EBUSY:
      return path + ": drive in use by another program" +
             (holderPid > 0 ? " (pid " + std::to_string(holderPid) + ")" : std::string());
    default:
      return path + ": " + std::strerror(error != 0 ? error : EIO);
  }
}

std::string TSCSIDevice::DescribeOpenFailure(const std::string& path, int error) {
  const int holder = error == EBUSY ? OS_->HolderOf(path) : 0;
  const std::string group = error == EACCES || error == EPERM ? OS_->GroupOf(path) : std::string();
  return OpenFailureText(path, error, holder, group);
}

void TSCSIDevice::SetExclusive(bool on) {
  if (Exclusive == on) return;
  CloseHandle();
  Exclusive = on;
}

void TSCSIDevice::CloseHandle() {
  if (Handle != kInvalidHandle) {
    // After close() the descriptor is gone whatever it answers; closing it
    // again could hit a descriptor opened meanwhile by someone else.
    OS_->Close(Handle);
    Handle = kInvalidHandle;
  }
}

void TSCSIDevice::ResetRecord() {
  CloseHandle();
  ASPI_.reset();
  Recorder_.reset();
  Selected_ = false;
  static_cast<TSCSIDeviceRecord&>(*this) = TSCSIDeviceRecord{};
  Buffer.fill(0);
  LastSenseCode = 0;
  LastSenseKey = 0;
  EraseStatus = 0;
}

std::uint16_t TSCSIDevice::GetDeviceCount() const { return DeviceCount; }

const char* TSCSIDevice::GetDeviceName(std::uint8_t Index) const {
  if (Index >= DeviceCount || Index >= Devices.size()) return nullptr;
  return Devices[Index].Text;
}

const TDeviceEntry* TSCSIDevice::SelectedEntry() const {
  if (!Selected_ || SelectedIndex >= DeviceCount) return nullptr;
  return &Devices[SelectedIndex];
}

const cvASPILayer* TSCSIDevice::ASPILayer() const { return ASPI_.get(); }

// ---------------------------------------------------------------------------
// Discovery

namespace {

void CopyField(char* dst, std::size_t width, const std::uint8_t* src) {
  for (std::size_t i = 0; i < width; ++i) dst[i] = static_cast<char>(src[i]);
  dst[width] = '\0';
}

void BlankField(char* dst, std::size_t width) {
  std::memset(dst, ' ', width);
  dst[width] = '\0';
}

void CopyPath(char (&dst)[64], const std::string& path) {
  std::size_t n = std::min(path.size(), sizeof dst - 1);
  std::memcpy(dst, path.data(), n);
  dst[n] = '\0';
}

// Takes the identity of an INQUIRY reply (bytes below 20h become blanks),
// or blanks when the reply is not that of a CD/DVD unit.
void TakeIdentity(TDeviceEntry& entry, std::span<std::uint8_t> reply, bool answered) {
  if (answered && reply.size() >= 48 && reply[0] == 5) {
    for (std::size_t i = 8; i < 48; ++i)
      if (reply[i] < 0x20) reply[i] = ' ';
    CopyField(entry.Vendor, 8, &reply[8]);
    CopyField(entry.Product, 16, &reply[16]);
    CopyField(entry.Revision, 4, &reply[32]);
  } else {
    BlankField(entry.Vendor, 8);
    BlankField(entry.Product, 16);
    BlankField(entry.Revision, 4);
  }
}

// The list text, always formatted whole from the entry's current address.
void FormatText(TDeviceEntry& entry, const std::string& shownPath) {
  char text[sizeof entry.Text];
  std::snprintf(text, sizeof text, "%d:%d:%d,%s: %s %s %s ", entry.HaId, entry.Target, entry.Lun, shownPath.c_str(),
                entry.Vendor, entry.Product, entry.Revision);
  std::memcpy(entry.Text, text, sizeof text);
}

void FillInquiry(TExecRequest& request, std::uint8_t* buffer) {
  request = TExecRequest{};
  request.Command = SC_EXEC_SCSI_CMD;
  request.Flags = kFlagsDataIn;
  request.DataLength = 64;
  request.Data = buffer;
  request.CdbLength = 6;
  request.Cdb[0] = 0x12;
  request.Cdb[4] = 0x40;
  request.SenseLength = 24;
  request.TimeoutMs = kProbeTimeoutMs;
}

constexpr std::size_t kMaxOpticalNodes = 24;  // /dev/sr0 .. /dev/sr23

}  // namespace

bool TSCSIDevice::FindDevices() {
  ResetRecord();
  DeviceCount = 0;
  bool result = ScanPassThrough();
  if (!result) result = ScanGeneric();
  AddTransportSources();
  if (!result && DeviceCount > 0) {
    // Only the virtual recorder: a usable transport all the same.
    Ready = true;
    result = true;
  }
  return result;
}

bool TSCSIDevice::ScanPassThrough() {
  std::vector<std::string> nodes = OS_->ListOpticalNodes();
  if (nodes.size() > kMaxOpticalNodes) nodes.resize(kMaxOpticalNodes);

  std::size_t back = Devices.size();  // entries back..25 are drives without an address
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (DeviceCount >= back) break;  // list full
    const std::string& path = nodes[i];
    TOSHandle fd = OS_->Open(path, true);
    if (fd == kInvalidHandle) fd = OS_->Open(path, false);
    if (fd == kInvalidHandle) {
      const int error = OS_->LastError();
      Unopened.push_back({path, error, DescribeOpenFailure(path, error)});
      continue;
    }

    TScsiAddress address;
    bool addressed = OS_->GetAddress(fd, address);
    TDeviceEntry* entry = nullptr;
    if (addressed) {
      entry = &Devices[DeviceCount++];
      entry->HaId = address.PortNumber;
      entry->Target = address.TargetId;
      entry->Lun = address.Lun;
    } else {
      entry = &Devices[--back];
      entry->HaId = entry->Target = entry->Lun = 0;
    }
    entry->Letter = static_cast<char>('C' + i);
    CopyPath(entry->Path, path);
    entry->Transport = TTransportKind::PassThrough;

    CurrentLetter = entry->Letter;
    CurrentPath = path;
    Handle = fd;

    TExecRequest request;
    FillInquiry(request, Buffer.data());
    bool answered = ExecutePassThrough(request) == SS_COMP;
    TakeIdentity(*entry, std::span(Buffer).first(64), answered);
    FormatText(*entry, entry->Path);

    CloseHandle();
  }

  std::size_t addressLess = Devices.size() - back;
  if (DeviceCount == 0 && addressLess == 0) return false;

  Ready = true;
  UseSPTI = true;
  // Drives without an address go behind the others, numbered on from the
  // highest adapter, in the order their nodes were probed.
  int next = 1;
  if (DeviceCount > 0) {
    int highest = 0;
    for (std::size_t i = 0; i < DeviceCount; ++i) highest = std::max<int>(highest, Devices[i].HaId);
    next = highest + 1;
  }
  for (std::size_t k = Devices.size(); k-- > back;) {
    TDeviceEntry entry = Devices[k];
    Devices[k] = TDeviceEntry{};
    entry.HaId = static_cast<std::uint8_t>(std::min(next, 255));
    ++next;
    FormatText(entry, entry.Path);
    Devices[DeviceCount++] = entry;
  }
  CurrentLetter = 0;
  CurrentPath.clear();
  return true;
}

bool TSCSIDevice::ScanGeneric() {
  ASPI_ = std::make_unique<cvASPILayer>(*OS_);
  if (!ASPI_->Load()) {
    ASPI_.reset();
    return false;
  }
  if (ASPI_->GetASPI32SupportInfo() == 0) {
    ASPI_.reset();
    return false;
  }
  Ready = true;

  SRB_HAInquiry inquiry;
  inquiry.SRB_HaId = 0;
  ASPI_->SendASPI32Command(inquiry);
  int adapters = inquiry.HA_Count == 0 ? 7 : inquiry.HA_Count;

  for (int ha = 0; ha < adapters; ++ha) {
    for (int target = 0; target <= 7; ++target) {
      for (int lun = 0; lun <= 6; ++lun) {
        if (DeviceCount >= Devices.size()) return true;  // list full
        cvCompletionEvent event;
        TExecRequest request;
        FillInquiry(request, Buffer.data());
        request.HaId = static_cast<std::uint8_t>(ha);
        request.Target = static_cast<std::uint8_t>(target);
        request.Lun = static_cast<std::uint8_t>(lun);
        request.Event = &event;
        std::uint8_t r = ASPI_->SendASPI32Command(request);
        if (r == SS_PENDING && !event.Wait(kProbeTimeoutMs)) continue;
        if (request.Status != SS_COMP || Buffer[0] != 5) continue;

        TDeviceEntry& entry = Devices[DeviceCount];
        entry = TDeviceEntry{};
        entry.HaId = request.HaId;
        entry.Target = request.Target;
        entry.Lun = request.Lun;
        entry.Transport = TTransportKind::Generic;
        CopyPath(entry.Path, ASPI_->NodePath(entry.HaId, entry.Target, entry.Lun));
        TakeIdentity(entry, std::span(Buffer).first(64), true);

        std::string shown = "?";
        entry.Letter = '?';
        std::vector<std::string> nodes = OS_->ListOpticalNodes();
        std::string node = FindDriveLetter();
        if (!node.empty()) {
          shown = node;
          auto it = std::find(nodes.begin(), nodes.end(), node);
          entry.Letter = static_cast<char>('C' + (it - nodes.begin()));
        }
        SRB_GetDiskInfo disk;
        disk.SRB_HaId = entry.HaId;
        disk.SRB_Target = entry.Target;
        disk.SRB_Lun = entry.Lun;
        if (ASPI_->SendASPI32Command(disk) == SS_COMP) {
          entry.Letter = static_cast<char>('A' + disk.SRB_Int13HDriveInfo);
          shown = std::string(1, entry.Letter);
        }
        FormatText(entry, shown);
        ++DeviceCount;
      }
    }
  }
  return true;
}

std::string TSCSIDevice::FindDriveLetter() {
  if (DeviceCount >= Devices.size()) return {};
  const TDeviceEntry& wanted = Devices[DeviceCount];
  std::vector<std::string> nodes = OS_->ListOpticalNodes();
  if (nodes.size() > kMaxOpticalNodes) nodes.resize(kMaxOpticalNodes);
  for (const std::string& path : nodes) {
    TOSHandle fd = OS_->Open(path, true);
    if (fd == kInvalidHandle) fd = OS_->Open(path, false);
    if (fd == kInvalidHandle) continue;
    TScsiAddress address;
    bool match = OS_->GetAddress(fd, address) && address.PortNumber == wanted.HaId &&
                 address.TargetId == wanted.Target && address.Lun == wanted.Lun;
    OS_->Close(fd);
    if (match) return path;
  }
  return {};
}

void TSCSIDevice::AddTransportSources() {
  // The first source that opens is listed (the device object keeps one).
  for (const TTransportSource& source : Sources_) {
    if (DeviceCount >= Devices.size()) return;
    if (!source.Open) continue;
    Recorder_ = source.Open();
    if (!Recorder_) continue;

    int highest = -1;
    for (std::size_t i = 0; i < DeviceCount; ++i) highest = std::max<int>(highest, Devices[i].HaId);

    TDeviceEntry& entry = Devices[DeviceCount];
    entry = TDeviceEntry{};
    entry.Letter = '?';
    entry.HaId = static_cast<std::uint8_t>(std::min(highest + 1, 255));
    entry.Target = 0;
    entry.Lun = 0;
    entry.Transport = TTransportKind::Virtual;
    CopyPath(entry.Path, source.Path);

    TExecRequest request;
    FillInquiry(request, Buffer.data());
    const TScsiOutcome outcome = RunRequest(*Recorder_, request);
    TakeIdentity(entry, std::span(Buffer).first(64), request.Status == SS_COMP);
    if (request.Status != SS_COMP) {
      std::string why = Recorder_->Unavailable();
      if (why.empty())
        why = outcome.Delivered ? "no answer to INQUIRY" : std::string("not reachable: ") + std::strerror(outcome.OSError);
      std::snprintf(entry.Error, sizeof entry.Error, "%s", why.c_str());
    }
    FormatText(entry, entry.Path);
    ++DeviceCount;
    return;
  }
}

// ---------------------------------------------------------------------------
// Sending commands

TScsiOutcome RunRequest(cvTransport& Transport, TExecRequest& Request) {
  TScsiCommand command = PrepareCommand(Request);
  TScsiOutcome outcome = Transport.Execute(command);
  CompleteRequest(Request, outcome);
  return outcome;
}

std::uint8_t TSCSIDevice::ExecuteCommand(TExecRequest& Request) {
  if (!Ready) {
    Request.Status = SS_ERR;
    return SS_ERR;
  }
  Request.HaId = HaId;
  Request.Target = Target;
  Request.Lun = Lun;
  Request.SenseLength = 24;
  Request.Command = SC_EXEC_SCSI_CMD;

  DriveProblem.clear();
  if (cvTransport* transport = SelectedTransport(Request)) {
    TScsiOutcome outcome = RunRequest(*transport, Request);
    LastOSError = static_cast<std::uint32_t>(outcome.OSError);
    if (transport == Recorder_.get() && (!outcome.Delivered || outcome.ScsiStatus == kScsiBusy))
      DriveProblem = Recorder_->Unavailable();
  } else if (CurrentTransport == TTransportKind::Virtual) {
    DriveProblem = "the virtual recorder is no longer there (switched off or its directory is gone)";
  }

  Busy = Request.Status != SS_COMP && Request.TargetStatus == kScsiBusy;
  std::memcpy(Sense.data(), Request.SenseArea, Sense.size());
  // Either sense format; see cvSense.h.
  if (const TSense sense = DecodeSense(Sense); sense.Asc != 0) {
    LastSenseCode = sense.Code();
    LastSenseKey = sense.Key;
  }
  return Request.Status;
}

cvTransport* TSCSIDevice::SelectedTransport(TExecRequest& Request) {
  bool generic = CurrentTransport == TTransportKind::Generic ||
                 (CurrentTransport == TTransportKind::PassThrough && !UseSPTI);
  if (CurrentTransport == TTransportKind::Virtual) {
    if (Recorder_) return Recorder_.get();
    // The recorder went away with a new discovery that did not find it.
    Request.Status = SS_ERR;
    Request.HaStatus = Request.TargetStatus = 0;
    std::memset(Request.SenseArea, 0, sizeof Request.SenseArea);
    LastOSError = ENODEV;
    return nullptr;
  }
  if (generic) {
    cvTransport* node = ASPI_ ? ASPI_->NodeTransport(Request.HaId, Request.Target, Request.Lun) : nullptr;
    if (node == nullptr) Request.Status = ASPI_ ? SS_NO_DEVICE : SS_INVALID_HA;
    return node;
  }
  return PassThrough_.get();
}

bool TSCSIDevice::OpenCurrent() {
  if (CurrentPath.empty()) return false;
  if (Exclusive) {
    // This process alone, read-write, or not at all.
    Handle = OS_->OpenExclusive(CurrentPath);
    return Handle != kInvalidHandle;
  }
  Handle = OS_->Open(CurrentPath, true);
  if (Handle == kInvalidHandle) Handle = OS_->Open(CurrentPath, false);
  return Handle != kInvalidHandle;
}

std::uint8_t TSCSIDevice::ExecutePassThrough(TExecRequest& Request) {
  TScsiOutcome outcome = RunRequest(*PassThrough_, Request);
  LastOSError = static_cast<std::uint32_t>(outcome.OSError);
  return Request.Status;
}

double TSCSIDevice::DrivePace() const {
  if (CurrentTransport != TTransportKind::Virtual || !Recorder_) return 1.0;
  const double pace = Recorder_->Pace();
  return pace >= 0 && pace <= 1 ? pace : 1.0;
}

}  // namespace cv
