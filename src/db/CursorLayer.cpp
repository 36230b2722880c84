#include "db/CursorLayer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <cmath>
#include <cstring>

#include "Calendar.h"
#include "db/Cp1252.h"
#include "db/WorkAreaScope.h"
#include "Engine.h"
#include "xbengine.h"

namespace {

// A walk over every record looks at the table at one moment, under one hold of its lock rather
// than one per record (which cost a system call each). Without the hold (the lock is busy) the
// walk goes on step by step as before.
class ReadHold {
 public:
  ReadHold() : held_(xb_BeginRead() != 0) {}
  ~ReadHold() {
    if (held_) xb_EndRead();
  }
  ReadHold(const ReadHold&) = delete;
  ReadHold& operator=(const ReadHold&) = delete;

 private:
  bool held_;
};

// Grid painting, scrolling and walks ask for one row at a time, each a look at the shared
// table under its lock; a read lease keeps the lock from one look to the next, so they cost no
// system call each. The leases are given up as soon as the event loop gets control back, so
// another program that wants to change the table waits no longer than the event this program
// is busy with (and never longer than the engine's lease limit while it reads). Without an
// event loop (no application object) there are no leases.
bool LeasesGivenUpByTheEventLoop() {
  static bool installed = false;
  if (installed) return true;
  if (QCoreApplication::instance() == nullptr) return false;
  xb_SetLeaseNotice([] {
    QMetaObject::invokeMethod(QCoreApplication::instance(), [] { xb_ReleaseLeases(); },
                              Qt::QueuedConnection);
  });
  installed = true;
  return true;
}

CursorLayer::Reporter& InstalledReporter() {
  static CursorLayer::Reporter reporter;
  return reporter;
}

void Tell(const QString& text) {
  if (InstalledReporter()) InstalledReporter()(text);
}

QByteArray Bytes(const QString& text) {
  QByteArray out;
  Cp1252::Encode(text, &out);
  return out;
}

bool AllBlank(const char* p, int n) {
  for (int i = 0; i < n; ++i)
    if (p[i] != ' ') return false;
  return true;
}

}  // namespace

void CursorLayer::ReleaseLeases() { xb_ReleaseLeases(); }

void CursorLayer::SetReporter(Reporter reporter) { InstalledReporter() = std::move(reporter); }

CursorLayer& CursorLayer::Instance() {
  static CursorLayer layer;
  return layer;
}

// ---- Engine connection ------------------------------------------------------------------------

int CursorLayer::Acquire() {
  if (users_ == 0) {
    const int status = EngineStart();
    if (status != kCursorOk) return status;
  }
  ++users_;
  return kCursorOk;
}

void CursorLayer::Release() {
  if (users_ == 0) return;
  if (--users_ == 0) EngineEnd();
}

int CursorLayer::EngineStart() {
  xb_SetStringType(1);
  xb_ErrorLevel(1);
  currentPath_ = QStringLiteral("./");
  char version[256];
  std::memset(version, 0, sizeof version);
  xb_Version(version);
  const long scratch = xb_SysProp(65010, -1);
  scratch_ = QByteArray(int(scratch > 0 ? scratch : 0), '\0');
  const QString text = QString::fromLatin1(version);
  bool ok = !text.isEmpty();
  if (ok) {
    // The version's number starts at the seventh character: "XBENG 2.40.00" carries 2.
    const QString rest = text.mid(6);
    qsizetype digits = 0;
    while (digits < rest.size() && rest[digits].isDigit()) ++digits;
    ok = digits > 0 && rest.left(digits).toLong() >= 0;
  }
  if (!ok) {
    Tell(QStringLiteral("Listwise requires storage engine version 2.40.00 or later."));
    scratch_.clear();
    return kCursorEngineVersion;
  }
  started_ = true;
  return kCursorOk;
}

void CursorLayer::EngineEnd() {
  xb_CloseAll();
  xb_SysProp(65005, 0);
  xb_SysProp(65010, 0);
  scratch_.clear();
  for (auto& c : cursors_) c.reset();
  started_ = false;
}

// ---- Databases ------------------------------------------------------------------------------

namespace {
QString WithSeparator(QString path) {
  if (!path.endsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char(':'))) path += QLatin1Char('/');
  return path;
}
}  // namespace

int CursorLayer::OpenDatabase(const QString& directory, int* handle) {
  *handle = 0;
  const QString path = directory.isEmpty() ? QStringLiteral("./") : directory;
  if (path.size() > kMaxPath) {
    Tell(QStringLiteral("Directory name too long: ") + path);
    return kCursorOpenError;
  }
  for (int h = 1; h <= kMaxDatabases; ++h) {
    if (!databases_[h]) {
      databases_[h] = WithSeparator(path);
      *handle = h;
      return kCursorOk;
    }
  }
  Tell(QStringLiteral("Too many databases are open"));
  return kCursorOpenError;
}

int CursorLayer::SetDirectory(int handle, const QString& path) {
  if (handle == 0) {
    Tell(QStringLiteral("SetDirectory : hDb = 0"));
    return kCursorOk;
  }
  if (handle < 0 || handle > kMaxDatabases || path.size() > kMaxPath) return kCursorOpenError;
  databases_[handle] = WithSeparator(path.isEmpty() ? QStringLiteral("./") : path);
  return kCursorOk;
}

