// The task list's rules without the window: the key-word list and its two-pass builder, which
// tasks each bulk delete takes, what Undo Delete brings back, the sort commands and the grid's
// emphasis of dates.

#include <QTest>

#include "app/DeleteSweep.h"
#include "app/KeyWordList.h"
#include "app/TaskDateRules.h"
#include "app/TaskSorts.h"
#include "db/DateTimeValue.h"

namespace {

const double kToday = DateTimeValue::EncodeDate(2024, 3, 5);

// The list a plain walk builds: every record of `order` in turn.
QStringList PlainWalk(const QList<QByteArray>& keys, const QList<quint32>& order) {
  KeyWordList list;
  for (quint32 recno : order) list.AddWordsOf(QString::fromLatin1(keys[int(recno) - 1]));
  return list.Words();
}

}  // namespace

class TaskListRulesTest : public QObject {
  Q_OBJECT
 private slots:
  void keyWordsAreBlankSeparatedAndKeptOnce_data() {
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QStringList>("words");
    QTest::newRow("blanks only separate") << QStringList{"home,work  garden"} << QStringList{"home,work", "garden"};
    QTest::newRow("case ignored, first spelling kept") << QStringList{"Home", "HOME home Work"}
                                                       << QStringList{"Home", "Work"};
    QTest::newRow("leading and trailing blanks") << QStringList{"   a  ", " b"} << QStringList{"a", "b"};
    QTest::newRow("nothing") << QStringList{"", "    "} << QStringList{};
    QTest::newRow("letters beyond ASCII") << QStringList{"Straße STRASSE", "ÉTÉ été"}
                                          << QStringList{"Straße", "STRASSE", "ÉTÉ"};
  }
  void keyWordsAreBlankSeparatedAndKeptOnce() {
    QFETCH(QStringList, texts);
    QFETCH(QStringList, words);
    KeyWordList list;
    for (const QString& t : texts) list.AddWordsOf(t);
    QCOMPARE(list.Words(), words);
  }

  void pickingAKeyWord_data() {
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("after");
    QTest::newRow("into empty") << "" << "home" << "home";
    QTest::newRow("appended after a blank") << "work" << "home" << "work home";
    QTest::newRow("repeated words stay") << "home" << "home" << "home home";
    QTest::newRow("clear entry") << "work home" << KeyWordList::kClearEntry << "";
    QTest::newRow("clear entry of nothing") << "" << KeyWordList::kClearEntry << "";
  }
  void pickingAKeyWord() {
    QFETCH(QString, keys);
    QFETCH(QString, picked);
    QFETCH(QString, after);
    QCOMPARE(KeyWordList::AfterPick(keys, picked), after);
  }

  // The two-pass builder gives exactly the list of a plain walk of the order, and stops the
  // walk once every word has been met.
  void collectorMatchesAPlainWalk_data() {
    QTest::addColumn<QList<QByteArray>>("keys");  // record 1, 2, ...
    QTest::addColumn<QList<quint32>>("order");    // the walk: record numbers
    QTest::newRow("file order") << QList<QByteArray>{"a b", "b c", "", "C d"} << QList<quint32>{1, 2, 3, 4};
    QTest::newRow("reverse order, case of the first met")
        << QList<QByteArray>{"a b", "b c", "", "C d"} << QList<quint32>{4, 3, 2, 1};
    QTest::newRow("same text many times") << QList<QByteArray>{"x", "x", "y x", "x"} << QList<quint32>{3, 1, 2, 4};
    QTest::newRow("filtered walk misses records")
        << QList<QByteArray>{"only-here", "seen", "seen too"} << QList<quint32>{2, 3};
    QTest::newRow("no words at all") << QList<QByteArray>{"", "  "} << QList<quint32>{1, 2};
  }
  void collectorMatchesAPlainWalk() {
    QFETCH(QList<QByteArray>, keys);
    QFETCH(QList<quint32>, order);
    KeyWordList list;
    list.AddWordsOf("stale");  // a rebuild starts empty
    KeyWordCollector collector(list);
    for (int i = 0; i < keys.size(); ++i) collector.Record(quint32(i + 1), keys[i]);
    int visited = 0;
    for (quint32 recno : order) {
      ++visited;
      if (!collector.Visit(recno)) break;
    }
    const QStringList expected = PlainWalk(keys, order);
    // Words only the walk cannot reach (a record the order leaves out) keep it going to the end.
    if (QTest::currentDataTag() == QByteArray("filtered walk misses records")) QCOMPARE(visited, order.size());
    if (QTest::currentDataTag() == QByteArray("same text many times")) QCOMPARE(visited, 1);  // record 3 holds every word
    QCOMPARE(list.Words(), expected);
  }

  void collectorDecodesWindows1252() {
    KeyWordList list;
    KeyWordCollector collector(list);
    collector.Record(1, QByteArray("caf\xe9 \x80", 6));
    collector.Visit(1);
    QCOMPARE(list.Words(), QStringList({QString::fromUtf8("café"), QString::fromUtf8("€")}));
  }

