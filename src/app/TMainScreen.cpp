#include "app/TMainScreen.h"

#include "app/SyncController.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStyle>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <QElapsedTimer>

#include "app/AppPictures.h"
#include "app/ICalCommands.h"
#include "app/MainScreenHelp.h"
#include "app/TSplashform.h"
#include "app/TaskGridDelegate.h"
#include "app/TaskDateRules.h"
#include "app/TaskDisplayTexts.h"
#include "app/TaskSorts.h"
#include "db/CursorLayer.h"
#include "db/DateTimeText.h"
#include "db/RegionalSettings.h"
#include "db/StoredDateTime.h"
#include "db/DataSetLink.h"
#include "db/DataSetModel.h"
#include "dialogs/TDateSelector.h"
#include "dialogs/TFilterForm.h"
#include "dialogs/TMonthGrid.h"
#include "dialogs/QuickDates.h"
#include "dialogs/TSetTimeDialog.h"
#include "dialogs/TTaskEditor.h"
#include "dialogs/TaskEditorTextGuard.h"
#include "platform/UserMessages.h"
#include "report/ReportPrinting.h"
#include "report/TReportSetup.h"
#include "platform/BusyCursor.h"
#include "platform/StartupInfo.h"
#include "store/MainPreferences.h"
#include "store/WindowPlacement.h"
#include "widgets/TFlatButton.h"
#include "widgets/HelpWindow.h"
#include "widgets/TSplitPanes.h"
#include "widgets/TSplitScrollPane.h"

namespace {

void ProcessMessages() { QCoreApplication::processEvents(); }

// The note as the task file stores it: its lines, and a note whose stored text (lines joined by
// CR LF) is a whole number of four-character units gets a blank at its end.
QStringList StoredNote(const QString& text) {
  QStringList note;
  if (!text.isEmpty()) note = text.split(QLatin1Char('\n'));
  const qsizetype length = note.join(QStringLiteral("\r\n")).size();
  if (!note.isEmpty() && length > 0 && length % 4 == 0) note.last() += QLatin1Char(' ');
  return note;
}

}  // namespace

// Binds the note memo to NOTE of the current task: it shows the note of each record the
// dataset moves to, and typing puts the dataset into edit with the memo's text as the note.
class TMainScreen::NoteLink : public DataSetLink {
 public:
  explicit NoteLink(TMainScreen* window) : w_(window) {}
  void ActiveChanged() override { Load(); }
  void DataSetChanged() override { Load(); }
  void DataSetScrolled(int) override { Load(); }
  void RecordChanged(DataSetField* field) override {
    if (field == nullptr || field->FieldName() == QLatin1String("NOTE")) Load();
  }
  void EditingChanged() override {
    if (DataSet() != nullptr && DataSet()->State() == TableDataSet::dsBrowse) modified_ = false;
  }
  void UpdateData() override {
    if (!modified_ || DataSet() == nullptr) return;
    modified_ = false;
    DataSet()->FieldByName(QStringLiteral("NOTE"))->SetAsString(w_->ActiveNotes->toPlainText());
  }
  void UserTyped() {
    TableDataSet* t = DataSet();
    if (loading_ || t == nullptr || !t->Active() || t->IsEmpty()) return;
    if (t->State() == TableDataSet::dsBrowse) t->Edit();
    modified_ = true;
  }
  void Load() {
    if (modified_) return;
    TableDataSet* t = DataSet();
    loading_ = true;
    QString text;
    if (t != nullptr && t->Active() && !t->IsEmpty())
      text = t->FieldByName(QStringLiteral("NOTE"))->AsString();
    if (w_->ActiveNotes->toPlainText() != text) w_->ActiveNotes->setPlainText(text);
    loading_ = false;
  }

 private:
  TMainScreen* w_;
  bool loading_ = false;
  bool modified_ = false;
};

TMainScreen::TMainScreen(QWidget* parent, Clock clock)
    : QMainWindow(parent),
      TasqTable(store_.TasqTable),
      TasqDataSource(store_.TasqDataSource),
      TasqEngine(store_.TasqEngine),
      EngineEnv1(store_.EngineEnv1),
      clock_(std::move(clock)) {
  setObjectName(QStringLiteral("MainScreen"));
  setWindowTitle(QStringLiteral("Listwise"));
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  setFont(font);
  store_.SetDialogParent(this);
  WindowPlacement::SetMainWindow(this);
  BuildLayout();
  BuildMenus();
  BuildGrid();
  PopupHelp1 = MainScreenHelp::Install(this);
  store_.SetStatusLabel(UpdateStatusCaption);
  // One filter on the whole application sees the keys of every control of the window (the form's
  // key preview) and the grid's and the note's mouse and focus events. It is the only one:
  // a second filter on a control would see each of its events twice, and a key that goes on to
  // the control (Insert, Delete) would run its command twice.
  qApp->installEventFilter(this);
  FormCreate();
}

TMainScreen::~TMainScreen() {
  qApp->removeEventFilter(this);
  WindowPlacement::SetMainWindow(nullptr);
}

// ---- Layout ------------------------------------------------------------------------------------

