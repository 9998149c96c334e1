// An ASPI-shaped layer over the Linux generic SCSI driver (/dev/sg*).
//
// Discovery's adapter/target/LUN loop was written against ASPI's request
// blocks; this layer answers those blocks from the sg nodes, so the loop runs
// unchanged: GetASPI32SupportInfo gives the adapter count, SendASPI32Command
// serves SC_HA_INQUIRY, SC_EXEC_SCSI_CMD (SG_IO on the node with that
// host:target:LUN) and SC_GET_DISK_INFO (not available on Linux).
//
// The layer is "loaded" when at least one /dev/sgN opens; it keeps those
// nodes open until it is destroyed. Every request completes before
// SendASPI32Command returns (it never answers SS_PENDING).
//
// Owner: the device object, from FindDevices to the next FindDevices or its
// destruction. Threads: one call at a time (the device object's thread).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/cvOSLayer.h"

namespace cv {

struct TExecRequest;  // cvSCSILib.h: the SRB_ExecSCSICmd request

// Command codes.
inline constexpr std::uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr std::uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr std::uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr std::uint8_t SC_GET_DISK_INFO = 0x06;

// Request status codes.
inline constexpr std::uint8_t SS_PENDING = 0x00;
inline constexpr std::uint8_t SS_COMP = 0x01;
inline constexpr std::uint8_t SS_ABORTED = 0x02;
inline constexpr std::uint8_t SS_ERR = 0x04;
inline constexpr std::uint8_t SS_INVALID_CMD = 0x80;
inline constexpr std::uint8_t SS_INVALID_HA = 0x81;
inline constexpr std::uint8_t SS_NO_DEVICE = 0x82;
inline constexpr std::uint8_t SS_NO_ADAPTERS = 0xE8;

// Request flags.
inline constexpr std::uint8_t SRB_DIR_IN = 0x08;
inline constexpr std::uint8_t SRB_DIR_OUT = 0x10;
inline constexpr std::uint8_t SRB_EVENT_NOTIFY = 0x40;

// SRB_HAInquiry (60 bytes).
struct SRB_HAInquiry {
  std::uint8_t SRB_Cmd = SC_HA_INQUIRY;  // 0
  std::uint8_t SRB_Status = 0;           // 1
  std::uint8_t SRB_HaId = 0;             // 2
  std::uint8_t SRB_Flags = 0;            // 3
  std::uint32_t SRB_Hdr_Rsvd = 0;        // 4
  std::uint8_t HA_Count = 0;             // 8
  std::uint8_t HA_SCSI_ID = 0;           // 9
  char HA_ManagerId[16] = {};            // 10
  char HA_Identifier[16] = {};           // 26
  std::uint8_t HA_Unique[16] = {};       // 42
  std::uint16_t HA_Rsvd1 = 0;            // 58
};
static_assert(sizeof(SRB_HAInquiry) == 60);

// SRB_GetDiskInfo (128 bytes).
struct SRB_GetDiskInfo {
  std::uint8_t SRB_Cmd = SC_GET_DISK_INFO;  // 0
  std::uint8_t SRB_Status = 0;              // 1
  std::uint8_t SRB_HaId = 0;                // 2
  std::uint8_t SRB_Flags = 0;               // 3
  std::uint32_t SRB_Hdr_Rsvd = 0;           // 4
  std::uint8_t SRB_Target = 0;              // 8
  std::uint8_t SRB_Lun = 0;                 // 9
  std::uint8_t SRB_DriveFlags = 0;          // 10
  std::uint8_t SRB_Int13HDriveInfo = 0;     // 11
  std::uint8_t SRB_Heads = 0;               // 12
  std::uint8_t SRB_Sectors = 0;             // 13
  std::uint8_t SRB_Rsvd1[114] = {};         // 14
};
static_assert(sizeof(SRB_GetDiskInfo) == 128);

class cvASPILayer {
 public:
  explicit cvASPILayer(cvOSLayer& os);
  ~cvASPILayer();
  cvASPILayer(const cvASPILayer&) = delete;
  cvASPILayer& operator=(const cvASPILayer&) = delete;

  // Opens every /dev/sgN that opens (read-write, else read-only) and learns
  // its address. True when at least one opened: the layer is loaded.
  bool Load();
  bool Loaded() const { return !Nodes_.empty(); }

  // ASPI's answer: SS_COMP in bits 15..8 and the host adapter count in bits
  // 7..0; 0 when the layer is not loaded. The count is one more than the
  // highest host number seen, so that every host is below it; it is 0 when
  // no node told its address.
  std::uint32_t GetASPI32SupportInfo() const;

  // SC_HA_INQUIRY: HA_Count, status SS_COMP (SS_INVALID_HA for an adapter
  // beyond the count when the count is not 0).
  std::uint8_t SendASPI32Command(SRB_HAInquiry& srb);
  // SC_EXEC_SCSI_CMD: SG_IO on the node at SRB_HaId:Target:Lun; SS_NO_DEVICE
  // when there is none. Status, target status and sense are filled as for
  // every transport (see CompleteRequest in cvSCSILib.h).
  std::uint8_t SendASPI32Command(TExecRequest& srb);
  // SC_GET_DISK_INFO: Linux has no BIOS drive numbers: SS_INVALID_CMD.
  std::uint8_t SendASPI32Command(SRB_GetDiskInfo& srb);

  // The transport of the node serving an address, nullptr when none does.
  // It lives as long as the layer.
  cvTransport* NodeTransport(std::uint8_t haId, std::uint8_t target, std::uint8_t lun) const;

  // The node serving an address, empty when none does.
  std::string NodePath(std::uint8_t haId, std::uint8_t target, std::uint8_t lun) const;

  // Requests of any kind answered so far (diagnostics and tests).
  std::uint32_t RequestsServed() const { return RequestsServed_; }

 private:
  class TNodeTransport;
  struct TNode {
    std::string Path;
    TOSHandle Handle = kInvalidHandle;
    std::shared_ptr<cvTransport> Transport;
    bool HasAddress = false;
    TSgScsiId Id;
  };
  const TNode* Find(std::uint8_t haId, std::uint8_t target, std::uint8_t lun) const;

  cvOSLayer& OS_;
  std::vector<TNode> Nodes_;
  std::uint8_t AdapterCount_ = 0;
  std::uint32_t RequestsServed_ = 0;
};

}  // namespace cv
