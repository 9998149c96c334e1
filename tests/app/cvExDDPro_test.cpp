// TExDragDropPro on real widgets: drags and drops are delivered as Qt
// delivers them, to the widget that receives them.
#include <memory>
#include <vector>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include "app/cvExDDPro.h"

using cv::TExDragDropPro;

namespace {

// A widget with drop handling of its own (it takes any drag), which
// records every event that reaches it. Qt sends a drop only to the widget
// that accepted the drag's entry.
class TRecordingWidget : public QWidget {
 public:
  std::vector<QEvent::Type> Seen;
  bool Saw(QEvent::Type type) const { return std::find(Seen.begin(), Seen.end(), type) != Seen.end(); }

 protected:
  bool event(QEvent* e) override {
    Seen.push_back(e->type());
    return QWidget::event(e);
  }
  void dragEnterEvent(QDragEnterEvent* e) override { e->accept(); }
  void dropEvent(QDropEvent* e) override { e->accept(); }
};

// Records the events that a hooked widget gets past the filters installed
// after this one.
class TEventLog : public QObject {
 public:
  std::vector<QEvent::Type> Seen;
  bool Saw(QEvent::Type type) const { return std::find(Seen.begin(), Seen.end(), type) != Seen.end(); }

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    Seen.push_back(e->type());
    return false;
  }
};

struct TDropCall {
  TExDragDropPro* Sender;
  int ItemsCount;
  QStringList Items;
};

std::unique_ptr<QMimeData> UrlData(const QList<QUrl>& urls) {
  auto data = std::make_unique<QMimeData>();
  data->setUrls(urls);
  return data;
}

// Sends a drag enter and a drop of data to target; answers whether the
// drag was accepted on entering and the drop accepted.
struct TDragResult {
  bool EnterAccepted;
  bool DropAccepted;
  Qt::DropAction DropAction;
};

TDragResult DragAndDrop(QWidget* target, const QMimeData* data) {
  const QPoint at(5, 5);
  QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data, Qt::LeftButton, Qt::NoModifier);
  enter.ignore();
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, data, Qt::LeftButton,
                  Qt::NoModifier);
  drop.ignore();
  QCoreApplication::sendEvent(target, &drop);
  return {enter.isAccepted(), drop.isAccepted(), drop.dropAction()};
}

}  // namespace

class TExDragDropProTest : public QObject {
  Q_OBJECT

 private slots:
  void dropOfOneFileFillsItemsAndRaisesOnce() {
    TRecordingWidget target;
    TExDragDropPro edd;
    std::vector<TDropCall> calls;
    edd.OnDropped = [&](TExDragDropPro* sender, int count) { calls.push_back({sender, count, sender->Items()}); };
    edd.SetControl(&target);
    QVERIFY(target.acceptDrops());

    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/music/one song.wav"))});
    TDragResult result = DragAndDrop(&target, data.get());

    QVERIFY(result.EnterAccepted);
    QVERIFY(result.DropAccepted);
    QCOMPARE(result.DropAction, Qt::CopyAction);
    QCOMPARE(calls.size(), std::size_t{1});
    QCOMPARE(calls[0].Sender, &edd);
    QCOMPARE(calls[0].ItemsCount, 1);
    QCOMPARE(calls[0].Items, QStringList{QStringLiteral("/music/one song.wav")});
    QCOMPARE(edd.ItemsCount(), 1);
    // The drop was taken: the widget itself never saw it.
    QVERIFY(!target.Saw(QEvent::Drop));
  }

  void filesKeepTheirOrderAndOddNames() {
    TRecordingWidget target;
    TExDragDropPro edd;
    edd.SetControl(&target);
    const QStringList paths{QStringLiteral("/b/2.mp3"), QStringLiteral("/a/1 #%?.wav"),
                            QStringLiteral("/c/\u00e9t\u00e9 \u266b.wav")};
    QList<QUrl> urls;
    for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
    auto data = UrlData(urls);
    DragAndDrop(&target, data.get());
    QCOMPARE(edd.Items(), paths);
    QCOMPARE(edd.ItemsCount(), 3);
  }

