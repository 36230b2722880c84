#include "dialogs/TDateSelector.h"

#include <QAction>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "dialogs/DateSelectorHelp.h"
#include "dialogs/TMonthGrid.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1004;
constexpr int kClientWidth = 413;
constexpr int kClientHeight = 247;

QFont ArialPixels(int pixels, bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// The help-mode picture: a pointer with a question mark beside it, on a magenta ground that the
// button treats as transparent (its top-left pixel).
QImage HelpModeBitmap() {
  QImage image(20, 18, QImage::Format_RGB32);
  image.fill(QColor(255, 0, 255));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, false);
  const QPoint arrow[] = {{2, 1}, {2, 14}, {5, 11}, {8, 16}, {10, 15}, {7, 10}, {11, 10}};
  painter.setPen(Qt::black);
  painter.setBrush(Qt::white);
  painter.drawPolygon(arrow, 7);
  painter.setPen(QColor(0, 0, 128));
  painter.setFont(ArialPixels(12, true));
  painter.drawText(QRect(11, 0, 9, 14), Qt::AlignCenter, QStringLiteral("?"));
  return image;
}

TFlatButton* MakeButton(QWidget* parent, const char* name, const QString& caption,
                        const QRect& geometry) {
  auto* button = new TFlatButton(caption, parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setGeometry(geometry);
  return button;
}

}  // namespace

