// Session-At-Once on the virtual recorder, by raw CDBs: SEND CUE SHEET and
// every WRITE are checked against the layout as a strict drive does, the
// CD-TEXT lead-in pack by pack; a good burn leaves the exact image (disc.bin,
// disc.cue, disc.cdt) and the drive answers READ TOC (formats 0, 1, 5), READ
// SUB-CHANNEL (catalog number, ISRC) and GET CONFIGURATION from it.
#include <fstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tests/vrecorder/cvVirtualSaoUtil.h"
#include "tests/vrecorder/cvVirtualTestUtil.h"

namespace {

using cvtest::AudioSectors;
using cvtest::CueSheet;
using cvtest::Have;
using cvtest::RawDrive;
using cvtest::ReadFile;
using cvtest::ReadText;
using cvtest::Reply;
using cvtest::Shell;

constexpr std::int32_t kLeadInStart = -12490;  // the recorder's ATIP lead-in start

// The disc of these tests: three tracks, the Joyful Nights CD-TEXT, a catalog
// number and ISRCs; track 1 has an INDEX 02, track 2 follows track 1 without
// a pregap, track 3 has a 150-block pregap, and track 2 may be copied.
constexpr std::int32_t kT2 = 300, kT3Pregap = 601, kT3 = 751, kLeadOut = 1051;

CueSheet JoyfulNightsCue(bool cdText = true, std::int32_t leadIn = -150) {
  CueSheet c;
  c.Mcn("1234567890123").LeadIn(cdText, leadIn);
  c.Isrc(1, "XYBLG1101234").Index(1, 0, -150).Index(1, 1, 0).Index(1, 2, 100);
  c.Isrc(2, "XYBLG1100005", 2).Index(2, 1, kT2, 2);
  c.Isrc(3, "XYBLG1100006").Index(3, 0, kT3Pregap).Index(3, 1, kT3);
  return c.LeadOut(kLeadOut);
}

// What the host sends from -150 on: the pause, the tracks, the pregap of
// track 3 (silence), all in one stream.
std::vector<std::uint8_t> ProgramArea() {
  std::vector<std::uint8_t> data(150 * 2352, 0);
  auto add = [&](const std::vector<std::uint8_t>& d) { data.insert(data.end(), d.begin(), d.end()); };
  add(AudioSectors(1, 0, kT2));
  add(AudioSectors(2, 0, kT3Pregap - kT2));
  add(std::vector<std::uint8_t>((kT3 - kT3Pregap) * 2352, 0));
  add(AudioSectors(3, 0, kLeadOut - kT3));
  return data;
}

class VirtualSao : public ::testing::Test {
 protected:
  void SetUp() override {
    cv::cvVirtualControl control(Dir.Path);
    ASSERT_TRUE(control.Insert("cdr80"));
    ASSERT_TRUE(control.Set({"time-scale=0"}));
    Open();
  }
  void Open() {
    Drive.reset();
    Recorder.reset();
    Recorder = cv::OpenVirtualRecorder();
    Drive = std::make_unique<RawDrive>(*Recorder);
    Drive->Settle();
  }

