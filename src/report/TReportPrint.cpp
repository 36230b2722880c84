#include "report/TReportPrint.h"

#include <QCloseEvent>
#include <QDate>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

#include "db/DateTimeText.h"
#include "db/DateTimeValue.h"
#include "db/RegionalFormats.h"
#include "db/DataSetField.h"
#include "db/TableDataSet.h"
#include "db/TTableEngine.h"
#include "platform/UserMessages.h"
#include "render/ReportPrinter.h"
#include "render/ReportRecorder.h"
#include "report/NoteLines.h"
#include "widgets/TFlatButton.h"

namespace {

constexpr int kClientWidth = 364;
constexpr int kClientHeight = 130;

// Every column keeps 0.02 inch blank on each side of its text.
constexpr int kInnerMargin = 2;
constexpr double kCheckWidth = 0.125;
constexpr double kDateWidth = 1.5;
constexpr double kTimeWidth = 1.0;
constexpr double kPriorityWidth = 0.75;
constexpr double kDoneWidth = 0.5;
// The task column takes what a letter-size page leaves, and grows and shrinks with the paper.
constexpr double kTaskWidthOnLetter = 2.75;
constexpr double kLetterWidth = 8.5;
// A value stops this far before its column's usable width ends.
constexpr double kClipAllowance = 0.2;
// A long title ends this far before the page number beside it.
constexpr double kTitleGap = 0.2;
constexpr int kNoteShade = 10;

QFont StatusFont(bool bold) {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(13);
  font.setBold(bold);
  return font;
}

// Takes the saved row stops back however a note ends, also when an abort ends it early.
class SavedTabs {
 public:
  explicit SavedTabs(ReportEngine& engine) : engine_(engine) {}
  ~SavedTabs() {
    if (saved_) engine_.RestoreTabs();
  }
  void Save() {
    engine_.SaveTabs();
    saved_ = true;
  }
  void Restore() {
    saved_ = false;
    engine_.RestoreTabs();
  }

 private:
  ReportEngine& engine_;
  bool saved_ = false;
};

}  // namespace

