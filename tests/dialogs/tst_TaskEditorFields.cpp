// The task editor's value interface: a task's stored fields go in, are shown in the user's
// formats, and come back out in the stored forms; the formats in force are left as they were.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTest>

#include "db/DateTimeValue.h"
#include "db/RegionalFormats.h"
#include "db/RegionalSettings.h"
#include "dialogs/TTaskEditor.h"

namespace {

const double kNow = DateTimeValue::EncodeDate(2024, 3, 5) + DateTimeValue::EncodeTime(14, 37, 20);

TaskFields Sample() {
  TaskFields t;
  t.description = "Call the dentist";
  t.done = true;
  t.keyWords = "health phone";
  t.date = "20240307";
  t.time = "09:05";
  t.priority = "C";
  t.note = "first line\nsecond line";
  return t;
}

}  // namespace

class TaskEditorFieldsTest : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() {
    // Day first with dots and a 24-hour clock: nothing like the stored forms.
    RegionalSettings::SaveUserFormats(RegionalFormats{"dd.mm.yyyy", ".", ":", "AM", "PM"});
    RegionalSettings::SetShortTimeFormat("hh:nn");
  }
  void init() { RegionalSettings::UseFixedFormats(); }

  void fieldsAreShownInTheUsersFormats() {
    TTaskEditor editor({}, nullptr, [] { return kNow; });
    editor.SetFields(Sample());
    QCOMPARE(editor.TaskLabel->text(), QString("Editing Task"));
    QCOMPARE(editor.Task->text(), QString("Call the dentist"));
    QVERIFY(editor.IsDone->isChecked());
    QCOMPARE(editor.KeyWords->text(), QString("health phone"));
    QCOMPARE(editor.DateEdit->text(), QString("07.03.2024"));
    QCOMPARE(editor.TimeEdit->text(), QString("09:05"));
    QVERIFY(editor.pLow->isChecked());
    QCOMPARE(editor.Notes->toPlainText(), QString("first line\nsecond line"));
    // The fixed formats are still in force afterwards.
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, RegionalFormats::Fixed().ShortDateFormat);
  }

  void fieldsComeBackInTheStoredForms() {
    TTaskEditor editor({}, nullptr, [] { return kNow; });
    editor.SetFields(Sample());
    QCOMPARE(editor.Fields(), Sample());
    editor.DateEdit->setText("31.12.2025");
    editor.TimeEdit->setText("23:59");
    editor.pHigh->setChecked(true);
    const TaskFields out = editor.Fields();
    QCOMPARE(out.date, QString("20251231"));
    QCOMPARE(out.time, QString("23:59"));
    QCOMPARE(out.priority, QString("A"));
    QCOMPARE(RegionalSettings::InForce().ShortDateFormat, RegionalFormats::Fixed().ShortDateFormat);
  }

  void unreadableDatesAndTimesAreEmpty_data() {
    QTest::addColumn<QString>("storedDate");
    QTest::addColumn<QString>("storedTime");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("no such day") << "20240230" << "25:00";
    QTest::newRow("too short") << "2024030" << "";
    QTest::newRow("letters") << "tomorrow" << "noon";
  }
  void unreadableDatesAndTimesAreEmpty() {
    QFETCH(QString, storedDate);
    QFETCH(QString, storedTime);
    TaskFields in = Sample();
    in.date = storedDate;
    in.time = storedTime;
    TTaskEditor editor({}, nullptr, [] { return kNow; });
    editor.SetFields(in);
    QCOMPARE(editor.DateEdit->text(), QString());
    QCOMPARE(editor.TimeEdit->text(), QString());
    const TaskFields out = editor.Fields();
    QCOMPARE(out.date, QString());
    QCOMPARE(out.time, QString());
  }

  // A priority the file may hold but the editor has no button for leaves Medium chosen.
  void otherPriorityLeavesMedium() {
    TaskFields in = Sample();
    in.priority = "X";
    TTaskEditor editor({}, nullptr, [] { return kNow; });
    editor.SetFields(in);
    QVERIFY(editor.pMedium->isChecked());
    QCOMPARE(editor.Fields().priority, QString("B"));
  }

  void newTask() {
    TTaskEditor editor({}, nullptr, [] { return kNow; });
    editor.SetFields(Sample());
    editor.SetNewTask();
    QCOMPARE(editor.TaskLabel->text(), QString("Adding Task"));
    TaskFields expected;
    expected.description = "{Task description}";
    expected.priority = "C";  // the earlier choice stays; a fresh editor has Medium
    QCOMPARE(editor.Fields(), expected);
    TTaskEditor fresh({}, nullptr, [] { return kNow; });
    fresh.SetNewTask();
    QCOMPARE(fresh.Fields().priority, QString("B"));
  }
};

QTEST_MAIN(TaskEditorFieldsTest)
#include "tst_TaskEditorFields.moc"
