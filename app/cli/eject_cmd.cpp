// corvid-burn eject: flushes the drive's cache and opens the tray.
#include <memory>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"

namespace {

int Eject(const std::string& device) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;
  burner.SynchronizeCache(false);
  burner.TakeLastError();  // nothing to flush is not a failure
  if (!burner.EjectMedium(true)) return cli::Fail("cannot open the tray: " + cli::Reason(burner));
  return cli::kExitOk;
}

cli::Registrar reg{{"eject", "Open the drive's tray", 32, [](CLI::App& sub) -> cli::Runner {
                      auto device = std::make_shared<std::string>();
                      cli::AddDeviceOption(sub, *device);
                      return [device] { return Eject(*device); };
                    }}};

}  // namespace
