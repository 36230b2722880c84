#include "dialogs/TFilterForm.h"

#include <QAction>
#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QVariant>

#include "dialogs/FilterFormHelp.h"
#include "dialogs/TaskEditorBitmaps.h"
#include "dialogs/TaskEditorTextGuard.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1018;
constexpr int kClientWidth = 447;
constexpr int kClientHeight = 255;
const char kKeyWordProperty[] = "KeyWord";

QFont ArialPixels(int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  return font;
}

TFlatButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& geometry) {
  auto* button = new TFlatButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

QString MenuCaption(const QString& word) {
  QString caption = word;
  caption.replace(QLatin1Char('&'), QLatin1String("&&"));
  return caption;
}

}  // namespace

TFilterForm::TFilterForm(const QStringList& keyWordList, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("FilterForm"));
  setWindowTitle(QStringLiteral("Task Filter"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(ArialPixels(11));
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  DateFilter = MakeRadioGroup(
      "DateFilter", QStringLiteral("&Date Filter"),
      {QStringLiteral("All Dates"), QStringLiteral("Today "), QStringLiteral("Tomorrow"),
       QStringLiteral("Next 7 Days"), QStringLiteral("Next 30 Days"),
       QStringLiteral("Next 365 Days"), QStringLiteral("Before Today")},
      1, QRect(8, 8, 150, 196), &DateFilterItems);

  KeysBox =
      new QGroupBox(QStringLiteral("&Keys Filter (contains any of the following keys)"), this);
  KeysBox->setObjectName(QStringLiteral("KeysBox"));
  KeysBox->setGeometry(166, 8, 273, 80);
  KeyWords = new QLineEdit(KeysBox);
  KeyWords->setObjectName(QStringLiteral("KeyWords"));
  KeyWords->setGeometry(10, 24, 226, 21);
  KeyListbutton = MakeButton(KeysBox, "KeyListbutton", QString(), QRect(240, 23, 24, 23));
  KeyListbutton->SetBitmap(TaskEditorBitmaps::KeyList());
  KeyListbutton->setToolTip(QStringLiteral("Pick a key word in use (Alt+L)"));
  // The button takes no focus: its own key reaches it.
  KeyListbutton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_L));
  KeyListMenu = new QMenu(this);
  KeyListMenu->setObjectName(QStringLiteral("KeyListMenu"));
  KeyListbutton->SetDropDownMenu(KeyListMenu);
  connect(KeyListMenu, &QMenu::triggered, this, &TFilterForm::KeyListMenuItemClick);
  Label3 = new QLabel(QStringLiteral("(separate keys with commas)"), KeysBox);
  Label3->setObjectName(QStringLiteral("Label3"));
  Label3->setGeometry(10, 52, 220, 14);
  // The key words become part of an expression compared with the stored key words, which can
  // hold only what the task file's code page holds.
  TaskEditorTextGuard::Guard(KeyWords);

  PriorityFilter =
      MakeRadioGroup("PriorityFilter", QStringLiteral("Priority Filter"),
                     {QStringLiteral("All Priorities"), QStringLiteral("High Priority Only"),
                      QStringLiteral("Medium Priority Only"), QStringLiteral("Low Priority Only")},
                     2, QRect(166, 96, 273, 108), &PriorityFilterItems);

  constexpr int kPanelTop = 214;
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(0, kPanelTop, kClientWidth, kClientHeight - kPanelTop);
  constexpr int kButtonTop = (kClientHeight - kPanelTop - 25) / 2;
  MouseHelpButton = MakeButton(Panel1, "MouseHelpButton", QString(),
                               QRect(kClientWidth - 8 - 27, kButtonTop, 27, 25));
  MouseHelpButton->SetBitmap(TaskEditorBitmaps::HelpMode());
  Helpbutton = MakeButton(Panel1, "Helpbutton", QStringLiteral("Help"),
                          QRect(MouseHelpButton->x() - 6 - 75, kButtonTop, 75, 25));
  ResetButton = MakeButton(Panel1, "ResetButton", QStringLiteral("Reset"),
                           QRect(Helpbutton->x() - 6 - 75, kButtonTop, 75, 25));
  CancelButton = MakeButton(Panel1, "CancelButton", QStringLiteral("Cancel"),
                            QRect(ResetButton->x() - 6 - 75, kButtonTop, 75, 25));
  OKButton = MakeButton(Panel1, "OKButton", QStringLiteral("Ok"),
                        QRect(CancelButton->x() - 6 - 75, kButtonTop, 75, 25));
  OKButton->SetDefault(true);
  CancelButton->SetCancel(true);
  connect(OKButton, &TFlatButton::clicked, this, &TFilterForm::OKButtonClick);
  connect(CancelButton, &TFlatButton::clicked, this, &TFilterForm::CancelButtonClick);
  connect(ResetButton, &TFlatButton::clicked, this, &TFilterForm::ResetButtonClick);
  ResetButton->setShortcut(QKeySequence(Qt::ALT | Qt::Key_R));
  ResetButton->setToolTip(QStringLiteral("Alt+R"));
  connect(Helpbutton, &TFlatButton::clicked, this, &TFilterForm::HelpButtonClick);

  WhatsThisMenu = TPopupHelp::CreateWhatsThisMenu(this);
  Whatsthis = WhatsThisMenu->actions().constFirst();
  PopupHelp1 = FilterFormHelp::Install(this, WhatsThisMenu);

  // Date range, then the key words, then the priority: the buttons take no focus, so the
  // bottom panel adds no stop of its own.
  QWidget* previous = nullptr;
  auto chain = [&previous](QWidget* next) {
    if (previous) setTabOrder(previous, next);
    previous = next;
  };
  for (QAbstractButton* button : DateFilterItems->buttons()) chain(button);
  chain(KeyWords);
  for (QAbstractButton* button : PriorityFilterItems->buttons()) chain(button);

  SetDateFilterIndex(0);
  SetPriorityFilterIndex(0);
  FormCreate(keyWordList);
}

