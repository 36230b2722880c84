#pragma once

#include <QElapsedTimer>
#include <QFont>
#include <QFontMetricsF>
#include <QLabel>
#include <QObject>
#include <QPageLayout>
#include <QPainter>
#include <QPicture>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "render/TabStop.h"

// Lays out a report page by page: every position is in inches from the paper's top-left
// corner, text goes out line by line at a cursor, columns are tab stops. Each page is drawn into
// a QPicture in report units (kUnitsPerInch to the inch), so the same pages can go to a printer
// at its resolution or be kept for the preview at any zoom. What happens to a finished page is
// the subclass's: the printer engine prints the pages once the report is complete, the recorder
// writes them to a stream.
//
// Running a report: Run() calls BeforePrint and then PrintStep with the engine; after Abort()
// (from a click while the report runs) the next output operation ends the run. The status label
// shows StatusFormat with "%p" replaced by the page number and "%0", "%1" by the status lines
// ("\r" is a line break); the engine refreshes it as pages are made and lets the window process
// its events meanwhile, which is how a click reaches the form during a run.
class ReportEngine : public QObject {
  Q_OBJECT
 public:
  static constexpr double kUnitsPerInch = 1200;
  // The position of a tab stop that starts where the previous one ends.
  static constexpr double kAfterPrevious = -1;

  enum class RunResult { Completed, Aborted, Failed };

  explicit ReportEngine(QObject* parent = nullptr);
  ~ReportEngine() override;

  // Set-up, before Run().
  QString Title() const { return title_; }  // names the print job
  void SetTitle(const QString& title) { title_ = title; }
  QPageLayout::Orientation Orientation() const { return orientation_; }
  void SetOrientation(QPageLayout::Orientation orientation) { orientation_ = orientation; }
  void SetStatusLabel(QLabel* label);
  QLabel* StatusLabel() const { return statusLabel_; }

  std::function<void(ReportEngine&)> BeforePrint;
  std::function<void(ReportEngine&)> PrintStep;
  // Run by NewPage() on every new page, after the cursor went to the section's first line.
  std::function<void(ReportEngine&)> PageHeaderStep;
  // Run on every page just before it is finished, the last page included (not after an abort),
  // so that what it draws lies over everything else on the page.
  std::function<void(ReportEngine&)> PageEndStep;

  // Run control.
  RunResult Run();
  bool Running() const { return running_; }
  void Abort();
  bool Aborted() const { return aborted_; }
  QString ErrorMessage() const { return error_; }
  int PageNumber() const { return page_; }

  // Status.
  QString StatusFormat() const { return statusFormat_; }
  void SetStatusFormat(const QString& format) { statusFormat_ = format; }
  void AddStatusLine(const QString& line) { statusLines_.append(line); }
  void SetStatusLine(int index, const QString& line);
  void ClearStatusLines() { statusLines_.clear(); }
  // The label's text: the format with its placeholders filled, "\r" as line breaks.
  QString StatusText() const;
  void UpdateStatus();

  // Page and margins, in inches.
  double PageWidth() const { return pageWidth_; }
  double PageHeight() const { return pageHeight_; }
  // The paper of the run to come (before Run) or of the run going on.
  QSizeF PaperSize() const;
  double MarginLeft() const { return marginLeft_; }
  double MarginRight() const { return marginRight_; }  // distance from the right edge
  double MarginTop() const { return marginTop_; }
  double MarginBottom() const { return marginBottom_; }  // distance from the bottom edge
  void SetMarginLeft(double inches) { marginLeft_ = inches; }
  void SetMarginRight(double inches) { marginRight_ = inches; }
  void SetMarginTop(double inches) { marginTop_ = inches; }
  void SetMarginBottom(double inches) { marginBottom_ = inches; }
  void SetMargins(double inches);