  Reply SetSao(std::uint8_t multisession = 0, std::uint8_t trackMode = 0, std::uint8_t blockType = 0,
               bool testWrite = false) {
    return Drive->SetPage05([&](std::vector<std::uint8_t>& p) {
      p[2] = static_cast<std::uint8_t>(0x40 | (testWrite ? 0x10 : 0x00) | 0x02);
      p[3] = static_cast<std::uint8_t>(multisession << 6 | trackMode);
      p[4] = blockType;
      p[8] = 0x00;
    });
  }
  Reply SendCue(const std::vector<std::uint8_t>& sheet, std::uint32_t size) {
    return Drive->Out({0x5D, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 8),
                       static_cast<std::uint8_t>(size), 0},
                      sheet);
  }
  Reply SendCue(const std::vector<std::uint8_t>& sheet) { return SendCue(sheet, static_cast<std::uint32_t>(sheet.size())); }
  // Writes blocks of blockBytes from lba in WRITEs of at most perWrite blocks.
  void WriteAll(std::int32_t lba, const std::vector<std::uint8_t>& data, std::uint32_t blockBytes, std::uint32_t perWrite) {
    const auto blocks = static_cast<std::uint32_t>(data.size() / blockBytes);
    for (std::uint32_t done = 0; done < blocks;) {
      const std::uint32_t n = std::min(perWrite, blocks - done);
      const std::vector<std::uint8_t> part(data.begin() + static_cast<long>(done * blockBytes),
                                           data.begin() + static_cast<long>((done + n) * blockBytes));
      ASSERT_EQ(Drive->Write(lba + static_cast<std::int32_t>(done), static_cast<std::uint16_t>(n), part).Code(), "good")
          << "at " << lba + static_cast<std::int32_t>(done);
      done += n;
    }
  }
  Reply ReadToc(std::uint8_t format, std::uint8_t track = 0, std::uint16_t allocation = 4096, bool msf = false) {
    return Drive->In(RawDrive::Cdb10(0x43, msf ? 0x02 : 0x00, std::uint32_t{format} << 24, allocation, track), allocation);
  }
  Reply SubChannel(std::uint8_t format, std::uint8_t track = 0) {
    return Drive->In({0x42, 0x00, 0x40, format, 0, 0, track, 0, 24, 0}, 24);
  }
  nlohmann::json Show() {
    nlohmann::json report;
    cv::cvVirtualControl control(Dir.Path);
    EXPECT_TRUE(control.Show(report)) << control.Error();
    return report;
  }
  std::string LastRefusal() { return Show()["session-at-once"].value("last-refusal", std::string()); }
  // The same while the recorder is open (the show reads the saved state).
  std::string LastRefusalOpen() {
    nlohmann::json j;
    std::ifstream in(Dir.Path / "recorder.json");
    in >> j;
    return j["session-at-once"].value("last-refusal", std::string());
  }

  // The whole good burn of the test disc, lead-in included.
  void BurnJoyfulNights(std::uint8_t multisession = 0) {
    ASSERT_EQ(SetSao(multisession).Code(), "good");
    ASSERT_EQ(SendCue(JoyfulNightsCue().Bytes).Code(), "good");
    ASSERT_EQ(Drive->NextWritable(), -150);  // as drives report it, whatever the layout
    WriteAll(kLeadInStart, cvtest::LeadInBlocks(cvtest::JoyfulNightsPacks(), 0, -150 - kLeadInStart), 96, 31);
    WriteAll(-150, ProgramArea(), 2352, 27);
    ASSERT_EQ(Drive->SyncCache().Code(), "good");
  }

  cvtest::TempRecorderDir Dir;
  std::unique_ptr<cv::cvTransport> Recorder;
  std::unique_ptr<RawDrive> Drive;
};

TEST_F(VirtualSao, GoodBurnLeavesTheExactImage) {
  BurnJoyfulNights();
  const std::vector<std::uint8_t> program = ProgramArea();
  EXPECT_EQ(ReadFile(Dir.Path / "disc.bin"), std::vector<std::uint8_t>(program.begin() + 150 * 2352, program.end()));
  std::vector<std::uint8_t> packs;
  for (const auto& p : cvtest::JoyfulNightsPacks()) packs.insert(packs.end(), p.begin(), p.end());
  EXPECT_EQ(ReadFile(Dir.Path / "disc.cdt"), packs);
  EXPECT_EQ(ReadText(Dir.Path / "disc.cue"),
            "CATALOG 1234567890123\n"
            "CDTEXTFILE \"disc.cdt\"\n"
            "TITLE \"Joyful Nights\"\n"
            "FILE \"disc.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n"
            "    TITLE \"Song of Joy\"\n"
            "    PERFORMER \"Felix and The Purrs\"\n"
            "    SONGWRITER \"Friedrich Schiller\"\n"
            "    ISRC XYBLG1101234\n"
            "    PREGAP 00:02:00\n"
            "    INDEX 01 00:00:00\n"
            "    REM index 02 00:01:25\n"
            "  TRACK 02 AUDIO\n"
            "    FLAGS DCP\n"
            "    TITLE \"Humpty Dumpty\"\n"
            "    PERFORMER \"Catwalk Beauties\"\n"
            "    SONGWRITER \"Mother Goose\"\n"
            "    ISRC XYBLG1100005\n"
            "    INDEX 01 00:04:00\n"
            "  TRACK 03 AUDIO\n"
            "    TITLE \"Mee Owwww\"\n"
            "    PERFORMER \"Mia Kitten\"\n"
            "    SONGWRITER \"Mia Kitten\"\n"
            "    ISRC XYBLG1100006\n"
            "    INDEX 00 00:08:01\n"
            "    INDEX 01 00:10:01\n");
  const nlohmann::json report = Show();
  EXPECT_EQ(report["medium"]["disc-status"], "complete") << report.dump(2);

  // READ DISC INFORMATION: a finished disc.
  Reply info = Drive->DiscInfo();
  ASSERT_TRUE(info.Good());
  EXPECT_EQ(info.Data[2] & 0x03, 2);
}

