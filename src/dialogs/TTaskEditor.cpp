#include "dialogs/TTaskEditor.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTimer>
#include <QVariant>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "db/RegionalSettings.h"
#include "db/StoredDateTime.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TMonthGrid.h"
#include "dialogs/QuickDates.h"
#include "dialogs/TSetTimeDialog.h"
#include "dialogs/TaskEditorBitmaps.h"
#include "dialogs/TaskEditorHelp.h"
#include "dialogs/TaskEditorTextGuard.h"
#include "platform/UserMessages.h"
#include "store/WindowPlacement.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1004;
constexpr int kClientWidth = 392;
constexpr int kClientHeight = 376;
constexpr int kDescriptionLength = 50;  // the DESCRIPT field's width
const char kKeyWordProperty[] = "KeyWord";

QFont ArialPixels(int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  return font;
}

template <typename Widget>
Widget* Named(Widget* widget, const char* name, const QRect& geometry) {
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(geometry);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
  return Named(new QLabel(text, parent), name, geometry);
}

TFlatButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& geometry) {
  return Named(new TFlatButton(caption, parent), name, geometry);
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QRect& geometry) {
  return Named(new QLineEdit(parent), name, geometry);
}

// The frame around the date or the time group; it only carries the format hint, so it lies
// beneath the group's controls.
QFrame* MakeBevel(QWidget* parent, const char* name, const QRect& geometry) {
  auto* bevel = Named(new QFrame(parent), name, geometry);
  bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  bevel->lower();
  return bevel;
}

// A word as a menu shows it: a single "&" would otherwise become an accelerator mark.
QString MenuCaption(const QString& word) {
  QString caption = word;
  caption.replace(QLatin1Char('&'), QLatin1String("&&"));
  return caption;
}

}  // namespace

