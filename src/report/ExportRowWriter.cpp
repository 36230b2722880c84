#include "report/ExportRowWriter.h"

#include <cstring>

#include "db/Cp1252.h"
#include "db/DataSetField.h"
#include "db/TableDataSet.h"
#include "platform/BlankText.h"
#include "report/ExportEscapes.h"
#include "report/ExportFile.h"

namespace {

const char* const kShownFields[ExportRowWriter::kColumns] = {"DESCRIPT", "ShowDate", "ShowTime",
                                                             "ShowPriority", "IsDone"};
// The stored field each display text is worked out from.
const char* const kKeyFields[ExportRowWriter::kColumns] = {nullptr, "DATE", "TIME", "PRIORITY",
                                                           "DONE"};
constexpr std::array<int, ExportRowWriter::kColumns> kTextWidths = {50, 12, 9, 9, 4};

const QLatin1String kRtfCellStart("\\intbl \\sb40\\sl\\sa40 \\plain\\f0\\fs20\\cf1 ");

// A stored field read in place in the record image, or null when it is not kept there.
const FieldDesc* InImage(const TableDataSet& table, const char* name) {
  const DataSetField* field = table.FindField(QLatin1String(name));
  if (field == nullptr || field->Calculated() || field->FieldNo() < 1) return nullptr;
  const auto& defs = table.FieldDefs();
  if (size_t(field->FieldNo()) > defs.size()) return nullptr;
  const FieldDesc& d = defs[size_t(field->FieldNo()) - 1];
  if (d.variable || d.offset < 1 || d.width < 1) return nullptr;
  return &d;
}

// The text a field shows for `value`, as DataSetField::AsString gives it.
QString TextOf(const DataSetField* field, const QVariant& value) {
  if (!value.isValid()) return QString();
  if (field->DataType() == FieldKind::Logical)
    return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
  return value.toString();
}

quint64 KeyOf(const char* bytes, int width) {
  quint64 key = 0;
  std::memcpy(&key, bytes, size_t(width));
  return key;
}

}  // namespace

ExportRowWriter::ExportRowWriter(Format format, TableDataSet& table) : format_(format), table_(table) {
  for (int c = 0; c < kColumns; ++c) {
    Cell& cell = cells_[size_t(c)];
    cell.shown = table.FieldByName(QLatin1String(kShownFields[c]));
    shown_.push_back(cell.shown);
    if (c == 0) {
      const FieldDesc* d = InImage(table, kShownFields[0]);
      if (d != nullptr && d->kind == FieldKind::String) {
        descriptOffset_ = d->offset - 1;
        descriptWidth_ = d->width;
      }
      continue;
    }
    const FieldDesc* key = InImage(table, kKeyFields[c]);
    if (key != nullptr && key->width <= int(sizeof(quint64))) {
      cell.keyOffset = key->offset - 1;
      cell.keyWidth = key->width;
    }
  }

  switch (format_) {
    case Format::Html:
      markup_[0] = "<TR>\r\n<TD WRAP>";
      for (int c = 1; c < kColumns; ++c) markup_[size_t(c)] = "</TD><TD NOWRAP>";
      markup_[kColumns] = "</TD></TR>\r\n";
      break;
    case Format::Rtf:
      markup_[0] = QByteArray(kRtfCellStart.data(), kRtfCellStart.size());
      for (int c = 1; c < kColumns; ++c) markup_[size_t(c)] = "\\cell\r\n" + markup_[0];
      markup_[kColumns] = "\\cell\\row\r\n";
      break;
    case Format::Text:
      markup_[kColumns] = "\r\n";
      break;
  }

  // Each byte of a description escaped as the format escapes the character it stands for.
  for (int b = 0; b < 256; ++b) {
    const char byte = char(b);
    const QString character = Cp1252::Decode(&byte, 1);
    QByteArray& bytes = escaped_[size_t(b)];
    switch (format_) {
      case Format::Html:
        bytes = ExportFile::Encode(ExportEscapes::Html(character));
        break;
      case Format::Rtf:
        bytes = ExportFile::Encode(ExportEscapes::Rtf(character));
        break;
      case Format::Text:
        bytes = ExportFile::Encode(character);
        break;
    }
    plain_[size_t(b)] = bytes.size() == 1 && bytes.at(0) == byte;
    longestEscape_ = std::max(longestEscape_, int(bytes.size()));
  }
  for (const QByteArray& m : markup_) markupSize_ += m.size();
}