  void secondDropReplacesTheFirst() {
    TRecordingWidget target;
    TExDragDropPro edd;
    int calls = 0;
    edd.OnDropped = [&](TExDragDropPro*, int) { ++calls; };
    edd.SetControl(&target);
    auto first = UrlData({QUrl::fromLocalFile(QStringLiteral("/x/1.wav")), QUrl::fromLocalFile(QStringLiteral("/x/2.wav"))});
    DragAndDrop(&target, first.get());
    auto second = UrlData({QUrl::fromLocalFile(QStringLiteral("/y/3.wav"))});
    DragAndDrop(&target, second.get());
    QCOMPARE(calls, 2);
    QCOMPARE(edd.Items(), QStringList{QStringLiteral("/y/3.wav")});
    QCOMPARE(edd.ItemsCount(), 1);
  }

  void dropWithoutHandlerStillFillsItems() {
    TRecordingWidget target;
    TExDragDropPro edd;
    edd.SetControl(&target);
    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/z/only.wav"))});
    QVERIFY(DragAndDrop(&target, data.get()).DropAccepted);
    QCOMPARE(edd.Items(), QStringList{QStringLiteral("/z/only.wav")});
    QCOMPARE(edd.ItemsCount(), 1);
  }

  void remoteUrlsAreLeftOut() {
    TRecordingWidget target;
    TExDragDropPro edd;
    edd.SetControl(&target);
    auto data = UrlData({QUrl(QStringLiteral("https://example.org/a.wav")),
                         QUrl::fromLocalFile(QStringLiteral("/local/b.wav"))});
    DragAndDrop(&target, data.get());
    QCOMPARE(edd.Items(), QStringList{QStringLiteral("/local/b.wav")});
  }

  void dragsWithoutLocalFilesPassThrough() {
    TRecordingWidget target;
    TExDragDropPro edd;
    int calls = 0;
    edd.OnDropped = [&](TExDragDropPro*, int) { ++calls; };
    edd.SetControl(&target);

    QMimeData text;
    text.setText(QStringLiteral("/not/a/url.wav"));
    TDragResult plain = DragAndDrop(&target, &text);
    auto remote = UrlData({QUrl(QStringLiteral("https://example.org/a.wav"))});
    TDragResult web = DragAndDrop(&target, remote.get());

    // The widget's own drop handling got both, as if nothing were hooked.
    QCOMPARE(calls, 0);
    QVERIFY(plain.EnterAccepted);
    QVERIFY(web.DropAccepted);
    QCOMPARE(std::count(target.Seen.begin(), target.Seen.end(), QEvent::Drop), 2);
    QCOMPARE(std::count(target.Seen.begin(), target.Seen.end(), QEvent::DragEnter), 2);
    QVERIFY(edd.Items().isEmpty());
  }

  void otherEventsReachTheControlUnchanged() {
    TRecordingWidget target;
    target.resize(100, 50);
    TExDragDropPro edd;
    edd.SetControl(&target);

    QMouseEvent press(QEvent::MouseButtonPress, QPointF(3, 4), QPointF(3, 4), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &press);
    QKeyEvent key(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &key);
    QPaintEvent paint(QRect(0, 0, 10, 10));
    QCoreApplication::sendEvent(&target, &paint);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&target, &leave);

