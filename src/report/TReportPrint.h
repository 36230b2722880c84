#pragma once

#include <QDialog>
#include <QString>

#include "render/TReportEngine.h"

class QFrame;
class QLabel;
class QPlainTextEdit;
class TField;
class TFlatButton;
class TReportPrinter;
class TReportRecorder;
class TTable;
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
  TReportPrint(TTable& table, TTableEngine& engine, QWidget* parent = nullptr);
  ~TReportPrint() override;

  // What the report dialog hands over before the form is shown.
  QString HeaderTitle;
  bool PrintCheckboxes = false;
  bool DoubleSpaced = false;
  bool PrintNotes = false;
  bool ToPrinter = true;

  // The engine of the run: the printer's or the recorder's, chosen when the form is shown.
  TReportEngine* ActiveReport = nullptr;
  bool StopRequested = false;
  int ModalResult = 0;

  bool Running() const { return running_; }
  bool Finished() const { return finished_; }
  TReportEngine::RunResult Result() const { return result_; }

  // The engine's steps.
  void BeforePrintReport(TReportEngine& engine);
  void PrintReport1(TReportEngine& engine);
  void HeaderFooter1(TReportEngine& engine);
  void HandleMemo(TReportEngine& engine);
  void DoTextRect(TReportEngine& engine, const QString& text, double width);

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
  TReportPrinter* TestPrinterEngine = nullptr;
  TReportRecorder* TestRecorderEngine = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormActivate();
  void CancelButtonClick();
  void SetRowTabs(TReportEngine& engine);
  void SetNoteTabs(TReportEngine& engine);
  void ShowFinalStatus();
  // `text` on the current line from `x`, cut off `width` further on.
  static void ClipText(TReportEngine& engine, double x, const QString& text, double width);
  // The rules along the top and bottom of the body section.
  static void DrawBodyRules(TReportEngine& engine);

  TTable& table_;
  TTableEngine& engine_;
  TField* date_ = nullptr;
  TField* time_ = nullptr;
  TField* descript_ = nullptr;
  TField* priority_ = nullptr;
  TField* done_ = nullptr;
  TField* note_ = nullptr;
  bool activated_ = false;
  bool running_ = false;
  bool finished_ = false;
  TReportEngine::RunResult result_ = TReportEngine::RunResult::Completed;
};
