// The device object TSCSIDevice: the library's only connection to optical
// drives. It discovers CD/DVD drives (SG_IO pass-through on /dev/srN first,
// the ASPI-shaped sg layer only when that finds none, the transports handed
// in by the front end, such as the virtual recorder, always last), keeps the
// device list, sends every SCSI command through ExecuteCommand, and offers
// one operation per MMC command plus medium identification and the write
// parameters page. Every path to a drive is a cvTransport: ExecuteCommand
// picks the selected one and runs the request on it (RunRequest).
//
// Owner: exactly one device object lives in the burner component, held by
// value. Threads: the object has no lock. Commands come from the GUI thread
// (discovery, selection, eject, load, free space) and, while a burn or an
// erase runs, from that one worker thread only; callers keep them apart.
// The fields another thread may read while a worker runs (LastSenseCode,
// EraseStatus) are atomic.
//
// Drive operations answer a bool: true when the SCSI request completed (a
// few also accept the pending status); failure detail stays in Sense,
// LastSenseCode and Busy. No operation reads a reply beyond the bytes it
// asked for, and none uses a length field of a reply to index a buffer.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/cvOSLayer.h"
#include "device/cvTransport.h"
#include "device/cvTransportSource.h"

namespace cv {

class cvASPILayer;
class TKAudioCDBurner;  // the burner component; only its address passes through here

// ---------------------------------------------------------------------------
// Shared routines

// The low two bytes of Value exchanged.
std::uint16_t Swap16(std::uint32_t Value);
// The four bytes of Value in reverse order.
std::uint32_t Swap32(std::uint32_t Value);
// Dst[0] = Src[1], Dst[1] = Src[0].
void StoreSwap16(const void* Src, void* Dst);
// The four bytes of Src reversed into Dst.
void StoreSwap32(const void* Src, void* Dst);
// Bit number Bit of Value, 0 being the least significant; false for a Bit
// outside 0..31.
bool TestBit(std::uint32_t Value, int Bit);
// Whole 2352-byte sectors needed for Bytes (rounded up); 0 for 0 or less.
std::int32_t BytesToSectors(std::int64_t Bytes);
// F = Sectors mod 75, S = (Sectors div 75) mod 60, M = Sectors div 4500 kept
// in a byte.
void SectorsToMSF(std::uint32_t Sectors, std::uint8_t& M, std::uint8_t& S, std::uint8_t& F);
// "MM:SS:FF" ("%2.2d:%2.2d:%2.2d" of SectorsToMSF), e.g. 4500 -> "01:00:00".
std::string SectorsToMSFText(std::uint32_t Sectors);

// Big-endian fields of drive replies, read through bounds checks: a field
// that does not fit in the bytes answers 0.
std::uint16_t ReadBE16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t ReadBE32(std::span<const std::uint8_t> bytes, std::size_t offset);

// ---------------------------------------------------------------------------
// Medium codes

enum TMediumType : std::uint8_t {
  mtNone = 0,
  mtCDROM = 1,
  mtCDR = 2,
  mtCDRW = 3,
  mtDVDROM = 4,
  mtDVDR = 5,
  mtDVDRAM = 6,
  mtDVDRWRestricted = 8,
  mtDVDRWSequential = 9,
  mtDVDPlusRW = 10,
  mtDVDPlusR = 11,
  mtDDCDROM = 12,
  mtDDCDR = 13,
  mtDDCDRW = 14,
};

// ---------------------------------------------------------------------------
// Records

// How commands reach a listed drive.
enum class TTransportKind : std::uint8_t {
  PassThrough,  // SG_IO on the /dev/srN node
  Generic,      // the sg-based ASPI layer
  Virtual,      // a transport handed in (the virtual recorder)
};
// "pass-through", "generic" or "virtual".
const char* TransportName(TTransportKind kind);

// One found drive.
struct TDeviceEntry {
  // A drive letter stands for the node's place in probing order: the first
  // optical node probed is 'C', the next 'D', ...; '?' when no node matched.
  char Letter = 0;
  std::uint8_t HaId = 0;    // host adapter (port) number
  std::uint8_t Target = 0;  // target id
  std::uint8_t Lun = 0;     // logical unit
  // "%d:%d:%d,%s: %s %s %s " of adapter, target, LUN, node path (or "?"),
  // vendor (8), product (16) and revision (4), blank-padded as sent.
  char Text[128] = {};
  // Ours: the node the commands go through ("/dev/sr0", "/dev/sg1", or
  // "virtual") and the transport.
  char Path[64] = {};
  TTransportKind Transport = TTransportKind::PassThrough;
  // Ours: the INQUIRY identity as listed (blank-padded, NUL-terminated;
  // blanks when the drive did not answer INQUIRY).
  char Vendor[9] = {};
  char Product[17] = {};
  char Revision[5] = {};
  // Ours: why the drive did not answer discovery ("the virtual recorder is
  // in use by another program (pid 4242)"); empty when it answered.
  char Error[160] = {};
};

// An optical node discovery found but could not open: not in the device
// list (no command can reach it), shown beside it with the reason.
struct TUnopenedNode {
  std::string Path;
  int Errno = 0;
  std::string Text;  // OpenFailureText
};

// The words for a failed open of a drive node: "<path>: permission denied
// (add your user to the group 'cdrom' that owns it)" (the group as given,
// "usually 'cdrom'" when unknown), "<path>: drive in use by another program
// (pid N)" (pid 0: unknown), else "<path>: " and the system's text.
std::string OpenFailureText(const std::string& path, int error, int holderPid, const std::string& group);

// Completion event of a request that a layer may answer as pending.
// Thread rules: Set from any thread, Wait from the requester.
class cvCompletionEvent {
 public:
  void Set();
  void Reset();
  // True when set within timeoutMs.
  bool Wait(std::uint32_t timeoutMs);

