#include "app/Unit1.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <utility>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QThread>
#include <QVBoxLayout>

#include "burner/cvBurnTypes.h"
#include "burner/cvListTracks.h"
#include "decode/cvAudFiles.h"
#include "device/cvSCSILib.h"

namespace cv {
namespace {

constexpr int kPauseSectors = 450;          // pause given to every track on Burn
constexpr int kCacheBytes = 8388608;        // decode-ahead cache of a burn
constexpr int kGapSectorsPerTrack = 150;    // counted per row in the list total
constexpr int kDropPauseMs = 300;           // pause after each dropped file
constexpr int kMp3Kinds = 8;                // TAudioFileKinds bit of afMP3
// A row made from a playlist or cue sheet keeps its file and part here (the
// "Name" column then shows the track's title): the path, and the range in
// CD sample frames.
constexpr int kPathRole = Qt::UserRole;
constexpr int kStartRole = Qt::UserRole + 1;
constexpr int kEndRole = Qt::UserRole + 2;

// Paths travel to the library as the file system's bytes.
std::string FileNameBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

// The "mm:ss:ff" text of a sector count (negative counts show as 0).
QString MSFText(std::int32_t sectors) {
  return QString::fromStdString(SectorsToMSFText(static_cast<std::uint32_t>(std::max(sectors, 0))));
}

// Turns "description|mask|description|mask..." into Qt's name filters,
// "description (pattern pattern ...)". Masks are ';'-separated; each pattern
// is offered in upper case too, as file systems here are case-sensitive.
QStringList QtNameFilters(const QString& filter) {
  QStringList parts = filter.split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    const QString& mask = parts[i + 1];
    QString ownPatterns = QLatin1Char('(') + mask + QLatin1Char(')');
    if (description.endsWith(ownPatterns)) description.chop(ownPatterns.size());
    description = description.trimmed();
    QStringList patterns;
    for (const QString& pattern : mask.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns << pattern;
      if (pattern.toUpper() != pattern) patterns << pattern.toUpper();
    }
    result << description + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
  }
  return result;
}

// Draws the grid lines of a report-style list.
class TGridDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(option.palette.color(QPalette::Midlight));
    painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
    painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
    painter->restore();
  }
  // A little room below the text, for descenders and the grid line.
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(0, 3);
  }
};

QFrame* NewPanel(QWidget* parent, const char* name) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  return panel;
}

QPushButton* NewButton(QWidget* parent, const char* name, const QString& caption, int width, int height) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setMinimumSize(width, height);
  button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  return button;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Corvid Audio CD Burner"));
  QFont formFont = QApplication::font();
  formFont.setPixelSize(11);
  setFont(formFont);

  CreateControls();

  kacdb.OnWriteDone = [this](TKAudioCDBurner* sender, std::uint16_t id, bool withError) {
    kacdbWriteDone(sender, id, withError);
  };
  kacdb.OnEraseDone = [this](TKAudioCDBurner* sender, std::uint16_t id, bool withError) {
    kacdbEraseDone(sender, id, withError);
  };
  // Completion events come from the burner's worker threads: queue them to
  // the GUI thread. The burner waits for them itself, and drops what is
  // still queued when it is destroyed.
  kacdb.SetDispatcher([this](std::function<void()> routine) {
    if (QThread::currentThread() == thread()) {
      routine();
      return;
    }
    QMetaObject::invokeMethod(this, std::move(routine), Qt::QueuedConnection);
  });
  kacdb.SetBeep([] { QMetaObject::invokeMethod(qApp, [] { QApplication::beep(); }, Qt::QueuedConnection); });

  edd = new TExDragDropPro(this);
  edd->setObjectName(QStringLiteral("edd"));
  edd->SetControl(clBox);
  edd->OnDropped = [this](TExDragDropPro* sender, int itemsCount) { eddDropped(sender, itemsCount); };

  resize(520, 332);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  Timer1->start();
}

