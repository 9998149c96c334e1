// A double of the OS layer for the device tests: any set of optical (sr) and
// generic (sg) nodes, each backed by a scripted drive that records every
// command it gets and answers from per-opcode scripts.
#pragma once

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/cvOSLayer.h"
#include "device/cvTransport.h"
#include "device/cvTransportSource.h"

namespace cvtest {

using cv::TScsiCommand;
using cv::TScsiOutcome;

// One answer of a scripted drive.
struct Answer {
  std::vector<std::uint8_t> Data;  // copied into the data-in buffer, cut to its size
  std::uint8_t Status = cv::kScsiGood;
  std::uint8_t SenseKey = 0, Asc = 0, Ascq = 0;
  bool Delivered = true;
  int OSError = 0;

  static Answer Good(std::vector<std::uint8_t> data = {}) {
    Answer a;
    a.Data = std::move(data);
    return a;
  }
  static Answer Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    Answer a;
    a.Status = cv::kScsiCheckCondition;
    a.SenseKey = key;
    a.Asc = asc;
    a.Ascq = ascq;
    return a;
  }
  static Answer Busy() {
    Answer a;
    a.Status = cv::kScsiBusy;
    return a;
  }
  static Answer Gone(int error) {
    Answer a;
    a.Delivered = false;
    a.OSError = error;
    return a;
  }
};

// What a drive was sent.
struct Sent {
  std::vector<std::uint8_t> Cdb;
  cv::TDataDirection Direction = cv::TDataDirection::None;
  std::size_t DataLength = 0;
  std::vector<std::uint8_t> DataOut;  // the bytes of a data-out command
  std::string Node;                   // node or transport it went through
};

// An MMC drive answering from scripts: per opcode a queue of answers (the
// last one repeats); INQUIRY answers with the identity unless scripted.
struct ScriptedDrive {
  std::string Vendor = "VENDOR  ";
  std::string Product = "PRODUCT         ";
  std::string Revision = "1.00";
  std::uint8_t PeripheralType = 5;
  std::string Unavailable;  // what a transport over it says stands in the way
  std::map<std::uint8_t, std::deque<Answer>> Scripts;
  std::vector<Sent> Log;

  void Script(std::uint8_t opcode, Answer answer) { Scripts[opcode].push_back(std::move(answer)); }
  void Always(std::uint8_t opcode, Answer answer) {
    Scripts[opcode].clear();
    Scripts[opcode].push_back(std::move(answer));
  }

  std::vector<std::uint8_t> InquiryData() const {
    std::vector<std::uint8_t> d(64, 0);
    d[0] = PeripheralType;
    d[1] = 0x80;
    d[4] = 31;
    auto put = [&](std::size_t at, const std::string& s, std::size_t width) {
      for (std::size_t i = 0; i < width; ++i) d[at + i] = i < s.size() ? static_cast<std::uint8_t>(s[i]) : ' ';
    };
    put(8, Vendor, 8);
    put(16, Product, 16);
    put(32, Revision, 4);
    return d;
  }

  TScsiOutcome Execute(const TScsiCommand& command, const std::string& node) {
    Sent sent;
    sent.Cdb.assign(command.Cdb.begin(), command.Cdb.end());
    sent.Direction = command.Direction;
    sent.DataLength = command.Data.size();
    if (command.Direction == cv::TDataDirection::ToDevice) sent.DataOut.assign(command.Data.begin(), command.Data.end());
    sent.Node = node;
    Log.push_back(sent);

    std::uint8_t opcode = sent.Cdb.empty() ? 0xFF : sent.Cdb[0];
    Answer answer;
    auto it = Scripts.find(opcode);
    if (it != Scripts.end() && !it->second.empty()) {
      answer = it->second.front();
      if (it->second.size() > 1) it->second.pop_front();
    } else if (opcode == 0x12) {
      answer = Answer::Good(InquiryData());
    }
    TScsiOutcome outcome;
    outcome.Delivered = answer.Delivered;
    outcome.OSError = answer.OSError;
    if (!answer.Delivered) return outcome;
    outcome.ScsiStatus = answer.Status;
    if (answer.Status == cv::kScsiCheckCondition) {
      outcome.Sense[0] = 0x70;
      outcome.Sense[2] = answer.SenseKey;
      outcome.Sense[7] = 10;
      outcome.Sense[12] = answer.Asc;
      outcome.Sense[13] = answer.Ascq;
      outcome.SenseLength = 18;
    }
    if (command.Direction == cv::TDataDirection::FromDevice) {
      std::size_t n = std::min(answer.Data.size(), command.Data.size());
      if (n > 0) std::memcpy(command.Data.data(), answer.Data.data(), n);
      outcome.Residual = static_cast<std::uint32_t>(command.Data.size() - n);
    }
    return outcome;
  }

