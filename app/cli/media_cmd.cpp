// corvid-burn media: the kind of disc in the drive.
#include <iostream>
#include <memory>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"

namespace {

int Media(const std::string& device) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;
  const std::int32_t medium = burner.GetMediumType();
  if (medium < 0) return cli::Fail("cannot read the medium type: " + cli::Reason(burner));
  std::cout << cv::MediumTypeName(static_cast<std::uint8_t>(medium)) << '\n';
  return cli::kExitOk;
}

cli::Registrar reg{{"media", "Show the kind of disc in the drive", 35, [](CLI::App& sub) -> cli::Runner {
                      auto device = std::make_shared<std::string>();
                      cli::AddDeviceOption(sub, *device);
                      return [device] { return Media(*device); };
                    }}};

}  // namespace
