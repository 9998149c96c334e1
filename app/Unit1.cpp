#include "app/Unit1.h"

#include <algorithm>
#include <climits>
#include <exception>
#include <utility>

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QGridLayout>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
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
#include "burner/cvDiscFill.h"
#include "burner/cvListTracks.h"
#include "decode/cvAudFiles.h"
#include "device/cvSCSILib.h"

namespace cv {
namespace {

constexpr int kPauseSectors = 450;          // pause given to every track on Burn (the default)
constexpr int kCacheBytes = 8388608;        // decode-ahead cache of a burn
constexpr int kMp3Kinds = 8;                // TAudioFileKinds bit of afMP3
// Every row keeps what Burn needs in the "Name" column's data (the column
// shows the track's title): the file, the range in CD sample frames, and
// the stamp of the file's measurement.
constexpr int kPathRole = Qt::UserRole;
constexpr int kStartRole = Qt::UserRole + 1;
constexpr int kEndRole = Qt::UserRole + 2;
constexpr int kStampSizeRole = Qt::UserRole + 3;
constexpr int kStampTimeRole = Qt::UserRole + 4;

// Dialog entries for the kinds the form's first entries leave out.
struct TKindFilter {
  TAudioFileKind Kind;
  const char* Text;
  const char* Masks;
};
constexpr TKindFilter kMoreKinds[] = {
    {afWMA, "Windows Media Audio Files", "*.wma"},
    {afOGG, "Ogg Vorbis Audio Files", "*.ogg;*.oga"},
};

QString MSText(std::int64_t sectors) { return QString::fromStdString(MinutesSecondsText(sectors)); }

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

  // Results of the measuring thread are queued to the GUI thread; the
  // thread is joined by the destructor before the controls go.
  Measure_ = std::make_unique<TMeasureThread>(
      [this](const std::string& path) {
        const QString name = QFile::decodeName(QByteArray::fromStdString(path));
        QMetaObject::invokeMethod(this, [this, name] { FileMeasuringStarted(name); }, Qt::QueuedConnection);
      },
      [this](TMeasureResult result) {
        QMetaObject::invokeMethod(
            this, [this, result = std::move(result)] { FileMeasured(result); }, Qt::QueuedConnection);
      });
  Notify = [](const QString& summary, const QString& body) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                       QStringLiteral("/org/freedesktop/Notifications"),
                                       QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    call << QStringLiteral("Corvid Audio CD Burner") << 0u << QStringLiteral("corvid-burner") << summary << body
         << QStringList() << QVariantMap() << -1;
    bus.send(call);  // no answer awaited: a desktop without the service shows nothing
  };

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
  // Joined before the controls its queued results would reach go.
  Measure_.reset();
  edd->SetControl(nullptr);
  // The list's model outlives this object while the base class deletes the
  // children, and clearing it signals a reset: nothing may reach the
  // destroyed form from there.
  clBox->model()->disconnect(this);
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
  // Rows are reordered by dragging them; files dropped from a file manager
  // are edd's.
  clBox->setDragEnabled(true);
  clBox->setDragDropMode(QAbstractItemView::InternalMove);
  clBox->setDefaultDropAction(Qt::MoveAction);
  clBox->setDropIndicatorShown(true);
  clBox->invisibleRootItem()->setFlags(clBox->invisibleRootItem()->flags() | Qt::ItemIsDropEnabled);
  clBox->header()->setToolTip(QStringLiteral("Duration: minutes:seconds:frames (75 frames a second)"));
  formLayout->addWidget(clBox, 1);