void TMainScreen::BuildLayout() {
  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("Central"));
  setCentralWidget(central);
  auto* column = new QVBoxLayout(central);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto button = [this](const char* name, const QString& caption, QWidget* parent) {
    auto* b = new TFlatButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setFixedHeight(32);
    b->setToolTip(QString(caption).remove(QLatin1Char('&')));
    return b;
  };

  auto* toolBar = new QWidget(central);
  toolBar->setObjectName(QStringLiteral("ToolBar"));
  toolBar->setFixedHeight(39);
  auto* tools = new QHBoxLayout(toolBar);
  tools->setContentsMargins(4, 3, 4, 3);
  tools->setSpacing(2);
  Editbutton = button("Editbutton", QStringLiteral("&Edit"), toolBar);
  Newbutton = button("Newbutton", QStringLiteral("&New"), toolBar);
  CloneButton = button("CloneButton", QStringLiteral("&Clone"), toolBar);
  DeleteButton = button("DeleteButton", QStringLiteral("&Delete"), toolBar);
  Filterbutton = button("Filterbutton", QStringLiteral("F&ilter"), toolBar);
  OrderButton = button("OrderButton", QStringLiteral("&S&ort"), toolBar);
  DoneToggleButton = button("DoneToggleButton", QStringLiteral("D&one"), toolBar);
  Printbutton = button("Printbutton", QStringLiteral("&Report"), toolBar);
  CalendarButton = button("CalendarButton", QStringLiteral("Ca&lendar"), toolBar);
  const std::pair<TFlatButton*, const char*> pictures[] = {
      {Editbutton, "edit"},       {Newbutton, "new"},       {CloneButton, "clone"},
      {DeleteButton, "delete"},   {Filterbutton, "filter"}, {OrderButton, "sort"},
      {DoneToggleButton, "done"}, {Printbutton, "report"},  {CalendarButton, "calendar"}};
  for (const auto& [b, picture] : pictures) {
    b->SetPicture(AppPictures::Picture(QString::fromLatin1(picture)));
    b->SetLayout(TFlatButton::blBitmapLeft);
    b->setMinimumWidth(64);
    // An empty list hides the task commands; the others keep their places, so no button
    // moves under the pointer.
    QSizePolicy policy = b->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    b->setSizePolicy(policy);
    tools->addWidget(b);
  }
  tools->addStretch(1);
  column->addWidget(toolBar);

  SplitPanes1 = new TSplitPanes(central);
  SplitPanes1->setObjectName(QStringLiteral("SplitPanes1"));
  SplitPanes1->SetOrientation(TSplitPanes::spHorz);
  SplitPanes1->SetBarWidth(8);
  SplitPanes1->SetBarPosition(200);
  SplitPanes1->setAutoFillBackground(true);
  QPalette silver = SplitPanes1->palette();
  silver.setColor(QPalette::Window, QColor(192, 192, 192));
  silver.setColor(QPalette::WindowText, Qt::black);  // the Notes title, on a dark desktop too
  SplitPanes1->setPalette(silver);
  ActiveGrid = new QTableView;
  ActiveGrid->setObjectName(QStringLiteral("ActiveGrid"));
  SplitPanes1->Pane1()->AddControl(ActiveGrid);
  auto* notes = new QWidget;
  notes->setObjectName(QStringLiteral("NotesPanel"));
  auto* notesColumn = new QVBoxLayout(notes);
  notesColumn->setContentsMargins(0, 0, 0, 0);
  notesColumn->setSpacing(0);
  auto* header = new QLabel(QStringLiteral("  Notes"), notes);
  header->setObjectName(QStringLiteral("NotesHeader"));
  header->setFixedHeight(22);
  header->setFrameShape(QFrame::Panel);
  header->setFrameShadow(QFrame::Raised);
  ActiveNotes = new QPlainTextEdit(notes);
  ActiveNotes->setObjectName(QStringLiteral("ActiveNotes"));
  notesColumn->addWidget(header);
  notesColumn->addWidget(ActiveNotes, 1);
  SplitPanes1->Pane2()->AddControl(notes);
  column->addWidget(SplitPanes1, 1);

  auto* bottom = new QWidget(central);
  bottom->setObjectName(QStringLiteral("BottomBar"));
  bottom->setFixedHeight(43);
  auto* bar = new QHBoxLayout(bottom);
  bar->setContentsMargins(4, 5, 4, 5);
  ExitButton = button("ExitButton", QStringLiteral("E&xit"), bottom);
  FilterClearbutton = button("FilterClearbutton", QStringLiteral("   FILTERED [click to clear]"), bottom);
  ShowDone = button("ShowDone", QStringLiteral("Show DONE"), bottom);
  Helpbutton = button("Helpbutton", QStringLiteral("Hel&p"), bottom);
  MouseHelpbutton = button("MouseHelpbutton", QString(), bottom);
  MouseHelpbutton->setToolTip(QStringLiteral("What's this?"));
  MouseHelpbutton->SetPicture(AppPictures::Picture(QStringLiteral("whats-this")));
  Helpbutton->SetPicture(AppPictures::Picture(QStringLiteral("help")));
  ExitButton->SetPicture(AppPictures::Picture(QStringLiteral("exit")));
  MouseHelpbutton->setFixedWidth(32);
  // Rendered at the screen's pixel ratio: the Show DONE button takes these as they are.
  Showbmp = new QLabel(bottom);
  Showbmp->setObjectName(QStringLiteral("Showbmp"));
  Showbmp->hide();
  Hidebmp = new QLabel(bottom);
  Hidebmp->setObjectName(QStringLiteral("Hidebmp"));
  Hidebmp->hide();
  RenderShowDonePictures();
  ExitButton->hide();
  // File, Exit owns Alt+X; the button's letter taking it too would make the key ambiguous, and
  // then neither would act.
  ExitButton->setShortcut(QKeySequence());
  FilterClearbutton->hide();
  // The bottom bar's two filter buttons have no mnemonic and no menu item: Tab reaches them.
  FilterClearbutton->setFocusPolicy(Qt::TabFocus);
  ShowDone->setFocusPolicy(Qt::TabFocus);
  bar->addWidget(ExitButton);
  bar->addWidget(FilterClearbutton);
  bar->addWidget(ShowDone);
  bar->addStretch(1);
  bar->addWidget(Helpbutton);
  bar->addWidget(MouseHelpbutton);
  column->addWidget(bottom);

  UpdateStatus = new QFrame(central);
  UpdateStatus->setObjectName(QStringLiteral("UpdateStatus"));
  UpdateStatus->setFrameShape(QFrame::Box);
  UpdateStatus->setGeometry(66, 91, 437, 70);
  UpdateStatus->setAutoFillBackground(true);
  auto* statusLabel = new QLabel(QStringLiteral("Status:"), UpdateStatus);
  statusLabel->setGeometry(10, 10, 60, 16);
  UpdateStatusCaption = new QLabel(QStringLiteral("Opening Files..."), UpdateStatus);
  UpdateStatusCaption->setObjectName(QStringLiteral("UpdateStatusCaption"));
  UpdateStatusCaption->setGeometry(10, 32, 417, 28);
  UpdateStatus->raise();

  resize(618, 405 + menuBar()->sizeHint().height());

  connect(Newbutton, &QAbstractButton::clicked, this, &TMainScreen::NewButtonClick);
  connect(Editbutton, &QAbstractButton::clicked, this, &TMainScreen::EditButtonClick);
  connect(CloneButton, &QAbstractButton::clicked, this, &TMainScreen::CloneButtonClick);
  connect(DeleteButton, &QAbstractButton::clicked, this, &TMainScreen::DeleteButtonClick);
  connect(DoneToggleButton, &QAbstractButton::clicked, this, &TMainScreen::DoneToggleButtonClick);
  connect(Filterbutton, &QAbstractButton::clicked, this, &TMainScreen::FilterbuttonClick);
  connect(Printbutton, &QAbstractButton::clicked, this, &TMainScreen::PrintButtonClick);
  connect(CalendarButton, &QAbstractButton::clicked, this, &TMainScreen::CalendarButtonClick);
  connect(ExitButton, &QAbstractButton::clicked, this, &TMainScreen::ExitButtonClick);
  connect(FilterClearbutton, &QAbstractButton::clicked, this, &TMainScreen::FilterClearbuttonClick);
  connect(ShowDone, &QAbstractButton::clicked, this, &TMainScreen::ShowDoneClick);
  connect(Helpbutton, &QAbstractButton::clicked, this, &TMainScreen::HelpButtonClick);
}

void TMainScreen::BuildMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
  file->setObjectName(QStringLiteral("File1"));
  QAction* rebuild = file->addAction(QStringLiteral("&Rebuild Indexes"));
  rebuild->setObjectName(QStringLiteral("RebuildIndexes1"));
  connect(rebuild, &QAction::triggered, this, &TMainScreen::RebuildIndexes1Click);
  ICalCommands::AddMenuItems(file, {this, &store_.TasqTable, &keyWords_, [this] { SetButtons(); }});
  BuildSortMenus(file);
  file->addSeparator();
  BuildDeleteMenu(file);
  UndoDelete1 = file->addAction(QStringLiteral("&Undo Delete"));
  UndoDelete1->setObjectName(QStringLiteral("UndoDelete1"));
  UndoDelete1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
  UndoDelete1->setEnabled(false);
  connect(UndoDelete1, &QAction::triggered, this, &TMainScreen::UndoDelete1Click);
  file->addSeparator();
  Sync = new SyncController(this, {[] { return TaskStore::StoredName("LWISE.DBF"); }, [this] { TasqTable.CheckBrowseMode(); },
                                   [this] { SetUpFilter(); BuildKeyWordList(); }});
  Sync->setObjectName(QStringLiteral("SyncController"));
  QAction* synchronize = file->addAction(QStringLiteral("S&ynchronize"));
  synchronize->setObjectName(QStringLiteral("Synchronize1"));
  connect(synchronize, &QAction::triggered, Sync, &SyncController::Synchronize);
  QAction* syncSettings = file->addAction(QStringLiteral("Sync Se&ttings..."));
  syncSettings->setObjectName(QStringLiteral("SyncSettings1"));
  connect(syncSettings, &QAction::triggered, Sync, &SyncController::EditSettings);
  file->addSeparator();
  QAction* exit = file->addAction(QStringLiteral("E&xit"));
  exit->setObjectName(QStringLiteral("Exit1"));
  exit->setShortcut(QKeySequence(Qt::ALT | Qt::Key_X));
  connect(exit, &QAction::triggered, this, &QWidget::close);
  BuildHelpMenu();
  BuildPopupMenus();
}

