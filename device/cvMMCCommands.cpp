// The MMC command layer of TSCSIDevice (declared in cvSCSILib.h): one thin
// builder per command over ExecuteCommand, the drive selection, the
// capabilities page, medium identification and the write parameters page.
//
// Opcodes and their properties are in one table; every CDB field is written
// big-endian through the helpers below, and every reply is read through
// bounds-checked helpers over the bytes that were asked for.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "device/cvASPI.h"
#include "device/cvSCSILib.h"
#include "device/cvWritePage.h"

namespace cv {
namespace {

enum TOp : std::uint8_t {
  opTestUnitReady,
  opRezeroUnit,
  opFormatUnit,
  opInquiry,
  opStartStopUnit,
  opPreventAllow,
  opWrite10,
  opSynchronizeCache,
  opReadTOC,
  opGetConfiguration,
  opReadDiscInformation,
  opReadTrackInformation,
  opModeSelect10,
  opModeSense10,
  opCloseTrackSession,
  opReadBufferCapacity,
  opSendCueSheet,
  opBlank,
  opSetCDSpeed,
};

struct TOpInfo {
  std::uint8_t Opcode;
  const char* Name;  // SPC/MMC command name
  std::uint8_t CdbLength;
  std::uint8_t Flags;     // kFlagsNoData, kFlagsDataIn or kFlagsDataOut
  bool PendingIsSuccess;  // status 0 counts as done
};

constexpr TOpInfo kOps[] = {
    {0x00, "TEST UNIT READY", 6, kFlagsNoData, false},
    {0x01, "REZERO UNIT", 6, kFlagsNoData, false},
    {0x04, "FORMAT UNIT", 6, kFlagsDataOut, false},
    {0x12, "INQUIRY", 6, kFlagsDataIn, false},
    {0x1B, "START STOP UNIT", 6, kFlagsNoData, false},
    {0x1E, "PREVENT ALLOW MEDIUM REMOVAL", 6, kFlagsNoData, false},
    {0x2A, "WRITE(10)", 10, kFlagsDataOut, false},
    {0x35, "SYNCHRONIZE CACHE", 10, kFlagsNoData, true},
    {0x43, "READ TOC/PMA/ATIP", 10, kFlagsDataIn, false},
    {0x46, "GET CONFIGURATION", 10, kFlagsDataIn, false},
    {0x51, "READ DISC INFORMATION", 10, kFlagsDataIn, false},
    {0x52, "READ TRACK INFORMATION", 10, kFlagsDataIn, false},
    {0x55, "MODE SELECT(10)", 10, kFlagsDataOut, true},
    {0x5A, "MODE SENSE(10)", 10, kFlagsDataIn, true},
    {0x5B, "CLOSE TRACK/SESSION", 10, kFlagsNoData, false},
    {0x5C, "READ BUFFER CAPACITY", 10, kFlagsDataIn, false},
    {0x5D, "SEND CUE SHEET", 10, kFlagsDataOut, false},
    {0xA1, "BLANK", 12, kFlagsNoData, true},
    {0xBB, "SET CD SPEED", 12, kFlagsNoData, false},
};

// A CDB being built: opcode from the table, every other byte 0.
struct TCdb {
  explicit TCdb(TOp op) : Info(kOps[op]) { Bytes[0] = Info.Opcode; }
  void Put16(std::size_t at, std::uint16_t v) {
    Bytes[at] = static_cast<std::uint8_t>(v >> 8);
    Bytes[at + 1] = static_cast<std::uint8_t>(v);
  }
  void Put32(std::size_t at, std::uint32_t v) {
    Bytes[at] = static_cast<std::uint8_t>(v >> 24);
    Bytes[at + 1] = static_cast<std::uint8_t>(v >> 16);
    Bytes[at + 2] = static_cast<std::uint8_t>(v >> 8);
    Bytes[at + 3] = static_cast<std::uint8_t>(v);
  }
  std::span<const std::uint8_t> Span() const { return std::span(Bytes).first(Info.CdbLength); }

