// corvid-burn erase: blanks a rewritable disc (quick unless --full) or
// formats a DVD+RW / DVD-RAM.
#include <iostream>
#include <memory>

#include "app/cli/burner_session.h"
#include "app/cli/cli.h"

namespace {

int Erase(const std::string& device, bool full) {
  cli::BurnerSession session;
  if (std::string problem = cli::OpenBurner(session, device); !problem.empty()) return cli::Fail(problem);
  cv::TKAudioCDBurner& burner = *session.Burner;

  bool done = false;
  bool withError = false;
  std::string message;
  burner.OnEraseDone = [&](cv::TKAudioCDBurner* sender, std::uint16_t, bool error) {
    done = true;
    withError = error;
    if (!error) {
      message = "Erase Done!";
      return;
    }
    message = "Erase Done Failed! +(" + sender->GetErrorText() + ")";
    if (const std::string detail = sender->GetErrorDetail(); !detail.empty()) message += " - " + detail;
  };
  if (!burner.Erase(!full)) return cli::Fail("Erase Not Started! (" + cli::Reason(burner) + ")");
  cli::WaitForJob(session, [&] { return done; }, true);
  if (!done) return cli::Fail("Erase Done Failed! +(no answer from the burner)");
  if (withError) return cli::Fail(message);
  std::cout << message << '\n';
  return cli::kExitOk;
}

cli::Registrar reg{{"erase", "Erase a rewritable disc (quick unless --full)", 31, [](CLI::App& sub) -> cli::Runner {
                      auto device = std::make_shared<std::string>();
                      auto full = std::make_shared<bool>(false);
                      cli::AddDeviceOption(sub, *device);
                      sub.add_flag("--full", *full, "Blank the whole disc, not only its table of contents");
                      return [device, full] { return Erase(*device, *full); };
                    }}};

}  // namespace
