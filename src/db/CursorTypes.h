#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <vector>

// Statuses of the table cursor layer (0 = success). Datasets turn them into errors.
enum CursorStatus : int {
  kCursorOk = 0,
  kCursorNotOpen = 9990,       // the cursor's work area is not open
  kCursorOpenError = 11011,    // "File Open Error"
  kCursorBof = 8705,           // at the beginning of the table
  kCursorEof = 8706,           // at the end, or no more entries in a list
  kCursorNotInQuery = 8709,    // the current record no longer satisfies the query
  kCursorKeyNotFound = 8710,
  kCursorLocked = 10245,       // record lock refused
  kCursorNoIndex = 10757,      // the requested order has no index
  kCursorNoOrder = 10764,      // a key search without an index order in force
  kCursorOverflow = 10019,     // a number does not fit its field
  kCursorBadText = 10020,      // text with characters the table's code page cannot hold
  kCursorEngineFailed = 10021, // the engine refused a write; its message says why
  kCursorMemoUnreadable = 10022, // a memo's text cannot be read (damaged pointer or blocks)
  kCursorEngineVersion = 99,   // the engine is missing or too old
};

enum class FieldKind { None, String, Date, Memo, Logical, SmallInt, Float };

// One field of an open table, as the layer describes it to datasets.
struct FieldDesc {
  int number = 0;          // 1-based position
  QString name;            // up to 31 characters
  FieldKind kind = FieldKind::None;
  bool memoSubtype = false;
  int units1 = 0;          // width (1 for dates, logicals, small integers and memos)
  int units2 = 0;          // decimals of numeric fields with decimals
  int offset = 0;          // bytes start at image + offset - 1
  int length = 0;          // bytes in the dataset's own buffer
  int width = 0;           // bytes in the record image
  char engineType = ' ';
  bool variable = false;   // read and written through the engine, not the image
};

struct CursorProps {
  int recordSize = 0;
  int fieldCount = 0;
  int indexCount = 0;
  int bookmarkSize = 4;
};

// One index order of an open table.
struct IndexDesc {
  int order = 0;
  QString fileName;
  QString tagName;
  QString key;
  bool expression = false;      // the key is an expression rather than a single field
  std::vector<int> fieldNumbers;  // for single-field keys: the field, then fields named in the key
};

// Where a record move left the cursor.
struct RecordInfo {
  long recno = 0;
  bool deleted = false;
};

enum SearchMode { kSearchExact = 0, kSearchAfter = 1, kSearchAtOrAfter = 2 };