TTaskEditor::TTaskEditor(const QStringList& keyWordList, QWidget* parent, Clock now)
    : QDialog(parent), now_(std::move(now)) {
  setObjectName(QStringLiteral("TaskEditor"));
  setWindowTitle(QStringLiteral("Task Editor"));
  // A fixed dialog frame with a title and nothing else on it: no system menu, no close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(ArialPixels(11));
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  DateFormat = MakeBevel(this, "DateFormat", QRect(8, 98, 184, 74));
  TimeFormat = MakeBevel(this, "TimeFormat", QRect(200, 98, 184, 74));

  TaskLabel = MakeLabel(this, "TaskLabel", QString(), QRect(8, 8, 290, 14));
  Task = MakeEdit(this, "Task", QRect(8, 24, 296, 21));
  Task->setMaxLength(kDescriptionLength);
  IsDone = Named(new QCheckBox(QStringLiteral("Done?"), this), "IsDone", QRect(316, 26, 70, 17));

  KeyWordsLabel =
      MakeLabel(this, "KeyWordsLabel", QStringLiteral("Key words"), QRect(8, 52, 120, 14));
  KeyWords = MakeEdit(this, "KeyWords", QRect(8, 68, 348, 21));
  KeyListbutton = MakeButton(this, "KeyListbutton", QString(), QRect(360, 67, 24, 23));
  KeyListbutton->SetBitmap(TaskEditorBitmaps::KeyList());
  KeyListbutton->setToolTip(QStringLiteral("Pick a key word already in use (Alt+L)"));
  KeyListMenu = new QMenu(this);
  KeyListMenu->setObjectName(QStringLiteral("KeyListMenu"));
  KeyListbutton->SetDropDownMenu(KeyListMenu);
  connect(KeyListMenu, &QMenu::triggered, this, &TTaskEditor::KeyListMenuItemClick);

  DateEditLabel = MakeLabel(this, "DateEditLabel", QStringLiteral("Date (blank for none)"),
                            QRect(16, 104, 168, 14));
  DateEdit = MakeEdit(this, "DateEdit", QRect(16, 120, 136, 21));
  CalendarButton = MakeButton(this, "CalendarButton", QString(), QRect(156, 119, 24, 23));
  CalendarButton->SetBitmap(TaskEditorBitmaps::Calendar());
  CalendarButton->setToolTip(QStringLiteral("Pick the date from a calendar (Alt+C)"));
  connect(CalendarButton, &TFlatButton::clicked, this, &TTaskEditor::CalendarButtonClick);
  QuickDateButton =
      MakeButton(this, "QuickDateButton", QStringLiteral("Quick Date"), QRect(16, 145, 100, 22));
  QuickDateMenu = new QMenu(this);
  QuickDateMenu->setObjectName(QStringLiteral("QuickDateMenu"));
  QuickDateButton->SetDropDownMenu(QuickDateMenu);
  connect(QuickDateMenu, &QMenu::triggered, this, &TTaskEditor::QuickDateItemClick);
  QuickDateButton->setToolTip(QStringLiteral("Pick a date from a list (Alt+Q)"));

  TimeEditLabel = MakeLabel(this, "TimeEditLabel", QStringLiteral("Time (blank for none)"),
                            QRect(208, 104, 168, 14));
  TimeEdit = MakeEdit(this, "TimeEdit", QRect(208, 120, 136, 21));
  QuickTimeButton = MakeButton(this, "QuickTimeButton", QString(), QRect(348, 119, 24, 23));
  QuickTimeButton->SetBitmap(TaskEditorBitmaps::Clock());
  QuickTimeButton->setToolTip(QStringLiteral("Pick the time from a clock (Alt+T)"));
  connect(QuickTimeButton, &TFlatButton::clicked, this, &TTaskEditor::QuickTimeButtonClick);

  PriorityPanel = Named(new QFrame(this), "PriorityPanel", QRect(8, 180, 376, 28));
  PriorityPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  Label1 = MakeLabel(PriorityPanel, "Label1", QStringLiteral("Priority"), QRect(8, 7, 60, 14));
  pHigh =
      Named(new QRadioButton(QStringLiteral("High"), PriorityPanel), "pHigh", QRect(84, 5, 80, 18));
  pMedium = Named(new QRadioButton(QStringLiteral("Medium"), PriorityPanel), "pMedium",
                  QRect(176, 5, 80, 18));
  pLow =
      Named(new QRadioButton(QStringLiteral("Low"), PriorityPanel), "pLow", QRect(276, 5, 80, 18));
  pMedium->setChecked(true);

  NotesLabel = MakeLabel(this, "NotesLabel", QStringLiteral("Notes"), QRect(8, 214, 120, 14));
  Notes = Named(new QPlainTextEdit(this), "Notes", QRect(8, 230, 376, 98));
  Notes->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  // Tab moves on, as in the one-line fields; Enter starts a new line here.
  Notes->setTabChangesFocus(true);

  constexpr int kPanelTop = 336;
  Panel1 = Named(new QFrame(this), "Panel1",
                 QRect(0, kPanelTop, kClientWidth, kClientHeight - kPanelTop));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  constexpr int kButtonTop = (kClientHeight - kPanelTop - 25) / 2;
  MouseHelpButton = MakeButton(Panel1, "MouseHelpButton", QString(),
                               QRect(kClientWidth - 8 - 27, kButtonTop, 27, 25));
  MouseHelpButton->SetBitmap(TaskEditorBitmaps::HelpMode());
  Helpbutton = MakeButton(Panel1, "Helpbutton", QStringLiteral("Help"),
                          QRect(MouseHelpButton->x() - 6 - 75, kButtonTop, 75, 25));
  CancelButton = MakeButton(Panel1, "CancelButton", QStringLiteral("Cancel"),
                            QRect(Helpbutton->x() - 6 - 75, kButtonTop, 75, 25));
  OKButton = MakeButton(Panel1, "OKButton", QStringLiteral("Ok"),
                        QRect(CancelButton->x() - 6 - 75, kButtonTop, 75, 25));
  OKButton->SetDefault(true);
  CancelButton->SetCancel(true);
  connect(OKButton, &TFlatButton::clicked, this, &TTaskEditor::OKButtonClick);
  connect(CancelButton, &TFlatButton::clicked, this, &TTaskEditor::CancelButtonClick);
  connect(Helpbutton, &TFlatButton::clicked, this, &TTaskEditor::HelpButtonClick);

  WhatsThisMenu = TPopupHelp::CreateWhatsThisMenu(this);
  Whatsthis = WhatsThisMenu->actions().constFirst();
  PopupHelp1 = TaskEditorHelp::Install(this, WhatsThisMenu);

  // The picker buttons take no focus; each has a key of its own, so the keyboard reaches them.
  KeyListbutton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_L));
  CalendarButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_C));
  QuickDateButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Q));
  QuickTimeButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_T));

  setTabOrder(Task, IsDone);
  setTabOrder(IsDone, KeyWords);
  setTabOrder(KeyWords, DateEdit);
  setTabOrder(DateEdit, TimeEdit);
  setTabOrder(TimeEdit, pHigh);
  setTabOrder(pHigh, pMedium);
  setTabOrder(pMedium, pLow);
  setTabOrder(pLow, Notes);

  DateEdit->installEventFilter(this);
  TimeEdit->installEventFilter(this);
  for (QRadioButton* button : {pHigh, pMedium, pLow}) button->installEventFilter(this);
  // What reaches the task file must be storable there; the date and time fields are checked
  // as dates and times and never stored as typed.
  TaskEditorTextGuard::Guard(Task);
  TaskEditorTextGuard::Guard(KeyWords);
  TaskEditorTextGuard::Guard(Notes);

  FormCreate(keyWordList);
}

