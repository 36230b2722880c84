#include "dialogs/TSetTimeDialog.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "widgets/TGraphicPanel.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"

namespace {

constexpr int kHelpContext = 2986;
constexpr int kFaceWidth = 24;
constexpr int kFaceHeight = 19;

QFont DialogFont(bool bold, int pixels) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

QFrame* MakePanel(QWidget* parent, const char* name, const QRect& geometry) {
  auto* panel = new QFrame(parent);
  panel->setObjectName(QString::fromLatin1(name));
  panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  panel->setLineWidth(1);
  panel->setGeometry(geometry);
  return panel;
}

// The title bar of a group of faces, in the colours of an active window's title. The palette
// has no title colours; the selection colours are the system's nearest pair.
QLabel* MakeTitle(QFrame* panel, const char* name, const QString& text) {
  auto* title = new QLabel(text, panel);
  title->setObjectName(QString::fromLatin1(name));
  title->setFont(DialogFont(true, 11));
  title->setAutoFillBackground(true);
  QPalette palette = title->palette();
  palette.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::WindowText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  title->setPalette(palette);
  title->setGeometry(1, 1, panel->width() - 2, 16);
  return title;
}

TGraphicPanel* MakeFace(QWidget* parent, int number, int tag, const QString& caption,
                        const QString& hint, const QPoint& at) {
  auto* face = new TGraphicPanel(parent);
  face->setObjectName(QStringLiteral("GraphicPanel%1").arg(number));
  face->SetTag(tag);
  face->SetCaption(caption);
  face->SetHint(hint);
  face->setAccessibleDescription(hint);  // a screen reader says the caption, then this
  face->setGeometry(QRect(at, QSize(kFaceWidth, kFaceHeight)));
  return face;
}

}  // namespace