int CursorLayer::CloseDatabase(int handle) {
  if (handle >= 1 && handle <= kMaxDatabases) databases_[handle].reset();
  return kCursorOk;
}

QString CursorLayer::DatabasePath(int handle) const {
  if (handle < 1 || handle > kMaxDatabases || !databases_[handle]) return QString();
  return *databases_[handle];
}

// ---- Tables ---------------------------------------------------------------------------------

int CursorLayer::DriverCode(const QString& driverName) {
  const QString n = driverName.toUpper();
  if (n == QLatin1String("XBNTX")) return 1;
  if (n == QLatin1String("XBFOX")) return 2;
  if (n == QLatin1String("XBXSX")) return 3;
  if (n == QLatin1String("XANTX")) return 11;
  if (n == QLatin1String("XAFOX")) return 12;
  return 2;
}

QString CursorLayer::AliasBase(const QString& tableName) {
  QString base = QFileInfo(tableName).completeBaseName();
  const qsizetype dot = base.indexOf(QLatin1Char('.'));
  if (dot >= 0) base.truncate(dot);
  base.truncate(8);
  for (QChar& c : base)
    if (c == QLatin1Char('~') || c == QLatin1Char('-') || c == QLatin1Char(' ')) c = QLatin1Char('_');
  return base;
}

namespace {

bool CompanionExists(const QString& path, const char* ext) {
  const QFileInfo info(path);
  const QString stem = info.dir().filePath(info.completeBaseName());
  const QString e = QString::fromLatin1(ext);
  return QFile::exists(stem + e.toUpper()) || QFile::exists(stem + e.toLower());
}

// Driver chosen from the file itself when the caller names none.
int DriverFromFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return 2;
  char first = 0;
  if (f.read(&first, 1) != 1) return 2;
  switch (static_cast<unsigned char>(first)) {
    case 0x03:
    case 0x06:
      if (CompanionExists(path, ".cdx")) return 2;
      if (CompanionExists(path, ".xsx")) return 3;
      return 2;
    case 0xF5:
    case 0xF6: return 2;
    case 0x83:
    case 0x86: return 1;
    case 0xE5:
    case 0xE6: return 3;
    default: return 2;
  }
}

}  // namespace

int CursorLayer::OpenTable(int database, const QString& tableName, const QString& driverName,
                           const QString& indexName, bool readOnly, bool exclusive, int* cursor) {
  *cursor = 0;
  const QString dir = DatabasePath(database);
  if (dir.isNull()) {
    Tell(QStringLiteral("Could not find directory associated with this database"));
    return kCursorOpenError;
  }
  currentPath_ = dir;
  const QString path = currentPath_ + tableName;
  const int driver = driverName.isEmpty() ? DriverFromFile(path) : DriverCode(driverName);
  const int mode = readOnly ? XB_READONLY : (exclusive ? XB_EXCLUSIVE : XB_SHARED);

  const QString base = AliasBase(tableName);
  QString alias = base;
  for (int n = 1; xb_WorkArea(Bytes(alias).constData()) != 0; ++n)
    alias = base + QLatin1Char('_') + QString::number(n);

  const int previous = xb_WorkArea(nullptr);
  const int area = xb_Use(QFile::encodeName(path).constData(), Bytes(alias).constData(), mode, driver);
  if (area == 0) {
    NoteEngineFailure();
    if (previous > 0) xb_Select(previous);
    return kCursorOpenError;
  }
  if (mode != XB_EXCLUSIVE && LeasesGivenUpByTheEventLoop()) xb_SetReadLease(1);
  auto c = std::make_unique<Cursor>();
  c->driver = driver;
  c->recordSize = xb_RecSize();
  c->image = QByteArray(c->recordSize, ' ');
  if (!indexName.isEmpty()) {
    if (driver == 1) {
      const QString file = currentPath_ + indexName;
      if (QFile::exists(file)) xb_IndexOpen(QFile::encodeName(file).constData());
    } else {
      const int order = xb_TagArea(Bytes(indexName).constData());
      if (order > 0) xb_SetOrder(order);
    }
  }
  cursors_[area] = std::move(c);
  if (previous > 0) xb_Select(previous);
  *cursor = area;
  return kCursorOk;
}

int CursorLayer::CloseTable(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  const int previous = xb_Select(cursor);
  xb_Close(cursor);
  if (previous > 0 && previous != cursor) xb_Select(previous);
  cursors_[cursor].reset();
  return kCursorOk;
}

CursorLayer::Cursor* CursorLayer::Find(int cursor) {
  if (cursor < 1 || cursor > kMaxAreas) return nullptr;
  return cursors_[cursor].get();
}

const CursorLayer::Cursor* CursorLayer::Find(int cursor) const {
  if (cursor < 1 || cursor > kMaxAreas) return nullptr;
  return cursors_[cursor].get();
}

int CursorLayer::DriverOf(int cursor) const {
  const Cursor* c = Find(cursor);
  return c ? c->driver : 0;
}

