// corvid-burn virtual serve / virtual run: the virtual recorder as a drive
// node for any program. Serve runs the recorder server until SIGTERM (or
// Ctrl-C); run starts one for the command when none answers, runs the
// command with the bridge library preloaded, stops the server it started and
// answers the command's exit status.
#pragma once

#include <string>
#include <vector>

namespace cli {

int VirtualServe(const std::string& socket);
int VirtualRun(const std::string& node, const std::vector<std::string>& command);

}  // namespace cli
