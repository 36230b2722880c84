#pragma once

#include <QDialog>
#include <QStringList>

class QAction;
class QButtonGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class TFlatButton;
class TPopupHelp;

// "Task Filter": which tasks the main window's grid shows, as three values the dialog only
// collects: a date range (0 All Dates, 1 Today, 2 Tomorrow, 3 Next 7 Days, 4 Next 30 Days,
// 5 Next 365 Days, 6 Before Today), key words separated by commas (empty: any), and a priority
// (0 all, 1 High, 2 Medium, 3 Low only). The caller sets them, shows the dialog, and after OK
// (ModalResult 1) takes them back and builds its filter; Reset clears them and closes with OK.
class TFilterForm : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kDateFilterCount = 7;
  static constexpr int kPriorityFilterCount = 4;

  // `keyWordList` gives the key-word pick menu, in its order.
  explicit TFilterForm(const QStringList& keyWordList, QWidget* parent = nullptr);

  // 0 while open, 1 after OK or Reset, 2 after Cancel; exec() returns it.
  int ModalResult = 0;

  // Item indexes of the two radio groups; a value out of range is ignored.
  int DateFilterIndex() const;
  void SetDateFilterIndex(int index);
  int PriorityFilterIndex() const;
  void SetPriorityFilterIndex(int index);
  // The key words exactly as typed, blanks and letter case included.
  QString KeyFilterText() const;
  void SetKeyFilterText(const QString& text);

  void KeyListMenuItemClick(QAction* item);
  void OKButtonClick();
  void CancelButtonClick();
  void ResetButtonClick();
  void HelpButtonClick();

  void reject() override;

 private:
  void FormCreate(const QStringList& keyWordList);
  QGroupBox* MakeRadioGroup(const char* name, const QString& caption, const QStringList& items,
                            int columns, const QRect& geometry, QButtonGroup** group);

  QGroupBox* DateFilter = nullptr;
  QButtonGroup* DateFilterItems = nullptr;
  QGroupBox* KeysBox = nullptr;
  QLineEdit* KeyWords = nullptr;
  QLabel* Label3 = nullptr;
  TFlatButton* KeyListbutton = nullptr;
  QMenu* KeyListMenu = nullptr;
  QGroupBox* PriorityFilter = nullptr;
  QButtonGroup* PriorityFilterItems = nullptr;
  QFrame* Panel1 = nullptr;
  TFlatButton* OKButton = nullptr;
  TFlatButton* CancelButton = nullptr;
  TFlatButton* ResetButton = nullptr;
  TFlatButton* Helpbutton = nullptr;
  // The popup-help controls: made and named here; their texts and behaviour come with the
  // program's popup help.
  TFlatButton* MouseHelpButton = nullptr;
  QMenu* WhatsThisMenu = nullptr;
  QAction* Whatsthis = nullptr;
  TPopupHelp* PopupHelp1 = nullptr;
};
