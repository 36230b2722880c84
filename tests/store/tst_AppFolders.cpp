// Where the program keeps its files: beside the executable when run from its build or an unpacked
// folder, the user's own folders when installed (also under a staging root), and the --data-dir
// folder for everything when one is given.

#include <QtTest>

#include "store/AppFolders.h"

class AppFoldersTest : public QObject {
  Q_OBJECT

 private slots:
  void IsInstalled_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("bin");
    QTest::addColumn<bool>("installed");
    QTest::newRow("the install folder") << "/usr/bin" << "/usr/bin" << true;
    QTest::newRow("written with a slash") << "/usr/bin/" << "/usr/bin" << true;
    QTest::newRow("a local prefix") << "/usr/local/bin" << "/usr/local/bin" << true;
    QTest::newRow("the package unpacked under a root") << "/tmp/root/usr/bin" << "/usr/bin" << true;
    QTest::newRow("the build folder") << "/home/me/listwise/build/release/src/app" << "/usr/local/bin"
                                      << false;
    QTest::newRow("another prefix") << "/usr/local/bin" << "/usr/bin" << false;
    QTest::newRow("a name ending like the folder") << "/tmp/myusr/bin" << "/usr/bin" << false;
    QTest::newRow("no install folder known") << "/usr/bin" << "" << false;
    QTest::newRow("the root as install folder") << "/opt/x" << "/" << false;
  }
  void IsInstalled() {
    QFETCH(QString, program);
    QFETCH(QString, bin);
    QFETCH(bool, installed);
    QCOMPARE(AppFolders::IsInstalled(program, bin), installed);
  }

  void Choose_data() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("documents");
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("config");
    QTest::addColumn<QString>("exports");
    QTest::newRow("run from the build") << "/src/lw/build" << "" << "/home/u/Documents"
                                        << "/src/lw/build/" << "/src/lw/build/" << "/src/lw/build/";
    QTest::newRow("installed") << "/usr/bin" << "" << "/home/u/Documents"
                               << "/home/u/.local/share/listwise/" << "/home/u/.config/listwise/"
                               << "/home/u/Documents/";
    QTest::newRow("installed, no documents folder")
        << "/usr/bin" << "" << "" << "/home/u/.local/share/listwise/" << "/home/u/.config/listwise/"
        << "/home/u/";
    QTest::newRow("installed, a folder given") << "/usr/bin" << "/mnt/sync/tasks/" << "/home/u/Documents"
                                               << "/mnt/sync/tasks/" << "/mnt/sync/tasks/"
                                               << "/mnt/sync/tasks/";
    QTest::newRow("from the build, a folder given") << "/src/lw/build" << "/data" << ""
                                                    << "/data/" << "/data/" << "/data/";
  }
  void Choose() {
    QFETCH(QString, program);
    QFETCH(QString, option);
    QFETCH(QString, documents);
    AppFolders::Facts facts;
    facts.programFolder = program;
    facts.installBinFolder = "/usr/bin";
    facts.dataDirOption = option;
    facts.userDataHome = "/home/u/.local/share";
    facts.userConfigHome = "/home/u/.config/";
    facts.documents = documents;
    facts.home = "/home/u";
    const AppFolders folders = AppFolders::Choose(facts);
    QTEST(folders.data, "data");
    QTEST(folders.config, "config");
    QTEST(folders.exports, "exports");
  }
};

QTEST_GUILESS_MAIN(AppFoldersTest)
#include "tst_AppFolders.moc"