TDateSelector::TDateSelector(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("DateSelector"));
  setWindowTitle(QStringLiteral("Select a Date"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(ArialPixels(11, false));
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  DateLabel = new QLabel(this);
  DateLabel->setObjectName(QStringLiteral("DateLabel"));
  DateLabel->setGeometry(0, 4, kClientWidth, 17);
  DateLabel->setAlignment(Qt::AlignCenter);
  DateLabel->setFont(ArialPixels(13, true));
  // Black on the light window it is drawn for; on a dark desktop the window's own text colour,
  // as black would not show.
  if (palette().color(QPalette::Window).lightness() >= 128) {
    QPalette labelPalette = DateLabel->palette();
    labelPalette.setColor(QPalette::WindowText, Qt::black);
    DateLabel->setPalette(labelPalette);
  }

  calendar_ = new TMonthGrid(this);
  calendar_->setObjectName(QStringLiteral("Calendar"));
  calendar_->SetStartOfWeek(0);
  calendar_->setGeometry(0, 25, kClientWidth, 132);
  connect(calendar_, &TMonthGrid::OnChange, this, &TDateSelector::CalendarChange);

  // The five steps in one row under the grid, evenly spread.
  constexpr int kNavWidth = 63, kNavHeight = 23, kNavGap = 8, kNavTop = 165;
  constexpr int kNavLeft = (kClientWidth - 5 * kNavWidth - 4 * kNavGap) / 2;
  auto navRect = [&](int i) {
    return QRect(kNavLeft + i * (kNavWidth + kNavGap), kNavTop, kNavWidth, kNavHeight);
  };
  PrevYear = MakeButton(this, "PrevYear", QStringLiteral("Year-"), navRect(0));
  PrevMonth = MakeButton(this, "PrevMonth", QStringLiteral("Month-"), navRect(1));
  DoCurrentDate = MakeButton(this, "DoCurrentDate", QStringLiteral("Today"), navRect(2));
  NextMonth = MakeButton(this, "NextMonth", QStringLiteral("Month +"), navRect(3));
  NextYear = MakeButton(this, "NextYear", QStringLiteral("Year+"), navRect(4));
  connect(PrevYear, &TFlatButton::clicked, this, &TDateSelector::PrevYearClick);
  connect(PrevMonth, &TFlatButton::clicked, this, &TDateSelector::PrevMonthClick);
  connect(DoCurrentDate, &TFlatButton::clicked, this, &TDateSelector::CurrentDateClick);
  connect(NextMonth, &TFlatButton::clicked, this, &TDateSelector::NextMonthClick);
  connect(NextYear, &TFlatButton::clicked, this, &TDateSelector::NextYearClick);
  // The arrow keys stay inside the month shown; these keys step as the buttons do, so the
  // keyboard reaches every date.
  const std::pair<TFlatButton*, QKeySequence> steps[] = {
      {PrevYear, QKeySequence(Qt::CTRL | Qt::Key_PageUp)},
      {PrevMonth, QKeySequence(Qt::Key_PageUp)},
      {DoCurrentDate, QKeySequence(Qt::Key_Home)},
      {NextMonth, QKeySequence(Qt::Key_PageDown)},
      {NextYear, QKeySequence(Qt::CTRL | Qt::Key_PageDown)}};
  for (const auto& [button, key] : steps) {
    button->setShortcut(key);
    button->setToolTip(key.toString(QKeySequence::NativeText));
  }

  constexpr int kPanelTop = 198;
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(0, kPanelTop, kClientWidth, kClientHeight - kPanelTop);
  constexpr int kButtonTop = (kClientHeight - kPanelTop - 25) / 2;
  MouseHelpButton = MakeButton(Panel1, "MouseHelpButton", QString(),
                               QRect(kClientWidth - 8 - 27, kButtonTop, 27, 25));
  MouseHelpButton->SetBitmap(HelpModeBitmap());
  Helpbutton = MakeButton(Panel1, "Helpbutton", QStringLiteral("Help"),
                          QRect(kClientWidth - 8 - 27 - 6 - 75, kButtonTop, 75, 25));
  CancelButton = MakeButton(Panel1, "CancelButton", QStringLiteral("Cancel"),
                            QRect(Helpbutton->x() - 6 - 75, kButtonTop, 75, 25));
  OKButton = MakeButton(Panel1, "OKButton", QStringLiteral("Ok"),
                        QRect(CancelButton->x() - 6 - 75, kButtonTop, 75, 25));
  OKButton->SetDefault(true);
  CancelButton->SetCancel(true);
  connect(OKButton, &TFlatButton::clicked, this, &TDateSelector::OKButtonClick);
  connect(CancelButton, &TFlatButton::clicked, this, &TDateSelector::CancelButtonClick);
  connect(Helpbutton, &TFlatButton::clicked, this, &TDateSelector::HelpbuttonClick);

  WhatsThisMenu = TPopupHelp::CreateWhatsThisMenu(this, QStringLiteral("WhatsthisMenuItem"));
  WhatsthisMenuItem = WhatsThisMenu->actions().constFirst();
  PopupHelp1 = DateSelectorHelp::Install(this, WhatsThisMenu);

  // The grid keeps the keyboard: the buttons never take it, so the arrow keys always move the
  // selected day.
  calendar_->setFocus();
  FormCreate();
}

void TDateSelector::FormCreate() {
  CalendarChange();
}

void TDateSelector::CalendarChange() {
  DateLabel->setText(
      DateTimeText::FormatDateTime(QStringLiteral("dddddd"), calendar_->SelectedDate()));
}

void TDateSelector::PrevYearClick() {
  calendar_->PrevYear();
}

void TDateSelector::PrevMonthClick() {
  calendar_->PrevMonth();
}

void TDateSelector::CurrentDateClick() {
  calendar_->SetSelectedDate(DateTimeValue::Today());
}

void TDateSelector::NextMonthClick() {
  calendar_->NextMonth();
}

void TDateSelector::NextYearClick() {
  calendar_->NextYear();
}

void TDateSelector::OKButtonClick() {
  ModalResult = 1;
  done(ModalResult);
}

void TDateSelector::CancelButtonClick() {
  ModalResult = 2;
  done(ModalResult);
}

void TDateSelector::reject() {
  // Esc reaches the Cancel button first; what is left is the window being closed otherwise.
  CancelButtonClick();
}

void TDateSelector::HelpbuttonClick() {
  HelpWindow::ShowHelpContext(kHelpContext);
}
