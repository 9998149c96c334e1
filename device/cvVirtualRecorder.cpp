#include "device/cvVirtualRecorder.h"

namespace cv {

// Placeholder until the recorder itself lands: no virtual drive.
std::unique_ptr<cvTransport> OpenVirtualRecorder() { return nullptr; }

}  // namespace cv
