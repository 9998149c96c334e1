// The recorder server: opens, exclusive opens, commands over the socket, a
// dropped connection as a bus reset, a clean stop, refused starts and a
// client that breaks the protocol.
#include "vrecorder/cvVirtualServer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualTestUtil.h"
#include "vrecorder/cvVirtualWire.h"

namespace {

using cvtest::RawDrive;

bool SendAll(int fd, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::send(fd, p, size, MSG_NOSIGNAL);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool RecvAll(int fd, void* data, std::size_t size) {
  auto* p = static_cast<std::uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::recv(fd, p, size, 0);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// One open of the drive through the server, as the preload library makes
// it: a transport over the socket.
class WireClient final : public cv::cvTransport {
 public:
  WireClient(const std::filesystem::path& socket, int flags, const std::string& node = "/dev/sr7") {
    Fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    timeval limit{20, 0};
    ::setsockopt(Fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(Fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      OpenError = errno;
      return;
    }
    TCvWireOpen open{static_cast<std::uint32_t>(flags), static_cast<std::uint32_t>(node.size())};
    std::uint8_t head[kCvWireOpenSize];
    CvWireEncodeOpen(&open, head);
    std::uint8_t reply[kCvWireOpenReplySize];
    std::int32_t error = 0;
    if (!SendAll(Fd_, head, sizeof head) || !SendAll(Fd_, node.data(), node.size()) ||
        !RecvAll(Fd_, reply, sizeof reply) || CvWireDecodeOpenReply(reply, &error) != 0)
      OpenError = EIO;
    else
      OpenError = error;
  }
  ~WireClient() override { Drop(); }

  // Ends the open with its close message and, as the preload library's
  // close does, waits for the server to end the connection: the drive is
  // released by then (bounded by the receive time-out).
  void Close() {
    TCvWireRequest close{};
    close.Close = 1;
    std::uint8_t bytes[kCvWireRequestSize];
    CvWireEncodeRequest(&close, bytes);
    if (SendAll(Fd_, bytes, sizeof bytes)) {
      std::uint8_t byte = 0;
      while (::recv(Fd_, &byte, 1, 0) > 0) {
      }
    }
    Drop();
  }
  // Ends the connection without a word, as a crashed program does.
  void Drop() {
    if (Fd_ >= 0) ::close(Fd_);
    Fd_ = -1;
  }
  int Fd() const { return Fd_; }

  cv::TScsiOutcome Execute(const cv::TScsiCommand& command) override {
    cv::TScsiOutcome outcome;
    TCvWireRequest request{};
    request.CdbLength = static_cast<std::uint8_t>(command.Cdb.size());
    std::memcpy(request.Cdb, command.Cdb.data(), command.Cdb.size());
    request.Direction = command.Direction == cv::TDataDirection::FromDevice ? kCvWireFromDevice
                        : command.Direction == cv::TDataDirection::ToDevice ? kCvWireToDevice
                                                                            : kCvWireNone;
    request.DataLength = request.Direction == kCvWireNone ? 0 : static_cast<std::uint32_t>(command.Data.size());
    std::uint8_t head[kCvWireRequestSize];
    CvWireEncodeRequest(&request, head);
    std::uint8_t replyBytes[kCvWireReplySize];
    TCvWireReply reply{};
    if (!SendAll(Fd_, head, sizeof head) ||
        (request.Direction == kCvWireToDevice && !SendAll(Fd_, command.Data.data(), command.Data.size())) ||
        !RecvAll(Fd_, replyBytes, sizeof replyBytes) || CvWireDecodeReply(replyBytes, &reply) != 0 ||
        reply.DataLength > command.Data.size() ||
        (reply.DataLength > 0 && !RecvAll(Fd_, command.Data.data(), reply.DataLength))) {
      outcome.OSError = EIO;
      return outcome;
    }
    outcome.Delivered = reply.OSError == 0;
    outcome.OSError = reply.OSError;
    outcome.ScsiStatus = reply.Status;
    outcome.HostStatus = reply.HostStatus;
    outcome.DriverStatus = reply.DriverStatus;
    outcome.SenseLength = reply.SenseLength;
    std::memcpy(outcome.Sense.data(), reply.Sense, sizeof reply.Sense);
    outcome.Residual = reply.Residual;
    return outcome;
  }

  int OpenError = -1;

 private:
  int Fd_ = -1;
};

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert("cdr80")) << control.Error();
    ASSERT_TRUE(control.Set({"time-scale=0.001"})) << control.Error();
    Socket = cv::cvVirtualServer::DefaultSocket(Dir.Path);
    ASSERT_TRUE(Server.Start(Dir.Path, Socket)) << Server.Error();
  }

  cvtest::TempRecorderDir Dir;
  std::filesystem::path Socket;
  cv::cvVirtualServer Server;
};

TEST_F(ServerTest, CommandsTravelBothWaysWithDataSenseAndResidual) {
  WireClient client(Socket, O_RDWR | O_NONBLOCK);
  ASSERT_EQ(client.OpenError, 0);
  RawDrive drive(client);
  cvtest::Reply inquiry = drive.Inquiry();
  ASSERT_TRUE(inquiry.Good()) << inquiry.Code();
  ASSERT_EQ(inquiry.Data.size(), 36u);  // 64 asked, 36 sent: the residual travels
  EXPECT_EQ(std::string(inquiry.Data.begin() + 8, inquiry.Data.begin() + 32), "CORVID  VIRTUAL RECORDER");
  drive.Settle();
  // Sense data of a refused command, and data out.
  EXPECT_EQ(drive.None({0xFF, 0, 0, 0, 0, 0}).Code(), "5/20/00");
  ASSERT_TRUE(drive.SetAudioTao().Good());
  const auto audio = cvtest::AudioSectors(1, 0, 27);
  EXPECT_TRUE(drive.Write(0, 27, audio).Good());
  EXPECT_EQ(drive.NextWritable(), 27);
  cvtest::Reply read = drive.ReadCD(0, 27);
  ASSERT_TRUE(read.Good()) << read.Code();
  EXPECT_EQ(read.Data, audio);
  client.Close();
}

TEST_F(ServerTest, ASecondExclusiveOpenIsBusyUntilTheFirstCloses) {
  WireClient first(Socket, O_RDWR | O_EXCL | O_NONBLOCK);
  ASSERT_EQ(first.OpenError, 0);
  WireClient second(Socket, O_RDWR | O_EXCL | O_NONBLOCK);
  EXPECT_EQ(second.OpenError, EBUSY);
  // A plain open is not an exclusive claim: it is let in, as on a block device.
  WireClient plain(Socket, O_RDWR | O_NONBLOCK);
  EXPECT_EQ(plain.OpenError, 0);
  EXPECT_TRUE(RawDrive(plain).Inquiry().Good());
  first.Close();
  // The server notices the close on its own thread: poll, with a deadline.
  int error = EBUSY;
  for (int i = 0; i < 200 && error == EBUSY; ++i) {
    WireClient third(Socket, O_RDWR | O_EXCL);
    error = third.OpenError;
    if (error == 0) third.Close();
    else std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(error, 0);
}

TEST_F(ServerTest, ADroppedConnectionIsABusResetAndACloseIsNot) {
  {
    WireClient client(Socket, O_RDWR);
    RawDrive drive(client);
    drive.Settle();
    ASSERT_TRUE(drive.Prevent(true).Good());
    client.Close();
  }
  {
    // Closed cleanly: no unit attention. The last close released the medium
    // lock, as the kernel's CD driver does.
    WireClient client(Socket, O_RDWR);
    RawDrive drive(client);
    EXPECT_TRUE(drive.Tur().Good());
    cvtest::Reply capabilities = drive.ModeSense(0x2A);
    ASSERT_TRUE(capabilities.Good()) << capabilities.Code();
    EXPECT_EQ(capabilities.Data.at(8 + 6) & 0x02, 0) << "the last close kept the medium lock";
    ASSERT_TRUE(drive.Prevent(true).Good());
    client.Drop();
  }
  // The server takes the drop on its own thread.
  bool reset = false;
  for (int i = 0; i < 200 && !reset; ++i) {
    WireClient client(Socket, O_RDWR);
    RawDrive drive(client);
    cvtest::Reply r = drive.Tur();
    reset = r.Code() == "6/29/00";
    if (!reset) {
      client.Close();
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    // Reported once; the reset released the host's medium lock.
    EXPECT_TRUE(drive.Tur().Good());
    EXPECT_TRUE(drive.Eject().Good()) << "the lock survived the reset";
    client.Close();
  }
  EXPECT_TRUE(reset);
}

TEST_F(ServerTest, StopEndsOpenConnectionsSavesTheStateAndFreesTheRecorder) {
  WireClient client(Socket, O_RDWR);
  RawDrive drive(client);
  drive.Settle();
  ASSERT_TRUE(drive.SetAudioTao().Good());
  ASSERT_TRUE(drive.Write(0, 27, cvtest::AudioSectors(1, 0, 27)).Good());
  Server.Stop();
  EXPECT_FALSE(Server.Running());
  EXPECT_FALSE(std::filesystem::exists(Socket));
  // The connection is gone: the next command fails at the transport.
  EXPECT_FALSE(drive.Tur().Outcome.Delivered);
  // The recorder is free again and kept what was written.
  auto recorder = cv::OpenVirtualRecorderAt(Dir.Path);
  RawDrive direct(*recorder);
  direct.Settle();
  EXPECT_EQ(direct.NextWritable(), 27);
}

TEST_F(ServerTest, StartIsRefusedWhileTheRecorderOrTheSocketIsTaken) {
  cv::cvVirtualServer second;
  EXPECT_FALSE(second.Start(Dir.Path, Socket));
  EXPECT_NE(second.Error().find("already listens"), std::string::npos) << second.Error();
  EXPECT_FALSE(second.Start(Dir.Path, Dir.Path / "other.sock"));
  // The holder is named: this process, whose server holds the recorder.
  EXPECT_NE(second.Error().find("in use by another program (pid " + std::to_string(::getpid()) + ")"),
            std::string::npos)
      << second.Error();
  EXPECT_FALSE(second.Start(Dir.Path, std::string(200, 'x')));
  EXPECT_NE(second.Error().find("too long"), std::string::npos) << second.Error();
  // A socket file left by a killed server is taken over.
  Server.Stop();
  int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, (Dir.Path / "stale.sock").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ::close(stale);  // bound, never listened: nobody answers
  EXPECT_TRUE(second.Start(Dir.Path, Dir.Path / "stale.sock")) << second.Error();
}

TEST_F(ServerTest, AClientThatBreaksTheProtocolIsDroppedAndOthersAreServed) {
  WireClient bad(Socket, O_RDWR);
  ASSERT_EQ(bad.OpenError, 0);
  std::uint8_t garbage[kCvWireRequestSize];
  std::memset(garbage, 0xA5, sizeof garbage);
  ASSERT_TRUE(SendAll(bad.Fd(), garbage, sizeof garbage));
  std::uint8_t byte = 0;
  EXPECT_LE(::recv(bad.Fd(), &byte, 1, 0), 0);  // the server hung up
  // A request whose CDB length breaks the limit is refused the same way.
  WireClient oversized(Socket, O_RDWR);
  TCvWireRequest request{};
  request.CdbLength = 17;
  std::uint8_t head[kCvWireRequestSize];
  CvWireEncodeRequest(&request, head);
  ASSERT_TRUE(SendAll(oversized.Fd(), head, sizeof head));
  EXPECT_LE(::recv(oversized.Fd(), &byte, 1, 0), 0);

  WireClient good(Socket, O_RDWR);
  ASSERT_EQ(good.OpenError, 0);
  EXPECT_TRUE(RawDrive(good).Inquiry().Good());
}

}  // namespace
