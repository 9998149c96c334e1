// The operating-system calls under the device object, behind one narrow
// interface: node listing, open/close, the SCSI address query, SG_IO and the
// generic-SCSI (sg) listing.
//
// The Linux implementation (cvOSLayerLinux.cpp) is the only file of the
// library that issues ioctl(). Tests put a double of their own in its place
// to run discovery and every command against any set of drives.
//
// Owner: one TSCSIDevice owns its layer (std::unique_ptr). Threads: the
// layer is used by whichever thread drives the device object, one call at
// a time; implementations need no lock of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "device/cvTransport.h"

namespace cv {

// An open descriptor of the layer; -1 is "not open".
using TOSHandle = int;
inline constexpr TOSHandle kInvalidHandle = -1;

// Where a drive sits on the SCSI subsystem (SCSI_IOCTL_GET_BUS_NUMBER gives
// the host number, SCSI_IOCTL_GET_IDLUN the channel, target and LUN).
struct TScsiAddress {
  std::uint8_t PortNumber = 0;  // host adapter
  std::uint8_t PathId = 0;      // channel (not kept by discovery)
  std::uint8_t TargetId = 0;
  std::uint8_t Lun = 0;
};

// What SG_GET_SCSI_ID tells about a generic-SCSI node.
struct TSgScsiId {
  int HostNo = 0;
  int Channel = 0;
  int ScsiId = 0;
  int Lun = 0;
  int ScsiType = 0;  // peripheral device type, 5 = CD/DVD
};

class cvOSLayer {
 public:
  virtual ~cvOSLayer() = default;

  // The optical drive nodes probed by discovery, in probing order: of
  // /dev/sr0 .. /dev/sr23 those that are CD/DVD drives (block device with
  // the SCSI CD-ROM major 11, or /sys/class/block/srN present).
  virtual std::vector<std::string> ListOpticalNodes() = 0;

  // open(path, O_RDWR | O_NONBLOCK | O_CLOEXEC) when readWrite, else
  // O_RDONLY | O_NONBLOCK | O_CLOEXEC. kInvalidHandle on failure, with
  // LastError() telling why.
  virtual TOSHandle Open(const std::string& path, bool readWrite) = 0;

  // open(path, O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC): the drive for
  // this process alone (a burn, an erase); another exclusive holder makes it
  // fail with EBUSY. The default (layers without the notion) opens as Open.
  virtual TOSHandle OpenExclusive(const std::string& path) { return Open(path, true); }

  // What is known about who stops path from being opened: the process that
  // holds it open (0 when unknown) and the group that owns the node (empty
  // when unknown). For the words of an open failure; no errno.
  virtual int HolderOf(const std::string& path) {
    (void)path;
    return 0;
  }
  virtual std::string GroupOf(const std::string& path) {
    (void)path;
    return {};
  }

  // close(); true on success.
  virtual bool Close(TOSHandle handle) = 0;

  // The drive's address; false when the node does not answer the query.
  virtual bool GetAddress(TOSHandle handle, TScsiAddress& address) = 0;

  // One command through ioctl(SG_IO). The outcome's DriverStatus has the
  // "sense available" flag removed, so Good() means: ioctl returned 0, host,
  // driver and SCSI status all 0.
  virtual TScsiOutcome SgIo(TOSHandle handle, const TScsiCommand& command) = 0;

  // The generic-SCSI nodes /dev/sgN that exist, in numeric order.
  virtual std::vector<std::string> ListGenericNodes() = 0;

  // ioctl(SG_GET_SCSI_ID) on an open sg node.
  virtual bool GetScsiId(TOSHandle handle, TSgScsiId& id) = 0;

  // errno right after the last call of this layer (0 when it succeeded).
  virtual int LastError() const = 0;
};

// The layer over the running Linux kernel.
std::unique_ptr<cvOSLayer> CreateLinuxOSLayer();

}  // namespace cv
