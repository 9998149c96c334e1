// Start-up of the desktop application corvid-burner: one window, TForm1.
//
//   corvid-burner [--screenshot FILE] [FILE...]
//
// Files named on the command line go into the list as if they had been
// dropped on it. --screenshot saves a picture of the window, as the display
// server shows it, once those files are in, and quits.
#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
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
                                               "the list, then quit."),
                                QStringLiteral("file"));
  parser.addOption(screenshot);
  parser.addPositionalArgument(QStringLiteral("files"),
                               QStringLiteral("Audio files to put in the list, as if dropped on it."),
                               QStringLiteral("[file...]"));
  parser.process(app);

  QStringList files;
  for (const QString& argument : parser.positionalArguments()) files << LocalPath(argument);
  const QString screenshotFile = parser.value(screenshot);

  cv::TForm1 form;
  form.show();

  int result = 0;
  QTimer::singleShot(0, &form, [&] {
    if (!files.isEmpty()) form.AddDroppedFiles(files);
    if (screenshotFile.isEmpty()) return;
    // Give the display server a moment to show the last repaint.
    QTimer::singleShot(500, &form, [&] {
      if (!SaveScreenshot(form, screenshotFile)) {
        std::fprintf(stderr, "corvid-burner: cannot save %s\n", qPrintable(screenshotFile));
        result = 1;
      }
      QCoreApplication::quit();
    });
  });
  const int loop = QApplication::exec();
  return result != 0 ? result : loop;
}