TEST_F(VirtualSao, ATestWriteChecksEveryBlockAndLeavesTheDiscBlank) {
  ASSERT_EQ(SetSao(0, 0, 0, true).Code(), "good");
  ASSERT_EQ(SendCue(JoyfulNightsCue().Bytes).Code(), "good");
  WriteAll(kLeadInStart, cvtest::LeadInBlocks(cvtest::JoyfulNightsPacks(), 0, -150 - kLeadInStart), 96, 31);
  // The layout is enforced as in a real write.
  EXPECT_EQ(Drive->Write(0, 1, std::vector<std::uint8_t>(2352, 0)).Code(), "5/21/02");
  WriteAll(-150, ProgramArea(), 2352, 27);
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  Reply info = Drive->DiscInfo();
  ASSERT_TRUE(info.Good());
  EXPECT_EQ(info.Data[2] & 0x03, 0);  // blank
  const std::vector<std::uint8_t> image = ReadFile(Dir.Path / "disc.bin");
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](std::uint8_t b) { return b == 0; }));
  // The same disc takes the real write afterwards.
  BurnJoyfulNights();
  EXPECT_EQ(Drive->DiscInfo().Data[2] & 0x03, 2);
}

TEST_F(VirtualSao, TocSubChannelAndConfigurationAfterTheBurn) {
  BurnJoyfulNights();
  // Format 0: tracks with their CONTROL nibble, the lead-out.
  Reply toc = ReadToc(0);
  ASSERT_TRUE(toc.Good()) << toc.Code();
  ASSERT_EQ(toc.U16(0), 2 + 8 * 4);
  EXPECT_EQ(toc.Data[2], 1);
  EXPECT_EQ(toc.Data[3], 3);
  const std::int32_t starts[] = {0, kT2, kT3, kLeadOut};
  const std::uint8_t numbers[] = {1, 2, 3, 0xAA};
  const std::uint8_t controls[] = {0x10, 0x12, 0x10, 0x10};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(toc.Data[4 + 8 * i + 1], controls[i]) << i;
    EXPECT_EQ(toc.Data[4 + 8 * i + 2], numbers[i]) << i;
    EXPECT_EQ(static_cast<std::int32_t>(toc.U32(4 + 8 * i + 4)), starts[i]) << i;
  }
  // The same in MSF from track 3 on.
  toc = ReadToc(0, 3, 4096, true);
  ASSERT_EQ(toc.U16(0), 2 + 8 * 2);
  EXPECT_EQ(toc.Data[9], 0);
  EXPECT_EQ(toc.Data[10], (kT3 + 150) / 75);
  EXPECT_EQ(toc.Data[11], (kT3 + 150) % 75);
  // Format 1: one session, its first track.
  toc = ReadToc(1);
  ASSERT_TRUE(toc.Good());
  EXPECT_EQ(toc.Data[2], 1);
  EXPECT_EQ(toc.Data[3], 1);
  EXPECT_EQ(toc.Data[6], 1);
  // Format 5: the packs exactly as written, one copy, whatever the MSF bit.
  for (bool msf : {false, true}) {
    toc = ReadToc(5, 0, 4096, msf);
    ASSERT_TRUE(toc.Good()) << toc.Code();
    ASSERT_EQ(toc.U16(0), 2 + 22 * 18);
    ASSERT_EQ(toc.Data.size(), 4u + 22 * 18);
    const auto packs = cvtest::JoyfulNightsPacks();
    for (std::size_t i = 0; i < packs.size(); ++i)
      EXPECT_TRUE(std::equal(packs[i].begin(), packs[i].end(), toc.Data.begin() + 4 + static_cast<long>(18 * i))) << i;
  }
  // Readers ask for the length first.
  toc = ReadToc(5, 0, 4);
  ASSERT_EQ(toc.Data.size(), 4u);
  EXPECT_EQ(toc.U16(0), 2 + 22 * 18);

  // READ SUB-CHANNEL: the catalog number and each track's ISRC.
  Reply sub = SubChannel(0x02);
  ASSERT_TRUE(sub.Good()) << sub.Code();
  EXPECT_EQ(sub.U16(2), 20);
  EXPECT_EQ(sub.Data[4], 0x02);
  EXPECT_EQ(sub.Data[8] & 0x80, 0x80);
  EXPECT_EQ(std::string(sub.Data.begin() + 9, sub.Data.begin() + 22), "1234567890123");
  const char* isrcs[] = {"XYBLG1101234", "XYBLG1100005", "XYBLG1100006"};
  for (std::uint8_t t = 1; t <= 3; ++t) {
    sub = SubChannel(0x03, t);
    ASSERT_TRUE(sub.Good()) << sub.Code();
    EXPECT_EQ(sub.Data[4], 0x03);
    EXPECT_EQ(sub.Data[6], t);
    EXPECT_EQ(sub.Data[8] & 0x80, 0x80);
    EXPECT_EQ(std::string(sub.Data.begin() + 9, sub.Data.begin() + 21), isrcs[t - 1]);
  }
  EXPECT_EQ(SubChannel(0x03, 4).Code(), "5/24/00");
  EXPECT_EQ(SubChannel(0x07).Code(), "5/24/00");
  // Without the SubQ bit: the header only.
  sub = Drive->In({0x42, 0x00, 0x00, 0x02, 0, 0, 0, 0, 24, 0}, 24);
  ASSERT_TRUE(sub.Good());
  EXPECT_EQ(sub.U16(2), 0);

  // GET CONFIGURATION feature 002Eh: current, Session-At-Once and R-W.
  Reply config = Drive->In({0x46, 0x02, 0x00, 0x2E, 0, 0, 0, 0, 64, 0}, 64);
  ASSERT_TRUE(config.Good());
  ASSERT_GE(config.Data.size(), 16u);
  EXPECT_EQ(config.U16(8), 0x002E);
  EXPECT_EQ(config.Data[10] & 0x01, 0x01);
  EXPECT_EQ(config.Data[12] & 0x21, 0x21);
  EXPECT_GE(config.U32(12) & 0xFFFFFF, 8u * 400);  // room for a cue sheet of 99 tracks with ISRCs
}

