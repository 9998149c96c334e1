// TExDragDropPro: turns a widget into a drop target for files dragged from
// a file manager, and reports each drop with the full paths of its files.
//
// It hooks its Control with a Qt event filter (the Qt form of replacing a
// window procedure). Drags whose data carry local file URLs (text/uri-list
// with file: URLs) are accepted; on the drop, Items is filled with the
// files' paths in the order the drag source listed them, ItemsCount is set
// and OnDropped is raised once. Every other event, and every drag that
// carries no local file, passes through to the widget unchanged.
//
// When Control is a scroll area (a QTreeWidget, for example), the hook sits
// on its viewport, the widget that actually receives the drag events.
//
// Owner: the window that creates it (QObject parent). Control is not owned;
// if it is destroyed first, the component notices and holds no hook.
// Threads: GUI thread only; OnDropped runs on it, inside the drop event.
#pragma once

#include <functional>

#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QWidget>

namespace cv {

class TExDragDropPro;

// Raised after a drop has been read: Items[0] .. Items[ItemsCount-1] hold it.
using TDroppedEvent = std::function<void(TExDragDropPro* Sender, int ItemsCount)>;

class TExDragDropPro : public QObject {
 public:
  explicit TExDragDropPro(QObject* owner = nullptr);
  ~TExDragDropPro() override;

  TExDragDropPro(const TExDragDropPro&) = delete;
  TExDragDropPro& operator=(const TExDragDropPro&) = delete;

  // Paths of the files of the most recent drop.
  const QStringList& Items() const { return Items_; }
  int ItemsCount() const { return ItemsCount_; }

  QWidget* Control() const { return Control_; }
  // Hooks c (nullptr: unhooks). Setting the control already set does
  // nothing; setting another one unhooks the previous control first. The
  // hooked widget accepts drops from then on and keeps doing so after it
  // is unhooked, as a registered drop target would.
  void SetControl(QWidget* c);

  TDroppedEvent OnDropped;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  static QWidget* HookTarget(QWidget* c);
  void Unhook();
  void ReadDrop(const QStringList& paths);

  QStringList Items_;
  QPointer<QWidget> HookedWindow_;  // the widget carrying the event filter
  QPointer<QWidget> Control_;
  int ItemsCount_ = 0;
};

// The local file paths of a drag's data, in order; files only (URLs of other
// schemes are left out). Empty when the data carry no local file.
QStringList DroppedFilePaths(const QMimeData* data);

}  // namespace cv
