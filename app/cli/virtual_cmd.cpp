// corvid-burn virtual: shows and changes the virtual recorder (its medium,
// settings and faults), a thin client of cv::cvVirtualControl; serves it to
// other programs as a drive node (serve, run: virtual_bridge.h).
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "app/cli/virtual_bridge.h"
#include "vrecorder/cvVirtualControl.h"

namespace {

struct Options {
  bool Json = false;
  std::string Type;
  std::vector<std::string> Assignments;
  std::string Socket;
  std::string Node;
  std::vector<std::string> Command;
};

cli::Registrar reg{{"virtual", "Show or change the virtual recorder (show, insert, set, reset, serve, run)", 20,
                    [](CLI::App& sub) -> cli::Runner {
                      auto o = std::make_shared<Options>();
                      sub.require_subcommand(1);
                      CLI::App* show = sub.add_subcommand("show", "Show the medium, tracks, settings and faults");
                      show->add_flag("--json", o->Json, "Print JSON");
                      CLI::App* insert = sub.add_subcommand("insert", "Put a new medium in the tray");
                      insert->add_option("TYPE", o->Type,
                                         "none, cdrom, cdr74, cdr80, cdrw74, cdrw80, dvdrom, dvdr, dvd+r, dvdram, "
                                         "dvdrw-ro, dvdrw, dvd+rw")
                          ->required();
                      CLI::App* set = sub.add_subcommand("set", "Change settings and faults (KEY=VALUE...)");
                      set->add_option("KEY=VALUE", o->Assignments,
                                      "speed, buffer-kib, time-scale, keep-disc, busy-writes, not-ready-writes, "
                                      "write-error-at, fail-opcode, block-descriptor, page05-length, "
                                      "blank-refused, vanish-after-writes, trace")
                          ->required();
                      CLI::App* reset = sub.add_subcommand("reset", "Clear every fault");
                      CLI::App* serve = sub.add_subcommand("serve", "Serve the recorder to other programs until stopped");
                      serve->add_option("--socket", o->Socket, "Socket path (default: server.sock in its directory)");
                      CLI::App* run = sub.add_subcommand(
                          "run", "Run a command that sees the recorder as a drive node (-- COMMAND [ARGS...])");
                      run->add_option("--node", o->Node, "The node, /dev/srN (default: the first that does not exist)");
                      run->add_option("COMMAND", o->Command, "The command and its arguments, after --")->required();
                      return [o, show, insert, set, reset, serve, run]() -> int {
                        if (serve->parsed()) return cli::VirtualServe(o->Socket);
                        if (run->parsed()) return cli::VirtualRun(o->Node, o->Command);
                        cv::cvVirtualControl control;
                        if (show->parsed()) {
                          nlohmann::json report;
                          if (!control.Show(report)) return cli::Fail(control.Error());
                          if (o->Json) std::cout << report.dump(2) << '\n';
                          else std::cout << cv::cvVirtualControl::ShowText(report);
                          return cli::kExitOk;
                        }
                        bool ok = false;
                        if (insert->parsed()) ok = control.Insert(o->Type);
                        else if (set->parsed()) ok = control.Set(o->Assignments);
                        else if (reset->parsed()) ok = control.Reset();
                        else return cli::UsageError("virtual: show, insert, set or reset");
                        if (ok) return cli::kExitOk;
                        return control.BadInput() ? cli::UsageError(control.Error()) : cli::Fail(control.Error());
                      };
                    }}};

}  // namespace