double TTaskEditor::Now() const { return now_.Now(); }

double TTaskEditor::Today() const { return now_.Today(); }

void TTaskEditor::SetFields(const TaskFields& task) {
  if (task.priority == QLatin1String("A")) pHigh->setChecked(true);
  else if (task.priority == QLatin1String("B")) pMedium->setChecked(true);
  else if (task.priority == QLatin1String("C")) pLow->setChecked(true);
  TaskLabel->setText(QStringLiteral("Editing Task"));
  IsDone->setChecked(task.done);
  Task->setText(task.description);
  KeyWords->setText(task.keyWords);
  Notes->setPlainText(task.note);
  FormatsScope user(FormatsScope::Set::User);
  double value = 0;
  DateEdit->clear();
  if (StoredDateTime::ParseDate(task.date, value))
    DateEdit->setText(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), value));
  TimeEdit->clear();
  if (StoredDateTime::ParseTime(task.time, value))
    TimeEdit->setText(DateTimeText::FormatDateTime(QStringLiteral("t"), value));
}

void TTaskEditor::SetNewTask() {
  TaskLabel->setText(QStringLiteral("Adding Task"));
  IsDone->setChecked(false);
  Task->setText(QStringLiteral("{Task description}"));
  Notes->clear();
  KeyWords->clear();
  DateEdit->clear();
  TimeEdit->clear();
}

TaskFields TTaskEditor::Fields() const {
  TaskFields task;
  task.description = Task->text();
  task.done = IsDone->isChecked();
  task.keyWords = KeyWords->text();
  task.note = Notes->toPlainText();
  if (pHigh->isChecked()) task.priority = QStringLiteral("A");
  else if (pMedium->isChecked()) task.priority = QStringLiteral("B");
  else if (pLow->isChecked()) task.priority = QStringLiteral("C");
  // What was typed is read under the user's settings and handed out in the stored forms.
  FormatsScope user(FormatsScope::Set::User);
  double value = 0;
  if (DateTimeText::TryStrToDate(DateEdit->text(), value)) task.date = StoredDateTime::Date(value);
  if (DateTimeText::TryStrToTime(TimeEdit->text(), value)) task.time = StoredDateTime::Time(value);
  return task;
}