  // The capacity bar and the burn options, below the list.
  CapacityBar = new QProgressBar(this);
  CapacityBar->setObjectName(QStringLiteral("CapacityBar"));
  CapacityBar->setTextVisible(true);
  CapacityBar->setAlignment(Qt::AlignCenter);
  CapacityBar->setRange(0, kBlank74Sectors);
  CapacityBar->setValue(0);
  formLayout->addWidget(CapacityBar);
  CreateOptions(this);
  formLayout->addWidget(OptionsPanel);

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
  PopupMenu1->addSeparator();
  MoveUp1 = addMenuItem("MoveUp1", QStringLiteral("Move Up"), QKeySequence(Qt::CTRL | Qt::Key_Up));
  MoveDown1 = addMenuItem("MoveDown1", QStringLiteral("Move Down"), QKeySequence(Qt::CTRL | Qt::Key_Down));
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
  Panel3->setMinimumHeight(20);
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
  od->setFileMode(QFileDialog::ExistingFiles);
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
  connect(MoveUp1, &QAction::triggered, this, [this] { MoveUp1Click(); });
  connect(MoveDown1, &QAction::triggered, this, [this] { MoveDown1Click(); });
  // The total and the fill follow every change of the list.
  QAbstractItemModel* rows = clBox->model();
  connect(rows, &QAbstractItemModel::rowsInserted, this, [this] { UpdateCapacity(); });
  connect(rows, &QAbstractItemModel::rowsRemoved, this, [this] { UpdateCapacity(); });
  connect(rows, &QAbstractItemModel::rowsMoved, this, [this] { UpdateCapacity(); });
  connect(rows, &QAbstractItemModel::modelReset, this, [this] { UpdateCapacity(); });

  // Keyboard: the order of the controls, and Label4 can be clicked with
  // Enter or Space when it has the focus.
  Label4->setFocusPolicy(Qt::StrongFocus);
  setTabOrder(lbDrives, Button1);
  setTabOrder(Button1, Button2);
  setTabOrder(Button2, Button3);
  setTabOrder(Button3, Button4);
  setTabOrder(Button4, ButtonCancel);
  setTabOrder(ButtonCancel, Label4);
  setTabOrder(Label4, clBox);
  setTabOrder(clBox, WriteModeBox);
  setTabOrder(WriteModeBox, PauseBox);
  setTabOrder(PauseBox, SpeedBox);
  setTabOrder(SpeedBox, CloseDiscBox);
  setTabOrder(CloseDiscBox, EjectBox);
  setTabOrder(EjectBox, SimulateBox);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
}

void TForm1::CreateOptions(QWidget* parent) {
  OptionsPanel = NewPanel(parent, "OptionsPanel");
  auto* grid = new QGridLayout(OptionsPanel);
  grid->setContentsMargins(4, 3, 4, 3);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  auto label = [this](const QString& text, QWidget* buddy) {
    auto* l = new QLabel(text, OptionsPanel);
    l->setBuddy(buddy);
    return l;
  };

  WriteModeBox = new QComboBox(OptionsPanel);
  WriteModeBox->setObjectName(QStringLiteral("WriteModeBox"));
  WriteModeBox->addItem(QStringLiteral("Track-At-Once"));
  WriteModeBox->setToolTip(QStringLiteral("Track-At-Once: each track written with its own pause"));
  PauseBox = new QSpinBox(OptionsPanel);
  PauseBox->setObjectName(QStringLiteral("PauseBox"));
  PauseBox->setRange(0, 65535);
  PauseBox->setSingleStep(75);
  PauseBox->setValue(kPauseSectors);
  PauseBox->setSuffix(QStringLiteral(" sectors"));
  PauseBox->setToolTip(QStringLiteral("Pause before each track after the first, in sectors (75 make a second)"));
  SpeedBox = new QComboBox(OptionsPanel);
  SpeedBox->setObjectName(QStringLiteral("SpeedBox"));
  SpeedBox->addItem(QStringLiteral("Fastest"), 0);
  SpeedBox->setToolTip(QStringLiteral("Write speed: the speeds the drive lists"));
  CloseDiscBox = new QCheckBox(QStringLiteral("Close disc"), OptionsPanel);
  CloseDiscBox->setObjectName(QStringLiteral("CloseDiscBox"));
  CloseDiscBox->setToolTip(
      QStringLiteral("Close the disc after the burn: no session can be added later. Left open, the disc stays "
                     "appendable."));
  SimulateBox = new QCheckBox(QStringLiteral("Simulate"), OptionsPanel);
  SimulateBox->setObjectName(QStringLiteral("SimulateBox"));
  SimulateBox->setToolTip(QStringLiteral("The drive goes through the whole burn with the laser off: nothing is written"));
  EjectBox = new QCheckBox(QStringLiteral("Eject when done"), OptionsPanel);
  EjectBox->setObjectName(QStringLiteral("EjectBox"));

  grid->addWidget(label(QStringLiteral("&Mode:"), WriteModeBox), 0, 0);
  grid->addWidget(WriteModeBox, 0, 1);
  grid->addWidget(label(QStringLiteral("&Pause:"), PauseBox), 0, 2);
  grid->addWidget(PauseBox, 0, 3);
  grid->addWidget(label(QStringLiteral("Spee&d:"), SpeedBox), 0, 4);
  grid->addWidget(SpeedBox, 0, 5);
  grid->addWidget(CloseDiscBox, 1, 1);
  grid->addWidget(EjectBox, 1, 3);
  grid->addWidget(SimulateBox, 1, 5);
  grid->setColumnStretch(6, 1);
  connect(PauseBox, &QSpinBox::valueChanged, this, [this] { UpdateCapacity(); });
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
  if (watched == Label4 && event->type() == QEvent::KeyPress && Label4->isEnabled()) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
      Label4Click();
      return true;
    }
  }
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
  // After the form's entries: everything this build decodes, each further
  // kind on its own, and the lists.
  const std::uint16_t kinds = kacdb.GetSupportedKinds();
  QString allMasks = masks;
  QString moreTypes;
  for (const TKindFilter& kind : kMoreKinds) {
    if ((kinds & (1u << kind.Kind)) == 0) continue;
    const QString kindMasks = QString::fromLatin1(kind.Masks);
    allMasks += QLatin1Char(';') + kindMasks;
    moreTypes += QLatin1Char('|') + QString::fromLatin1(kind.Text) + QStringLiteral(" (") + kindMasks +
                 QStringLiteral(")|") + kindMasks;
  }
  const QString lists = QStringLiteral("*.m3u;*.m3u8;*.pls;*.cue");
  const QString everything = QStringLiteral("Every Audio File and List This Build Reads (") + allMasks +
                             QLatin1Char(';') + lists + QStringLiteral(")");
  DialogFilter_ += QLatin1Char('|') + everything + QLatin1Char('|') + allMasks + QLatin1Char(';') + lists;
  DialogFilter_ += moreTypes;
  DialogFilter_ += QStringLiteral("|Playlists and Cue Sheets (") + lists + QStringLiteral(")|") + lists;
  od->setNameFilters(QtNameFilters(DialogFilter_));
  od->selectNameFilter(QtNameFilters(everything + QLatin1Char('|') + allMasks + QLatin1Char(';') + lists).value(0));
  UpdateCapacity();
}

