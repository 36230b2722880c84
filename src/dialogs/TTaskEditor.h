#pragma once

#include <QDialog>
#include <QStringList>

#include "db/Clock.h"
#include "dialogs/TaskFields.h"

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class TFlatButton;
class TPopupHelp;

// "Task Editor": one task's description, done mark, key words, date, time, priority and note.
// It serves adding and editing alike and never touches the task store: the caller hands in the
// task's fields, shows the dialog, and after OK (ModalResult 1) takes the fields back.
//
// Dates and times are typed in the regional settings in force while the dialog is shown (the
// caller puts the user's own in force around exec()); leaving the date or time field, or OK,
// checks the text, rewrites it in the short date or time format, or, when it is no date or
// time, says so, empties the field and puts the focus back into it. An empty field means no
// date or no time.
//
// The caller:
//   TTaskEditor editor(keyWordList, mainWindow, clock);
//   editor.SetFields(fields);     // or SetNewTask()
//   WindowPlacement::PlaceDialog(&editor);
//   { FormatsScope user(FormatsScope::Set::User); editor.exec(); }
//   if (editor.ModalResult == 1) ... editor.Fields() ...
class TTaskEditor : public QDialog {
  Q_OBJECT

 public:
  // The present moment as a date-time value; "today" and "now" of the dialog (quick dates,
  // examples in messages, starting points of the pickers) come from it.
  using Clock = ::Clock;

  // `keyWordList` gives the key-word pick menu, in its order. An empty `now` is the system clock.
  explicit TTaskEditor(const QStringList& keyWordList, QWidget* parent = nullptr, Clock now = {});

  // 0 while open, 1 after OK, 2 after Cancel; exec() returns it. A close that is neither (the
  // window manager's close) ends with what the "Save changes" question left.
  int ModalResult = 0;

  // Fills the controls for editing `task` ("Editing Task"); the date and time are shown in the
  // user's formats, an unreadable stored date or time as an empty field.
  void SetFields(const TaskFields& task);
  // Fills the controls for a new task ("Adding Task"): a placeholder description, not done,
  // no key words, date, time or note, priority medium.
  void SetNewTask();
  // What the controls hold, in the stored forms: the date and time read in the user's formats,
  // empty when they are no date or time.
  TaskFields Fields() const;

  // The controls (object names as here); tests type into them.
  QLabel* TaskLabel = nullptr;    // "Adding Task" or "Editing Task"
  QLineEdit* Task = nullptr;      // the description, at most 50 characters
  QCheckBox* IsDone = nullptr;    // "Done?"
  QLineEdit* KeyWords = nullptr;  // key words separated by blanks
  QLineEdit* DateEdit = nullptr;  // a date in the short date format in force, or empty
  QLineEdit* TimeEdit = nullptr;  // a time in the short time format in force, or empty
  QRadioButton* pHigh = nullptr;  // one of the three is checked; Medium on creation
  QRadioButton* pMedium = nullptr;
  QRadioButton* pLow = nullptr;
  QPlainTextEdit* Notes = nullptr;  // the note

  // The handlers, public so that the caller's tests and the form's own wiring reach the same
  // code. Each does what the control's event does.
  void DateEditExit();
  void TimeEditExit();
  void CalendarButtonClick();
  void QuickDateItemClick(QAction* item);
  void QuickTimeButtonClick();
  void KeyListMenuItemClick(QAction* item);
  void OKButtonClick();
  void CancelButtonClick();
  // Asked when the window is closed by other means than OK or Cancel; `canClose` is false only
  // when the user wanted the changes saved and a date or time was refused (see closeEvent).
  void FormCloseQuery(bool& canClose);
  void HelpButtonClick();

  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate(const QStringList& keyWordList);
  void FormShow();
  void FormActivate();
  double Now() const;
  double Today() const;

  Clock now_;
  bool EntriesValid = false;
  // A check that fails moves the focus, which makes the other field lose it; that move is part
  // of the check, not the user leaving the field.
  bool checking_ = false;

  QLabel* KeyWordsLabel = nullptr;
  TFlatButton* KeyListbutton = nullptr;
  QMenu* KeyListMenu = nullptr;
  QFrame* DateFormat = nullptr;
  QLabel* DateEditLabel = nullptr;
  TFlatButton* CalendarButton = nullptr;
  TFlatButton* QuickDateButton = nullptr;
  QMenu* QuickDateMenu = nullptr;
  QFrame* TimeFormat = nullptr;
  QLabel* TimeEditLabel = nullptr;
  TFlatButton* QuickTimeButton = nullptr;
  QFrame* PriorityPanel = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* NotesLabel = nullptr;
  QFrame* Panel1 = nullptr;
  TFlatButton* OKButton = nullptr;
  TFlatButton* CancelButton = nullptr;
  TFlatButton* Helpbutton = nullptr;
  // The popup-help controls: made and named here; their texts and behaviour come with the
  // program's popup help.
  TFlatButton* MouseHelpButton = nullptr;
  QMenu* WhatsThisMenu = nullptr;
  QAction* Whatsthis = nullptr;
  TPopupHelp* PopupHelp1 = nullptr;
};