void TTaskEditor::FormCreate(const QStringList& keyWordList) {
  // The captions take the date format in force now, the caller's fixed one; an item chosen
  // later writes its date in the format in force then.
  QuickDates::FillMenu(QuickDateMenu, Today());
  for (const QString& word : keyWordList) {
    QAction* item = KeyListMenu->addAction(MenuCaption(word));
    item->setProperty(kKeyWordProperty, word);
  }
}

void TTaskEditor::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FormShow();
  // Activation need not follow showing (without a window manager it may never come); the hints
  // must be right from the start.
  FormActivate();
}

void TTaskEditor::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  QDialog::changeEvent(event);
}

void TTaskEditor::FormShow() {
  Task->setFocus();
}

void TTaskEditor::FormActivate() {
  DateFormat->setToolTip(QStringLiteral("(use format ") +
                         RegionalSettings::InForce().ShortDateFormat.toLower() + QLatin1Char(')'));
  // The present time as an example: the short time format is not a pattern the user would read.
  TimeFormat->setToolTip(QStringLiteral("(use format ") +
                         DateTimeText::FormatDateTime(QStringLiteral("t"), Now()) +
                         QLatin1Char(')'));
}

bool TTaskEditor::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && qobject_cast<QRadioButton*>(watched) != nullptr) {
    // The priorities are one stop for Tab and Shift+Tab alike: leaving any of them goes past the
    // group. Stepping through the chain one button at a time would land on an unchecked button,
    // which the focus rule below sends back to the checked one, and Shift+Tab would never leave.
    const int key = static_cast<QKeyEvent*>(event)->key();
    const Qt::KeyboardModifiers mods = static_cast<QKeyEvent*>(event)->modifiers();
    if (key == Qt::Key_Backtab || (key == Qt::Key_Tab && (mods & Qt::ShiftModifier))) {
      TimeEdit->setFocus(Qt::BacktabFocusReason);
      return true;
    }
    if (key == Qt::Key_Tab && !(mods & (Qt::ControlModifier | Qt::AltModifier))) {
      Notes->setFocus(Qt::TabFocusReason);
      return true;
    }
  }
  if (event->type() == QEvent::FocusIn) {
    // Tabbing into the priorities lands on the chosen one, as in any radio group; the arrow
    // keys move between them.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    auto* button = qobject_cast<QRadioButton*>(watched);
    if (button && !button->isChecked() &&
        (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)) {
      for (QRadioButton* other : {pHigh, pMedium, pLow})
        if (other->isChecked()) other->setFocus(reason);
    }
  }
  if (event->type() == QEvent::FocusOut && (watched == DateEdit || watched == TimeEdit)) {
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    // Only a move to another control of this form leaves the field; a message box, a menu or
    // another window taking over does not.
    const bool leftField = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
    if (leftField && !checking_ && ModalResult == 0) {
      // The check runs once the focus has arrived where the user sent it, so its message box
      // and its move back into the field are not tangled in the focus change still under way.
      const bool isDate = watched == DateEdit;
      QTimer::singleShot(0, this, [this, isDate] {
        if (ModalResult != 0 || !isVisible()) return;
        if (isDate)
          DateEditExit();
        else
          TimeEditExit();
      });
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TTaskEditor::DateEditExit() {
  const QString text = DateEdit->text().toUpper();
  if (text.isEmpty()) return;
  double value = 0;
  if (DateTimeText::TryStrToDate(text, value)) {
    DateEdit->setText(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), value));
    return;
  }
  checking_ = true;
  UserMessages::ShowInformation(QStringLiteral("Please use the date format ") +
                                RegionalSettings::InForce().ShortDateFormat +
                                QStringLiteral("\r   Example: ") +
                                DateTimeText::FormatDateTime(QStringLiteral("ddddd"), Today()));
  DateEdit->clear();
  DateEdit->setFocus();
  EntriesValid = false;
  checking_ = false;
}

