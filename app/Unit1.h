// TForm1: the main window of corvid-burner and its whole user interface.
//
// The user picks a drive, collects audio files into the list (with the
// "Add ..." dialog or by dropping files from a file manager) and presses
// Burn; or quick-erases, ejects or loads the disc. A 500 ms timer shows the
// burner's status and progress; the burner's two completion events show the
// outcome.
//
// The window owns one burner component (kacdb) and one drop receiver (edd).
// The list view and the component's track list are separate: Burn fills the
// component's list afresh from the rows each time it is pressed.
//
// Files are measured on a thread of the window's (TMeasureThread), so the
// list stays usable while many files are decoded; each row appears when its
// file has been measured, in the order the files were given. The list shows
// each track's title and artist from its tags (the file name without them),
// the full path in a tooltip; rows can be reordered by dragging them or with
// Ctrl+Up / Ctrl+Down. Below the list a bar shows how much of the disc the
// burn will fill (TDiscFill: pauses and the four-second minimum counted) and
// the burn options (pause, speed, closing the disc, ejecting it).
//
// While a burn or an erase runs, every control that would send a drive
// command or change the list is disabled (the list is locked: no adding,
// dropping, removing or reordering), and the window refuses to close. The
// track being written is highlighted; the progress bar names the track,
// elapsed and remaining time and the write speed, the second bar the drive
// buffer's fill. A desktop notification reports the end of a burn, and the
// free space is read again.
//
// Controls and handlers are public, as on a designer form, so that tests can
// drive the window as a user would.
//
// Threads: GUI thread only. The burner's completion events are queued to the
// GUI thread by the dispatcher the window gives it.
#pragma once

#include <cstdint>

#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <functional>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QSpinBox>
#include <memory>
#include <QWidget>

#include "app/cvExDDPro.h"
#include "burner/cvAudioCDBurner.h"
#include "burner/cvMeasureThread.h"

namespace cv {

class TForm1 : public QWidget {
 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Columns of clBox. A row's caption is the "Type" column; its sub-items
  // are the path ("Name"), the MSF text of its length ("Duration") and the
  // length in sectors as decimal text (a hidden column, read back when
  // burning and totalling).
  enum TListColumn : int { lcType = 0, lcName = 1, lcDuration = 2, lcSectors = 3 };

