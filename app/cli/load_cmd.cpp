// corvid-burn load: closes the drive's tray.
#include <memory>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"

namespace {

int Load(const std::string& device) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;
  if (!burner.LoadMedium(true)) return cli::Fail("cannot close the tray: " + cli::Reason(burner));
  return cli::kExitOk;
}

cli::Registrar reg{{"load", "Close the drive's tray", 33, [](CLI::App& sub) -> cli::Runner {
                      auto device = std::make_shared<std::string>();
                      cli::AddDeviceOption(sub, *device);
                      return [device] { return Load(*device); };
                    }}};

}  // namespace
