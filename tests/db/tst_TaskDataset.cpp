// Table datasets, the cursor layer under them and the table engine component, on a real
// task table made by the engine.

#include <QAbstractItemModelTester>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include "TaskTableFixture.h"
#include "db/CursorLayer.h"
#include "db/DataSetModel.h"
#include "xbengine.h"

class TaskDatasetTest : public QObject {
  Q_OBJECT
 private:
  RecordedMessages messages_;

 private slots:
  void init() { messages_.Install(); }
  void cleanup() { RecordedMessages::Uninstall(); }

  void appendEditCancelDeleteAndNotes() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.Open();
    QVERIFY(f.table.IsEmpty());
    QVERIFY(f.table.Eof() && f.table.Bof());
    f.Add("20261208", "09:00", "Write report", false, "WORK", "A", "first line\r\nsecond");
    f.Add("        ", "     ", "No date yet");
    f.Add("20261207", "", "Call Anna", true, "HOME");
    QCOMPARE(f.Walk(), QStringList({"No date yet", "Call Anna", "Write report"}));

    // Blank fields read blank, text fields lose their padding, memos come back whole.
    f.table.First();
    QVERIFY(f.table.FieldByName("DATE")->IsNull());
    QCOMPARE(f.table.FieldByName("DATE")->AsString(), QString());
    f.table.Last();
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("Write report"));
    QCOMPARE(f.table.FieldByName("NOTE")->Lines(), QStringList({"first line", "second"}));
    QVERIFY(!f.table.FieldByName("DONE")->AsBoolean());

    // Cancel throws the change away; Post keeps it and the record moves in the order.
    f.table.Edit();
    f.table.FieldByName("DESCRIPT")->SetAsString("Changed");
    f.table.Cancel();
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("Write report"));
    f.table.Edit();
    f.table.FieldByName("DATE")->SetAsString("20260101");
    f.table.Post();
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("Write report"));
    QCOMPARE(f.Walk(), QStringList({"No date yet", "Write report", "Call Anna"}));

    // A marked record leaves every tag order at once; the next one becomes current.
    f.table.First();
    f.table.Next();
    f.table.Delete();
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("Call Anna"));
    QCOMPARE(f.Walk(), QStringList({"No date yet", "Call Anna"}));
    f.table.Close();

    // Everything survives a reopen, and other tools see the same files.
    f.table.Open();
    QCOMPARE(f.Walk(), QStringList({"No date yet", "Call Anna"}));
    QCOMPARE(f.engine.RecordCount(), 3L);
  }

  void failedPostIsReportedAndKeepsTheEdit() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.Open();
    f.table.Append();
    // The task files hold Windows-1252 text; a character outside it must not vanish.
    bool refused = false;
    try {
      f.table.FieldByName("DESCRIPT")->SetAsString(QString::fromUtf8("Buy \u4e2d tea"));
    } catch (const EDatabaseError& e) {
      refused = true;
      QVERIFY(!e.Message().isEmpty());
    }
    QVERIFY(refused);
    QCOMPARE(f.table.State(), TableDataSet::dsInsert);
    f.table.FieldByName("DESCRIPT")->SetAsString(QString::fromUtf8("Caf\u00e9 \u20ac5"));
    f.table.Post();
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString::fromUtf8("Caf\u00e9 \u20ac5"));

    // A post refused by the engine (the table is read-only for this dataset) raises.
    f.table.Close();
    f.table.SetReadOnly(true);
    f.table.Open();
    bool raised = false;
    try {
      f.table.Edit();
    } catch (const EDatabaseError&) {
      raised = true;
    }
    QVERIFY(raised);
  }

  void calculatedFieldsAndBusyMarker() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.AddCalcField("CalcDate", FieldKind::String, 20);
    int calls = 0;
    f.table.OnCalcFields = [&](TableDataSet& t) {
      ++calls;
      if (t.Tag() == -1) return;  // busy: the program skips its display texts
      const QString d = t.FieldByName("DATE")->AsString();
      t.FieldByName("CalcDate")->SetAsString(d.isEmpty() ? QString() : d.mid(4, 2) + "/" + d.mid(6, 2));
    };
    f.table.Open();
    f.Add("20261224", "", "Presents");
    QCOMPARE(f.table.FieldByName("CalcDate")->AsString(), QString("12/24"));
    QVERIFY(calls > 0);
    bool refused = false;
    try {
      f.table.FieldByName("CalcDate")->SetAsString("x");
    } catch (const EDatabaseError&) {
      refused = true;
    }
    QVERIFY(refused);
    f.table.SetTag(-1);
    f.table.First();
    QVERIFY(f.table.FieldByName("CalcDate")->IsNull());
  }

  void bookmarksOrdersAndFindKey() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.Open();
    f.Add("20261210", "", "beta", false, "", "C");
    f.Add("20261201", "", "Alpha", false, "", "A");
    f.Add("20261220", "", "gamma", false, "", "");
    QCOMPARE(f.table.IndexDefs(), QStringList({"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"}));

    f.table.SetIndexName("DESCRIPT");
    QCOMPARE(f.Walk(), QStringList({"Alpha", "beta", "gamma"}));
    QCOMPARE(f.engine.SelectOrder(5), 2);
    QCOMPARE(f.Walk(), QStringList({"gamma", "Alpha", "beta"}));  // blank priority first
    QCOMPARE(f.engine.SelectOrder(9), 5);                          // no such order: unchanged
    QCOMPARE(f.engine.CurrentOrder(), 5);
    f.engine.SelectOrder(0);
    QCOMPARE(f.Walk(), QStringList({"beta", "Alpha", "gamma"}));
    QCOMPARE(f.engine.TagOrder("KEYS"), 4);
    QCOMPARE(f.engine.TagNameAt(1), QString("DATETIME"));

    // Bookmarks come back to the same record whatever the order.
    f.engine.SelectOrder(1);
    f.table.First();
    f.table.Next();
    const quint32 mark = f.table.GetBookmark();
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("beta"));
    f.table.Last();
    f.table.GotoBookmark(mark);
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("beta"));
    QCOMPARE(f.engine.DatasetRecordNumber(), long(mark));

    // FindKey: found stands on the key; a shorter key finds the first that begins with it.
    QVERIFY(f.engine.FindKey("20261220"));
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("gamma"));
    QVERIFY(!f.engine.FindKey("20270101"));
    QVERIFY(f.table.Eof());
    // Soft seek lands on the next task of that date or later, reported as found.
    xb_SetSoftSeek(1);
    QVERIFY(f.engine.FindKey("20261205"));
    xb_SetSoftSeek(0);
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), QString("beta"));
  }

  void queriesAndEvaluation() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.Open();
    f.Add("20261201", "", "one", false, "HOME");
    f.Add("20261202", "", "two", true, "WORK");
    f.Add("20261203", "", "three", false, "work");
    QCOMPARE(f.engine.ApplyQuery(".not.DONE"), 1);
    QCOMPARE(f.engine.CurrentQuery().toUpper(), QString(".NOT.DONE"));
    QCOMPARE(f.Walk(), QStringList({"one", "three"}));
    QCOMPARE(f.engine.QueryCount(), 2L);

    // A record that stops passing leaves the view.
    DataSetModel model(&f.source);
    model.SetColumns({{"DESCRIPT", "Description"}});
    QCOMPARE(model.rowCount(), 2);
    f.table.First();
    f.table.Edit();
    f.table.FieldByName("DONE")->SetAsBoolean(true);
    f.table.Post();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(f.Walk(), QStringList({"three"}));

    // A refused expression leaves the query in force.
    QCOMPARE(f.engine.ApplyQuery("DONE .and."), 0);
    QCOMPARE(f.engine.QueryCount(), 1L);

    // Long filters reach the engine whole.
    QString longFilter = "(.not.DONE)";
    for (int i = 0; i < 40; ++i) longFilter += QStringLiteral(".and.!(\"ZZ%1\"$UPPER(KEYS))").arg(i, 3, 10, QLatin1Char('0'));
    QVERIFY(longFilter.size() > 255);
    QCOMPARE(f.engine.ApplyQuery(longFilter), 1);
    QCOMPARE(f.engine.CurrentQuery().size(), longFilter.size());
    QCOMPARE(f.engine.QueryCount(), 1L);
    f.engine.ApplyQuery("");

    // Evaluation on the dataset's record; the engine is not moved when it stands there.
    f.table.First();
    QVERIFY(f.engine.EvaluateCondition("DESCRIPT = \"one\""));
    const int area = f.table.CursorHandle();
    const int previous = xb_Select(area);
    xb_Go(3);
    xb_Select(previous);
    f.table.GotoBookmark(3);
    QVERIFY(f.engine.EvaluateCondition("\"WORK\"$UPPER(KEYS)"));
    xb_Select(area);
    QCOMPARE(xb_RecNo(), 3L);
    xb_Select(previous);
    // A dataset without a current record counts as one past the last.
    f.engine.ApplyQuery("DESCRIPT = \"nothing\"");
    QVERIFY(f.table.IsEmpty());
    QCOMPARE(f.engine.DatasetRecordNumber(), 4L);
  }

  void filterOnClosedDatasetIsAppliedAtOpen() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    QCOMPARE(f.engine.ApplyQuery("DONE"), 0);
    QCOMPARE(f.engine.Filter(), QString("DONE"));
    f.table.Open();
    f.Add("20261201", "", "open", false);
    f.Add("20261202", "", "finished", true);
    QCOMPARE(f.Walk(), QStringList({"finished"}));
  }

  void packRemovesMarkedRecords() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.SetExclusive(true);
    f.table.Open();
    for (int i = 0; i < 10; ++i) f.Add(QStringLiteral("202612%1").arg(i + 10), "", QStringLiteral("task %1").arg(i));
    f.table.First();
    f.table.Delete();
    f.table.Delete();
    QVERIFY(f.engine.RemoveDeleted() != 0);
    QCOMPARE(f.engine.RecordCount(), 8L);
    QCOMPARE(f.Walk().first(), QString("task 2"));
    QVERIFY(f.engine.EmptyTable() != 0);
    QCOMPARE(f.engine.RecordCount(), 0L);
    QVERIFY(f.table.IsEmpty());
  }

  void modelFollowsTheDataset() {
    TaskTableFixture f;
    QVERIFY(f.Create());
    f.table.Open();
    for (int i = 0; i < 700; ++i)
      f.Add(QStringLiteral("2026%1").arg(1000 + (i * 37) % 700, 4, 10, QLatin1Char('0')), "", QStringLiteral("t%1").arg(i));
    DataSetModel model(&f.source);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    model.SetColumns({{"DATE", "Date"}, {"DESCRIPT", "Description"}, {"DONE", "Done"}});
    QCOMPARE(model.rowCount(), 700);
    // Rows far from any known place, read in an awkward order, match a walk of the order.
    QStringList walked = f.Walk();
    for (int row : {699, 0, 350, 255, 256, 511, 512, 698, 1})
      QCOMPARE(model.data(model.index(row, 1)).toString(), walked.at(row));
    QSignalSpy moved(&model, &DataSetModel::CurrentRowChanged);
    model.SetCurrentRow(400);
    QCOMPARE(f.table.FieldByName("DESCRIPT")->AsString(), walked.at(400));
    QCOMPARE(model.CurrentRow(), 400);
    f.table.Next();
    QTRY_VERIFY(!moved.isEmpty() && moved.last().at(0).toInt() == 401);
    f.table.Last();
    QTRY_VERIFY(moved.last().at(0).toInt() == 699);
    // In-place editing goes through the dataset.
    QVERIFY(model.setData(model.index(10, 1), "edited"));
    QCOMPARE(model.data(model.index(10, 1)).toString(), QString("edited"));
    QVERIFY(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
  }
};

QTEST_GUILESS_MAIN(TaskDatasetTest)
#include "tst_TaskDataset.moc"