void TForm1::lbDrivesChange() {
  const int index = lbDrives->currentIndex();
  if (index < 0 || index > 255) return;  // no drive listed: nothing to select
  kacdb.SelectDevice(static_cast<std::uint8_t>(index));
  FillSpeeds();
  RefreshFreeSpace();
}

static QString KindCaption(std::uint8_t kind) {
  if (kind == 0) return {};
  return QString::fromLatin1(AudioFileKindName(static_cast<TAudioFileKind>(kind)));
}

void TForm1::AppendRow(const QString& caption, const TMeasuredEntry& entry) {
  const TListTrack& track = entry.Measured.Track;
  const QString path = QFile::decodeName(QByteArray::fromStdString(track.Path));
  const std::int32_t length = entry.Measured.LengthSectors;
  // "Artist - Title" from the tags (or the cue sheet), else the file name.
  QString title = QString::fromStdString(entry.Title).trimmed();
  const QString artist = QString::fromStdString(entry.Artist).trimmed();
  if (!title.isEmpty() && !artist.isEmpty()) title = artist + QStringLiteral(" - ") + title;
  else if (title.isEmpty()) title = artist;
  if (title.isEmpty()) {
    title = QFileInfo(path).fileName();
    if (track.CueTrack > 0) title += QStringLiteral(" #") + QString::number(track.CueTrack);
  }
  auto* row = new QTreeWidgetItem(QStringList{caption, title, MSFText(length), QString::number(length)});
  row->setTextAlignment(lcDuration, Qt::AlignRight | Qt::AlignVCenter);
  row->setFlags((row->flags() | Qt::ItemIsDragEnabled) & ~Qt::ItemIsDropEnabled);
  row->setData(lcName, kPathRole, path);
  row->setData(lcName, kStartRole, QVariant::fromValue<qlonglong>(track.StartSample));
  row->setData(lcName, kEndRole, QVariant::fromValue<qlonglong>(track.EndSample));
  row->setData(lcName, kStampSizeRole, QVariant::fromValue<qlonglong>(entry.Stamp.Size));
  row->setData(lcName, kStampTimeRole, QVariant::fromValue<qlonglong>(entry.Stamp.ModifiedNs));
  row->setToolTip(lcName, track.IsRange() ? QString::fromStdString(DescribeTrack(track)) : path);
  row->setToolTip(lcDuration, MSText(length) + QStringLiteral(" (m:ss); the column reads minutes:seconds:frames"));
  clBox->addTopLevelItem(row);
}

