#include "report/TaskExporter.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>

#include "db/Cp1252.h"
#include "db/EDatabaseError.h"
#include "db/TField.h"
#include "db/TTable.h"
#include "db/TTableEngine.h"
#include "platform/UserMessages.h"
#include "report/ExportFile.h"
#include "report/NoteLines.h"
#include "report/ReportRunGuard.h"
#include "store/StoreHelpers.h"

namespace {

// The window repaints during a long export, but not so often that repainting costs more than
// the export itself.
constexpr qint64 kEventInterval = 30;

constexpr int kHtmlNoteWidth = 384;
constexpr int kRtfNoteWidth = 288;

// The hourglass for the length of an export, taken away again however the export ends.
class BusyCursor {
 public:
  BusyCursor() : on_(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
    if (on_) QApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~BusyCursor() { Release(); }
  void Release() {
    if (on_) QApplication::restoreOverrideCursor();
    on_ = false;
  }

 private:
  bool on_;
};

bool Encodable(QChar c) {
  const char16_t u = c.unicode();
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return true;
  return Cp1252::FirstUnencodable(QString(c)).isNull();
}

// The code page's byte for a character above 127 that it has.
uchar CodePageByte(QChar c) {
  const char16_t u = c.unicode();
  if (u >= 0xA0 && u <= 0xFF) return uchar(u);
  QByteArray byte;
  Cp1252::Encode(QString(c), &byte);
  return uchar(byte.at(0));
}

// The rows of a long export are written piece by piece straight into the file's buffer: a
// million rows must not each build strings that are copied again on the way out. Every piece
// comes out byte for byte as EscapeHtml/EscapeRtf and the whole-line forms would give it.
void WriteHtml(ExportFile& out, QStringView text) {
  qsizetype plain = 0;  // start of the run of characters that need no escape
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    const char16_t u = c.unicode();
    const bool special = u == '&' || u == '<' || u == '>' || (u > 127 && !Encodable(c));
    if (!special) continue;
    out.Write(text.sliced(plain, i - plain));
    plain = i + 1;
    if (u == '&')
      out.Write(QLatin1String("&amp;"));
    else if (u == '<')
      out.Write(QLatin1String("&lt;"));
    else if (u == '>')
      out.Write(QLatin1String("&gt;"));
    else
      out.Write(QLatin1String("&#" + QByteArray::number(int(u)) + ';'));
  }
  out.Write(text.sliced(plain));
}

void WriteRtf(ExportFile& out, QStringView text) {
  qsizetype plain = 0;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    const char16_t u = c.unicode();
    const bool special = u == '{' || u == '}' || u == '\\' || u >= 128;
    if (!special) continue;
    out.Write(text.sliced(plain, i - plain));
    plain = i + 1;
    if (u < 128) {
      const char escaped[2] = {'\\', char(u)};
      out.Write(QLatin1String(escaped, 2));
    } else if (Encodable(c)) {
      static const char kHex[] = "0123456789abcdef";
      const uchar b = CodePageByte(c);
      const char escaped[4] = {'\\', '\'', kHex[b >> 4], kHex[b & 15]};
      out.Write(QLatin1String(escaped, 4));
    } else {
      // Outside the code page: the Unicode escape, with "?" for readers that do not know it.
      out.Write(QLatin1String("\\u" + QByteArray::number(int(qint16(u))) + '?'));
    }
  }
  out.Write(text.sliced(plain));
}

void HtmlCell(ExportFile& out, QLatin1String open, const QString& value) {
  out.Write(open);
  if (value.isEmpty())
    out.Write(QLatin1String("</BR>"));
  else
    WriteHtml(out, value);
  out.Write(QLatin1String("</TD>"));
}

// Left-aligned in `width` columns: padded with blanks, cut when longer.
QString Column(const QString& text, int width) {
  return text.leftJustified(width, QLatin1Char(' '), true);
}

void WriteColumn(ExportFile& out, const QString& text, int width) {
  static const QLatin1String kBlanks("                                                  ");
  if (text.size() >= width) {
    out.Write(QStringView(text).left(width));
    return;
  }
  out.Write(text);
  for (qsizetype left = width - text.size(); left > 0; left -= kBlanks.size())
    out.Write(kBlanks.left(std::min(left, kBlanks.size())));
}

const QLatin1String kRtfCellStart("\\intbl \\sb40\\sl\\sa40 \\plain\\f0\\fs20\\cf1 ");

}  // namespace

TaskExporter::TaskExporter(TTable& table, TTableEngine& engine)
    : table_(table), engine_(engine), noteFont_(NoteLines::DialogFont()) {}

QString TaskExporter::EscapeHtml(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    if (c == QLatin1Char('&'))
      out += QStringLiteral("&amp;");
    else if (c == QLatin1Char('<'))
      out += QStringLiteral("&lt;");
    else if (c == QLatin1Char('>'))
      out += QStringLiteral("&gt;");
    // A character the page's code page lacks (it can come only from a typed title) is kept
    // as a character reference rather than lost.
    else if (c.unicode() > 127 && !Encodable(c))
      out += QStringLiteral("&#%1;").arg(c.unicode());
    else
      out += c;
  }
  return out;
}

QString TaskExporter::EscapeRtf(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (const QChar c : text) {
    if (c == QLatin1Char('{') || c == QLatin1Char('}') || c == QLatin1Char('\\')) {
      out += QLatin1Char('\\');
      out += c;
    } else if (c.unicode() < 128) {
      out += c;
    } else if (Encodable(c)) {
      QByteArray byte;
      Cp1252::Encode(QString(c), &byte);
      out += QStringLiteral("\\'%1").arg(uchar(byte.at(0)), 2, 16, QLatin1Char('0'));
    } else {
      // Outside the code page: the Unicode escape, with "?" for readers that do not know it.
      out += QStringLiteral("\\u%1?").arg(int(qint16(c.unicode())));
    }
  }
  return out;
}

