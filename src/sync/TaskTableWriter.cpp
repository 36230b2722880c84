#include "sync/TaskTableWriter.h"

#include <QFile>

#include <cstring>
#include <string>

#include "Table.h"
#include "db/Cp1252.h"

namespace {

enum { kDate, kTime, kDescript, kNote, kDone, kKeys, kPriority };
const char* const kNames[] = {"DATE", "TIME", "DESCRIPT", "NOTE", "DONE", "KEYS", "PRIORITY"};

QString Text(const xb::Status& s) { return QString::fromStdString(s.message()); }

}  // namespace

TaskTableWriter::TaskTableWriter() = default;
TaskTableWriter::~TaskTableWriter() { Close(); }

bool TaskTableWriter::Open(const QString& dbfPath, QString* error) {
  Close();
  xb::Status s = xb::Table::Open(QFile::encodeName(dbfPath).toStdString(), xb::Table::Mode::kShared, &table_);
  if (!s.ok()) {
    *error = Text(s);
    return false;
  }
  for (int i = 0; i < 7; ++i) {
    fields_[i] = table_->FieldIndex(kNames[i]);
    if (fields_[i] < 0) {
      *error = QStringLiteral("The task table %1 has no field %2.").arg(dbfPath, QLatin1String(kNames[i]));
      Close();
      return false;
    }
  }
  if (!table_->memo()) {
    *error = QStringLiteral("The task table %1 has no note file.").arg(dbfPath);
    Close();
    return false;
  }
  path_ = dbfPath;
  return true;
}

void TaskTableWriter::Close() {
  if (table_) {
    table_->Commit();
    table_->Close();
    table_.reset();
  }
}

bool TaskTableWriter::Image(const TaskRecord& task, uint32_t oldRecno, std::string* image, QString* error) {
  const auto& defs = table_->fields();
  const auto& blank = table_->BlankRecord();
  image->assign(reinterpret_cast<const char*>(blank.data()), blank.size());
  if (oldRecno != 0)
    image->assign(reinterpret_cast<const char*>(table_->Record(oldRecno)), size_t(table_->record_length()));
  (*image)[0] = ' ';
  auto put = [&](int which, const QString& value) {
    const xb::FieldDef& f = defs[size_t(fields_[which])];
    QByteArray bytes;
    if (!Cp1252::Encode(value, &bytes)) {
      *error = QStringLiteral("The task list cannot store \"%1\".").arg(value);
      return false;
    }
    bytes = bytes.left(f.width).leftJustified(f.width, ' ');
    std::memcpy(image->data() + f.offset, bytes.constData(), size_t(f.width));
    return true;
  };
  if (!put(kDate, task.date) || !put(kTime, task.time) || !put(kDescript, task.descript) ||
      !put(kKeys, task.keys) || !put(kPriority, task.priority))
    return false;
  (*image)[defs[size_t(fields_[kDone])].offset] = task.done ? 'T' : 'F';

  // The note first, in fresh blocks: the record that points at them is written after.
  QByteArray note;
  if (!Cp1252::Encode(task.note, &note)) {
    *error = QStringLiteral("The task list cannot store the note of \"%1\".").arg(task.descript);
    return false;
  }
  const xb::FieldDef& nf = defs[size_t(fields_[kNote])];
  const bool binary = table_->header().binary_memo_pointers();
  uint64_t oldBlock = 0;
  if (oldRecno != 0 &&
      !xb::MemoFile::DecodePointer(table_->Record(oldRecno) + nf.offset, nf.width, binary, &oldBlock))
    oldBlock = 0;
  uint64_t block = 0;
  if (!note.isEmpty()) {
    xb::Status s = table_->memo()->Write(oldBlock, reinterpret_cast<const uint8_t*>(note.constData()),
                                         uint64_t(note.size()), &block);
    if (!s.ok()) {
      *error = Text(s);
      return false;
    }
  }
  uint8_t pointer[16] = {};
  if (block != 0) {
    xb::MemoFile::EncodePointer(block, nf.width, binary, pointer);
  } else {
    std::memset(pointer, binary ? 0 : ' ', sizeof pointer);
  }
  std::memcpy(image->data() + nf.offset, pointer, size_t(nf.width));
  return true;
}

bool TaskTableWriter::Append(const TaskRecord& task, uint32_t* recno, QString* error) {
  if (!table_) {
    *error = QStringLiteral("The task table is not open.");
    return false;
  }
  // Other programs append notes and records too: the memo's next free block and the record
  // count are taken under the table's change lock, held from the note to the record.
  xb::Table::LockScope lock(*table_, true);
  if (!lock.status().ok()) {
    *error = Text(lock.status());
    return false;
  }
  std::string image;
  if (!Image(task, 0, &image, error)) return false;
  xb::Status s = table_->AppendRecord(reinterpret_cast<const uint8_t*>(image.data()), recno);
  if (!s.ok()) {
    *error = Text(s);
    return false;
  }
  return true;
}

bool TaskTableWriter::Replace(uint32_t recno, const TaskRecord& task, QString* error) {
  if (!table_) {
    *error = QStringLiteral("The task table is not open.");
    return false;
  }
  xb::Table::LockScope lock(*table_, true);
  if (!lock.status().ok()) {
    *error = Text(lock.status());
    return false;
  }
  if (recno == 0 || recno > table_->record_count()) {
    *error = QStringLiteral("The task table has no record %1.").arg(recno);
    return false;
  }
  std::string image;
  if (!Image(task, recno, &image, error)) return false;
  xb::Status s = table_->WriteRecord(recno, reinterpret_cast<const uint8_t*>(image.data()));
  if (!s.ok()) {
    *error = Text(s);
    return false;
  }
  return true;
}

bool TaskTableWriter::MarkDeleted(uint32_t recno, QString* error) {
  if (!table_) {
    *error = QStringLiteral("The task table is not open.");
    return false;
  }
  xb::Status s = table_->SetDeletedMark(recno, true);
  if (!s.ok()) {
    *error = Text(s);
    return false;
  }
  return true;
}

bool TaskTableWriter::Commit(QString* error) {
  if (!table_) return true;
  xb::Status s = table_->Commit();
  if (!s.ok()) {
    *error = Text(s);
    return false;
  }
  return true;
}
