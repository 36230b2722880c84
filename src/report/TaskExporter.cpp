#include "report/TaskExporter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>

#include "db/Cp1252.h"
#include "db/CursorLayer.h"
#include "db/EDatabaseError.h"
#include "db/DataSetField.h"
#include "db/TableDataSet.h"
#include "db/TTableEngine.h"
#include "db/WorkAreaScope.h"
#include "platform/BusyCursor.h"
#include "platform/UserMessages.h"
#include "report/ExportFile.h"
#include "report/NoteLines.h"
#include "report/ReportRunGuard.h"
#include "xbengine.h"

namespace {

// The window repaints during a long export, but not so often that repainting costs more than
// the export itself.
constexpr qint64 kEventInterval = 30;
// Rows are written in well under a microsecond each; the clock is read only now and then.
constexpr long kRowsBetweenClockReads = 64;

constexpr int kHtmlNoteWidth = 384;
constexpr int kRtfNoteWidth = 288;

// Left-aligned in `width` columns: padded with blanks, cut when longer.
QString Column(const QString& text, int width) {
  return text.leftJustified(width, QLatin1Char(' '), true);
}

// The error a failed move raises, in the dataset's words.
EDatabaseError MoveFailed() {
  QString text = QString::fromLocal8Bit(xb_ErrorText());
  if (text.isEmpty()) text = CursorLayer::StatusText(kCursorEngineFailed);
  return EDatabaseError(text, kCursorEngineFailed);
}

}  // namespace

TaskExporter::TaskExporter(TableDataSet& table, TTableEngine& engine)
    : table_(table), engine_(engine), noteFont_(NoteLines::DialogFont()) {}

void TaskExporter::WriteRows(ExportFile& out, ExportRowWriter& rows, int noteWidth, long limit) {
  const int area = table_.CursorHandle();
  WorkAreaScope selected(area);
  quint32 recno = quint32(table_.RecNo());
  // Puts the engine back on the record being written after anything that may have moved it:
  // the window repainting, a calculation.
  auto reposition = [&] {
    xb_Select(area);
    if (xb_RecNo() != long(recno) || xb_Eof() || xb_Bof()) xb_Go(long(recno));
  };
  reposition();
  QByteArray image(xb_RecSize(), ' ');
  quint32 last = 0;
  long written = 0;
  bool ranOut = false;
  QElapsedTimer sinceEvents;
  sinceEvents.start();
  for (;;) {
    xb_GetRecord(image.data());
    rows.WriteRow(out, recno, image);
    if (rows.TakeCalculated()) reposition();
    if (noteWidth > 0) {
      QString note;
      CursorLayer::Instance().GetBlob(area, note_->FieldNo(), &note);
      rows.WriteNotes(out, NoteLines::Of(note, noteFont_, noteWidth));
    }
    last = recno;
    ++written;
    if (out.Failed()) break;
    if (xb_Skip(1) == 0 && xb_Error() != 0) throw MoveFailed();
    if (xb_Eof()) {
      ranOut = true;
      break;
    }
    recno = quint32(xb_RecNo());
    if (written % kRowsBetweenClockReads == 0 && sinceEvents.elapsed() >= kEventInterval) {
      QCoreApplication::processEvents();
      sinceEvents.restart();
      // The window may have closed the table meanwhile.
      if (!table_.Active())
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
      reposition();
    }
    if (limit > 0 && written == limit) break;
  }
  // The window's table stands on the last task written, at the end of the list when that was
  // the last one, as if the export had moved it there step by step.
  table_.GotoBookmark(last);
  if (ranOut) table_.Next();
}

bool TaskExporter::Run(ExportRowWriter::Format format, const QString& fileName,
                       const QStringList& head, int noteWidth, const QStringList& tail) {
  error_.clear();
  ReportRunGuard guard;
  if (!guard.Acquired()) return false;
  BusyCursor cursor;
  ExportFile out(fileName);
  try {
    ExportRowWriter rows(format, table_);
    note_ = table_.FieldByName(QStringLiteral("NOTE"));
    if (out.Open()) {
      for (const QString& line : head) out.WriteLine(line);
      table_.First();
      // The engine's count of the tasks that pass the filter; 0 means it sets no limit.
      const long limit = engine_.QueryCount();
      if (!out.Failed() && !table_.Eof() && !table_.IsEmpty())
        WriteRows(out, rows, noteWidth, limit);
      for (const QString& line : tail) out.WriteLine(line);
      if (out.Commit()) return true;
    }
    error_ = out.ErrorMessage();
  } catch (const EDatabaseError& e) {
    error_ = e.Message();
  }
  cursor.Release();
  UserMessages::Current().Information(QStringLiteral("Listwise"), error_);
  return false;
}

