// The virtual recorder's commands, driven by raw CDBs through its transport
// interface: a Track-At-Once burn of several tracks in two sessions, every
// refusal a strict drive gives while writing, and the other commands.
#include "vrecorder/cvVirtualCommands.h"

#include <gtest/gtest.h>

#include "tests/vrecorder/cvVirtualTestUtil.h"

namespace {

using cvtest::AudioSectors;
using cvtest::RawDrive;
using cvtest::ReadFile;
using cvtest::ReadText;
using cvtest::Reply;

class VirtualCommands : public ::testing::Test {
 protected:
  // Settings after the quick default time scale, so that a test's own wins.
  void Open(const char* medium = "cdr80", const std::vector<std::string>& settings = {}) {
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert(medium)) << control.Error();
    std::vector<std::string> all = {"time-scale=0.001"};
    all.insert(all.end(), settings.begin(), settings.end());
    ASSERT_TRUE(control.Set(all)) << control.Error();
    Recorder = cv::OpenVirtualRecorder();
    ASSERT_NE(Recorder, nullptr);
    Drive = std::make_unique<RawDrive>(*Recorder);
    Drive->Settle();
  }
  // Writes count sectors of track's pattern from lba in blocks of 27, as
  // the write thread does. Answers the first failure, or good.
  Reply WriteTrack(int track, std::int32_t lba, std::uint32_t count) {
    Reply last;
    for (std::uint32_t done = 0; done < count;) {
      const std::uint32_t n = std::min<std::uint32_t>(27, count - done);
      const std::int32_t at = lba + static_cast<std::int32_t>(done);
      last = Drive->Write(at, static_cast<std::uint16_t>(n), AudioSectors(track, at - lba, n));
      if (!last.Good()) return last;
      done += n;
    }
    return last;
  }
  nlohmann::json Show() {
    cv::cvVirtualControl control(Dir.Path);
    nlohmann::json report;
    EXPECT_TRUE(control.Show(report)) << control.Error();
    return report;
  }

  cvtest::TempRecorderDir Dir;
  std::unique_ptr<cv::cvTransport> Recorder;
  std::unique_ptr<RawDrive> Drive;
};

TEST_F(VirtualCommands, BlankDiscInvisibleTrackStartsAtZero) {
  Open("cdr80");
  Reply t = Drive->TrackInfo(0xFF);
  ASSERT_EQ(t.Code(), "good");
  EXPECT_EQ(t.Data[2], 1);            // track 1
  EXPECT_EQ(t.Data[3], 1);            // session 1
  EXPECT_TRUE(t.Data[6] & 0x40);      // blank
  EXPECT_TRUE(t.Data[7] & 0x01);      // NWA valid
  EXPECT_EQ(t.U32(8), 0u);            // track start
  EXPECT_EQ(t.U32(12), 0u);           // NWA
  EXPECT_EQ(t.U32(16), 359849u);      // free blocks
  EXPECT_EQ(t.U32(24), 359849u);      // track size
  // Track 1 asked by number is the same invisible track.
  EXPECT_EQ(Drive->TrackInfo(1).Data, t.Data);
  EXPECT_EQ(Drive->TrackInfo(2).Code(), "5/24/00");

  Reply d = Drive->DiscInfo();
  ASSERT_EQ(d.Code(), "good");
  EXPECT_EQ(d.U16(0), 32);
  EXPECT_EQ(d.Data[2], 0x00);  // blank, empty session, not erasable
  EXPECT_EQ(d.Data[4], 1);
  EXPECT_EQ(d.Data[5], 1);
  EXPECT_EQ(d.Data[6], 1);
  EXPECT_EQ(d.Data[17], 97);  // lead-in 97:15:35
  EXPECT_EQ(d.Data[18], 15);
  EXPECT_EQ(d.Data[19], 35);
  EXPECT_EQ(d.Data[21], 79);  // last possible lead-out 79:59:74
  EXPECT_EQ(d.Data[22], 59);
  EXPECT_EQ(d.Data[23], 74);
}