int CursorLayer::Describe(int cursor, Cursor* c) {
  if (c->described) return kCursorOk;
  WorkAreaScope area(cursor);
  const int count = xb_FieldCount();
  c->fields.clear();
  for (int i = 1; i <= count; ++i) {
    FieldDesc f;
    f.number = i;
    f.name = QString::fromLatin1(xb_FieldName(i)).left(31);
    f.engineType = xb_FieldType(i);
    f.width = xb_FieldWidth(i);
    const int decimals = xb_FieldDecimals(i);
    f.offset = xb_FieldOffset(i);
    switch (f.engineType) {
      case 'C':
        f.kind = FieldKind::String;
        f.variable = xb_SysProp(65012, i) != 0;
        f.units1 = f.variable ? 254 : f.width;
        f.length = f.variable ? 255 : f.width + 1;
        break;
      case 'D':
        f.kind = FieldKind::Date;
        f.units1 = 1;
        f.length = 4;
        break;
      case 'L':
        f.kind = FieldKind::Logical;
        f.units1 = 1;
        f.length = 2;
        break;
      case 'N':
        if (decimals > 0) {
          f.kind = FieldKind::Float;
          f.units1 = f.width;
          f.units2 = decimals;
          f.length = 8;
        } else if (f.width < 5) {
          f.kind = FieldKind::SmallInt;
          f.units1 = 1;
          f.length = 2;
        } else {
          f.kind = FieldKind::Float;
          f.units1 = f.width;
          f.length = 8;
        }
        break;
      case 'B':
      case 'M':
      case 'P':
        f.kind = FieldKind::Memo;
        f.memoSubtype = true;
        f.units1 = 1;
        f.length = 0;
        break;
      default:
        Tell(QStringLiteral("Invalid Field Type ") + QLatin1Char(f.engineType));
        f.kind = FieldKind::None;
        break;
    }
    c->fields.push_back(f);
  }
  c->described = true;
  return kCursorOk;
}

int CursorLayer::GetFieldDescs(int cursor, std::vector<FieldDesc>* fields) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  *fields = c->fields;
  return kCursorOk;
}

int CursorLayer::GetCursorProps(int cursor, CursorProps* props) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  props->recordSize = xb_RecSize();
  props->fieldCount = xb_FieldCount();
  props->indexCount = int(xb_SysProp(3000, -1));
  props->bookmarkSize = 4;
  return kCursorOk;
}

int CursorLayer::GetIndexDescs(int cursor, std::vector<IndexDesc>* indexes) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  WorkAreaScope area(cursor);
  indexes->clear();
  const int count = int(xb_SysProp(3000, -1));
  for (int order = 1; order <= count; ++order) {
    IndexDesc d;
    d.order = order;
    d.fileName = QString::fromLocal8Bit(xb_IndexName(order));
    d.tagName = QString::fromLatin1(xb_TagName(order));
    d.key = QString::fromLatin1(xb_IndexKey(order));
    const QString keyField = QString::fromLatin1(xb_IndexKeyField(order));
    if (!keyField.isEmpty() && keyField.compare(d.key.trimmed(), Qt::CaseInsensitive) == 0) {
      const QString upperKey = d.key.toUpper();
      const int first = xb_FieldNum(keyField.toLatin1().constData());
      if (first > 0) d.fieldNumbers.push_back(first);
      for (const FieldDesc& f : c->fields)
        if (f.number != first && upperKey.contains(f.name.toUpper())) d.fieldNumbers.push_back(f.number);
    } else {
      d.expression = true;
    }
    indexes->push_back(d);
  }
  return kCursorOk;
}

// ---- Navigation -----------------------------------------------------------------------------

int CursorLayer::SetToBegin(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_GoTop() == 0 && xb_Error() != 0) return EngineFailed();
  xb_Skip(-1);
  return kCursorOk;
}

int CursorLayer::SetToEnd(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_GoBottom() == 0 && xb_Error() != 0) return EngineFailed();
  xb_Skip(1);
  return kCursorOk;
}

int CursorLayer::EngineFailed() {
  // A damaged index found while moving: the caller reports the engine's message.
  NoteEngineFailure();
  return kCursorEngineFailed;
}

int CursorLayer::CopyCurrent(int cursor, bool lock, QByteArray* image, RecordInfo* info) {
  Cursor* c = Find(cursor);
  const long recno = xb_RecNo();
  if (info != nullptr) {
    info->recno = recno;
    info->deleted = xb_Deleted() != 0;
  }
  if (lock && xb_Rlock(recno) == 0) return kCursorLocked;
  if (image != nullptr) {
    image->resize(c->recordSize);
    xb_GetRecord(image->data());
  }
  return kCursorOk;
}

int CursorLayer::GetNextRecord(int cursor, bool lock, QByteArray* image, RecordInfo* info) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  const int moved = xb_Bof() ? xb_GoTop() : xb_Skip(1);
  if (moved == 0 && xb_Error() != 0) return EngineFailed();
  if (xb_Eof()) return kCursorEof;
  return CopyCurrent(cursor, lock, image, info);
}

int CursorLayer::GetPriorRecord(int cursor, bool lock, QByteArray* image, RecordInfo* info) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_Skip(-1) == 0 && xb_Error() != 0) return EngineFailed();
  if (xb_Bof()) {
    xb_GoTop();
    return kCursorBof;
  }
  if (xb_Eof()) return kCursorEof;  // an empty table
  return CopyCurrent(cursor, lock, image, info);
}