    QVERIFY(target.Saw(QEvent::MouseButtonPress));
    QVERIFY(target.Saw(QEvent::KeyPress));
    QVERIFY(target.Saw(QEvent::Paint));
    QVERIFY(target.Saw(QEvent::Leave));
  }

  void listViewIsHookedOnItsViewport() {
    QTreeWidget list;
    list.setColumnCount(1);
    list.addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("row")}));
    list.resize(200, 100);
    TEventLog log;
    list.viewport()->installEventFilter(&log);
    TExDragDropPro edd;
    int calls = 0;
    edd.OnDropped = [&](TExDragDropPro*, int) { ++calls; };
    edd.SetControl(&list);
    QCOMPARE(edd.Control(), &list);
    QVERIFY(list.viewport()->acceptDrops());

    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/v/1.wav"))});
    QVERIFY(DragAndDrop(list.viewport(), data.get()).DropAccepted);
    QCOMPARE(calls, 1);
    QVERIFY(!log.Saw(QEvent::Drop));

    // The list's own events still get through to it.
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(list.viewport(), &press);
    QVERIFY(log.Saw(QEvent::MouseButtonPress));
    QCOMPARE(list.currentItem(), list.topLevelItem(0));
  }

  void settingTheSameControlAgainKeepsOneHook() {
    TRecordingWidget target;
    TExDragDropPro edd;
    int calls = 0;
    edd.OnDropped = [&](TExDragDropPro*, int) { ++calls; };
    edd.SetControl(&target);
    edd.SetControl(&target);
    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/s/1.wav"))});
    DragAndDrop(&target, data.get());
    QCOMPARE(calls, 1);
  }

  void movingToAnotherControlUnhooksTheFirst() {
    TRecordingWidget first;
    TRecordingWidget second;
    TExDragDropPro edd;
    int calls = 0;
    edd.OnDropped = [&](TExDragDropPro*, int) { ++calls; };
    edd.SetControl(&first);
    edd.SetControl(&second);
    QCOMPARE(edd.Control(), &second);

    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/m/1.wav"))});
    DragAndDrop(&first, data.get());
    QCOMPARE(calls, 0);
    QVERIFY(first.Saw(QEvent::Drop));
    DragAndDrop(&second, data.get());
    QCOMPARE(calls, 1);
  }

  void clearingTheControlUnhooks() {
    TRecordingWidget target;
    TExDragDropPro edd;
    int calls = 0;
    edd.OnDropped = [&](TExDragDropPro*, int) { ++calls; };
    edd.SetControl(&target);
    edd.SetControl(nullptr);
    QCOMPARE(edd.Control(), nullptr);
    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/u/1.wav"))});
    DragAndDrop(&target, data.get());
    QCOMPARE(calls, 0);
    QVERIFY(target.Saw(QEvent::Drop));
    QVERIFY(target.acceptDrops());
  }

  void controlDestroyedBeforeTheComponent() {
    auto edd = std::make_unique<TExDragDropPro>();
    {
      TRecordingWidget target;
      edd->SetControl(&target);
    }
    QCOMPARE(edd->Control(), nullptr);
    edd->SetControl(nullptr);
    edd.reset();
  }

  void componentDestroyedBeforeTheControl() {
    TRecordingWidget target;
    {
      TExDragDropPro edd;
      edd.SetControl(&target);
    }
    auto data = UrlData({QUrl::fromLocalFile(QStringLiteral("/d/1.wav"))});
    DragAndDrop(&target, data.get());
    QVERIFY(target.Saw(QEvent::Drop));
  }

  void handlerMayDropAgainFromInside() {
    // A handler that runs a nested drop (as a nested event loop may) sees
    // consistent Items for each call.
    TRecordingWidget target;
    TExDragDropPro edd;
    QStringList seen;
    bool nested = false;
    edd.OnDropped = [&](TExDragDropPro* sender, int count) {
      seen << sender->Items().mid(0, count);
      if (!nested) {
        nested = true;
        auto inner = UrlData({QUrl::fromLocalFile(QStringLiteral("/n/inner.wav"))});
        DragAndDrop(&target, inner.get());
      }
    };
    edd.SetControl(&target);
    auto outer = UrlData({QUrl::fromLocalFile(QStringLiteral("/n/outer.wav"))});
    DragAndDrop(&target, outer.get());
    QCOMPARE(seen, (QStringList{QStringLiteral("/n/outer.wav"), QStringLiteral("/n/inner.wav")}));
  }
};

QTEST_MAIN(TExDragDropProTest)
#include "cvExDDPro_test.moc"