TEST_F(VirtualCommands, TrackAtOnceBurnOfFourTracksInTwoSessions) {
  Open("cdr80");
  ASSERT_EQ(Drive->SetAudioTao(150, 0).Code(), "good");
  ASSERT_EQ(Drive->NextWritable(), 0);

  // Track 1: 400 sectors at LBA 0, closed by SYNCHRONIZE CACHE.
  ASSERT_EQ(WriteTrack(1, 0, 400).Code(), "good");
  Reply open = Drive->TrackInfo(0xFF);
  EXPECT_EQ(open.Data[2], 1);
  EXPECT_EQ(open.U32(12), 400u);  // the open track goes on at its end
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  Reply t1 = Drive->TrackInfo(1);
  EXPECT_EQ(t1.U32(8), 0u);
  EXPECT_EQ(t1.U32(24), 400u);
  EXPECT_FALSE(t1.Data[7] & 0x01);  // closed: no NWA
  EXPECT_EQ(Drive->DiscInfo().Data[2], 0x05);  // appendable, session incomplete
  EXPECT_EQ(Drive->DiscInfo().Data[6], 2);     // the invisible track 2 counts

  // Track 2 with a pause of 450: the NWA follows the current pause length.
  EXPECT_EQ(Drive->NextWritable(), 550);
  ASSERT_EQ(Drive->SetAudioTao(450, 0).Code(), "good");
  EXPECT_EQ(Drive->NextWritable(), 850);
  EXPECT_EQ(Drive->Write(550, 27, AudioSectors(2, 0, 27)).Code(), "5/21/02");
  ASSERT_EQ(WriteTrack(2, 850, 300).Code(), "good");
  ASSERT_EQ(Drive->CloseTrack().Code(), "good");

  // Track 3 with no pause, then the session closes with multi-session 11b.
  ASSERT_EQ(Drive->SetAudioTao(0, 0).Code(), "good");
  ASSERT_EQ(Drive->NextWritable(), 1150);
  ASSERT_EQ(WriteTrack(3, 1150, 350).Code(), "good");
  ASSERT_EQ(Drive->SetAudioTao(150, 3).Code(), "good");
  ASSERT_EQ(Drive->CloseSession(true).Code(), "good");
  ASSERT_TRUE(Drive->WaitReady());

  Reply d = Drive->DiscInfo();
  EXPECT_EQ(d.Data[2], 0x01);  // appendable, new session empty
  EXPECT_EQ(d.Data[4], 2);     // sessions, counting the empty one
  EXPECT_EQ(d.Data[5], 4);
  EXPECT_EQ(d.Data[6], 4);
  EXPECT_EQ(Drive->NextWritable(), 1500 + 11400);
  Reply t3 = Drive->TrackInfo(3);
  EXPECT_EQ(t3.U32(8), 1150u);
  EXPECT_EQ(t3.U32(24), 350u);

  // Track 4 in session 2, then the disc is finalized (multi-session 00b).
  ASSERT_EQ(Drive->SetAudioTao(150, 0).Code(), "good");
  ASSERT_EQ(WriteTrack(4, 12900, 300).Code(), "good");
  ASSERT_EQ(Drive->CloseSession(false).Code(), "good");
  ASSERT_TRUE(Drive->WaitReady());
  d = Drive->DiscInfo();
  EXPECT_EQ(d.Data[2], 0x0E);  // complete, last session complete
  EXPECT_EQ(d.Data[4], 2);
  EXPECT_EQ(d.Data[6], 4);
  EXPECT_EQ(d.U32(16), 0xFFFFFFFFu);
  EXPECT_EQ(Drive->TrackInfo(0xFF).Code(), "5/24/00");
  EXPECT_EQ(Drive->Write(13200, 27, AudioSectors(5, 0, 27)).Code(), "5/21/02");

  // disc.bin: LBA 0 at offset 0, samples as sent, zeros in every gap.
  const auto bin = ReadFile(Dir.Path / "disc.bin");
  ASSERT_EQ(bin.size(), std::size_t{13200} * 2352);
  auto expectTrack = [&](int track, std::int32_t start, std::uint32_t length) {
    const auto want = AudioSectors(track, 0, length);
    EXPECT_TRUE(std::equal(want.begin(), want.end(), bin.begin() + std::ptrdiff_t{start} * 2352))
        << "track " << track;
  };
  expectTrack(1, 0, 400);
  expectTrack(2, 850, 300);
  expectTrack(3, 1150, 350);
  expectTrack(4, 12900, 300);
  auto zeros = [&](std::int32_t from, std::int32_t to) {
    return std::all_of(bin.begin() + std::ptrdiff_t{from} * 2352, bin.begin() + std::ptrdiff_t{to} * 2352,
                       [](std::uint8_t b) { return b == 0; });
  };
  EXPECT_TRUE(zeros(400, 850));
  EXPECT_TRUE(zeros(1500, 12900));

  EXPECT_EQ(ReadText(Dir.Path / "disc.cue"),
            "FILE \"disc.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n"
            "    PREGAP 00:02:00\n"
            "    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n"
            "    INDEX 00 00:05:25\n"
            "    INDEX 01 00:11:25\n"
            "  TRACK 03 AUDIO\n"
            "    INDEX 01 00:15:25\n"
            "REM SESSION 02\n"
            "  TRACK 04 AUDIO\n"
            "    INDEX 00 00:20:00\n"
            "    INDEX 01 02:52:00\n");

  // READ TOC: the four tracks and the last lead-out, in LBA and MSF.
  Reply toc = Drive->In(RawDrive::Cdb10(0x43, 0, 0, 100), 100);
  ASSERT_EQ(toc.Code(), "good");
  EXPECT_EQ(toc.Data[2], 1);
  EXPECT_EQ(toc.Data[3], 4);
  ASSERT_EQ(toc.U16(0), 2 + 5 * 8);
  EXPECT_EQ(toc.U32(4 + 8 * 1 + 4), 850u);
  EXPECT_EQ(toc.U32(4 + 8 * 3 + 4), 12900u);
  EXPECT_EQ(toc.Data[4 + 8 * 4 + 2], 0xAA);
  EXPECT_EQ(toc.U32(4 + 8 * 4 + 4), 13200u);
  Reply msf = Drive->In(RawDrive::Cdb10(0x43, 0x02, 0, 100), 100);
  EXPECT_EQ(msf.Data[4 + 5], 0);  // track 1 at 00:02:00
  EXPECT_EQ(msf.Data[4 + 6], 2);
  EXPECT_EQ(msf.Data[4 + 7], 0);

  // READ CD gives back what was written.
  Reply back = Drive->ReadCD(850, 5);
  ASSERT_EQ(back.Code(), "good");
  EXPECT_EQ(back.Data, AudioSectors(2, 0, 5));
  EXPECT_EQ(Drive->ReadCD(1500, 1).Code(), "5/21/00");  // the lead-out is not readable

  const auto report = Show();
  EXPECT_EQ(report["medium"]["disc-status"], "complete");
  EXPECT_EQ(report["sessions"].size(), 2u);
  EXPECT_EQ(report["sessions"][0]["tracks"][1]["pregap"], 450);
  EXPECT_EQ(report["counters"]["sectors-written"], 1350);
}