  void whatTheDateSweepsTake_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("date");
    QTest::addColumn<bool>("taken");
    const int done = int(DeleteSweep::Kind::MarkedDone), before = int(DeleteSweep::Kind::BeforeToday);
    QTest::newRow("done goes") << done << true << "20300101" << true;
    QTest::newRow("open stays") << done << false << "20000101" << false;
    QTest::newRow("yesterday goes") << before << false << "20240304" << true;
    QTest::newRow("yesterday, done, goes") << before << true << "20240304" << true;
    QTest::newRow("today stays") << before << false << "20240305" << false;
    QTest::newRow("tomorrow stays") << before << false << "20240306" << false;
    QTest::newRow("no date stays") << before << false << "" << false;
    QTest::newRow("no valid date stays") << before << false << "20241340" << false;
    QTest::newRow("short date stays") << before << false << "2024011" << false;
  }
  void whatTheDateSweepsTake() {
    QFETCH(int, kind);
    QFETCH(bool, done);
    QFETCH(QString, date);
    QFETCH(bool, taken);
    QCOMPARE(DeleteSweep(DeleteSweep::Kind(kind), kToday).Takes(done, date), taken);
  }

  void filterSweepsTakeLiveRecordsOnOneSide() {
    // Index = record number; record 0 is none. Records 2 and 5 are already deleted.
    const std::vector<bool> deleted = {false, false, true, false, false, true};
    const std::vector<bool> passes = {false, true, true, false, true};  // shorter: record 5 does not pass
    const DeleteSweep matching(DeleteSweep::Kind::Matching, kToday);
    const DeleteSweep notMatching(DeleteSweep::Kind::NotMatching, kToday);
    QVERIFY(matching.ByFilter() && notMatching.ByFilter());
    QCOMPARE(matching.ByFilterCandidates(deleted, passes), std::vector<quint32>({1, 4}));
    QCOMPARE(notMatching.ByFilterCandidates(deleted, passes), std::vector<quint32>({3}));
    QVERIFY(DeleteSweep(DeleteSweep::Kind::MarkedDone, kToday).ByFilterCandidates(deleted, passes).empty());
  }

  void sweepTexts() {
    const DeleteSweep done(DeleteSweep::Kind::MarkedDone, kToday);
    QCOMPARE(done.Question(1), QString("CONFIRM: Delete all tasks marked as done?\r\rThis will delete 1 task."));
    QCOMPARE(done.Question(0), QString("CONFIRM: Delete all tasks marked as done?\r\rThis will delete 0 tasks."));
    QCOMPARE(done.Outcome(0), QString("No tasks marked DONE have been deleted"));
    QCOMPARE(done.Outcome(3), QString("All tasks marked DONE have been deleted (3 records)"));
    QCOMPARE(DeleteSweep(DeleteSweep::Kind::Matching, kToday).Outcome(2),
             QString("All tasks matching filter have been deleted\r(2 records)\rFILTER WILL NOW BE CLEARED"));
  }

  void undoBringsBackTheLastDeleteThatRemovedAny() {
    DeleteHistory history;
    QVERIFY(!history.CanUndo());
    history.Remember({3, 7});
    history.Remember({});  // a bulk delete that found nothing
    QVERIFY(history.CanUndo());
    history.Remember({9});
    QCOMPARE(history.Take(), std::vector<quint32>({9}));
    QVERIFY(!history.CanUndo());
    QVERIFY(history.Take().empty());
    history.Remember({4});
    history.Forget();  // a pack renumbered the records
    QVERIFY(!history.CanUndo());
    QCOMPARE(DeleteHistory::RecalledSentence(1), QString("1 deleted task has been brought back."));
    QCOMPARE(DeleteHistory::RecalledSentence(2), QString("2 deleted tasks have been brought back."));
  }

  void sortCommandsStandForTags() {
    QCOMPARE(TaskSorts::IndexOf("DATETIME"), 0);
    QCOMPARE(TaskSorts::IndexOf("descript"), 1);
    QCOMPARE(TaskSorts::IndexOf("Priority"), 2);
    QCOMPARE(TaskSorts::IndexOf("KEYS"), 3);
    QCOMPARE(TaskSorts::IndexOf(""), -1);  // record order: nothing checked
    QCOMPARE(TaskSorts::IndexOf("NOTE"), -1);
  }

  void gridEmphasis_data() {
    using E = TaskDateRules::Emphasis;
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("priority");
    QTest::addColumn<QString>("date");
    QTest::addColumn<int>("emphasis");
    QTest::newRow("high priority bold") << 0 << false << "A" << "" << int(E::Bold);
    QTest::newRow("medium priority plain") << 0 << false << "B" << "20240305" << int(E::None);
    QTest::newRow("high priority, done") << 0 << true << "A" << "" << int(E::None);
    QTest::newRow("due today bold italic") << 1 << false << "C" << "20240305" << int(E::BoldItalic);
    QTest::newRow("due today, done") << 1 << true << "C" << "20240305" << int(E::None);
    QTest::newRow("due tomorrow plain") << 1 << false << "A" << "20240306" << int(E::None);
    QTest::newRow("other column") << 3 << false << "A" << "20240305" << int(E::None);
  }
  void gridEmphasis() {
    QFETCH(int, column);
    QFETCH(bool, done);
    QFETCH(QString, priority);
    QFETCH(QString, date);
    QFETCH(int, emphasis);
    QCOMPARE(int(TaskDateRules::CellEmphasis(column, done, priority, date, kToday)), emphasis);
  }
};

QTEST_MAIN(TaskListRulesTest)
#include "tst_TaskListRules.moc"