  // The section lines are printed in: absolute positions from the paper's top-left corner.
  double SectionLeft() const { return sectionLeft_; }
  double SectionRight() const { return sectionRight_; }
  double SectionTop() const { return sectionTop_; }
  double SectionBottom() const { return sectionBottom_; }
  void SetSectionLeft(double x) { sectionLeft_ = x; }
  void SetSectionRight(double x) { sectionRight_ = x; }
  void SetSectionTop(double y) { sectionTop_ = y; }
  void SetSectionBottom(double y) { sectionBottom_ = y; }
  // The section becomes the area inside the margins.
  void ResetSection();
  // Whole lines that fit between the top of the current line and the section's bottom; 0 when
  // the current line would not fit.
  int LinesLeft() const;

  // Fonts.
  void SetFont(const QString& face, double points);
  void SetBold(bool on);
  void SetItalic(bool on);
  const QFont& Font() const { return font_; }
  double LineHeight() const;
  double FontHeight() const;  // ascent + descent
  double TextWidth(const QString& text) const;

  // Cursor. Its vertical position is the base line of the current line.
  void Home();  // first line of the section, at its left edge
  void GotoXY(double x, double y);
  double CursorX() const { return x_; }
  double CursorY() const { return y_; }
  double LineTop() const;
  // Down one line, back to the section's left edge; never starts a page by itself.
  void NewLine();
  void NewPage();

  // Text.
  void Print(const QString& text);
  void PrintRight(const QString& text, double right);
  void PrintLn(const QString& text);
  // `text` with its base line starting at (x, y), nothing of it outside `clip`.
  void TextRect(const QRectF& clip, double x, double y, const QString& text);

  // Tab stops.
  void ClearTabs();
  void SetTab(double position, TabStop::Justify justify, double width, int marginHundredths,
              int lines, int shade);
  // Moves to the next stop, shading and framing its cell on the current line as the stop says.
  void Tab();
  // Tab() and `text` in the stop's text area, aligned as the stop says, clipped to it.
  void PrintTab(const QString& text);
  const std::vector<TabStop>& Tabs() const { return tabs_; }
  int CurrentTab() const { return tabIndex_; }
  // The current stop's text area (left edge and usable width); the section's without a stop.
  double TabStart() const;
  double TabWidth() const;
  void SaveTabs();
  // False when nothing was saved.
  bool RestoreTabs();

  // Drawing.
  void Rectangle(double x1, double y1, double x2, double y2);
  void Line(double x1, double y1, double x2, double y2);

 protected:
  // Thrown by an output operation after Abort(); Run() catches it.
  struct RunAborted {};

  // Prepares the output; false with a message when it cannot be had.
  virtual bool BeginOutput(QString* error) = 0;
  // A page is complete.
  virtual bool PageDone(const QSizeF& sizeUnits, QPicture picture, QString* error) = 0;
  // The run is over; `aborted` says whether it was abandoned.
  virtual bool FinishOutput(bool aborted, QString* error) = 0;
  // Abort() was called while the run goes on.
  virtual void OnAbort() {}

  void CheckAbort() const;

 private:
  void StartPage();
  bool FinishPage();
  void DrawText(double x, double y, const QString& text);
  void ProcessEventsNow();
  void ProcessEventsSometimes();
  QPointF Units(double x, double y) const;

  QString title_;
  QPageLayout::Orientation orientation_;
  QPointer<QLabel> statusLabel_;
  QString statusFormat_;
  QStringList statusLines_;
  QString error_;
  bool running_ = false;
  bool aborted_ = false;
  int page_ = 0;

  double pageWidth_ = 8.5;
  double pageHeight_ = 11;
  double marginLeft_ = 0.5, marginRight_ = 0.5, marginTop_ = 0.5, marginBottom_ = 0.5;
  double sectionLeft_ = 0, sectionRight_ = 0, sectionTop_ = 0, sectionBottom_ = 0;

  QFont font_;
  QFontMetricsF metrics_;
  double x_ = 0;
  double y_ = 0;

  std::vector<TabStop> tabs_;
  std::vector<std::vector<TabStop>> savedTabs_;
  int tabIndex_ = -1;

  std::unique_ptr<QPicture> picture_;
  QPainter painter_;
  QElapsedTimer sinceEvents_;
};