TEST_F(VirtualCommands, WriteRefusals) {
  Open("cdr80");
  std::vector<std::uint8_t> block = AudioSectors(1, 0, 27);
  // The power-on page asks for Mode 1 data blocks.
  EXPECT_EQ(Drive->Write(0, 27, block).Code(), "5/64/00");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Drive->Write(27, 27, block).Code(), "5/21/02");                          // off the NWA
  EXPECT_EQ(Drive->Write(-150, 27, block).Code(), "5/21/02");                        // into the first pregap
  EXPECT_EQ(Drive->Write(0, 26, block).Code(), "5/24/00");                           // 27 sectors of data for 26
  EXPECT_EQ(Drive->Write(0, 28, block).Code(), "5/24/00");
  EXPECT_EQ(Drive->Write(0, 27, AudioSectors(1, 0, 27)).Code(), "good");
  // A write type the recorder does not write is refused by MODE SELECT, as
  // honest drives do; the page stays as it was.
  for (std::uint8_t type : {0x00, 0x03, 0x04}) {
    SCOPED_TRACE(int(type));
    EXPECT_EQ(Drive->SetPage05([type](auto& p) { p[2] = static_cast<std::uint8_t>(0x40 | type); }).Code(), "5/26/00");
  }
  EXPECT_EQ(Drive->ModeSense(0x05).Data.at(8 + 2) & 0x0F, 1);
  // A page that is not audio Track-At-Once makes WRITE answer 5/64/00.
  ASSERT_EQ(Drive->SetPage05([](auto& p) { p[2] = 0x02; }).Code(), "good");  // session-at-once, no cue sheet
  EXPECT_EQ(Drive->Write(27, 27, block).Code(), "5/2C/00");
  // Test Write goes with both write types the recorder writes, not with
  // the others.
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[2] = 0x52; }).Code(), "good");
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[2] = 0x53; }).Code(), "5/26/00");
  ASSERT_EQ(Drive->SetPage05([](auto& p) { p[2] = 0x41, p[4] = 0x08; }).Code(), "good");  // Mode 1
  EXPECT_EQ(Drive->Write(27, 27, block).Code(), "5/64/00");
  ASSERT_EQ(Drive->SetPage05([](auto& p) { p[4] = 0x00, p[3] = 0x04; }).Code(), "good");  // data track
  EXPECT_EQ(Drive->Write(27, 27, block).Code(), "5/64/00");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Drive->Write(27, 27, block).Code(), "good");
  EXPECT_EQ(Show()["sessions"][0]["tracks"][0]["length"], 54);
}

TEST_F(VirtualCommands, WritePastTheLastPossibleLeadOut) {
  Open("cdr74");
  ASSERT_EQ(Drive->SetAudioTao(150).Code(), "good");
  // Long pauses walk the NWA towards the end without writing a whole disc.
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  std::int32_t end = 300;
  for (int track = 2; 336075 - 100 - end > 65535; ++track) {
    ASSERT_EQ(Drive->SetAudioTao(65535).Code(), "good");
    const std::int32_t nwa = Drive->NextWritable();
    ASSERT_EQ(nwa, end + 65535);
    ASSERT_EQ(WriteTrack(track, nwa, 300).Code(), "good");
    ASSERT_EQ(Drive->SyncCache().Code(), "good");
    end = nwa + 300;
  }
  // Now a pause that leaves 100 sectors before the lead-out.
  const auto pause = static_cast<std::uint16_t>(336075 - 100 - end);
  ASSERT_EQ(Drive->SetAudioTao(pause).Code(), "good");
  std::int32_t nwa = 0;
  nwa = Drive->NextWritable();
  ASSERT_EQ(nwa, 336075 - 100);
  EXPECT_EQ(Drive->TrackInfo(0xFF).U32(16), 100u);  // free blocks
  ASSERT_EQ(WriteTrack(20, nwa, 81).Code(), "good");
  EXPECT_EQ(Drive->Write(nwa + 81, 27, AudioSectors(20, 81, 27)).Code(), "5/21/00");
  EXPECT_EQ(Drive->Write(nwa + 81, 19, AudioSectors(20, 81, 19)).Code(), "good");  // up to the lead-out
  EXPECT_EQ(Drive->Write(nwa + 100, 1, AudioSectors(20, 100, 1)).Code(), "5/21/00");
}

