// corvid-burn virtual serve / virtual run: the virtual recorder as a drive
// node for any program (see cvVirtualServer.h and bridge/cvBridge.c).
#include "app/cli/virtual_bridge.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "app/cli/cli.h"
#include "vrecorder/cvVirtualServer.h"
#include "vrecorder/cvVirtualState.h"

extern char** environ;

namespace cli {

namespace {

namespace fs = std::filesystem;

// Signals that end a server (serve) or are passed on to the command (run).
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

bool NodeExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// The first prefixN (N below 256) that does not exist; empty when none.
std::string FirstFreeNode(const std::string& prefix, int limit) {
  for (int n = 0; n < limit; ++n) {
    std::string path = prefix + std::to_string(n);
    if (!NodeExists(path)) return path;
  }
  return {};
}

bool ValidNode(const std::string& node) {
  const std::string prefix = "/dev/sr";
  if (node.size() <= prefix.size() || node.compare(0, prefix.size(), prefix) != 0) return false;
  for (std::size_t i = prefix.size(); i < node.size(); ++i)
    if (node[i] < '0' || node[i] > '9') return false;
  return node.size() - prefix.size() <= 3 && std::stoi(node.substr(prefix.size())) < 256;
}

// The preload library: beside an installed program in
// <prefix>/lib*/corvid-burner/, in the build tree in bridge/.
std::string FindBridgeLibrary() {
  if (const char* given = std::getenv("CORVID_BRIDGE_LIBRARY"); given && *given) return given;
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  const fs::path dir = exe.parent_path();
  const char* name = "libcorvid-bridge.so";
  for (const fs::path& candidate : {dir.parent_path() / "bridge" / name, dir.parent_path() / CORVID_LIBDIR / "corvid-burner" / name}) {
    if (fs::exists(candidate, ec)) return candidate.string();
  }
  return {};
}

void SetEnv(std::vector<std::string>& env, const std::string& name, const std::string& value) {
  const std::string key = name + "=";
  for (std::string& entry : env) {
    if (entry.compare(0, key.size(), key) == 0) {
      entry = key + value;
      return;
    }
  }
  env.push_back(key + value);
}

std::string GetEnv(const std::vector<std::string>& env, const std::string& name) {
  const std::string key = name + "=";
  for (const std::string& entry : env)
    if (entry.compare(0, key.size(), key) == 0) return entry.substr(key.size());
  return {};
}

}  // namespace

int VirtualServe(const std::string& socketOption) {
  const fs::path directory = cv::VirtualRecorderDirectory();
  if (directory.empty())
    return Fail("the virtual recorder is switched off (CORVID_VIRTUAL_RECORDER=off); unset it to serve it");
  const fs::path socket = socketOption.empty() ? cv::cvVirtualServer::DefaultSocket(directory) : fs::path(socketOption);

  // The server's threads must not take the stop signals: this thread waits
  // for them.
  sigset_t stops = StopSignals();
  pthread_sigmask(SIG_BLOCK, &stops, nullptr);
  cv::cvVirtualServer server;
  if (!server.Start(directory, socket)) return Fail(server.Error());
  std::cerr << "corvid-burn: serving the virtual recorder in " << directory.string() << " on " << socket.string()
            << " (stop with SIGTERM or Ctrl-C)" << std::endl;
  int signal = 0;
  sigwait(&stops, &signal);
  server.Stop();
  std::cerr << "corvid-burn: server stopped" << std::endl;
  return kExitOk;
}

int VirtualRun(const std::string& nodeOption, const std::vector<std::string>& command) {
  if (command.empty()) return UsageError("virtual run: give the command to run after --");
  const fs::path directory = cv::VirtualRecorderDirectory();
  if (directory.empty())
    return Fail("the virtual recorder is switched off (CORVID_VIRTUAL_RECORDER=off); unset it to use it");

  std::string node = nodeOption;
  if (node.empty()) {
    node = FirstFreeNode("/dev/sr", 24);
    if (node.empty()) return Fail("no free node name /dev/sr0 .. /dev/sr23 for the virtual recorder");
  } else if (!ValidNode(node)) {
    return UsageError("--node: expected /dev/srN with N below 256, got " + node);
  } else if (NodeExists(node)) {
    return Fail(node + " exists (a real drive?); choose a free name with --node");
  }
  const std::string generic = FirstFreeNode("/dev/sg", 256);
  if (generic.empty()) return Fail("no free node name /dev/sgN for the virtual recorder");

  const std::string library = FindBridgeLibrary();
  if (library.empty())
    return Fail("cannot find libcorvid-bridge.so (install the project, or set CORVID_BRIDGE_LIBRARY)");

  char pattern[] = "/tmp/corvid-bridge-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) return Fail(std::string("cannot make a temporary directory: ") + std::strerror(errno));
  const fs::path bridgeDir = made;
  struct Cleanup {
    fs::path Dir;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(Dir, ec);
    }
  } cleanup{bridgeDir};

  // Signals: blocked here (the server's threads must not take them) and
  // passed on to the command while it runs.
  sigset_t stops = StopSignals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stops, &previous);

  fs::path socket = cv::cvVirtualServer::DefaultSocket(directory);
  cv::cvVirtualServer server;
  if (!cv::cvVirtualServer::Answers(socket)) {
    if (!server.Start(directory, socket)) {
      // A socket path too long for the recorder directory: a private one.
      socket = bridgeDir / "server.sock";
      if (!server.Start(directory, socket)) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return Fail(server.Error());
      }
    }
  }

  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  const std::string preload = GetEnv(env, "LD_PRELOAD");
  SetEnv(env, "LD_PRELOAD", preload.empty() ? library : library + ":" + preload);
  SetEnv(env, "CORVID_BRIDGE_SOCKET", socket.string());
  SetEnv(env, "CORVID_BRIDGE_NODE", node);
  SetEnv(env, "CORVID_BRIDGE_SG", generic);
  SetEnv(env, "CORVID_BRIDGE_DIR", bridgeDir.string());
  // A corvid-burn run as the command sees the recorder as the node only.
  SetEnv(env, "CORVID_VIRTUAL_RECORDER", "off");
  // A program built with AddressSanitizer wants its run time first among
  // the libraries; the bridge (built without it) comes first here.
  const std::string asan = GetEnv(env, "ASAN_OPTIONS");
  if (asan.find("verify_asan_link_order") == std::string::npos)
    SetEnv(env, "ASAN_OPTIONS", asan.empty() ? "verify_asan_link_order=0" : asan + ":verify_asan_link_order=0");

  std::vector<char*> argv;
  for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setsigmask(&attributes, &previous);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t child = -1;
  int spawned = posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), envp.data());
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    server.Stop();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return Fail("cannot run " + command[0] + ": " + std::strerror(spawned));
  }
  std::cerr << "corvid-burn: the virtual recorder is " << node << " for " << command[0] << std::endl;

  // Waits for the command, passing stop signals on to it.
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) {
      status = -1;
      break;
    }
    timespec period{0, 100 * 1000 * 1000};
    int signal = sigtimedwait(&stops, nullptr, &period);
    if (signal > 0) ::kill(child, signal);
  }
  server.Stop();
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (status == -1) return Fail("lost track of " + command[0]);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kExitError;
}

}  // namespace cli