QGroupBox* TFilterForm::MakeRadioGroup(const char* name, const QString& caption,
                                       const QStringList& items, int columns, const QRect& geometry,
                                       QButtonGroup** group) {
  auto* box = new QGroupBox(caption, this);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(geometry);
  *group = new QButtonGroup(box);
  // Items run down the first column, then the next, each column as tall as the first.
  const int rows = (int(items.size()) + columns - 1) / columns;
  constexpr int kTop = 20, kLeft = 10, kRowHeight = 22;
  const int columnWidth = (geometry.width() - 2 * kLeft) / columns;
  for (int i = 0; i < items.size(); ++i) {
    auto* button = new QRadioButton(items[i], box);
    button->setObjectName(QStringLiteral("%1Item%2").arg(QString::fromLatin1(name)).arg(i));
    button->setGeometry(kLeft + (i / rows) * columnWidth, kTop + (i % rows) * kRowHeight,
                        columnWidth - 4, 18);
    (*group)->addButton(button, i);
  }
  return box;
}

void TFilterForm::FormCreate(const QStringList& keyWordList) {
  for (const QString& word : keyWordList) {
    QAction* item = KeyListMenu->addAction(MenuCaption(word));
    item->setProperty(kKeyWordProperty, word);
  }
}

int TFilterForm::DateFilterIndex() const {
  return DateFilterItems->checkedId();
}

void TFilterForm::SetDateFilterIndex(int index) {
  if (QAbstractButton* button = DateFilterItems->button(index)) button->setChecked(true);
}

int TFilterForm::PriorityFilterIndex() const {
  return PriorityFilterItems->checkedId();
}

void TFilterForm::SetPriorityFilterIndex(int index) {
  if (QAbstractButton* button = PriorityFilterItems->button(index)) button->setChecked(true);
}

QString TFilterForm::KeyFilterText() const {
  return KeyWords->text();
}

void TFilterForm::SetKeyFilterText(const QString& text) {
  KeyWords->setText(text);
}

void TFilterForm::KeyListMenuItemClick(QAction* item) {
  const QVariant word = item ? item->property(kKeyWordProperty) : QVariant();
  if (!word.isValid()) return;
  // Commas separate the filter's words, where the task editor's key words use blanks.
  if (KeyWords->text().isEmpty())
    KeyWords->setText(word.toString());
  else
    KeyWords->setText(KeyWords->text() + QLatin1Char(',') + word.toString());
}

void TFilterForm::OKButtonClick() {
  ModalResult = 1;
  done(ModalResult);
}

void TFilterForm::CancelButtonClick() {
  ModalResult = 2;
  done(ModalResult);
}

void TFilterForm::reject() {
  // Esc reaches the Cancel button first; this is the window being closed otherwise.
  CancelButtonClick();
}

void TFilterForm::ResetButtonClick() {
  SetDateFilterIndex(0);
  KeyWords->clear();
  SetPriorityFilterIndex(0);
  // Closing with OK lets the caller apply the cleared filter at once.
  OKButtonClick();
}

void TFilterForm::HelpButtonClick() {
  HelpWindow::ShowHelpContext(kHelpContext);
}