QString TForm1::RowPath(int index) const {
  const QTreeWidgetItem* row = clBox->topLevelItem(index);
  return row != nullptr ? row->data(lcName, kPathRole).toString() : QString();
}

bool TForm1::Measuring() const { return MeasurePending_ > 0; }

void TForm1::Add1Click() {
  if (JobRunning_) return;  // the list is locked while a job runs
  if (od->exec() != QDialog::Accepted) return;
  const QStringList files = od->selectedFiles();
  if (files.isEmpty()) return;
  AddDroppedFiles(files);
}

void TForm1::eddDropped(TExDragDropPro* Sender, int ItemsCount) {
  // Take the names now: the next drop replaces Sender's Items. They are
  // measured on the measuring thread, so the file manager is not kept
  // waiting and the window keeps turning.
  const QStringList& items = Sender->Items();
  QStringList names = items.mid(0, std::min<qsizetype>(ItemsCount, items.size()));
  AddDroppedFiles(names);
}

void TForm1::AddDroppedFiles(const QStringList& names) {
  if (JobRunning_) {
    Label2->setText(QStringLiteral("The list is locked while the drive is busy: drop the files again afterwards"));
    return;
  }
  // The status timer would overwrite the list total in Label3.
  Timer1->stop();
  std::vector<std::string> paths;
  for (const QString& name : names) paths.push_back(FileNameBytes(name));
  MeasurePending_ += static_cast<int>(paths.size());
  Measure_->Add(paths);
  UpdateCapacity();
}

void TForm1::FileMeasuringStarted(const QString& name) {
  Label2->setText(QStringLiteral(" Inserting ") + name);
  UpdateCapacity();
}

void TForm1::FileMeasured(const TMeasureResult& result) {
  // A result cancelled (Clear All) after the thread reported it.
  if (result.Generation != Measure_->Generation()) return;
  MeasurePending_ = std::max(MeasurePending_ - 1, 0);
  const QString name = QFile::decodeName(QByteArray::fromStdString(result.Path));
  if (result.Ok && !result.Tracks.empty()) {
    InsertMeasured(result);
    Label2->setText(QStringLiteral(" Inserting ") + name + QStringLiteral(" Done !!!"));
  } else {
    QString text = QStringLiteral(" Inserting ") + name + QStringLiteral(" Failed !!!");
    // Why, for lists (a plain file that is not audio says no more).
    if (result.IsList && !result.Problem.empty())
      text += QStringLiteral(" (") + QString::fromStdString(result.Problem) + QLatin1Char(')');
    Label2->setText(text);
  }
  UpdateCapacity();
}

void TForm1::InsertMeasured(const TMeasureResult& result) {
  for (const TMeasuredEntry& entry : result.Tracks) AppendRow(KindCaption(entry.Measured.FileKind), entry);
}

std::int64_t TForm1::NeededSectors() const {
  std::vector<TFillTrack> tracks;
  const int pause = PauseBox->value();
  for (int i = 0; i < clBox->topLevelItemCount(); ++i)
    tracks.push_back({clBox->topLevelItem(i)->text(lcSectors).toInt(), pause});
  return BurnSectors(tracks);
}