  // Commands with this opcode, in order.
  std::vector<Sent> Commands(std::uint8_t opcode) const {
    std::vector<Sent> out;
    for (const Sent& s : Log)
      if (!s.Cdb.empty() && s.Cdb[0] == opcode) out.push_back(s);
    return out;
  }
};

// A transport over a scripted drive (stands in for the virtual recorder).
class FakeTransport : public cv::cvTransport {
 public:
  explicit FakeTransport(std::shared_ptr<ScriptedDrive> drive) : Drive_(std::move(drive)) {}
  TScsiOutcome Execute(const TScsiCommand& command) override { return Drive_->Execute(command, "virtual"); }
  std::string Unavailable() const override { return Drive_->Unavailable; }

 private:
  std::shared_ptr<ScriptedDrive> Drive_;
};

struct FakeNode {
  std::string Path;
  bool OpensReadWrite = true;
  bool OpensReadOnly = true;
  int OpenError = 13;            // errno of an open that fails (EACCES)
  bool HeldElsewhere = false;    // another process holds it exclusively
  int Holder = 0;                // its pid, as HolderOf finds it
  std::string Group;             // the group that owns the node
  std::optional<cv::TScsiAddress> Address;  // sr: SCSI_IOCTL_GET_IDLUN/BUS_NUMBER
  std::optional<cv::TSgScsiId> SgId;        // sg: SG_GET_SCSI_ID
  std::shared_ptr<ScriptedDrive> Drive = std::make_shared<ScriptedDrive>();
};

class FakeOSLayer : public cv::cvOSLayer {
 public:
  // Nodes as the test sets them up.
  std::deque<FakeNode> Optical;  // a deque: references to nodes stay valid
  std::deque<FakeNode> Generic;
  // The virtual recorder's drive; nullptr: the recorder is off.
  std::shared_ptr<ScriptedDrive> Recorder;

  // Counters.
  int Opens = 0, Closes = 0, SgIoCalls = 0, RecorderOpens = 0, ExclusiveOpens = 0;
  std::map<cv::TOSHandle, std::string> OpenHandles;

  FakeNode& AddOptical(const std::string& path, std::optional<cv::TScsiAddress> address) {
    FakeNode node;
    node.Path = path;
    node.Address = address;
    Optical.push_back(node);
    return Optical.back();
  }
  FakeNode& AddGeneric(const std::string& path, std::optional<cv::TSgScsiId> id) {
    FakeNode node;
    node.Path = path;
    node.SgId = id;
    Generic.push_back(node);
    return Generic.back();
  }

  std::vector<std::string> ListOpticalNodes() override {
    std::vector<std::string> out;
    for (const FakeNode& n : Optical) out.push_back(n.Path);
    return out;
  }

  cv::TOSHandle Open(const std::string& path, bool readWrite) override {
    ++Opens;
    const FakeNode* node = Find(path);
    if (node == nullptr || !(readWrite ? node->OpensReadWrite : node->OpensReadOnly)) {
      LastError_ = node == nullptr ? 2 /*ENOENT*/ : node->OpenError;
      return cv::kInvalidHandle;
    }
    cv::TOSHandle fd = NextHandle_++;
    OpenHandles[fd] = path;
    LastError_ = 0;
    return fd;
  }

