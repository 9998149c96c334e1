#include "vrecorder/cvVirtualServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "vrecorder/cvVirtualWire.h"

namespace cv {

namespace {

constexpr int kPollPeriodMs = 100;

using Clock = std::chrono::steady_clock;

// A descriptor closed when it goes out of scope.
class TFd {
 public:
  explicit TFd(int fd = -1) : Fd_(fd) {}
  ~TFd() { Reset(); }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return Fd_; }
  void Reset(int fd = -1) {
    if (Fd_ >= 0) ::close(Fd_);
    Fd_ = fd;
  }
  int Release() {
    int fd = Fd_;
    Fd_ = -1;
    return fd;
  }

 private:
  int Fd_;
};

bool MakeAddress(const std::filesystem::path& path, sockaddr_un& address) {
  const std::string text = path.string();
  if (text.empty() || text.size() >= sizeof address.sun_path) return false;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  return true;
}

enum class TRead { Done, Closed, Failed };

// Reads exactly size bytes. Waiting for the first byte of a message lasts
// as long as the connection is idle (until a stop request); once a message
// has begun, the rest must come within the message deadline.
TRead ReadAll(int fd, std::uint8_t* data, std::size_t size, std::stop_token stop, bool messageStart) {
  std::size_t got = 0;
  auto deadline = Clock::now() + cvVirtualServer::kMessageDeadline;
  while (got < size) {
    if (stop.stop_requested()) return TRead::Failed;
    if ((got > 0 || !messageStart) && Clock::now() > deadline) return TRead::Failed;
    pollfd p{fd, POLLIN, 0};
    int r = ::poll(&p, 1, kPollPeriodMs);
    if (r < 0 && errno != EINTR) return TRead::Failed;
    if (r <= 0) continue;
    ssize_t n = ::recv(fd, data + got, size - got, 0);
    if (n == 0) return got == 0 && messageStart ? TRead::Closed : TRead::Failed;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return TRead::Failed;
    }
    if (got == 0) deadline = Clock::now() + cvVirtualServer::kMessageDeadline;
    got += static_cast<std::size_t>(n);
  }
  return TRead::Done;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  std::size_t sent = 0;
  const auto deadline = Clock::now() + cvVirtualServer::kMessageDeadline;
  while (sent < size) {
    if (Clock::now() > deadline) return false;
    pollfd p{fd, POLLOUT, 0};
    int r = ::poll(&p, 1, kPollPeriodMs);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    ssize_t n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

struct cvVirtualServer::TConnection {
  TFd Fd;
  std::atomic<bool> Finished{false};
  std::jthread Thread;  // last: joined before the descriptor closes
};

cvVirtualServer::cvVirtualServer() = default;

cvVirtualServer::~cvVirtualServer() { Stop(); }

std::filesystem::path cvVirtualServer::DefaultSocket(const std::filesystem::path& directory) {
  return directory / "server.sock";
}

bool cvVirtualServer::Answers(const std::filesystem::path& socketPath) {
  sockaddr_un address;
  if (!MakeAddress(socketPath, address)) return false;
  TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.Get() < 0) return false;
  return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

bool cvVirtualServer::Start(const std::filesystem::path& directory, const std::filesystem::path& socketPath) {
  if (Running_) {
    Error_ = "the server is already running";
    return false;
  }
  sockaddr_un address;
  if (!MakeAddress(socketPath, address)) {
    Error_ = "socket path too long (at most " + std::to_string(sizeof address.sun_path - 1) +
             " bytes): " + socketPath.string() + "; choose a shorter one with --socket";
    return false;
  }
  if (Answers(socketPath)) {
    Error_ = "a recorder server already listens on " + socketPath.string();
    return false;
  }
  auto recorder = OpenVirtualRecorderPort(directory);
  if (!recorder->Owned()) {
    Error_ = recorder->Unavailable() + " (" + directory.string() + "); stop that program first";
    return false;
  }

  TFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (fd.Get() < 0) {
    Error_ = std::string("cannot create a socket: ") + std::strerror(errno);
    return false;
  }
  // Nobody answers on it (checked above): the file is left from a server
  // that was killed.
  std::error_code ec;
  if (std::filesystem::is_socket(socketPath, ec)) std::filesystem::remove(socketPath, ec);
  if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd.Get(), 16) != 0) {
    Error_ = "cannot listen on " + socketPath.string() + ": " + std::strerror(errno);
    return false;
  }
  ::chmod(socketPath.c_str(), 0600);

  Recorder_ = std::move(recorder);
  SocketPath_ = socketPath;
  ListenFd_ = fd.Release();
  Running_ = true;
  Acceptor_ = std::jthread([this](std::stop_token stop) { AcceptLoop(stop); });
  return true;
}

void cvVirtualServer::Stop() {
  if (Acceptor_.joinable()) {
    Acceptor_.request_stop();
    Acceptor_.join();
  }
  std::list<std::unique_ptr<TConnection>> connections;
  {
    std::lock_guard lock(Mutex_);
    connections.swap(Connections_);
  }
  for (auto& c : connections) c->Thread.request_stop();
  connections.clear();  // joins each thread, then closes its descriptor
  if (ListenFd_ >= 0) {
    ::close(ListenFd_);
    ListenFd_ = -1;
    std::error_code ec;
    std::filesystem::remove(SocketPath_, ec);
  }
  Recorder_.reset();  // saves the state and releases the directory lock
  Running_ = false;
}