TEST_F(VirtualCommands, ATrackShorterThanFourSecondsStaysOpen) {
  Open("cdrw80");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  ASSERT_EQ(WriteTrack(1, 0, 299).Code(), "good");
  EXPECT_EQ(Drive->SyncCache().Code(), "5/72/03");
  EXPECT_EQ(Drive->CloseTrack().Code(), "5/72/03");
  EXPECT_EQ(Drive->CloseSession().Code(), "5/72/03");
  Reply t = Drive->TrackInfo(0xFF);
  EXPECT_EQ(t.Data[2], 1);
  EXPECT_EQ(t.U32(12), 299u);
  EXPECT_FALSE(std::filesystem::exists(Dir.Path / "disc.cue"));
  ASSERT_EQ(WriteTrack(1, 299, 1).Code(), "good");
  EXPECT_EQ(Drive->SyncCache().Code(), "good");
  EXPECT_EQ(Drive->TrackInfo(1).U32(24), 300u);
}

TEST_F(VirtualCommands, ClosingAnEmptySessionIsASequenceError) {
  Open("cdr80");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Drive->SyncCache().Code(), "good");  // nothing open: nothing to do
  EXPECT_EQ(Drive->CloseSession().Code(), "5/2C/00");
  EXPECT_EQ(Drive->DiscInfo().Data[2], 0x00);
}

TEST_F(VirtualCommands, WritingIsRefusedOnReadOnlyAndDvdMedia) {
  for (const char* medium : {"cdrom", "dvdr", "dvd+rw", "dvdrom", "dvdram"}) {
    SCOPED_TRACE(medium);
    Open(medium);
    ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
    EXPECT_EQ(Drive->Write(0, 27, AudioSectors(1, 0, 27)).Code(), "5/30/05");
    Drive.reset();
    Recorder.reset();
  }
}

TEST_F(VirtualCommands, ModeSelectChecksThePage) {
  Open("cdr80");
  const auto before = Drive->ModeSense(0x05).Data;
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[0] = 0x06; }).Code(), "5/26/00");           // page code
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[2] = 0x05; }).Code(), "5/26/00");           // write type
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[4] = 0x04; }).Code(), "5/26/00");           // data block type
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[4] = 0x0F; }).Code(), "5/26/00");
  EXPECT_EQ(Drive->SetPage05([](auto& p) { p[1] = 0x40; }).Code(), "5/26/00");           // beyond the list
  EXPECT_EQ(Drive->ModeSense(0x05).Data, before);
  // The header's block descriptor length is honoured.
  std::vector<std::uint8_t> list(8 + 8 + 52, 0);
  list[7] = 8;
  list[16] = 0x05;
  list[17] = 0x32;
  list[18] = 0x41;
  list[16 + 15] = 7;
  EXPECT_EQ(Drive->ModeSelect(list).Code(), "good");
  EXPECT_EQ(Drive->ModeSense(0x05).U16(8 + 14), 7);
  // Saved pages do not exist; a list shorter than its header is an error.
  auto cdb = RawDrive::Cdb10(0x55, 0x11, 0, 60);
  EXPECT_EQ(Drive->Out(cdb, std::vector<std::uint8_t>(60, 0)).Code(), "5/39/00");
  cdb = RawDrive::Cdb10(0x55, 0x10, 0, 4);
  EXPECT_EQ(Drive->Out(cdb, std::vector<std::uint8_t>(4, 0)).Code(), "5/1A/00");
}

TEST_F(VirtualCommands, ModeSensePages) {
  Open("cdrw80");
  Reply p5 = Drive->ModeSense(0x05);
  ASSERT_EQ(p5.Code(), "good");
  ASSERT_EQ(p5.Data.size(), 8u + 2 + 0x32);
  EXPECT_EQ(p5.U16(0), p5.Data.size() - 2);
  EXPECT_EQ(p5.U16(6), 0);  // no block descriptor
  EXPECT_EQ(p5.Data[8], 0x05);
  EXPECT_EQ(p5.Data[9], 0x32);

  ASSERT_EQ(Drive->SetSpeed(0xFFFF, 4 * 176).Code(), "good");
  Reply p2a = Drive->ModeSense(0x2A, 128);
  ASSERT_EQ(p2a.Code(), "good");
  const std::size_t at = 8;
  EXPECT_EQ(p2a.Data[at], 0x2A);
  EXPECT_EQ(p2a.Data[at + 3] & 0x03, 0x03);  // writes CD-R and CD-RW
  EXPECT_TRUE(p2a.Data[at + 4] & 0x80);      // BUF
  EXPECT_EQ(p2a.U16(at + 8), 8467);
  EXPECT_EQ(p2a.U16(at + 12), 2048);
  EXPECT_EQ(p2a.U16(at + 18), 8467);
  EXPECT_EQ(p2a.U16(at + 20), 704);
  EXPECT_EQ(p2a.U16(at + 14), 8467);  // FFFFh: the maximum
  Reply defaults = Drive->In(RawDrive::Cdb10(0x5A, 0, 0xAAu << 24, 128), 128);  // 80h | 2Ah
  EXPECT_EQ(defaults.U16(at + 20), 8467);
  EXPECT_EQ(Drive->In(RawDrive::Cdb10(0x5A, 0, 0xC5u << 24, 128), 128).Code(), "5/39/00");  // saved values
  EXPECT_EQ(Drive->In(RawDrive::Cdb10(0x5A, 0, 0x0Eu << 24, 128), 128).Code(), "5/24/00");  // no such page
}

