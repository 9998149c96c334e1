// The OS layer over the Linux kernel: /dev/srN and /dev/sgN nodes, the SCSI
// address ioctls and SG_IO. The only file of the library that calls ioctl().
#include <fcntl.h>
#include <grp.h>
#include <scsi/scsi.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "device/cvOSLayer.h"

namespace cv {
namespace {

constexpr unsigned kScsiCdromMajor = 11;
constexpr int kOpticalNodes = 24;  // /dev/sr0 .. /dev/sr23
constexpr unsigned kDriverSense = 0x08;
// Processes and descriptors looked at when naming the holder of a node.
constexpr int kMaxProcesses = 4096;
constexpr int kMaxDescriptors = 1024;

class cvLinuxOSLayer final : public cvOSLayer {
 public:
  std::vector<std::string> ListOpticalNodes() override {
    std::vector<std::string> nodes;
    for (int n = 0; n < kOpticalNodes; ++n) {
      std::string path = "/dev/sr" + std::to_string(n);
      struct stat st {};
      bool isDrive = ::stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode) && major(st.st_rdev) == kScsiCdromMajor;
      if (!isDrive) {
        std::error_code ec;
        isDrive = std::filesystem::exists("/sys/class/block/sr" + std::to_string(n), ec);
      }
      if (isDrive) nodes.push_back(std::move(path));
    }
    LastError_ = 0;
    return nodes;
  }

  TOSHandle Open(const std::string& path, bool readWrite) override {
    int flags = (readWrite ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    LastError_ = fd < 0 ? errno : 0;
    return fd < 0 ? kInvalidHandle : fd;
  }

  TOSHandle OpenExclusive(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    LastError_ = fd < 0 ? errno : 0;
    return fd < 0 ? kInvalidHandle : fd;
  }

  // The first process (of those whose descriptors this user may read) with
  // path open; 0 when none is found within the bounds.
  int HolderOf(const std::string& path) override {
    std::error_code ec;
    const auto wanted = std::filesystem::canonical(path, ec);
    if (ec) return 0;
    int processes = 0;
    for (std::filesystem::directory_iterator it("/proc", ec), end; !ec && it != end; it.increment(ec)) {
      if (++processes > kMaxProcesses) break;
      const std::string name = it->path().filename().string();
      int pid = 0;
      auto [ptr, err] = std::from_chars(name.data(), name.data() + name.size(), pid);
      if (err != std::errc() || ptr != name.data() + name.size() || pid == ::getpid()) continue;
      std::error_code fdEc;
      int descriptors = 0;
      for (std::filesystem::directory_iterator fd(it->path() / "fd", fdEc), fdEnd; !fdEc && fd != fdEnd;
           fd.increment(fdEc)) {
        if (++descriptors > kMaxDescriptors) break;
        std::error_code linkEc;
        if (std::filesystem::read_symlink(fd->path(), linkEc) == wanted && !linkEc) return pid;
      }
    }
    return 0;
  }

  std::string GroupOf(const std::string& path) override {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    std::vector<char> buffer(4096);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) return {};
    return found->gr_name;
  }

  bool Close(TOSHandle handle) override {
    int rc = ::close(handle);
    LastError_ = rc != 0 ? errno : 0;
    return rc == 0;
  }

  bool GetAddress(TOSHandle handle, TScsiAddress& address) override {
    struct {
      int FourInOne;
      int HostUniqueId;
    } idlun{};
    if (::ioctl(handle, SCSI_IOCTL_GET_IDLUN, &idlun) != 0) {
      LastError_ = errno;
      return false;
    }
    int bus = 0;
    if (::ioctl(handle, SCSI_IOCTL_GET_BUS_NUMBER, &bus) != 0) {
      LastError_ = errno;
      return false;
    }
    LastError_ = 0;
    address.PortNumber = static_cast<std::uint8_t>(bus);
    address.TargetId = static_cast<std::uint8_t>(idlun.FourInOne & 0xFF);
    address.Lun = static_cast<std::uint8_t>((idlun.FourInOne >> 8) & 0xFF);
    address.PathId = static_cast<std::uint8_t>((idlun.FourInOne >> 16) & 0xFF);
    return true;
  }

  TScsiOutcome SgIo(TOSHandle handle, const TScsiCommand& command) override {
    TScsiOutcome outcome;
    sg_io_hdr_t hdr{};
    hdr.interface_id = 'S';
    switch (command.Direction) {
      case TDataDirection::FromDevice: hdr.dxfer_direction = SG_DXFER_FROM_DEV; break;
      case TDataDirection::ToDevice: hdr.dxfer_direction = SG_DXFER_TO_DEV; break;
      case TDataDirection::None: hdr.dxfer_direction = SG_DXFER_NONE; break;
    }
    if (command.Cdb.empty() || command.Cdb.size() > 16) {
      outcome.OSError = LastError_ = EINVAL;
      return outcome;
    }
    std::uint8_t cdb[16] = {};
    std::copy(command.Cdb.begin(), command.Cdb.end(), cdb);
    hdr.cmd_len = static_cast<unsigned char>(command.Cdb.size());
    hdr.cmdp = cdb;
    hdr.mx_sb_len = static_cast<unsigned char>(outcome.Sense.size());
    hdr.sbp = outcome.Sense.data();
    if (command.Direction != TDataDirection::None) {
      hdr.dxfer_len = static_cast<unsigned int>(command.Data.size());
      hdr.dxferp = command.Data.data();
    }
    hdr.timeout = command.TimeoutMs;
    if (::ioctl(handle, SG_IO, &hdr) != 0) {
      outcome.OSError = LastError_ = errno;
      return outcome;
    }
    LastError_ = 0;
    outcome.Delivered = true;
    outcome.ScsiStatus = hdr.status;
    outcome.HostStatus = static_cast<std::uint8_t>(std::min<unsigned>(hdr.host_status, 0xFF));
    outcome.DriverStatus = static_cast<std::uint8_t>(hdr.driver_status & ~kDriverSense & 0xFF);
    outcome.SenseLength = static_cast<std::uint8_t>(std::min<unsigned>(hdr.sb_len_wr, outcome.Sense.size()));
    outcome.Residual = hdr.resid > 0 ? static_cast<std::uint32_t>(hdr.resid) : 0;
    return outcome;
  }

  std::vector<std::string> ListGenericNodes() override {
    std::vector<std::pair<int, std::string>> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.size() < 3 || name.compare(0, 2, "sg") != 0) continue;
      int n = 0;
      auto [ptr, err] = std::from_chars(name.data() + 2, name.data() + name.size(), n);
      if (err != std::errc() || ptr != name.data() + name.size()) continue;
      found.emplace_back(n, "/dev/" + name);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto& [n, path] : found) nodes.push_back(std::move(path));
    LastError_ = 0;
    return nodes;
  }

  bool GetScsiId(TOSHandle handle, TSgScsiId& id) override {
    struct sg_scsi_id sid {};
    if (::ioctl(handle, SG_GET_SCSI_ID, &sid) != 0) {
      LastError_ = errno;
      return false;
    }
    LastError_ = 0;
    id.HostNo = sid.host_no;
    id.Channel = sid.channel;
    id.ScsiId = sid.scsi_id;
    id.Lun = sid.lun;
    id.ScsiType = sid.scsi_type;
    return true;
  }

  int LastError() const override { return LastError_; }

 private:
  int LastError_ = 0;
};

}  // namespace

std::unique_ptr<cvOSLayer> CreateLinuxOSLayer() { return std::make_unique<cvLinuxOSLayer>(); }

}  // namespace cv