void TTaskEditor::TimeEditExit() {
  const QString text = TimeEdit->text().toUpper();
  if (text.isEmpty()) return;
  double value = 0;
  if (DateTimeText::TryStrToTime(text, value)) {
    TimeEdit->setText(DateTimeText::FormatDateTime(QStringLiteral("t"), value));
    return;
  }
  checking_ = true;
  UserMessages::ShowInformation(
      QStringLiteral("Invalid time. Please use your Windows Time format\r   Example: ") +
      DateTimeText::FormatDateTime(QStringLiteral("t"), Now()));
  TimeEdit->clear();
  TimeEdit->setFocus();
  EntriesValid = false;
  checking_ = false;
}

void TTaskEditor::CalendarButtonClick() {
  TDateSelector selector(this);
  WindowPlacement::PlaceDialog(&selector);
  double start = 0;
  if (!DateTimeText::TryStrToDate(DateEdit->text(), start)) start = Now();
  selector.Calendar()->SetSelectedDate(start);
  selector.exec();
  if (selector.ModalResult == 1)
    DateEdit->setText(
        DateTimeText::FormatDateTime(QStringLiteral("ddddd"), selector.Calendar()->SelectedDate()));
  DateEdit->setFocus();
}

void TTaskEditor::QuickDateItemClick(QAction* item) {
  if (QuickDates::DaysOf(item) < 0) return;
  const double date = QuickDates::DateOf(item, Today());
  // Thirty days on from a clock at the very end of the calendar is no date; nothing to write.
  if (!DateTimeValue::IsValidValue(date)) return;
  DateEdit->setText(DateTimeText::FormatDateTime(QStringLiteral("ddddd"), date));
  DateEdit->setFocus();
}

void TTaskEditor::QuickTimeButtonClick() {
  double start = DateTimeValue::TimeOf(Now());
  const QString text = TimeEdit->text().toUpper();
  double typed = 0;
  if (!text.isEmpty() && DateTimeText::TryStrToTime(text, typed)) start = typed;
  TSetTimeDialog dialog(this);
  dialog.SetSelectedTime(start);
  WindowPlacement::PlaceDialog(&dialog);
  dialog.exec();
  if (dialog.ModalResult == 1)
    TimeEdit->setText(DateTimeText::FormatDateTime(QStringLiteral("t"), dialog.SelectedTime()));
}

void TTaskEditor::KeyListMenuItemClick(QAction* item) {
  const QVariant word = item ? item->property(kKeyWordProperty) : QVariant();
  if (!word.isValid()) return;
  if (KeyWords->text().isEmpty())
    KeyWords->setText(word.toString());
  else
    KeyWords->setText(KeyWords->text() + QLatin1Char(' ') + word.toString());
}

void TTaskEditor::OKButtonClick() {
  EntriesValid = true;
  // The field the user is still in has not been left, so both are checked here.
  DateEditExit();
  TimeEditExit();
  if (!EntriesValid) return;
  ModalResult = 1;
  done(ModalResult);
}

void TTaskEditor::CancelButtonClick() {
  ModalResult = 2;
  done(ModalResult);
}

void TTaskEditor::reject() {
  // Esc reaches the Cancel button first; this is any other way QDialog would reject.
  CancelButtonClick();
}

void TTaskEditor::FormCloseQuery(bool& canClose) {
  canClose = true;
  if (ModalResult != 0) return;
  if (!UserMessages::AskYesNo(QStringLiteral("Save changes"))) return;
  OKButtonClick();
  QCoreApplication::processEvents();
  // The user asked for the changes to be kept and a date or time was refused: closing now would
  // throw away every change after the message. The field is empty and has the focus, so the
  // user can type it again or press OK to save without it.
  if (ModalResult == 0) canClose = false;
}

void TTaskEditor::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (!canClose) {
    event->ignore();
    return;
  }
  event->accept();
  if (isVisible()) done(ModalResult);
}

void TTaskEditor::HelpButtonClick() {
  HelpWindow::ShowHelpContext(kHelpContext);
}
