#include "sync/TaskIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <sys/stat.h>

#include <cstring>

#include "Table.h"
#include "db/Cp1252.h"
#include "sync/ICalTask.h"
#include "xbengine.h"

namespace {

// LWSYNC.DBF, one row per task plus one meta row (docs/sync.md).
enum Field { kKind, kRecno, kUid, kFprint, kSyncfp, kHref, kEtag, kNewRecno, kMatchKey, kFieldCount };

const std::vector<xb::FieldDef>& Layout() {
  static const std::vector<xb::FieldDef> kFields = {
      {"KIND", 'C', 1, 0, 0},     {"RECNO", 'N', 10, 0, 0},  {"UID", 'C', 254, 0, 0},
      {"FPRINT", 'C', 16, 0, 0},  {"SYNCFP", 'C', 16, 0, 0}, {"HREF", 'C', 254, 0, 0},
      {"ETAG", 'C', 254, 0, 0},   {"NEWRECNO", 'N', 10, 0, 0}, {"MATCHKEY", 'C', 58, 0, 0}};
  return kFields;
}

constexpr char kTaskRow = 'T';
constexpr char kMetaRow = 'M';
constexpr auto kPackMark = QLatin1String("PACK");

QString Text(const xb::Status& s) { return QString::fromStdString(s.message()); }

QString TrimRight(const QString& text) {
  qsizetype n = text.size();
  while (n > 0 && text[n - 1] == QLatin1Char(' ')) --n;
  return text.left(n);
}

// What a row keeps of a task besides its fingerprint, for matching an edited task again after
// another program packed the table.
QString MatchKeyOf(const TaskRecord& t) {
  return (t.date.leftJustified(8, QLatin1Char(' '), true) + t.descript).left(58);
}

QString StampText(const TableStamp& s) { return QStringLiteral("%1:%2").arg(s.device).arg(s.inode); }

}  // namespace

bool StampOfTable(const QString& dbfPath, TableStamp* stamp, QString* error) {
  struct stat st {};
  const QByteArray name = QFile::encodeName(dbfPath);
  if (::stat(name.constData(), &st) != 0) {
    *error = QStringLiteral("The task table %1 cannot be found.").arg(dbfPath);
    return false;
  }
  QFile file(dbfPath);
  unsigned char head[8] = {};
  // The header is read without the engine: the program may have the table open exclusively.
  if (!file.open(QIODevice::ReadOnly) || file.read(reinterpret_cast<char*>(head), 8) != 8) {
    *error = QStringLiteral("The task table %1 cannot be read.").arg(dbfPath);
    return false;
  }
  stamp->device = uint64_t(st.st_dev);
  stamp->inode = uint64_t(st.st_ino);
  stamp->recordCount = uint32_t(head[4]) | uint32_t(head[5]) << 8 | uint32_t(head[6]) << 16 | uint32_t(head[7]) << 24;
  return true;
}

bool ReadTaskTable(const QString& dbfPath, std::vector<TaskSlot>* records, TableStamp* stamp, QString* error) {
  std::unique_ptr<xb::Table> table;
  xb::Status s = xb::Table::Open(QFile::encodeName(dbfPath).toStdString(), xb::Table::Mode::kReadOnly, &table);
  if (!s.ok()) {
    *error = Text(s);
    return false;
  }
  const char* names[] = {"DATE", "TIME", "DESCRIPT", "NOTE", "DONE", "KEYS", "PRIORITY"};
  int index[7];
  for (int i = 0; i < 7; ++i) {
    index[i] = table->FieldIndex(names[i]);
    // PRIORITY is missing only from a table of the old layout, which the program upgrades.
    if (index[i] < 0 && i != 6) {
      *error = QStringLiteral("The task table %1 has no field %2.").arg(dbfPath, QLatin1String(names[i]));
      return false;
    }
  }
  xb::Table::LockScope lock(*table, false);
  if (!lock.status().ok()) {
    *error = Text(lock.status());
    return false;
  }
  const auto& fields = table->fields();
  records->clear();
  records->reserve(table->record_count());
  for (uint32_t r = 1; r <= table->record_count(); ++r) {
    const uint8_t* rec = table->Record(r);
    auto text = [&](int f) {
      if (f < 0) return QString();
      const xb::FieldDef& d = fields[size_t(f)];
      return TrimRight(Cp1252::Decode(reinterpret_cast<const char*>(rec + d.offset), d.width));
    };
    TaskSlot slot;
    slot.recno = r;
    slot.deleted = rec[0] == '*';
    slot.task.date = text(index[0]).trimmed();
    slot.task.time = text(index[1]).trimmed();
    slot.task.descript = text(index[2]);
    const uint8_t* memo = nullptr;
    uint32_t length = 0;
    s = table->ReadMemo(r, index[3], &memo, &length);
    if (!s.ok()) {
      *error = Text(s);
      return false;
    }
    slot.task.note = Cp1252::Decode(reinterpret_cast<const char*>(memo), int(length));
    const char done = char(rec[fields[size_t(index[4])].offset]);
    slot.task.done = done == 'T' || done == 't' || done == 'Y' || done == 'y';
    slot.task.keys = text(index[5]);
    slot.task.priority = text(index[6]).trimmed();
    records->push_back(std::move(slot));
  }
  return StampOfTable(dbfPath, stamp, error);
}

