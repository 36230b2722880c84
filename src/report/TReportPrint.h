#pragma once

#include <QDialog>
#include <QString>

#include "render/ReportEngine.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class DataSetField;
class TFlatButton;
class ReportPrinter;
class ReportRecorder;
class TableDataSet;
class TTableEngine;

// The print status form: runs the printed report of the task list as the main window shows it,
// either on the printer or recorded for the preview, shows which page is being made, lets the
// user cancel a print (after asking) or stop a preview, and tells how the run ended until the
// user presses OK.
//
// The report: a header on every page (title, page number, today's date, column headings, the
// body's rules), then one line per task (check-box square, date, time, description, priority,
// done) with the note under it in a shaded column. Pages break only before a task line and
// between two note lines, when the body has no line left.
class TReportPrint : public QDialog {
  Q_OBJECT
 public:
  // `table` is the main window's task table, at its first task; the report moves it on.
  TReportPrint(TableDataSet& table, TTableEngine& engine, QWidget* parent = nullptr);
  ~TReportPrint() override;

  // What the report dialog hands over before the form is shown.
  QString HeaderTitle;
  bool PrintCheckboxes = false;
  bool DoubleSpaced = false;
  bool PrintNotes = false;
  bool ToPrinter = true;

  // The engine of the run: the printer's or the recorder's, chosen when the form is shown.
  ReportEngine* ActiveReport = nullptr;
  bool StopRequested = false;
  int ModalResult = 0;

  bool Running() const { return running_; }
  bool Finished() const { return finished_; }
  ReportEngine::RunResult Result() const { return result_; }

  // The engine's steps.
  void BeforePrintReport(ReportEngine& engine);
  void PrintReport1(ReportEngine& engine);
  void HeaderFooter1(ReportEngine& engine);
  void HandleMemo(ReportEngine& engine);
  void DoTextRect(ReportEngine& engine, const QString& text, double width);

  // The texts the report prints for a stored DATE ("yyyymmdd") and TIME ("hh:nn"); empty for a
  // blank or invalid value.
  static QString DateText(const QString& stored);
  static QString TimeText(const QString& stored);

  void reject() override;

  // Controls, named as the tests find them.
  QFrame* Panel1 = nullptr;
  QLabel* Label1 = nullptr;
  TFlatButton* CancelButton = nullptr;
  QPlainTextEdit* TempMemo = nullptr;
  ReportPrinter* TestPrinterEngine = nullptr;
  ReportRecorder* TestRecorderEngine = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormActivate();
  void CancelButtonClick();
  void SetRowTabs(ReportEngine& engine);
  void SetNoteTabs(ReportEngine& engine);
  void ShowFinalStatus();
  // `text` on the current line from `x`, cut off `width` further on.
  static void ClipText(ReportEngine& engine, double x, const QString& text, double width);
  // The rules along the top and bottom of the body section.
  static void DrawBodyRules(ReportEngine& engine);

  TableDataSet& table_;
  TTableEngine& engine_;
  DataSetField* date_ = nullptr;
  DataSetField* time_ = nullptr;
  DataSetField* descript_ = nullptr;
  DataSetField* priority_ = nullptr;
  DataSetField* done_ = nullptr;
  DataSetField* note_ = nullptr;
  bool activated_ = false;
  bool running_ = false;
  bool finished_ = false;
  ReportEngine::RunResult result_ = ReportEngine::RunResult::Completed;
};