TEST_F(VirtualCommands, GetConfigurationReportsTheProfile) {
  struct Case {
    const char* Medium;
    std::uint16_t Profile;
  };
  for (Case c : {Case{"none", 0x0000}, Case{"cdrom", 0x0008}, Case{"cdr74", 0x0009}, Case{"cdrw80", 0x000A},
                 Case{"dvdrom", 0x0010}, Case{"dvdr", 0x0011}, Case{"dvdram", 0x0012}, Case{"dvdrw-ro", 0x0013},
                 Case{"dvdrw", 0x0014}, Case{"dvd+rw", 0x001A}, Case{"dvd+r", 0x001B}}) {
    SCOPED_TRACE(c.Medium);
    Open(c.Medium);
    // One feature (the profile list), as the medium query asks for it.
    Reply r = Drive->In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114);
    ASSERT_EQ(r.Code(), "good");
    EXPECT_EQ(r.U16(6), c.Profile);
    EXPECT_EQ(r.U16(8), 0x0000);
    ASSERT_EQ(r.U32(0) + 4, r.Data.size());
    bool listed = c.Profile == 0;
    for (std::size_t i = 12; i + 4 <= r.Data.size(); i += 4)
      if (r.U16(i) == c.Profile) listed = (r.Data[i + 2] & 1) == 1;
    EXPECT_TRUE(listed);
    Drive.reset();
    Recorder.reset();
  }
}

TEST_F(VirtualCommands, AtipOfRecordableCds) {
  Open("cdrw80");
  Reply r = Drive->In({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 30, 0}, 30);
  ASSERT_EQ(r.Code(), "good");
  EXPECT_EQ(r.Data[6], 0xC0);
  EXPECT_EQ(r.Data[8], 97);
  EXPECT_EQ(r.Data[12], 79);
  EXPECT_EQ(r.Data[13], 59);
  EXPECT_EQ(r.Data[14], 74);
  Drive.reset();
  Recorder.reset();
  Open("cdr74");
  r = Drive->In({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 30, 0}, 30);
  EXPECT_EQ(r.Data[6], 0x80);
  EXPECT_EQ(r.Data[12], 74);
  EXPECT_EQ(r.Data[13], 43);
  EXPECT_EQ(r.Data[14], 0);
  Drive.reset();
  Recorder.reset();
  Open("cdrom");
  EXPECT_EQ(Drive->In({0x43, 0x02, 0x04, 0, 0, 0, 0, 0, 30, 0}, 30).Code(), "5/24/00");
  EXPECT_EQ(Drive->DiscInfo().Data[2], 0x0E);
}

TEST_F(VirtualCommands, TrayEjectPreventAndLoad) {
  Open("cdr80");
  ASSERT_EQ(Drive->Prevent(true).Code(), "good");
  EXPECT_EQ(Drive->Eject().Code(), "5/53/02");
  EXPECT_EQ(Drive->Tur().Code(), "good");
  ASSERT_EQ(Drive->Prevent(false).Code(), "good");
  ASSERT_EQ(Drive->Eject().Code(), "good");
  EXPECT_EQ(Drive->Tur().Code(), "2/3A/02");
  EXPECT_EQ(Drive->DiscInfo().Code(), "2/3A/02");
  EXPECT_EQ(Show()["medium"]["tray"], "open");
  ASSERT_EQ(Drive->Load().Code(), "good");
  EXPECT_EQ(Drive->Tur().Code(), "6/28/00");  // once after the load
  EXPECT_EQ(Drive->Tur().Code(), "good");
  ASSERT_EQ(Drive->Load().Code(), "good");  // already in: nothing changes
  EXPECT_EQ(Drive->Tur().Code(), "good");
}

TEST_F(VirtualCommands, UnitAttentionStopsMediumCommandsButNotInquiry) {
  Open("cdr80");
  ASSERT_EQ(Drive->Eject().Code(), "good");
  ASSERT_EQ(Drive->Load().Code(), "good");
  EXPECT_EQ(Drive->Inquiry().Code(), "good");
  EXPECT_EQ(Drive->In({0x46, 0x02, 0, 0, 0, 0, 0, 0, 114, 0}, 114).Code(), "good");
  EXPECT_EQ(Drive->DiscInfo().Code(), "6/28/00");
  EXPECT_EQ(Drive->DiscInfo().Code(), "good");
}

TEST_F(VirtualCommands, AFinishedCdrIsReplacedByANewBlankOnLoad) {
  Open("cdr80");
  ASSERT_EQ(Drive->SetAudioTao(150, 3).Code(), "good");
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_EQ(Drive->CloseSession().Code(), "good");
  ASSERT_EQ(Drive->DiscInfo().Data[2] & 3, 1);
  ASSERT_EQ(Drive->Eject().Code(), "good");
  ASSERT_EQ(Drive->Load().Code(), "good");
  Drive->Settle();
  EXPECT_EQ(Drive->DiscInfo().Data[2], 0x00);  // blank again
  EXPECT_EQ(Drive->NextWritable(), 0);
  EXPECT_FALSE(std::filesystem::exists(Dir.Path / "disc.bin"));
  ASSERT_EQ(Show()["images"]["archived"].size(), 1u);
  const std::filesystem::path archived = Show()["images"]["archived"][0].get<std::string>();
  EXPECT_EQ(std::filesystem::file_size(archived / "disc.bin"), 300u * 2352);
  EXPECT_TRUE(std::filesystem::exists(archived / "disc.cue"));
}