int CursorLayer::GetRecord(int cursor, bool lock, QByteArray* image, RecordInfo* info) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_Eof()) return kCursorEof;
  if (xb_Bof()) return kCursorBof;
  const long recno = xb_RecNo();
  if (!QByteArray(xb_DBFilter()).isEmpty() || xb_SysProp(1006, -1) == 1) {
    // A record changed since it was read may no longer pass the query: a step forward and
    // back returns to it only if it still does.
    xb_Skip(1);
    xb_Skip(-1);
    if (xb_RecNo() != recno) {
      if (recno < xb_RecCount()) xb_Go(recno);
      else {
        xb_GoBottom();
        xb_Skip(1);
      }
      return kCursorNotInQuery;
    }
  }
  return CopyCurrent(cursor, lock, image, info);
}

int CursorLayer::GetBookmark(int cursor, quint32* bookmark) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  *bookmark = quint32(xb_RecNo());
  return kCursorOk;
}

int CursorLayer::SetToBookmark(int cursor, quint32 bookmark) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  // Already there: a dataset walking the table step by step would otherwise reposition the
  // engine on every step.
  if (bookmark != 0 && xb_RecNo() == long(bookmark) && !xb_Eof() && !xb_Bof()) return kCursorOk;
  if (long(bookmark) > xb_RecCount() || bookmark == 0) {
    xb_GoBottom();
    xb_Skip(1);
  } else {
    xb_Go(long(bookmark));
  }
  return kCursorOk;
}

int CursorLayer::SetToCursor(int cursor, int other) {
  if (Find(cursor) == nullptr || Find(other) == nullptr) return kCursorNotOpen;
  long recno;
  {
    WorkAreaScope area(other);
    recno = xb_RecNo();
  }
  WorkAreaScope area(cursor);
  xb_Go(recno);
  return kCursorOk;
}

int CursorLayer::ReadRecord(int cursor, quint32 recno, QByteArray* image, RecordInfo* info) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (recno == 0 || long(recno) > xb_RecCount()) return kCursorEof;
  xb_Go(long(recno));
  info->recno = long(recno);
  info->deleted = xb_Deleted() != 0;
  image->resize(c->recordSize);
  xb_GetRecord(image->data());
  return kCursorOk;
}

int CursorLayer::LockCurrent(int cursor, QByteArray* image, RecordInfo* info) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_Eof()) return kCursorEof;
  return CopyCurrent(cursor, true, image, info);
}

int CursorLayer::CountVisible(int cursor, long* count) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  *count = xb_QueryRecCount();
  return kCursorOk;
}

int CursorLayer::StepFrom(int cursor, quint32 start, long steps, quint32* landed) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  *landed = 0;
  if (start == 0) {
    if (steps >= 0) xb_GoTop();
    else {
      xb_GoBottom();
      ++steps;
    }
  } else {
    xb_Go(long(start));
  }
  if (xb_Eof()) return kCursorEof;
  if (steps != 0) xb_Skip(steps);
  if (xb_Eof()) return kCursorEof;
  if (xb_Bof()) return kCursorBof;
  *landed = quint32(xb_RecNo());
  return kCursorOk;
}

int CursorLayer::Collect(int cursor, quint32 start, int count, std::vector<quint32>* out) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  out->clear();
  if (start == 0) xb_GoTop();
  else xb_Go(long(start));
  while (int(out->size()) < count && !xb_Eof()) {
    out->push_back(quint32(xb_RecNo()));
    xb_Skip(1);
  }
  return kCursorOk;
}

int CursorLayer::RowOf(int cursor, quint32 recno, long* row) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  const ReadHold hold;
  *row = xb_QueryPosition(long(recno));
  if (*row < 0 && xb_Error() != 0) return EngineFailed();
  return kCursorOk;
}

int CursorLayer::ScanRecords(int cursor, const std::function<bool(quint32, const QByteArray&)>& visit) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  const ReadHold hold;
  const long start = xb_RecNo();
  const bool atEnd = xb_Eof() != 0;
  const long count = xb_RecCount();
  QByteArray image(c->recordSize, ' ');
  for (long r = 1; r <= count; ++r) {
    xb_Go(r);
    xb_GetRecord(image.data());
    if (!visit(quint32(r), image)) break;
  }
  if (atEnd) {
    xb_GoBottom();
    xb_Skip(1);
  } else {
    xb_Go(start);
  }
  return kCursorOk;
}

int CursorLayer::WalkOrder(int cursor, const std::function<bool(quint32)>& visit) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  const ReadHold hold;
  if (xb_GoTop() == 0 && xb_Error() != 0) return EngineFailed();
  while (!xb_Eof()) {
    if (!visit(quint32(xb_RecNo()))) break;
    if (xb_Skip(1) == 0 && xb_Error() != 0) return EngineFailed();
  }
  return kCursorOk;
}

// ---- Records --------------------------------------------------------------------------------

int CursorLayer::InitRecord(int cursor, QByteArray* image) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  *image = QByteArray(c->recordSize, ' ');
  return kCursorOk;
}

void CursorLayer::NoteEngineFailure() { engineMessage_ = QString::fromLocal8Bit(xb_ErrorText()); }