  const TOpInfo& Info;
  std::array<std::uint8_t, 12> Bytes{};
};

void PutHost16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t v) {
  if (at <= bytes.size() && bytes.size() - at >= 2) std::memcpy(&bytes[at], &v, 2);
}
void PutHost32(std::span<std::uint8_t> bytes, std::size_t at, std::uint32_t v) {
  if (at <= bytes.size() && bytes.size() - at >= 4) std::memcpy(&bytes[at], &v, 4);
}

}  // namespace

bool TSCSIDevice::Send(std::uint8_t flags, std::span<const std::uint8_t> cdb, std::uint8_t* data,
                       std::uint32_t length, bool pendingIsSuccess) {
  TExecRequest request;
  request.Flags = flags;
  if (flags != kFlagsNoData) {
    request.Data = data;
    request.DataLength = length;
  }
  request.CdbLength = static_cast<std::uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), request.Cdb);
  std::uint8_t status = ExecuteCommand(request);
  return status == SS_COMP || (pendingIsSuccess && status == SS_PENDING);
}

namespace {
// The request's data lengths must fit the buffer given.
bool Fits(std::size_t size, std::size_t length) { return length <= size; }
}  // namespace

// --- Commands --------------------------------------------------------------

bool TSCSIDevice::TestUnitReady() {
  TCdb cdb(opTestUnitReady);
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::RezeroUnit() {
  TCdb cdb(opRezeroUnit);
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::FormatUnit(std::uint8_t Flags, std::span<const std::uint8_t> Data, std::uint16_t Length) {
  if (!Fits(Data.size(), Length)) return false;
  TCdb cdb(opFormatUnit);
  cdb.Bytes[1] = Flags;
  return Send(cdb.Info.Flags, cdb.Span(), const_cast<std::uint8_t*>(Data.data()), Length,
              cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::Inquiry(std::span<std::uint8_t> Data) {
  if (!Fits(Data.size(), 64)) return false;
  TCdb cdb(opInquiry);
  cdb.Bytes[4] = 0x40;
  return Send(cdb.Info.Flags, cdb.Span(), Data.data(), 64, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::LoadMedium(bool Immediate) {
  TCdb cdb(opStartStopUnit);
  cdb.Bytes[1] = Immediate ? 0x01 : 0x00;
  cdb.Bytes[4] = 0x03;  // LoEj + Start
  CloseAfterCommand = true;
  bool ok = Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
  CloseAfterCommand = false;
  return ok;
}

bool TSCSIDevice::EjectMedium(bool Immediate) {
  TCdb cdb(opStartStopUnit);
  cdb.Bytes[1] = Immediate ? 0x01 : 0x00;
  cdb.Bytes[4] = 0x02;  // LoEj
  CloseAfterCommand = true;
  bool ok = Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
  CloseAfterCommand = false;
  return ok;
}

bool TSCSIDevice::AllowMediumRemoval() {
  TCdb cdb(opPreventAllow);
  cdb.Bytes[4] = 0x00;
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::PreventMediumRemoval() {
  TCdb cdb(opPreventAllow);
  cdb.Bytes[4] = 0x01;  // Prevent: the tray stays locked until AllowMediumRemoval
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::WriteSectors(std::uint32_t LBA, std::uint16_t Count, std::span<const std::uint8_t> Data,
                               std::uint32_t BufLen) {
  if (!Fits(Data.size(), BufLen)) return false;
  TCdb cdb(opWrite10);
  cdb.Put32(2, LBA);
  cdb.Put16(7, Count);
  return Send(cdb.Info.Flags, cdb.Span(), const_cast<std::uint8_t*>(Data.data()), BufLen,
              cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::SendCueSheet(std::span<const std::uint8_t> Sheet) {
  // The length field is 24 bits wide; an empty sheet is no sheet.
  if (Sheet.empty() || Sheet.size() > 0xFFFFFF) return false;
  TCdb cdb(opSendCueSheet);
  const auto size = static_cast<std::uint32_t>(Sheet.size());
  cdb.Bytes[6] = static_cast<std::uint8_t>(size >> 16);
  cdb.Bytes[7] = static_cast<std::uint8_t>(size >> 8);
  cdb.Bytes[8] = static_cast<std::uint8_t>(size);
  return Send(cdb.Info.Flags, cdb.Span(), const_cast<std::uint8_t*>(Sheet.data()), size, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::SynchronizeCache(bool /*Immediate: the command is the same either way*/) {
  TCdb cdb(opSynchronizeCache);
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::ReadTOC(std::uint8_t Format, std::uint8_t TrackSession, bool MSF, std::span<std::uint8_t> Data,
                          std::uint8_t AllocLen) {
  if (!Fits(Data.size(), AllocLen)) return false;
  TCdb cdb(opReadTOC);
  cdb.Bytes[1] = MSF ? 0x02 : 0x00;
  cdb.Bytes[2] = Format;
  cdb.Bytes[6] = TrackSession;
  cdb.Bytes[8] = AllocLen;
  return Send(cdb.Info.Flags, cdb.Span(), Data.data(), AllocLen, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::GetConfiguration(std::span<std::uint8_t> Data, std::uint16_t Length, std::uint16_t Feature) {
  if (!Fits(Data.size(), Length)) return false;
  TCdb cdb(opGetConfiguration);
  cdb.Bytes[1] = 0x02;  // RT 10b: the one feature named
  cdb.Put16(2, Feature);
  cdb.Put16(7, Length);
  return Send(cdb.Info.Flags, cdb.Span(), Data.data(), Length, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::ReadDiscInformation(std::span<std::uint8_t> Data, std::uint8_t Length) {
  if (!Fits(Data.size(), Length)) return false;
  TCdb cdb(opReadDiscInformation);
  cdb.Put16(7, Length);
  return Send(cdb.Info.Flags, cdb.Span(), Data.data(), Length, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::ReadTrackInformation(std::uint8_t Track) {
  TCdb cdb(opReadTrackInformation);
  cdb.Bytes[1] = 0x01;  // address is a track number
  cdb.Bytes[5] = Track;
  cdb.Put16(7, 38);
  std::span<std::uint8_t> bytes(TrackInfo.Bytes);
  if (!Send(cdb.Info.Flags, cdb.Span(), bytes.data(), 38, cdb.Info.PendingIsSuccess)) return false;
  TrackInfo.DataLength = ReadBE16(bytes, 0);
  TrackInfo.TrackStart = ReadBE32(bytes, 8);
  TrackInfo.NextWritable = ReadBE32(bytes, 12);
  TrackInfo.FreeBlocks = ReadBE32(bytes, 16);
  TrackInfo.PacketSize = ReadBE32(bytes, 20);
  TrackInfo.TrackSize = ReadBE32(bytes, 24);
  TrackInfo.LastRecorded = ReadBE32(bytes, 28);
  // The reply layout keeps these fields in host order as well.
  PutHost16(bytes, 0, TrackInfo.DataLength);
  PutHost32(bytes, 8, TrackInfo.TrackStart);
  PutHost32(bytes, 12, TrackInfo.NextWritable);
  PutHost32(bytes, 16, TrackInfo.FreeBlocks);
  PutHost32(bytes, 20, TrackInfo.PacketSize);
  PutHost32(bytes, 24, TrackInfo.TrackSize);
  PutHost32(bytes, 28, TrackInfo.LastRecorded);
  return true;
}

bool TSCSIDevice::ModeSelect10(std::span<const std::uint8_t> Data, std::uint16_t Length) {
  if (!Fits(Data.size(), Length)) return false;
  TCdb cdb(opModeSelect10);
  cdb.Bytes[1] = 0x10;  // PF: page format
  cdb.Put16(7, Length);
  return Send(cdb.Info.Flags, cdb.Span(), const_cast<std::uint8_t*>(Data.data()), Length,
              cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::ModeSense10(std::span<std::uint8_t> Data, std::uint16_t Length, std::uint8_t Page, bool Defaults) {
  if (!Fits(Data.size(), Length)) return false;
  TCdb cdb(opModeSense10);
  cdb.Bytes[2] = static_cast<std::uint8_t>(Page + (Defaults ? 0x80 : 0x00));
  cdb.Put16(7, Length);
  return Send(cdb.Info.Flags, cdb.Span(), Data.data(), Length, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::CloseTrackSession(bool CloseTrack, bool Immediate) {
  TCdb cdb(opCloseTrackSession);
  cdb.Bytes[1] = Immediate ? 0x01 : 0x00;
  cdb.Bytes[2] = CloseTrack ? 0x01 : 0x02;
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::ReadBufferCapacity() {
  TCdb cdb(opReadBufferCapacity);
  cdb.Bytes[8] = 0x20;
  bool ok = Send(cdb.Info.Flags, cdb.Span(), Buffer.data(), 32, cdb.Info.PendingIsSuccess);
  std::span<const std::uint8_t> reply = std::span(Buffer).first(32);
  BufferLength = ReadBE32(reply, 4);
  BufferFree = ReadBE32(reply, 8);
  return ok;
}

bool TSCSIDevice::BlankDisc(bool Quick) {
  TCdb cdb(opBlank);
  cdb.Bytes[1] = static_cast<std::uint8_t>(0x10 | (Quick ? 0x01 : 0x00));  // Immed, minimal or full blank
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

bool TSCSIDevice::SetCDSpeed(std::uint16_t ReadSpeed, std::uint16_t WriteSpeed) {
  TCdb cdb(opSetCDSpeed);
  auto kbps = [](std::uint16_t x) -> std::uint16_t {
    return x == 0 ? 0xFFFF : static_cast<std::uint16_t>(std::uint32_t{x} * 176u);
  };
  cdb.Put16(2, kbps(ReadSpeed));
  cdb.Put16(4, kbps(WriteSpeed));
  return Send(cdb.Info.Flags, cdb.Span(), nullptr, 0, cdb.Info.PendingIsSuccess);
}

// --- Selection and queries -------------------------------------------------

bool TSCSIDevice::SelectDevice(std::uint8_t Index) {
  if (Index >= DeviceCount) return false;
  std::array<std::uint8_t, 256> work{};

  const TDeviceEntry& entry = Devices[Index];
  SelectedIndex = Index;
  HaId = entry.HaId;
  Target = entry.Target;
  Lun = entry.Lun;
  CurrentLetter = entry.Letter;
  CurrentTransport = entry.Transport;
  CurrentPath = entry.Transport == TTransportKind::PassThrough ? std::string(entry.Path) : std::string();
  Selected_ = true;
  CloseHandle();  // the next pass-through command opens the new drive

  if (!Inquiry(work)) {
    ReadCapabilities();
    return false;
  }
  std::memcpy(Vendor, &work[8], 8);
  Vendor[8] = '\0';
  std::memcpy(Product, &work[16], 16);
  Product[16] = '\0';
  ReadCapabilities();
  return true;
}

namespace {

// Mode page 2Ah follows the 8-byte header, or one 8-byte block descriptor.
void CopyCapabilitiesPage(std::span<const std::uint8_t> reply, std::array<std::uint8_t, 72>& page) {
  std::size_t at = 0;
  if ((reply[8] & 0x3F) == 0x2A)
    at = 8;
  else if ((reply[16] & 0x3F) == 0x2A)
    at = 16;
  else
    return;
  std::copy_n(reply.begin() + static_cast<std::ptrdiff_t>(at), 64, page.begin());
}

std::uint16_t SpeedFactor(std::uint16_t kbps) {
  return static_cast<std::uint16_t>(std::ceil(static_cast<double>(kbps) / 176.46));
}

}  // namespace

bool TSCSIDevice::ReadCapabilities() {
  Capabilities.fill(0);
  MaxReadSpeed = 0;
  MaxWriteSpeed = 0;
  std::span<std::uint8_t> reply = std::span(Buffer).first(128);
  if (!ModeSense10(reply, 128, 0x2A, true)) return false;
  CopyCapabilitiesPage(reply, Capabilities);
  MaxReadSpeed = SpeedFactor(ReadBE16(Capabilities, 8));
  MaxWriteSpeed = SpeedFactor(ReadBE16(Capabilities, 18));

  ModeSense10(reply, 128, 0x2A, false);
  CopyCapabilitiesPage(reply, Capabilities);
  for (std::size_t at : {18u, 20u, 8u, 14u, 12u}) PutHost16(Capabilities, at, ReadBE16(Capabilities, at));
  return true;
}

std::uint8_t TSCSIDevice::GetLastTrackNumber() {
  if (!ReadDiscInformation(DiscInfo, 66)) return 0;
  return DiscInfo[6];
}

// --- Medium and write parameters -------------------------------------------

TMediumType TSCSIDevice::GetMediumType() {
  if (GetConfiguration(Configuration, 114, 0)) {
    std::uint16_t profile = ReadBE16(Configuration, 6);
    PutHost16(Configuration, 6, profile);  // CurrentProfile, in host order
    switch (profile) {
      case 0x0008: return mtCDROM;
      case 0x0009: return mtCDR;
      case 0x000A: return mtCDRW;
      case 0x0010: return mtDVDROM;
      case 0x0011: return mtDVDR;
      case 0x0012: return mtDVDRAM;
      case 0x0013: return mtDVDRWRestricted;
      case 0x0014: return mtDVDRWSequential;
      case 0x001A: return mtDVDPlusRW;
      case 0x001B: return mtDVDPlusR;
      case 0x0020: return mtDDCDROM;
      case 0x0021: return mtDDCDR;
      case 0x0022: return mtDDCDRW;
      default: return mtNone;
    }
  }
  if (ReadTOC(4, 0, true, Buffer, 30)) {  // ATIP
    std::uint8_t discType = Buffer[6];
    if ((discType & 0x80) == 0) return mtCDROM;
    if (discType & 0x40) return mtCDRW;
    return mtCDR;
  }
  if (ReadDiscInformation(DiscInfo, 66)) return (DiscInfo[2] & 0x10) ? mtCDRW : mtCDR;
  return TestUnitReady() ? mtCDROM : mtNone;
}

namespace {

// Bytes 2, 3, 4, 5 and 13 of page 05h by medium, as sent with every option
// off.
struct TPageBase {
  std::uint8_t B2, B3, B4, B5, B13;
};

TPageBase PageBase(std::uint8_t medium) {
  switch (medium) {
    case mtDVDR: return {0x04, 0x57, 0x80, 0x10, 0x10};
    case 7:
    case mtDDCDR:
    case mtDDCDRW: return {0x20, 0x50, 0x80, 0x00, 0x00};
    case mtDVDRWRestricted:
    case mtDVDRWSequential: return {0x24, 0x57, 0x80, 0x10, 0x10};
    case mtDVDPlusRW:
    case mtDVDPlusR: return {0x24, 0x44, 0x80, 0x10, 0x10};
    default: return {0x10, 0x40, 0x80, 0x00, 0x00};
  }
}

}  // namespace

bool TSCSIDevice::SetWriteParameters(bool TestWrite, bool UnderrunProtection, bool MultiSession,
                                     TMediumType MediumType) {
  TPageBase base = PageBase(MediumType);
  TWritePageImage page{};
  page[2] = base.B2;
  page[3] = base.B3;
  page[4] = base.B4;
  page[5] = base.B5;
  page[8] = 0x00;  // session format
  page[13] = base.B13;
  if (TestWrite) page[2] |= 0x08;
  if (!TestWrite && MultiSession) page[3] |= 0x03;
  if (UnderrunProtection && (Capabilities[4] & 0x01)) page[2] |= 0x02;
  if (LinkSizeSetting) page[2] |= 0x04;
  page[14] = 0x00;  // audio pause length 150
  page[15] = 0x96;
  return SendWritePage(*this, page);
}

}  // namespace cv