  cv::TOSHandle OpenExclusive(const std::string& path) override {
    ++ExclusiveOpens;
    const FakeNode* node = Find(path);
    if (node != nullptr && node->HeldElsewhere) {
      ++Opens;
      LastError_ = 16;  // EBUSY
      return cv::kInvalidHandle;
    }
    return Open(path, true);
  }

  int HolderOf(const std::string& path) override {
    const FakeNode* node = Find(path);
    return node ? node->Holder : 0;
  }

  std::string GroupOf(const std::string& path) override {
    const FakeNode* node = Find(path);
    return node ? node->Group : std::string();
  }

  bool Close(cv::TOSHandle handle) override {
    ++Closes;
    bool known = OpenHandles.erase(handle) == 1;
    LastError_ = known ? 0 : 9 /*EBADF*/;
    return known;
  }

  bool GetAddress(cv::TOSHandle handle, cv::TScsiAddress& address) override {
    const FakeNode* node = ByHandle(handle);
    if (node == nullptr || !node->Address) return false;
    address = *node->Address;
    return true;
  }

  TScsiOutcome SgIo(cv::TOSHandle handle, const TScsiCommand& command) override {
    ++SgIoCalls;
    FakeNode* node = ByHandle(handle);
    if (node == nullptr) {
      TScsiOutcome gone;
      gone.OSError = 9;  // EBADF
      LastError_ = 9;
      return gone;
    }
    TScsiOutcome outcome = node->Drive->Execute(command, node->Path);
    LastError_ = outcome.OSError;
    return outcome;
  }

  std::vector<std::string> ListGenericNodes() override {
    std::vector<std::string> out;
    for (const FakeNode& n : Generic) out.push_back(n.Path);
    return out;
  }

  bool GetScsiId(cv::TOSHandle handle, cv::TSgScsiId& id) override {
    const FakeNode* node = ByHandle(handle);
    if (node == nullptr || !node->SgId) return false;
    id = *node->SgId;
    return true;
  }

  int LastError() const override { return LastError_; }

 private:
  FakeNode* Find(const std::string& path) {
    for (FakeNode& n : Optical)
      if (n.Path == path) return &n;
    for (FakeNode& n : Generic)
      if (n.Path == path) return &n;
    return nullptr;
  }
  FakeNode* ByHandle(cv::TOSHandle handle) {
    auto it = OpenHandles.find(handle);
    return it == OpenHandles.end() ? nullptr : Find(it->second);
  }

  cv::TOSHandle NextHandle_ = 100;
  int LastError_ = 0;
};

inline cv::TScsiAddress Addr(std::uint8_t host, std::uint8_t target = 0, std::uint8_t lun = 0) {
  cv::TScsiAddress a;
  a.PortNumber = host;
  a.TargetId = target;
  a.Lun = lun;
  return a;
}

inline cv::TSgScsiId SgId(int host, int target = 0, int lun = 0, int type = 5) {
  cv::TSgScsiId id;
  id.HostNo = host;
  id.ScsiId = target;
  id.Lun = lun;
  id.ScsiType = type;
  return id;
}

// The fake's recorder as the transport source discovery is handed, as the
// front ends hand it the virtual recorder; each discovery counts an open.
inline std::vector<cv::TTransportSource> RecorderSources(FakeOSLayer& os) {
  FakeOSLayer* fake = &os;
  return {cv::TTransportSource{"virtual", [fake]() -> std::unique_ptr<cv::cvTransport> {
                                 ++fake->RecorderOpens;
                                 if (!fake->Recorder) return nullptr;
                                 return std::make_unique<FakeTransport>(fake->Recorder);
                               }}};
}

}  // namespace cvtest
