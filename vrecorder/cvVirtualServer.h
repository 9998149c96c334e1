// The recorder server: one process owns the virtual recorder (its directory
// lock, its timing, its state) and runs the SCSI commands that arrive over a
// UNIX stream socket in the wire format of cvVirtualWire.h. Each connection
// stands for one open() of the drive node; a second exclusive open is
// refused with EBUSY, as a block device refuses a second exclusive claim.
// A connection that ends without its close message is a bus reset: the
// drive drops the host's medium lock and reports unit attention 6/29/00.
//
// Owner: `corvid-burn virtual serve` and `virtual run` (one object each).
// Threads: Start and Stop from the owner's thread. The server owns an
// accept thread and one thread per connection (std::jthread, joined by Stop
// and the destructor); every wait in them is a poll with a short period that
// checks the stop request, and a message that has begun must be finished
// within kMessageDeadline. Commands reach the recorder one at a time (the
// recorder serialises them); a command that has begun always completes and
// saves its state before the server stops, so nothing is left half-written.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "vrecorder/cvVirtualRecorder.h"

namespace cv {

class cvVirtualServer {
 public:
  // The longest a client may take to send the rest of a message it began.
  static constexpr std::chrono::milliseconds kMessageDeadline{10000};

  cvVirtualServer();
  ~cvVirtualServer();
  cvVirtualServer(const cvVirtualServer&) = delete;
  cvVirtualServer& operator=(const cvVirtualServer&) = delete;

  // Opens the recorder on directory and listens on socketPath (a stale
  // socket file that nobody answers is replaced). False, with Error(), when
  // the recorder is used by another process, the socket path is taken by a
  // live server, too long, or cannot be bound.
  [[nodiscard]] bool Start(const std::filesystem::path& directory, const std::filesystem::path& socketPath);
  // Stops accepting, lets each command in progress complete, closes every
  // connection, joins the threads, removes the socket file and releases the
  // recorder (saving its state). Idempotent.
  void Stop();

  bool Running() const { return Running_; }
  const std::string& Error() const { return Error_; }
  // Connections served so far and those open now (diagnostics and tests).
  unsigned ConnectionsServed() const { return Served_; }
  unsigned OpenConnections() const { return Open_; }

  // The socket a recorder directory's server listens on by default.
  static std::filesystem::path DefaultSocket(const std::filesystem::path& directory);
  // True when a server answers on socketPath.
  static bool Answers(const std::filesystem::path& socketPath);

 private:
  struct TConnection;
  void AcceptLoop(std::stop_token stop);
  void Serve(std::stop_token stop, TConnection& connection);
  void ReapFinished();

  std::unique_ptr<cvVirtualRecorderPort> Recorder_;
  std::filesystem::path SocketPath_;
  int ListenFd_ = -1;
  std::string Error_;
  std::atomic<bool> Running_{false};
  std::atomic<unsigned> Served_{0};
  std::atomic<unsigned> Open_{0};

  std::mutex Mutex_;  // guards Connections_ and Exclusive_
  std::list<std::unique_ptr<TConnection>> Connections_;
  bool Exclusive_ = false;  // an exclusive open holds the drive

  std::jthread Acceptor_;  // declared last: joined before the members it uses go
};

}  // namespace cv