void TForm1::UpdateCapacity() {
  const std::int64_t needed = NeededSectors();
  // Label3 shows the list's total while no job runs (the form's MSF text),
  // now counting what the burn writes.
  if (!JobRunning_ && !Timer1->isActive())
    Label3->setText(MSFText(static_cast<std::int32_t>(std::min<std::int64_t>(needed, INT32_MAX))));
  const TDiscFill fill = FillOf(needed, FreeSectors_);
  const std::int64_t capacity = std::max<std::int64_t>(fill.Capacity, 1);
  CapacityBar->setRange(0, static_cast<int>(std::min<std::int64_t>(capacity, INT32_MAX)));
  CapacityBar->setValue(static_cast<int>(std::min<std::int64_t>(fill.Needed, capacity)));
  QString text = QString::fromStdString(FillText(fill));
  const int tracks = clBox->topLevelItemCount();
  text = QString::number(tracks) + (tracks == 1 ? QStringLiteral(" track, ") : QStringLiteral(" tracks, ")) + text;
  if (MeasurePending_ > 0)
    text += QStringLiteral("; measuring ") + QString::number(MeasurePending_) + QStringLiteral(" more");
  CapacityBar->setFormat(text);
  CapacityBar->setToolTip(
      QStringLiteral("What the burn writes: every track at least four seconds, and the pause before each track "
                     "after the first. ") +
      (fill.DiscRead ? QStringLiteral("Compared with the free space of the disc in the drive.")
                     : QStringLiteral("No disc was read: compared with a blank 74- or 80-minute CD-R.")));
  CapacityBar->setProperty("over", !fill.Fits());
  QPalette palette = QApplication::palette(CapacityBar);
  if (!fill.Fits()) {
    palette.setColor(QPalette::Highlight, QColor(0xc0, 0x1c, 0x28));
    palette.setColor(QPalette::HighlightedText, Qt::white);
  }
  CapacityBar->setPalette(palette);
}

void TForm1::ShowListTotal() { UpdateCapacity(); }

void TForm1::Delete1Click() {
  if (JobRunning_) return;
  const QList<QTreeWidgetItem*> selected = clBox->selectedItems();
  if (!selected.isEmpty()) delete selected.front();
}

void TForm1::ClearAll1Click() {
  if (JobRunning_) return;
  // Files still waiting to be measured go too.
  Measure_->Cancel();
  MeasurePending_ = 0;
  clBox->clear();
  UpdateCapacity();
}

void TForm1::MoveUp1Click() { MoveRow(-1); }
void TForm1::MoveDown1Click() { MoveRow(1); }

void TForm1::MoveRow(int by) {
  if (JobRunning_) return;
  QTreeWidgetItem* row = clBox->currentItem();
  if (row == nullptr || !row->isSelected()) return;
  const int from = clBox->indexOfTopLevelItem(row);
  const int to = from + by;
  if (from < 0 || to < 0 || to >= clBox->topLevelItemCount()) return;
  clBox->takeTopLevelItem(from);
  clBox->insertTopLevelItem(to, row);
  clBox->setCurrentItem(row);
  row->setSelected(true);
  clBox->scrollToItem(row);
}

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
  if (Measuring()) {
    Label2->setText(QStringLiteral("Burn Not Started! (files are still being measured: wait until the list is complete)"));
    return;
  }
  // The component's list is filled afresh from the rows for every burn,
  // with the options as they stand.
  kacdb.ClearTracks();
  kacdb.SetWriteSpeed(static_cast<std::uint16_t>(SpeedBox->currentData().toInt()));
  kacdb.SetCloseDisc(CloseDiscBox->isChecked());
  kacdb.SetTestWrite(SimulateBox->isChecked());
  const auto pause = static_cast<std::uint16_t>(PauseBox->value());
  int rows = 0;
  for (int i = 0; i < clBox->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* row = clBox->topLevelItem(i);
    const QString path = row->data(lcName, kPathRole).toString();
    if (path.trimmed().isEmpty()) break;
    const std::int64_t start = row->data(lcName, kStartRole).toLongLong();
    const std::int64_t end = row->data(lcName, kEndRole).toLongLong();
    TFileStamp stamp;
    stamp.Size = row->data(lcName, kStampSizeRole).toLongLong();
    stamp.ModifiedNs = row->data(lcName, kStampTimeRole).toLongLong();
    if (!kacdb.AddTrack(FileNameBytes(path), row->text(lcSectors).toInt(), pause, start, end, stamp)) {
      // Burning the list without this track would lose it silently.
      Label2->setText(FailureText(QStringLiteral("Burn Not Started! ("), QStringLiteral(": ") + path + ")"));
      kacdb.ClearTracks();
      return;
    }
    ++rows;
  }
  kacdb.SetCacheSize(kCacheBytes);
  SetJobRunning(true, true);
  BurnRows_ = rows;
  EjectWhenDone_ = EjectBox->isChecked();
  BurnFailed_ = false;
  BurnClock_.start();
  WritingSinceMs_ = -1;
  if (!kacdb.Burn()) {
    Label2->setText(FailureText(QStringLiteral("Burn Not Started! (")));
    EjectWhenDone_ = false;
    SetJobRunning(false);
  }
}