int CursorLayer::InsertRecord(int cursor, bool lock, const QByteArray& image, RecordInfo* info) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  if (image.size() != c->recordSize) return kCursorEngineFailed;
  WorkAreaScope area(cursor);
  if (xb_AppendBlank() == 0) {
    NoteEngineFailure();
    return kCursorEngineFailed;
  }
  const long recno = xb_RecNo();
  int status = kCursorOk;
  if (lock && xb_Rlock(recno) == 0) {
    NoteEngineFailure();
    status = kCursorLocked;
  } else if (xb_PutRecord(image.constData()) == 0) {
    NoteEngineFailure();
    status = kCursorEngineFailed;
  }
  if (lock && status != kCursorLocked) xb_Unlock(recno);
  if (status != kCursorOk) {
    // The blank record is nobody's task: it goes again, and the failure stays the one reported.
    const QString why = engineMessage_;
    TakeBackInsert(cursor, quint32(recno));
    engineMessage_ = why;
    return status;
  }
  if (info != nullptr) {
    info->recno = recno;
    info->deleted = image.at(0) == '*';
  }
  return kCursorOk;
}

int CursorLayer::TakeBackInsert(int cursor, quint32 recno) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope selected(cursor);
  xb::WorkArea* area = xb::Engine::Instance().Area(cursor);
  if (area == nullptr) return kCursorNotOpen;
  const xb::Status undone = area->table().UndoAppend(recno);
  bool gone = undone.ok();
  if (!gone) {
    // Another program appended after it: marked, the record never shows as a task.
    gone = xb_Go(long(recno)) != 0 && xb_Delete() != 0;
  }
  // The work area stood on the record; it now stands past the end.
  xb_GoBottom();
  xb_Skip(1);
  if (!gone || xb_Commit() == 0) {
    if (!gone) engineMessage_ = QString::fromStdString(undone.message());
    else NoteEngineFailure();
    return kCursorEngineFailed;
  }
  return kCursorOk;
}

int CursorLayer::Commit(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_Commit() == 0) {
    NoteEngineFailure();
    return kCursorEngineFailed;
  }
  return kCursorOk;
}

int CursorLayer::ModifyRecord(int cursor, const QByteArray& image, bool unlock) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  if (image.size() != c->recordSize) return kCursorEngineFailed;
  WorkAreaScope area(cursor);
  const int stored = xb_PutRecord(image.constData());
  if (stored == 0) NoteEngineFailure();
  if (unlock) xb_Unlock(xb_RecNo());
  return stored != 0 ? kCursorOk : kCursorEngineFailed;
}

int CursorLayer::StoreRecord(int cursor, quint32 recno, const QByteArray& image,
                             const std::map<int, QString>& memos, quint32* appended) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  if (image.size() != c->recordSize) return kCursorEngineFailed;
  std::vector<std::pair<int, QByteArray>> texts;
  for (const auto& [fieldNo, text] : memos) {
    QByteArray bytes;
    if (!Cp1252::Encode(text, &bytes)) return kCursorBadText;
    texts.emplace_back(fieldNo - 1, bytes);
  }
  WorkAreaScope selected(cursor);
  xb::WorkArea* area = xb::Engine::Instance().Area(cursor);
  if (area == nullptr) return kCursorNotOpen;
  xb::Table& table = area->table();
  auto failed = [this](const xb::Status& s) {
    engineMessage_ = QString::fromStdString(s.message());
    return kCursorEngineFailed;
  };
  if (table.read_only()) return failed(xb::Status::ReadOnly(table.path() + ": opened read-only"));
  // One hold of the change lock over the notes and the record: other programs writing notes
  // move the memo file's next free block too.
  xb::Table::LockScope lock(table, true);
  if (!lock.status().ok()) return failed(lock.status());
  if (recno != 0 && (recno > table.record_count() || !table.unusable().empty()))
    return failed(xb::Status::InvalidArgument(table.path() + ": record " + std::to_string(recno) + " cannot be written"));
  std::vector<uint8_t> bytes(image.begin(), image.end());
  const bool binary = table.header().binary_memo_pointers();
  if (recno == 0) {
    const std::vector<uint8_t>& blank = table.BlankRecord();
    for (const xb::FieldDef& f : table.fields())
      if (f.type == 'M' || f.type == 'G' || f.type == 'P')
        std::memcpy(bytes.data() + f.offset, blank.data() + f.offset, size_t(f.width));
  }
  for (const auto& [field, text] : texts) {
    if (field < 0 || field >= int(table.fields().size()) || table.memo() == nullptr)
      return failed(xb::Status::InvalidArgument(table.path() + ": not a memo field"));
    const xb::FieldDef& f = table.fields()[size_t(field)];
    uint64_t old = 0;
    if (recno == 0 || !xb::MemoFile::DecodePointer(table.Record(recno) + f.offset, f.width, binary, &old)) old = 0;
    uint64_t block = 0;
    const xb::Status s = table.memo()->Write(old, reinterpret_cast<const uint8_t*>(text.constData()),
                                             uint64_t(text.size()), &block);
    if (!s.ok()) return failed(s);
    xb::MemoFile::EncodePointer(block, f.width, binary, bytes.data() + f.offset);
  }
  // The notes are in their blocks before the record points at them.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (recno == 0) {
    uint32_t n = 0;
    const xb::Status s = table.AppendRecord(bytes.data(), &n);
    if (!s.ok()) return failed(s);
    area->GoAppended(n);
    if (appended != nullptr) *appended = n;
    return kCursorOk;
  }
  const xb::Status s = table.WriteRecord(recno, bytes.data());
  if (!s.ok()) return failed(s);
  return kCursorOk;
}

int CursorLayer::DeleteRecord(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_Delete() == 0) {
    NoteEngineFailure();
    return kCursorEngineFailed;
  }
  return kCursorOk;
}

