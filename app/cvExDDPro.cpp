#include "app/cvExDDPro.h"

#include <QAbstractScrollArea>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QEvent>
#include <QMimeData>
#include <QUrl>

namespace cv {

QStringList DroppedFilePaths(const QMimeData* data) {
  QStringList paths;
  if (data == nullptr || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    QString path = url.toLocalFile();
    if (!path.isEmpty()) paths.append(path);
  }
  return paths;
}

TExDragDropPro::TExDragDropPro(QObject* owner) : QObject(owner) {}

TExDragDropPro::~TExDragDropPro() { Unhook(); }

QWidget* TExDragDropPro::HookTarget(QWidget* c) {
  if (auto* area = qobject_cast<QAbstractScrollArea*>(c); area != nullptr && area->viewport() != nullptr)
    return area->viewport();
  return c;
}

void TExDragDropPro::Unhook() {
  if (HookedWindow_) HookedWindow_->removeEventFilter(this);
  HookedWindow_ = nullptr;
}

void TExDragDropPro::SetControl(QWidget* c) {
  if (c == Control_.data() && (c == nullptr || HookedWindow_ == HookTarget(c))) return;
  Unhook();
  Control_ = c;
  if (c == nullptr) return;
  QWidget* target = HookTarget(c);
  HookedWindow_ = target;
  target->installEventFilter(this);
  // Qt delivers drag events only to widgets that accept drops.
  target->setAcceptDrops(true);
  if (target != c) c->setAcceptDrops(true);
}

bool TExDragDropPro::eventFilter(QObject* watched, QEvent* event) {
  if (watched != HookedWindow_.data()) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      auto* drag = static_cast<QDragMoveEvent*>(event);
      if (DroppedFilePaths(drag->mimeData()).isEmpty()) break;
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      QStringList paths = DroppedFilePaths(drop->mimeData());
      if (paths.isEmpty()) break;
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      ReadDrop(paths);
      return true;
    }
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void TExDragDropPro::ReadDrop(const QStringList& paths) {
  Items_ = paths;
  ItemsCount_ = static_cast<int>(Items_.size());
  // The handler may replace OnDropped or start another drop from a nested
  // event loop: call a copy.
  if (TDroppedEvent handler = OnDropped) handler(this, ItemsCount_);
}

}  // namespace cv