// The File menu's Sort submenu and the Sort button's menu: the same commands, checked alike.
void TMainScreen::BuildSortMenus(QMenu* file) {
  QMenu* sort = file->addMenu(QStringLiteral("Sort"));
  sort->setObjectName(QStringLiteral("Sort1"));
  ButtonSortMenu = new QMenu(this);
  ButtonSortMenu->setObjectName(QStringLiteral("ButtonSortMenu"));
  for (const TaskSorts::Command& s : TaskSorts::kCommands) {
    const QString tag = QString::fromLatin1(s.tag);
    for (QMenu* menu : {sort, ButtonSortMenu}) {
      QAction* a = menu->addAction(QString::fromLatin1(s.caption));
      a->setCheckable(true);
      a->setData(tag);
      a->setObjectName((menu == sort ? QStringLiteral("main") : QString()) + QString::fromLatin1(s.name));
      connect(a, &QAction::triggered, this, [this, tag] { SortBy(tag); });
      (menu == sort ? MainSortItems : ButtonSortItems).append(a);
    }
  }
  OrderButton->SetDropDownMenu(ButtonSortMenu);
  connect(ButtonSortMenu, &QMenu::aboutToShow, this, &TMainScreen::ButtonSortMenuPopup);
}

void TMainScreen::BuildDeleteMenu(QMenu* file) {
  QMenu* del = file->addMenu(QStringLiteral("Delete"));
  del->setObjectName(QStringLiteral("Delete1"));
  const struct {
    const char* caption;
    const char* name;
    void (TMainScreen::*handler)();
  } deletes[5] = {{"All Marked Done", "AllMarkedDone1", &TMainScreen::AllMarkedDone1Click},
                  {"All With Dates Before Today", "AllWithDatesBeforeToday1", &TMainScreen::AllWithDatesBeforeToday1Click},
                  {"All Tasks Matching Current Filter", "AllTasksMatchingCurrentFilter1",
                   &TMainScreen::AllTasksMatchingCurrentFilter1Click},
                  {"All Tasks NOT Matching Current Filter", "AllTasksNOTMatchingCurrentFilter1",
                   &TMainScreen::AllTasksNOTMatchingCurrentFilter1Click},
                  {"All Tasks", "AllTasks1", &TMainScreen::AllTasks1Click}};
  for (const auto& d : deletes) {
    QAction* a = del->addAction(QString::fromLatin1(d.caption));
    a->setObjectName(QString::fromLatin1(d.name));
    connect(a, &QAction::triggered, this, d.handler);
  }
}

void TMainScreen::BuildHelpMenu() {
  QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
  help->setObjectName(QStringLiteral("Help1"));
  QAction* contents = help->addAction(QStringLiteral("&Contents"));
  contents->setObjectName(QStringLiteral("Contents1"));
  contents->setShortcut(QKeySequence(Qt::Key_F1));
  connect(contents, &QAction::triggered, this, &TMainScreen::HelpButtonClick);
  QAction* about = help->addAction(QStringLiteral("&About"));
  about->setObjectName(QStringLiteral("About1"));
  connect(about, &QAction::triggered, this, &TMainScreen::AboutClick);
}

// The right-click menus: "What's this?", and the date, quick-date and priority column menus.
void TMainScreen::BuildPopupMenus() {
  WhatsThisMenu = new QMenu(this);
  WhatsThisMenu->setObjectName(QStringLiteral("WhatsThisMenu"));
  QAction* whatsThis = WhatsThisMenu->addAction(QStringLiteral("What's this?"));
  whatsThis->setObjectName(QStringLiteral("Whatsthis"));

  DateColumnMenu = new QMenu(this);
  DateColumnMenu->setObjectName(QStringLiteral("DateColumnMenu"));
  auto item = [this](QMenu* menu, const char* name, const QString& caption, void (TMainScreen::*handler)()) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (handler != nullptr) connect(a, &QAction::triggered, this, handler);
    return a;
  };
  item(DateColumnMenu, "Calendar1", QStringLiteral("Calendar"), &TMainScreen::Calendar1Click);
  item(DateColumnMenu, "QuickDate1", QStringLiteral("Quick Date"), &TMainScreen::QuickDate1Click);
  item(DateColumnMenu, "ClearDate1", QStringLiteral("Clear Date"), &TMainScreen::ClearDate1Click);
  DateColumnMenu->addSeparator();
  item(DateColumnMenu, "Cancel1", QStringLiteral("Cancel"), nullptr);

  QuickDateMenu = new QMenu(this);
  QuickDateMenu->setObjectName(QStringLiteral("QuickDateMenu"));
  QuickDates::FillMenu(QuickDateMenu, Today());
  QuickDateMenu->addSeparator();
  item(QuickDateMenu, "Cancel2", QStringLiteral("Cancel"), nullptr);
  connect(QuickDateMenu, &QMenu::triggered, this, [this](QAction* a) {
    if (QuickDates::DaysOf(a) >= 0) QuickDateItemClick(a);
  });

  PriorityColumnMenu = new QMenu(this);
  PriorityColumnMenu->setObjectName(QStringLiteral("PriorityColumnMenu"));
  item(PriorityColumnMenu, "High1", QStringLiteral("High Priority"), &TMainScreen::High1Click);
  item(PriorityColumnMenu, "MediumPriority1", QStringLiteral("Medium Priority"), &TMainScreen::MediumPriority1Click);
  item(PriorityColumnMenu, "Low1", QStringLiteral("Low Priority"), &TMainScreen::Low1Click);
  PriorityColumnMenu->addSeparator();
  item(PriorityColumnMenu, "Cancel3", QStringLiteral("Cancel"), nullptr);
}

