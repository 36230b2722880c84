// The iCalendar commands from the main window's File menu: the file dialog answered, the
// grid showing the imported tasks, the exported file holding the tasks the grid shows.

#include <QAction>
#include <QFileDialog>
#include <QMenuBar>
#include <QTemporaryDir>

#include "MainScreenFixture.h"
#include "db/DateTimeValue.h"
#include "platform/UserMessages.h"
#include "store/StoreHelpers.h"
#include "sync/ICalFile.h"

class ICalWindowTest : public QObject {
  Q_OBJECT
  RecordedMessages messages_;
  std::unique_ptr<QTemporaryDir> dir_;

  QAction* Item(TMainScreen& w, const char* name) { return w.menuBar()->findChild<QAction*>(QLatin1String(name)); }

  // Answers the next file dialog with `path`.
  void AnswerFileDialog(const QString& path) {
    WhenModal<QFileDialog>([path](QFileDialog& dialog) {
      dialog.selectFile(path);
      QMetaObject::invokeMethod(&dialog, "accept");
    });
  }

  QStringList Descriptions(TMainScreen& w) {
    QStringList list;
    for (int r = 0; r < Grid(w)->rowCount(); ++r) list << GridCell(w, r, 3);
    return list;
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    StoreHelpers::SetDataDirectory(dir_->path());
    messages_.shown.clear();
    UserMessages::Install(&messages_);
    FixtureToday() = DateTimeValue::EncodeDate(2024, 2, 29);
  }
  void cleanup() {
    UserMessages::Install(nullptr);
    StoreHelpers::SetDataDirectory(QString());
    FixtureToday() = 0;
  }

  void exportThenImportThroughTheMenu() {
    auto w = OpenMainScreen({{"20240301", "10:00", "visible task", false, "work", "A", "its note"},
                             {"20240302", "", "done task", true, "", "B", ""}},
                            dir_->path());
    QVERIFY(w);
    QAction* exportItem = Item(*w, "ExporttoiCalendar1");
    QAction* importItem = Item(*w, "ImportfromiCalendar1");
    QVERIFY(exportItem && importItem);
    QCOMPARE(exportItem->text(), QStringLiteral("&Export to iCalendar..."));
    QCOMPARE(importItem->text(), QStringLiteral("&Import from iCalendar..."));

    // Done tasks are hidden: the export holds what the grid shows.
    QCOMPARE(Descriptions(*w), QStringList({"visible task"}));
    const QString path = dir_->filePath(QStringLiteral("out.ics"));
    AnswerFileDialog(path);
    exportItem->trigger();
    QCOMPARE(messages_.shown.last(), QStringLiteral("1 task was exported."));
    const ICalFileContents written = ICalFile::Read(path);
    QCOMPARE(written.tasks.size(), size_t(1));
    QCOMPARE(written.tasks[0].task.note, QStringLiteral("its note"));

    // A file of another program: its tasks appear in the grid, its key words in the list.
    const QString other = dir_->filePath(QStringLiteral("other.ics"));
    QFile f(other);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
            "BEGIN:VTODO\r\nUID:x1\r\nSUMMARY:from the phone\r\nDUE;VALUE=DATE:20240305\r\nCATEGORIES:phone\r\nEND:VTODO\r\n"
            "BEGIN:VTODO\r\nUID:x2\r\nSUMMARY:visible task\r\nDUE:20240301T100000\r\nPRIORITY:1\r\n"
            "CATEGORIES:work\r\nDESCRIPTION:its note\r\nEND:VTODO\r\n"
            "END:VCALENDAR\r\n");
    f.close();
    AnswerFileDialog(other);
    importItem->trigger();
    QCOMPARE(messages_.shown.last(), QStringLiteral("1 task was added.\n1 task was skipped:\n"
                                                    "\"visible task\": The task list holds it already."));
    QCOMPARE(Descriptions(*w), QStringList({"visible task", "from the phone"}));
    QVERIFY(w->KeyWords().contains(QStringLiteral("phone")));
    QCOMPARE(w->Store().TasqTable.Tag(), 0);  // no longer busy

    // Cancelled dialogs do nothing and say nothing.
    const qsizetype shown = messages_.shown.size();
    WhenModal<QFileDialog>([](QFileDialog& dialog) { dialog.reject(); });
    importItem->trigger();
    QCOMPARE(messages_.shown.size(), shown);
    QCOMPARE(Grid(*w)->rowCount(), 2);
  }
};

QTEST_MAIN(ICalWindowTest)
#include "tst_ICalWindow.moc"