 private:
  struct TState;
  std::shared_ptr<TState> State_ = MakeState();
  static std::shared_ptr<TState> MakeState();
};

// The command request. Its first 96 bytes have the layout of ASPI's
// SRB_ExecSCSICmd with a 32-byte sense area; on a 64-bit system a data
// address does not fit the 4 bytes at offset 16, so the host-side pointers
// follow the block.
struct TExecRequest {
  std::uint8_t Command = 0;        // 0: SC_EXEC_SCSI_CMD (2)
  std::uint8_t Status = 0;         // 1: 0 pending, 1 done, 4 error, other ASPI codes
  std::uint8_t HaId = 0;           // 2
  std::uint8_t Flags = 0;          // 3: 08h from drive, 10h to drive, 40h event
  std::uint32_t Reserved1 = 0;     // 4
  std::uint8_t Target = 0;         // 8
  std::uint8_t Lun = 0;            // 9
  std::uint16_t Reserved2 = 0;     // 10
  std::uint32_t DataLength = 0;    // 12: bytes to transfer
  std::uint32_t DataAddress = 0;   // 16: unused, see Data
  std::uint8_t SenseLength = 0;    // 20: 24
  std::uint8_t CdbLength = 0;      // 21: 6, 10 or 12
  std::uint8_t HaStatus = 0;       // 22: adapter status
  std::uint8_t TargetStatus = 0;   // 23: SCSI status, 08h = BUSY
  std::uint32_t EventHandle = 0;   // 24: unused, see Event
  std::uint8_t Reserved3[20] = {}; // 28
  std::uint8_t Cdb[16] = {};       // 48: big-endian fields
  std::uint8_t SenseArea[32] = {}; // 64: fixed-format sense data
  // Host side.
  std::uint8_t* Data = nullptr;    // DataLength bytes (read for 10h, filled for 08h)
  cvCompletionEvent* Event = nullptr;
  std::uint32_t TimeoutMs = 0;     // 0: kCommandTimeoutMs
};

// The pass-through record: SCSI_PASS_THROUGH_DIRECT's fields as the request
// fills them, with the 32-byte sense buffer. On Linux it is turned into an
// sg_io_hdr by the OS layer's SgIo.
struct TPassThroughRecord {
  std::uint16_t Length = 44;
  std::uint8_t ScsiStatus = 0;
  std::uint8_t PathId = 0;
  std::uint8_t TargetId = 0;
  std::uint8_t Lun = 0;
  std::uint8_t CdbLength = 0;
  std::uint8_t SenseInfoLength = 0;
  std::uint8_t DataIn = 2;  // 1 data in, 0 data out, 2 no data
  std::uint32_t DataTransferLength = 0;
  std::uint32_t TimeOutValue = 12000;  // seconds
  std::uint8_t* DataBuffer = nullptr;
  std::uint32_t SenseInfoOffset = 48;
  std::uint8_t Cdb[16] = {};
  std::uint8_t SenseInfo[32] = {};
};

// Request flags used by the command layer.
inline constexpr std::uint8_t kFlagsNoData = 0x40;
inline constexpr std::uint8_t kFlagsDataIn = 0x48;
inline constexpr std::uint8_t kFlagsDataOut = 0x50;

// Default time a drive is given for one command (the pass-through record's
// 12000 seconds).
inline constexpr std::uint32_t kCommandTimeoutMs = 12000u * 1000u;
// How long a discovery INQUIRY may take.
inline constexpr std::uint32_t kProbeTimeoutMs = 10000;

// Fills Request's status (1 good, 4 error), target and adapter status and,
// on an error, the first 24 sense bytes from one transport outcome. The one
// place where outcomes become request results.
void CompleteRequest(TExecRequest& Request, const TScsiOutcome& Outcome);
// The transport command for a request: its CDB, direction (08h in, 10h out,
// else none), data and time-out. A data-in buffer is zeroed first, so bytes
// a short reply leaves untouched never carry an earlier reply.
TScsiCommand PrepareCommand(TExecRequest& Request);
// Runs a request on a transport: prepare, execute, complete. Every path to a
// drive (SG_IO pass-through, the sg layer, a handed-in transport) goes
// through here. Answers the outcome, for its OS error.
TScsiOutcome RunRequest(cvTransport& Transport, TExecRequest& Request);
// The pass-through record filled from a request.
TPassThroughRecord MakePassThroughRecord(const TExecRequest& Request);

// Handler raised when an erase ends (Sender is the component, Id always 0).
using TEraseDoneEvent = std::function<void(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError)>;

// READ TRACK INFORMATION reply: the bytes as sent, and its fields in host
// order after a successful read.
struct TTrackInfo {
  std::array<std::uint8_t, 38> Bytes{};
  std::uint16_t DataLength = 0;
  std::uint32_t TrackStart = 0;
  std::uint32_t NextWritable = 0;
  std::uint32_t FreeBlocks = 0;
  std::uint32_t PacketSize = 0;
  std::uint32_t TrackSize = 0;
  std::uint32_t LastRecorded = 0;
};

// The plain fields of the device object, zeroed as a whole by FindDevices.
struct TSCSIDeviceRecord {
  TOSHandle Handle = kInvalidHandle;  // pass-through node of the selected drive
  std::array<TDeviceEntry, 26> Devices{};
  std::uint8_t DeviceCount = 0;
  char CurrentLetter = 0;
  std::string CurrentPath;  // node the pass-through leg opens
  TTransportKind CurrentTransport = TTransportKind::PassThrough;
  std::uint32_t LastOSError = 0;
  bool CloseAfterCommand = false;
  bool Ready = false;
  bool UseSPTI = false;
  std::uint8_t SelectedIndex = 0;
  std::uint8_t HaId = 0;
  std::uint8_t Target = 0;
  std::uint8_t Lun = 0;
  char Vendor[9] = {};
  char Product[17] = {};
  TMediumType MediumType = mtNone;
  std::array<std::uint8_t, 32> Sense{};
  bool Busy = false;
  std::uint32_t BufferLength = 0;
  std::uint32_t BufferFree = 0;
  TTrackInfo TrackInfo;
  std::array<std::uint8_t, 66> DiscInfo{};
  std::array<std::uint8_t, 42> DiscInfoShort{};
  std::array<std::uint8_t, 114> Configuration{};
  std::array<std::uint8_t, 72> Capabilities{};
  std::uint16_t MaxReadSpeed = 0;
  std::uint16_t MaxWriteSpeed = 0;
  std::array<std::uint8_t, 72> WritePage{};
  bool LinkSizeSetting = false;
  std::uint8_t WriteSpeed = 0;  // multiples of 176 kB/s, 0 = maximum
  std::uint8_t ReadSpeed = 0;
  // Optical nodes the last discovery could not open, in probing order.
  std::vector<TUnopenedNode> Unopened;
  // Why the last command could not reach the selected drive (its node could
  // not be opened, or the transport is held by another program); empty when
  // it reached the drive. Written by whichever thread drives the object.
  std::string DriveProblem;
  // Real drive nodes are opened with O_EXCL (see SetExclusive).
  bool Exclusive = false;
  // Erase job (set by StartErase on the GUI thread, then the erase thread's).
  bool EraseQuick = false;
  TEraseDoneEvent OnEraseDone;
  TKAudioCDBurner* EraseSender = nullptr;
};

class TSCSIDevice : public TSCSIDeviceRecord {
 public:
  // The Linux layer unless another is given (tests give a double), and the
  // process-wide transport sources (TransportSources()) unless a list is.
  TSCSIDevice();
  explicit TSCSIDevice(std::unique_ptr<cvOSLayer> os);
  TSCSIDevice(std::unique_ptr<cvOSLayer> os, std::vector<TTransportSource> sources);
  ~TSCSIDevice();
  TSCSIDevice(const TSCSIDevice&) = delete;
  TSCSIDevice& operator=(const TSCSIDevice&) = delete;

