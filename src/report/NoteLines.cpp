#include "report/NoteLines.h"

#include <QFontMetrics>
#include <QTextLayout>
#include <QTextOption>

#include "platform/BlankText.h"

namespace {

QStringList Paragraphs(const QString& note) {
  QStringList out;
  qsizetype start = 0;
  for (qsizetype i = 0; i < note.size(); ++i) {
    const QChar c = note.at(i);
    if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
    out << note.mid(start, i - start);
    if (c == QLatin1Char('\r') && i + 1 < note.size() && note.at(i + 1) == QLatin1Char('\n')) ++i;
    start = i + 1;
  }
  // The text after the last break; when the note ends in a break this empty remainder is
  // what a text box shows as the caret's line, and it does not count as a display line.
  if (start < note.size() || out.isEmpty()) out << note.mid(start);
  return out;
}

}  // namespace

QStringList NoteLines::Of(const QString& note, const QFont& font, int width) {
  QStringList lines;
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  for (const QString& paragraph : Paragraphs(note)) {
    if (paragraph.isEmpty()) {
      lines << QString();
      continue;
    }
    QTextLayout layout(paragraph, font);
    layout.setTextOption(option);
    layout.beginLayout();
    for (;;) {
      QTextLine line = layout.createLine();
      if (!line.isValid()) break;
      line.setLineWidth(width);
      lines << paragraph.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
  }
  if (lines.size() == 1 && BlankText::TrimBoth(lines.first()).isEmpty()) lines.clear();
  return lines;
}

QFont NoteLines::DialogFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPixelSize(11);
  return font;
}

int NoteLines::TextFileWidth(const QFont& font) {
  return QFontMetrics(font).horizontalAdvance(QStringLiteral("1234567890123456789012345678901234"));
}
