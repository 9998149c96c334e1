// The main window against the virtual recorder: every test gets a fresh
// recorder directory, sets its medium and faults through the recorder's
// control panel before the window opens it, and drives the window as a
// user would (drops, clicks, shortcuts), on Qt's offscreen platform.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <vector>

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include "app/Unit1.h"
#include "burner/cvDiscFill.h"
#include "decode/cvAudFiles.h"
#include "vrecorder/cvVirtualControl.h"
#include "vrecorder/cvVirtualRecorder.h"

namespace {
// As the program's main does: the window lists the virtual recorder.
[[maybe_unused]] const bool kRecorderListed = (cv::UseVirtualRecorder(), true);
}  // namespace

using cv::TForm1;

namespace {

constexpr int kWait = 60000;  // generous bound for a loaded machine

QString Msf(qint64 sectors) {
  return QString::asprintf("%02d:%02d:%02d", static_cast<int>(sectors / 4500), static_cast<int>((sectors / 75) % 60),
                           static_cast<int>(sectors % 75));
}

// A RIFF/WAVE file of CD audio, exactly `sectors` sectors of a quiet tone.
void WriteWav(const QString& path, int sectors) {
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(sectors) * 2352u;
  std::vector<unsigned char> file(44 + dataBytes);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  auto put16 = [&](std::size_t at, std::uint16_t v) {
    file[at] = static_cast<unsigned char>(v);
    file[at + 1] = static_cast<unsigned char>(v >> 8);
  };
  std::memcpy(&file[0], "RIFF", 4);
  put32(4, 36 + dataBytes);
  std::memcpy(&file[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 2);
  put32(24, 44100);
  put32(28, 44100 * 4);
  put16(32, 4);
  put16(34, 16);
  std::memcpy(&file[36], "data", 4);
  put32(40, dataBytes);
  for (std::uint32_t frame = 0; frame < dataBytes / 4; ++frame) {
    // A 441 Hz triangle, quiet, the same on both channels.
    const int phase = static_cast<int>(frame % 100);
    const auto sample = static_cast<std::uint16_t>(static_cast<std::int16_t>((phase < 50 ? phase : 100 - phase) * 80 - 2000));
    put16(44 + frame * 4, sample);
    put16(44 + frame * 4 + 2, sample);
  }
  std::ofstream out(path.toStdString(), std::ios::binary);
  out.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

QString Mp3Fixture() { return QStringLiteral(CORVID_FIXTURES_DIR "/app/tone2s.mp3"); }

// Sends a file drag from a file manager onto the list, as Qt delivers it.
void DropFiles(TForm1& form, const QStringList& paths) {
  QMimeData data;
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  data.setUrls(urls);
  QWidget* target = form.clBox->viewport();
  const QPoint at(20, 20);
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
}

// What the window showed at each tick of its status timer.
struct TTick {
  QString Label2;
  QString Label3;
  int Position;
  int Maximum;
  bool BurnEnabled;
  bool EraseEnabled;
  bool EjectEnabled;
  bool LoadEnabled;
  bool FreeSpaceEnabled;
  bool DrivesEnabled;
  bool AddEnabled;
};

}  // namespace

class TForm1Test : public QObject {
  Q_OBJECT

 public:
  TForm1Test() = default;

 private:
  std::unique_ptr<QTemporaryDir> Recorder_;
  std::unique_ptr<QTemporaryDir> Files_;
  std::unique_ptr<TForm1> Form_;
  std::vector<TTick> Ticks_;
  QStringList EraseQuestions_;
  bool EraseAnswer_ = true;
  QStringList Notes_;  // desktop notifications shown

  // What `corvid-burn virtual insert|set ARGS` does, on this test's
  // recorder (while no window has it open).
  bool Virtual(const QStringList& args) {
    cv::cvVirtualControl control(QFile::encodeName(Recorder_->path()).toStdString());
    bool done = false;
    if (args.value(0) == QStringLiteral("insert")) {
      done = control.Insert(args.value(1).toStdString());
    } else if (args.value(0) == QStringLiteral("set")) {
      std::vector<std::string> assignments;
      for (const QString& a : args.mid(1)) assignments.push_back(a.toStdString());
      done = control.Set(assignments);
    }
    if (!done) qWarning("virtual %s: %s", qPrintable(args.join(QLatin1Char(' '))), control.Error().c_str());
    return done;
  }

  QString File(const QString& name) const { return Files_->filePath(name); }

  QString Wav(const QString& name, int sectors) {
    const QString path = File(name);
    WriteWav(path, sectors);
    return path;
  }

  // Hands files to the window and waits until their rows are in.
  void AddAndWait(TForm1& form, const QStringList& files) {
    form.AddDroppedFiles(files);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Measuring(), kWait);
  }

  // Opens the window on the recorder as set up so far.
  TForm1& Open() {
    Form_ = std::make_unique<TForm1>();
    Form_->ConfirmErase = [this](const QString& question) {
      EraseQuestions_ << question;
      return EraseAnswer_;
    };
    Form_->Notify = [this](const QString& summary, const QString& body) { Notes_ << summary + QStringLiteral(": ") + body; };
    cv::TBurnTimings timings = Form_->kacdb.GetTimings();
    timings.DrivePoll = std::chrono::milliseconds(50);
    Form_->kacdb.SetTimings(timings);
    QObject::connect(Form_->Timer1, &QTimer::timeout, Form_.get(), [this] {
      TForm1& f = *Form_;
      Ticks_.push_back({f.Label2->text(), f.Label3->text(), f.PB->value(), f.PB->maximum(), f.Button1->isEnabled(),
                        f.Button2->isEnabled(), f.Button3->isEnabled(), f.Button4->isEnabled(),
                        f.Label4->isEnabled(), f.lbDrives->isEnabled(), f.Add1->isEnabled()});
    });
    Form_->show();
    return *Form_;
  }

  int DiscTracks() const {
    QFile cue(Recorder_->filePath(QStringLiteral("disc.cue")));
    if (!cue.open(QIODevice::ReadOnly)) return 0;
    return static_cast<int>(QString::fromUtf8(cue.readAll()).count(QRegularExpression(QStringLiteral("TRACK \\d+ AUDIO"))));
  }

  qint64 DiscBytes() const { return QFileInfo(Recorder_->filePath(QStringLiteral("disc.bin"))).size(); }

  bool SawTick(const std::function<bool(const TTick&)>& what) const {
    for (const TTick& t : Ticks_)
      if (what(t)) return true;
    return false;
  }

  // Burns the rows and waits for the outcome in Label2.
  void BurnAndWait(TForm1& form, const QString& outcome) {
    QVERIFY(form.Button1->isEnabled());
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), outcome, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), kWait);
  }

 private slots:
  void init() {
    Recorder_ = std::make_unique<QTemporaryDir>();
    Files_ = std::make_unique<QTemporaryDir>();
    QVERIFY(Recorder_->isValid() && Files_->isValid());
    qputenv("CORVID_VIRTUAL_RECORDER", QFile::encodeName(Recorder_->path()));
    Ticks_.clear();
    EraseQuestions_.clear();
    EraseAnswer_ = true;
    Notes_.clear();
  }

  void cleanup() {
    if (Form_) {
      // A failed test may leave a job running: let it end first.
      QTRY_VERIFY_WITH_TIMEOUT(!Form_->kacdb.IsBusy(), kWait);
      Form_.reset();
    }
    Recorder_.reset();
    Files_.reset();
  }

  void showListsTheRecorderAndBuildsCaptionAndFilter() {
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    const int count = form.kacdb.GetDeviceCount();
    QVERIFY(count >= 1);
    QCOMPARE(form.lbDrives->count(), count);
    int virtualIndex = -1;
    for (int i = 0; i < count; ++i) {
      QCOMPARE(form.lbDrives->itemText(i), QString::fromStdString(form.kacdb.GetDeviceName(static_cast<std::uint8_t>(i))));
      if (form.kacdb.GetDevicePath(static_cast<std::uint8_t>(i)) == "virtual") virtualIndex = i;
    }
    QVERIFY(virtualIndex >= 0);
    QVERIFY(form.lbDrives->itemText(virtualIndex).contains(QStringLiteral("VIRTUAL RECORDER")));
    QCOMPARE(form.lbDrives->currentIndex(), 0);
    QCOMPARE(form.kacdb.GetSelectedDevice(), 0);

    // The codecs of this build decode MP3 (mpg123), so the window offers it.
    cv::TAudioFile probe("");
    QVERIFY(cv::HasKind(probe.SupportedKinds, cv::afMP3));
    QCOMPARE(form.windowTitle(), QStringLiteral("Corvid Audio CD Burner (WAV, MP3)"));
    // And FLAC, Opus, M4A and AIFF (libFLAC, libopus, libavcodec, our own
    // PCM converter).
    QVERIFY(cv::HasKind(probe.SupportedKinds, cv::afFLAC) && cv::HasKind(probe.SupportedKinds, cv::afOpus) &&
            cv::HasKind(probe.SupportedKinds, cv::afM4A) && cv::HasKind(probe.SupportedKinds, cv::afAIFF));
    const QString masks = QStringLiteral("*.wav;*.mp3;*.flac;*.opus;*.m4a;*.mp4;*.aif;*.aiff;*.aifc");
    // The form's filter first, then everything the build reads (Ogg Vorbis
    // and WMA too), those two kinds on their own, and the lists.
    QVERIFY2(form.DialogFilter().startsWith(
                 QStringLiteral("All Supported Audio Formats (") + masks + QStringLiteral(")|") + masks +
                 QStringLiteral("|Wave (Microsoft) Aduio Files (*.wav)|*.wav|MP3 Audio Files (*.mp3)|*.mp3|"
                                "FLAC Audio Files (*.flac)|*.flac|Ogg Opus Audio Files (*.opus)|*.opus|"
                                "MPEG-4 Audio Files (*.m4a;*.mp4)|*.m4a;*.mp4|"
                                "AIFF Audio Files (*.aif;*.aiff;*.aifc)|*.aif;*.aiff;*.aifc|"
                                "Every Audio File and List This Build Reads (") +
                 masks),
             qPrintable(form.DialogFilter()));
    QVERIFY(form.DialogFilter().endsWith(
        QStringLiteral("|Playlists and Cue Sheets (*.m3u;*.m3u8;*.pls;*.cue)|*.m3u;*.m3u8;*.pls;*.cue")));
    const QStringList filters = form.od->nameFilters();
    QVERIFY(filters.size() >= 9);
    QVERIFY(filters[0].startsWith(QStringLiteral("All Supported Audio Formats (*.wav")));
    QVERIFY(filters[1].startsWith(QStringLiteral("Wave (Microsoft) Aduio Files (*.wav")));
    QVERIFY(filters[2].startsWith(QStringLiteral("MP3 Audio Files (*.mp3")));
    QVERIFY(filters[3].startsWith(QStringLiteral("FLAC Audio Files (*.flac")));
    QVERIFY(filters[6].startsWith(QStringLiteral("AIFF Audio Files (*.aif")));
    QVERIFY(filters[7].startsWith(QStringLiteral("Every Audio File and List This Build Reads (*.wav *.WAV *.mp3")));
    // This build decodes Ogg Vorbis: the dialog offers it, and picks the
    // entry that shows every kind.
    QVERIFY(filters[7].contains(QStringLiteral("*.ogg")));
    QVERIFY(filters.contains(QStringLiteral("Ogg Vorbis Audio Files (*.ogg *.OGG *.oga *.OGA)")));
    QVERIFY(filters.last().startsWith(QStringLiteral("Playlists and Cue Sheets (*.m3u")));
    QCOMPARE(form.od->selectedNameFilter(), filters[7]);
    QCOMPARE(form.od->fileMode(), QFileDialog::ExistingFiles);
    QCOMPARE(form.Label3->text(), QStringLiteral("IDLE"));
    QCOMPARE(form.Label4->text(), QStringLiteral("Free Space : (Click Here)"));
  }

  void formHasItsControls() {
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(520, 332));
    QCOMPARE(form.Label1->text(), QStringLiteral("Drives :"));
    QCOMPARE(form.Button1->text(), QStringLiteral("Burn"));
    QCOMPARE(form.Button2->text(), QStringLiteral("Quick Erase"));
    QCOMPARE(form.Button3->text(), QStringLiteral("Eject"));
    QCOMPARE(form.Button4->text(), QStringLiteral("Load"));
    QCOMPARE(form.clBox->headerItem()->text(TForm1::lcType), QStringLiteral("Type"));
    QCOMPARE(form.clBox->headerItem()->text(TForm1::lcName), QStringLiteral("Name"));
    QCOMPARE(form.clBox->headerItem()->text(TForm1::lcDuration), QStringLiteral("Duration"));
    QVERIFY(form.clBox->header()->isSectionHidden(TForm1::lcSectors));
    QCOMPARE(form.clBox->columnWidth(TForm1::lcType), 38);
    QCOMPARE(form.clBox->columnWidth(TForm1::lcDuration), 60);
    QCOMPARE(form.Add1->text(), QStringLiteral("Add ..."));
    QCOMPARE(form.Add1->shortcut(), QKeySequence(Qt::Key_Insert));
    QCOMPARE(form.Delete1->shortcut(), QKeySequence(Qt::Key_Delete));
    QCOMPARE(form.ClearAll1->text(), QStringLiteral("Clear All"));
    QCOMPARE(form.ClearAll1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Delete));
    QCOMPARE(form.Timer1->interval(), 500);
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.ProgressBar1->width(), 166);
    QVERIFY(form.Label2->font().bold());
    QVERIFY(form.Label3->font().bold());
    QCOMPARE(form.Label3->palette().color(QPalette::WindowText), QColor(Qt::red));
    QCOMPARE(form.lbDrives->font().pixelSize(), 12);
    QCOMPARE(form.font().pixelSize(), 11);
    // The drive row sits above the button row, the list between them and
    // the status area, the progress bars above the messages.
    QVERIFY(form.Button1->mapTo(&form, QPoint(0, 0)).y() < form.Button2->mapTo(&form, QPoint(0, 0)).y());
    QVERIFY(form.Button2->mapTo(&form, QPoint(0, 0)).y() < form.clBox->mapTo(&form, QPoint(0, 0)).y());
    QVERIFY(form.clBox->mapTo(&form, QPoint(0, 0)).y() < form.PB->mapTo(&form, QPoint(0, 0)).y());
    QVERIFY(form.PB->mapTo(&form, QPoint(0, 0)).y() < form.Label2->mapTo(&form, QPoint(0, 0)).y());
    QVERIFY(form.Button1->mapTo(&form, QPoint(0, 0)).x() + form.Button1->width() <= form.width());
    QVERIFY(form.Button1->width() >= 75 && form.Button2->width() >= 75);
    QVERIFY(form.lbDrives->width() >= 300);
  }

  void dropOfWavAndMp3AddsRowsAndTheTotal() {
    TForm1& form = Open();
    const QString wav = Wav(QStringLiteral("first song.wav"), 300);
    const QString mp3 = Mp3Fixture();
    DropFiles(form, {wav, mp3});
    QTRY_COMPARE_WITH_TIMEOUT(form.clBox->topLevelItemCount(), 2, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral(" Inserting ") + mp3 + QStringLiteral(" Done !!!"),
                              kWait);

    const QTreeWidgetItem* first = form.clBox->topLevelItem(0);
    QCOMPARE(first->text(TForm1::lcType), QStringLiteral("WAV"));
    // No tags: the file's name, the full path in the tooltip.
    QCOMPARE(first->text(TForm1::lcName), QStringLiteral("first song.wav"));
    QCOMPARE(first->toolTip(TForm1::lcName), wav);
    QCOMPARE(form.RowPath(0), wav);
    QCOMPARE(first->text(TForm1::lcDuration), Msf(300));
    QCOMPARE(first->text(TForm1::lcSectors), QStringLiteral("300"));

    const QTreeWidgetItem* second = form.clBox->topLevelItem(1);
    QCOMPARE(second->text(TForm1::lcType), QStringLiteral("MP3"));
    QCOMPARE(form.RowPath(1), mp3);
    // Two seconds of audio are 150 sectors; the decoder may keep some of the
    // encoder's padding.
    const int mp3Sectors = second->text(TForm1::lcSectors).toInt();
    QVERIFY2(mp3Sectors >= 150 && mp3Sectors <= 160, qPrintable(second->text(TForm1::lcSectors)));
    QCOMPARE(second->text(TForm1::lcDuration), Msf(mp3Sectors));

    // The total is what the burn writes: the MP3 of two seconds padded to
    // four, and the window's 450-sector pause before it; the timer stays off
    // so that the total stays in view.
    QCOMPARE(form.Label3->text(), Msf(300 + 450 + std::max(mp3Sectors, 300)));
    QCOMPARE(form.CapacityBar->value(), 300 + 450 + std::max(mp3Sectors, 300));
    QVERIFY(!form.Timer1->isActive());
    // The rows are the window's; the burner's list is filled only by Burn.
    QCOMPARE(form.kacdb.GetTrackCount(), 0);
  }

  void droppedTextFileAddsNoRow() {
    TForm1& form = Open();
    const QString text = File(QStringLiteral("notes.txt"));
    {
      QFile f(text);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("These are not the sounds you are looking for.\n");
    }
    DropFiles(form, {text});
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral(" Inserting ") + text + QStringLiteral(" Failed !!!"),
                              kWait);
    QCOMPARE(form.clBox->topLevelItemCount(), 0);
  }

  void droppedMissingFileFailsAndTheNextIsAdded() {
    TForm1& form = Open();
    const QString missing = File(QStringLiteral("gone.wav"));
    const QString wav = Wav(QStringLiteral("here.wav"), 80);
    DropFiles(form, {missing});
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(),
                              QStringLiteral(" Inserting ") + missing + QStringLiteral(" Failed !!!"), kWait);
    QCOMPARE(form.clBox->topLevelItemCount(), 0);

    DropFiles(form, {missing, wav});
    QTRY_COMPARE_WITH_TIMEOUT(form.clBox->topLevelItemCount(), 1, kWait);
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral(" Inserting ") + wav + QStringLiteral(" Done !!!"),
                              kWait);
    QCOMPARE(form.RowPath(0), wav);
    QVERIFY(form.isVisible());
  }

  void deleteAndClearAllWorkOnTheRows() {
    TForm1& form = Open();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    AddAndWait(form, {Wav(QStringLiteral("a.wav"), 75), Wav(QStringLiteral("b.wav"), 76), Wav(QStringLiteral("c.wav"), 77)});
    QCOMPARE(form.clBox->topLevelItemCount(), 3);

    form.clBox->setFocus();
    form.clBox->setCurrentItem(form.clBox->topLevelItem(1));
    QTest::keyClick(form.clBox, Qt::Key_Delete);
    QCOMPARE(form.clBox->topLevelItemCount(), 2);
    QCOMPARE(form.RowPath(0), File(QStringLiteral("a.wav")));
    QCOMPARE(form.RowPath(1), File(QStringLiteral("c.wav")));

    // Delete with nothing selected removes nothing.
    form.clBox->clearSelection();
    form.Delete1->trigger();
    QCOMPARE(form.clBox->topLevelItemCount(), 2);

    QTest::keyClick(form.clBox, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(form.clBox->topLevelItemCount(), 0);
    QCOMPARE(form.kacdb.GetTrackCount(), 0);
  }

  void addFromTheDialogAddsTheRowWithItsKind() {
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QString wav = Wav(QStringLiteral("chosen.wav"), 90);
    QTimer::singleShot(0, &form, [&] {
      QTRY_VERIFY_WITH_TIMEOUT(form.od->isVisible(), kWait);
      form.od->selectFile(wav);
      static_cast<QDialog*>(form.od)->accept();
    });
    form.Add1->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!form.Measuring(), kWait);
    QCOMPARE(form.clBox->topLevelItemCount(), 1);
    const QTreeWidgetItem* row = form.clBox->topLevelItem(0);
    QCOMPARE(row->text(TForm1::lcType), QStringLiteral("WAV"));
    QCOMPARE(row->text(TForm1::lcName), QStringLiteral("chosen.wav"));
    QCOMPARE(form.RowPath(0), wav);
    QCOMPARE(row->text(TForm1::lcDuration), Msf(90));
    QCOMPARE(row->text(TForm1::lcSectors), QStringLiteral("90"));
    // The total follows the add: one track, padded to four seconds.
    QCOMPARE(form.Label3->text(), Msf(300));
  }

  void burnShowsProgressThenWriteDoneAndBurnsAgain() {
    // 64 KiB of drive buffer at 4x: the writes take a few seconds, so the
    // timer sees the burn under way.
    QVERIFY(Virtual({QStringLiteral("set"), QStringLiteral("speed=4"), QStringLiteral("buffer-kib=64")}));
    TForm1& form = Open();
    const QString wav = Wav(QStringLiteral("album.wav"), 900);
    AddAndWait(form, {wav});
    QCOMPARE(form.clBox->topLevelItemCount(), 1);

    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(form.JobRunning());
    QVERIFY(!form.Button1->isEnabled());
    QVERIFY(!form.close());  // the window stays while the disc is written
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral("Write Done!"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), kWait);

    QVERIFY(SawTick([](const TTick& t) { return t.Label3 == QStringLiteral("WRITING"); }));
    const QRegularExpression writing(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d Writing Track # 1$"));
    QVERIFY(SawTick([&](const TTick& t) { return writing.match(t.Label2).hasMatch(); }));
    QVERIFY(SawTick([](const TTick& t) { return t.Position > 0 && t.Position < t.Maximum; }));
    // While it ran, nothing that talks to the drive could be used.
    for (const TTick& t : Ticks_) {
      if (t.Label3 != QStringLiteral("WRITING")) continue;
      QVERIFY(!t.BurnEnabled && !t.EraseEnabled && !t.EjectEnabled && !t.LoadEnabled && !t.FreeSpaceEnabled &&
              !t.DrivesEnabled);
      // The list is locked: nothing can be added, removed or moved.
      QVERIFY(!t.AddEnabled);
    }
    QCOMPARE(form.PB->maximum(), form.kacdb.GetTotalSectors());
    QTRY_COMPARE_WITH_TIMEOUT(form.Label3->text(), QStringLiteral("IDLE"), kWait);
    QTRY_COMPARE_WITH_TIMEOUT(form.PB->value(), form.PB->maximum(), kWait);
    QCOMPARE(DiscTracks(), 1);
    const qint64 afterFirst = DiscBytes();
    QVERIFY(afterFirst >= 900 * 2352);

    // The same list once more: a second session with the same track.
    BurnAndWait(form, QStringLiteral("Write Done!"));
    QCOMPARE(DiscTracks(), 2);
    QVERIFY(DiscBytes() >= afterFirst + 900 * 2352);
    QCOMPARE(form.kacdb.GetTrackCount(), 1);
    QVERIFY(form.close());
  }

  void droppedCueSheetAddsItsTracksAndBurnsThem() {
    TForm1& form = Open();
    Wav(QStringLiteral("album.wav"), 1000);
    const QString cue = File(QStringLiteral("album.cue"));
    {
      QFile f(cue);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("PERFORMER \"Band\"\nFILE \"album.wav\" WAVE\n"
              "TRACK 01 AUDIO\nTITLE \"One\"\nINDEX 01 00:00:00\n"
              "TRACK 02 AUDIO\nINDEX 01 00:05:00\n");
    }
    AddAndWait(form, {cue});
    QCOMPARE(form.clBox->topLevelItemCount(), 2);
    QCOMPARE(form.Label2->text(), QStringLiteral(" Inserting ") + cue + QStringLiteral(" Done !!!"));
    const QTreeWidgetItem* first = form.clBox->topLevelItem(0);
    QCOMPARE(first->text(TForm1::lcType), QStringLiteral("WAV"));
    QCOMPARE(first->text(TForm1::lcName), QStringLiteral("Band - One"));
    QCOMPARE(first->text(TForm1::lcSectors), QStringLiteral("375"));
    const QTreeWidgetItem* second = form.clBox->topLevelItem(1);
    QCOMPARE(second->text(TForm1::lcName), QStringLiteral("Band"));
    QCOMPARE(second->text(TForm1::lcSectors), QStringLiteral("625"));
    QCOMPARE(form.Label3->text(), Msf(375 + 450 + 625));

    BurnAndWait(form, QStringLiteral("Write Done!"));
    QCOMPARE(DiscTracks(), 2);
    QCOMPARE(form.kacdb.GetTotalSectors(), 1000);
  }

  void droppedBadListNamesTheLineAndAddsNothing() {
    TForm1& form = Open();
    const QString wav = Wav(QStringLiteral("here.wav"), 80);
    const QString list = File(QStringLiteral("mix.m3u"));
    {
      QFile f(list);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("here.wav\nnot-here.wav\n");
    }
    AddAndWait(form, {list});
    QCOMPARE(form.clBox->topLevelItemCount(), 0);
    QVERIFY2(form.Label2->text().startsWith(QStringLiteral(" Inserting ") + list + QStringLiteral(" Failed !!! (") +
                                            list + QStringLiteral(" line 2: \"not-here.wav\" does not exist")),
             qPrintable(form.Label2->text()));
  }

  void burnStopsAtTheFirstRowWithoutPath() {
    TForm1& form = Open();
    AddAndWait(form, {Wav(QStringLiteral("one.wav"), 310)});
    form.clBox->addTopLevelItem(new QTreeWidgetItem(QStringList{QString(), QStringLiteral("   "), Msf(0), QStringLiteral("0")}));
    AddAndWait(form, {Wav(QStringLiteral("three.wav"), 320)});
    QCOMPARE(form.clBox->topLevelItemCount(), 3);
    BurnAndWait(form, QStringLiteral("Write Done!"));
    QCOMPARE(form.kacdb.GetTrackCount(), 1);
    QCOMPARE(DiscTracks(), 1);
  }

  void writeErrorShowsTheDrivesSenseCode() {
    QVERIFY(Virtual({QStringLiteral("set"), QStringLiteral("write-error-at=100")}));
    TForm1& form = Open();
    AddAndWait(form, {Wav(QStringLiteral("doomed.wav"), 400)});
    // The recorder answers 3/0C/00: ASC 0Ch, ASCQ 00h; the words beside it.
    BurnAndWait(form, QStringLiteral("Write Done Failed! (DEVICE ERROR %1) - write error (3/0C/00): the CD-R holds "
                                     "what was written until then")
                          .arg(0x0C * 256 + 0x00));
    // The track could not be finished past the bad spot: the window says so.
    QVERIFY2(form.Label2->toolTip().startsWith(QStringLiteral("track 1 was left open (81 sectors)")),
             qPrintable(form.Label2->toolTip()));
  }

  void cancelAsksFirstThenStopsTheBurnAndClosesTheDisc() {
    // 64 KiB of drive buffer at 1x: slow enough to cancel while writing.
    QVERIFY(Virtual({QStringLiteral("set"), QStringLiteral("speed=1"), QStringLiteral("buffer-kib=64")}));
    TForm1& form = Open();
    int asked = 0;
    bool agree = false;
    form.ConfirmCancel = [&] {
      ++asked;
      return agree;
    };
    AddAndWait(form, {Wav(QStringLiteral("long.wav"), 3000)});
    QVERIFY(!form.ButtonCancel->isEnabled());
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(form.ButtonCancel->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(form.kacdb.GetSectorsWritten() > 0, kWait);
    // Declined: the burn goes on.
    QTest::mouseClick(form.ButtonCancel, Qt::LeftButton);
    QCOMPARE(asked, 1);
    QVERIFY(form.kacdb.IsBusy());
    agree = true;
    QTest::mouseClick(form.ButtonCancel, Qt::LeftButton);
    QCOMPARE(asked, 2);
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral("Write Done Failed! (ABORTED BY USER)"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), kWait);
    QVERIFY(!form.ButtonCancel->isEnabled());
    QVERIFY2(form.Label2->toolTip().startsWith(QStringLiteral("the session is closed with 1 track")),
             qPrintable(form.Label2->toolTip()));
    // The part written plays: a closed track in the cue sheet, far short of
    // the 3000 sectors of the file.
    QCOMPARE(DiscTracks(), 1);
    QVERIFY(DiscBytes() >= 300 * 2352);
    QVERIFY(DiscBytes() < 3000 * 2352);
  }

  void aFileChangedAfterItWasDroppedIsRefusedByName() {
    TForm1& form = Open();
    const QString wav = Wav(QStringLiteral("changing.wav"), 400);
    AddAndWait(form, {wav});
    QCOMPARE(form.clBox->topLevelItemCount(), 1);
    // Rewritten between the drop and Burn (the row keeps the old length).
    WriteWav(wav, 500);
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY2(form.Label2->text().startsWith(QStringLiteral("Burn Not Started! (FILE CHANGED SINCE IT WAS ADDED) - ") +
                                            wav + QStringLiteral(": changed since it was measured")),
             qPrintable(form.Label2->text()));
    QVERIFY(!form.JobRunning());
    QCOMPARE(DiscTracks(), 0);
    QCOMPARE(DiscBytes(), 0);
  }

  void burnOfAnEmptyListIsRefusedWithItsReason() {
    TForm1& form = Open();
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(form.Label2->text().startsWith(QStringLiteral("Burn Not Started! (")));
    QVERIFY(!form.JobRunning());
    QVERIFY(form.Button1->isEnabled() && form.Button2->isEnabled() && form.Label4->isEnabled());
    QCOMPARE(DiscTracks(), 0);
  }

  void quickEraseOfACdrw() {
    QVERIFY(Virtual({QStringLiteral("insert"), QStringLiteral("cdrw80")}));
    // A minimal blank of 60 s at this scale lasts 3 s.
    QVERIFY(Virtual({QStringLiteral("set"), QStringLiteral("time-scale=0.05")}));
    TForm1& form = Open();
    // Declined: nothing happens.
    EraseAnswer_ = false;
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QCOMPARE(EraseQuestions_.size(), 1);
    QVERIFY2(EraseQuestions_[0].contains(QStringLiteral("CD-RW")) &&
                 EraseQuestions_[0].contains(QStringLiteral("VIRTUAL RECORDER")) &&
                 EraseQuestions_[0].contains(QStringLiteral("Every track and session on it is destroyed")),
             qPrintable(EraseQuestions_[0]));
    QVERIFY(!form.JobRunning());
    QCOMPARE(form.Label2->text(), QStringLiteral("Erase not started: nothing was changed"));
    EraseAnswer_ = true;
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QCOMPARE(EraseQuestions_.size(), 2);
    QCOMPARE(form.Label2->text(), QStringLiteral("Erasing Disc"));
    QVERIFY(form.JobRunning());
    QVERIFY(!form.Button1->isEnabled() && !form.Button3->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral("Erase Done!"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(form.Button2->isEnabled(), kWait);
    QVERIFY(SawTick([](const TTick& t) { return t.Label3 == QStringLiteral("ERASING"); }));
  }

  void quickEraseWithoutDiscIsRefused() {
    QVERIFY(Virtual({QStringLiteral("insert"), QStringLiteral("none")}));
    TForm1& form = Open();
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    QVERIFY(form.Label2->text().startsWith(QStringLiteral("Erase Not Started! (")));
    QVERIFY(!form.JobRunning());
    QVERIFY(form.Button2->isEnabled());
  }

  void freeSpaceOfABlankDisc() {
    QVERIFY(Virtual({QStringLiteral("insert"), QStringLiteral("cdr80")}));
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.Label4, Qt::LeftButton);
    // A blank 80-minute CD-R: everything up to the last possible lead-out
    // (LBA 359849) is free.
    QCOMPARE(form.Label4->text(), QStringLiteral("Free Space : ") + Msf(359849));
  }

  void freeSpaceWithoutDisc() {
    QVERIFY(Virtual({QStringLiteral("insert"), QStringLiteral("none")}));
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::mouseClick(form.Label4, Qt::LeftButton);
    QCOMPARE(form.Label4->text(), QStringLiteral("Free Space : no disc could be read"));
  }

  void ejectAndLoadMoveTheTray() {
    TForm1& form = Open();
    QTest::mouseClick(form.Button3, Qt::LeftButton);
    QTest::mouseClick(form.Label4, Qt::LeftButton);
    QCOMPARE(form.Label4->text(), QStringLiteral("Free Space : no disc could be read"));
    QTest::mouseClick(form.Button4, Qt::LeftButton);
    QTest::mouseClick(form.Label4, Qt::LeftButton);
    QCOMPARE(form.Label4->text(), QStringLiteral("Free Space : ") + Msf(359849));
  }

  void rowsAreReorderedByKeyboardAndBurnInTheirNewOrder() {
    TForm1& form = Open();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const QString a = Wav(QStringLiteral("a.wav"), 300), b = Wav(QStringLiteral("b.wav"), 400),
                  c = Wav(QStringLiteral("c.wav"), 500);
    AddAndWait(form, {a, b, c});
    QCOMPARE(form.clBox->dragDropMode(), QAbstractItemView::InternalMove);
    form.clBox->setFocus();
    form.clBox->setCurrentItem(form.clBox->topLevelItem(2));
    QTest::keyClick(form.clBox, Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(form.RowPath(0), a);
    QCOMPARE(form.RowPath(1), c);
    QCOMPARE(form.RowPath(2), b);
    QTest::keyClick(form.clBox, Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(form.RowPath(0), c);
    // At the top it stays; Ctrl+Down moves it back one place.
    QTest::keyClick(form.clBox, Qt::Key_Up, Qt::ControlModifier);
    QCOMPARE(form.RowPath(0), c);
    QTest::keyClick(form.clBox, Qt::Key_Down, Qt::ControlModifier);
    QCOMPARE(form.RowPath(0), a);
    QCOMPARE(form.RowPath(1), c);
    QCOMPARE(form.RowPath(2), b);
    // The burn writes them in the list's order: 300, 500, 400 sectors.
    BurnAndWait(form, QStringLiteral("Write Done!"));
    QFile cue(Recorder_->filePath(QStringLiteral("disc.cue")));
    QVERIFY(cue.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(cue.readAll());
    // Track 2 starts after track 1 (300) and its pause (450); track 3 after
    // track 2 (500) and another pause.
    QVERIFY2(sheet.contains(QStringLiteral("INDEX 01 ") + Msf(300 + 450)), qPrintable(sheet));
    QVERIFY2(sheet.contains(QStringLiteral("INDEX 01 ") + Msf(300 + 450 + 500 + 450)), qPrintable(sheet));
  }

  void capacityBarCountsPausesTheMinimumAndSaysWhenOver() {
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A blank 80-minute CD-R is in the drive: its free space is the bar's end.
    QCOMPARE(form.KnownFreeSectors(), 359849);
    QCOMPARE(form.CapacityBar->maximum(), 359849);
    AddAndWait(form, {Wav(QStringLiteral("short.wav"), 100), Wav(QStringLiteral("long.wav"), 1000),
                      Wav(QStringLiteral("almost.wav"), 299)});
    // 300 (padded) + 450 + 1000 + 450 + 300 (padded).
    QCOMPARE(form.NeededSectors(), 2500);
    QCOMPARE(form.CapacityBar->value(), 2500);
    QCOMPARE(form.Label3->text(), Msf(2500));
    QVERIFY2(form.CapacityBar->format().startsWith(QStringLiteral("3 tracks, 0:33 of 79:57 free (m:ss)")),
             qPrintable(form.CapacityBar->format()));
    QVERIFY(!form.CapacityBar->property("over").toBool());
    // A pause of two seconds: 300 + 150 + 1000 + 150 + 300.
    form.PauseBox->setValue(150);
    QCOMPARE(form.CapacityBar->value(), 1900);
    QCOMPARE(form.Label3->text(), Msf(1900));
    // Over capacity: pauses of 65535 sectors make the list longer than the
    // disc; the bar turns red and says by how much.
    form.PauseBox->setValue(65535);
    for (int i = 0; i < 4; ++i) AddAndWait(form, {Wav(QStringLiteral("more%1.wav").arg(i), 300)});
    const qint64 needed = 300 + 1000 + 5 * 300 + 6 * 65535;
    QCOMPARE(form.NeededSectors(), needed);
    QVERIFY(form.CapacityBar->property("over").toBool());
    QCOMPARE(form.CapacityBar->value(), form.CapacityBar->maximum());
    QCOMPARE(form.CapacityBar->palette().color(QPalette::Highlight), QColor(0xc0, 0x1c, 0x28));
    const QString over = QString::fromStdString(cv::MinutesSecondsText(needed - 359849 + 74));
    QVERIFY2(form.CapacityBar->format().endsWith(QStringLiteral(": ") + over + QStringLiteral(" too long")),
             qPrintable(form.CapacityBar->format()));
    // Burn agrees: refused for want of space.
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY2(form.Label2->text().startsWith(QStringLiteral("Burn Not Started! (NOT ENOUGH FREE SPACE")),
             qPrintable(form.Label2->text()));
    // Removing rows brings it back under.
    QTest::keyClick(form.clBox, Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(form.NeededSectors(), 0);
    QVERIFY(!form.CapacityBar->property("over").toBool());
  }

  void withoutADiscTheBarCountsAgainstBlankSizes() {
    QVERIFY(Virtual({QStringLiteral("insert"), QStringLiteral("none")}));
    TForm1& form = Open();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.KnownFreeSectors(), -1);
    AddAndWait(form, {Wav(QStringLiteral("one.wav"), 750)});
    QCOMPARE(form.CapacityBar->maximum(), 74 * 60 * 75);
    QVERIFY2(form.CapacityBar->format().startsWith(QStringLiteral("1 track, 0:10 of a 74-minute CD (m:ss)")),
             qPrintable(form.CapacityBar->format()));
  }

  void measuringKeepsTheWindowTurning() {
    // Fifty files: the call that takes them returns before any is measured
    // (the rows come from the measuring thread's results, queued to the
    // event loop), and the window takes and shows work meanwhile.
    TForm1& form = Open();
    QStringList files;
    for (int i = 0; i < 50; ++i) files << Wav(QStringLiteral("f%1.wav").arg(i, 2, 10, QLatin1Char('0')), 75);
    form.AddDroppedFiles(files);
    QVERIFY(form.Measuring());
    QCOMPARE(form.clBox->topLevelItemCount(), 0);
    QVERIFY2(form.CapacityBar->format().contains(QStringLiteral("measuring 50 more")),
             qPrintable(form.CapacityBar->format()));
    // A queued call runs in the loop that brings the rows in.
    bool ran = false;
    QMetaObject::invokeMethod(&form, [&] { ran = true; }, Qt::QueuedConnection);
    QTRY_VERIFY_WITH_TIMEOUT(ran, kWait);
    QTRY_VERIFY_WITH_TIMEOUT(!form.Measuring(), kWait);
    QCOMPARE(form.clBox->topLevelItemCount(), 50);
    for (int i = 0; i < 50; ++i) QCOMPARE(form.RowPath(i), files[i]);
    QCOMPARE(form.NeededSectors(), 50 * 300 + 49 * 450);
    QVERIFY(!form.CapacityBar->format().contains(QStringLiteral("measuring")));
    // Clear All while files are measured drops what is queued.
    form.AddDroppedFiles(files);
    form.ClearAll1->trigger();
    QVERIFY(!form.Measuring());
    QCOMPARE(form.clBox->topLevelItemCount(), 0);
    bool later = false;
    QTimer::singleShot(200, &form, [&] { later = true; });
    QTRY_VERIFY_WITH_TIMEOUT(later, kWait);
    QVERIFY(form.clBox->topLevelItemCount() < 50);
  }

  void theOptionsReachTheBurner() {
    TForm1& form = Open();
    AddAndWait(form, {Wav(QStringLiteral("one.wav"), 300), Wav(QStringLiteral("two.wav"), 400)});
    // The recorder's own list: one speed, 48x.
    QCOMPARE(form.SpeedBox->count(), 2);
    QCOMPARE(form.SpeedBox->itemText(0), QStringLiteral("Fastest"));
    QCOMPARE(form.SpeedBox->itemText(1), QStringLiteral("48x"));
    QCOMPARE(form.PauseBox->value(), 450);
    QVERIFY(!form.CloseDiscBox->isChecked());
    QVERIFY(!form.EjectBox->isChecked());
    form.SpeedBox->setCurrentIndex(1);
    form.PauseBox->setValue(150);
    form.CloseDiscBox->setChecked(true);
    form.EjectBox->setChecked(true);
    BurnAndWait(form, QStringLiteral("Write Done!"));
    QCOMPARE(form.kacdb.GetWriteSpeed(), 48);
    QVERIFY(form.kacdb.GetCloseDisc());
    QVERIFY2(form.Label2->toolTip().contains(QStringLiteral("is complete")), qPrintable(form.Label2->toolTip()));
    // The pause before track 2 is two seconds.
    QFile cue(Recorder_->filePath(QStringLiteral("disc.cue")));
    QVERIFY(cue.open(QIODevice::ReadOnly));
    const QString sheet = QString::fromUtf8(cue.readAll());
    QVERIFY2(sheet.contains(QStringLiteral("INDEX 00 ") + Msf(300)) &&
                 sheet.contains(QStringLiteral("INDEX 01 ") + Msf(300 + 150)),
             qPrintable(sheet));
    // Ejected when done: no disc to read.
    QTRY_COMPARE_WITH_TIMEOUT(form.KnownFreeSectors(), -1, kWait);
    QVERIFY(form.kacdb.GetMediumType() == 0 || form.kacdb.GetFreeSpace() < 0);
  }

  void aSimulatedBurnWritesNothing() {
    TForm1& form = Open();
    AddAndWait(form, {Wav(QStringLiteral("one.wav"), 300)});
    QVERIFY(!form.SimulateBox->isChecked());
    form.SimulateBox->setChecked(true);
    BurnAndWait(form, QStringLiteral("Write Done!"));
    QVERIFY2(form.Label2->toolTip().startsWith(QStringLiteral("simulated burn")), qPrintable(form.Label2->toolTip()));
    QCOMPARE(DiscTracks(), 0);
    QCOMPARE(DiscBytes(), 0);
    // Unticked, the next burn writes.
    form.SimulateBox->setChecked(false);
    BurnAndWait(form, QStringLiteral("Write Done!"));
    QCOMPARE(DiscTracks(), 1);
  }

  void theListIsLockedWhileTheDiscIsWrittenAndTheEndIsAnnounced() {
    QVERIFY(Virtual({QStringLiteral("set"), QStringLiteral("speed=4"), QStringLiteral("buffer-kib=64")}));
    TForm1& form = Open();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    AddAndWait(form, {Wav(QStringLiteral("one.wav"), 600), Wav(QStringLiteral("two.wav"), 600)});
    const qint64 freeBefore = form.KnownFreeSectors();
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    QVERIFY(form.JobRunning());
    QCOMPARE(form.clBox->dragDropMode(), QAbstractItemView::NoDragDrop);
    QVERIFY(!form.Delete1->isEnabled() && !form.ClearAll1->isEnabled() && !form.Add1->isEnabled() &&
            !form.MoveUp1->isEnabled() && !form.OptionsPanel->isEnabled());
    // Keys and drops change nothing.
    form.clBox->setFocus();
    form.clBox->setCurrentItem(form.clBox->topLevelItem(1));
    QTest::keyClick(form.clBox, Qt::Key_Delete, Qt::ControlModifier);
    QTest::keyClick(form.clBox, Qt::Key_Delete);
    QTest::keyClick(form.clBox, Qt::Key_Up, Qt::ControlModifier);
    DropFiles(form, {Wav(QStringLiteral("late.wav"), 100)});
    QCoreApplication::processEvents();
    QCOMPARE(form.clBox->topLevelItemCount(), 2);
    QVERIFY(!form.Measuring());
    // The track being written is highlighted, the bar says which and how long.
    QTRY_VERIFY_WITH_TIMEOUT(form.clBox->topLevelItem(0)->font(TForm1::lcName).bold() ||
                                 form.clBox->topLevelItem(1)->font(TForm1::lcName).bold(),
                             kWait);
    // Its duration stays whole in the narrow column.
    for (int i = 0; i < 2; ++i) {
      const QTreeWidgetItem* row = form.clBox->topLevelItem(i);
      QVERIFY(!row->font(TForm1::lcDuration).bold());
      QVERIFY(QFontMetrics(form.clBox->font()).horizontalAdvance(row->text(TForm1::lcDuration)) <
              form.clBox->columnWidth(TForm1::lcDuration));
    }
    QTRY_VERIFY_WITH_TIMEOUT(form.PB->format().startsWith(QStringLiteral("Track ")) &&
                                 form.PB->format().contains(QStringLiteral(" of 2 - ")),
                             kWait);
    QTRY_COMPARE_WITH_TIMEOUT(form.Label2->text(), QStringLiteral("Write Done!"), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(form.Button1->isEnabled(), kWait);
    // Unlocked, no highlight, the free space read again, the end announced.
    QCOMPARE(form.clBox->dragDropMode(), QAbstractItemView::InternalMove);
    QVERIFY(form.Delete1->isEnabled());
    QVERIFY(!form.clBox->topLevelItem(0)->font(TForm1::lcName).bold());
    QVERIFY(!form.clBox->topLevelItem(1)->font(TForm1::lcName).bold());
    QVERIFY(form.KnownFreeSectors() < freeBefore);
    QCOMPARE(Notes_.size(), 1);
    QVERIFY2(Notes_[0].startsWith(QStringLiteral("Burn finished: Written in ")) &&
                 Notes_[0].contains(QStringLiteral("the session is closed with 2 tracks")),
             qPrintable(Notes_[0]));
  }

  void startUpTakesFilesAndSavesAScreenshot() {
    const QString wav = Wav(QStringLiteral("cli.wav"), 100);
    const QString picture = File(QStringLiteral("shot.png"));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(CORVID_BURNER_EXE), {QStringLiteral("--screenshot"), picture, wav});
    QVERIFY(process.waitForFinished(kWait));
    QCOMPARE(process.exitCode(), 0);
    QImage image(picture);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() >= 520 && image.height() >= 332);
  }
};

QTEST_MAIN(TForm1Test)
#include "Unit1_test.moc"
