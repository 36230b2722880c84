#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <memory>
#include <vector>

#include "app/TaskFilter.h"
#include "store/TaskStore.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTableView;
class TDataSetModel;
class TFlatButton;
class TPopupHelp;
class TSplitPanes;

// The program's one window: tool bar, task grid with the note underneath, bottom bar, main
// menu and, while it opens the store, a status box. It owns the task store's components.
class TMainScreen : public QMainWindow {
  Q_OBJECT
 public:
  explicit TMainScreen(QWidget* parent = nullptr);
  ~TMainScreen() override;

  // ---- Controls (object names as below) ----
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
  TaskStore Store;
  TTable& TasqTable;
  TDataSource& TasqDataSource;
  TTableEngine& TasqEngine;
  TEngineEnv& EngineEnv1;
  TDataSetModel* GridModel = nullptr;

  // ---- Window state ----
  bool FirstActivation = true;
  quint8 DateFilterIndex = 0;
  quint8 PriorityFilterIndex = 0;
  bool ShowDoneTasks = false;
  QString KeyFilterText;
  std::unique_ptr<QStringList> KeyWordList;
  int SortOrderNumber = 1;
  bool ReindexNeeded = false;
  static bool GridEmphasisOn;

  // ---- Operations ----
  void FormCreate();
  void FormActivate();
  bool FormCloseQuery();
  void GoToToday();
  void SetButtons();
  void LoadPreferences();
  void SavePreferences();
  void FitGrid();
  void SetUpFilter();
  void SetMainMenuSortChecks();
  void ButtonSortMenuPopup();
  void SortBy(const QString& tag);
  void BuildKeyWordList();
  static void BreakStringIntoWords(const QString& text, QStringList* list);
  void TasqTableKEYSSetText(const QString& text);
  void DoKeyListMenu(const QPoint& at);
  void KeyListMenuItemClick(const QString& caption);
  void TasqTableCalcFields(TTable& table);
  void DoQuickTime();
  // "Today" for the grid's emphasis and the quick dates; tests may fix it.
  static double Today();
  static void SetTodayForTest(double today);

  // Handlers.
  void ActiveGridDblClick(const QPoint& globalPos);
  void ActiveNotesDblClick();
  void ActiveNotesExit();
  void Calendar1Click();
  void QuickDate1Click();
  void ClearDate1Click();
  void QuickDateItemClick(QAction* item);
  void High1Click();
  void MediumPriority1Click();
  void Low1Click();
  void ShowDoneClick();
  void FilterClearbuttonClick();
  void HelpButtonClick();
  void ExitButtonClick();
  void AboutClick();
  void PrintButtonClick();
  void CloneButtonClick();
  void DeleteButtonClick();
  void DoneToggleButtonClick();
  void CalendarButtonClick();
  void RebuildIndexes1Click();
  void NewButtonClick();
  void EditButtonClick();
  // Adds (mode 1) or edits (mode 0) a task through the task editor.
  void CallTaskEdit(int mode);
  void FilterbuttonClick();
  void AllMarkedDone1Click();
  void AllWithDatesBeforeToday1Click();
  void AllTasksMatchingCurrentFilter1Click();
  void AllTasksNOTMatchingCurrentFilter1Click();
  void AllTasks1Click();
  // Brings back the tasks the last delete or bulk delete removed, while no pack has run since.
  void UndoDelete1Click();
  // The user's short date pattern with every d and m after the first two of each dropped, so
  // that no day or month name reaches the editor's date field.
  static QString ReducedDatePattern(const QString& pattern);
  // The name of the grid column's field that is current (upper case).
  QString SelectedFieldName() const;
  // Opens the column menu of the current cell at `globalPos` (double click or context key).
  void OpenColumnMenu(const QPoint& globalPos);

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class NoteLink;
  void BuildLayout();
  void BuildMenus();
  void BuildGrid();
  bool FormKeyDown(QKeyEvent* event);
  bool LeavesTabEater(QKeyEvent* key, QWidget* focus);  // Ctrl+Tab out of the grid or the note
  void OpenCurrentCellMenu();                           // the Menu key, or Shift+F10
  void EditField(const char* field, const QString& value);
  void GridRowChanged(int row);
  void ShowStatus(const QString& text);
  enum class Sweep { MarkedDone, BeforeToday, Matching, NotMatching };
  void BulkDelete(Sweep kind);
  // The unmarked records the bulk delete `kind` removes, in record-number order.
  std::vector<quint32> SweepCandidates(Sweep kind);
  // Record numbers of the marked records (index = record number).
  std::vector<bool> MarkedRecords();
  void RememberDeleted(std::vector<quint32> recnos);
  // After a maintenance open (rebuild, emptying): the store opened again for use, in date and
  // time order, the filter applied; false when it could not be opened and the window closes.
  bool ReopenInDateOrder();
  static QString CountSentence(size_t count);
  // The filter the window's choices describe now.
  TaskFilter ChosenFilter() const;

  std::unique_ptr<NoteLink> noteLink_;
  std::vector<quint32> lastDeleted_;  // what Undo Delete brings back
  bool preferencesLoaded_ = false;
  bool followingDataset_ = false;
  bool closing_ = false;
  TaskFilter appliedFilter_;  // the choices whose query the engine has in force
};