bool ExportRowWriter::TakeCalculated() {
  const bool calculated = calculated_;
  calculated_ = false;
  return calculated;
}

QByteArray ExportRowWriter::CellBytes(int column, QStringView text) const {
  switch (format_) {
    case Format::Html:
      if (text.isEmpty()) return QByteArrayLiteral("</BR>");
      return ExportFile::Encode(ExportEscapes::Html(text.toString()));
    case Format::Rtf:
      return ExportFile::Encode(ExportEscapes::Rtf(text.toString()));
    case Format::Text: {
      const int width = kTextWidths[size_t(column)];
      return ExportFile::Encode(text.toString().leftJustified(width, QLatin1Char(' '), true));
    }
  }
  return QByteArray();
}

qsizetype ExportRowWriter::TaskBound(int size) const {
  return format_ == Format::Text ? std::max(size, kTextWidths[0])
                                 : qsizetype(size) * longestEscape_;
}

char* ExportRowWriter::PutTask(char* to, const char* bytes, int size) const {
  while (size > 0 && bytes[size - 1] == ' ') --size;
  if (format_ == Format::Html && size == 0) {
    std::memcpy(to, "</BR>", 5);
    return to + 5;
  }
  const int width = kTextWidths[0];
  const int shown = format_ == Format::Text ? std::min(size, width) : size;
  for (int i = 0; i < shown; ++i) {
    const auto b = uchar(bytes[i]);
    if (plain_[b]) {
      *to++ = char(b);
    } else {
      const QByteArray& escaped = escaped_[b];
      std::memcpy(to, escaped.constData(), size_t(escaped.size()));
      to += escaped.size();
    }
  }
  if (format_ == Format::Text && shown < width) {
    std::memset(to, ' ', size_t(width - shown));
    to += width - shown;
  }
  return to;
}

namespace {

char* Put(char* to, const QByteArray& bytes) {
  std::memcpy(to, bytes.constData(), size_t(bytes.size()));
  return to + bytes.size();
}

}  // namespace