int CursorLayer::RecallRecord(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_Recall() == 0) {
    NoteEngineFailure();
    return kCursorEngineFailed;
  }
  return kCursorOk;
}

int CursorLayer::ReleaseRecordLock(int cursor, bool all) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  xb_Unlock(all ? 0 : xb_RecNo());
  return kCursorOk;
}

// ---- Fields ---------------------------------------------------------------------------------

// Day 1 is 1 January of the year 1 (Julian day 1721426).
constexpr int64_t kDayCountOffset = xb::calendar::kFirstDay - 1;

int CursorLayer::DayCount(int year, int month, int day) {
  return static_cast<int>(xb::calendar::JulianDay(year, month, day) - kDayCountOffset);
}

bool CursorLayer::FromDayCount(int days, int* year, int* month, int* day) {
  if (days < 1 || days > xb::calendar::kLastDay - kDayCountOffset) return false;
  const xb::calendar::Date date = xb::calendar::FromJulianDay(days + kDayCountOffset);
  *year = static_cast<int>(date.year);
  *month = date.month;
  *day = date.day;
  return true;
}

int CursorLayer::GetField(int cursor, int fieldNumber, const QByteArray& image, QVariant* value,
                          bool* blank) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  if (fieldNumber < 1 || fieldNumber > int(c->fields.size())) return kCursorEngineFailed;
  const FieldDesc& f = c->fields[fieldNumber - 1];
  *value = QVariant();
  *blank = true;
  if (f.kind == FieldKind::Memo || f.kind == FieldKind::None) return kCursorOk;
  // Fixed fields are read in place in the image; only variable ones ask the engine.
  QByteArray variable;
  const char* raw = nullptr;
  int rawSize = 0;
  if (f.variable) {
    WorkAreaScope area(cursor);
    variable = QByteArray(f.width + 1, '\0');
    xb_GetField(f.name.toLatin1().constData(), variable.data(), int(variable.size()));
    raw = variable.constData();
    rawSize = int(qstrlen(raw));
  } else {
    if (f.offset < 1 || f.offset - 1 + f.width > image.size()) return kCursorEngineFailed;
    raw = image.constData() + f.offset - 1;
    rawSize = f.width;
  }
  if (AllBlank(raw, rawSize)) return kCursorOk;
  *blank = false;
  switch (f.kind) {
    case FieldKind::String: {
      int n = rawSize;
      while (n > 0 && raw[n - 1] == ' ') --n;
      *value = Cp1252::Decode(raw, n);
      break;
    }
    case FieldKind::Date: {
      const QByteArray text(raw, rawSize);
      bool ok = text.size() == 8;
      int y = 0, m = 0, d = 0;
      if (ok) {
        y = text.left(4).toInt(&ok);
        if (ok) m = text.mid(4, 2).toInt(&ok);
        if (ok) d = text.mid(6, 2).toInt(&ok);
      }
      if (!ok || y < 1 || m < 1 || m > 12 || d < 1 || d > 31) {
        *blank = true;  // an unreadable date shows as no date rather than a made-up one
        break;
      }
      *value = DayCount(y, m, d);
      break;
    }
    case FieldKind::Logical: *value = raw[0] == 'T'; break;
    case FieldKind::SmallInt: *value = QByteArray(raw, rawSize).trimmed().toInt(); break;
    case FieldKind::Float: *value = QByteArray(raw, rawSize).trimmed().toDouble(); break;
    default: break;
  }
  return kCursorOk;
}

namespace {

// Fixed-point text of `v` that fits `width`, dropping decimals while it does not; false when
// even the whole number is too wide.
bool FloatText(double v, int width, int decimals, QByteArray* out) {
  if (!std::isfinite(v)) return false;
  QByteArray text = QByteArray::number(v, 'f', decimals);
  if (text.size() > width + decimals + 1) return false;
  while (text.size() > width && decimals > 0) text = QByteArray::number(v, 'f', --decimals);
  if (text.size() > width) return false;
  *out = QByteArray(width - text.size(), ' ') + text;
  return true;
}

}  // namespace

int CursorLayer::PutField(int cursor, int fieldNumber, QByteArray* image, const QVariant& value) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  if (fieldNumber < 1 || fieldNumber > int(c->fields.size())) return kCursorEngineFailed;
  const FieldDesc& f = c->fields[fieldNumber - 1];
  if (f.kind == FieldKind::Memo || f.kind == FieldKind::None) return kCursorEngineFailed;
  if (!f.variable && (f.offset < 1 || f.offset - 1 + f.width > image->size())) return kCursorEngineFailed;
  QByteArray bytes;
  const bool isNull = !value.isValid() || value.isNull();
  if (isNull) {
    bytes = QByteArray(f.width, ' ');
  } else {
    switch (f.kind) {
      case FieldKind::String: {
        if (!Cp1252::Encode(value.toString(), &bytes)) return kCursorBadText;
        bytes = bytes.left(f.width);
        bytes.append(QByteArray(f.width - bytes.size(), ' '));
        break;
      }
      case FieldKind::Date: {
        int y, m, d;
        if (!FromDayCount(value.toInt(), &y, &m, &d)) return kCursorOverflow;
        bytes = QStringLiteral("%1%2%3").arg(y, 4, 10, QLatin1Char('0')).arg(m, 2, 10, QLatin1Char('0'))
                    .arg(d, 2, 10, QLatin1Char('0')).toLatin1();
        break;
      }
      case FieldKind::Logical: bytes = value.toBool() ? "T" : "F"; break;
      case FieldKind::SmallInt: {
        const QByteArray digits = QByteArray::number(value.toLongLong());
        if (digits.size() > f.width) return kCursorOverflow;
        bytes = QByteArray(f.width - digits.size(), ' ') + digits;
        break;
      }
      case FieldKind::Float:
        if (!FloatText(value.toDouble(), f.width, f.units2, &bytes)) return kCursorOverflow;
        break;
      default: return kCursorEngineFailed;
    }
  }
  if (f.variable) {
    WorkAreaScope area(cursor);
    const QByteArray text = bytes + '\0';
    if (xb_Replace(f.name.toLatin1().constData(), XB_VAL_STRING, text.constData()) == 0) {
      NoteEngineFailure();
      return kCursorEngineFailed;
    }
    return kCursorOk;
  }
  std::memcpy(image->data() + f.offset - 1, bytes.constData(), size_t(f.width));
  return kCursorOk;
}

