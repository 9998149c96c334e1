// The ASPI-shaped layer over /dev/sg*.
#include "device/cvASPI.h"

#include <algorithm>

#include "device/cvSCSILib.h"

namespace cv {

// One sg node as a transport: SG_IO on its open descriptor.
class cvASPILayer::TNodeTransport final : public cvTransport {
 public:
  TNodeTransport(cvOSLayer& os, TOSHandle handle) : OS_(os), Handle_(handle) {}
  TScsiOutcome Execute(const TScsiCommand& command) override { return OS_.SgIo(Handle_, command); }

 private:
  cvOSLayer& OS_;
  TOSHandle Handle_;
};

cvASPILayer::cvASPILayer(cvOSLayer& os) : OS_(os) {}

cvASPILayer::~cvASPILayer() {
  for (TNode& node : Nodes_)
    if (node.Handle != kInvalidHandle) OS_.Close(node.Handle);
}

bool cvASPILayer::Load() {
  int highestHost = -1;
  for (const std::string& path : OS_.ListGenericNodes()) {
    TOSHandle fd = OS_.Open(path, true);
    if (fd == kInvalidHandle) fd = OS_.Open(path, false);
    if (fd == kInvalidHandle) continue;
    TNode node;
    node.Path = path;
    node.Handle = fd;
    node.Transport = std::make_shared<TNodeTransport>(OS_, fd);
    node.HasAddress = OS_.GetScsiId(fd, node.Id) && node.Id.HostNo >= 0 && node.Id.HostNo <= 254 &&
                      node.Id.ScsiId >= 0 && node.Id.ScsiId <= 255 && node.Id.Lun >= 0 && node.Id.Lun <= 255;
    if (node.HasAddress) highestHost = std::max(highestHost, node.Id.HostNo);
    Nodes_.push_back(std::move(node));
  }
  AdapterCount_ = static_cast<std::uint8_t>(highestHost + 1);
  return Loaded();
}

std::uint32_t cvASPILayer::GetASPI32SupportInfo() const {
  if (!Loaded()) return 0;
  return (std::uint32_t{SS_COMP} << 8) | AdapterCount_;
}

const cvASPILayer::TNode* cvASPILayer::Find(std::uint8_t haId, std::uint8_t target, std::uint8_t lun) const {
  for (const TNode& node : Nodes_)
    if (node.HasAddress && node.Id.HostNo == haId && node.Id.ScsiId == target && node.Id.Lun == lun) return &node;
  return nullptr;
}

std::string cvASPILayer::NodePath(std::uint8_t haId, std::uint8_t target, std::uint8_t lun) const {
  const TNode* node = Find(haId, target, lun);
  return node ? node->Path : std::string();
}

cvTransport* cvASPILayer::NodeTransport(std::uint8_t haId, std::uint8_t target, std::uint8_t lun) const {
  const TNode* node = Find(haId, target, lun);
  return node ? node->Transport.get() : nullptr;
}

std::uint8_t cvASPILayer::SendASPI32Command(SRB_HAInquiry& srb) {
  ++RequestsServed_;
  if (srb.SRB_Cmd != SC_HA_INQUIRY) return srb.SRB_Status = SS_INVALID_CMD;
  if (!Loaded()) return srb.SRB_Status = SS_NO_ADAPTERS;
  if (AdapterCount_ != 0 && srb.SRB_HaId >= AdapterCount_) return srb.SRB_Status = SS_INVALID_HA;
  srb.HA_Count = AdapterCount_;
  srb.HA_SCSI_ID = 7;
  return srb.SRB_Status = SS_COMP;
}

std::uint8_t cvASPILayer::SendASPI32Command(TExecRequest& srb) {
  ++RequestsServed_;
  if (srb.Command != SC_EXEC_SCSI_CMD) return srb.Status = SS_INVALID_CMD;
  const TNode* node = Find(srb.HaId, srb.Target, srb.Lun);
  if (node == nullptr) return srb.Status = SS_NO_DEVICE;
  (void)RunRequest(*node->Transport, srb);
  if (srb.Event) srb.Event->Set();
  return srb.Status;
}

std::uint8_t cvASPILayer::SendASPI32Command(SRB_GetDiskInfo& srb) {
  ++RequestsServed_;
  return srb.SRB_Status = SS_INVALID_CMD;
}

}  // namespace cv
