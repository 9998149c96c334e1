// One SCSI command and its outcome, as a transport runs it.
//
// A transport takes a CDB with its data buffer and answers what came back:
// whether the command reached the device at all, the SCSI status and the
// sense data. The device object (TSCSIDevice) turns an outcome into a request
// status, Sense, LastSenseCode and Busy in one place; transports never do.
//
// Transports: SG_IO on /dev/srN (pass-through), the sg-based ASPI layer
// (/dev/sgN), and the virtual recorder, which is not reached through the
// operating system at all and implements cvTransport directly.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace cv {

enum class TDataDirection : std::uint8_t {
  None,        // no data phase
  FromDevice,  // data in: the device fills Data
  ToDevice,    // data out: the device reads Data
};

// SCSI status bytes (SAM).
inline constexpr std::uint8_t kScsiGood = 0x00;
inline constexpr std::uint8_t kScsiCheckCondition = 0x02;
inline constexpr std::uint8_t kScsiBusy = 0x08;

struct TScsiCommand {
  std::span<const std::uint8_t> Cdb;  // 6, 10 or 12 bytes
  TDataDirection Direction = TDataDirection::None;
  std::span<std::uint8_t> Data;       // Direction None: empty
  std::uint32_t TimeoutMs = 0;        // 0: the transport's default
};

struct TScsiOutcome {
  // False when the command never reached the device or never came back (the
  // drive is gone, the ioctl failed); OSError then says why (an errno value).
  bool Delivered = false;
  int OSError = 0;
  std::uint8_t ScsiStatus = kScsiGood;
  std::uint8_t HostStatus = 0;
  std::uint8_t DriverStatus = 0;
  // Fixed-format sense data (70h), valid when SenseLength > 0.
  std::array<std::uint8_t, 32> Sense{};
  std::uint8_t SenseLength = 0;
  // Bytes of Data that were not transferred.
  std::uint32_t Residual = 0;

  bool Good() const { return Delivered && ScsiStatus == kScsiGood && HostStatus == 0 && DriverStatus == 0; }
};

// A drive reached without the operating system's SCSI layer.
// Thread rules: one command at a time; the device object serialises.
class cvTransport {
 public:
  virtual ~cvTransport() = default;
  virtual TScsiOutcome Execute(const TScsiCommand& command) = 0;
  // How fast the drive's time runs against real time, for the host's waits
  // on it (polls while it closes a session, retries while it is busy): 1 for
  // a real drive, whose waits keep their periods; an emulated drive whose
  // long operations take a fraction of their real time answers that
  // fraction, and is polled that much more often.
  virtual double Pace() const { return 1.0; }
  // Why the drive took no command of late (another program holds it, pid
  // when known), in words; empty when nothing stands in the way. Asked
  // after a command that was not delivered or answered BUSY.
  virtual std::string Unavailable() const { return {}; }
};

}  // namespace cv