void TaskExporter::ReadRow(int noteWidth, Row* row) const {
  row->descript = descript_->AsString();
  row->date = date_->AsString();
  row->time = time_->AsString();
  row->priority = priority_->AsString();
  row->done = done_->AsString();
  if (noteWidth > 0)
    row->notes = NoteLines::Of(note_->AsString(), noteFont_, noteWidth);
  else
    row->notes.clear();
}

bool TaskExporter::Run(const QString& fileName, const QStringList& head, int noteWidth,
                       const RowWriter& writeRow, const QStringList& tail) {
  error_.clear();
  ReportRunGuard guard;
  if (!guard.Acquired()) return false;
  BusyCursor cursor;
  ExportFile out(fileName);
  try {
    descript_ = table_.FieldByName(QStringLiteral("DESCRIPT"));
    date_ = table_.FieldByName(QStringLiteral("ShowDate"));
    time_ = table_.FieldByName(QStringLiteral("ShowTime"));
    priority_ = table_.FieldByName(QStringLiteral("ShowPriority"));
    done_ = table_.FieldByName(QStringLiteral("IsDone"));
    note_ = table_.FieldByName(QStringLiteral("NOTE"));
    if (out.Open()) {
      for (const QString& line : head) out.WriteLine(line);
      table_.First();
      // The engine's count of the tasks that pass the filter; 0 means it sets no limit.
      const long limit = engine_.QueryCount();
      long rows = 0;
      QElapsedTimer sinceEvents;
      sinceEvents.start();
      Row row;
      while (!out.Failed() && !table_.Eof() && !table_.IsEmpty()) {
        ReadRow(noteWidth, &row);
        writeRow(out, row);
        if (out.Failed()) break;
        ++rows;
        table_.Next();
        if (table_.Eof()) break;
        if (sinceEvents.elapsed() >= kEventInterval) {
          QCoreApplication::processEvents();
          sinceEvents.restart();
        }
        if (limit > 0 && rows == limit) break;
      }
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
  auto writeRow = [&](ExportFile& out, const Row& row) {
    const QLatin1String wrap("<TD WRAP>");
    const QLatin1String nowrap("<TD NOWRAP>");
    out.WriteLine(QLatin1String("<TR>"));
    HtmlCell(out, wrap, row.descript);
    HtmlCell(out, nowrap, row.date);
    HtmlCell(out, nowrap, row.time);
    HtmlCell(out, nowrap, row.priority);
    HtmlCell(out, nowrap, row.done);
    out.Write(QLatin1String("</TR>"));
    out.EndLine();
    if (row.notes.isEmpty()) return;
    out.WriteLine(QLatin1String("<TR>"));
    for (int i = 0; i < row.notes.size(); ++i) {
      out.Write(i == 0 ? QLatin1String("<TD WRAP><FONT SIZE=-1><I><BLOCKQUOTE>")
                       : QLatin1String("<BR>"));
      WriteHtml(out, StoreHelpers::TrimTrailing(row.notes.at(i)));
      out.Write(QLatin1Char(' '));
      out.EndLine();
    }
    out.Write(QLatin1String("</I><FONT SIZE=+1></BLOCKQUOTE></TD>"));
    for (int i = 0; i < 3; ++i) out.Write(QLatin1String("<TD NOWRAP></BR></TD>"));
    out.WriteLine(QLatin1String("</TR>"));
  };
  return Run(fileName, head, doNotes ? kHtmlNoteWidth : 0, writeRow, tail);
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

  auto writeRow = [&](ExportFile& out, const Row& row) {
    auto cell = [&out](const QString& text, QLatin1String end) {
      out.Write(kRtfCellStart);
      WriteRtf(out, text);
      out.WriteLine(end);
    };
    cell(row.descript, QLatin1String("\\cell"));
    cell(row.date, QLatin1String("\\cell"));
    cell(row.time, QLatin1String("\\cell"));
    cell(row.priority, QLatin1String("\\cell"));
    cell(row.done, QLatin1String("\\cell\\row"));
    if (row.notes.isEmpty()) return;
    out.WriteLine(QLatin1String("\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf1\\i\\li180 "));
    for (int i = 0; i < row.notes.size(); ++i) {
      if (i > 0) out.Write(QLatin1String("\\par "));
      WriteRtf(out, StoreHelpers::TrimTrailing(row.notes.at(i)));
      out.Write(QLatin1Char(' '));
      out.EndLine();
    }
    out.WriteLine(QLatin1String("\\cell"));
    out.WriteLine(QLatin1String("\\intbl \\sb40\\sl\\sa40 \\plain\\f0\\fs20\\cf1\\li0 \\cell"));
    out.Write(kRtfCellStart);
    out.WriteLine(QLatin1String("\\cell"));
    out.Write(kRtfCellStart);
    out.WriteLine(QLatin1String("\\cell\\row"));
  };
  return Run(fileName, head, doNotes ? kRtfNoteWidth : 0, writeRow, {QStringLiteral("}}}")});
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
  auto writeRow = [&](ExportFile& out, const Row& row) {
    WriteColumn(out, row.descript, 50);
    WriteColumn(out, row.date, 12);
    WriteColumn(out, row.time, 9);
    WriteColumn(out, row.priority, 9);
    WriteColumn(out, row.done, 4);
    out.EndLine();
    for (const QString& line : row.notes) {
      out.Write(QLatin1String("   "));
      out.WriteLine(StoreHelpers::TrimTrailing(line));
    }
  };
  const int width = doNotes ? NoteLines::TextFileWidth(noteFont_) : 0;
  return Run(fileName, head, width, writeRow, {});
}