void cvVirtualServer::ReapFinished() {
  std::list<std::unique_ptr<TConnection>> done;
  {
    std::lock_guard lock(Mutex_);
    for (auto it = Connections_.begin(); it != Connections_.end();) {
      if ((*it)->Finished) {
        done.push_back(std::move(*it));
        it = Connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  done.clear();  // joins outside the lock
}

void cvVirtualServer::AcceptLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    ReapFinished();
    pollfd p{ListenFd_, POLLIN, 0};
    int r = ::poll(&p, 1, kPollPeriodMs);
    if (r <= 0) continue;
    int client = ::accept4(ListenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0) continue;
    auto connection = std::make_unique<TConnection>();
    connection->Fd.Reset(client);
    TConnection& ref = *connection;
    std::lock_guard lock(Mutex_);
    Connections_.push_back(std::move(connection));
    ref.Thread = std::jthread([this, &ref](std::stop_token s) { Serve(s, ref); });
  }
}

void cvVirtualServer::Serve(std::stop_token stop, TConnection& connection) {
  const int fd = connection.Fd.Get();
  ++Served_;
  bool exclusive = false;
  bool opened = false;
  bool closedCleanly = false;

  std::uint8_t openBytes[kCvWireOpenSize];
  TCvWireOpen open{};
  std::vector<std::uint8_t> path;
  if (ReadAll(fd, openBytes, sizeof openBytes, stop, true) == TRead::Done &&
      CvWireDecodeOpen(openBytes, &open) == 0) {
    path.resize(open.PathLength);
    if (path.empty() || ReadAll(fd, path.data(), path.size(), stop, false) == TRead::Done) {
      std::int32_t error = 0;
      {
        std::lock_guard lock(Mutex_);
        const bool wantsExclusive = (open.Flags & O_EXCL) != 0;
        if (Exclusive_ && wantsExclusive) {
          error = EBUSY;
        } else if (wantsExclusive) {
          Exclusive_ = exclusive = true;
        }
      }
      std::uint8_t reply[kCvWireOpenReplySize];
      CvWireEncodeOpenReply(error, reply);
      opened = WriteAll(fd, reply, sizeof reply) && error == 0;
      if (!opened && exclusive) {
        std::lock_guard lock(Mutex_);
        Exclusive_ = exclusive = false;
      }
    }
  }
  if (opened) ++Open_;

  std::vector<std::uint8_t> data;
  while (opened && !stop.stop_requested()) {
    std::uint8_t head[kCvWireRequestSize];
    TRead got = ReadAll(fd, head, sizeof head, stop, true);
    if (got != TRead::Done) break;
    TCvWireRequest request{};
    if (CvWireDecodeRequest(head, &request) != 0) break;  // not our protocol: drop it
    if (request.Close) {
      closedCleanly = true;
      break;
    }
    data.assign(request.DataLength, 0);
    if (request.Direction == kCvWireToDevice && !data.empty() &&
        ReadAll(fd, data.data(), data.size(), stop, false) != TRead::Done)
      break;

    TScsiCommand command;
    command.Cdb = std::span<const std::uint8_t>(request.Cdb, request.CdbLength);
    command.Direction = request.Direction == kCvWireFromDevice ? TDataDirection::FromDevice
                        : request.Direction == kCvWireToDevice ? TDataDirection::ToDevice
                                                               : TDataDirection::None;
    command.Data = data;
    command.TimeoutMs = request.TimeoutMs;
    // A command that has begun runs to its end, stop request or not: the
    // recorder saves its effect before Execute returns.
    TScsiOutcome outcome = Recorder_->Execute(command);

    TCvWireReply reply{};
    reply.Status = outcome.ScsiStatus;
    reply.HostStatus = outcome.HostStatus;
    reply.DriverStatus = outcome.DriverStatus;
    reply.OSError = outcome.Delivered ? 0 : (outcome.OSError != 0 ? outcome.OSError : EIO);
    reply.SenseLength = std::min<std::uint8_t>(outcome.SenseLength, kCvWireMaxSense);
    std::memcpy(reply.Sense, outcome.Sense.data(), reply.SenseLength);
    reply.Residual = std::min<std::uint32_t>(outcome.Residual, request.DataLength);
    reply.DataLength = request.Direction == kCvWireFromDevice ? request.DataLength - reply.Residual : 0;
    std::uint8_t replyBytes[kCvWireReplySize];
    CvWireEncodeReply(&reply, replyBytes);
    if (!WriteAll(fd, replyBytes, sizeof replyBytes)) break;
    if (reply.DataLength > 0 && !WriteAll(fd, data.data(), reply.DataLength)) break;
  }

  if (opened) {
    const bool last = Open_.fetch_sub(1) == 1;
    if (!closedCleanly && !stop.stop_requested()) Recorder_->BusReset();
    else if (last) Recorder_->AllowRemoval();
  }
  if (exclusive) {
    std::lock_guard lock(Mutex_);
    Exclusive_ = false;
  }
  // The end of the connection tells a closing client that the drive is
  // free: its close() returns only then, as a real node's does.
  ::shutdown(fd, SHUT_RDWR);
  connection.Finished = true;
}

}  // namespace cv