void TForm1::Button2Click() {
  Timer1->start();
  if (JobRunning_) return;
  // Say what the erase destroys before anything is sent.
  const int index = lbDrives->currentIndex();
  const QString drive = index >= 0 ? lbDrives->itemText(index).trimmed() : QStringLiteral("the drive");
  const std::int32_t medium = kacdb.GetMediumType();
  QString what = medium > 0 ? QString::fromStdString(MediumTypeName(static_cast<std::uint8_t>(medium)))
                            : QStringLiteral("disc");
  QString question = QStringLiteral("Quick Erase the ") + what + QStringLiteral(" in ") + drive +
                     QStringLiteral("?\n\nEvery track and session on it is destroyed; this cannot be undone.");
  if (FreeSectors_ >= 0 && medium > 0)
    question += QStringLiteral("\nIt has ") + MSText(FreeSectors_) + QStringLiteral(" (m:ss) free now.");
  const bool agreed = ConfirmErase ? ConfirmErase(question)
                                   : QMessageBox::question(this, QStringLiteral("Quick Erase"), question,
                                                           QMessageBox::Yes | QMessageBox::No,
                                                           QMessageBox::No) == QMessageBox::Yes;
  if (!agreed) {
    Label2->setText(QStringLiteral("Erase not started: nothing was changed"));
    return;
  }
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
  FreeSectors_ = -1;  // no disc to compare with any more
  UpdateCapacity();
}

void TForm1::Button4Click() {
  if (JobRunning_) return;
  kacdb.LoadMedium(true);
  RefreshFreeSpace();
}

void TForm1::Label4Click() {
  if (JobRunning_) return;
  const std::int32_t free = kacdb.GetFreeSpace();
  FreeSectors_ = free;
  if (free < 0)
    Label4->setText(QStringLiteral("Free Space : no disc could be read"));
  else
    Label4->setText(QStringLiteral("Free Space : ") + MSFText(free));
  Label4->setToolTip(free < 0 ? QString()
                              : MSText(free) + QStringLiteral(" (m:ss); the label reads minutes:seconds:frames"));
  UpdateCapacity();
}

void TForm1::RefreshFreeSpace() {
  if (JobRunning_) return;
  // Quietly: Label4 keeps its text until it is clicked, or shows the new
  // figure once it has shown one.
  if (Label4->text() != QStringLiteral("Free Space : (Click Here)")) {
    Label4Click();
    return;
  }
  FreeSectors_ = kacdb.GetFreeSpace();
  kacdb.TakeLastError();  // no disc is no error here
  UpdateCapacity();
}

void TForm1::FillSpeeds() {
  const QVariant chosen = SpeedBox->currentData();
  QSignalBlocker quiet(SpeedBox);
  SpeedBox->clear();
  SpeedBox->addItem(QStringLiteral("Fastest"), 0);
  for (const std::uint16_t x : kacdb.GetWriteSpeeds())
    SpeedBox->addItem(QString::number(x) + QLatin1Char('x'), static_cast<int>(x));
  const int again = SpeedBox->findData(chosen);
  SpeedBox->setCurrentIndex(again >= 0 ? again : 0);
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
  if (JobRunning_ && Burning_) ShowBurnProgress();

  if (JobEndPending_ && !kacdb.IsBusy()) SetJobRunning(false);
}

void TForm1::ShowBurnProgress() {
  const std::int32_t total = kacdb.GetTotalSectors();
  const std::int32_t written = kacdb.GetSectorsWritten();
  const int track = kacdb.GetCurrentTrack();
  HighlightTrack(track);
  const qint64 now = BurnClock_.isValid() ? BurnClock_.elapsed() : 0;
  if (WritingSinceMs_ < 0 && written > 0) {
    WritingSinceMs_ = now;
    WritingSinceSectors_ = written;
  }
  QString text = QStringLiteral("Track ") + QString::number(std::max(track, 1)) + QStringLiteral(" of ") +
                 QString::number(BurnRows_) + QStringLiteral(" - ") +
                 QString::fromStdString(SecondsText(now / 1000)) + QStringLiteral(" elapsed");
  // Speed and time left from the writing so far.
  if (WritingSinceMs_ >= 0 && now - WritingSinceMs_ >= 1000 && written > WritingSinceSectors_) {
    const double perSecond = (written - WritingSinceSectors_) * 1000.0 / static_cast<double>(now - WritingSinceMs_);
    const auto left = static_cast<std::int64_t>((total - written) / std::max(perSecond, 1.0));
    text += QStringLiteral(", ") + QString::fromStdString(SecondsText(left)) + QStringLiteral(" left (m:ss) - ") +
            QString::number(perSecond / kSectorsPerSecond, 'f', 1) + QStringLiteral("x");
  } else {
    text += QStringLiteral(" (m:ss)");
  }
  PB->setFormat(text);
  PB->setTextVisible(true);
  // The drive buffer's fill, as the drive last reported it.
  const std::uint32_t length = kacdb.GetBufferLength();
  const std::uint32_t free = kacdb.GetBufferFree();
  if (length > 0) {
    ProgressBar1->setMaximum(100);
    ProgressBar1->setValue(static_cast<int>((std::uint64_t{length - std::min(free, length)} * 100) / length));
    ProgressBar1->setFormat(QStringLiteral("Buffer %p%"));
    ProgressBar1->setTextVisible(true);
  }
}

