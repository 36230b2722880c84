#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

#include "report/ExportEscapes.h"
#include "report/ExportRowWriter.h"

class ExportFile;
class DataSetField;
class TableDataSet;
class TTableEngine;

// Writes the task list as the main window shows it (its order, its filter, its calculated
// display texts) to an HTML page, an RTF document or a plain text file. Each export is one pass
// over the table: it starts at the first task and leaves the table on the last task it wrote,
// letting the window repaint now and then on the way. The table must carry the calculated
// fields ShowDate, ShowTime, ShowPriority and IsDone, each worked out from one stored field
// (see ExportRowWriter). The pass reads the records straight from the engine rather than moving
// the dataset through each of them: a million tasks are written in a second or two.
//
// Texts from the tasks and the title are written so that the document keeps its structure:
// "&", "<" and ">" become entities in the page, braces and backslashes are escaped in the RTF
// document and its characters above 127 become hexadecimal escapes there.
//
// A failed export shows the file error ("File access denied", "Disk full", "File not found",
// "I/O error n") and returns false; the file it was to replace is left as it was.
class TaskExporter {
 public:
  TaskExporter(TableDataSet& table, TTableEngine& engine);

  // The font in which notes are wrapped into display lines; the report dialog's by default.
  void SetNoteFont(const QFont& font) { noteFont_ = font; }

  // `colorText` is the page background as six hexadecimal digits, red, green, blue.
  bool CopyHTML(const QString& fileName, const QString& colorText, const QString& title,
                bool doNotes);
  bool CopyRTF(const QString& fileName, const QString& title, bool doNotes);
  bool CopyText(const QString& fileName, const QString& title, bool doNotes);

  // The message of the last failed export; empty after a success, and after an export refused
  // because another one was running.
  QString ErrorMessage() const { return error_; }

  static QString EscapeHtml(const QString& text) { return ExportEscapes::Html(text); }
  static QString EscapeRtf(const QString& text) { return ExportEscapes::Rtf(text); }

 private:
  // The export walk. `noteWidth` 0 leaves the notes out.
  bool Run(ExportRowWriter::Format format, const QString& fileName, const QStringList& head,
           int noteWidth, const QStringList& tail);
  // Writes the rows from the table's current record on, straight from the engine in the order
  // and under the query in force, at most `limit` of them when it is above 0; the table is put
  // on the last row written.
  void WriteRows(ExportFile& out, ExportRowWriter& rows, int noteWidth, long limit);

  TableDataSet& table_;
  TTableEngine& engine_;
  QFont noteFont_;
  QString error_;
  DataSetField* note_ = nullptr;
};
