#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QVariant>
#include <array>
#include <unordered_map>
#include <vector>

class ExportFile;
class DataSetField;
class TableDataSet;

// Turns the tasks of an export into the bytes of the HTML, RTF or text layout: a row holds five
// cells (task, date, time, priority, done) between the format's fixed markup, followed by the
// note's display lines. An export of a million tasks writes each row from its record image
// without building a string for it:
// - the task's description goes from the record's code page bytes to the file through a
//   256-entry table made with the format's own escape of each character;
// - each display text is the table's calculated field, and it depends on one stored field only
//   (ShowDate on DATE, ShowTime on TIME, ShowPriority on PRIORITY, IsDone on DONE, as the main
//   window computes them), so the finished cell is remembered by that field's stored bytes and
//   the calculation runs once per distinct value. A table without such a field has that cell
//   calculated for every row instead.
// The bytes are the same as the format's escape (ExportEscapes) and the
// file's code page rule (ExportFile::Encode) give for the texts the dataset shows.
class ExportRowWriter {
 public:
  enum class Format { Html, Rtf, Text };

  // Looks up the fields it needs in the open table; raises EDatabaseError for a missing one.
  ExportRowWriter(Format format, TableDataSet& table);

  // The row of record `recno`, whose bytes are `image`.
  void WriteRow(ExportFile& out, quint32 recno, const QByteArray& image);
  // The display lines of a note under the row just written; nothing for no lines.
  void WriteNotes(ExportFile& out, const QStringList& lines) const;

  // The bytes of cell `column` (0 the task, 1 the date, 2 the time, 3 the priority, 4 done)
  // holding `text`, as the format writes it: escaped, and in the text file padded or cut to the
  // column's width; an empty cell of the page holds "</BR>".
  QByteArray CellBytes(int column, QStringView text) const;

  // True when a calculation ran since the last call: a handler may have moved the engine.
  bool TakeCalculated();

  static constexpr int kColumns = 5;

 private:
  // A display text cached by the stored bytes of the field it depends on.
  struct Cell {
    DataSetField* shown = nullptr;  // the field whose text the cell holds
    int keyOffset = -1;       // the stored field's bytes in the image; -1: no cache
    int keyWidth = 0;
    std::unordered_map<quint64, QByteArray> cells;
    std::array<const QByteArray*, 256> byByte{};  // the cells of one-byte fields, by the byte
    quint64 lastKey = 0;
    const QByteArray* last = nullptr;  // the cell of lastKey
  };

  // The description's cell from its stored bytes, at `to`; returns the end. At most
  // TaskBound(size) bytes.
  char* PutTask(char* to, const char* bytes, int size) const;
  qsizetype TaskBound(int size) const;

  Format format_;
  TableDataSet& table_;
  std::array<QByteArray, kColumns + 1> markup_;  // before each cell, and the row's end
  std::array<int, kColumns> widths_{};           // text file columns
  // The description straight from the image (descriptOffset_ >= 0), or as a field value.
  int descriptOffset_ = -1;
  int descriptWidth_ = 0;
  std::array<QByteArray, 256> escaped_;  // each code page byte as the format writes it
  std::array<bool, 256> plain_{};        // written as it is
  int longestEscape_ = 1;
  qsizetype markupSize_ = 0;
  std::array<Cell, kColumns> cells_;  // [0] unused while the description comes from the image
  std::vector<DataSetField*> shown_;        // the fields of the five cells, in column order
  std::vector<QVariant> values_;
  std::array<QByteArray, kColumns> uncached_;  // this row's cells that have no cache
  bool calculated_ = false;
};