// ---- Memos ----------------------------------------------------------------------------------

int CursorLayer::GetBlobSize(int cursor, int fieldNumber, long* size) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  *size = 0;
  if (fieldNumber < 1 || fieldNumber > int(c->fields.size())) return kCursorEngineFailed;
  WorkAreaScope area(cursor);
  *size = xb_MemoLen(c->fields[fieldNumber - 1].name.toLatin1().constData());
  return kCursorOk;
}

int CursorLayer::GetBlob(int cursor, int fieldNumber, QString* text) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  text->clear();
  if (fieldNumber < 1 || fieldNumber > int(c->fields.size())) return kCursorEngineFailed;
  WorkAreaScope area(cursor);
  long length = 0;
  char* memo = xb_GetMemo(c->fields[fieldNumber - 1].name.toLatin1().constData(), &length);
  const bool failed = xb_Error() != 0;
  if (!failed) *text = Cp1252::Decode(memo, int(length));
  xb_MemDealloc(memo);
  if (!failed) return kCursorOk;
  // The text may still be in the file: an empty note must not stand in for it, and the user
  // hears of it once rather than at every look at the record.
  NoteEngineFailure();
  if (c->unreadableTold.insert({xb_RecNo(), fieldNumber}).second)
    Tell(QStringLiteral("The note of this task cannot be read, so it is shown empty; it is "
                        "kept as it is in the file unless you write a new one.\n\n") +
         engineMessage_);
  return kCursorMemoUnreadable;
}

int CursorLayer::PutBlob(int cursor, int fieldNumber, const QString& text, long length) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  if (fieldNumber < 1 || fieldNumber > int(c->fields.size())) return kCursorEngineFailed;
  QByteArray bytes;
  if (!Cp1252::Encode(text, &bytes)) return kCursorBadText;
  if (length >= 0 && length < bytes.size()) bytes.truncate(length);
  WorkAreaScope area(cursor);
  if (xb_ReplaceMemo(c->fields[fieldNumber - 1].name.toLatin1().constData(), bytes.constData(),
                     long(bytes.size())) == 0) {
    NoteEngineFailure();
    return kCursorEngineFailed;
  }
  return kCursorOk;
}

// ---- Orders, ranges, keys --------------------------------------------------------------------

int CursorLayer::SwitchToIndex(int cursor, const QString& indexName) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (indexName.isEmpty()) {
    xb_SetOrder(0);
    return kCursorOk;
  }
  if (xb_SysProp(65006, -1) == 1) {
    const QString wanted = QFileInfo(indexName).completeBaseName();
    for (int order = 1;; ++order) {
      const QString tag = QString::fromLatin1(xb_TagName(order));
      if (tag.isEmpty()) break;
      if (tag.compare(wanted, Qt::CaseInsensitive) == 0) {
        xb_SetOrder(order);
        return kCursorOk;
      }
    }
    return kCursorNoIndex;
  }
  const int order = xb_TagArea(Bytes(indexName).constData());
  if (order <= 0 || xb_SetOrder(order) < 0) return kCursorNoIndex;
  return kCursorOk;
}

int CursorLayer::SetRange(int cursor, const QString& lowKey, const QString& highKey) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  {
    WorkAreaScope area(cursor);
    xb_SetScope(Bytes(lowKey).constData(), Bytes(highKey).constData());
  }
  return SetToBegin(cursor);
}

int CursorLayer::SetRangeFromImages(int cursor, const QByteArray* low, const QByteArray* high) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  QString lowKey, highKey;
  if (low != nullptr) ExtractKey(cursor, low, &lowKey);
  if (high != nullptr) ExtractKey(cursor, high, &highKey);
  return SetRange(cursor, lowKey, highKey);
}

int CursorLayer::ResetRange(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  const bool atEnd = xb_Eof() != 0;
  const long recno = xb_RecNo();
  xb_SetScope(nullptr, nullptr);
  if (atEnd) {
    xb_GoBottom();
    xb_Skip(1);
  } else {
    xb_Go(recno);
  }
  return kCursorOk;
}

