#pragma once

#include <QDialog>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class TFlatButton;
class TMonthGrid;
class TPopupHelp;

// "Select a Date": a month grid with the chosen date written out in full above it, buttons to
// step a year or a month either way or to come back to today, and OK, Cancel and Help. The
// caller sets Calendar()->SetSelectedDate to the starting date, places and shows the dialog, and
// after OK (ModalResult 1) reads Calendar()->SelectedDate(). The grid holds only real dates, so
// OK needs no check.
class TDateSelector : public QDialog {
  Q_OBJECT

 public:
  explicit TDateSelector(QWidget* parent = nullptr);

  TMonthGrid* Calendar() const { return calendar_; }

  // 0 while open, 1 after OK, 2 after Cancel; exec() returns it.
  int ModalResult = 0;

  void reject() override;

 private:
  void FormCreate();
  void CalendarChange();
  void PrevYearClick();
  void PrevMonthClick();
  void CurrentDateClick();
  void NextMonthClick();
  void NextYearClick();
  void OKButtonClick();
  void CancelButtonClick();
  void HelpbuttonClick();

  QLabel* DateLabel = nullptr;
  TMonthGrid* calendar_ = nullptr;  // object name "Calendar"
  TFlatButton* PrevYear = nullptr;
  TFlatButton* PrevMonth = nullptr;
  TFlatButton* DoCurrentDate = nullptr;
  TFlatButton* NextMonth = nullptr;
  TFlatButton* NextYear = nullptr;
  QFrame* Panel1 = nullptr;
  TFlatButton* OKButton = nullptr;
  TFlatButton* CancelButton = nullptr;
  TFlatButton* Helpbutton = nullptr;
  // The popup-help controls: made and named here, given their behaviour with the program's
  // popup help.
  TFlatButton* MouseHelpButton = nullptr;
  QMenu* WhatsThisMenu = nullptr;
  QAction* WhatsthisMenuItem = nullptr;
  TPopupHelp* PopupHelp1 = nullptr;
};