  // Scratch reply buffer: INQUIRY data during discovery, and the replies
  // that the command layer directs here.
  std::array<std::uint8_t, 131070> Buffer{};
  // ASC x 256 + ASCQ of the most recent command whose sense had a non-zero
  // ASC; kept across later successful commands.
  std::atomic<std::uint16_t> LastSenseCode{0};
  // The sense key that came with LastSenseCode (for its words, see
  // cvSense.h).
  std::atomic<std::uint8_t> LastSenseKey{0};
  // 0 idle, 2 erasing, 3 background format.
  std::atomic<std::uint8_t> EraseStatus{0};

  // --- Discovery and the transport ---------------------------------------
  // Resets the whole object, then lists the drives: pass-through on the
  // optical nodes; the sg layer only when that finds none; the handed-in
  // transports after every real drive. True when a transport is usable.
  bool FindDevices();
  std::uint16_t GetDeviceCount() const;
  // Text of entry Index, nullptr when Index is not below DeviceCount.
  const char* GetDeviceName(std::uint8_t Index) const;
  // Sends one command to the selected drive; answers the request's status.
  std::uint8_t ExecuteCommand(TExecRequest& Request);
  // The pass-through leg: SG_IO on CurrentPath (opened when Handle is -1).
  std::uint8_t ExecutePassThrough(TExecRequest& Request);
  // During sg discovery: the optical node whose address equals entry
  // DeviceCount's; empty when none does.
  std::string FindDriveLetter();

