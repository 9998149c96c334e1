// The virtual recorder: an emulated MMC CD/DVD recorder that keeps its disc
// as files (disc.bin + disc.cue) in a state directory. It is a transport of
// the device layer, handed to discovery as a transport source and listed
// after every real drive.
//
// While a recorder object exists it holds the directory's lock; a recorder
// opened on a directory that another process (or another recorder object)
// holds answers every command with status BUSY until the lock comes free.
// Each command's effect on the state is saved to recorder.json before
// Execute returns, so a new process finds the drive as it was left.
//
// Threads: Execute may be called from any thread; commands are serialised.
#pragma once

#include <filesystem>
#include <memory>

#include "device/cvTransport.h"
#include "device/cvTransportSource.h"

namespace cv {

// Opens the recorder on its state directory ($CORVID_VIRTUAL_RECORDER, else
// $XDG_DATA_HOME/corvid-burner/virtual-recorder). Answers nullptr when the
// recorder is switched off (CORVID_VIRTUAL_RECORDER=off).
std::unique_ptr<cvTransport> OpenVirtualRecorder();

// Opens the recorder on the given state directory (created when missing).
std::unique_ptr<cvTransport> OpenVirtualRecorderAt(const std::filesystem::path& directory);

// The recorder with the host-side events a server passes on to it.
class cvVirtualRecorderPort : public cvTransport {
 public:
  // True while this object holds the directory's lock (it answers BUSY to
  // every command otherwise).
  virtual bool Owned() const = 0;
  // The last open of the drive node was closed: the host's medium lock is
  // released, as the kernel's CD driver does at the last close.
  virtual void AllowRemoval() = 0;
  // A bus reset (a client vanished mid-conversation): the medium lock is
  // released and the next command reports unit attention 6/29/00.
  virtual void BusReset() = 0;
};

// Opens the recorder for a server on the given state directory.
std::unique_ptr<cvVirtualRecorderPort> OpenVirtualRecorderPort(const std::filesystem::path& directory);

// The recorder as a transport source for discovery: node "virtual", opened
// by OpenVirtualRecorder on every discovery.
TTransportSource VirtualRecorderSource();
// Makes the recorder the process-wide transport source (front ends call it
// at start-up, before any discovery).
void UseVirtualRecorder();

}  // namespace cv