TEST_F(VirtualSao, TracksOfADiscWithoutCDTextOrCatalog) {
  ASSERT_EQ(SetSao(3, 4).Code(), "good");  // keep appendable; Track Mode 4 as cdrdao sends it
  CueSheet c;
  c.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(2, 0, 300).Index(2, 1, 300).LeadOut(600);
  ASSERT_EQ(SendCue(c.Bytes).Code(), "good");
  EXPECT_EQ(Drive->NextWritable(), -150);
  std::vector<std::uint8_t> data(150 * 2352, 0);
  const auto t1 = AudioSectors(1, 0, 300), t2 = AudioSectors(2, 0, 300);
  data.insert(data.end(), t1.begin(), t1.end());
  data.insert(data.end(), t2.begin(), t2.end());
  WriteAll(-150, data, 2352, 50);
  ASSERT_EQ(Drive->SyncCache().Code(), "good");
  EXPECT_FALSE(std::filesystem::exists(Dir.Path / "disc.cdt"));
  EXPECT_EQ(ReadText(Dir.Path / "disc.cue"),
            "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n");
  Reply toc = ReadToc(5);
  ASSERT_TRUE(toc.Good());
  EXPECT_EQ(toc.U16(0), 2);  // no CD-TEXT: the header alone
  Reply sub = SubChannel(0x02);
  ASSERT_TRUE(sub.Good());
  EXPECT_EQ(sub.Data[8] & 0x80, 0);
  sub = SubChannel(0x03, 1);
  ASSERT_TRUE(sub.Good());
  EXPECT_EQ(sub.Data[8] & 0x80, 0);
  // Appendable: the next session starts after lead-out, lead-in and pregap.
  Reply info = Drive->DiscInfo();
  EXPECT_EQ(info.Data[2] & 0x03, 1);
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Drive->NextWritable(), 600 + 11400);
}