  // --- MMC commands (one per opcode; true on status 1, some also on 0) ----
  bool TestUnitReady();                                          // 00h
  bool RezeroUnit();                                             // 01h
  bool FormatUnit(std::uint8_t Flags, std::span<const std::uint8_t> Data, std::uint16_t Length);  // 04h
  bool Inquiry(std::span<std::uint8_t> Data);                    // 12h, 64 bytes
  bool LoadMedium(bool Immediate);                               // 1Bh, LoEj+Start
  bool EjectMedium(bool Immediate);                              // 1Bh, LoEj
  bool AllowMediumRemoval();                                     // 1Eh
  bool PreventMediumRemoval();                                   // 1Eh, Prevent
  bool WriteSectors(std::uint32_t LBA, std::uint16_t Count, std::span<const std::uint8_t> Data,
                    std::uint32_t BufLen);                       // 2Ah
  bool SynchronizeCache(bool Immediate);                         // 35h
  bool SendCueSheet(std::span<const std::uint8_t> Sheet);        // 5Dh, Session-At-Once layout
  bool ReadTOC(std::uint8_t Format, std::uint8_t TrackSession, bool MSF, std::span<std::uint8_t> Data,
               std::uint8_t AllocLen);                           // 43h
  bool GetConfiguration(std::span<std::uint8_t> Data, std::uint16_t Length, std::uint16_t Feature);  // 46h
  bool ReadDiscInformation(std::span<std::uint8_t> Data, std::uint8_t Length);  // 51h
  bool ReadTrackInformation(std::uint8_t Track);                 // 52h, into TrackInfo
  bool ModeSelect10(std::span<const std::uint8_t> Data, std::uint16_t Length);  // 55h
  bool ModeSense10(std::span<std::uint8_t> Data, std::uint16_t Length, std::uint8_t Page, bool Defaults);  // 5Ah
  bool CloseTrackSession(bool CloseTrack, bool Immediate);       // 5Bh
  bool ReadBufferCapacity();                                     // 5Ch, into Buffer
  bool BlankDisc(bool Quick);                                    // A1h
  bool SetCDSpeed(std::uint16_t ReadSpeed, std::uint16_t WriteSpeed);  // BBh