TEST_F(VirtualCommands, KeepDiscAndRewritableDiscsComeBackAsTheyWere) {
  for (auto [medium, setting] : {std::pair{"cdr80", "keep-disc=1"}, std::pair{"cdrw80", "keep-disc=0"}}) {
    SCOPED_TRACE(medium);
    Open(medium, {setting});
    ASSERT_EQ(Drive->SetAudioTao(150, 0).Code(), "good");
    ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
    ASSERT_EQ(Drive->CloseSession().Code(), "good");
    ASSERT_EQ(Drive->Eject().Code(), "good");
    ASSERT_EQ(Drive->Load().Code(), "good");
    Drive->Settle();
    EXPECT_EQ(Drive->DiscInfo().Data[2] & 3, 2);
    EXPECT_EQ(std::filesystem::file_size(Dir.Path / "disc.bin"), 300u * 2352);
    Drive.reset();
    Recorder.reset();
  }
}

TEST_F(VirtualCommands, AnOpenTrackDoesNotSurviveALoadAsBlank) {
  // An ejected CD-R without a closed session is not replaced.
  Open("cdr80");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  ASSERT_EQ(Drive->Eject().Code(), "good");
  ASSERT_EQ(Drive->Load().Code(), "good");
  Drive->Settle();
  EXPECT_EQ(Drive->NextWritable(), 450);
}

TEST_F(VirtualCommands, BlankMinimalAndFullReportProgress) {
  for (bool minimal : {true, false}) {
    SCOPED_TRACE(minimal ? "minimal" : "full");
    Open("cdrw80");
    ASSERT_EQ(Drive->SetAudioTao(150, 0).Code(), "good");
    ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
    ASSERT_EQ(Drive->CloseSession().Code(), "good");
    ASSERT_TRUE(Drive->WaitReady());
    ASSERT_EQ(Drive->Blank(minimal).Code(), "good");
    Reply busy = Drive->Tur();
    ASSERT_EQ(busy.Code(), "2/04/07");
    EXPECT_TRUE(busy.Outcome.Sense[15] & 0x80);  // SKSV
    Reply info = Drive->DiscInfo();
    EXPECT_EQ(info.Code(), "2/04/07");
    EXPECT_EQ(Drive->Write(0, 1, AudioSectors(1, 0, 1)).Code(), "2/04/07");
    Reply sense = Drive->RequestSense();
    ASSERT_EQ(sense.Code(), "good");
    EXPECT_EQ(sense.Data[2], 2);
    EXPECT_EQ(sense.Data[12], 0x04);
    EXPECT_EQ(sense.Data[13], 0x07);
    EXPECT_EQ(Drive->Inquiry().Code(), "good");  // identity is always answered
    std::uint16_t last = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      Reply r = Drive->Tur();
      if (r.Good()) break;
      ASSERT_EQ(r.Code(), "2/04/07");
      EXPECT_GE(r.Progress(), last);
      last = r.Progress();
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Reply d = Drive->DiscInfo();
    EXPECT_EQ(d.Data[2], 0x10);  // erasable, blank
    EXPECT_EQ(Drive->NextWritable(), 0);
    EXPECT_FALSE(std::filesystem::exists(Dir.Path / "disc.bin"));
    EXPECT_EQ(Show()["counters"]["blanks"], minimal ? 1 : 2);  // the directory is kept between the rounds
    Drive.reset();
    Recorder.reset();
  }
}

TEST_F(VirtualCommands, BlankIsRefusedOnMediaThatCannotBeErased) {
  for (const char* medium : {"cdr80", "cdrom", "dvd+rw", "dvdram"}) {
    SCOPED_TRACE(medium);
    Open(medium);
    EXPECT_EQ(Drive->Blank(true).Code(), "5/30/05");
    Drive.reset();
    Recorder.reset();
  }
  Open("cdrw80");
  EXPECT_EQ(Drive->None({0xA1, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}).Code(), "5/24/00");  // blank a track
}

const std::vector<std::uint8_t> kDvdRwQuick = {0x00, 0xA2, 0x00, 0x08, 0x00, 0x00, 0x03, 0xE8, 0x54, 0x00, 0x00, 0x10};
const std::vector<std::uint8_t> kDvdPlusRw = {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x98, 0x00, 0x00, 0x00};
const std::vector<std::uint8_t> kDvdRam = {0x00, 0x82, 0x00, 0x08, 0x00, 0x22, 0x21, 0x20, 0x00, 0x00, 0x08, 0x00};