TForm1::~TForm1() {
  Timer1->stop();
  edd->SetControl(nullptr);
}

void TForm1::CreateControls() {
  auto* formLayout = new QVBoxLayout(this);
  formLayout->setContentsMargins(0, 0, 0, 0);
  formLayout->setSpacing(0);

  // Panel1: the drive row, and Panel2 with the button row below it.
  Panel1 = NewPanel(this, "Panel1");
  Panel1->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  Panel1->setMinimumHeight(61);
  auto* panel1Layout = new QVBoxLayout(Panel1);
  panel1Layout->setContentsMargins(0, 0, 0, 0);
  panel1Layout->setSpacing(0);

  auto* driveRow = new QHBoxLayout();
  driveRow->setContentsMargins(4, 4, 11, 4);
  driveRow->setSpacing(3);
  Label1 = new QLabel(QStringLiteral("Drives :"), Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  Label1->setMinimumWidth(41);
  lbDrives = new QComboBox(Panel1);
  lbDrives->setObjectName(QStringLiteral("lbDrives"));
  lbDrives->setEditable(false);
  lbDrives->setMinimumWidth(160);
  lbDrives->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  lbDrives->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPixelSize(12);
  lbDrives->setFont(fixed);
  Label1->setBuddy(lbDrives);
  Button1 = NewButton(Panel1, "Button1", QStringLiteral("Burn"), 75, 24);
  driveRow->addWidget(Label1);
  driveRow->addWidget(lbDrives, 1);
  driveRow->addWidget(Button1);
  panel1Layout->addLayout(driveRow);

  Panel2 = NewPanel(Panel1, "Panel2");
  Panel2->setMinimumHeight(28);
  auto* buttonRow = new QHBoxLayout(Panel2);
  buttonRow->setContentsMargins(2, 2, 2, 1);
  buttonRow->setSpacing(1);
  Button2 = NewButton(Panel2, "Button2", QStringLiteral("Quick Erase"), 75, 25);
  Button3 = NewButton(Panel2, "Button3", QStringLiteral("Eject"), 75, 25);
  Button4 = NewButton(Panel2, "Button4", QStringLiteral("Load"), 75, 25);
  Label4 = new QLabel(QStringLiteral("Free Space : (Click Here)"), Panel2);
  Label4->setObjectName(QStringLiteral("Label4"));
  Label4->setMinimumWidth(153);
  Label4->setCursor(Qt::PointingHandCursor);
  Label4->installEventFilter(this);
  buttonRow->addWidget(Button2);
  buttonRow->addWidget(Button3);
  buttonRow->addWidget(Button4);
  ButtonCancel = NewButton(Panel2, "ButtonCancel", QStringLiteral("Cancel"), 75, 25);
  ButtonCancel->setEnabled(false);
  ButtonCancel->setToolTip(QStringLiteral("Stop the burn: the track being written is finished and the disc closed"));
  buttonRow->addWidget(ButtonCancel);
  buttonRow->addSpacing(10);
  buttonRow->addWidget(Label4, 1);
  panel1Layout->addWidget(Panel2);
  formLayout->addWidget(Panel1);

  // clBox: the track list, report style.
  clBox = new QTreeWidget(this);
  clBox->setObjectName(QStringLiteral("clBox"));
  clBox->setColumnCount(4);
  clBox->setHeaderLabels({QStringLiteral("Type"), QStringLiteral("Name"), QStringLiteral("Duration"),
                          QStringLiteral("Sectors")});
  clBox->headerItem()->setTextAlignment(lcDuration, Qt::AlignRight | Qt::AlignVCenter);
  QHeaderView* header = clBox->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(lcType, QHeaderView::Fixed);
  header->setSectionResizeMode(lcName, QHeaderView::Stretch);
  header->setSectionResizeMode(lcDuration, QHeaderView::Fixed);
  header->resizeSection(lcType, 38);
  header->resizeSection(lcDuration, 60);
  header->setSectionHidden(lcSectors, true);
  header->setSectionsMovable(false);
  clBox->setRootIsDecorated(false);
  clBox->setItemsExpandable(false);
  clBox->setUniformRowHeights(true);
  clBox->setAllColumnsShowFocus(true);
  clBox->setSelectionMode(QAbstractItemView::SingleSelection);
  clBox->setSelectionBehavior(QAbstractItemView::SelectRows);
  clBox->setTextElideMode(Qt::ElideMiddle);
  clBox->setMouseTracking(true);  // hot tracking
  clBox->viewport()->setAttribute(Qt::WA_Hover);
  clBox->setItemDelegate(new TGridDelegate(clBox));
  formLayout->addWidget(clBox, 1);

  // PopupMenu1: the list's pop-up menu; its shortcuts work while the list
  // has the focus.
  PopupMenu1 = new QMenu(clBox);
  PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
  auto addMenuItem = [this](const char* name, const QString& caption, const QKeySequence& key) {
    QAction* action = PopupMenu1->addAction(caption);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(key);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    clBox->addAction(action);
    return action;
  };
  Add1 = addMenuItem("Add1", QStringLiteral("Add ..."), QKeySequence(Qt::Key_Insert));
  Delete1 = addMenuItem("Delete1", QStringLiteral("Delete"), QKeySequence(Qt::Key_Delete));
  ClearAll1 = addMenuItem("ClearAll1", QStringLiteral("Clear All"), QKeySequence(Qt::CTRL | Qt::Key_Delete));
  clBox->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(clBox, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { PopupMenu1->popup(clBox->viewport()->mapToGlobal(pos)); });

  // msg: the status area, progress bars above the two labels.
  msg = NewPanel(this, "msg");
  msg->setMinimumHeight(42);
  auto* msgLayout = new QVBoxLayout(msg);
  msgLayout->setContentsMargins(0, 0, 0, 0);
  msgLayout->setSpacing(0);
  Panel3 = NewPanel(msg, "Panel3");
  Panel3->setFixedHeight(20);
  auto* barRow = new QHBoxLayout(Panel3);
  barRow->setContentsMargins(0, 0, 0, 0);
  barRow->setSpacing(0);
  PB = new QProgressBar(Panel3);
  PB->setObjectName(QStringLiteral("PB"));
  PB->setRange(0, 100);
  PB->setValue(0);
  PB->setTextVisible(false);
  ProgressBar1 = new QProgressBar(Panel3);
  ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setFixedWidth(166);
  barRow->addWidget(PB, 1);
  barRow->addWidget(ProgressBar1);
  msgLayout->addWidget(Panel3);

  auto* labelRow = new QHBoxLayout();
  labelRow->setContentsMargins(4, 2, 4, 2);
  labelRow->setSpacing(6);
  QFont bold = font();
  bold.setBold(true);
  Label2 = new QLabel(msg);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setFont(bold);
  Label2->setTextFormat(Qt::PlainText);
  Label2->setMinimumWidth(1);
  Label2->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  Label3 = new QLabel(QStringLiteral("IDLE"), msg);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setFont(bold);
  Label3->setTextFormat(Qt::PlainText);
  Label3->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  QPalette red = Label3->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  Label3->setPalette(red);
  labelRow->addWidget(Label2, 1);
  labelRow->addWidget(Label3);
  msgLayout->addLayout(labelRow);
  formLayout->addWidget(msg);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(500);

  od = new QFileDialog(this);
  od->setObjectName(QStringLiteral("od"));
  od->setFileMode(QFileDialog::ExistingFile);
  od->setAcceptMode(QFileDialog::AcceptOpen);

  connect(lbDrives, &QComboBox::activated, this, [this] { lbDrivesChange(); });
  connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
  connect(ButtonCancel, &QPushButton::clicked, this, [this] { ButtonCancelClick(); });
  connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
  connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
  connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
  connect(Add1, &QAction::triggered, this, [this] { Add1Click(); });
  connect(Delete1, &QAction::triggered, this, [this] { Delete1Click(); });
  connect(ClearAll1, &QAction::triggered, this, [this] { ClearAll1Click(); });
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TForm1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The drives are found once, when the window is first shown; showing it
  // again (after a minimise) must not rescan while a burn may be running.
  if (!Shown_) {
    Shown_ = true;
    FormShow();
  }
}

void TForm1::closeEvent(QCloseEvent* event) {
  if (JobRunning_) {
    Label2->setText(QStringLiteral("Please wait: the drive is still busy"));
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Label4 && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && Label4->isEnabled() &&
      Label4->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
    Label4Click();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TForm1::FormShow() {
  kacdb.ClearTracks();
  kacdb.FindDevices();

  {
    QSignalBlocker quiet(lbDrives);
    lbDrives->clear();
    const int count = kacdb.GetDeviceCount();
    for (int i = 0; i < count; ++i)
      lbDrives->addItem(QString::fromStdString(kacdb.GetDeviceName(static_cast<std::uint8_t>(i))));
  }

  QString caption = windowTitle() + QStringLiteral(" (WAV");
  QString masks = QStringLiteral("*.wav");
  QString types = QStringLiteral("Wave (Microsoft) Aduio Files (*.wav)|*.wav");
  if ((kacdb.GetSupportedKinds() & kMp3Kinds) != 0) {
    caption += QStringLiteral(", MP3");
    types += QStringLiteral("|MP3 Audio Files (*.mp3)|*.mp3");
    masks += QStringLiteral(";*.mp3");
  }
  caption += QLatin1Char(')');
  setWindowTitle(caption);
  // The later kinds, each when its codec is built in (the caption keeps the
  // original two).
  struct TLaterKind {
    cv::TAudioFileKind Kind;
    const char* Type;
    const char* Masks;
  };
  static constexpr TLaterKind kLaterKinds[] = {
      {cv::afFLAC, "FLAC Audio Files", "*.flac"},
      {cv::afOpus, "Ogg Opus Audio Files", "*.opus"},
      {cv::afM4A, "MPEG-4 Audio Files", "*.m4a;*.mp4"},
      {cv::afAIFF, "AIFF Audio Files", "*.aif;*.aiff;*.aifc"},
  };
  for (const TLaterKind& k : kLaterKinds) {
    if (!cv::HasKind(kacdb.GetSupportedKinds(), k.Kind)) continue;
    const QString kindMasks = QString::fromLatin1(k.Masks);
    types += QLatin1Char('|') + QString::fromLatin1(k.Type) + QStringLiteral(" (") + kindMasks +
             QStringLiteral(")|") + kindMasks;
    masks += QLatin1Char(';') + kindMasks;
  }

  {
    QSignalBlocker quiet(lbDrives);
    lbDrives->setCurrentIndex(0);  // with no drive nothing gets selected
  }
  lbDrivesChange();

  DialogFilter_ = QStringLiteral("All Supported Audio Formats (") + masks + QStringLiteral(")") +
                  QLatin1Char('|') + masks + QLatin1Char('|') + types;
  DialogFilter_ += QStringLiteral("|Playlists and Cue Sheets (*.m3u;*.m3u8;*.pls;*.cue)|*.m3u;*.m3u8;*.pls;*.cue");
  od->setNameFilters(QtNameFilters(DialogFilter_));
}

void TForm1::lbDrivesChange() {
  const int index = lbDrives->currentIndex();
  if (index < 0 || index > 255) return;  // no drive listed: nothing to select
  kacdb.SelectDevice(static_cast<std::uint8_t>(index));
}

static QString KindCaption(std::uint8_t kind) {
  if (kind == 1) return QStringLiteral("WAV");
  if (kind == 3) return QStringLiteral("MP3");
  // The later kinds show their names too (FLAC, OPUS, M4A, AIFF).
  if (kind > cv::afOGG) return QString::fromLatin1(cv::AudioFileKindName(static_cast<cv::TAudioFileKind>(kind)));
  return {};
}

void TForm1::AppendRow(const QString& caption, const QString& name, std::int32_t length) {
  auto* row = new QTreeWidgetItem(QStringList{caption, name, MSFText(length), QString::number(length)});
  row->setTextAlignment(lcDuration, Qt::AlignRight | Qt::AlignVCenter);
  row->setToolTip(lcName, name);
  clBox->addTopLevelItem(row);
}

bool TForm1::InsertFile(const QString& name, bool showKind) {
  ListProblem_.clear();
  if (ListKindOfName(FileNameBytes(name)) != TListKind::None) return InsertList(name, showKind);
  std::int32_t length = 0;
  std::uint8_t kind = 0;
  try {
    length = kacdb.GetFileLength(FileNameBytes(name));
    kind = kacdb.GetLastFileKind();
  } catch (const std::exception&) {
    // A file that cannot be read is not audio to the list.
    kind = 0;
  }
  if (kind == 0) return false;
  AppendRow(showKind ? KindCaption(kind) : QString(), name, length);
  return true;
}

bool TForm1::InsertList(const QString& name, bool showKind) {
  std::vector<TMeasuredTrack> tracks;
  std::string problem;
  if (!MeasureTracks(kacdb, {FileNameBytes(name)}, tracks, problem)) {
    ListProblem_ = QString::fromStdString(problem);
    return false;
  }
  for (const TMeasuredTrack& track : tracks) {
    const QString path = QFile::decodeName(QByteArray::fromStdString(track.Track.Path));
    const QString caption = showKind ? KindCaption(track.FileKind) : QString();
    if (!track.Track.IsRange()) {
      AppendRow(caption, path, track.LengthSectors);
      continue;
    }
    QString title = QString::fromStdString(TrackDisplayTitle(track.Track));
    if (title.isEmpty()) title = QFileInfo(path).fileName() + QStringLiteral(" #") + QString::number(track.Track.CueTrack);
    AppendRow(caption, title, track.LengthSectors);
    QTreeWidgetItem* row = clBox->topLevelItem(clBox->topLevelItemCount() - 1);
    row->setData(lcName, kPathRole, path);
    row->setData(lcName, kStartRole, QVariant::fromValue<qlonglong>(track.Track.StartSample));
    row->setData(lcName, kEndRole, QVariant::fromValue<qlonglong>(track.Track.EndSample));
    row->setToolTip(lcName, QString::fromStdString(DescribeTrack(track.Track)));
  }
  return true;
}

void TForm1::Add1Click() {
  if (od->exec() != QDialog::Accepted) return;
  const QStringList files = od->selectedFiles();
  if (files.isEmpty()) return;
  const QString& name = files.front();
  if (!InsertFile(name, false)) {
    // Not audio, or it cannot be read: say so rather than nothing at all.
    Label2->setText(QStringLiteral(" Inserting ") + name + QStringLiteral(" Failed !!!"));
    if (!ListProblem_.isEmpty()) Label2->setText(Label2->text() + QStringLiteral(" (") + ListProblem_ + QLatin1Char(')'));
  }
}

void TForm1::eddDropped(TExDragDropPro* Sender, int ItemsCount) {
  // Take the names now: the next drop replaces Sender's Items. They are
  // measured after the drop event has returned, so that the file manager is
  // not kept waiting while every file is decoded.
  const QStringList& items = Sender->Items();
  QStringList names = items.mid(0, std::min<qsizetype>(ItemsCount, items.size()));
  QMetaObject::invokeMethod(this, [this, names] { AddDroppedFiles(names); }, Qt::QueuedConnection);
}

void TForm1::AddDroppedFiles(const QStringList& names) {
  PendingDrops_ += names;
  if (InsertingDrops_) return;  // the loop running below takes these too
  InsertingDrops_ = true;
  // The status timer would overwrite the list total in Label3; it keeps
  // running while a job runs, so that its progress stays visible.
  if (!JobRunning_) Timer1->stop();
  while (!PendingDrops_.isEmpty()) {
    const QString name = PendingDrops_.takeFirst();
    Label2->setText(QStringLiteral(" Inserting ") + name);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (InsertFile(name, true)) {
      Label2->setText(Label2->text() + QStringLiteral(" Done !!!"));
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
      ShowListTotal();
    } else {
      Label2->setText(Label2->text() + QStringLiteral(" Failed !!!"));
      if (!ListProblem_.isEmpty()) Label2->setText(Label2->text() + QStringLiteral(" (") + ListProblem_ + QLatin1Char(')'));
    }
    QThread::msleep(kDropPauseMs);
  }
  InsertingDrops_ = false;
}

void TForm1::ShowListTotal() {
  std::int64_t total = 0;
  for (int i = 0; i < clBox->topLevelItemCount(); ++i)
    total += clBox->topLevelItem(i)->text(lcSectors).toInt() + kGapSectorsPerTrack;
  Label3->setText(MSFText(static_cast<std::int32_t>(std::min<std::int64_t>(total, INT32_MAX))));
}

void TForm1::Delete1Click() {
  const QList<QTreeWidgetItem*> selected = clBox->selectedItems();
  if (!selected.isEmpty()) delete selected.front();
}

void TForm1::ClearAll1Click() { clBox->clear(); }

QString TForm1::FailureText(const QString& start, const QString& end) {
  QString text = start + QString::fromStdString(kacdb.GetErrorText()) + end;
  if (const std::string detail = kacdb.GetErrorDetail(); !detail.empty())
    text += QStringLiteral(" - ") + QString::fromStdString(detail);
  return text;
}

void TForm1::ButtonCancelClick() {
  if (!JobRunning_ || !kacdb.IsBusy()) return;
  const bool agreed =
      ConfirmCancel ? ConfirmCancel()
                    : QMessageBox::question(this, QStringLiteral("Cancel the burn?"),
                                            QStringLiteral("Stop writing? The track being written is finished with "
                                                           "silence and the session closed: what was written plays, "
                                                           "but a CD-R cannot take the rest afterwards.")) ==
                          QMessageBox::Yes;
  if (!agreed) return;
  if (kacdb.Cancel())
    Label2->setText(QStringLiteral("Cancelling: finishing the track and closing the disc"));
  else
    Label2->setText(FailureText(QStringLiteral("Not cancelled (")));
}

void TForm1::Button1Click() {
  Timer1->start();
  if (JobRunning_) return;
  SetJobRunning(true, true);
  // The component's list is filled afresh from the rows for every burn.
  kacdb.ClearTracks();
  for (int i = 0; i < clBox->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = clBox->topLevelItem(i);
    // A cue sheet's track: its file and part.
    const bool part = row->data(lcName, kPathRole).isValid();
    const QString path = part ? row->data(lcName, kPathRole).toString() : row->text(lcName);
    if (path.trimmed().isEmpty()) break;
    const std::int64_t start = part ? row->data(lcName, kStartRole).toLongLong() : 0;
    const std::int64_t end = part ? row->data(lcName, kEndRole).toLongLong() : -1;
    if (!kacdb.AddTrack(FileNameBytes(path), row->text(lcSectors).toInt(), kPauseSectors, start, end)) {
      // Burning the list without this track would lose it silently.
      Label2->setText(FailureText(QStringLiteral("Burn Not Started! ("), QStringLiteral(": ") + path + ")"));
      kacdb.ClearTracks();
      SetJobRunning(false);
      return;
    }
  }
  kacdb.SetCacheSize(kCacheBytes);
  if (!kacdb.Burn()) {
    Label2->setText(FailureText(QStringLiteral("Burn Not Started! (")));
    SetJobRunning(false);
  }
}

void TForm1::Button2Click() {
  Timer1->start();
  if (JobRunning_) return;
  SetJobRunning(true);
  if (kacdb.Erase(true)) {
    Label2->setText(QStringLiteral("Erasing Disc"));
  } else {
    Label2->setText(FailureText(QStringLiteral("Erase Not Started! (")));
    SetJobRunning(false);
  }
}

void TForm1::Button3Click() {
  if (JobRunning_) return;
  kacdb.SynchronizeCache(false);
  kacdb.EjectMedium(true);
}

void TForm1::Button4Click() {
  if (JobRunning_) return;
  kacdb.LoadMedium(true);
}

void TForm1::Label4Click() {
  if (JobRunning_) return;
  const std::int32_t free = kacdb.GetFreeSpace();
  if (free < 0)
    Label4->setText(QStringLiteral("Free Space : no disc could be read"));
  else
    Label4->setText(QStringLiteral("Free Space : ") + MSFText(free));
}

void TForm1::Timer1Timer() {
  const std::uint8_t status = kacdb.GetStatus();
  const std::string word = BurnStatusText(status);
  if (!word.empty()) {
    QString text = QString::fromStdString(word);
    if (status == bsClosingTrack) text += QString::number(kacdb.GetCurrentTrack());
    Label3->setText(text);
  }
  if (status == bsWriting)
    Label2->setText(MSFText(kacdb.GetSectorsWritten()) + QStringLiteral(" Writing Track # ") +
                    QString::number(kacdb.GetCurrentTrack()));
  const std::int32_t total = kacdb.GetTotalSectors();
  const std::int32_t written = kacdb.GetSectorsWritten();
  // A range of 0..0 would turn the bar into a busy indicator.
  PB->setMaximum(std::max(total, 1));
  PB->setValue(std::clamp(written, 0, std::max(total, 1)));

  if (JobEndPending_ && !kacdb.IsBusy()) SetJobRunning(false);
}

void TForm1::kacdbWriteDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError) {
  (void)Sender;
  (void)Id;
  if (WithError)
    Label2->setText(FailureText(QStringLiteral("Write Done Failed! (")));
  else
    Label2->setText(QStringLiteral("Write Done!"));
  // What the burn left on the disc.
  Label2->setToolTip(QString::fromStdString(kacdb.GetDiscState()));
  ButtonCancel->setEnabled(false);
  JobEnded();
}

void TForm1::kacdbEraseDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError) {
  (void)Sender;
  (void)Id;
  if (WithError)
    Label2->setText(FailureText(QStringLiteral("Erase Done Failed! +(")));
  else
    Label2->setText(QStringLiteral("Erase Done!"));
  JobEnded();
}

void TForm1::SetJobRunning(bool running, bool burning) {
  JobRunning_ = running;
  JobEndPending_ = false;
  ButtonCancel->setEnabled(running && burning);
  for (QWidget* control : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2),
                           static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                           static_cast<QWidget*>(Label4), static_cast<QWidget*>(lbDrives)})
    control->setEnabled(!running);
}

void TForm1::JobEnded() {
  // The completion event runs while the worker still finishes; the drive is
  // free once the burner says so.
  JobEndPending_ = true;
  WaitForBurnerIdle(200);
}

void TForm1::WaitForBurnerIdle(int triesLeft) {
  if (!JobEndPending_) return;
  if (!kacdb.IsBusy()) {
    SetJobRunning(false);
    return;
  }
  // Timer1Timer finishes the wait should these tries run out.
  if (triesLeft > 0) QTimer::singleShot(50, this, [this, triesLeft] { WaitForBurnerIdle(triesLeft - 1); });
}

}  // namespace cv