std::vector<bool> DeletionMarksOfArea(int area) {
  std::vector<bool> marks;
  const int previous = xb_Select(area);
  const long count = xb_RecCount();
  marks.reserve(size_t(count > 0 ? count : 0));
  for (long r = 1; r <= count; ++r) marks.push_back(xb_Go(r) != 0 && xb_Deleted() != 0);
  if (previous > 0) xb_Select(previous);
  return marks;
}

// ---- The companion table ------------------------------------------------------------------------

struct TaskIdentity::Impl {
  struct Row {
    IdentityRow v;
    QString matchKey;
    uint32_t newRecno = 0;
    uint32_t position = 0;  // record number in LWSYNC.DBF
  };
  std::unique_ptr<xb::Table> table;
  QString path;
  QString taskTablePath;
  std::vector<Row> rows;
  std::vector<uint32_t> free;  // deleted records of LWSYNC.DBF, reused before appending
  QHash<QString, size_t> byUid;
  QHash<QString, size_t> byHref;
  QHash<uint32_t, size_t> byRecno;
  QMultiHash<QString, size_t> unlinkedByPrint;  // rows of live records not on the server

  // The meta row.
  uint32_t metaPosition = 0;
  TableStamp stamp;      // the task table when the rows were last in step with it
  bool stampKnown = false;
  QString url;
  QString token;
  bool packPending = false;
  uint32_t packCountAfter = 0;

  QString Get(const uint8_t* rec, Field f) const {
    const xb::FieldDef& d = table->fields()[size_t(f)];
    return TrimRight(QString::fromUtf8(reinterpret_cast<const char*>(rec + d.offset), d.width));
  }
  static bool Set(std::vector<uint8_t>* image, const xb::FieldDef& d, const QString& value, QString* error) {
    QByteArray bytes = value.toUtf8();
    if (d.type == 'N') bytes = bytes.rightJustified(d.width, ' ');
    if (bytes.size() > d.width) {
      *error = QStringLiteral("The text \"%1\" is longer than the sync table holds (%2 bytes).").arg(value).arg(d.width);
      return false;
    }
    std::memset(image->data() + d.offset, ' ', size_t(d.width));
    std::memcpy(image->data() + d.offset, bytes.constData(), size_t(bytes.size()));
    return true;
  }

  bool WriteAt(uint32_t* position, const std::vector<uint8_t>& image, QString* error) {
    xb::Status s;
    if (*position == 0 && !free.empty()) {
      *position = free.back();
      free.pop_back();
    }
    if (*position == 0) s = table->AppendRecord(image.data(), position);
    else s = table->WriteRecord(*position, image.data());  // the image's first byte clears any mark
    if (!s.ok()) {
      *error = Text(s);
      return false;
    }
    return true;
  }

  bool WriteRow(Row& row, QString* error) {
    std::vector<uint8_t> image = table->BlankRecord();
    const auto& f = table->fields();
    image[0] = ' ';
    if (!Set(&image, f[kKind], QString(QLatin1Char(kTaskRow)), error) ||
        !Set(&image, f[kRecno], QString::number(row.v.recno), error) || !Set(&image, f[kUid], row.v.uid, error) ||
        !Set(&image, f[kFprint], row.v.fprint, error) || !Set(&image, f[kSyncfp], row.v.syncfp, error) ||
        !Set(&image, f[kHref], row.v.href, error) || !Set(&image, f[kEtag], row.v.etag, error) ||
        !Set(&image, f[kNewRecno], QString::number(row.newRecno), error) ||
        !Set(&image, f[kMatchKey], row.matchKey, error))
      return false;
    return WriteAt(&row.position, image, error);
  }