  // --- Queries built on the commands --------------------------------------
  // Makes entry Index the drive all later commands address; false (and no
  // change) for an Index outside the list, false too when the drive does not
  // answer INQUIRY (it is selected all the same).
  bool SelectDevice(std::uint8_t Index);
  // Mode page 2Ah into Capabilities, MaxReadSpeed, MaxWriteSpeed.
  bool ReadCapabilities();
  // The selected drive's pace (cvTransport::Pace): 1 for every real drive.
  double DrivePace() const;
  // Last track in the last session, 0 when the disc information is unread.
  std::uint8_t GetLastTrackNumber();

  // --- Medium and write parameters ----------------------------------------
  TMediumType GetMediumType();
  bool SetWriteParameters(bool TestWrite, bool UnderrunProtection, bool MultiSession, TMediumType MediumType);

  // Ours: while on, the selected real drive's node is opened for this
  // process alone (O_EXCL): a burn or an erase turns it on before it starts
  // and off when its worker ends. A change closes the open node, so that the
  // next command opens it the new way.
  void SetExclusive(bool on);
  // Ours: the entry the selected drive came from, nullptr before a selection.
  const TDeviceEntry* SelectedEntry() const;
  // Ours: the layer (for tests and diagnostics).
  cvOSLayer& OS() { return *OS_; }
  // Ours: the sg layer while discovery uses it, else nullptr.
  const cvASPILayer* ASPILayer() const;

 private:
  void ResetRecord();
  void CloseHandle();
  bool OpenCurrent();
  // OpenFailureText with what the layer knows of the holder and the group.
  std::string DescribeOpenFailure(const std::string& path, int error);
  // The transport of the selected drive; nullptr (with Request's status
  // set) when there is none.
  cvTransport* SelectedTransport(TExecRequest& Request);
  bool ScanPassThrough();
  bool ScanGeneric();
  void AddTransportSources();
  // Sends a request built by the command layer.
  bool Send(std::uint8_t flags, std::span<const std::uint8_t> cdb, std::uint8_t* data, std::uint32_t length,
            bool pendingIsSuccess);

  class TPassThroughLeg;

  std::unique_ptr<cvOSLayer> OS_;
  std::vector<TTransportSource> Sources_;
  std::unique_ptr<cvTransport> PassThrough_;
  std::unique_ptr<cvASPILayer> ASPI_;
  std::unique_ptr<cvTransport> Recorder_;  // the handed-in transport listed last
  bool Selected_ = false;
};

}  // namespace cv
