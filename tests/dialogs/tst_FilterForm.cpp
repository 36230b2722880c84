// The filter dialog: its three values in and out, Reset, Cancel and Esc, the key-word menu, and
// text the task file cannot hold.

#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include "../store/RecordingMessages.h"
#include "dialogs/TFilterForm.h"
#include "widgets/TFlatButton.h"

namespace {

QRadioButton* Item(QWidget* form, const char* group, int index) {
  return form->findChild<QRadioButton*>(QStringLiteral("%1Item%2").arg(group).arg(index));
}

void ClickButton(QWidget* form, const char* name) {
  auto* button = form->findChild<TFlatButton*>(name);
  QVERIFY2(button, name);
  button->click();
}

// Types `text` as key presses carrying the characters, also those no key of the test's
// keyboard has (QTest::keyClicks takes Latin-1 only).
void TypeText(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text.mid(i, length));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text.mid(i, length));
    QCoreApplication::sendEvent(widget, &release);
    i += length - 1;
  }
}

}  // namespace

class FilterFormTest : public QObject {
  Q_OBJECT

 private slots:
  void FormAsCreated() {
    TFilterForm form({});
    QCOMPARE(form.windowTitle(), QString("Task Filter"));
    QCOMPARE(form.size(), QSize(447, 255));
    QCOMPARE(form.findChild<QGroupBox*>("DateFilter")->title(), QString("&Date Filter"));
    QCOMPARE(form.findChild<QGroupBox*>("PriorityFilter")->title(), QString("Priority Filter"));
    QCOMPARE(form.findChild<QGroupBox*>("KeysBox")->title(),
             QString("&Keys Filter (contains any of the following keys)"));
    QCOMPARE(form.findChild<QLabel*>("Label3")->text(), QString("(separate keys with commas)"));
    const QStringList dates = {"All Dates",    "Today ",        "Tomorrow",    "Next 7 Days",
                               "Next 30 Days", "Next 365 Days", "Before Today"};
    for (int i = 0; i < dates.size(); ++i) {
      QVERIFY(Item(&form, "DateFilter", i));
      QCOMPARE(Item(&form, "DateFilter", i)->text(), dates[i]);
      QCOMPARE(Item(&form, "DateFilter", i)->x(), Item(&form, "DateFilter", 0)->x());
    }
    const QStringList priorities = {"All Priorities", "High Priority Only", "Medium Priority Only",
                                    "Low Priority Only"};
    for (int i = 0; i < priorities.size(); ++i)
      QCOMPARE(Item(&form, "PriorityFilter", i)->text(), priorities[i]);
    // Two columns, filled down the first one first.
    QCOMPARE(Item(&form, "PriorityFilter", 1)->x(), Item(&form, "PriorityFilter", 0)->x());
    QCOMPARE(Item(&form, "PriorityFilter", 2)->y(), Item(&form, "PriorityFilter", 0)->y());
    QVERIFY(Item(&form, "PriorityFilter", 2)->x() > Item(&form, "PriorityFilter", 0)->x());
    QCOMPARE(form.DateFilterIndex(), 0);
    QCOMPARE(form.PriorityFilterIndex(), 0);
    for (const char* name : {"OKButton", "CancelButton", "ResetButton", "Helpbutton",
                             "MouseHelpButton", "KeyListbutton"})
      QCOMPARE(form.findChild<TFlatButton*>(name)->focusPolicy(), Qt::NoFocus);
    QVERIFY(form.findChild<TFlatButton*>("OKButton")->Default());
    QVERIFY(form.findChild<TFlatButton*>("CancelButton")->Cancel());
    QCOMPARE(form.findChild<TFlatButton*>("ResetButton")->Caption(), QString("Reset"));
    QVERIFY(form.findChild<QMenu*>("WhatsThisMenu"));
  }

  // What the caller puts in comes back after OK exactly, the key words untouched.
  void SettingsInAndOut() {
    TFilterForm form({});
    form.SetDateFilterIndex(6);
    form.SetKeyFilterText(" Home, WORK ,x ");
    form.SetPriorityFilterIndex(3);
    QVERIFY(Item(&form, "DateFilter", 6)->isChecked());
    QVERIFY(Item(&form, "PriorityFilter", 3)->isChecked());
    form.SetDateFilterIndex(7);  // no such item: nothing changes
    form.SetPriorityFilterIndex(-1);
    QTimer::singleShot(0, &form, [&form] {
      Item(&form, "DateFilter", 3)->click();
      ClickButton(&form, "OKButton");
    });
    QCOMPARE(form.exec(), 1);
    QCOMPARE(form.ModalResult, 1);
    QCOMPARE(form.DateFilterIndex(), 3);
    QCOMPARE(form.KeyFilterText(), QString(" Home, WORK ,x "));
    QCOMPARE(form.PriorityFilterIndex(), 3);
  }

  void ResetClosesWithDefaults() {
    TFilterForm form({});
    form.SetDateFilterIndex(2);
    form.SetKeyFilterText("home");
    form.SetPriorityFilterIndex(1);
    QTimer::singleShot(0, &form, [&form] { ClickButton(&form, "ResetButton"); });
    QCOMPARE(form.exec(), 1);
    QCOMPARE(form.DateFilterIndex(), 0);
    QCOMPARE(form.KeyFilterText(), QString());
    QCOMPARE(form.PriorityFilterIndex(), 0);
  }

  void CancelAndEscape() {
    TFilterForm form({});
    QTimer::singleShot(0, &form, [&form] { ClickButton(&form, "CancelButton"); });
    QCOMPARE(form.exec(), 2);
    QCOMPARE(form.ModalResult, 2);

    TFilterForm escaped({});
    QTimer::singleShot(0, &escaped, [&escaped] {
      QTest::keyClick(escaped.findChild<QLineEdit*>("KeyWords"), Qt::Key_Escape);
    });
    QCOMPARE(escaped.exec(), 2);

    TFilterForm entered({});
    QTimer::singleShot(0, &entered, [&entered] {
      QTest::keyClick(entered.findChild<QLineEdit*>("KeyWords"), Qt::Key_Return);
    });
    QCOMPARE(entered.exec(), 1);
  }

  void KeyWordMenuJoinsWithCommas() {
    TFilterForm form({"Joe", "Betty"});
    const QList<QAction*> items = form.findChild<QMenu*>("KeyListMenu")->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[1]->text(), QString("Betty"));
    items[0]->trigger();
    items[1]->trigger();
    QCOMPARE(form.KeyFilterText(), QString("Joe,Betty"));

    TFilterForm empty({});
    QVERIFY(empty.findChild<QMenu*>("KeyListMenu")->actions().isEmpty());
  }

  void UnstorableKeyWordsRefused() {
    RecordingMessages messages;
    TFilterForm form({});
    form.show();
    auto* edit = form.findChild<QLineEdit*>("KeyWords");
    TypeText(edit, QString::fromUtf8("ma\u00f1ana,\u4e2d"));
    QCOMPARE(form.KeyFilterText(), QString::fromUtf8("ma\u00f1ana,"));
    QCOMPARE(messages.shown.size(), 1);
  }
};

QTEST_MAIN(FilterFormTest)
#include "tst_FilterForm.moc"