  bool WriteMeta(QString* error) {
    std::vector<uint8_t> image = table->BlankRecord();
    const auto& f = table->fields();
    image[0] = ' ';
    if (!Set(&image, f[kKind], QString(QLatin1Char(kMetaRow)), error) ||
        !Set(&image, f[kRecno], QString::number(stampKnown ? stamp.recordCount : 0), error) ||
        !Set(&image, f[kUid], stampKnown ? StampText(stamp) : QString(), error) || !Set(&image, f[kHref], url, error) ||
        !Set(&image, f[kEtag], token, error) || !Set(&image, f[kFprint], packPending ? QString(kPackMark) : QString(), error) ||
        !Set(&image, f[kNewRecno], QString::number(packCountAfter), error))
      return false;
    // The meta row never goes to a free record: it is the table's first record for good.
    if (metaPosition == 0) {
      xb::Status s = table->AppendRecord(image.data(), &metaPosition);
      if (!s.ok()) *error = Text(s);
      return s.ok();
    }
    xb::Status s = table->WriteRecord(metaPosition, image.data());
    if (!s.ok()) *error = Text(s);
    return s.ok();
  }

  // `reindex` false leaves the look-up maps to the caller (a walk that erases many rows).
  bool EraseRow(size_t i, QString* error, bool reindex = true) {
    Row& row = rows[i];
    xb::Status s = table->SetDeletedMark(row.position, true);
    if (!s.ok()) {
      *error = Text(s);
      return false;
    }
    free.push_back(row.position);
    rows.erase(rows.begin() + qsizetype(i));
    if (reindex) Reindex();
    return true;
  }

  void Reindex() {
    byUid.clear();
    byHref.clear();
    byRecno.clear();
    unlinkedByPrint.clear();
    for (size_t i = 0; i < rows.size(); ++i) {
      byUid.insert(rows[i].v.uid, i);
      if (rows[i].v.href.isEmpty() && rows[i].v.recno != 0) unlinkedByPrint.insert(rows[i].v.fprint, i);
      if (!rows[i].v.href.isEmpty()) byHref.insert(rows[i].v.href, i);
      if (rows[i].v.recno != 0) byRecno.insert(rows[i].v.recno, i);
    }
  }

  bool Load(QString* error) {
    rows.clear();
    free.clear();
    metaPosition = 0;
    stampKnown = false;
    for (uint32_t r = 1; r <= table->record_count(); ++r) {
      const uint8_t* rec = table->Record(r);
      if (rec[0] == '*') {
        free.push_back(r);
        continue;
      }
      const QString kind = Get(rec, kKind);
      if (kind == QLatin1String("M") && metaPosition == 0) {
        metaPosition = r;
        const QString id = Get(rec, kUid);
        const qsizetype colon = id.indexOf(QLatin1Char(':'));
        if (colon > 0) {
          stampKnown = true;
          stamp.device = id.left(colon).toULongLong();
          stamp.inode = id.mid(colon + 1).toULongLong();
          stamp.recordCount = Get(rec, kRecno).trimmed().toUInt();
        }
        url = Get(rec, kHref);
        token = Get(rec, kEtag);
        packPending = Get(rec, kFprint) == kPackMark;
        packCountAfter = Get(rec, kNewRecno).trimmed().toUInt();
      } else if (kind == QLatin1String("T")) {
        Row row;
        row.position = r;
        row.v.recno = Get(rec, kRecno).trimmed().toUInt();
        row.v.uid = Get(rec, kUid);
        row.v.fprint = Get(rec, kFprint);
        row.v.syncfp = Get(rec, kSyncfp);
        row.v.href = Get(rec, kHref);
        row.v.etag = Get(rec, kEtag);
        row.newRecno = Get(rec, kNewRecno).trimmed().toUInt();
        row.matchKey = Get(rec, kMatchKey);
        if (row.v.uid.isEmpty()) {
          *error = QStringLiteral("Record %1 of %2 has no UID.").arg(r).arg(path);
          return false;
        }
        rows.push_back(std::move(row));
      } else {
        *error = QStringLiteral("Record %1 of %2 is not a sync record.").arg(r).arg(path);
        return false;
      }
    }
    Reindex();
    if (byUid.size() != qsizetype(rows.size())) {
      *error = QStringLiteral("%1 holds a UID twice.").arg(path);
      return false;
    }
    return true;
  }

