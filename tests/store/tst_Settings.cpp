// The two settings files as the program reads them: every key with its default, the value forms
// a user may have typed, and saving without losing the rest of the file. Also the data directory
// and the message and text helpers the rest of the program shares.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "RecordingMessages.h"
#include "platform/BlankText.h"
#include "platform/UserMessages.h"
#include "store/MainPreferences.h"
#include "store/ReportPreferences.h"
#include "store/StoreHelpers.h"

namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  QCOMPARE(file.write(bytes), bytes.size());
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    StoreHelpers::SetDataDirectory(dir_->path());
  }
  void cleanup() { StoreHelpers::SetDataDirectory(QString()); }

  void DataDirectoryIsTheProgramFolder() {
    StoreHelpers::SetDataDirectory(QString());
    QCOMPARE(StoreHelpers::DataDirectory(), QCoreApplication::applicationDirPath() + "/");
    StoreHelpers::SetDataDirectory("/some/where");
    QCOMPARE(StoreHelpers::DataDirectory(), QString("/some/where/"));
    QCOMPARE(StoreHelpers::SettingsFileName(), QString("/some/where/TASQ.INI"));
    QCOMPARE(StoreHelpers::ReportSettingsFileName(), QString("/some/where/LWISE.INI"));
  }

  void FirstStartGivesTheDefaults() {
    const MainPreferences prefs = MainPreferences::Load();
    QCOMPARE(prefs.splitterBar, 200);
    QCOMPARE(prefs.order, 0);
    QCOMPARE(prefs.showDone, false);
    QCOMPARE(prefs.reindexNeeded, true);

    const ReportPreferences report = ReportPreferences::Load();
    const QString dir = dir_->path() + "/";
    QCOMPARE(report.reportTitle, QString("Listwise"));
    QCOMPARE(report.htmlTitle, QString("Listwise"));
    QCOMPARE(report.rtfTitle, QString("Listwise"));
    QCOMPARE(report.textTitle, QString("Listwise"));
    QCOMPARE(report.htmlFilespec, dir + "Tasq.htm");
    QCOMPARE(report.rtfFilespec, dir + "Tasq.rtf");
    QCOMPARE(report.textFilespec, dir + "Tasq.txt");
    // Reading writes nothing.
    QVERIFY(!QFile::exists(StoreHelpers::SettingsFileName()));
    QVERIFY(!QFile::exists(StoreHelpers::ReportSettingsFileName()));
  }

  // clang-format off
  void PreferenceValuesAsTyped_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("splitter");
    QTest::addColumn<int>("order");
    QTest::addColumn<bool>("showDone");
    QTest::addColumn<bool>("reindex");
    QTest::newRow("hex splitter") << QByteArray("[Preferences]\nSplitterBar=0x10\n") << 16 << 0
                                  << false << true;
    QTest::newRow("bad splitter") << QByteArray("[Preferences]\nSplitterBar=abc\n") << 200 << 0
                                  << false << true;
    QTest::newRow("all set") << QByteArray(
                                    "[preferences]\nsplitterbar=310\nORDER=5\nShowDone=1\n"
                                    "[REINDEX]\nneeded=0\n")
                             << 310 << 5 << true << false;
    QTest::newRow("any non-zero is true") << QByteArray("[Preferences]\nShowDone=7\n") << 200
                                          << 0 << true << true;
    QTest::newRow("bad logical keeps default") << QByteArray("[Reindex]\nNeeded=no\n") << 200
                                               << 0 << false << true;
    QTest::newRow("keys in the wrong section") << QByteArray("[Reindex]\nSplitterBar=5\n")
                                               << 200 << 0 << false << true;
  }
  // clang-format on
  void PreferenceValuesAsTyped() {
    QFETCH(QByteArray, file);
    WriteAll(StoreHelpers::SettingsFileName(), file);
    const MainPreferences prefs = MainPreferences::Load();
    QTEST(prefs.splitterBar, "splitter");
    QTEST(prefs.order, "order");
    QTEST(prefs.showDone, "showDone");
    QTEST(prefs.reindexNeeded, "reindex");
  }

  void PreferencesSaveKeepsPlacements() {
    const QString path = StoreHelpers::SettingsFileName();
    WriteAll(path, "[TMainScreen_Placement]\nLeft=1\nTop=2\nRight=300\nBottom=400\nMaximized=0\n");
    MainPreferences prefs;
    prefs.splitterBar = 250;
    prefs.order = 2;
    prefs.showDone = true;
    prefs.reindexNeeded = false;
    QVERIFY(prefs.Save());
    QCOMPARE(ReadAll(path), QByteArray("[TMainScreen_Placement]\nLeft=1\nTop=2\nRight=300\n"
                                       "Bottom=400\nMaximized=0\n\n"
                                       "[Preferences]\nSplitterBar=250\nOrder=2\nShowDone=1\n\n"
                                       "[Reindex]\nNeeded=0\n"));
    const MainPreferences back = MainPreferences::Load();
    QCOMPARE(back.splitterBar, 250);
    QCOMPARE(back.order, 2);
    QCOMPARE(back.showDone, true);
    QCOMPARE(back.reindexNeeded, false);

    QVERIFY(MainPreferences::SaveReindexNeeded(true));
    QCOMPARE(MainPreferences::Load().reindexNeeded, true);
    QCOMPARE(MainPreferences::Load().splitterBar, 250);
  }

  void EmptyReportKeyIsNotTheDefault() {
    WriteAll(StoreHelpers::ReportSettingsFileName(),
             "[Report]\nHTMLFilespec=\nReportTitle=\nRTFFilespec=/tmp/out.rtf\n");
    const ReportPreferences report = ReportPreferences::Load();
    QCOMPARE(report.htmlFilespec, QString(""));
    QCOMPARE(report.reportTitle, QString(""));
    QCOMPARE(report.rtfFilespec, QString("/tmp/out.rtf"));
    QCOMPARE(report.textFilespec, dir_->path() + "/Tasq.txt");
    QCOMPARE(report.htmlTitle, QString("Listwise"));
  }

  void ReportSaveRoundTrip() {
    const QString path = StoreHelpers::ReportSettingsFileName();
    WriteAll(path, "; kept\n[Other]\nX=1\n");
    ReportPreferences report = ReportPreferences::Defaults();
    report.reportTitle = "Work";
    report.htmlTitle = QString::fromUtf8(
        "T\xc3\xa2"
        "ches");
    report.textFilespec = "/home/me/list with blanks.txt";
    report.rtfFilespec = "";
    QVERIFY(report.Save());
    const ReportPreferences back = ReportPreferences::Load();
    QCOMPARE(back.reportTitle, report.reportTitle);
    QCOMPARE(back.htmlTitle, report.htmlTitle);
    QCOMPARE(back.textFilespec, report.textFilespec);
    QCOMPARE(back.rtfFilespec, QString(""));
    QVERIFY(ReadAll(path).startsWith("; kept\n[Other]\nX=1\n\n[Report]\nReportTitle=Work\n"));
  }

  void UnwritableSettingsAreReported() {
    RecordingMessages messages;
    const QString path = StoreHelpers::ReportSettingsFileName();
    WriteAll(path, "[Report]\nReportTitle=Old\n");
    QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
    ReportPreferences report = ReportPreferences::Load();
    report.reportTitle = "New";
    QVERIFY(!report.Save());
    QCOMPARE(messages.shown, QStringList{"Unable to write to " + path});
    QCOMPARE(ReportPreferences::Load().reportTitle, QString("Old"));

    StoreHelpers::SetDataDirectory(dir_->filePath("missing"));
    messages.shown.clear();
    QVERIFY(!MainPreferences().Save());
    QCOMPARE(messages.shown,
             QStringList{"Unable to write to " + dir_->filePath("missing/TASQ.INI")});
  }

  void MessageHelpers() {
    RecordingMessages messages;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    UserMessages::ShowInformation("Done!");
    QVERIFY(QGuiApplication::overrideCursor() == nullptr);
    messages.answer = true;
    QVERIFY(UserMessages::AskYesNo("Rebuild Index Files?"));
    messages.answer = false;
    QVERIFY(!UserMessages::AskYesNo("Clone this task?"));
    QCOMPARE(messages.captions, (QStringList{"Information", "Listwise", "Listwise"}));
    QCOMPARE(messages.shown, (QStringList{"Done!", "Rebuild Index Files?", "Clone this task?"}));
  }

  // clang-format off
  void TrimmingTakesBlanksOnly_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("leading");
    QTest::addColumn<QString>("trailing");
    QTest::addColumn<QString>("both");
    QTest::newRow("blanks") << "  a b  " << "a b  " << "  a b" << "a b";
    QTest::newRow("tabs stay") << "\t a \t" << "\t a \t" << "\t a \t" << "\t a \t";
    QTest::newRow("all blank") << "    " << "" << "" << "";
    QTest::newRow("empty") << "" << "" << "" << "";
    QTest::newRow("none") << "abc" << "abc" << "abc" << "abc";
  }
  // clang-format on
  void TrimmingTakesBlanksOnly() {
    QFETCH(QString, text);
    QTEST(BlankText::TrimLeading(text), "leading");
    QTEST(BlankText::TrimTrailing(text), "trailing");
    QTEST(BlankText::TrimBoth(text), "both");
  }

  // clang-format off
  void SplitText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("pieces") << "home,work,car" << QStringList{"home", "work", "car"};
    QTest::newRow("empty last piece") << "home," << QStringList{"home", ""};
    QTest::newRow("empty middle") << "a,,b" << QStringList{"a", "", "b"};
    QTest::newRow("no separator") << "home" << QStringList{"home"};
    QTest::newRow("empty text") << "" << QStringList{""};
    QTest::newRow("longer than 255") << QString(300, 'x') + ",y"
                                     << QStringList{QString(300, 'x'), "y"};
  }
  // clang-format on
  void SplitText() {
    QFETCH(QString, text);
    QFETCH(QStringList, pieces);
    QStringList list{"kept"};
    BlankText::Split(text, ',', &list);
    QCOMPARE(list, QStringList{"kept"} + pieces);
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

QTEST_MAIN(SettingsTest)
#include "tst_Settings.moc"