  // Handlers, named after their control and event.
  void FormShow();
  void lbDrivesChange();
  void Add1Click();
  void Delete1Click();
  void ClearAll1Click();
  void eddDropped(TExDragDropPro* Sender, int ItemsCount);
  void Button1Click();  // Burn
  void Button2Click();  // Quick Erase
  void Button3Click();  // Eject
  void Button4Click();  // Load
  // Ours: stops the running burn after ConfirmCancel agreed (the component
  // finishes the open track, closes the session and raises OnWriteDone).
  void ButtonCancelClick();
  void Label4Click();   // free space
  void Timer1Timer();
  void kacdbWriteDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError);
  void kacdbEraseDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError);

  // Ours: moves the selected row one place up or down (Ctrl+Up, Ctrl+Down).
  void MoveUp1Click();
  void MoveDown1Click();

  // Adds files as a drop of them would (the files named on the command line).
  // They are measured on the window's measuring thread; the rows appear as
  // the results come in.
  void AddDroppedFiles(const QStringList& names);
  // True while files wait to be measured or are being measured.
  bool Measuring() const;
  // The file a row burns (the "Name" column shows its title).
  QString RowPath(int row) const;

  // Sectors the burn of the rows will write in the chosen mode (pauses and
  // the four-second minimum counted; Session-At-Once: the lead-out of the
  // disc's layout, gapless joins sharing sectors), and the free space it is
  // compared with (-1: no disc read, the list is compared with 74- and
  // 80-minute blanks).
  std::int64_t NeededSectors() const;
  std::int32_t KnownFreeSectors() const { return FreeSectors_; }
  // True when the mode box asks for Session-At-Once.
  bool SessionAtOnce() const;

  // The file dialog's filter as the window built it on show, in the
  // "description|mask|description|mask..." form; od shows the same entries.
  const QString& DialogFilter() const { return DialogFilter_; }

  // True from a Burn or Quick Erase that started until its completion event
  // has been handled and the burner has let go of the drive.
  bool JobRunning() const { return JobRunning_; }

  // Asks the user whether to stop the running burn (a question box by
  // default; tests answer it themselves).
  std::function<bool()> ConfirmCancel;
  // Asks the user whether to erase, with the text saying what is lost.
  std::function<bool(const QString& question)> ConfirmErase;
  // Shows a desktop notification (the desktop's notification service by
  // default; tests catch them).
  std::function<void(const QString& summary, const QString& body)> Notify;

  // The burner component and the drop receiver.
  TKAudioCDBurner kacdb;
  TExDragDropPro* edd = nullptr;

  // The form's controls (owned by the window through Qt's parent chain).
  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  QComboBox* lbDrives = nullptr;
  QPushButton* Button1 = nullptr;
  QFrame* Panel2 = nullptr;
  QPushButton* Button2 = nullptr;
  QPushButton* Button3 = nullptr;
  QPushButton* Button4 = nullptr;
  QPushButton* ButtonCancel = nullptr;  // ours: enabled only while a burn runs
  QLabel* Label4 = nullptr;
  QTreeWidget* clBox = nullptr;
  QFrame* msg = nullptr;
  QFrame* Panel3 = nullptr;
  QProgressBar* PB = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QTimer* Timer1 = nullptr;
  QMenu* PopupMenu1 = nullptr;
  QAction* Add1 = nullptr;
  QAction* Delete1 = nullptr;
  QAction* ClearAll1 = nullptr;
  QFileDialog* od = nullptr;
  // Ours: the list's reordering, the capacity bar and the burn options.
  QAction* MoveUp1 = nullptr;
  QAction* MoveDown1 = nullptr;
  QProgressBar* CapacityBar = nullptr;
  QFrame* OptionsPanel = nullptr;
  QComboBox* WriteModeBox = nullptr;
  QSpinBox* PauseBox = nullptr;      // sectors before each track after the first
  QComboBox* SpeedBox = nullptr;     // item data: speed in x, 0 = fastest
  QCheckBox* CloseDiscBox = nullptr;
  QCheckBox* SimulateBox = nullptr;  // Test Write: the drive writes nothing
  QCheckBox* EjectBox = nullptr;
  // Session-At-Once only (disabled in Track-At-Once): CD-TEXT from the
  // files' tags (on by default), and the disc's catalogue number (MCN,
  // thirteen digits, or empty for none).
  QCheckBox* CDTextBox = nullptr;
  QLineEdit* McnEdit = nullptr;
  // The burner's notes on the last burn, one "Note: ..." line each; hidden
  // when there are none.
  QLabel* NotesLabel = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void CreateOptions(QWidget* parent);
  // A result of the measuring thread, on the GUI thread.
  void FileMeasured(const TMeasureResult& result);
  void FileMeasuringStarted(const QString& name);
  void InsertMeasured(const TMeasureResult& result);
  void UpdateCapacity();
  void WriteModeChanged();
  void McnChanged();
  void ShowBurnNotes();
  void RefreshFreeSpace();
  void FillSpeeds();
  void MoveRow(int by);
  void LockList(bool locked);
  void ShowBurnProgress();
  void HighlightTrack(int track);
  void JobFinished();
  // Appends a row for a measured track: the kind, its title, the MSF text
  // of its length and the length; the path, range and stamp in its data.
  void AppendRow(const QString& caption, const TMeasuredEntry& entry);
  void ShowListTotal();
  void SetJobRunning(bool running, bool burning = false);
  // Label2's text for a failure: the message with the component's error
  // text, and beside it the words for it.
  QString FailureText(const QString& start, const QString& end = QStringLiteral(")"));
  void JobEnded();
  void WaitForBurnerIdle(int triesLeft);

  QString DialogFilter_;
  std::unique_ptr<TMeasureThread> Measure_;
  int MeasurePending_ = 0;          // paths handed over whose result has not been shown
  std::int32_t FreeSectors_ = -1;   // free space last read, -1 unknown
  int BurnRows_ = 0;                // rows the running burn took
  int HighlightedTrack_ = 0;        // 1-based, 0 none
  bool Burning_ = false;            // the running job is a burn
  bool EjectWhenDone_ = false;      // the running burn ejects at its end
  bool BurnFailed_ = false;
  QElapsedTimer BurnClock_;         // from Burn
  qint64 WritingSinceMs_ = -1;      // BurnClock_ when writing began
  std::int32_t WritingSinceSectors_ = 0;
  bool Shown_ = false;
  bool JobRunning_ = false;
  bool JobEndPending_ = false;
};

}  // namespace cv