  // Settles a pack of ours that a stopped program left between its two steps.
  bool SettlePack(QString* error) {
    if (!packPending) return true;
    TableStamp now;
    if (!StampOfTable(taskTablePath, &now, error)) return false;
    const bool packed = now.recordCount == packCountAfter;
    for (Row& row : rows) {
      if (packed) row.v.recno = row.newRecno;
      row.newRecno = 0;
      if (!WriteRow(row, error)) return false;
    }
    packPending = false;
    packCountAfter = 0;
    if (packed) {
      stamp = now;
      stampKnown = true;
    }
    Reindex();
    return WriteMeta(error);
  }
};

TaskIdentity::TaskIdentity() : d_(std::make_unique<Impl>()) {}
TaskIdentity::~TaskIdentity() { Close(); }

bool TaskIdentity::Open(const QString& taskTablePath, QString* error) {
  Close();
  d_->taskTablePath = taskTablePath;
  d_->path = QFileInfo(taskTablePath).absoluteDir().filePath(QLatin1String(kFileName));
  const std::string path = QFile::encodeName(d_->path).toStdString();
  // Held exclusively: two copies of the rows in memory would overwrite each other's changes.
  if (!QFileInfo::exists(d_->path)) {
    xb::Status s = xb::Table::Create(path, Layout(), 64);
    if (!s.ok()) {
      *error = Text(s);
      return false;
    }
  }
  xb::Status s = xb::Table::Open(path, xb::Table::Mode::kExclusive, &d_->table);
  bool fine = s.ok() && int(d_->table->fields().size()) == kFieldCount;
  for (int i = 0; fine && i < kFieldCount; ++i)
    fine = d_->table->fields()[size_t(i)].name == Layout()[size_t(i)].name &&
           d_->table->fields()[size_t(i)].width == Layout()[size_t(i)].width;
  QString why;
  if (fine) fine = d_->Load(&why);
  else why = s.ok() ? QStringLiteral("It is not a sync table.") : Text(s);
  if (!fine) {
    if (s.code() == xb::Status::kLocked) {
      d_->table.reset();
      *error = why;
      return false;
    }
    // The identities are only a help to find tasks again, which content matching also does: a
    // damaged table is set aside for a look and begun again, rather than stopping every sync.
    d_->table.reset();
    const QString aside = d_->path.left(d_->path.size() - 3) + QLatin1String("BAD");
    QFile::remove(aside);
    if (!QFile::rename(d_->path, aside)) {
      *error = QStringLiteral("%1 cannot be read (%2) and cannot be set aside.").arg(d_->path, why);
      return false;
    }
    s = xb::Table::Create(path, Layout(), 64);
    if (s.ok()) s = xb::Table::Open(path, xb::Table::Mode::kExclusive, &d_->table);
    if (!s.ok()) {
      d_->table.reset();
      *error = Text(s);
      return false;
    }
    if (!d_->Load(error)) return false;
  }
  if (d_->metaPosition == 0 && !d_->WriteMeta(error)) return false;
  return d_->SettlePack(error);
}

void TaskIdentity::Close() {
  if (d_->table) {
    d_->table->Commit();
    d_->table->Close();
    d_->table.reset();
  }
  d_->rows.clear();
  d_->Reindex();
}

bool TaskIdentity::IsOpen() const { return d_->table != nullptr; }
QString TaskIdentity::Path() const { return d_->path; }