void TMainScreen::BuildGrid() {
  TasqTable.AddCalcField(QStringLiteral("ShowPriority"), FieldKind::String, 6);
  TasqTable.AddCalcField(QStringLiteral("ShowDate"), FieldKind::String, 30);
  TasqTable.AddCalcField(QStringLiteral("ShowTime"), FieldKind::String, 8);
  TasqTable.AddCalcField(QStringLiteral("IsDone"), FieldKind::String, 8);
  TasqTable.OnCalcFields = [](TableDataSet& t) { TaskDisplayTexts::Fill(t); };

  GridModel = new DataSetModel(&TasqDataSource, this);
  GridModel->setObjectName(QStringLiteral("GridModel"));
  GridModel->SetColumns({{QStringLiteral("ShowPriority"), QStringLiteral("Priority")},
                         {QStringLiteral("ShowDate"), QStringLiteral("Date")},
                         {QStringLiteral("ShowTime"), QStringLiteral("Time")},
                         {QStringLiteral("DESCRIPT"), QStringLiteral("Task")},
                         {QStringLiteral("IsDone"), QStringLiteral("Done?")},
                         {QStringLiteral("KEYS"), QStringLiteral("Key words")}});
  GridModel->SetExtraFields({QStringLiteral("DONE"), QStringLiteral("PRIORITY"), QStringLiteral("DATE")});
  GridModel->CellFont = [this](const DataSetModel& m, int row, int column) -> QVariant {
    if (!gridEmphasisOn_ || (column != 0 && column != 1)) return QVariant();
    const TaskDateRules::Emphasis emphasis = TaskDateRules::CellEmphasis(
        column, m.FieldValue(row, QStringLiteral("DONE")).toBool(),
        m.FieldValue(row, QStringLiteral("PRIORITY")).toString(), m.FieldValue(row, QStringLiteral("DATE")).toString(),
        Today());
    if (emphasis == TaskDateRules::Emphasis::None) return QVariant();
    QFont f = ActiveGrid->font();
    f.setBold(true);
    f.setItalic(emphasis == TaskDateRules::Emphasis::BoldItalic);
    return f;
  };
  ActiveGrid->setModel(GridModel);
  ActiveGrid->setItemDelegate(new TaskGridDelegate(
      5,
      [this](int row, const QString& text) {
        try {
          GridModel->SetCurrentRow(row);
          TasqTable.Edit();
          TasqTableKEYSSetText(text);
          TasqTable.Post();
        } catch (const EDatabaseError& e) {
          TasqTable.Cancel();
          UserMessages::ShowInformation(e.Message());
        }
      },
      ActiveGrid));
  ActiveGrid->setFont(font());
  ActiveGrid->horizontalHeader()->setFont(font());
  ActiveGrid->verticalHeader()->hide();  // no indicator column
  ActiveGrid->verticalHeader()->setDefaultSectionSize(QFontMetrics(font()).height() + 6);
  ActiveGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
  ActiveGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  ActiveGrid->setEditTriggers(QAbstractItemView::AnyKeyPressed | QAbstractItemView::EditKeyPressed);
  ActiveGrid->setTabKeyNavigation(true);
  ActiveGrid->setFrameShape(QFrame::NoFrame);
  ActiveGrid->setWordWrap(false);
  const int charWidth = QFontMetrics(font()).averageCharWidth();
  const int widths[6] = {9, 11, 9, 70, 5, 15};
  for (int c = 0; c < 6; ++c) ActiveGrid->setColumnWidth(c, widths[c] * charWidth + 4);
  ActiveGrid->horizontalHeader()->setStretchLastSection(false);
  // The dataset's current record leads; the grid's current cell follows it. Only a move the user
  // makes in the grid moves the dataset. Two rules keep the view from moving it on its own:
  // - After every reset of the model (an append, a post, a new order or filter) the grid's
  //   current cell is put back on the dataset's record at once. Left without one, the view
  //   picks the first row by itself the next time it gets the focus, for example when the
  //   window becomes active again after the task editor closes, and that reached the dataset
  //   as a move.
  // - While a task is being added it is in no row yet: a current-cell change then cannot mean
  //   "go to another task", and moving would post the half-filled record.
  connect(GridModel, &QAbstractItemModel::modelReset, this, [this] { GridRowChanged(GridModel->CurrentRow()); });
  connect(ActiveGrid->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) {
            if (followingDataset_ || !current.isValid()) return;
            if (TasqTable.State() == TableDataSet::dsInsert) return;
            GridModel->SetCurrentRow(current.row());
          });
  connect(GridModel, &DataSetModel::CurrentRowChanged, this, &TMainScreen::GridRowChanged);

  noteLink_ = std::make_unique<NoteLink>(this);
  noteLink_->SetDataSource(&TasqDataSource);
  connect(ActiveNotes, &QPlainTextEdit::textChanged, this, [this] { noteLink_->UserTyped(); });
  TaskEditorTextGuard::Guard(ActiveNotes);
}

void TMainScreen::GridRowChanged(int row) {
  if (row < 0) return;
  followingDataset_ = true;
  const int column = std::max(0, ActiveGrid->currentIndex().column());
  ActiveGrid->setCurrentIndex(GridModel->index(row, column));
  ActiveGrid->scrollTo(GridModel->index(row, column));
  followingDataset_ = false;
}

// ---- Creation and first activation ------------------------------------------------------------------

void TMainScreen::FormCreate() {
  TasqEngine.EngineProperty(1009, 0);
  RegionalSettings::SaveUserFormats();
  RegionalSettings::UseFixedFormats();
  firstActivation_ = true;
  dateFilterIndex_ = 0;
  priorityFilterIndex_ = 0;
  showDoneTasks_ = false;
  keyFilterText_.clear();
  sortOrderNumber_ = 1;
  QuickDates::UpdateCaptions(QuickDateMenu, Today());
}

void TMainScreen::RenderShowDonePictures() {
  Showbmp->setPixmap(AppPictures::Picture(QStringLiteral("show-done")).pixmap(QSize(16, 16), devicePixelRatioF()));
  Hidebmp->setPixmap(AppPictures::Picture(QStringLiteral("hide-done")).pixmap(QSize(16, 16), devicePixelRatioF()));
  ShowDone->SetBitmap((showDoneTasks_ ? Hidebmp : Showbmp)->pixmap().toImage());
}

void TMainScreen::changeEvent(QEvent* event) {
  // The pictures' outlines follow the desktop's colours (a dark theme); the buttons that were
  // given a picture render it again themselves.
  if (event->type() == QEvent::PaletteChange && ShowDone != nullptr) RenderShowDonePictures();
  QMainWindow::changeEvent(event);
}

void TMainScreen::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  // The opening sequence runs once the window is on screen, as on its first activation.
  if (firstActivation_) QTimer::singleShot(0, this, &TMainScreen::FormActivate);
}

void TMainScreen::ShowStatus(const QString& text) {
  UpdateStatusCaption->setText(text);
  ProcessMessages();
}

void TMainScreen::FormActivate() {
  if (!firstActivation_ || closing_) return;
  firstActivation_ = false;  // processing messages below may activate the window again
  {
    BusyCursor hourglass;
    WindowPlacement::RestorePlacement(this);
    SplitPanes1->hide();
    TasqTable.SetTag(-1);
    if (!store_.OpenTaskStore(false)) {
      hourglass.Release();
      close();
      return;
    }
    LoadPreferences();
    ShowStatus(QStringLiteral("Loading Key Words List..."));
    ProcessMessages();
    BuildKeyWordList();
    TasqTable.SetTag(0);
    ProcessMessages();
    SetUpFilter();
    GoToToday();
    ProcessMessages();
    SetButtons();
    SplitPanes1->show();
    SetMainMenuSortChecks();
    gridEmphasisOn_ = true;
    const int state = StartupInfo::ShowState();
    if (state == 2 || state == 6 || state == 7) showMinimized();
    UpdateStatus->hide();
    ProcessMessages();
    ExitButton->show();
    FitGrid();
    // The grid was hidden while the window became active, so the focus went to the first
    // control after it; the user starts in the task list.
    ActiveGrid->setFocus(Qt::OtherFocusReason);
  }
  if (reindexNeeded_) UserMessages::ShowInformation(QStringLiteral("Please rebuild indexes ASAP"));
}

void TMainScreen::GoToToday() {
  const int order = TasqEngine.CurrentOrder();
  TasqEngine.SelectOrder(TasqEngine.TagOrder(QStringLiteral("DATETIME")));
  EngineEnv1.SetSoftSeek(true);
  TasqEngine.FindKey(StoredDateTime::Date(Today()));
  EngineEnv1.SetSoftSeek(false);
  TasqEngine.SelectOrder(order);
}

void TMainScreen::SetButtons() {
  const long count = TasqEngine.RecordCount();
  const long current = TasqEngine.DatasetRecordNumber();
  if (current > 0 && current <= count) TasqEngine.GotoRecord(current);
  const bool none = TasqTable.IsEmpty() || (TasqTable.Eof() && TasqTable.Bof());
  for (TFlatButton* b : {DeleteButton, Editbutton, DoneToggleButton, CloneButton, CalendarButton, Printbutton})
    b->setVisible(!none);
  Newbutton->setEnabled(true);
}

void TMainScreen::LoadPreferences() {
  const MainPreferences p = MainPreferences::Load();
  SplitPanes1->SetBarPosition(p.splitterBar);
  sortOrderNumber_ = p.order;
  showDoneTasks_ = p.showDone;
  reindexNeeded_ = p.reindexNeeded;
  TasqEngine.SelectOrder(sortOrderNumber_);
  SetMainMenuSortChecks();
  preferencesLoaded_ = true;
}

