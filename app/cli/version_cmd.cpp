// corvid-burn version: the same text as --version, as a subcommand for scripts.
#include <iostream>

#include "app/cli/cli.h"

namespace {

cli::Registrar reg{{"version", "Print the program's version", 1000, [](CLI::App&) -> cli::Runner {
                      return [] {
                        std::cout << "corvid-burn " << CORVID_VERSION << '\n';
                        return cli::kExitOk;
                      };
                    }}};

}  // namespace
