#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <vector>

#include "app/DeleteSweep.h"
#include "app/KeyWordList.h"
#include "app/TaskFilter.h"
#include "db/Clock.h"
#include "dialogs/TaskFields.h"
#include "store/TaskStore.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTableView;
class DataSetModel;
class TFlatButton;
class TPopupHelp;
class TSplitPanes;

// The program's one window: tool bar, task grid with the note underneath, bottom bar, main
// menu and, while it opens the store, a status box. It owns the task store's components.
class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  // `clock` gives "today" and "now" to the window and its dialogs; empty: the system clock.
  explicit TMainScreen(QWidget* parent = nullptr, Clock clock = {});
  ~TMainScreen() override;

  // The task store the window works on (tests read the tasks through it).
  TaskStore& Store() { return store_; }
  // True once the opening sequence has run.
  bool Opened() const { return !firstActivation_; }
  // The filter in force, and choosing another (as the filter dialog and Show DONE do).
  const TaskFilter& Filter() const { return appliedFilter_; }
  void ApplyFilter(const TaskFilter& filter);
  // The key words the pick menus offer, in their order.
  const QStringList& KeyWords() const { return keyWords_.Words(); }
  // Commands that add tasks outside the editor (an import) add their words to the menus here.
  KeyWordList& KeyWordMenu() { return keyWords_; }
  // The order in force as the engine numbers it, and whether the indexes want rebuilding.
  int SortOrderNumber() const { return sortOrderNumber_; }
  bool ReindexNeeded() const { return reindexNeeded_; }
  // "Today" for the grid's emphasis, the quick dates and the bulk deletes.
  double Today() const { return clock_.Today(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  // The name of the grid column's field that is current (upper case).
  QString SelectedFieldName() const;
  // ---- What a double click in the grid, a key-word pick and leaving the note pane do ----
  void KeyListMenuItemClick(const QString& caption);
  void ActiveGridDblClick(const QPoint& globalPos);
  void ActiveNotesExit();
  // ---- Commands only the window's own controls and menus run ----
  void SetUpFilter();
  // Opens the column menu of the current cell at `globalPos` (double click or context key).
  void OpenColumnMenu(const QPoint& globalPos);
  void ActiveNotesDblClick();
  void Calendar1Click();
  void QuickDate1Click();
  void MediumPriority1Click();
  void ExitButtonClick();
  void AboutClick();
  void PrintButtonClick();
  void CloneButtonClick();
  void DoneToggleButtonClick();
  void NewButtonClick();
  void EditButtonClick();
  void FilterbuttonClick();
  void HelpButtonClick();
  void CalendarButtonClick();
  void SetButtons();
  void ButtonSortMenuPopup();
  void GoToToday();
  void SortBy(const QString& tag);
  void ClearDate1Click();
  void QuickDateItemClick(QAction* item);
  void High1Click();
  void Low1Click();
  void ShowDoneClick();
  void FilterClearbuttonClick();
  void DeleteButtonClick();
  void RebuildIndexes1Click();
  void AllMarkedDone1Click();
  void AllWithDatesBeforeToday1Click();
  void AllTasksMatchingCurrentFilter1Click();
  void AllTasksNOTMatchingCurrentFilter1Click();
  void AllTasks1Click();
  // Brings back the tasks the last delete or bulk delete removed, while no pack has run since.
  void UndoDelete1Click();

  class NoteLink;
  // The Show DONE button's two pictures, drawn for the palette and the screen of the moment.
  void RenderShowDonePictures();
  void BuildLayout();
  void BuildMenus();
  void BuildSortMenus(QMenu* file);
  void BuildDeleteMenu(QMenu* file);
  void BuildHelpMenu();
  void BuildPopupMenus();
  void BuildGrid();
  void FormCreate();
  void FormActivate();
  bool FormCloseQuery();
  void LoadPreferences();
  void SavePreferences();
  void FitGrid();
  void SetMainMenuSortChecks();
  void BuildKeyWordList();
  void TasqTableKEYSSetText(const QString& text);
  void DoKeyListMenu(const QPoint& at);
  void DoQuickTime();
  bool FormKeyDown(QKeyEvent* event);
  bool LeavesTabEater(QKeyEvent* key, QWidget* focus);  // Ctrl+Tab out of the grid or the note
  void OpenCurrentCellMenu();                           // the Menu key, or Shift+F10
  void EditField(const char* field, const QString& value);
  void GridRowChanged(int row);
  void ShowStatus(const QString& text);
  // Adds (mode 1) or edits (mode 0) a task through the task editor.
  void CallTaskEdit(int mode);
  // The current task's fields for the editor, and the editor's fields written to the task.
  TaskFields CurrentTask() const;
  void SaveTask(const TaskFields& task, bool adding);
  void BulkDelete(DeleteSweep::Kind kind);
  // The live records the bulk delete `sweep` removes, in record-number order.
  std::vector<quint32> SweepCandidates(const DeleteSweep& sweep);
  // Record numbers of the records marked deleted (index = record number).
  std::vector<bool> MarkedRecords();
  void RememberDeleted(std::vector<quint32> recnos);
  void ForgetDeleted();
  // After a maintenance open (rebuild, emptying): the store opened again for use, in date and
  // time order, the filter applied; false when it could not be opened and the window closes.
  bool ReopenInDateOrder();
  // The filter the window's choices describe now.
  TaskFilter ChosenFilter() const;

  // ---- Controls (object names as the members, see BuildLayout and BuildMenus) ----
  TFlatButton* Editbutton = nullptr;
  TFlatButton* Newbutton = nullptr;
  TFlatButton* CloneButton = nullptr;
  TFlatButton* DeleteButton = nullptr;
  TFlatButton* Filterbutton = nullptr;
  TFlatButton* OrderButton = nullptr;
  TFlatButton* DoneToggleButton = nullptr;
  TFlatButton* Printbutton = nullptr;
  TFlatButton* CalendarButton = nullptr;
  TFlatButton* ExitButton = nullptr;
  TFlatButton* FilterClearbutton = nullptr;
  TFlatButton* ShowDone = nullptr;
  TFlatButton* Helpbutton = nullptr;
  TFlatButton* MouseHelpbutton = nullptr;
  TSplitPanes* SplitPanes1 = nullptr;
  QTableView* ActiveGrid = nullptr;
  QPlainTextEdit* ActiveNotes = nullptr;
  QLabel* Showbmp = nullptr;  // hidden images: the Show DONE button's two pictures
  QLabel* Hidebmp = nullptr;
  QFrame* UpdateStatus = nullptr;
  QLabel* UpdateStatusCaption = nullptr;
  QMenu* DateColumnMenu = nullptr;
  QMenu* QuickDateMenu = nullptr;
  QMenu* PriorityColumnMenu = nullptr;
  QMenu* ButtonSortMenu = nullptr;
  QMenu* WhatsThisMenu = nullptr;
  TPopupHelp* PopupHelp1 = nullptr;
  QList<QAction*> MainSortItems;    // Date+Time, Description, Priority, Key Words
  QList<QAction*> ButtonSortItems;  // the same in the tool-bar menu
  QAction* UndoDelete1 = nullptr;   // File, "Undo Delete" (Ctrl+Z)
  class SyncController* Sync = nullptr;  // File, Synchronize and Sync Settings; the sync timer

  // ---- The task store's components ----
  TaskStore store_;
  TableDataSet& TasqTable;
  DataSetSource& TasqDataSource;
  TTableEngine& TasqEngine;
  TEngineEnv& EngineEnv1;
  DataSetModel* GridModel = nullptr;  // "GridModel"

  // ---- Window state ----
  Clock clock_;
  bool firstActivation_ = true;
  quint8 dateFilterIndex_ = 0;
  quint8 priorityFilterIndex_ = 0;
  bool showDoneTasks_ = false;
  QString keyFilterText_;
  KeyWordList keyWords_;
  int sortOrderNumber_ = 1;
  bool reindexNeeded_ = false;
  bool gridEmphasisOn_ = false;
  std::unique_ptr<NoteLink> noteLink_;
  DeleteHistory deleted_;  // what Undo Delete brings back
  bool preferencesLoaded_ = false;
  bool followingDataset_ = false;
  bool closing_ = false;
  TaskFilter appliedFilter_;  // the choices whose query the engine has in force
};