void TMainScreen::SavePreferences() {
  // A start that failed before the preferences were read must not overwrite them.
  if (!preferencesLoaded_) return;
  sortOrderNumber_ = TasqEngine.CurrentOrder();
  MainPreferences p;
  p.splitterBar = SplitPanes1->BarPosition();
  p.order = sortOrderNumber_;
  p.showDone = showDoneTasks_;
  p.reindexNeeded = reindexNeeded_;
  p.Save();
}

void TMainScreen::FitGrid() {
  if (!isVisible() || !TasqTable.Active()) return;
  int others = 0;
  for (int c = 0; c < GridModel->columnCount(); ++c)
    if (c != 3) others += ActiveGrid->columnWidth(c);
  ActiveGrid->setColumnWidth(3, std::max(20, SplitPanes1->width() - others - 30));
}

void TMainScreen::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FitGrid();
}

// ---- Closing -------------------------------------------------------------------------------------

bool TMainScreen::FormCloseQuery() {
  ProcessMessages();
  SavePreferences();
  if (preferencesLoaded_) WindowPlacement::SavePlacement(this);
  try {
    // A description still being typed in its cell is committed first.
    QWidget* editor = QApplication::focusWidget();
    if (editor != nullptr && editor->parentWidget() == ActiveGrid->viewport() && editor->isVisible())
      emit ActiveGrid->itemDelegate()->commitData(editor);
    if (TasqTable.Active() && (TasqTable.State() == TableDataSet::dsEdit || TasqTable.State() == TableDataSet::dsInsert))
      TasqTable.Post();
  } catch (const EDatabaseError& e) {
    UserMessages::ShowInformation(e.Message());
  }
  TasqTable.Close();
  ProcessMessages();
  return true;
}

void TMainScreen::closeEvent(QCloseEvent* event) {
  if (closing_) {
    event->accept();
    return;
  }
  closing_ = true;
  if (FormCloseQuery()) {
    event->accept();
  } else {
    closing_ = false;
    event->ignore();
  }
}

void TMainScreen::ExitButtonClick() {
  if (ExitButton->isEnabled()) close();
}

// ---- Keys and mouse ---------------------------------------------------------------------------------

bool TMainScreen::FormKeyDown(QKeyEvent* e) {
  // Keys typed into a text box are text, not commands: "+" and Delete there must not add or
  // delete a task.
  QWidget* focus = QApplication::focusWidget();
  const bool typing = qobject_cast<QLineEdit*>(focus) != nullptr || qobject_cast<QPlainTextEdit*>(focus) != nullptr;
  if (!typing) {
    if ((e->key() == Qt::Key_Insert || (e->key() == Qt::Key_Plus && (e->modifiers() & Qt::KeypadModifier))) &&
        Newbutton->isVisible()) {
      Newbutton->click();
    } else if (e->key() == Qt::Key_Delete && DeleteButton->isVisible()) {
      DeleteButton->click();
    }
  }
  return false;  // the key goes on to the focused control
}

bool TMainScreen::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w != nullptr && w->window() == this && QApplication::activePopupWidget() == nullptr && w->isWidgetType() &&
        w == QApplication::focusWidget()) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (FormKeyDown(key)) return true;
      // Tab moves between the grid's cells and types into the note, so Ctrl+Tab and
      // Ctrl+Shift+Tab take the keyboard out of either to the window's next or previous control.
      if (LeavesTabEater(key, w)) return true;
      // Keys reach the grid itself only while no cell editor is open.
      if (watched == ActiveGrid && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
        if (Editbutton->isVisible()) Editbutton->click();
        return true;
      }
      // Shift+F10 is the Menu key of keyboards without one; the platform sends no context-menu
      // event for it here.
      if (watched == ActiveGrid && key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
        OpenCurrentCellMenu();
        return true;
      }
    }
  }
  if (watched == ActiveGrid->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    const QModelIndex index = ActiveGrid->indexAt(mouse->position().toPoint());
    if (index.isValid()) {
      ActiveGrid->setCurrentIndex(index);
      ActiveGridDblClick(mouse->globalPosition().toPoint());
    }
    return true;
  }
  if (watched == ActiveGrid && event->type() == QEvent::ContextMenu) {
    auto* menu = static_cast<QContextMenuEvent*>(event);
    if (menu->reason() == QContextMenuEvent::Keyboard) {
      OpenCurrentCellMenu();
    } else {
      WhatsThisMenu->popup(menu->globalPos());
    }
    return true;
  }
  if (watched == ActiveNotes) {
    if (event->type() == QEvent::FocusOut) ActiveNotesExit();
    if (event->type() == QEvent::MouseButtonDblClick) ActiveNotesDblClick();
  }
  return QMainWindow::eventFilter(watched, event);
}

bool TMainScreen::LeavesTabEater(QKeyEvent* key, QWidget* focus) {
  const bool tab = key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
  if (!tab || !(key->modifiers() & Qt::ControlModifier)) return false;
  // A cell being edited sits in the grid's viewport and counts as the grid.
  if (focus != ActiveNotes && focus != ActiveGrid && !ActiveGrid->isAncestorOf(focus)) return false;
  const bool back = key->key() == Qt::Key_Backtab || (key->modifiers() & Qt::ShiftModifier);
  if (back && focus != ActiveNotes) {
    // The grid's cell editor comes after the grid in the chain: start from the grid itself.
    ActiveGrid->setFocus(Qt::OtherFocusReason);
  }
  focusNextPrevChild(!back);
  return true;
}

QString TMainScreen::SelectedFieldName() const {
  const int column = ActiveGrid->currentIndex().column();
  if (column < 0 || column >= GridModel->Columns().size()) return QString();
  return GridModel->Columns().at(column).field.toUpper();
}

void TMainScreen::ActiveGridDblClick(const QPoint& globalPos) {
  if (TasqTable.IsEmpty()) return;
  const QString field = SelectedFieldName();
  if (field == QLatin1String("ISDONE")) DoneToggleButton->click();
  else if (field == QLatin1String("SHOWDATE")) DateColumnMenu->popup(globalPos);
  else if (field == QLatin1String("SHOWPRIORITY")) PriorityColumnMenu->popup(globalPos);
  else if (field == QLatin1String("SHOWTIME")) DoQuickTime();
  else if (field == QLatin1String("KEYS")) DoKeyListMenu(globalPos);
  else Editbutton->click();
}

void TMainScreen::OpenColumnMenu(const QPoint& globalPos) { ActiveGridDblClick(globalPos); }

// Without a mouse: the Menu key opens the column menu of the current cell, below the cell.
void TMainScreen::OpenCurrentCellMenu() {
  const QRect cell = ActiveGrid->visualRect(ActiveGrid->currentIndex());
  OpenColumnMenu(ActiveGrid->viewport()->mapToGlobal(cell.bottomLeft()));
}

void TMainScreen::ActiveNotesDblClick() {
  if (TasqTable.IsEmpty()) return;
  if (GridModel->Columns().value(ActiveGrid->currentIndex().column()).field == QLatin1String("IsDone"))
    DoneToggleButton->click();
  else
    Editbutton->click();
}

void TMainScreen::ActiveNotesExit() {
  if (!TasqTable.Active()) return;
  if (TasqTable.State() == TableDataSet::dsEdit || TasqTable.State() == TableDataSet::dsInsert) {
    try {
      TasqTable.Post();
    } catch (const EDatabaseError& e) {
      UserMessages::ShowInformation(e.Message());
    }
  }
}

// ---- Quick changes ------------------------------------------------------------------------------------

void TMainScreen::EditField(const char* field, const QString& value) {
  TasqTable.Edit();
  TasqTable.FieldByName(QString::fromLatin1(field))->SetAsString(value);
  TasqTable.Post();
}