bool TaskIdentity::Reconcile(const std::vector<TaskSlot>& table, const TableStamp& stamp, ReconcileResult* result,
                             QString* error) {
  ReconcileResult r;
  const uint32_t count = uint32_t(table.size());
  for (uint32_t i = 0; i < count; ++i)
    if (table[i].recno != i + 1) {
      *error = QStringLiteral("The task table was not read whole.");
      return false;
    }
  std::vector<QString> prints(table.size());
  QHash<QString, std::vector<uint32_t>> byPrint;
  QHash<QString, std::vector<uint32_t>> byKey;
  for (const TaskSlot& slot : table) {
    prints[slot.recno - 1] = slot.task.Fingerprint();
    byPrint[prints[slot.recno - 1]].push_back(slot.recno);
    if (!slot.deleted) byKey[MatchKeyOf(slot.task)].push_back(slot.recno);
  }
  std::vector<bool> claimed(size_t(count) + 1, false);
  auto takeFrom = [&](std::vector<uint32_t>& candidates) -> uint32_t {
    for (uint32_t recno : candidates)
      if (!claimed[recno]) return recno;
    return 0;
  };

  // Another program packed the table: its records moved under the rows.
  const bool packed = d_->stampKnown && (stamp.recordCount < d_->stamp.recordCount || stamp.device != d_->stamp.device ||
                                         stamp.inode != d_->stamp.inode);
  r.rematched = packed;
  std::vector<uint32_t> found(d_->rows.size(), 0);
  for (size_t i = 0; i < d_->rows.size(); ++i) {
    const uint32_t at = d_->rows[i].v.recno;
    if (at == 0 || at > count || claimed[at]) continue;
    // Without a pack the row's record is its task, whatever was edited in it.
    if (!packed || prints[at - 1] == d_->rows[i].v.fprint) {
      found[i] = at;
      claimed[at] = true;
    }
  }
  for (size_t i = 0; i < d_->rows.size(); ++i) {
    if (found[i] != 0 || d_->rows[i].v.recno == 0) continue;
    uint32_t at = takeFrom(byPrint[d_->rows[i].v.fprint]);
    if (at == 0) at = takeFrom(byKey[d_->rows[i].matchKey]);
    if (at != 0) {
      found[i] = at;
      claimed[at] = true;
    }
  }

  for (size_t i = d_->rows.size(); i-- > 0;) {
    Impl::Row& row = d_->rows[i];
    const uint32_t at = found[i];
    const bool deleted = at == 0 || table[at - 1].deleted;
    // Nothing to tell the server about a task that never reached it.
    if (deleted && row.v.href.isEmpty()) {
      if (!d_->EraseRow(i, error, false)) return false;
      continue;
    }
    IdentityRow v = row.v;
    if (at == 0) {
      if (v.recno != 0) ++r.gone;
    } else {
      if (v.recno != at) ++r.moved;
      v.fprint = prints[at - 1];
    }
    v.recno = at;
    const QString key = at == 0 ? row.matchKey : MatchKeyOf(table[at - 1].task);
    if (v.recno != row.v.recno || v.fprint != row.v.fprint || key != row.matchKey) {
      row.v = v;
      row.matchKey = key;
      if (!d_->WriteRow(row, error)) return false;
    }
  }
  for (const TaskSlot& slot : table) {
    if (slot.deleted || claimed[slot.recno]) continue;
    Impl::Row row;
    row.v.recno = slot.recno;
    row.v.uid = ICalTask::NewUid();
    row.v.fprint = prints[slot.recno - 1];
    row.matchKey = MatchKeyOf(slot.task);
    if (!d_->WriteRow(row, error)) return false;
    d_->rows.push_back(std::move(row));
    ++r.added;
  }
  d_->Reindex();
  // Written last: a reconcile stopped halfway is done again, and finds its own work in step.
  d_->stamp = stamp;
  d_->stampKnown = true;
  if (!d_->WriteMeta(error)) return false;
  if (result != nullptr) *result = r;
  return true;
}

const IdentityRow* TaskIdentity::ForRecord(uint32_t recno) const {
  auto it = d_->byRecno.constFind(recno);
  return it == d_->byRecno.constEnd() ? nullptr : &d_->rows[*it].v;
}

const IdentityRow* TaskIdentity::ForUid(const QString& uid) const {
  auto it = d_->byUid.constFind(uid);
  return it == d_->byUid.constEnd() ? nullptr : &d_->rows[*it].v;
}

const IdentityRow* TaskIdentity::ForHref(const QString& href) const {
  auto it = d_->byHref.constFind(href);
  return it == d_->byHref.constEnd() ? nullptr : &d_->rows[*it].v;
}

const IdentityRow* TaskIdentity::ForUnlinkedPrint(const QString& fprint) const {
  auto it = d_->unlinkedByPrint.constFind(fprint);
  return it == d_->unlinkedByPrint.constEnd() ? nullptr : &d_->rows[*it].v;
}

std::vector<IdentityRow> TaskIdentity::Rows() const {
  std::vector<IdentityRow> out;
  out.reserve(d_->rows.size());
  for (const auto& row : d_->rows) out.push_back(row.v);
  return out;
}

size_t TaskIdentity::RowCount() const { return d_->rows.size(); }

