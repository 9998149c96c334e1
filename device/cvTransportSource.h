// Transports that discovery lists after the drives the operating system
// shows: a drive that is not a kernel node (the virtual recorder). The device
// layer knows them only as cvTransport; whoever builds the program hands
// them in, so the device library never links what stands behind them.
//
// Threads: the process-wide list is set once by the front end at start-up,
// before any discovery; reads and writes of it are guarded by one mutex.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/cvTransport.h"

namespace cv {

struct TTransportSource {
  // What the device list shows as the entry's node ("virtual").
  std::string Path;
  // Opens the transport for one discovery; nullptr when it is not available
  // now (switched off, cannot be opened). The device object owns the result.
  std::function<std::unique_ptr<cvTransport>()> Open;
};

// The sources every device object built without an explicit list uses.
void SetTransportSources(std::vector<TTransportSource> sources);
std::vector<TTransportSource> TransportSources();

}  // namespace cv