TEST_F(VirtualSao, CueSheetRefusals) {
  const auto good = JoyfulNightsCue().Bytes;
  // Not in Session-At-Once mode (the power-on page says Track-At-Once).
  EXPECT_EQ(SendCue(good).Code(), "5/2C/00");
  ASSERT_EQ(SetSao().Code(), "good");
  // Lengths: none, ragged, more than was sent.
  EXPECT_EQ(SendCue({}, 0).Code(), "5/1A/00");
  EXPECT_EQ(SendCue(std::vector<std::uint8_t>(good.begin(), good.end() - 3)).Code(), "5/1A/00");
  EXPECT_EQ(SendCue(good, static_cast<std::uint32_t>(good.size() + 8)).Code(), "5/1A/00");
  // Layouts a drive refuses: 5/26/00, and the reason shows in `virtual show`.
  CueSheet shortTrack;
  shortTrack.LeadIn().Index(1, 0, -150).Index(1, 1, 0).LeadOut(299);
  EXPECT_EQ(SendCue(shortTrack.Bytes).Code(), "5/26/00");
  Drive.reset();
  Recorder.reset();
  EXPECT_NE(LastRefusal().find("track 1 has 299 blocks"), std::string::npos) << LastRefusal();
  Open();
  CueSheet backwards;
  backwards.LeadIn().Index(1, 0, -150).Index(1, 1, 0).Index(2, 1, 400).Index(2, 2, 399).LeadOut(800);
  EXPECT_EQ(SendCue(backwards.Bytes).Code(), "5/26/00");
  CueSheet badIsrc;
  badIsrc.LeadIn().Isrc(1, "XY-LG1101234").Index(1, 0, -150).Index(1, 1, 0).LeadOut(300);
  EXPECT_EQ(SendCue(badIsrc.Bytes).Code(), "5/26/00");
  CueSheet dataForm;
  dataForm.LeadIn().Index(1, 0, -150).Index(1, 1, 0, 0, 0x01).LeadOut(300);
  EXPECT_EQ(SendCue(dataForm.Bytes).Code(), "5/26/00");
  CueSheet beyond;
  beyond.LeadIn().Index(1, 0, -150).Index(1, 1, 0).LeadOut(359850);
  EXPECT_EQ(SendCue(beyond.Bytes).Code(), "5/26/00");
  // A refused sheet leaves no layout: WRITE has nothing to follow.
  EXPECT_EQ(Drive->Write(-150, 1, std::vector<std::uint8_t>(2352)).Code(), "5/2C/00");

  // Drives that refuse one form of the sheet (the writers' fallbacks).
  Drive.reset();
  Recorder.reset();
  cv::cvVirtualControl control(Dir.Path);
  ASSERT_TRUE(control.Set({"cue-refuse=leadin-zero,isrc-ctl"})) << control.Error();
  Open();
  EXPECT_EQ(SendCue(good).Code(), "5/26/00");  // CD-TEXT lead-in at 00:00:00
  EXPECT_NE(LastRefusalOpen().find("00:00:00"), std::string::npos);
  EXPECT_EQ(SendCue(JoyfulNightsCue(true, kLeadInStart).Bytes).Code(), "5/26/00");  // track 2's ISRC with its CTL
  CueSheet noCtl;
  noCtl.Mcn("1234567890123").LeadIn(true, kLeadInStart);
  noCtl.Isrc(1, "XYBLG1101234").Index(1, 0, -150).Index(1, 1, 0).Index(1, 2, 100);
  noCtl.Isrc(2, "XYBLG1100005", 0).Index(2, 1, kT2, 2);
  noCtl.Isrc(3, "XYBLG1100006").Index(3, 0, kT3Pregap).Index(3, 1, kT3).LeadOut(kLeadOut);
  EXPECT_EQ(SendCue(noCtl.Bytes).Code(), "good");

  // A drive without Session-At-Once or without CD-TEXT writing.
  Drive.reset();
  Recorder.reset();
  ASSERT_TRUE(control.Set({"cue-refuse=off", "cdtext-unsupported=1"})) << control.Error();
  Open();
  EXPECT_EQ(SendCue(good).Code(), "5/26/00");
  EXPECT_EQ(SendCue(JoyfulNightsCue(false).Bytes).Code(), "good");
  Reply config = Drive->In({0x46, 0x02, 0x00, 0x2E, 0, 0, 0, 0, 64, 0}, 64);
  EXPECT_EQ(config.Data.at(12) & 0x01, 0);
  Drive.reset();
  Recorder.reset();
  ASSERT_TRUE(control.Set({"sao-unsupported=1"})) << control.Error();
  Open();
  EXPECT_EQ(SetSao().Code(), "5/26/00");
  config = Drive->In({0x46, 0x02, 0x00, 0x2E, 0, 0, 0, 0, 64, 0}, 64);
  EXPECT_EQ(config.U32(0), 4u);  // no such feature
}

