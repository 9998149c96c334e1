// Start-up of the desktop application corvid-burner: one window, TForm1.
//
//   corvid-burner [--screenshot FILE] [--burn] [FILE...]
//
// Files named on the command line go into the list as if they had been
// dropped on it. --screenshot saves a picture of the window, as the display
// server shows it, once those files are in, and quits. --burn presses Burn
// once they are in; with --screenshot it saves three pictures, FILE with
// -before, -during and -after before its extension (before the burn, while
// the second half of the disc is written, after its end), and quits.
#include <cstdio>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include "app/Unit1.h"
#include "vrecorder/cvVirtualRecorder.h"

#ifndef CORVID_VERSION
#define CORVID_VERSION "0.0.0"
#endif

namespace {

// A path as given (relative to the working directory) or a file: URL, as a
// desktop environment may pass them.
QString LocalPath(const QString& argument) {
  if (argument.startsWith(QStringLiteral("file:"))) return QUrl(argument).toLocalFile();
  return QFileInfo(argument).absoluteFilePath();
}

bool SaveScreenshot(cv::TForm1& form, const QString& file) {
  form.repaint();
  QCoreApplication::processEvents();
  QPixmap picture;
  // What the display server shows of the window; the widget's own
  // rendering where the platform cannot read the screen back.
  if (QScreen* screen = form.screen()) picture = screen->grabWindow(form.winId());
  if (picture.isNull()) picture = form.grab();
  return !picture.isNull() && picture.save(file, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  // The virtual recorder is listed after the real drives.
  cv::UseVirtualRecorder();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("corvid-burner"));
  QApplication::setApplicationVersion(QStringLiteral(CORVID_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("corvid-burner"));
  QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("corvid-burner")));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Corvid Audio CD Burner: write audio CDs from audio files."));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                QStringLiteral("Save a picture of the window to <file> once the files given are in "
                                               "the list, then quit (with --burn: three pictures)."),
                                QStringLiteral("file"));
  parser.addOption(screenshot);
  QCommandLineOption burn(QStringLiteral("burn"), QStringLiteral("Press Burn once the files given are in the list."));
  parser.addOption(burn);
  parser.addPositionalArgument(QStringLiteral("files"),
                               QStringLiteral("Audio files to put in the list, as if dropped on it."),
                               QStringLiteral("[file...]"));
  parser.process(app);

  QStringList files;
  for (const QString& argument : parser.positionalArguments()) files << LocalPath(argument);
  const QString screenshotFile = parser.value(screenshot);
  const bool burnNow = parser.isSet(burn);
  // FILE-before.png and so on, for the three pictures of a burn.
  auto shotName = [&](const char* when) {
    if (!burnNow) return screenshotFile;
    QFileInfo info(screenshotFile);
    const QString suffix = info.suffix().isEmpty() ? QStringLiteral("png") : info.suffix();
    return info.dir().filePath(info.completeBaseName() + QLatin1Char('-') + QLatin1String(when) + QLatin1Char('.') +
                               suffix);
  };

  cv::TForm1 form;
  form.show();

  int result = 0;
  auto shoot = [&](const QString& file) {
    if (!SaveScreenshot(form, file)) {
      std::fprintf(stderr, "corvid-burner: cannot save %s\n", qPrintable(file));
      result = 1;
    }
  };
  // The steps after start-up, checked every 100 ms for at most ten minutes:
  // the files measured, the picture before, Burn, the picture while the
  // second half is written, the end of the burn, the picture after.
  enum class TStep { Measuring, Settle, Burning, Ended, Done };
  auto step = std::make_shared<TStep>(TStep::Measuring);
  auto ticks = std::make_shared<int>(0);
  auto settle = std::make_shared<int>(0);
  bool shotDuring = false;
  auto* poll = new QTimer(&form);
  poll->setInterval(100);
  QObject::connect(poll, &QTimer::timeout, &form, [&, poll, step, ticks, settle] {
    if (++*ticks > 6000) {
      std::fprintf(stderr, "corvid-burner: gave up waiting\n");
      result = 1;
      poll->stop();
      QCoreApplication::quit();
      return;
    }
    switch (*step) {
      case TStep::Measuring:
        if (form.Measuring()) return;
        *step = TStep::Settle;
        return;
      case TStep::Settle:
        // Half a second for the display server to show the last repaint.
        if (++*settle < 5) return;
        if (!screenshotFile.isEmpty()) shoot(shotName("before"));
        if (!burnNow) {
          *step = TStep::Done;
          break;
        }
        form.Button1->click();
        *step = form.JobRunning() ? TStep::Burning : TStep::Ended;
        *settle = 0;
        return;
      case TStep::Burning: {
        const std::int32_t total = form.kacdb.GetTotalSectors();
        if (!shotDuring && total > 0 && form.kacdb.GetSectorsWritten() * 2 >= total && form.kacdb.IsBusy()) {
          if (!screenshotFile.isEmpty()) shoot(shotName("during"));
          shotDuring = true;
        }
        if (form.JobRunning()) return;
        *step = TStep::Ended;
        return;
      }
      case TStep::Ended:
        if (++*settle < 5) return;
        if (!screenshotFile.isEmpty()) shoot(shotName("after"));
        *step = TStep::Done;
        break;
      case TStep::Done: break;
    }
    poll->stop();
    if (!screenshotFile.isEmpty()) QCoreApplication::quit();
  });
  QTimer::singleShot(0, &form, [&, poll] {
    if (!files.isEmpty()) form.AddDroppedFiles(files);
    if (!screenshotFile.isEmpty() || burnNow) poll->start();
  });
  const int loop = QApplication::exec();
  return result != 0 ? result : loop;
}