TSetTimeDialog::TSetTimeDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SetTimeDialog"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setFont(DialogFont(false, 11));
  setFixedSize(306, 334);
  setModal(true);

  // Hours: two rows of morning hours over two rows of afternoon hours, a gap between them, and
  // "AM" and "PM" beside the first row of each half.
  HourPanel = MakePanel(this, "HourPanel", QRect(17, 8, 271, 125));
  Label3 = MakeTitle(HourPanel, "Label3", QStringLiteral("  Hour"));
  const QString hourHint = QStringLiteral("Click to set the hours portion of the time");
  constexpr int kHourLeft = 44;
  constexpr int kHourRowTops[4] = {24, 24 + kFaceHeight, 72, 72 + kFaceHeight};
  for (int hour = 0; hour < 24; ++hour) {
    const int row = hour / 6;
    const int clock = hour % 12 == 0 ? 12 : hour % 12;
    TGraphicPanel* face = MakeFace(HourPanel, hour + 1, hour, QString::number(clock), hourHint,
                                   QPoint(kHourLeft + (hour % 6) * kFaceWidth, kHourRowTops[row]));
    face->setAccessibleName(QStringLiteral("%1 %2").arg(clock).arg(hour < 12 ? "AM" : "PM"));
    connect(face, &TGraphicPanel::Click, this, [this, face] { HourClick(face); });
    hourPanels_.append(face);
  }
  const int labelLeft = kHourLeft + 6 * kFaceWidth + 10;
  Label1 = new QLabel(QStringLiteral("AM"), HourPanel);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(labelLeft, kHourRowTops[0], 40, kFaceHeight);
  Label2 = new QLabel(QStringLiteral("PM"), HourPanel);
  Label2->setObjectName(QStringLiteral("Label2"));
  Label2->setGeometry(labelLeft, kHourRowTops[2], 40, kFaceHeight);

  // Minutes: six rows of ten, row k holding 10k .. 10k + 9.
  MinutePanel = MakePanel(this, "MinutePanel", QRect(18, 141, 270, 144));
  Label4 = MakeTitle(MinutePanel, "Label4", QStringLiteral("  Minute"));
  const QString minuteHint = QStringLiteral("Click to set the minutes portion of the time");
  constexpr int kMinuteLeft = (270 - 10 * kFaceWidth) / 2;
  for (int minute = 0; minute < 60; ++minute) {
    TGraphicPanel* face = MakeFace(
        MinutePanel, minute + 25, minute, QStringLiteral("%1").arg(minute, 2, 10, QLatin1Char('0')),
        minuteHint,
        QPoint(kMinuteLeft + (minute % 10) * kFaceWidth, 22 + (minute / 10) * kFaceHeight));
    connect(face, &TGraphicPanel::Click, this, [this, face] { MinuteClick(face); });
    minutePanels_.append(face);
  }

  Okbutton = new TFlatButton(QStringLiteral("Ok"), this);
  Okbutton->setObjectName(QStringLiteral("Okbutton"));
  Okbutton->setToolTip(QStringLiteral("Save this time"));
  Okbutton->SetDefault(true);
  Okbutton->setGeometry(30, 296, 75, 25);
  connect(Okbutton, &TFlatButton::clicked, this, &TSetTimeDialog::OkbuttonClick);

  CancelButton = new TFlatButton(QStringLiteral("&Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setToolTip(QStringLiteral("Cancel all changes made"));
  CancelButton->SetCancel(true);
  CancelButton->setGeometry(116, 296, 75, 25);
  connect(CancelButton, &TFlatButton::clicked, this, &TSetTimeDialog::CancelButtonClick);

  Helpbutton = new TFlatButton(QStringLiteral("&Help"), this);
  Helpbutton->setObjectName(QStringLiteral("Helpbutton"));
  Helpbutton->setToolTip(QStringLiteral("Explain how to set the time"));
  Helpbutton->setGeometry(202, 296, 75, 25);
  connect(Helpbutton, &TFlatButton::clicked, this, &TSetTimeDialog::HelpbuttonClick);
  HelpWindow::InstallHelpKey(this, kHelpContext);
}

void TSetTimeDialog::showEvent(QShowEvent* event) {
  // Activation need not follow showing at once (or at all, without a window manager); the
  // dialog must show the starting time from its first paint.
  FormActivate();
  QDialog::showEvent(event);
}

void TSetTimeDialog::changeEvent(QEvent* event) {
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  QDialog::changeEvent(event);
}

void TSetTimeDialog::FormActivate() {
  int hour = 0, minute = 0, second = 0, msec = 0;
  // A value that is no time at all (not finite, beyond the year 9999) starts at midnight rather
  // than failing in the caller's hands.
  if (DateTimeValue::IsValidValue(selectedTime_))
    DateTimeValue::DecodeTime(selectedTime_, hour, minute, second, msec);
  selectedHour_ = hour;
  selectedMinute_ = minute;
  ShowDateTime();
}

void TSetTimeDialog::HourClick(TGraphicPanel* sender) {
  selectedHour_ = sender->Tag();
  ShowDateTime();
}

void TSetTimeDialog::MinuteClick(TGraphicPanel* sender) {
  selectedMinute_ = sender->Tag();
  ShowDateTime();
}

void TSetTimeDialog::ShowDateTime() {
  selectedTime_ = DateTimeValue::EncodeTime(selectedHour_, selectedMinute_, 0);
  setWindowTitle(QStringLiteral("Set Time As: ") +
                 DateTimeText::FormatDateTime(QStringLiteral("hh:mm am/pm"), selectedTime_));
  const QPalette& pal = palette();
  auto paint = [&pal](const QList<TGraphicPanel*>& faces, int selected) {
    for (TGraphicPanel* face : faces) {
      const bool on = face->Tag() == selected;
      face->SetColor(pal.color(on ? QPalette::Highlight : QPalette::Button));
      face->SetFontColor(pal.color(on ? QPalette::HighlightedText : QPalette::ButtonText));
    }
  };
  paint(hourPanels_, selectedHour_);
  paint(minutePanels_, selectedMinute_);
}

void TSetTimeDialog::OkbuttonClick() {
  ModalResult = 1;
  done(ModalResult);
}

void TSetTimeDialog::CancelButtonClick() {
  ModalResult = 2;
  done(ModalResult);
}

void TSetTimeDialog::reject() {
  // Esc reaches the Cancel button first; what is left is the window being closed otherwise.
  CancelButtonClick();
}

void TSetTimeDialog::HelpbuttonClick() {
  HelpWindow::ShowHelpContext(kHelpContext);
}
