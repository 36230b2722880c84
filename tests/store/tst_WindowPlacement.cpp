// Window placement: what is saved, how a saved rectangle comes back on a smaller screen or at
// another resolution, and where dialogs are centred.

#include <QDialog>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include "RecordingMessages.h"
#include "store/IniFile.h"
#include "store/StoreHelpers.h"
#include "store/WindowPlacement.h"

// Stand-ins named like the program's windows: the placement section and the centring rule go by
// the class name.
class TMainScreen : public QWidget {
  Q_OBJECT
};
class TPreviewForm : public QWidget {
  Q_OBJECT
};

namespace {

using Metrics = WindowPlacement::ScreenMetrics;

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray PlacementText(const char* section, int left, int top, int right, int bottom,
                         bool maximized) {
  return QString("[%1]\nLeft=%2\nTop=%3\nRight=%4\nBottom=%5\nMaximized=%6\n")
      .arg(section)
      .arg(left)
      .arg(top)
      .arg(right)
      .arg(bottom)
      .arg(maximized ? 1 : 0)
      .toUtf8();
}

QRect StoredRect(const QString& section) {
  IniFile file(StoreHelpers::SettingsFileName());
  const int left = file.ReadInteger(section, "Left", -1);
  const int top = file.ReadInteger(section, "Top", -1);
  return QRect(QPoint(left, top), QPoint(file.ReadInteger(section, "Right", -1) - 1,
                                         file.ReadInteger(section, "Bottom", -1) - 1));
}

}  // namespace

class WindowPlacementTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    StoreHelpers::SetDataDirectory(dir_->path());
    WindowPlacement::SetScreenOverride(Metrics{QRect(0, 0, 1024, 768), 96});
    WindowPlacement::SetMainWindow(nullptr);
  }
  void cleanup() {
    StoreHelpers::SetDataDirectory(QString());
    WindowPlacement::SetScreenOverride(std::nullopt);
    WindowPlacement::SetMainWindow(nullptr);
  }

  void SectionNameCarriesTheResolutionAbove96() {
    TMainScreen main;
    QCOMPARE(WindowPlacement::SectionName(&main), QString("TMainScreen_Placement"));
    WindowPlacement::SetScreenOverride(Metrics{QRect(0, 0, 1024, 768), 120});
    QCOMPARE(WindowPlacement::SectionName(&main), QString("TMainScreen_Placement120"));
    WindowPlacement::SetScreenOverride(Metrics{QRect(0, 0, 1024, 768), 72});
    QCOMPARE(WindowPlacement::SectionName(&main), QString("TMainScreen_Placement"));
  }

  void SaveWritesTheNormalRectangle() {
    TPreviewForm form;
    form.setGeometry(30, 40, 600, 400);
    QVERIFY(WindowPlacement::SavePlacement(&form));
    IniFile file(StoreHelpers::SettingsFileName());
    QCOMPARE(file.ReadInteger("TPreviewForm_Placement", "Left", 0), 30);
    QCOMPARE(file.ReadInteger("TPreviewForm_Placement", "Top", 0), 40);
    QCOMPARE(file.ReadInteger("TPreviewForm_Placement", "Right", 0), 630);  // exclusive
    QCOMPARE(file.ReadInteger("TPreviewForm_Placement", "Bottom", 0), 440);
    QCOMPARE(file.ReadString("TPreviewForm_Placement", "Maximized", ""), QString("0"));
  }

  void FirstStartCentresTheMainWindowAndSavesIt() {
    TMainScreen main;
    main.resize(400, 300);
    QVERIFY(WindowPlacement::RestorePlacement(&main));
    QCOMPARE(main.pos(), QPoint(312, 234));
    QCOMPARE(StoredRect("TMainScreen_Placement"), QRect(312, 234, 400, 300));
  }

  // clang-format off
  void SmallerScreenPushesTheWindowBack_data() {
    QTest::addColumn<QRect>("saved");
    QTest::addColumn<QRect>("restored");
    // Screen 1024 x 768.
    QTest::newRow("fits") << QRect(20, 30, 500, 400) << QRect(20, 30, 500, 400);
    QTest::newRow("over the right and bottom edges")
        << QRect(700, 600, 500, 400) << QRect(524, 368, 500, 400);
    QTest::newRow("larger than the screen is shrunk onto it")
        << QRect(100, 50, 1200, 800) << QRect(0, 0, 1024, 768);
    QTest::newRow("14000 pixels wide, every edge reachable")
        << QRect(-200, 10, 14000, 500) << QRect(0, 10, 1024, 500);
    QTest::newRow("taller than the screen, below its bottom")
        << QRect(30, 700, 400, 2000) << QRect(30, 0, 400, 768);
    QTest::newRow("beyond a screen to the left that is gone")
        << QRect(-1500, 100, 500, 400) << QRect(0, 100, 500, 400);
  }
  // clang-format on
  void SmallerScreenPushesTheWindowBack() {
    QFETCH(QRect, saved);
    QFETCH(QRect, restored);
    WriteAll(StoreHelpers::SettingsFileName(),
             PlacementText("TPreviewForm_Placement", saved.left(), saved.top(),
                           saved.left() + saved.width(), saved.top() + saved.height(), false));
    TPreviewForm form;
    QVERIFY(WindowPlacement::RestorePlacement(&form));
    QCOMPARE(form.geometry(), restored);
    QVERIFY(!form.isMaximized());
    QCOMPARE(StoredRect("TPreviewForm_Placement"), restored);
  }

  void BrokenRectangleCountsAsNone() {
    // Right left of Left: a zero or negative width would leave an invisible window.
    WriteAll(StoreHelpers::SettingsFileName(),
             PlacementText("TMainScreen_Placement", 500, 100, 400, 600, false));
    TMainScreen main;
    main.resize(200, 100);
    QVERIFY(WindowPlacement::RestorePlacement(&main));
    QCOMPARE(main.geometry(), QRect(412, 334, 200, 100));
  }

  void MaximisedWindowKeepsItsNormalRectangle() {
    WriteAll(StoreHelpers::SettingsFileName(),
             PlacementText("TMainScreen_Placement", 50, 60, 650, 560, true));
    TMainScreen main;
    QVERIFY(WindowPlacement::RestorePlacement(&main));
    QVERIFY(main.isMaximized());
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QVERIFY(WindowPlacement::SavePlacement(&main));
    IniFile file(StoreHelpers::SettingsFileName());
    QCOMPARE(file.ReadBool("TMainScreen_Placement", "Maximized", false), true);
    // Saving while maximised keeps the rectangle to return to, not the maximised one.
    QCOMPARE(StoredRect("TMainScreen_Placement"), QRect(50, 60, 600, 500));
    main.showNormal();
    QTRY_COMPARE(main.geometry(), QRect(50, 60, 600, 500));
  }

  void EachResolutionHasItsOwnSection() {
    WriteAll(StoreHelpers::SettingsFileName(),
             PlacementText("TMainScreen_Placement", 10, 20, 410, 320, false));
    WindowPlacement::SetScreenOverride(Metrics{QRect(0, 0, 1280, 1024), 120});
    TMainScreen main;
    main.resize(640, 480);
    QVERIFY(WindowPlacement::RestorePlacement(&main));
    QCOMPARE(main.pos(), QPoint(320, 272));  // nothing stored at 120: centred
    QCOMPARE(StoredRect("TMainScreen_Placement120"), QRect(320, 272, 640, 480));
    QCOMPARE(StoredRect("TMainScreen_Placement"), QRect(10, 20, 400, 300));
  }

  void UnwritableSettingsStillPlaceTheWindow() {
    RecordingMessages messages;
    StoreHelpers::SetDataDirectory(dir_->filePath("gone"));
    TMainScreen main;
    main.resize(400, 300);
    QVERIFY(!WindowPlacement::RestorePlacement(&main));
    QCOMPARE(main.pos(), QPoint(312, 234));
    QCOMPARE(messages.shown, QStringList{"Unable to write to " + dir_->filePath("gone/TASQ.INI")});
  }

  void DialogsCentreOverTheMainWindow() {
    TMainScreen main;
    main.setGeometry(100, 80, 800, 600);
    WindowPlacement::SetMainWindow(&main);
    QDialog dialog;
    dialog.resize(200, 101);
    WindowPlacement::PlaceDialog(&dialog);
    QCOMPARE(dialog.pos(), QPoint(100 + 300, 80 + 249));

    // Larger than the main window: the halves round toward zero, not down.
    dialog.resize(803, 603);
    WindowPlacement::PlaceDialog(&dialog);
    QCOMPARE(dialog.pos(), QPoint(100 - 1, 80 - 1));

    // The main window itself always centres on the screen.
    WindowPlacement::PlaceDialog(&main);
    QCOMPARE(main.pos(), QPoint(112, 84));
  }

  void DialogsCentreOnTheScreenWhileTheMainWindowIsMaximised() {
    TMainScreen main;
    main.setGeometry(0, 0, 300, 200);
    main.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    QDialog dialog;
    dialog.resize(200, 100);
    WindowPlacement::PlaceDialog(&dialog);  // found as the top-level TMainScreen
    QCOMPARE(dialog.pos(), QPoint(412, 334));
  }

  void DialogWithoutMainWindowCentresOverItsParent() {
    QWidget parent;
    parent.setGeometry(0, 0, 400, 400);
    QDialog dialog(&parent);
    dialog.resize(100, 100);
    WindowPlacement::PlaceDialog(&dialog);
    QCOMPARE(dialog.pos(), QPoint(150, 150));
  }

  void MaximiseButtonBringsTheSystemMenu() {
    QWidget window(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowMaximizeButtonHint);
    window.resize(100, 100);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    WindowPlacement::PlaceDialog(&window);
    QVERIFY(window.windowFlags().testFlag(Qt::WindowSystemMenuHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(window.isVisible());

    QWidget plain(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    WindowPlacement::PlaceDialog(&plain);
    QVERIFY(!plain.windowFlags().testFlag(Qt::WindowSystemMenuHint));
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(WindowPlacementTest)
#include "tst_WindowPlacement.moc"