void TMainScreen::Calendar1Click() {
  TDateSelector selector(this);
  double start = clock_.Now();
  StoredDateTime::ParseDate(TasqTable.FieldByName(QStringLiteral("DATE"))->AsString(), start);
  selector.Calendar()->SetSelectedDate(start);
  WindowPlacement::PlaceDialog(&selector);
  if (selector.exec() == 1)
    EditField("DATE", StoredDateTime::Date(selector.Calendar()->SelectedDate()));
}

void TMainScreen::QuickDate1Click() { QuickDateMenu->popup(QCursor::pos()); }

void TMainScreen::QuickDateItemClick(QAction* item) {
  EditField("DATE", StoredDateTime::Date(Today() + QuickDates::DaysOf(item)));
}

void TMainScreen::ClearDate1Click() { EditField("DATE", QString()); }
void TMainScreen::High1Click() { EditField("PRIORITY", QStringLiteral("A")); }
void TMainScreen::MediumPriority1Click() { EditField("PRIORITY", QStringLiteral("B")); }
void TMainScreen::Low1Click() { EditField("PRIORITY", QStringLiteral("C")); }

void TMainScreen::DoQuickTime() {
  double start = clock_.TimeOfDay();
  double value = 0;
  const QString time = TasqTable.FieldByName(QStringLiteral("TIME"))->AsString();
  if (!time.isEmpty() && DateTimeText::TryStrToTime(time, value)) start = value;
  TSetTimeDialog dialog(this);
  dialog.SetSelectedTime(start);
  WindowPlacement::PlaceDialog(&dialog);
  if (dialog.exec() == 1) {
    const QString shown = DateTimeText::FormatDateTime(QStringLiteral("t"), dialog.SelectedTime());
    if (DateTimeText::TryStrToTime(shown, value))
      EditField("TIME", StoredDateTime::Time(value));
  }
}

// ---- Filter and sort --------------------------------------------------------------------------------

TaskFilter TMainScreen::ChosenFilter() const {
  TaskFilter f;
  f.dateIndex = dateFilterIndex_;
  f.priorityIndex = priorityFilterIndex_;
  f.showDone = showDoneTasks_;
  f.keyText = keyFilterText_;
  return f;
}

void TMainScreen::SetUpFilter() {
  const TaskFilter wanted = ChosenFilter();
  if (TasqEngine.ApplyQuery(wanted.Query(Today())) == 0 && TasqEngine.IsTableOpen()) {
    // The engine kept the query it had: say so, and show the choices that query stands for, so
    // that FILTERED and Show/Hide DONE never claim a filter that is not in force.
    const QString reason = TasqEngine.LastEngineError();
    UserMessages::ShowInformation(QStringLiteral("The filter cannot be used:\r") + reason);
    dateFilterIndex_ = appliedFilter_.dateIndex;
    priorityFilterIndex_ = appliedFilter_.priorityIndex;
    showDoneTasks_ = appliedFilter_.showDone;
    keyFilterText_ = appliedFilter_.keyText;
  } else {
    appliedFilter_ = wanted;
  }
  FilterClearbutton->setVisible(appliedFilter_.Narrowed());
  SetButtons();
  ShowDone->SetCaption(showDoneTasks_ ? QStringLiteral("Hide DONE") : QStringLiteral("Show DONE"));
  ShowDone->SetBitmap((showDoneTasks_ ? Hidebmp : Showbmp)->pixmap().toImage());
}

void TMainScreen::ApplyFilter(const TaskFilter& filter) {
  dateFilterIndex_ = filter.dateIndex;
  priorityFilterIndex_ = filter.priorityIndex;
  showDoneTasks_ = filter.showDone;
  keyFilterText_ = filter.keyText;
  SetUpFilter();
}

void TMainScreen::ShowDoneClick() {
  showDoneTasks_ = !showDoneTasks_;
  SetUpFilter();
}

void TMainScreen::FilterClearbuttonClick() {
  dateFilterIndex_ = 0;
  keyFilterText_.clear();
  priorityFilterIndex_ = 0;
  SetUpFilter();
}

void TMainScreen::SortBy(const QString& tag) {
  {
    BusyCursor hourglass;
    TasqEngine.SelectOrder(TasqEngine.TagOrder(tag));
    SetMainMenuSortChecks();
    TasqTable.First();
    ProcessMessages();
  }
}

void TMainScreen::ButtonSortMenuPopup() {
  const int current = TaskSorts::IndexOf(TasqEngine.TagNameAt(TasqEngine.CurrentOrder()));
  for (int i = 0; i < ButtonSortItems.size(); ++i) ButtonSortItems[i]->setChecked(i == current);
}

void TMainScreen::SetMainMenuSortChecks() {
  const int current = TaskSorts::IndexOf(TasqEngine.TagNameAt(TasqEngine.CurrentOrder()));
  for (int i = 0; i < MainSortItems.size(); ++i) MainSortItems[i]->setChecked(i == current);
  for (int i = 0; i < ButtonSortItems.size(); ++i) ButtonSortItems[i]->setChecked(i == current);
  sortOrderNumber_ = TasqEngine.CurrentOrder();
}

// ---- Key words --------------------------------------------------------------------------------------

void TMainScreen::BuildKeyWordList() {
  // The words are taken in the order the table's walk meets them. Walking a million tasks in a
  // tag order reads records all over the file, so the walk is made cheap: one pass in file
  // order collects each record's key-word text, then the order is walked by record number
  // alone, and only until every distinct word has been met. The list comes out exactly as a
  // plain walk of the table would build it.
  TasqTable.DisableControls();
  KeyWordCollector collector(keyWords_);
  TasqTable.First();
  TasqEngine.SetTurboRead(true);
  CursorLayer& layer = CursorLayer::Instance();
  const int cursor = TasqTable.CursorHandle();
  const TableDataSet::ImageField keys = TasqTable.FieldInImage(QStringLiteral("KEYS"));
  QElapsedTimer since;
  since.start();
  auto breathe = [&] {
    // A million tasks take a while: the window must keep painting meanwhile.
    if (since.elapsed() >= 30) {
      ProcessMessages();
      since.restart();
    }
  };
  layer.ScanRecords(cursor, [&](quint32 recno, const QByteArray& image) {
    collector.Record(recno, image.mid(keys.offset, keys.width));
    breathe();
    return true;
  });
  layer.WalkOrder(cursor, [&](quint32 recno) {
    const bool more = collector.Visit(recno);
    breathe();
    return more;
  });
  TasqEngine.SetTurboRead(false);
  TasqTable.EnableControls();
}

void TMainScreen::TasqTableKEYSSetText(const QString& text) {
  TasqTable.FieldByName(QStringLiteral("KEYS"))->SetAsString(text);
  keyWords_.AddWordsOf(TasqTable.FieldByName(QStringLiteral("KEYS"))->AsString());
}

void TMainScreen::DoKeyListMenu(const QPoint& at) {
  QMenu menu(this);
  menu.setObjectName(QStringLiteral("KeyListMenu"));
  for (const QString& word : keyWords_.Words()) {
    QAction* a = menu.addAction(word);
    connect(a, &QAction::triggered, this, [this, word] { KeyListMenuItemClick(word); });
  }
  menu.addSeparator();
  QAction* clear = menu.addAction(KeyWordList::kClearEntry);
  connect(clear, &QAction::triggered, this, [this] { KeyListMenuItemClick(KeyWordList::kClearEntry); });
  menu.addAction(QStringLiteral("Cancel"));
  menu.exec(at);
  ProcessMessages();
}

void TMainScreen::KeyListMenuItemClick(const QString& caption) {
  EditField("KEYS", KeyWordList::AfterPick(TasqTable.FieldByName(QStringLiteral("KEYS"))->AsString(), caption));
}