void TForm1::HighlightTrack(int track) {
  if (track == HighlightedTrack_) return;
  auto paint = [this](int number, bool on) {
    QTreeWidgetItem* row = clBox->topLevelItem(number - 1);
    if (row == nullptr) return;
    // The name in bold; the narrow Type and Duration columns keep the
    // list's font, so that their text is never elided.
    QFont font = clBox->font();
    font.setBold(on);
    row->setFont(lcName, font);
    for (int column = 0; column < clBox->columnCount(); ++column)
      row->setBackground(column, on ? clBox->palette().brush(QPalette::AlternateBase) : QBrush());
    if (on) clBox->scrollToItem(row);
  };
  if (HighlightedTrack_ > 0) paint(HighlightedTrack_, false);
  HighlightedTrack_ = track;
  if (track > 0 && track <= BurnRows_) paint(track, true);
}

void TForm1::kacdbWriteDone(TKAudioCDBurner* Sender, std::uint16_t Id, bool WithError) {
  (void)Sender;
  (void)Id;
  if (WithError)
    Label2->setText(FailureText(QStringLiteral("Write Done Failed! (")));
  else
    Label2->setText(QStringLiteral("Write Done!"));
  BurnFailed_ = WithError;
  // What the burn left on the disc.
  const QString state = QString::fromStdString(kacdb.GetDiscState());
  Label2->setToolTip(state);
  ButtonCancel->setEnabled(false);
  const QString summary = WithError ? QStringLiteral("Burn failed") : QStringLiteral("Burn finished");
  QString body = WithError ? Label2->text() : QStringLiteral("Written in ") +
                                                  QString::fromStdString(SecondsText(BurnClock_.elapsed() / 1000)) +
                                                  QStringLiteral(" (m:ss)");
  if (!state.isEmpty()) body += QStringLiteral(": ") + state;
  if (Notify) Notify(summary, body);
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
  const bool ended = JobRunning_ && !running;
  const bool wasBurning = Burning_;
  JobRunning_ = running;
  JobEndPending_ = false;
  if (running) Burning_ = burning;
  ButtonCancel->setEnabled(running && burning);
  for (QWidget* control : {static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2),
                           static_cast<QWidget*>(Button3), static_cast<QWidget*>(Button4),
                           static_cast<QWidget*>(Label4), static_cast<QWidget*>(lbDrives),
                           static_cast<QWidget*>(OptionsPanel)})
    control->setEnabled(!running);
  LockList(running);
  if (ended) {
    Burning_ = false;
    if (wasBurning) JobFinished();
    else RefreshFreeSpace();
  }
}

void TForm1::JobFinished() {
  HighlightTrack(0);
  PB->setTextVisible(false);
  ProgressBar1->setValue(0);
  ProgressBar1->setTextVisible(false);
  if (EjectWhenDone_ && !BurnFailed_) {
    EjectWhenDone_ = false;
    kacdb.EjectMedium(true);
    FreeSectors_ = -1;
    UpdateCapacity();
    return;
  }
  RefreshFreeSpace();
}

void TForm1::LockList(bool locked) {
  for (QAction* action : {Add1, Delete1, ClearAll1, MoveUp1, MoveDown1}) action->setEnabled(!locked);
  clBox->setDragDropMode(locked ? QAbstractItemView::NoDragDrop : QAbstractItemView::InternalMove);
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
