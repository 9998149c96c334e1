// Helpers for the virtual recorder's tests: a temporary state directory, a
// raw-CDB client of the recorder's transport interface, and the readers of
// the disc image it leaves.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "device/cvTransport.h"
#include "vrecorder/cvVirtualControl.h"
#include "vrecorder/cvVirtualRecorder.h"

namespace cvtest {

// A fresh state directory, removed at the end; CORVID_VIRTUAL_RECORDER points
// at it meanwhile.
class TempRecorderDir {
 public:
  TempRecorderDir() {
    char pattern[] = "/tmp/corvid-vrec-XXXXXX";
    const char* made = ::mkdtemp(pattern);
    if (!made) throw std::runtime_error("mkdtemp failed");
    Path = made;
    ::setenv("CORVID_VIRTUAL_RECORDER", Path.c_str(), 1);
  }
  ~TempRecorderDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
    ::unsetenv("CORVID_VIRTUAL_RECORDER");
  }
  std::filesystem::path Path;
};

struct Reply {
  cv::TScsiOutcome Outcome;
  std::vector<std::uint8_t> Data;

  bool Good() const { return Outcome.Good(); }
  std::uint8_t Key() const { return Outcome.SenseLength ? Outcome.Sense[2] & 0x0F : 0; }
  std::uint8_t Asc() const { return Outcome.SenseLength ? Outcome.Sense[12] : 0; }
  std::uint8_t Ascq() const { return Outcome.SenseLength ? Outcome.Sense[13] : 0; }
  // "K/AA/QQ" of the sense, "good", "busy" or "not delivered".
  std::string Code() const {
    if (!Outcome.Delivered) return "not delivered";
    if (Outcome.ScsiStatus == cv::kScsiBusy) return "busy";
    if (Outcome.HostStatus) return "host error";
    if (Outcome.ScsiStatus == cv::kScsiGood) return "good";
    char text[16];
    std::snprintf(text, sizeof text, "%X/%02X/%02X", Key(), Asc(), Ascq());
    return text;
  }
  std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(Data.at(at) << 8 | Data.at(at + 1)); }
  std::uint32_t U32(std::size_t at) const { return static_cast<std::uint32_t>(U16(at)) << 16 | U16(at + 2); }
  std::uint16_t Progress() const {
    return static_cast<std::uint16_t>(Outcome.Sense[16] << 8 | Outcome.Sense[17]);
  }
};

// Sends raw CDBs to a transport.
class RawDrive {
 public:
  explicit RawDrive(cv::cvTransport& transport) : T(transport) {}

  Reply In(std::vector<std::uint8_t> cdb, std::size_t length) {
    Reply r;
    r.Data.assign(length, 0);
    cv::TScsiCommand c{cdb, length ? cv::TDataDirection::FromDevice : cv::TDataDirection::None, r.Data, 0};
    r.Outcome = T.Execute(c);
    r.Data.resize(length - std::min<std::size_t>(r.Outcome.Residual, length));
    return r;
  }
  Reply Out(std::vector<std::uint8_t> cdb, std::vector<std::uint8_t> data) {
    Reply r;
    cv::TScsiCommand c{cdb, cv::TDataDirection::ToDevice, data, 0};
    r.Outcome = T.Execute(c);
    return r;
  }
  Reply None(std::vector<std::uint8_t> cdb) {
    Reply r;
    cv::TScsiCommand c{cdb, cv::TDataDirection::None, {}, 0};
    r.Outcome = T.Execute(c);
    return r;
  }

