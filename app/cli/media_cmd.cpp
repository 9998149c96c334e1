// corvid-burn media: the kind of disc in the drive, and the write speeds
// the drive lists (for burn --speed).
#include <iostream>
#include <memory>
#include <vector>

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
  const std::vector<std::uint16_t> speeds = burner.GetWriteSpeeds();
  std::cout << "Write speeds:";
  if (speeds.empty()) std::cout << " none listed by the drive";
  for (const std::uint16_t x : speeds) std::cout << ' ' << x << 'x';
  std::cout << '\n';
  return cli::kExitOk;
}

cli::Registrar reg{{"media", "Show the kind of disc in the drive and the write speeds the drive lists", 35, [](CLI::App& sub) -> cli::Runner {
                      auto device = std::make_shared<std::string>();
                      cli::AddDeviceOption(sub, *device);
                      return [device] { return Media(*device); };
                    }}};

}  // namespace
