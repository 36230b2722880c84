// The help window: one window, the topic of each help context, the fall-back to the main topic,
// and links between topics.

#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

#include "widgets/HelpWindow.h"

class HelpWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() {
    // Without the compiled-in topics every other check here would pass on the fall-back text.
    QVERIFY2(QFile::exists(HelpWindow::TopicPath(HelpWindow::kMainWindow)),
             "the help topics are not in the program's resources (widgets.qrc not built)");
  }

  void EachContextOpensItsTopic_data() {
    QTest::addColumn<int>("context");
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("mentions");
    QTest::newRow("main window") << 1009 << 1009 << "the main window"
                                 << "Show DONE";
    QTest::newRow("task editor") << 1004 << 1004 << "editing a task"
                                 << "Quick Date";
    QTest::newRow("filter") << 1018 << 1018 << "the filter"
                            << "Next 7 Days";
    QTest::newRow("set time") << 2986 << 2986 << "setting a time"
                              << "Set Time As";
    QTest::newRow("report") << 1007 << 1007 << "reports and export"
                            << "Printer Setup";
    QTest::newRow("preview") << 1017 << 1017 << "print preview"
                             << "100%";
    QTest::newRow("unknown") << 4242 << 1009 << "the main window"
                             << "Rebuild Indexes";
    QTest::newRow("none") << 0 << 1009 << "the main window"
                          << "What's this?";
  }

  void EachContextOpensItsTopic() {
    QFETCH(int, context);
    QFETCH(int, shown);
    QFETCH(QString, title);
    QFETCH(QString, mentions);
    HelpWindow* window = HelpWindow::ShowHelpContext(context);
    QVERIFY(window->isVisible());
    QCOMPARE(window->CurrentContext(), shown);
    QCOMPARE(window->documentTitle(), QStringLiteral("Listwise: ") + title);
    QVERIFY2(window->toPlainText().contains(mentions), qPrintable(mentions));
  }

  void OneWindowForTheApplication() {
    HelpWindow* first = HelpWindow::ShowHelpContext(1009);
    first->hide();
    HelpWindow* second = HelpWindow::ShowHelpContext(1018);
    QCOMPARE(second, first);
    QCOMPARE(HelpWindow::Instance(), first);
    QVERIFY(second->isVisible());
  }

  void LinksLeadToOtherTopics() {
    HelpWindow* window = HelpWindow::ShowHelpContext(1004);
    window->setSource(QUrl(QStringLiteral("topic2986.html")));
    QCOMPARE(window->CurrentContext(), 2986);
    QVERIFY(window->toPlainText().contains(QStringLiteral("Minute")));
    window->backward();
    QCOMPARE(window->CurrentContext(), 1004);
  }

  // The help window lies on the screen's free area whatever size it asks for, and does not keep
  // the program running once the main window is closed.
  void OpensWithinTheScreenAndNeverHoldsTheProgram() {
    HelpWindow* help = HelpWindow::ShowHelpContext(HelpWindow::kMainWindow);
    QVERIFY(help != nullptr);
    QVERIFY(!help->testAttribute(Qt::WA_QuitOnClose));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(area.contains(help->frameGeometry()), "help window reaches past the screen");
    help->close();
    help->resize(area.width() + 300, area.height() + 400);
    help->move(area.right() - 50, area.bottom() - 50);
    HelpWindow::ShowHelpContext(HelpWindow::kTaskEditor);
    QVERIFY2(area.contains(help->frameGeometry()), "reopened help window reaches past the screen");
    help->close();
  }
};

QTEST_MAIN(HelpWindowTest)
#include "tst_HelpWindow.moc"