TEST_F(VirtualCommands, DvdRwBlankThenQuickFormat) {
  Open("dvdrw");
  ASSERT_EQ(Drive->Blank(true).Code(), "good");
  ASSERT_TRUE(Drive->WaitReady());
  ASSERT_EQ(Drive->Format(kDvdRwQuick).Code(), "good");
  Reply r = Drive->Tur();
  EXPECT_EQ(r.Code(), "2/04/04");
  EXPECT_TRUE(r.Outcome.Sense[15] & 0x80);
  EXPECT_EQ(Drive->DiscInfo().Code(), "2/04/04");
  ASSERT_TRUE(Drive->WaitReady());
  EXPECT_EQ(Show()["medium"]["type"], "dvdrw-ro");
  EXPECT_EQ(Show()["counters"]["formats"], 1);
}

TEST_F(VirtualCommands, DvdPlusRwFormatsInTheBackground) {
  Open("dvd+rw");
  EXPECT_EQ(Drive->DiscInfo().Data[7] & 3, 0);
  EXPECT_EQ(Drive->Format(kDvdRwQuick).Code(), "5/26/00");  // not a DVD+RW format
  ASSERT_EQ(Drive->Format(kDvdPlusRw).Code(), "good");
  Reply d = Drive->DiscInfo();
  ASSERT_EQ(d.Code(), "good");  // a background format leaves the drive ready
  EXPECT_EQ(d.Data[7] & 3, 2);
  EXPECT_EQ(Drive->Tur().Code(), "good");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((Drive->DiscInfo().Data[7] & 3) == 2) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Drive->DiscInfo().Data[7] & 3, 3);
}

TEST_F(VirtualCommands, DvdRamFullFormat) {
  Open("dvdram");
  std::vector<std::uint8_t> tooBig = kDvdRam;
  tooBig[5] = 0x23;  // more blocks than the disc holds
  EXPECT_EQ(Drive->Format(tooBig).Code(), "5/26/00");
  std::vector<std::uint8_t> shortList(kDvdRam.begin(), kDvdRam.begin() + 8);
  EXPECT_EQ(Drive->Format(shortList).Code(), "5/1A/00");
  EXPECT_EQ(Drive->Out({0x04, 0x10, 0, 0, 0, 0}, kDvdRam).Code(), "5/24/00");  // format code 000b
  ASSERT_EQ(Drive->Format(kDvdRam).Code(), "good");
  EXPECT_EQ(Drive->Tur().Code(), "2/04/04");
  ASSERT_TRUE(Drive->WaitReady());
  Drive.reset();
  Recorder.reset();
  Open("cdrw80");
  EXPECT_EQ(Drive->Format(kDvdRam).Code(), "5/26/00");
}

TEST_F(VirtualCommands, SessionCloseTakesTimeWithImmed) {
  // A close of 6 s: room for a loaded machine to ask before it ends.
  Open("cdr80", {"time-scale=0.2"});
  cv::cvVirtualControl(Dir.Path);
  ASSERT_EQ(Drive->SetAudioTao(150, 3).Code(), "good");
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_EQ(Drive->CloseSession(true).Code(), "good");
  EXPECT_EQ(Drive->Tur().Code(), "2/04/07");
  EXPECT_EQ(Drive->DiscInfo().Code(), "2/04/07");
  EXPECT_TRUE(Drive->WaitReady());
}

TEST_F(VirtualCommands, DataPhaseMustMatchTheCommand) {
  Open("cdr80");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  std::vector<std::uint8_t> data(27 * 2352);
  cv::TScsiCommand wrong{RawDrive::Cdb10(0x2A, 0, 0, 27), cv::TDataDirection::FromDevice, data, 0};
  auto cdb = RawDrive::Cdb10(0x2A, 0, 0, 27);
  wrong.Cdb = cdb;
  cv::TScsiOutcome o = Recorder->Execute(wrong);
  EXPECT_TRUE(o.Delivered);
  EXPECT_NE(o.HostStatus, 0);
  EXPECT_FALSE(o.Good());
  EXPECT_EQ(Drive->NextWritable(), 0);  // nothing was written
  // A short CDB for its opcode.
  EXPECT_EQ(Drive->None({0x35, 0, 0, 0, 0, 0}).Code(), "5/24/00");
}

TEST_F(VirtualCommands, ReadBufferCapacityAtSpeedZeroIsEmpty) {
  Open("cdr80");
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  ASSERT_EQ(WriteTrack(1, 0, 54).Code(), "good");
  Reply r = Drive->BufferCapacity();
  ASSERT_EQ(r.Code(), "good");
  EXPECT_EQ(r.U16(0), 10);
  EXPECT_EQ(r.U32(4), 891u * 2352);
  EXPECT_EQ(r.U32(8), r.U32(4));
}

TEST(VirtualCommandTable, NamesTheCommands) {
  EXPECT_STREQ(cv::VRCommandName(0x2A), "WRITE(10)");
  EXPECT_STREQ(cv::VRCommandName(0x5B), "CLOSE TRACK/SESSION");
  EXPECT_EQ(cv::VRCommandName(0xD7), nullptr);
}

}  // namespace

// --- what other burning programs ask ---------------------------------------