bool TaskExporter::CopyHTML(const QString& fileName, const QString& colorText, const QString& title,
                            bool doNotes) {
  const QString heading = EscapeHtml(title);
  const QStringList head = {
      QStringLiteral("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 3.2//EN\">"),
      QStringLiteral("<HTML>"),
      QStringLiteral("<HEAD>"),
      // The page is written in Windows-1252, which a reader cannot know unless it is told; told
      // before the title, which may hold such characters too.
      QStringLiteral(
          "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1252\">"),
      QStringLiteral("<TITLE>") + heading + QStringLiteral("</TITLE>"),
      QStringLiteral("</HEAD>"),
      QStringLiteral("<BODY BGCOLOR=#") + EscapeHtml(colorText) + QStringLiteral(">"),
      QStringLiteral("<h1 ALIGN=\"CENTER\">") + heading + QStringLiteral("</h1>"),
      QStringLiteral("<hr>"),
      QStringLiteral("<TABLE BORDER WIDTH=100%>"),
      QStringLiteral("<TR>"),
      QStringLiteral("<TH>Task<TH>Date<TH>Time<TH>Priority<TH>Done?"),
  };
  const QStringList tail = {QStringLiteral("</TABLE>"), QStringLiteral("</BODY>"),
                            QStringLiteral("</HTML>")};
  return Run(ExportRowWriter::Format::Html, fileName, head, doNotes ? kHtmlNoteWidth : 0, tail);
}

bool TaskExporter::CopyRTF(const QString& fileName, const QString& title, bool doNotes) {
  QStringList head = {
      QStringLiteral("{\\rtf1\\ansi\\deff0\\deftab720"),
      QStringLiteral("{\\fonttbl{\\f0\\fnil\\charset0 Times New Roman;}}"),
      QStringLiteral("{\\colortbl"),
      QStringLiteral("\\red0\\green0\\blue0;\\red0\\green0\\blue0;\\red0\\green0\\blue255;"),
      QStringLiteral(
          "\\red0\\green255\\blue255;\\red0\\green255\\blue0;\\red255\\green0\\blue255;"),
      QStringLiteral(
          "\\red255\\green0\\blue0;\\red255\\green255\\blue0;\\red255\\green255\\blue255;"),
      QStringLiteral("\\red0\\green0\\blue128;\\red0\\green128\\blue128;\\red0\\green128\\blue0;"),
      QStringLiteral(
          "\\red128\\green0\\blue128;\\red128\\green0\\blue0;\\red128\\green128\\blue0;"),
      QStringLiteral("\\red0\\green0\\blue0;}"),
      QStringLiteral("\\margl1440\\margr1440\\margt1440\\margb1440"),
      QStringLiteral("{\\qc\\plain\\f0\\fs28\\cf1\\b"),
      EscapeRtf(title),
      QStringLiteral("\\par\\plain\\fs20\\ql\\par"),
      QStringLiteral("{\\pard\\trowd\\trgaph57\\trleft0"),
  };
  for (const char* edge : {"5100", "6600", "7630", "8600", "9360"})
    head << QStringLiteral(
                "\\clbrdrt\\brdrs\\clbrdrb\\brdrs\\clbrdrl\\brdrs\\clbrdrr\\brdrs\\brdrw0\\brdrcf0"
                "\\cellx") +
                QLatin1String(edge);
  const QString headingCell = QStringLiteral("\\intbl \\sb40\\sl\\sa40 \\plain\\f0\\fs20\\cf1\\b ");
  for (const char* heading : {"Task", "Date", "Time", "Priority"})
    head << headingCell + QLatin1String(heading) + QStringLiteral("\\cell");
  head << headingCell + QStringLiteral("Done\\cell\\row");

  return Run(ExportRowWriter::Format::Rtf, fileName, head, doNotes ? kRtfNoteWidth : 0,
             {QStringLiteral("}}}")});
}

bool TaskExporter::CopyText(const QString& fileName, const QString& title, bool doNotes) {
  // The heading's first column is one wider and its third one narrower than a task line's, so
  // "Date" and "Time" stand one column right of their values; both lines are 84 wide.
  const QStringList head = {
      title,
      QString(),
      QString(),
      Column(QStringLiteral("Task"), 51) + Column(QStringLiteral("Date"), 12) +
          Column(QStringLiteral("Time"), 8) + Column(QStringLiteral("Priority"), 9) +
          Column(QStringLiteral("Done"), 4),
      QString(84, QLatin1Char('=')),
  };
  const int width = doNotes ? NoteLines::TextFileWidth(noteFont_) : 0;
  return Run(ExportRowWriter::Format::Text, fileName, head, width, {});
}