  static std::vector<std::uint8_t> Cdb10(std::uint8_t op, std::uint8_t b1 = 0, std::uint32_t lba = 0,
                                         std::uint16_t length = 0, std::uint8_t b6 = 0) {
    return {op, b1, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
            static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), b6,
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), 0};
  }

  Reply Tur() { return None({0x00, 0, 0, 0, 0, 0}); }
  Reply Inquiry() { return In({0x12, 0, 0, 0, 0x40, 0}, 64); }
  Reply RequestSense() { return In({0x03, 0, 0, 0, 18, 0}, 18); }
  Reply Eject() { return None({0x1B, 0, 0, 0, 0x02, 0}); }
  Reply Load() { return None({0x1B, 0, 0, 0, 0x03, 0}); }
  Reply Prevent(bool on) { return None({0x1E, 0, 0, 0, static_cast<std::uint8_t>(on ? 1 : 0), 0}); }
  Reply ModeSense(std::uint8_t page, std::uint16_t length = 512) { return In(Cdb10(0x5A, 0, std::uint32_t{page} << 24, length), length); }
  Reply ModeSelect(std::vector<std::uint8_t> list) {
    auto cdb = Cdb10(0x55, 0x10, 0, static_cast<std::uint16_t>(list.size()));
    return Out(std::move(cdb), std::move(list));
  }
  Reply DiscInfo() { return In(Cdb10(0x51, 0, 0, 34), 34); }
  Reply TrackInfo(std::uint32_t track) { return In(Cdb10(0x52, 0x01, track, 48), 48); }
  Reply Write(std::int32_t lba, std::uint16_t count, const std::vector<std::uint8_t>& data) {
    return Out(Cdb10(0x2A, 0, static_cast<std::uint32_t>(lba), count), data);
  }
  Reply SyncCache() { return None(Cdb10(0x35)); }
  Reply CloseTrack() { return None({0x5B, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0}); }
  Reply CloseSession(bool immed = false) {
    return None({0x5B, static_cast<std::uint8_t>(immed ? 1 : 0), 0x02, 0, 0, 0, 0, 0, 0, 0});
  }
  Reply Blank(bool minimal, bool immed = true) {
    return None({0xA1, static_cast<std::uint8_t>((immed ? 0x10 : 0) | (minimal ? 1 : 0)), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  }
  Reply Format(std::vector<std::uint8_t> list) { return Out({0x04, 0x11, 0, 0, 0, 0}, std::move(list)); }
  Reply BufferCapacity() { return In(Cdb10(0x5C, 0, 0, 12), 12); }
  Reply SetSpeed(std::uint16_t read, std::uint16_t write) {
    return None({0xBB, 0, static_cast<std::uint8_t>(read >> 8), static_cast<std::uint8_t>(read),
                 static_cast<std::uint8_t>(write >> 8), static_cast<std::uint8_t>(write), 0, 0, 0, 0, 0, 0});
  }
  Reply ReadCD(std::int32_t lba, std::uint32_t count) {
    auto u = static_cast<std::uint32_t>(lba);
    return In({0xBE, 0x04, static_cast<std::uint8_t>(u >> 24), static_cast<std::uint8_t>(u >> 16),
               static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(count >> 16),
               static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count), 0x10, 0, 0},
              count * 2352);
  }

  // MODE SENSE page 05h, patched, sent back (header and page as sensed).
  Reply SetPage05(const std::function<void(std::vector<std::uint8_t>& page)>& patch) {
    Reply sensed = ModeSense(0x05);
    if (!sensed.Good()) return sensed;
    std::vector<std::uint8_t> list = sensed.Data;
    const std::size_t at = 8 + (list[6] << 8 | list[7]);
    std::vector<std::uint8_t> page(list.begin() + static_cast<long>(at), list.end());
    patch(page);
    list.resize(at);
    list.insert(list.end(), page.begin(), page.end());
    list[0] = list[1] = 0;
    return ModeSelect(list);
  }
  // Page 05h for audio Track-At-Once: BUFE as asked, multi-session, pause.
  Reply SetAudioTao(std::uint16_t pause = 150, std::uint8_t multisession = 0, bool bufe = true) {
    return SetPage05([&](std::vector<std::uint8_t>& p) {
      p[2] = static_cast<std::uint8_t>((bufe ? 0x40 : 0) | 0x01);
      p[3] = static_cast<std::uint8_t>(multisession << 6);
      p[4] = 0x00;
      p[8] = 0x00;
      p[14] = static_cast<std::uint8_t>(pause >> 8);
      p[15] = static_cast<std::uint8_t>(pause);
    });
  }
  // Clears a pending unit attention (the first TEST UNIT READY after a load).
  void Settle() {
    for (int i = 0; i < 3 && !Tur().Good(); ++i) {
    }
  }
  // Polls TEST UNIT READY until the drive is ready; false at the deadline.
  bool WaitReady(std::chrono::milliseconds deadline = std::chrono::milliseconds(20000)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
      if (Tur().Good()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  std::int32_t NextWritable() {
    Reply r = TrackInfo(0xFF);
    if (!r.Good() || !(r.Data.at(7) & 1)) return -1;
    return static_cast<std::int32_t>(r.U32(12));
  }

 private:
  cv::cvTransport& T;
};

// Sectors of a recognisable pattern: sector s of track t.
inline std::vector<std::uint8_t> AudioSectors(int track, std::int32_t first, std::uint32_t count) {
  std::vector<std::uint8_t> data(count * 2352);
  for (std::uint32_t s = 0; s < count; ++s)
    for (std::uint32_t i = 0; i < 2352; ++i)
      data[s * 2352 + i] = static_cast<std::uint8_t>((i * 7 + (first + static_cast<std::int32_t>(s)) * 13 + track * 101) & 0xFF);
  return data;
}

// The whole of a file (an image's disc.bin, disc.cue, disc.cdt); empty when
// it cannot be read.
inline std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string ReadText(const std::filesystem::path& path) {
  const auto bytes = ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

// Whether a program is on the PATH (the independent readers of an image).
inline bool Have(const char* tool) {
  const std::string command = std::string("command -v ") + tool + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// What a shell command prints on its standard output.
inline std::string Shell(const std::string& command) {
  std::string output;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) output.append(buffer, n);
    ::pclose(p);
  }
  return output;
}

}  // namespace cvtest