void ExportRowWriter::WriteRow(ExportFile& out, quint32 recno, const QByteArray& image) {
  std::array<const QByteArray*, kColumns> cell{};
  const char* bytes = image.constData();
  const qsizetype size = image.size();
  const bool direct = descriptOffset_ >= 0 && descriptOffset_ + descriptWidth_ <= size;
  bool calculate = !direct;
  for (int c = 1; c < kColumns; ++c) {
    Cell& k = cells_[size_t(c)];
    if (k.keyOffset < 0 || k.keyOffset + k.keyWidth > size) {
      calculate = true;
      continue;
    }
    const char* key = bytes + k.keyOffset;
    if (k.keyWidth == 1) {
      cell[size_t(c)] = k.byByte[uchar(*key)];
      calculate = calculate || cell[size_t(c)] == nullptr;
      continue;
    }
    const quint64 packed = KeyOf(key, k.keyWidth);
    if (k.last != nullptr && packed == k.lastKey) {
      cell[size_t(c)] = k.last;
      continue;
    }
    const auto found = k.cells.find(packed);
    if (found == k.cells.end()) {
      calculate = true;
      continue;
    }
    k.lastKey = packed;
    k.last = &found->second;
    cell[size_t(c)] = k.last;
  }

  if (calculate) {
    // Cells not known yet come from the table's own fields and calculation, once per stored
    // value where the cell has a cache.
    calculated_ = true;
    table_.RowValues(recno, image, shown_, &values_);
    for (int c = direct ? 1 : 0; c < kColumns; ++c) {
      if (cell[size_t(c)] != nullptr) continue;
      Cell& k = cells_[size_t(c)];
      QByteArray text = CellBytes(c, TextOf(k.shown, values_[size_t(c)]));
      if (c > 0 && k.keyOffset >= 0 && k.keyOffset + k.keyWidth <= size) {
        const char* key = bytes + k.keyOffset;
        const quint64 packed = KeyOf(key, k.keyWidth);
        const QByteArray* kept = &k.cells.insert_or_assign(packed, std::move(text)).first->second;
        if (k.keyWidth == 1) k.byByte[uchar(*key)] = kept;
        k.lastKey = packed;
        k.last = kept;
        cell[size_t(c)] = kept;
      } else {
        uncached_[size_t(c)] = std::move(text);
        cell[size_t(c)] = &uncached_[size_t(c)];
      }
    }
  }

  // The whole row goes into the file's buffer in one piece.
  const char* task = direct ? bytes + descriptOffset_ : nullptr;
  qsizetype total = markupSize_ + (direct ? TaskBound(descriptWidth_) : cell[0]->size());
  for (int c = 1; c < kColumns; ++c) total += cell[size_t(c)]->size();
  char* to = out.Claim(total);
  if (to == nullptr) return;
  to = Put(to, markup_[0]);
  to = direct ? PutTask(to, task, descriptWidth_) : Put(to, *cell[0]);
  for (int c = 1; c < kColumns; ++c) {
    to = Put(to, markup_[size_t(c)]);
    to = Put(to, *cell[size_t(c)]);
  }
  to = Put(to, markup_[kColumns]);
  out.Settle(to);
}

void ExportRowWriter::WriteNotes(ExportFile& out, const QStringList& lines) const {
  if (lines.isEmpty()) return;
  switch (format_) {
    case Format::Html:
      out.WriteLine(QLatin1String("<TR>"));
      for (int i = 0; i < lines.size(); ++i) {
        out.Write(i == 0 ? QLatin1String("<TD WRAP><FONT SIZE=-1><I><BLOCKQUOTE>")
                         : QLatin1String("<BR>"));
        out.Write(
            ExportFile::Encode(ExportEscapes::Html(BlankText::TrimTrailing(lines.at(i)))));
        out.Write(QLatin1Char(' '));
        out.EndLine();
      }
      out.Write(QLatin1String("</I><FONT SIZE=+1></BLOCKQUOTE></TD>"));
      for (int i = 0; i < 3; ++i) out.Write(QLatin1String("<TD NOWRAP></BR></TD>"));
      out.WriteLine(QLatin1String("</TR>"));
      break;
    case Format::Rtf:
      out.WriteLine(QLatin1String("\\intbl \\sb0\\sl\\sa0 \\plain\\f0\\fs16\\cf1\\i\\li180 "));
      for (int i = 0; i < lines.size(); ++i) {
        if (i > 0) out.Write(QLatin1String("\\par "));
        out.Write(
            ExportFile::Encode(ExportEscapes::Rtf(BlankText::TrimTrailing(lines.at(i)))));
        out.Write(QLatin1Char(' '));
        out.EndLine();
      }
      out.WriteLine(QLatin1String("\\cell"));
      out.WriteLine(QLatin1String("\\intbl \\sb40\\sl\\sa40 \\plain\\f0\\fs20\\cf1\\li0 \\cell"));
      out.Write(kRtfCellStart);
      out.WriteLine(QLatin1String("\\cell"));
      out.Write(kRtfCellStart);
      out.WriteLine(QLatin1String("\\cell\\row"));
      break;
    case Format::Text:
      for (const QString& line : lines) {
        out.Write(QLatin1String("   "));
        out.WriteLine(BlankText::TrimTrailing(line));
      }
      break;
  }
}
