// The virtual recorder: an emulated MMC CD/DVD recorder that keeps its disc
// as files (disc.bin + disc.cue) in a state directory. It is a transport of
// the device layer, listed after every real drive.
#pragma once

#include <memory>

#include "device/cvTransport.h"

namespace cv {

// Opens the recorder on its state directory ($CORVID_VIRTUAL_RECORDER, else
// $XDG_DATA_HOME/corvid-burner/virtual-recorder). Answers nullptr when the
// recorder is switched off (CORVID_VIRTUAL_RECORDER=off).
std::unique_ptr<cvTransport> OpenVirtualRecorder();

}  // namespace cv
