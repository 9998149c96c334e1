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
// While a burn or an erase runs, every control that would send a drive
// command or change the component's track list is disabled, and the window
// refuses to close; adding, dropping and removing rows stays possible.
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
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QTreeWidget>
#include <QComboBox>
#include <QWidget>

#include "app/cvExDDPro.h"
#include "burner/cvAudioCDBurner.h"

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
  void Label4Click();   // free space
  void Timer1Timer();
  void kacdbWriteDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError);
  void kacdbEraseDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError);

  // Adds files as a drop of them would (the files named on the command line).
  void AddDroppedFiles(const QStringList& names);

  // The file dialog's filter as the window built it on show, in the
  // "description|mask|description|mask..." form; od shows the same entries.
  const QString& DialogFilter() const { return DialogFilter_; }

  // True from a Burn or Quick Erase that started until its completion event
  // has been handled and the burner has let go of the drive.
  bool JobRunning() const { return JobRunning_; }

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

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  // Measures name and appends a row for it; answers whether a row was
  // added (not when the file is not audio or cannot be read). showKind: the
  // "Type" column names the kind found (dropped files), else stays empty.
  // A playlist or cue sheet appends a row for each of its tracks, or none
  // when the list is refused (ListProblem_ then says why).
  bool InsertFile(const QString& name, bool showKind);
  bool InsertList(const QString& name, bool showKind);
  void AppendRow(const QString& caption, const QString& name, std::int32_t length);
  void ShowListTotal();
  void SetJobRunning(bool running);
  void JobEnded();
  void WaitForBurnerIdle(int triesLeft);

  QString DialogFilter_;
  QString ListProblem_;          // why the last list could not be inserted
  QStringList PendingDrops_;     // dropped names not yet measured
  bool InsertingDrops_ = false;  // AddDroppedFiles is measuring
  bool Shown_ = false;
  bool JobRunning_ = false;
  bool JobEndPending_ = false;
};

}  // namespace cv