// ---- Help and the rest ----------------------------------------------------------------------------------

void TMainScreen::HelpButtonClick() { HelpWindow::ShowHelpContext(1009); }

void TMainScreen::AboutClick() {
  TSplashform about(this);
  WindowPlacement::PlaceDialog(&about);
  about.exec();
}

void TMainScreen::CloneButtonClick() {
  if (UserMessages::AskYesNo(QStringLiteral("Clone this task?"))) {
    try {
      const QStringList note = TasqTable.FieldByName(QStringLiteral("NOTE"))->Lines();
      const QString descript = TasqTable.FieldByName(QStringLiteral("DESCRIPT"))->AsString();
      const QString keys = TasqTable.FieldByName(QStringLiteral("KEYS"))->AsString();
      const QString date = TasqTable.FieldByName(QStringLiteral("DATE"))->AsString();
      const QString time = TasqTable.FieldByName(QStringLiteral("TIME"))->AsString();
      TasqTable.Append();
      TasqTable.FieldByName(QStringLiteral("DESCRIPT"))->SetAsString(descript);
      TasqTable.FieldByName(QStringLiteral("NOTE"))->SetLines(note);
      TasqTable.FieldByName(QStringLiteral("KEYS"))->SetAsString(keys);
      TasqTable.FieldByName(QStringLiteral("DATE"))->SetAsString(date);
      TasqTable.FieldByName(QStringLiteral("TIME"))->SetAsString(time);
      TasqTable.FieldByName(QStringLiteral("DONE"))->SetAsBoolean(false);
      TasqTable.Post();
    } catch (const EDatabaseError& e) {
      TasqTable.Cancel();
      UserMessages::ShowInformation(e.Message());
    }
  }
  SetButtons();
}

void TMainScreen::DeleteButtonClick() {
  if (!UserMessages::AskYesNo(QStringLiteral("Delete this task? "))) return;
  const long first = TasqEngine.DatasetRecordNumber();
  TasqTable.Next();
  const long next = TasqTable.Eof() ? TasqEngine.RecordCount() + 1 : TasqEngine.DatasetRecordNumber();
  TasqEngine.GotoRecord(first);
  try {
    TasqTable.Delete();
    RememberDeleted({quint32(first)});
    if (next <= TasqEngine.RecordCount()) TasqEngine.GotoRecord(next);
  } catch (const EDatabaseError&) {
    UserMessages::ShowInformation(QStringLiteral("Error: Unable to delete"));
  }
  SetButtons();
}

void TMainScreen::DoneToggleButtonClick() {
  TasqTable.SetTag(-1);
  try {
    TasqTable.Edit();
    DataSetField* done = TasqTable.FieldByName(QStringLiteral("DONE"));
    done->SetAsBoolean(!done->AsBoolean());
    TasqTable.Post();
  } catch (const EDatabaseError&) {
    TasqTable.Cancel();
    UserMessages::ShowInformation(QStringLiteral("Error:Unable to delete"));
  }
  TasqTable.SetTag(0);
  // The display texts were left out while busy; read the record again with them.
  if (TasqTable.GetBookmark() != 0) TasqTable.Refresh();
  SetButtons();
}

void TMainScreen::CalendarButtonClick() {
  {
    TDateSelector selector(this);
    selector.Calendar()->SetSelectedDate(clock_.Now());
    WindowPlacement::PlaceDialog(&selector);
    if (selector.exec() == 1) {
      const QString key = StoredDateTime::Date(selector.Calendar()->SelectedDate());
      const int order = TasqEngine.CurrentOrder();
      TasqEngine.SelectOrder(TasqEngine.TagOrder(QStringLiteral("DATETIME")));
      EngineEnv1.SetSoftSeek(true);
      TasqEngine.FindKey(key);
      EngineEnv1.SetSoftSeek(false);
      TasqEngine.SelectOrder(order);
    }
  }
  update();
}

void TMainScreen::PrintButtonClick() {
  {
    TReportSetup report(TasqTable, TasqEngine, this);
    ReportPrinting::Install(report);
    WindowPlacement::PlaceDialog(&report);
    report.exec();
  }
  update();
}

void TMainScreen::RebuildIndexes1Click() {
  if (!UserMessages::AskYesNo(QStringLiteral("Rebuild Index Files?"))) return;
  TasqTable.Close();
  if (store_.OpenTaskStore(true)) {
    try {
      store_.RunRebuild(true);
      ForgetDeleted();  // the pack renumbered the records and removed the marked ones
      UserMessages::ShowInformation(QStringLiteral("Done!"));
    } catch (const EDatabaseError& e) {
      UserMessages::ShowInformation(e.Message());
    }
  }
  if (!ReopenInDateOrder()) return;
  reindexNeeded_ = false;
  SavePreferences();
}

// ---- Adding and editing tasks ------------------------------------------------------------------------

void TMainScreen::NewButtonClick() {
  CallTaskEdit(1);
  SetButtons();
}

void TMainScreen::EditButtonClick() { CallTaskEdit(0); }

void TMainScreen::CallTaskEdit(int mode) {
  const bool adding = mode == 1;
  try {
    if (TasqTable.State() == TableDataSet::dsEdit || TasqTable.State() == TableDataSet::dsInsert) TasqTable.Post();
  } catch (const EDatabaseError& e) {
    UserMessages::ShowInformation(e.Message());
    return;
  }
  {
    // No day or month name reaches the editor's date field while it is open.
    UserShortDateScope narrowed(TaskDateRules::ReducedDatePattern(RegionalSettings::UserFormats().ShortDateFormat));
    TTaskEditor editor(keyWords_.Words(), this, clock_);
    ProcessMessages();
    if (adding) editor.SetNewTask();
    else editor.SetFields(CurrentTask());
    WindowPlacement::PlaceDialog(&editor);
    {
      FormatsScope user(FormatsScope::Set::User);
      editor.exec();
    }
    if (editor.ModalResult == 1) SaveTask(editor.Fields(), adding);
  }
  update();
  SetButtons();
}

TaskFields TMainScreen::CurrentTask() const {
  TaskFields task;
  task.description = TasqTable.FieldByName(QStringLiteral("DESCRIPT"))->AsString();
  task.done = TasqTable.FieldByName(QStringLiteral("DONE"))->AsBoolean();
  task.keyWords = TasqTable.FieldByName(QStringLiteral("KEYS"))->AsString();
  task.date = TasqTable.FieldByName(QStringLiteral("DATE"))->AsString();
  task.time = TasqTable.FieldByName(QStringLiteral("TIME"))->AsString();
  task.priority = TasqTable.FieldByName(QStringLiteral("PRIORITY"))->AsString();
  task.note = TasqTable.FieldByName(QStringLiteral("NOTE"))->Lines().join(QLatin1Char('\n'));
  return task;
}

void TMainScreen::SaveTask(const TaskFields& task, bool adding) {
  try {
    if (adding) {
      TasqTable.Append();
      ProcessMessages();
    } else {
      TasqTable.Edit();
    }
    TasqTable.FieldByName(QStringLiteral("DESCRIPT"))->SetAsString(task.description);
    TasqTable.FieldByName(QStringLiteral("KEYS"))->SetAsString(task.keyWords);
    if (adding) ProcessMessages();
    TasqTable.FieldByName(QStringLiteral("NOTE"))->SetLines(StoredNote(task.note));
    TasqTable.FieldByName(QStringLiteral("DATE"))->SetAsString(task.date);
    TasqTable.FieldByName(QStringLiteral("TIME"))->SetAsString(task.time);
    TasqTable.FieldByName(QStringLiteral("PRIORITY"))->SetAsString(task.priority);
    TasqTable.FieldByName(QStringLiteral("DONE"))->SetAsBoolean(task.done);
    TasqTable.Post();
    keyWords_.AddWordsOf(TasqTable.FieldByName(QStringLiteral("KEYS"))->AsString());
  } catch (const EDatabaseError&) {
    // Told it was not saved, the user must not find it saved later by some other post.
    TasqTable.Cancel();
    UserMessages::ShowInformation(QStringLiteral("Error:Unable to save changes"));
  }
}

