// corvid-burn free: the free space of the inserted disc.
#include <iostream>
#include <memory>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"
#include "device/cvSCSILib.h"

namespace {

int Free(const std::string& device) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;
  const std::int32_t sectors = burner.GetFreeSpace();
  if (sectors < 0) return cli::Fail("cannot read the free space: " + cli::Reason(burner));
  std::cout << "Free Space : " << cv::SectorsToMSFText(static_cast<std::uint32_t>(sectors)) << " (" << sectors
            << " sectors)\n";
  return cli::kExitOk;
}

cli::Registrar reg{{"free", "Show the free space of the inserted disc", 34, [](CLI::App& sub) -> cli::Runner {
                      auto device = std::make_shared<std::string>();
                      cli::AddDeviceOption(sub, *device);
                      return [device] { return Free(*device); };
                    }}};

}  // namespace
