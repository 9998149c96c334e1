// The command-line tool corvid-burn: a thin client of the burning library.
//
// Every subcommand lives in its own file and registers itself with a static
// Registrar, so that adding one never touches another:
//
//   static cli::Registrar reg{{"devices", "List the CD/DVD drives", 10,
//       [](CLI::App& sub) -> cli::Runner {
//           auto json = std::make_shared<bool>(false);
//           sub.add_flag("--json", *json, "Print a JSON array");
//           return [json] { return ListDevices(*json); };
//       }}};
//
// A runner returns the process's exit status: kExitOk, kExitError (with a
// one-line message on standard error, see Fail) or kExitUsage. Usage errors
// found by the parser exit with kExitUsage without running anything.
#pragma once

#include <functional>
#include <string>

#include <CLI/CLI.hpp>

namespace cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;

using Runner = std::function<int()>;

struct Command {
  std::string name;
  std::string description;
  int order = 100;  // position in --help
  // Declares the subcommand's options and positionals on sub and returns the
  // routine that runs it once the whole command line has been parsed.
  std::function<Runner(CLI::App& sub)> setup;
};

struct Registrar {
  explicit Registrar(Command command);
};

// Prints "corvid-burn: <message>" on standard error and returns kExitError.
int Fail(const std::string& message);

// Prints "corvid-burn: <message>" on standard error and returns kExitUsage.
int UsageError(const std::string& message);

// True with --verbose (given before or after the subcommand): the decoder's
// diagnostic lines are printed too.
bool Verbose();

}  // namespace cli
