#pragma once

#include <QDialog>
#include <QList>

class QFrame;
class QLabel;
class TFlatButton;
class TGraphicPanel;

// Picks a time of day with two clicks: one of 24 hour faces (two rows of morning hours above two
// rows of afternoon hours, on the 12-hour clock) and one of 60 minute faces. The caption reads
// the time chosen so far ("Set Time As: 02:05 pm"); the chosen faces are highlighted. The caller
// sets SelectedTime, places and shows the dialog, and reads SelectedTime after OK. Seconds of the
// starting time are dropped when the dialog is shown.
class TSetTimeDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TSetTimeDialog(QWidget* parent = nullptr);

  // A date-time value; only its time of day counts. After the dialog has been shown it is the
  // hour and minute shown in the caption, with no seconds and no date.
  double SelectedTime() const { return selectedTime_; }
  void SetSelectedTime(double value) { selectedTime_ = value; }
  int SelectedHour() const { return selectedHour_; }
  int SelectedMinute() const { return selectedMinute_; }

  // 0 while open, 1 after OK, 2 after Cancel; exec() returns it.
  int ModalResult = 0;

  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void FormActivate();
  void HourClick(TGraphicPanel* sender);
  void MinuteClick(TGraphicPanel* sender);
  void ShowDateTime();
  void OkbuttonClick();
  void CancelButtonClick();
  void HelpbuttonClick();

  QFrame* HourPanel = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QFrame* MinutePanel = nullptr;
  QLabel* Label4 = nullptr;
  QList<TGraphicPanel*> hourPanels_;    // GraphicPanel1..24, tag = hour 0..23
  QList<TGraphicPanel*> minutePanels_;  // GraphicPanel25..84, tag = minute 0..59
  TFlatButton* Okbutton = nullptr;
  TFlatButton* CancelButton = nullptr;
  TFlatButton* Helpbutton = nullptr;

  double selectedTime_ = 0;
  int selectedHour_ = 0;
  int selectedMinute_ = 0;
};