TReportPrint::TReportPrint(TableDataSet& table, TTableEngine& engine, QWidget* parent)
    : QDialog(parent), table_(table), engine_(engine) {
  setObjectName(QStringLiteral("ReportPrint"));
  setWindowTitle(QStringLiteral("Print Status"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  QFont font(QStringLiteral("System"));
  font.setPixelSize(13);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setGeometry(0, 0, 361, 78);
  Label1 = new QLabel(Panel1);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(0, 0, 361, 78);
  Label1->setFont(StatusFont(true));
  Label1->setAlignment(Qt::AlignCenter);
  Label1->setWordWrap(true);
  QPalette black = Label1->palette();
  black.setColor(QPalette::WindowText, Qt::black);
  Label1->setPalette(black);

  CancelButton = new TFlatButton(QStringLiteral("Cancel"), this);
  CancelButton->setObjectName(QStringLiteral("CancelButton"));
  CancelButton->setFont(StatusFont(true));
  CancelButton->setGeometry((kClientWidth - 89) / 2, 90, 89, 30);
  CancelButton->SetCancel(true);
  connect(CancelButton, &TFlatButton::clicked, this, &TReportPrint::CancelButtonClick);

  // The wrapping box of the printed notes is never seen.
  TempMemo = new QPlainTextEdit(this);
  TempMemo->setObjectName(QStringLiteral("TempMemo"));
  TempMemo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  TempMemo->move(-2000, -2000);
  TempMemo->hide();

  TestPrinterEngine = new ReportPrinter(this);
  TestPrinterEngine->setObjectName(QStringLiteral("TestPrinterEngine"));
  TestRecorderEngine = new ReportRecorder(this);
  TestRecorderEngine->setObjectName(QStringLiteral("TestRecorderEngine"));
  for (ReportEngine* e : {static_cast<ReportEngine*>(TestPrinterEngine),
                           static_cast<ReportEngine*>(TestRecorderEngine)}) {
    e->SetStatusLabel(Label1);
    e->SetMargins(0.5);
    e->SetTitle(QStringLiteral("Test Report"));
  }
}

TReportPrint::~TReportPrint() = default;

void TReportPrint::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (activated_) return;
  activated_ = true;
  // The report runs once the form is on the screen, inside its modal loop.
  QTimer::singleShot(0, this, &TReportPrint::FormActivate);
}

void TReportPrint::FormActivate() {
  ActiveReport = ToPrinter ? static_cast<ReportEngine*>(TestPrinterEngine)
                           : static_cast<ReportEngine*>(TestRecorderEngine);
  running_ = true;
  result_ = ActiveReport->Run();
  running_ = false;
  finished_ = true;
  ShowFinalStatus();
}

void TReportPrint::ShowFinalStatus() {
  // From now on the one button is the OK button; Enter presses it.
  CancelButton->SetCaption(QStringLiteral("OK"));
  CancelButton->SetDefault(true);
  QString format;
  switch (result_) {
    case ReportEngine::RunResult::Aborted:
      format =
          ToPrinter ? QStringLiteral("\rPrint Canceled!") : QStringLiteral("\rPreview Canceled!");
      break;
    case ReportEngine::RunResult::Failed:
      // A run that could not be finished must not read as done; the reason stands below.
      format = (ToPrinter ? QStringLiteral("\rPrint Failed!\r")
                          : QStringLiteral("\rPreview Failed!\r")) +
               QStringLiteral("%0");
      ActiveReport->SetStatusLine(0, ActiveReport->ErrorMessage());
      break;
    case ReportEngine::RunResult::Completed:
      if (ToPrinter)
        format = QStringLiteral("\rPrint Completed!");
      else if (StopRequested)
        format = QStringLiteral("\rPreview Stopped at page %p!");
      else
        format = QStringLiteral("\rPreview Ready!");
      break;
  }
  ActiveReport->SetStatusFormat(format);
  ActiveReport->UpdateStatus();
}

void TReportPrint::CancelButtonClick() {
  if (!running_) {
    if (!finished_) return;
    ModalResult = 1;
    done(ModalResult);
    return;
  }
  if (ToPrinter) {
    if (UserMessages::Current().YesNo(QStringLiteral("Listwise"),
                                      QStringLiteral("Cancel Printing?")) &&
        running_)
      ActiveReport->Abort();
  } else {
    StopRequested = true;
  }
}

void TReportPrint::reject() {
  // Escape is the one button: cancel or stop while the report runs, OK afterwards.
  CancelButtonClick();
}

void TReportPrint::closeEvent(QCloseEvent* event) {
  if (!finished_) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

void TReportPrint::BeforePrintReport(ReportEngine& engine) {
  engine.SetStatusFormat(QStringLiteral("Printing Page %p\r%0\r%1"));
  engine.ClearStatusLines();
  engine.AddStatusLine(QString());
  engine.AddStatusLine(QString());
}

void TReportPrint::SetRowTabs(ReportEngine& e) {
  const auto left = TabStop::Justify::Left;
  const double after = ReportEngine::kAfterPrevious;
  if (PrintCheckboxes) e.SetTab(e.MarginLeft(), left, kCheckWidth, kInnerMargin, 0, 0);
  e.SetTab(PrintCheckboxes ? after : e.MarginLeft(), left, kDateWidth, kInnerMargin, 0, 0);
  e.SetTab(after, left, kTimeWidth, kInnerMargin, 0, 0);
  e.SetTab(after, left, e.PageWidth() - kLetterWidth + kTaskWidthOnLetter, kInnerMargin, 0, 0);
  e.SetTab(after, left, kPriorityWidth, kInnerMargin, 0, 0);
  e.SetTab(after, left, kDoneWidth, kInnerMargin, 0, 0);
}

void TReportPrint::SetNoteTabs(ReportEngine& e) {
  const auto left = TabStop::Justify::Left;
  const double body = e.SectionRight() - e.SectionLeft();
  if (PrintCheckboxes) {
    e.SetTab(e.MarginLeft(), left, kCheckWidth, kInnerMargin, 0, 0);
    e.SetTab(ReportEngine::kAfterPrevious, left, body - kCheckWidth, kInnerMargin, 0, kNoteShade);
  } else {
    e.SetTab(e.MarginLeft(), left, body, kInnerMargin, 0, kNoteShade);
  }
}

QString TReportPrint::DateText(const QString& stored) {
  if (stored.size() != 8) return QString();
  const QString text =
      stored.mid(4, 2) + QLatin1Char('/') + stored.mid(6, 2) + QLatin1Char('/') + stored.left(4);
  double value = 0;
  if (!DateTimeText::TryStrToDate(text, value)) return QString();
  return DateTimeText::FormatDateTime(QStringLiteral("dd mmm, yyyy (ddd)"), value);
}

QString TReportPrint::TimeText(const QString& stored) {
  double value = 0;
  if (stored.trimmed().isEmpty() || !DateTimeText::TryStrToTime(stored, value)) return QString();
  return DateTimeText::FormatDateTime(QStringLiteral("hh:nn am/pm"), value);
}

void TReportPrint::DoTextRect(ReportEngine& e, const QString& text, double width) {
  ClipText(e, e.TabStart(), text, width - kClipAllowance);
}

void TReportPrint::ClipText(ReportEngine& e, double x, const QString& text, double width) {
  const double y = e.CursorY();
  const double height = e.FontHeight();
  e.TextRect(QRectF(x, y - height, std::max(0.0, width), 2 * height), x, y, text);
}

void TReportPrint::DrawBodyRules(ReportEngine& e) {
  e.Line(e.SectionLeft(), e.SectionTop(), e.SectionRight(), e.SectionTop());
  e.Line(e.SectionLeft(), e.SectionBottom(), e.SectionRight(), e.SectionBottom());
}

void TReportPrint::PrintReport1(ReportEngine& e) {
  date_ = table_.FieldByName(QStringLiteral("DATE"));
  time_ = table_.FieldByName(QStringLiteral("TIME"));
  descript_ = table_.FieldByName(QStringLiteral("DESCRIPT"));
  priority_ = table_.FieldByName(QStringLiteral("ShowPriority"));
  done_ = table_.FieldByName(QStringLiteral("DONE"));
  note_ = table_.FieldByName(QStringLiteral("NOTE"));

  e.PageHeaderStep = [this](ReportEngine& engine) { HeaderFooter1(engine); };
  // The rules go on last: a note line printed below the body's last line is shaded over the
  // place of the bottom rule, which must still show.
  e.PageEndStep = [](ReportEngine& engine) { DrawBodyRules(engine); };
  e.SetMarginLeft(1);
  e.SetMarginRight(1);
  e.SetFont(QStringLiteral("Arial"), 9);
  e.SetBold(false);
  e.SetItalic(false);
  e.SetSectionTop(e.MarginTop() + 1);
  e.SetSectionBottom(e.PageHeight() - e.MarginBottom() - 1);
  e.SetSectionLeft(e.MarginLeft());
  e.SetSectionRight(e.PageWidth() - e.MarginRight());
  // The notes wrap as a text box of the body's width on the screen would show them.
  TempMemo->resize(int((e.SectionRight() - e.SectionLeft() - 0.25) * TempMemo->logicalDpiX()),
                   TempMemo->height());
  e.ClearTabs();
  SetRowTabs(e);
  HeaderFooter1(e);
  e.Home();

  // The walk of the exports: the engine's count of the tasks that pass the filter bounds it
  // (0 sets no bound).
  const long limit = engine_.QueryCount();
  long rows = 0;
  while (!table_.Eof() && !table_.IsEmpty() && !StopRequested) {
    if (e.LinesLeft() == 0) e.NewPage();
    e.SetBold(false);
    if (PrintCheckboxes) {
      e.Tab();
      const double top = e.LineTop() + 0.02;
      e.Rectangle(e.SectionLeft(), top, e.SectionLeft() + kCheckWidth, top + kCheckWidth);
    }
    e.Tab();
    DoTextRect(e, DateText(date_->AsString()), e.TabWidth());
    e.Tab();
    DoTextRect(e, TimeText(time_->AsString()), e.TabWidth());
    e.Tab();
    DoTextRect(e, descript_->AsString(), e.TabWidth());
    e.Tab();
    DoTextRect(e, priority_->AsString(), e.TabWidth());
    e.Tab();
    DoTextRect(e, done_->AsBoolean() ? QStringLiteral("Yes") : QStringLiteral("No"), e.TabWidth());
    e.NewLine();
    HandleMemo(e);
    if (DoubleSpaced) e.NewLine();
    ++rows;
    table_.Next();
    if (limit > 0 && rows == limit) break;
  }
}

void TReportPrint::HeaderFooter1(ReportEngine& e) {
  e.ResetSection();
  e.SetFont(QStringLiteral("Times New Roman"), 14);
  e.SetBold(true);
  e.Home();
  const double right = e.PageWidth() - e.MarginRight();
  const QString pageText = QStringLiteral("Page ") + QString::number(e.PageNumber());
  // A title too long for the line is cut short of the page number rather than printed over it.
  ClipText(e, e.CursorX(), HeaderTitle, right - e.TextWidth(pageText) - kTitleGap - e.CursorX());
  e.PrintRight(pageText, right);
  e.NewLine();
  const QDate today = QDate::currentDate();
  e.PrintRight(DateTimeText::FormatDateTime(
                   QStringLiteral("ddddd"),
                   DateTimeValue::EncodeDate(today.year(), today.month(), today.day()),
                   RegionalFormats::Fixed()),
               right);

  e.SetFont(QStringLiteral("Arial"), 9);
  e.SetBold(true);
  e.GotoXY(1, e.MarginTop() + 0.8);
  e.NewLine();
  if (PrintCheckboxes) e.Tab();
  // A heading may fill its column's whole usable width: the allowance that keeps a value off
  // the next column would cut the bold "Done" in its narrow column.
  for (const char* heading : {"Date", "Time", "Task", "Priority", "Done"}) {
    e.Tab();
    ClipText(e, e.TabStart(), QLatin1String(heading), e.TabWidth());
  }

  e.SetBold(false);
  e.SetItalic(false);
  e.SetMarginLeft(1);
  e.SetMarginRight(1);
  e.SetSectionTop(e.MarginTop() + 1);
  e.SetSectionBottom(e.PageHeight() - e.MarginBottom() - 0.5);
  e.SetSectionLeft(e.MarginLeft());
  e.SetSectionRight(e.PageWidth() - e.MarginRight());
  // The body's rules are drawn when the page is finished (DrawBodyRules).
  e.Home();
}

void TReportPrint::HandleMemo(ReportEngine& e) {
  if (!PrintNotes) return;
  SavedTabs saved(e);
  saved.Save();
  e.ClearTabs();
  SetNoteTabs(e);
  const QStringList lines = NoteLines::Of(note_->AsString(), TempMemo->font(), TempMemo->width());
  for (qsizetype i = 0; i < lines.size(); ++i) {
    if (PrintCheckboxes) e.Tab();
    e.Tab();
    e.GotoXY(e.TabStart(), e.CursorY());
    e.Print(lines.at(i));
    e.NewLine();
    if (e.LinesLeft() == 0 && i + 1 < lines.size()) {
      saved.Restore();
      e.NewPage();
      saved.Save();
      e.ClearTabs();
      SetNoteTabs(e);
    }
  }
}