// ---- The filter dialog ----------------------------------------------------------------------------------

void TMainScreen::FilterbuttonClick() {
  {
    TFilterForm form(keyWords_.Words(), this);
    WindowPlacement::PlaceDialog(&form);
    form.SetDateFilterIndex(dateFilterIndex_);
    form.SetKeyFilterText(keyFilterText_);
    form.SetPriorityFilterIndex(priorityFilterIndex_);
    form.exec();
    if (form.ModalResult == 1) {
      dateFilterIndex_ = quint8(form.DateFilterIndex());
      priorityFilterIndex_ = quint8(form.PriorityFilterIndex());
      keyFilterText_ = form.KeyFilterText();
      SetUpFilter();
    }
  }
  update();
}

// ---- Bulk deletes and their undo --------------------------------------------------------------------------

std::vector<bool> TMainScreen::MarkedRecords() {
  std::vector<bool> marked(size_t(TasqEngine.RecordCount()) + 1, false);
  CursorLayer::Instance().ScanRecords(TasqTable.CursorHandle(), [&](quint32 recno, const QByteArray& image) {
    if (recno < marked.size()) marked[recno] = TableDataSet::ImageDeleted(image);
    return true;
  });
  return marked;
}

std::vector<quint32> TMainScreen::SweepCandidates(const DeleteSweep& sweep) {
  // The records are found before anything is deleted, so the question can say how many; the
  // sets are those of a walk in record order that tests each record as the command describes.
  std::vector<quint32> found;
  CursorLayer& layer = CursorLayer::Instance();
  const int cursor = TasqTable.CursorHandle();
  if (!sweep.ByFilter()) {
    const TableDataSet::ImageField done = TasqTable.FieldInImage(QStringLiteral("DONE"));
    const TableDataSet::ImageField date = TasqTable.FieldInImage(QStringLiteral("DATE"));
    layer.ScanRecords(cursor, [&](quint32 recno, const QByteArray& image) {
      if (image.isEmpty() || TableDataSet::ImageDeleted(image)) return true;
      if (sweep.Takes(TableDataSet::ImageLogical(image, done), TableDataSet::ImageText(image, date))) found.push_back(recno);
      return true;
    });
    return found;
  }
  const std::vector<bool> marked = MarkedRecords();
  std::vector<bool> passes(marked.size(), false);
  layer.WalkOrder(cursor, [&](quint32 recno) {
    if (recno < passes.size()) passes[recno] = true;
    return true;
  });
  return sweep.ByFilterCandidates(marked, passes);
}

void TMainScreen::RememberDeleted(std::vector<quint32> recnos) {
  deleted_.Remember(std::move(recnos));
  UndoDelete1->setEnabled(deleted_.CanUndo());
}

void TMainScreen::ForgetDeleted() {
  deleted_.Forget();
  UndoDelete1->setEnabled(false);
}

void TMainScreen::BulkDelete(DeleteSweep::Kind kind) {
  const DeleteSweep sweep(kind, Today());
  if (sweep.ByFilter() && TasqEngine.CurrentQuery().isEmpty()) {
    UserMessages::ShowInformation(QStringLiteral("No Filter currently set"));
    return;
  }
  try {
    TasqTable.CheckBrowseMode();
  } catch (const EDatabaseError& e) {
    UserMessages::ShowInformation(e.Message());
    return;
  }
  const long current = TasqEngine.DatasetRecordNumber();
  std::vector<quint32> doomed;
  {
    BusyCursor hourglass;
    doomed = SweepCandidates(sweep);
    // The walks moved the engine, not the dataset: put the engine back under it.
    if (current > 0 && current <= TasqEngine.RecordCount()) TasqEngine.GotoRecord(current);
  }
  if (!UserMessages::AskYesNo(sweep.Question(doomed.size()))) return;

  std::vector<quint32> deleted;
  {
    BusyCursor hourglass;
    TasqTable.SetTag(-1);
    TasqTable.DisableControls();
    deleted = TasqEngine.MarkDeleted(doomed);
    TasqTable.SetTag(0);
    TasqTable.EnableControls();
    RememberDeleted(deleted);
    if (kind == DeleteSweep::Kind::Matching) {
      dateFilterIndex_ = 0;
      keyFilterText_.clear();
      priorityFilterIndex_ = 0;
    }
    SetUpFilter();
    SetButtons();
  }
  UserMessages::ShowInformation(sweep.Outcome(deleted.size()));
}

void TMainScreen::AllMarkedDone1Click() { BulkDelete(DeleteSweep::Kind::MarkedDone); }
void TMainScreen::AllWithDatesBeforeToday1Click() { BulkDelete(DeleteSweep::Kind::BeforeToday); }
void TMainScreen::AllTasksMatchingCurrentFilter1Click() { BulkDelete(DeleteSweep::Kind::Matching); }
void TMainScreen::AllTasksNOTMatchingCurrentFilter1Click() { BulkDelete(DeleteSweep::Kind::NotMatching); }

void TMainScreen::AllTasks1Click() {
  size_t count = 0;
  {
    BusyCursor hourglass;
    for (bool marked : MarkedRecords()) count += marked ? 0 : 1;
    count = count > 0 ? count - 1 : 0;  // index 0 is no record
  }
  // Emptying the table removes the records for good, so the question says so.
  if (!UserMessages::AskYesNo(QStringLiteral("CONFIRM: Delete ALL tasks?") + DeleteSweep::CountSentence(count) +
                              QStringLiteral(" It cannot be undone.")))
    return;
  {
    BusyCursor hourglass;
    TasqTable.Close();
    if (store_.OpenTaskStore(true)) {
      if (TasqEngine.EmptyTable() != 0) {
        ForgetDeleted();
        UserMessages::ShowInformation(QStringLiteral("Done!"));
      } else {
        UserMessages::ShowInformation(TTableEngine::LastEngineError());
      }
    }
    ReopenInDateOrder();
  }
}

bool TMainScreen::ReopenInDateOrder() {
  TasqTable.SetTag(-1);
  if (!store_.OpenTaskStore(false)) {
    close();  // the task files cannot be used any more: the program ends
    return false;
  }
  TasqEngine.SelectOrder(TasqEngine.TagOrder(QStringLiteral("DATETIME")));
  SetMainMenuSortChecks();
  TasqTable.SetTag(0);
  ProcessMessages();
  SetUpFilter();
  ProcessMessages();
  SetButtons();
  return true;
}

void TMainScreen::UndoDelete1Click() {
  if (!deleted_.CanUndo() || !TasqTable.Active()) return;
  try {
    TasqTable.CheckBrowseMode();
  } catch (const EDatabaseError& e) {
    UserMessages::ShowInformation(e.Message());
    return;
  }
  std::vector<quint32> recalled;
  {
    BusyCursor hourglass;
    recalled = TasqEngine.RecallRecords(deleted_.Take());
    UndoDelete1->setEnabled(false);
    // The first task brought back becomes current when the filter lets it be seen.
    long row = -1;
    if (!recalled.empty() && CursorLayer::Instance().RowOf(TasqTable.CursorHandle(), recalled.front(), &row) == 0 &&
        row >= 0)
      TasqEngine.GotoRecord(long(recalled.front()));
    SetButtons();
  }
  UserMessages::ShowInformation(DeleteHistory::RecalledSentence(recalled.size()));
}
