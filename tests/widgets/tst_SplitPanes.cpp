// The split container: bar position bounds, percentages, pane layout, resizing and dragging.

#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

#include "widgets/TSplitPanes.h"

namespace {

// The main window's splitter: level bar 8 pixels thick, no border, 200 pixels down.
void MakeMainWindowSplitter(TSplitPanes* split) {
  split->SetOrientation(TSplitPanes::spHorz);
  split->SetBarWidth(8);
  split->SetBorderStyle(TCustomSplitPanes::bsNone);
  split->SetBarPosition(200);
}

void Drag(TSplitPanes* split, QPoint from, QPoint to) {
  QTest::mousePress(split, Qt::LeftButton, {}, from);
  QTest::mouseMove(split, to);
  QTest::mouseRelease(split, Qt::LeftButton, {}, to);
}

}  // namespace

class SplitPanesTest : public QObject {
  Q_OBJECT

 private slots:
  void PanesAreCutAtTheBar() {
    TSplitPanes split;
    split.resize(300, 400);
    MakeMainWindowSplitter(&split);
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));
    QCOMPARE(split.Pane1()->geometry(), QRect(0, 0, 300, 200));
    QCOMPARE(split.Pane2()->geometry(), QRect(0, 208, 300, 192));

    // Upright bar inside a Win95 frame: the inset is 2 on every side.
    split.SetBorderStyle(TCustomSplitPanes::bsSingle);
    split.SetOrientation(TSplitPanes::spVert);
    split.SetBarPosition(100);
    QCOMPARE(split.Inset(), 2);
    QCOMPARE(split.Pane1()->geometry(), QRect(2, 2, 100, 396));
    QCOMPARE(split.Pane2()->geometry(), QRect(110, 2, 188, 396));
  }

  void BarPositionStaysWithinTheRoom() {
    TSplitPanes split;
    split.resize(300, 400);
    MakeMainWindowSplitter(&split);
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));
    QCOMPARE(split.Room(), 392);
    split.SetBarPosition(-5);
    QCOMPARE(split.BarPosition(), 0);
    split.SetBarPosition(1000);
    QCOMPARE(split.BarPosition(), 392);
    QCOMPARE(split.Percent(), 100);
    split.SetPercent(50);
    QCOMPARE(split.BarPosition(), 196);
    QCOMPARE(split.Percent(), 50);
    split.SetPercent(0);
    QCOMPARE(split.BarPosition(), 0);
  }

  void APositionSetBeforeShowingIsClampedWhenShown() {
    TSplitPanes split;
    MakeMainWindowSplitter(&split);
    split.SetBarPosition(5000);  // restored from the settings before the window has its size
    QCOMPARE(split.BarPosition(), 5000);
    split.resize(300, 400);
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));
    QCOMPARE(split.BarPosition(), 392);
  }

  void ResizingGivesTheExtraRoomToTheSecondPane() {
    TSplitPanes split;
    split.resize(300, 400);
    MakeMainWindowSplitter(&split);
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));
    QSignalSpy resized(&split, &TSplitPanes::Resized);
    split.resize(300, 600);
    QCOMPARE(split.BarPosition(), 200);
    QCOMPARE(split.Pane1()->height(), 200);
    QCOMPARE(split.Pane2()->height(), 392);
    QVERIFY(resized.count() >= 1);
    // Squeezed below the bar, the second pane shrinks to nothing and the position survives
    // for when the window grows again.
    split.resize(300, 150);
    QCOMPARE(split.Pane2()->height(), 0);
    QCOMPARE(split.BarPosition(), 200);
    split.resize(300, 400);
    QCOMPARE(split.Pane1()->height(), 200);
  }

  void DraggingMovesTheBarOnRelease() {
    TSplitPanes split;
    split.resize(300, 400);
    MakeMainWindowSplitter(&split);
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));

    // Grab the bar 3 pixels inside it; without AutoUpdate only the band follows the pointer.
    QTest::mousePress(&split, Qt::LeftButton, {}, QPoint(50, 203));
    QVERIFY(split.IsDragging());
    QTest::mouseMove(&split, QPoint(50, 253));
    QCOMPARE(split.BandPosition(), 250);
    QCOMPARE(split.BarPosition(), 200);
    QTest::mouseRelease(&split, Qt::LeftButton, {}, QPoint(50, 253));
    QVERIFY(!split.IsDragging());
    QCOMPARE(split.BarPosition(), 250);

    // Past either end it stops at the edge.
    Drag(&split, QPoint(50, 253), QPoint(50, -100));
    QCOMPARE(split.BarPosition(), 0);
    Drag(&split, QPoint(50, 3), QPoint(50, 900));
    QCOMPARE(split.BarPosition(), split.Room());

    // A press beside the bar starts nothing; a locked bar cannot be dragged.
    QTest::mousePress(&split, Qt::LeftButton, {}, QPoint(50, 100));
    QVERIFY(!split.IsDragging());
    QTest::mouseRelease(&split, Qt::LeftButton, {}, QPoint(50, 100));
  }

  void AutoUpdateAndLocked() {
    TSplitPanes split;
    split.resize(300, 400);
    MakeMainWindowSplitter(&split);
    split.SetAutoUpdate(true);
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));
    QTest::mousePress(&split, Qt::LeftButton, {}, QPoint(50, 200));
    QTest::mouseMove(&split, QPoint(50, 120));
    QCOMPARE(split.BarPosition(), 120);  // live
    QCOMPARE(split.Pane1()->height(), 120);
    QTest::mouseRelease(&split, Qt::LeftButton, {}, QPoint(50, 120));

    split.SetLocked(true);
    Drag(&split, QPoint(50, 122), QPoint(50, 300));
    QCOMPARE(split.BarPosition(), 120);
  }

  void SyncScrollMovesTheOtherPane() {
    TSplitPanes split;
    split.resize(300, 400);
    split.SetBarPosition(150);
    for (TSplitScrollPane* pane : {split.Pane1(), split.Pane2()}) {
      auto* tall = new QLabel(QStringLiteral("tall"));
      tall->setMinimumSize(100, 2000);
      pane->AddControl(tall);
    }
    split.show();
    QVERIFY(QTest::qWaitForWindowExposed(&split));
    split.Pane1()->verticalScrollBar()->setValue(300);
    QCOMPARE(split.Pane2()->verticalScrollBar()->value(), 0);
    split.SetSyncScroll(true);
    split.Pane1()->verticalScrollBar()->setValue(400);
    QCOMPARE(split.Pane2()->verticalScrollBar()->value(), 400);
    split.Pane2()->verticalScrollBar()->setValue(100);
    QCOMPARE(split.Pane1()->verticalScrollBar()->value(), 100);
  }
};

QTEST_MAIN(SplitPanesTest)
#include "tst_SplitPanes.moc"