TEST_F(VirtualSao, WritesOutsideTheLayoutAreRefused) {
  ASSERT_EQ(SetSao().Code(), "good");
  EXPECT_EQ(Drive->Write(-150, 1, std::vector<std::uint8_t>(2352)).Code(), "5/2C/00");  // no cue sheet yet
  ASSERT_EQ(SendCue(JoyfulNightsCue().Bytes).Code(), "good");
  const auto list = cvtest::JoyfulNightsPacks();
  // The lead-in comes first, at its start, 96 bytes a block.
  EXPECT_EQ(Drive->Write(-150, 1, std::vector<std::uint8_t>(2352)).Code(), "5/21/02");
  EXPECT_EQ(Drive->Write(kLeadInStart + 1, 1, cvtest::LeadInBlocks(list, 0, 1)).Code(), "5/21/02");
  EXPECT_EQ(Drive->Write(kLeadInStart, 1, std::vector<std::uint8_t>(2352)).Code(), "5/24/00");
  EXPECT_EQ(Drive->Write(kLeadInStart, 2, cvtest::LeadInBlocks(list, 0, 1)).Code(), "5/24/00");
  // Up to -152, then a WRITE that crosses into the program area.
  const std::uint32_t leadIn = static_cast<std::uint32_t>(-152 - kLeadInStart);
  WriteAll(kLeadInStart, cvtest::LeadInBlocks(list, 0, leadIn), 96, 64);
  std::vector<std::uint8_t> cross = cvtest::LeadInBlocks(list, leadIn * 4, 2);
  cross.resize(96 + 2352);
  EXPECT_EQ(Drive->Write(-152, 2, cross).Code(), "5/24/00");
  WriteAll(-152, cvtest::LeadInBlocks(list, leadIn * 4, 2), 96, 2);
  // A second cue sheet once writing has begun.
  EXPECT_EQ(SendCue(JoyfulNightsCue().Bytes).Code(), "5/2C/00");
  // The program area: in order, no further than the lead-out.
  EXPECT_EQ(Drive->Write(-149, 1, std::vector<std::uint8_t>(2352)).Code(), "5/21/02");
  const auto program = ProgramArea();
  WriteAll(-150, std::vector<std::uint8_t>(program.begin(), program.end() - 2352 * 10), 2352, 60);
  EXPECT_EQ(Drive->Write(kLeadOut - 10, 11, std::vector<std::uint8_t>(11 * 2352)).Code(), "5/21/00");
  EXPECT_EQ(Drive->Write(kLeadOut - 10, 10, std::vector<std::uint8_t>(10 * 2352 - 1)).Code(), "5/24/00");
  // An early close: the session is not complete.
  EXPECT_EQ(Drive->SyncCache().Code(), "good");
  EXPECT_EQ(Drive->CloseSession().Code(), "5/72/03");
  EXPECT_EQ(Drive->DiscInfo().Data.at(2) & 0x03, 0);
  // Track-At-Once writing cannot start on a half-written session.
  ASSERT_EQ(Drive->SetAudioTao().Code(), "good");
  EXPECT_EQ(Drive->Write(0, 1, std::vector<std::uint8_t>(2352)).Code(), "5/2C/00");
  ASSERT_EQ(SetSao().Code(), "good");
  WriteAll(kLeadOut - 10, std::vector<std::uint8_t>(program.end() - 2352 * 10, program.end()), 2352, 10);
  EXPECT_EQ(Drive->SyncCache().Code(), "good");
  EXPECT_EQ(Drive->DiscInfo().Data.at(2) & 0x03, 2);
  EXPECT_EQ(ReadFile(Dir.Path / "disc.bin"), std::vector<std::uint8_t>(program.begin() + 150 * 2352, program.end()));
}

