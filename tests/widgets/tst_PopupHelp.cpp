// "What's this?" help: the lookup with its parent fall-back and redirects, the popup's size,
// place and closing rules, the help mode and the settings each call puts in force.

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"
#include "widgets/TPopupHelpMask.h"
#include "widgets/TPopupHelpPopup.h"

namespace {

const QString kLongText = QStringLiteral(
    "Enter any Key Words here. A Key word is useful for later filtering of the tasks. \r\n\r\n"
    "For instance, if Joe and Betty use this program, Joe might use the Key Word  'Joe' and "
    "Betty the Key Word 'Betty' when entering tasks.");

// A form laid out like the program's dialogs, with its help texts.
struct Form {
  QWidget window;
  QLineEdit* task;
  QGroupBox* keys_box;
  QLineEdit* key_words;
  QWidget* priority_panel;
  QLabel* label1;
  QRadioButton* high;
  TFlatButton* ok;
  TPopupHelp* help;

  Form() {
    window.setObjectName(QStringLiteral("TaskEditor"));
    window.resize(400, 300);
    task = Make<QLineEdit>(&window, "Task", QRect(10, 10, 200, 22));
    keys_box = Make<QGroupBox>(&window, "KeysBox", QRect(10, 40, 250, 60));
    key_words = Make<QLineEdit>(keys_box, "KeyWords", QRect(10, 20, 200, 22));
    priority_panel = Make<QWidget>(&window, "PriorityPanel", QRect(10, 110, 250, 50));
    label1 = Make<QLabel>(priority_panel, "Label1", QRect(5, 5, 60, 20));
    label1->setText(QStringLiteral("Priority"));
    high = Make<QRadioButton>(priority_panel, "pHigh", QRect(80, 5, 60, 20));
    ok = Make<TFlatButton>(&window, "OKButton", QRect(300, 250, 60, 30));
    ok->SetCaption(QStringLiteral("Ok"));
    ok->SetDefault(true);
    help = new TPopupHelp(&window);
    help->HelpText().Add(QStringLiteral("Label1"), std::make_unique<TPopupHelpData>());
    help->HelpText().Add(QStringLiteral("PriorityPanel"), std::make_unique<TPopupHelpData>());
    help->AddHelp(QStringLiteral("Task"), QStringLiteral("Enter a description for the task here"));
    help->AddHelp(QStringLiteral("KeysBox"), QStringLiteral("->KeyWords"));
    help->AddHelp(QStringLiteral("KeyWords"), kLongText);
    help->AddHelp(QStringLiteral("OKButton"), QStringLiteral("Click here to save changes"));
    help->AddHelp(QStringLiteral("pHigh"), QStringLiteral("Check for high priority"));
  }

  template <typename W>
  W* Make(QWidget* parent, const char* name, const QRect& geometry) {
    auto* w = new W(parent);
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(geometry);
    return w;
  }

  bool Show() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }
};

TPopupHelpPopup* Popup() {
  return TPopupHelp::Popup();
}
bool PopupShown() {
  return Popup() && Popup()->isVisible();
}
void HidePopup() {
  if (Popup()) Popup()->hide();
}
QRect ScreenArea() {
  return QGuiApplication::primaryScreen()->geometry();
}
void DeleteLater() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

}  // namespace

class PopupHelpTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() {
    HidePopup();
    if (HelpWindow::Instance()) HelpWindow::Instance()->hide();
  }

  void ShowsTheControlsOwnText() {
    Form form;
    QVERIFY(form.Show());
    form.help->ShowHelpFor(form.task);
    QVERIFY(PopupShown());
    QCOMPARE(Popup()->ShownText(), QStringLiteral("Enter a description for the task here"));
    QCOMPARE(Popup()->ControlRect(), TPopupHelp::ScreenRect(form.task));
  }

  void RedirectAndParentFallBack() {
    Form form;
    QVERIFY(form.Show());
    // The group box takes the text of the edit it redirects to, placed at the group box.
    form.help->ShowHelpFor(form.keys_box);
    QVERIFY(PopupShown());
    QCOMPARE(Popup()->ShownText(), QString(kLongText).replace(QStringLiteral("\r\n"), "\n"));
    QCOMPARE(Popup()->ControlRect(), TPopupHelp::ScreenRect(form.keys_box));
    HidePopup();

    // A control without an entry at all falls back to its parent's text.
    auto* unnamed = new QLabel(form.keys_box);
    form.help->ShowHelpFor(unnamed);
    QVERIFY(PopupShown());
    QCOMPARE(Popup()->ControlRect(), TPopupHelp::ScreenRect(form.keys_box));
    HidePopup();

    // A label with an empty record passes on to its panel, which has none: nothing shows.
    QSignalSpy done(form.help, &TPopupHelp::HelpDone);
    form.help->ShowHelpFor(form.label1);
    QVERIFY(!PopupShown());
    // No control at all only ends the interaction.
    form.help->ShowHelpFor(nullptr);
    QVERIFY(!PopupShown());
    QCOMPARE(done.count(), 1);
  }

  void RedirectLoopsEndWithNothingShown() {
    Form form;
    QVERIFY(form.Show());
    form.help->AddHelp(QStringLiteral("LoopA"), QStringLiteral("->LoopB"));
    form.help->AddHelp(QStringLiteral("LoopB"), QStringLiteral("->LoopA"));
    form.help->AddHelp(QStringLiteral("Self"), QStringLiteral("->Self"));
    auto* a = form.Make<QLabel>(&form.window, "LoopA", QRect(10, 200, 50, 20));
    auto* self = form.Make<QLabel>(&form.window, "Self", QRect(70, 200, 50, 20));
    QVERIFY(!TPopupHelp::FindControlHelp(a, TPopupHelp::ScreenRect(a)));
    QVERIFY(!TPopupHelp::FindControlHelp(self, TPopupHelp::ScreenRect(self)));
    form.help->ShowHelpFor(a);
    QVERIFY(!PopupShown());
  }

  void FormWithoutHelpShowsNothing() {
    QWidget window;
    auto* edit = new QLineEdit(&window);
    edit->setObjectName(QStringLiteral("Task"));
    window.show();
    QVERIFY(!TPopupHelp::FindControlHelp(edit, TPopupHelp::ScreenRect(edit)));
  }

  void LongTextWrapsAtMaxWidth() {
    for (int max_width : {300, 200}) {
      Form form;
      form.help->SetMaxWidth(max_width);
      QVERIFY(form.Show());
      form.help->ShowHelpFor(form.key_words);
      QVERIFY(PopupShown());
      const QSize text = Popup()->TextSize();
      const int line = QFontMetrics(form.window.font()).height();
      QVERIFY2(text.width() <= max_width, qPrintable(QString::number(text.width())));
      QVERIFY(text.width() > max_width * 2 / 3);  // wrapped at the width, not far inside it
      QVERIFY(text.height() >= 4 * line);         // several lines plus the empty ones
      // Paint box = text + 16 wide, + 10 high; the popup adds its 6-pixel shadow.
      QCOMPARE(Popup()->PaintBoxRect().size(), QSize(text.width() + 16, text.height() + 10));
      QCOMPARE(Popup()->size(), QSize(text.width() + 22, text.height() + 16));
      QVERIFY(!Popup()->MoreLineShown());
      HidePopup();
    }
  }

  void PopupStaysOnTheScreen() {
    Form form;
    QVERIFY(form.Show());
    const QRect area = ScreenArea();

    // Near the top-left corner: it starts at the screen's left edge.
    QVERIFY(TPopupHelp::FindControlHelp(form.task, QRect(area.left() + 3, area.top(), 40, 20)));
    QCOMPARE(Popup()->x(), area.left());
    QCOMPARE(Popup()->y(), area.top() + 8);

    // Centred on the control's left edge otherwise.
    QVERIFY(TPopupHelp::FindControlHelp(form.task, QRect(400, 100, 40, 20)));
    QCOMPARE(Popup()->x(), 400 - Popup()->PaintBoxRect().width() / 2);

    // At the right and bottom edges it moves left and up to stay 10 pixels inside.
    QVERIFY(TPopupHelp::FindControlHelp(form.key_words,
                                        QRect(area.right() - 5, area.bottom() - 5, 40, 20)));
    QCOMPARE(Popup()->geometry().right() + 1, area.right() + 1 - 10);
    QCOMPARE(Popup()->geometry().bottom() + 1, area.bottom() + 1 - 10);
  }

  void RightClickKeepsThePopupAnyKeyOrLeftClickCloses() {
    Form form;
    QVERIFY(form.Show());
    QSignalSpy done(form.help, &TPopupHelp::HelpDone);
    form.help->ShowHelpFor(form.ok);
    QVERIFY(PopupShown());
    QTest::mouseClick(Popup(), Qt::RightButton, {}, QPoint(5, 5));
    QVERIFY(PopupShown());
    QTest::keyClick(Popup(), Qt::Key_A);
    QVERIFY(!PopupShown());
    QCOMPARE(done.count(), 1);

    form.help->ShowHelpFor(form.ok);
    QTest::keyClick(Popup(), Qt::Key_F1);  // no help topic: F1 only closes
    QVERIFY(!PopupShown());
    QVERIFY(!HelpWindow::Instance() || !HelpWindow::Instance()->isVisible());

    form.help->ShowHelpFor(form.ok);
    QTest::mouseClick(Popup(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!PopupShown());
    QCOMPARE(done.count(), 3);
  }

  void MoreLineOpensTheHelpTopic() {
    Form form;
    form.high->setProperty("HelpContext", 1017);
    QVERIFY(form.Show());
    form.help->ShowHelpFor(form.high);
    QVERIFY(PopupShown());
    QVERIFY(Popup()->MoreLineShown());
    QCOMPARE(Popup()->HelpContext(), 1017u);
    // The record keeps the control's topic.
    QCOMPARE(form.help->HelpText().FindText(QStringLiteral("pHigh"))->HelpContext(), 1017u);
    const QFontMetrics fm(form.window.font());
    QCOMPARE(Popup()->PaintBoxRect().height(), Popup()->TextSize().height() + 10 + 3 + fm.height());

    // A click on the text, not on the "more" line, only closes.
    QTest::mouseClick(Popup(), Qt::LeftButton, {}, QPoint(9, 5));
    QVERIFY(!PopupShown());
    QVERIFY(!HelpWindow::Instance() || !HelpWindow::Instance()->isVisible());

    form.help->ShowHelpFor(form.high);
    QTest::mouseClick(Popup(), Qt::LeftButton, {}, Popup()->MoreRect().center());
    QVERIFY(!PopupShown());
    QVERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 1017);
    HelpWindow::Instance()->hide();

    form.help->ShowHelpFor(form.high);
    QTest::keyClick(Popup(), Qt::Key_F1);
    QVERIFY(!PopupShown());
    QVERIFY(HelpWindow::Instance()->isVisible());
  }

  void EachCallPutsItsOwnSettingsInForce() {
    Form first, second;
    first.help->SetColor(QColor(1, 2, 3));
    first.help->SetMaxWidth(200);
    second.help->SetColor(QColor(4, 5, 6));
    second.help->SetParentFont(false);
    QFont font = second.help->Font();
    font.setPixelSize(17);
    second.help->SetFont(font);
    QFont form_font = first.window.font();
    form_font.setPixelSize(19);
    first.window.setFont(form_font);
    QVERIFY(first.Show());
    second.window.show();

    first.help->ShowHelpFor(first.task);
    QCOMPARE(TPopupHelp::Settings().max_width, 200);
    QCOMPARE(TPopupHelp::Settings().font.pixelSize(), 19);  // the form's font
    QCOMPARE(Popup()->BackgroundColor(), QColor(1, 2, 3));
    HidePopup();
    second.help->ShowHelpFor(second.task);
    QCOMPARE(TPopupHelp::Settings().max_width, 300);
    QCOMPARE(TPopupHelp::Settings().font.pixelSize(), 17);  // its own font
    QCOMPARE(Popup()->BackgroundColor(), QColor(4, 5, 6));
    QCOMPARE(TPopupHelp::Settings().source.data(), second.help);
  }

  void EscEndsHelpModeWithTheFocusBack() {
    Form form;
    QVERIFY(form.Show());
    form.key_words->setFocus();
    QSignalSpy done(form.help, &TPopupHelp::HelpDone);
    int ok_clicks = 0;
    connect(form.ok, &TFlatButton::clicked, [&] { ++ok_clicks; });

    form.help->StartHelpMode();
    auto* mask = form.window.findChild<TPopupHelpMask*>(QStringLiteral("PopupHelpMask"));
    QVERIFY(mask);
    QVERIFY(form.help->InHelpMode());
    QCOMPARE(mask->PreviousActive(), form.key_words);
    QCOMPARE(QApplication::focusWidget(), mask);
    QVERIFY(QApplication::overrideCursor());

    // Other keys do nothing: not even Enter reaches the default button.
    QTest::keyClick(mask, Qt::Key_Return);
    QTest::keyClick(mask, Qt::Key_X);
    QVERIFY(form.help->InHelpMode());
    QCOMPARE(ok_clicks, 0);

    QTest::keyClick(mask, Qt::Key_Escape);
    DeleteLater();
    QVERIFY(!form.window.findChild<TPopupHelpMask*>());
    QCOMPARE(QApplication::focusWidget(), form.key_words);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(done.count(), 1);
    QVERIFY(!PopupShown());
  }

  void HelpModeClicks() {
    Form form;
    QVERIFY(form.Show());
    form.task->setFocus();
    QSignalSpy done(form.help, &TPopupHelp::HelpDone);

    // An empty area of the form: nothing shows, the mode ends.
    form.help->StartHelpMode();
    auto* mask = form.window.findChild<TPopupHelpMask*>();
    QTest::mouseClick(mask, Qt::LeftButton, {}, QPoint(380, 20));
    DeleteLater();
    QVERIFY(!form.help->InHelpMode());
    QVERIFY(!PopupShown());
    QCOMPARE(done.count(), 1);
    QCOMPARE(QApplication::focusWidget(), form.task);
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // A control: its text shows, and the click does not press it.
    int ok_clicks = 0;
    connect(form.ok, &TFlatButton::clicked, [&] { ++ok_clicks; });
    form.help->StartHelpMode();
    mask = form.window.findChild<TPopupHelpMask*>();
    QTest::mouseClick(mask, Qt::LeftButton, {}, form.ok->geometry().center());
    DeleteLater();
    QVERIFY(PopupShown());
    QCOMPARE(Popup()->ShownText(), QStringLiteral("Click here to save changes"));
    QCOMPARE(ok_clicks, 0);
    QVERIFY(!form.help->InHelpMode());

    // A disabled control still has its help.
    HidePopup();
    form.high->setEnabled(false);
    form.help->StartHelpMode();
    mask = form.window.findChild<TPopupHelpMask*>();
    QTest::mouseClick(mask, Qt::LeftButton, {},
                      form.high->mapTo(&form.window, form.high->rect().center()));
    DeleteLater();
    QVERIFY(PopupShown());
    QCOMPARE(Popup()->ShownText(), QStringLiteral("Check for high priority"));
  }

  void HelpKeys() {
    Form form;
    form.help->InstallHelpKeys(1004);
    QVERIFY(form.Show());
    form.task->setFocus();
    QTest::keyClick(form.task, Qt::Key_F1);
    QVERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 1004);
    HelpWindow::Instance()->hide();
    QVERIFY(form.Show());
    form.task->setFocus();
    QTest::keyClick(form.task, Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(form.help->InHelpMode());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    DeleteLater();
    QVERIFY(!form.help->InHelpMode());
  }

  void QuestionCursorComesFromTheResources() {
    const QImage image = TPopupHelp::QuestionImage();
    QVERIFY2(!image.isNull(), "QCURSOR is not in the program's resources (widgets.qrc not built)");
    QCOMPARE(image.size(), QSize(32, 32));
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(31, 31)), 0);    // see-through around the picture
    QCOMPARE(image.pixel(0, 0) & 0xFFFFFF, 0u);  // the hot spot is the arrow's black tip
    // As a button picture it keeps its black outline: its top-left pixel is see-through.
    const QImage bitmap = TPopupHelp::MouseHelpBitmap();
    QCOMPARE(qAlpha(bitmap.pixel(0, 0)), 0);
    QCOMPARE(bitmap.pixel(1, 1), qRgba(0, 0, 0, 255));
    QVERIFY(bitmap.width() < 32 && bitmap.height() < 32);
    const QCursor cursor = TPopupHelp::QuestionCursor();
    QCOMPARE(cursor.hotSpot(), QPoint(0, 0));
    QVERIFY(!cursor.pixmap().isNull());
  }

  void WhatsThisMenuRemembersItsControl() {
    Form form;
    QVERIFY(form.Show());
    QMenu* menu = TPopupHelp::CreateWhatsThisMenu(&form.window);
    QCOMPARE(menu->objectName(), QStringLiteral("WhatsThisMenu"));
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("What's this?"));
    QCOMPARE(menu->actions().first()->objectName(), QStringLiteral("Whatsthis"));
    QCOMPARE(TPopupHelp::CreateWhatsThisMenu(&form.window, "WhatsthisMenuItem")
                 ->actions()
                 .first()
                 ->objectName(),
             QStringLiteral("WhatsthisMenuItem"));
    TPopupHelp::SetWhatsThisMenu(form.task, menu);
    QSignalSpy done(form.help, &TPopupHelp::HelpDone);

    // The item itself reaches the form's help: nothing else needs connecting.
    QWidget* opened_on = nullptr;
    QTimer::singleShot(0, menu, [menu, &opened_on] {
      opened_on = TPopupHelp::PopupComponent(menu);
      menu->actions().first()->trigger();
      menu->close();
    });
    emit form.task->customContextMenuRequested(QPoint(2, 2));
    QCOMPARE(opened_on, form.task);
    QVERIFY(PopupShown());
    QCOMPARE(Popup()->ShownText(), QStringLiteral("Enter a description for the task here"));
    HidePopup();
    QCOMPARE(done.count(), 1);  // shown once, not once per connection

    // Once closed the menu forgets the control: opened by other means it explains nothing.
    QCOMPARE(TPopupHelp::PopupComponent(menu), nullptr);
    menu->actions().first()->trigger();
    QVERIFY(!PopupShown());
  }

  void WireFormGivesAFormItsHelp() {
    Form form;
    auto* mouse_help =
        form.Make<TFlatButton>(&form.window, "MouseHelpButton", QRect(370, 250, 25, 25));
    QMenu* menu = TPopupHelp::CreateWhatsThisMenu(&form.window);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no control Missing"));
    QVERIFY(!form.help->WireForm(menu, {"Task", "pHigh", "Missing"}, mouse_help, 1004));
    QCOMPARE(form.task->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(form.high->contextMenuPolicy(), Qt::CustomContextMenu);
    QCOMPARE(form.ok->contextMenuPolicy(), Qt::DefaultContextMenu);

    // The colour follows the form's window colour at each activation, whatever was set before.
    form.help->SetColor(QColor(1, 2, 3));
    QPalette palette = form.window.palette();
    palette.setColor(QPalette::Base, QColor(10, 20, 30));
    form.window.setPalette(palette);
    QVERIFY(form.Show());
    QCOMPARE(form.help->Color(), QColor(10, 20, 30));

    // The help-mode button starts the mode; clicking it again in the mode does not stack masks.
    form.task->setFocus();
    mouse_help->click();
    QVERIFY(form.help->InHelpMode());
    form.help->StartHelpMode();
    QCOMPARE(form.window.findChildren<TPopupHelpMask*>().size(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    DeleteLater();
    QVERIFY(!form.help->InHelpMode());
    QCOMPARE(QApplication::focusWidget(), form.task);

    // F1 opens the form's topic.
    QTest::keyClick(form.task, Qt::Key_F1);
    QVERIFY(HelpWindow::Instance() && HelpWindow::Instance()->isVisible());
    QCOMPARE(HelpWindow::Instance()->CurrentContext(), 1004);
  }

  void HelpModeKeepsTheKeysFromOtherWatchers() {
    // A window that runs commands by key watches every key of the application; in help mode
    // Delete must not reach it (it would delete a task), and Esc must still end the mode.
    struct KeyWatcher : QObject {
      int keys = 0;
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
          ++keys;
          return static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        }
        return false;
      }
    } watcher;
    qApp->installEventFilter(&watcher);
    Form form;
    QVERIFY(form.Show());
    form.task->setFocus();
    form.help->StartHelpMode();
    auto* mask = form.window.findChild<TPopupHelpMask*>();
    QVERIFY(mask);
    QTest::keyClick(mask, Qt::Key_Delete);
    QTest::keyClick(mask, Qt::Key_Escape);
    DeleteLater();
    QCOMPARE(watcher.keys, 0);
    QVERIFY(!form.help->InHelpMode());
    // Once the mode is over the watcher sees keys again.
    QTest::keyClick(form.task, Qt::Key_A);
    QCOMPARE(watcher.keys, 1);
    qApp->removeEventFilter(&watcher);
  }
};

QTEST_MAIN(PopupHelpTest)
#include "tst_PopupHelp.moc"
