// Entry point of corvid-burn: parses the command line and runs one subcommand.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <memory>
#include <vector>

#include "app/cli/cli.h"
#include "vrecorder/cvVirtualRecorder.h"

#ifndef CORVID_VERSION
#define CORVID_VERSION "0.0.0"
#endif

namespace cli {
namespace {

std::vector<Command>& Commands() {
  static std::vector<Command> commands;
  return commands;
}

bool gVerbose = false;  // set once, by the parser, before any command runs

}  // namespace

Registrar::Registrar(Command command) { Commands().push_back(std::move(command)); }

int Fail(const std::string& message) {
  std::cerr << "corvid-burn: " << message << '\n';
  return kExitError;
}

bool Verbose() { return gVerbose; }

int UsageError(const std::string& message) {
  std::cerr << "corvid-burn: " << message << '\n';
  return kExitUsage;
}

}  // namespace cli

int main(int argc, char** argv) {
  // The virtual recorder is listed after the real drives.
  cv::UseVirtualRecorder();
  CLI::App app{"corvid-burn: write audio CDs from WAV, MP3, WMA and Ogg Vorbis files", "corvid-burn"};
  app.set_version_flag("--version", std::string("corvid-burn ") + CORVID_VERSION);
  app.require_subcommand(1);
  // Every option's --help shows its default.
  app.option_defaults()->always_capture_default();
  app.add_flag("-v,--verbose", cli::gVerbose,
               "Also print the decoder's diagnostics (codec warnings such as a filter it could not use before "
               "converting another way); off by default");

  auto& commands = cli::Commands();
  std::stable_sort(commands.begin(), commands.end(),
                   [](const cli::Command& a, const cli::Command& b) { return a.order < b.order; });

  std::vector<std::pair<CLI::App*, cli::Runner>> runners;
  for (const auto& command : commands) {
    CLI::App* sub = app.add_subcommand(command.name, command.description);
    sub->fallthrough();  // --verbose after the subcommand's name too
    sub->footer("Also: -v,--verbose prints the decoder's diagnostics (default: off).");
    runners.emplace_back(sub, command.setup(*sub));
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string text = e.what();
    std::cerr << "corvid-burn: " << text << " (see 'corvid-burn --help')\n";
    return cli::kExitUsage;
  }

  try {
    for (auto& [sub, run] : runners)
      if (sub->parsed()) return run();
  } catch (const std::exception& e) {
    return cli::Fail(e.what());
  }
  return cli::UsageError("no command given (see 'corvid-burn --help')");
}