TEST_F(VirtualSao, BadLeadInsAreRefusedPackByPack) {
  const auto list = cvtest::JoyfulNightsPacks();
  struct Case {
    const char* Name;
    std::function<std::vector<std::uint8_t>()> LeadIn;  // the first 40 blocks written
    std::int32_t RefusedAt;                               // the WRITE (of 8 blocks) refused
    const char* Reason;
  };
  auto damaged = [&](std::size_t pack, std::size_t byte, std::uint8_t value, bool reseal) {
    auto l = list;
    l[pack][byte] = value;
    if (reseal) cvtest::Reseal(l[pack]);
    return cvtest::LeadInBlocks(l, 0, 40);
  };
  const Case cases[] = {
      {"CRC", [&] { return damaged(9, 10, 0x55, false); }, 0, "pack 9 (type 81h, block 0, sequence 9): CRC mismatch"},
      {"sequence", [&] { return damaged(12, 2, 0x0D, true); }, 0, "sequence number 13 follows 11"},
      {"size information", [&] { return damaged(19, 6, 0x04, true); }, 0, "names tracks 1..4, the disc has 1..3"},
      {"late start", [&] { return cvtest::LeadInBlocks(list, 4, 40); }, 0, "must start with sequence 0 of block 0"},
      {"cycle changes",
       [&] {
         auto l = cvtest::LeadInBlocks(list, 0, 40);
         auto other = list;
         other[3][8] = 'X';
         cvtest::Reseal(other[3]);
         const auto six = cvtest::SixBit(other[3]);
         std::copy(six.begin(), six.end(), l.begin() + 24 * (22 * 5 + 3));  // pack 3 of the sixth cycle
         return l;
       },
       24, "lead-in pack 113 differs from pack 3 of the first cycle"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Drive.reset();
    Recorder.reset();
    ASSERT_TRUE(cv::cvVirtualControl(Dir.Path).Insert("cdr80"));
    Open();
    ASSERT_EQ(SetSao().Code(), "good");
    ASSERT_EQ(SendCue(JoyfulNightsCue().Bytes).Code(), "good");
    const auto blocks = c.LeadIn();
    std::string refused;
    std::int32_t at = 0;
    for (; at < 40; at += 8) {
      const std::vector<std::uint8_t> part(blocks.begin() + 96 * at, blocks.begin() + 96 * (at + 8));
      const Reply r = Drive->Write(kLeadInStart + at, 8, part);
      if (!r.Good()) {
        refused = r.Code();
        break;
      }
    }
    EXPECT_EQ(refused, "3/0C/00");
    EXPECT_EQ(at, c.RefusedAt);
    Drive.reset();
    Recorder.reset();
    EXPECT_NE(LastRefusal().find(c.Reason), std::string::npos) << LastRefusal();
    // The refused WRITE moved nothing: the good blocks are taken at the same address.
    Open();
    const auto good = cvtest::LeadInBlocks(list, static_cast<std::size_t>(at) * 4, 8);
    EXPECT_EQ(Drive->Write(kLeadInStart + at, 8, good).Code(), "good");
  }
}

TEST_F(VirtualSao, IndependentToolsReadTheImage) {
  if (!Have("cuebreakpoints") || !Have("bchunk")) GTEST_SKIP() << "cuebreakpoints or bchunk is missing (apt-get install cuetools bchunk)";
  BurnJoyfulNights();
  const std::string cue = (Dir.Path / "disc.cue").string();
  auto point = [](int lba) {
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d.%02d\n", lba / 4500, lba / 75 % 60, lba % 75);
    return std::string(text);
  };
  EXPECT_EQ(Shell("cuebreakpoints '" + cue + "' 2>&1"), point(kT2) + point(kT3));
  const std::filesystem::path out = Dir.Path / "bchunk";
  std::filesystem::create_directories(out);
  Shell("cd '" + out.string() + "' && bchunk -w '" + (Dir.Path / "disc.bin").string() + "' '" + cue + "' t 2>&1");
  const std::vector<std::vector<std::uint8_t>> tracks = {AudioSectors(1, 0, kT2), AudioSectors(2, 0, kT3Pregap - kT2),
                                                         AudioSectors(3, 0, kLeadOut - kT3)};
  for (int n = 1; n <= 3; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "t%02d.wav", n);
    const auto wav = ReadFile(out / name);
    ASSERT_GT(wav.size(), 44u) << name;
    EXPECT_EQ(std::vector<std::uint8_t>(wav.begin() + 44, wav.end()), tracks[n - 1]) << name;
  }
}

}  // namespace