TEST_F(VirtualCommands, ReadCapacityFullTocAndOpc) {
  Open("cdr80");
  // Blank: capacity 0; power calibration is a no-op.
  cvtest::Reply capacity = Drive->In(RawDrive::Cdb10(0x25), 8);
  ASSERT_TRUE(capacity.Good()) << capacity.Code();
  EXPECT_EQ(capacity.U32(0), 0u);
  EXPECT_EQ(capacity.U32(4), 2048u);
  EXPECT_TRUE(Drive->None({0x54, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}).Good());
  EXPECT_EQ(Drive->In({0x43, 0, 0x02, 0, 0, 0, 0, 0x10, 0, 0}, 4096).Code(), "5/24/00");  // no session yet

  ASSERT_TRUE(Drive->SetAudioTao().Good());
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_TRUE(Drive->SyncCache().Good());
  const std::int32_t second = Drive->NextWritable();
  ASSERT_EQ(WriteTrack(2, second, 400).Code(), "good");
  ASSERT_TRUE(Drive->CloseSession(false).Good());

  capacity = Drive->In(RawDrive::Cdb10(0x25), 8);
  ASSERT_TRUE(capacity.Good());
  const std::int32_t leadOut = second + 400;
  EXPECT_EQ(capacity.U32(0), static_cast<std::uint32_t>(leadOut - 1));

  cvtest::Reply toc = Drive->In({0x43, 0x02, 0x02, 0, 0, 0, 0, 0x10, 0, 0}, 4096);
  ASSERT_TRUE(toc.Good()) << toc.Code();
  ASSERT_EQ(toc.Data.size(), 4u + 5 * 11);  // A0, A1, A2, two tracks
  EXPECT_EQ(toc.U16(0), 2 + 5 * 11);
  EXPECT_EQ(toc.Data[2], 1);
  EXPECT_EQ(toc.Data[3], 1);
  auto entry = [&](int i) { return std::vector<std::uint8_t>(toc.Data.begin() + 4 + 11 * i, toc.Data.begin() + 15 + 11 * i); };
  EXPECT_EQ(entry(0)[3], 0xA0);
  EXPECT_EQ(entry(0)[8], 1);  // first track
  EXPECT_EQ(entry(1)[3], 0xA1);
  EXPECT_EQ(entry(1)[8], 2);  // last track
  EXPECT_EQ(entry(2)[3], 0xA2);
  auto msf = [](std::int32_t lba) {
    const std::int32_t n = lba + 150;
    return std::vector<std::uint8_t>{static_cast<std::uint8_t>(n / 4500), static_cast<std::uint8_t>(n / 75 % 60),
                                     static_cast<std::uint8_t>(n % 75)};
  };
  auto address = [&](int i) {
    const std::vector<std::uint8_t> e = entry(i);
    return std::vector<std::uint8_t>(e.begin() + 8, e.end());
  };
  EXPECT_EQ(address(2), msf(leadOut));
  EXPECT_EQ(entry(3)[3], 1);
  EXPECT_EQ(address(3), msf(0));
  EXPECT_EQ(entry(4)[3], 2);
  EXPECT_EQ(address(4), msf(second));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(entry(i)[0], 1) << "session of entry " << i;
}

TEST_F(VirtualCommands, TestWriteIsAdvertisedAndLeavesTheDiscBlank) {
  Open("cdr80");
  cvtest::Reply features = Drive->In(RawDrive::Cdb10(0x46, 0x02, 0x002D << 16, 16), 16);
  ASSERT_TRUE(features.Good());
  EXPECT_EQ(features.U16(8), 0x002D);
  EXPECT_TRUE(features.Data.at(12) & 0x04) << "feature 002Dh without Test Write";
  EXPECT_TRUE(Drive->ModeSense(0x2A).Data.at(8 + 3) & 0x04) << "page 2Ah without Test Write";

  // A whole simulated burn: two tracks, a closed session. The drive answers
  // as it would for real (the addresses advance), but writes nothing.
  ASSERT_TRUE(Drive->SetPage05([](auto& p) {
                p[2] = 0x51;  // BUFE, Test Write, Track-At-Once
                p[3] = 0x00, p[4] = 0x00, p[8] = 0x00;
                p[14] = 0, p[15] = 150;
              }).Good());
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_TRUE(Drive->SyncCache().Good());
  const std::int32_t second = Drive->NextWritable();
  EXPECT_EQ(second, 450);
  ASSERT_EQ(WriteTrack(2, second, 300).Code(), "good");
  ASSERT_TRUE(Drive->CloseSession(false).Good());
  ASSERT_TRUE(Drive->WaitReady());

  EXPECT_TRUE(Show()["sessions"].empty()) << Show().dump();
  EXPECT_EQ(Drive->NextWritable(), 0);
  EXPECT_EQ(Drive->DiscInfo().Data.at(2) & 0x03, 0);  // blank
  std::error_code ec;
  EXPECT_TRUE(!std::filesystem::exists(Dir.Path / "disc.bin", ec) || std::filesystem::file_size(Dir.Path / "disc.bin") == 0);

  // Test Write off: the same disc takes a real burn from LBA 0.
  ASSERT_TRUE(Drive->SetAudioTao().Good());
  ASSERT_EQ(WriteTrack(1, 0, 300).Code(), "good");
  ASSERT_TRUE(Drive->SyncCache().Good());
  EXPECT_EQ(Show()["sessions"][0]["tracks"].size(), 1u);
}