int CursorLayer::Search(const QByteArray& keyIn, SearchMode mode, bool fromText, long startRecno) {
  QByteArray key = keyIn;
  const long softSeek = xb_SysProp(1000, -1);
  const long exact = xb_SysProp(1002, -1);
  if (mode == kSearchExact) {
    xb_SysProp(1003, 1);
    xb_SysProp(1001, 0);
  } else {
    xb_SysProp(1003, 0);
    xb_SysProp(1001, 1);
    if (mode == kSearchAfter && !key.isEmpty()) key[key.size() - 1] = char(key.at(key.size() - 1) + 1);
  }
  const int found = xb_Seek(key.constData());
  xb_SysProp(1003, exact);
  xb_SysProp(1001, softSeek);
  if (mode != kSearchExact) return kCursorOk;
  if (found == 0) {
    if (fromText) xb_Go(startRecno);
    return kCursorKeyNotFound;
  }
  return kCursorOk;
}

int CursorLayer::GetRecordForKey(int cursor, const QString& key, SearchMode mode) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  if (xb_IndexOrd() == 0) return kCursorNoOrder;
  QByteArray bytes;
  if (!Cp1252::Encode(key, &bytes)) return kCursorKeyNotFound;
  return Search(bytes, mode, true, xb_RecNo());
}

int CursorLayer::GetRecordForImage(int cursor, const QByteArray& image, SearchMode mode) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  QString key;
  const int status = ExtractKey(cursor, &image, &key);
  if (status != kCursorOk) return status;
  WorkAreaScope area(cursor);
  if (xb_IndexOrd() == 0) return kCursorNoOrder;
  return Search(Bytes(key), mode, false, xb_RecNo());
}

QString CursorLayer::KeyFromImage(int cursor, const QByteArray& image) {
  // A key computed from a record image that is not in the table: the layer evaluates the key
  // forms an order can have over plain fields (fields joined by "+", each possibly wrapped in
  // UPPER() or DTOS()); anything else is evaluated by the engine on its current record.
  Cursor* c = Find(cursor);
  const QString expression = QString::fromLatin1(xb_IndexKey(xb_IndexOrd()));
  QString key;
  for (QString piece : expression.split(QLatin1Char('+'))) {
    piece = piece.trimmed();
    bool upper = false;
    const QString u = piece.toUpper();
    if ((u.startsWith(QLatin1String("UPPER(")) || u.startsWith(QLatin1String("DTOS("))) &&
        u.endsWith(QLatin1Char(')'))) {
      upper = u.startsWith(QLatin1String("UPPER("));
      piece = piece.mid(piece.indexOf(QLatin1Char('(')) + 1).chopped(1).trimmed();
    }
    const FieldDesc* field = nullptr;
    for (const FieldDesc& f : c->fields)
      if (f.name.compare(piece, Qt::CaseInsensitive) == 0) field = &f;
    if (field == nullptr || field->offset - 1 + field->width > image.size()) {
      QByteArray buffer(256, '\0');
      xb_EvalString(xb_IndexKey(xb_IndexOrd()), buffer.data(), int(buffer.size()));
      return Cp1252::Decode(buffer.constData(), int(qstrlen(buffer.constData())));
    }
    QString text = Cp1252::Decode(image.constData() + field->offset - 1, field->width);
    if (field->engineType == 'N') text = text.trimmed();
    if (field->engineType == 'L') text = text.startsWith(QLatin1Char('T')) ? QStringLiteral(".T.") : QStringLiteral(".F.");
    key += upper ? text.toUpper() : text;
  }
  return key;
}

int CursorLayer::ExtractKey(int cursor, const QByteArray* image, QString* key) {
  Cursor* c = Find(cursor);
  if (c == nullptr) return kCursorNotOpen;
  Describe(cursor, c);
  WorkAreaScope area(cursor);
  if (xb_IndexOrd() == 0) return kCursorNoOrder;
  if (image != nullptr) {
    *key = KeyFromImage(cursor, *image);
    return kCursorOk;
  }
  QByteArray buffer(256, '\0');
  xb_KeyData(buffer.data(), int(buffer.size()));
  *key = Cp1252::Decode(buffer.constData(), int(qstrlen(buffer.constData())));
  return kCursorOk;
}

int CursorLayer::DropQuery(int cursor) {
  if (Find(cursor) == nullptr) return kCursorNotOpen;
  WorkAreaScope area(cursor);
  xb_Query("");
  return kCursorOk;
}

// ---- Properties --------------------------------------------------------------------------------

int CursorLayer::GetDatabaseType(QString* type) {
  *type = QStringLiteral("STANDARD");
  return kCursorOk;
}

int CursorLayer::GetProp(unsigned property) {
  Tell(QStringLiteral("GetProp: iProp = ") + QStringLiteral("%1").arg(property, 8, 16, QLatin1Char('0')).toUpper());
  return kCursorOk;
}

int CursorLayer::Unsupported(const char* operation) {
  Tell(QStringLiteral("This function is not supported by the table layer : ") + QString::fromLatin1(operation));
  return kCursorOk;
}

QString CursorLayer::StatusText(int status) {
  switch (status) {
    case kCursorOpenError: return QStringLiteral("File Open Error");
    case kCursorBadText: return QStringLiteral("The text holds characters the task file cannot store");
    case kCursorMemoUnreadable: return QStringLiteral("The note cannot be read");
    default: return QStringLiteral("Table layer error : ") + QString::number(status);
  }
}