bool TaskIdentity::Put(const IdentityRow& row, QString* error) {
  if (!IsOpen()) {
    *error = QStringLiteral("The sync table is not open.");
    return false;
  }
  if (row.uid.isEmpty()) {
    *error = QStringLiteral("A task's identity needs a UID.");
    return false;
  }
  const auto self = d_->byUid.constFind(row.uid);
  const bool known = self != d_->byUid.constEnd();
  auto other = [&](const auto& map, const auto& key) {
    auto it = map.constFind(key);
    return it != map.constEnd() && (!known || *it != *self);
  };
  if (row.recno != 0 && other(d_->byRecno, row.recno)) {
    *error = QStringLiteral("Task %1 already has another identity.").arg(row.recno);
    return false;
  }
  if (!row.href.isEmpty() && other(d_->byHref, row.href)) {
    *error = QStringLiteral("The server's task %1 already belongs to another task.").arg(row.href);
    return false;
  }
  Impl::Row updated;
  if (known) updated = d_->rows[*self];
  updated.v = row;
  if (!d_->WriteRow(updated, error)) return false;
  if (known) d_->rows[*self] = std::move(updated);
  else d_->rows.push_back(std::move(updated));
  d_->Reindex();
  return true;
}

bool TaskIdentity::Rename(const QString& oldUid, const QString& newUid, QString* error) {
  auto it = d_->byUid.constFind(oldUid);
  if (it == d_->byUid.constEnd()) {
    *error = QStringLiteral("No task has the UID %1.").arg(oldUid);
    return false;
  }
  if (d_->byUid.contains(newUid)) {
    *error = QStringLiteral("Another task has the UID %1.").arg(newUid);
    return false;
  }
  Impl::Row updated = d_->rows[*it];
  updated.v.uid = newUid;
  if (!d_->WriteRow(updated, error)) return false;
  d_->rows[*it] = std::move(updated);
  d_->Reindex();
  return true;
}

bool TaskIdentity::Remove(const QString& uid, QString* error) {
  auto it = d_->byUid.constFind(uid);
  if (it == d_->byUid.constEnd()) return true;
  return d_->EraseRow(*it, error);
}

QString TaskIdentity::CollectionUrl() const { return d_->url; }
QString TaskIdentity::SyncToken() const { return d_->token; }

bool TaskIdentity::SetCollectionState(const QString& url, const QString& token, QString* error) {
  const QString oldUrl = d_->url;
  const QString oldToken = d_->token;
  d_->url = url;
  d_->token = token;
  if (d_->WriteMeta(error)) return true;
  d_->url = oldUrl;
  d_->token = oldToken;
  return false;
}

bool TaskIdentity::PreparePack(const std::vector<bool>& deleted, QString* error) {
  if (!IsOpen()) {
    *error = QStringLiteral("The sync table is not open.");
    return false;
  }
  // Rows already behind the table (another program packed it since they were last brought in
  // step) cannot be carried through this pack by number: no plan, and the next Reconcile, which
  // sees the stamp differ, matches them by content.
  TableStamp now;
  if (!StampOfTable(d_->taskTablePath, &now, error)) return false;
  if (d_->stampKnown && (now.device != d_->stamp.device || now.inode != d_->stamp.inode ||
                         now.recordCount < d_->stamp.recordCount))
    return true;
  // Record i + 1 becomes record newNumber[i] once the marked records are gone.
  std::vector<uint32_t> newNumber(deleted.size(), 0);
  uint32_t next = 0;
  for (size_t i = 0; i < deleted.size(); ++i)
    if (!deleted[i]) newNumber[i] = ++next;
  for (Impl::Row& row : d_->rows) {
    const uint32_t at = row.v.recno;
    row.newRecno = at == 0 || at > deleted.size() ? 0 : newNumber[at - 1];
    if (!d_->WriteRow(row, error)) return false;
  }
  // The mark goes last: until it is written the plan is not in force, and a plan without the
  // mark is ignored.
  d_->packPending = true;
  d_->packCountAfter = next;
  if (d_->stampKnown) d_->stamp = now;
  if (d_->WriteMeta(error)) return true;
  d_->packPending = false;
  return false;
}

bool TaskIdentity::FinishPack(const QString& taskTablePath, QString* error) {
  if (!IsOpen()) {
    *error = QStringLiteral("The sync table is not open.");
    return false;
  }
  d_->taskTablePath = taskTablePath;
  return d_->SettlePack(error);
}
