#include "Table.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>

namespace xb {

namespace {

bool IsMemoType(char t) { return t == 'M' || t == 'G' || t == 'P'; }

void Today(int* year, int* month, int* day) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  *year = tm.tm_year + 1900;
  *month = tm.tm_mon + 1;
  *day = tm.tm_mday;
}

// Record locks live far past any real file offset, where they cannot collide with data.
constexpr off_t kLockBase = off_t{1} << 40;

}  // namespace

Table::~Table() { Close(); }

std::string Table::NormalizePath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '\\') c = '/';
  std::filesystem::path fp(p);
  if (!fp.has_extension()) p += ".DBF";
  return p;
}

std::string Table::CompanionPath(const std::string& dbf_path, const char* ext) {
  std::filesystem::path fp(dbf_path);
  std::string old_ext = fp.extension().string();
  bool lower = !old_ext.empty() && std::islower(static_cast<unsigned char>(old_ext.back()));
  std::string upper_ext = std::string(".") + ext;
  std::string lower_ext = upper_ext;
  for (char& c : lower_ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::filesystem::path first = fp, second = fp;
  first.replace_extension(lower ? lower_ext : upper_ext);
  second.replace_extension(lower ? upper_ext : lower_ext);
  std::error_code ec;
  if (!std::filesystem::exists(first, ec) && std::filesystem::exists(second, ec))
    return second.string();
  return first.string();
}

Status Table::Create(const std::string& raw_path, const std::vector<FieldDef>& fields,
                     uint32_t memo_block_size) {
  const std::string path = NormalizePath(raw_path);
  DbfHeader header;
  Status s = DbfHeader::Layout(fields, &header);
  if (!s.ok()) return Status::InvalidArgument(path + ": " + s.message());

  // Keep any existing table locked while its replacement is written, so no other program can
  // be using it when it goes.
  std::unique_ptr<MappedFile> existing;
  s = MappedFile::Open(path, false, MappedFile::Lock::kExclusive, &existing);
  if (!s.ok() && s.code() != Status::kNotFound) return s;

  const std::string suffix = ".new" + std::to_string(getpid());
  const std::string tmp_dbf = path + suffix;
  const std::string memo_path = CompanionPath(path, "FPT");
  const std::string tmp_fpt = memo_path + suffix;
  auto cleanup = [&] {
    std::remove(tmp_dbf.c_str());
    std::remove(tmp_fpt.c_str());
  };

  if (header.has_memo()) {
    std::unique_ptr<MemoFile> memo;
    s = MemoFile::Create(tmp_fpt, memo_block_size, &memo);
    if (s.ok()) s = memo->Sync();
    if (s.ok()) s = memo->Close();
    if (!s.ok()) {
      cleanup();
      return s;
    }
  }
  std::unique_ptr<MappedFile> dbf;
  s = MappedFile::Create(tmp_dbf, &dbf);
  if (s.ok()) {
    std::vector<uint8_t> bytes;
    header.EncodeTo(&bytes);
    bytes.push_back(0x1A);
    s = dbf->Write(0, bytes.data(), bytes.size());
  }
  if (s.ok()) s = dbf->Sync();
  if (s.ok()) s = dbf->Close();
  if (!s.ok()) {
    cleanup();
    return s;
  }
  if (header.has_memo() && std::rename(tmp_fpt.c_str(), memo_path.c_str()) != 0) {
    cleanup();
    return Status::IoError(memo_path + ": cannot put the new memo file in place: " +
                           std::strerror(errno));
  }
  if (std::rename(tmp_dbf.c_str(), path.c_str()) != 0) {
    cleanup();
    return Status::IoError(path + ": cannot put the new table in place: " + std::strerror(errno));
  }
  return Status::Ok();
}

Status Table::Open(const std::string& raw_path, Mode mode, std::unique_ptr<Table>* out) {
  std::unique_ptr<Table> t(new Table());
  t->path_ = NormalizePath(raw_path);
  t->mode_ = mode;
  const bool writable = mode != Mode::kReadOnly;
  MappedFile::Lock lock =
      mode == Mode::kExclusive ? MappedFile::Lock::kExclusive : MappedFile::Lock::kShared;
  Status s = MappedFile::Open(t->path_, writable, lock, &t->dbf_);
  if (!s.ok()) return s;
  s = DbfHeader::DecodeFrom(t->dbf_->data(), t->dbf_->size(), t->path_, &t->header_);
  if (!s.ok()) return s;
  if (t->header_.has_memo()) {
    s = MemoFile::Open(CompanionPath(t->path_, "FPT"), writable, &t->memo_);
    if (!s.ok()) return s;
  }
  if (mode == Mode::kShared) {
    t->dbf_->SetExactGrowth(true);
    if (t->memo_) t->memo_->SetShared(true);
  }
  *out = std::move(t);
  return Status::Ok();
}

Status Table::Close() {
  Status result;
  UnlockAll();
  if (memo_) {
    Status s = memo_->Close();
    if (!s.ok()) result = s;
    memo_.reset();
  }
  if (dbf_) {
    Status s = dbf_->Close();
    if (!s.ok() && result.ok()) result = s;
    dbf_.reset();
  }
  return result;
}

int Table::FieldIndex(std::string_view name) const {
  // Callers ask for the same field again and again (a memo per record); remember the last one.
  if (last_lookup_index_ >= 0 && name == last_lookup_) return last_lookup_index_;
  int i = FindField(name);
  if (i >= 0) {
    last_lookup_.assign(name);
    last_lookup_index_ = i;
  }
  return i;
}

int Table::FindField(std::string_view name) const {
  const auto& f = header_.fields;
  for (size_t i = 0; i < f.size(); ++i) {
    const std::string& n = f[i].name;
    if (n.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < n.size(); ++k) {
      if (std::toupper(static_cast<unsigned char>(name[k])) != static_cast<unsigned char>(n[k])) {
        same = false;
        break;
      }
    }
    if (same) return static_cast<int>(i);
  }
  return -1;
}

Status Table::CheckWritable(uint32_t recno) const {
  if (mode_ == Mode::kReadOnly) return Status::ReadOnly(path_ + ": opened read-only");
  if (recno < 1 || recno > header_.record_count)
    return Status::InvalidArgument(path_ + ": record " + std::to_string(recno) +
                                   " does not exist");
  return Status::Ok();
}

void Table::TouchDate() {
  if (date_touched_) return;
  Today(&header_.year, &header_.month, &header_.day);
  date_touched_ = true;
  uint8_t counts[12];
  header_.EncodeCountsTo(counts);
  // Only the date: another program sharing the table may have counted more records than we have.
  std::memcpy(dbf_->mutable_data() + 1, counts + 1, 3);
}

void Table::StoreCount() {
  TouchDate();
  uint8_t counts[12];
  header_.EncodeCountsTo(counts);
  std::memcpy(dbf_->mutable_data() + 4, counts + 4, 4);
}

Status Table::Refresh() {
  if (mode_ == Mode::kExclusive || !dbf_) return Status::Ok();
  Status s = dbf_->Refresh();
  if (!s.ok()) return s;
  const uint8_t* p = dbf_->data();
  uint32_t count = static_cast<uint32_t>(p[4]) | (static_cast<uint32_t>(p[5]) << 8) |
                   (static_cast<uint32_t>(p[6]) << 16) | (static_cast<uint32_t>(p[7]) << 24);
  uint64_t fits = (dbf_->size() - header_.header_length) / header_.record_length;
  if (count > header_.record_count && count <= fits) header_.record_count = count;
  return Status::Ok();
}

Status Table::LockAppend() {
  if (mode_ != Mode::kShared) return Status::Ok();
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase - 1;
  fl.l_len = 1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (fcntl(dbf_->fd(), F_OFD_SETLK, &fl) != 0) {
    if (std::chrono::steady_clock::now() >= deadline)
      return Status::Locked(path_ + ": another program keeps the table busy");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  Status s = Refresh();
  if (s.ok() && memo_) s = memo_->Refresh();
  if (!s.ok()) UnlockAppend();
  return s;
}

void Table::UnlockAppend() {
  if (mode_ != Mode::kShared) return;
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase - 1;
  fl.l_len = 1;
  fcntl(dbf_->fd(), F_OFD_SETLK, &fl);
}

Status Table::Grow(uint32_t* recno) {
  if (mode_ == Mode::kReadOnly) return Status::ReadOnly(path_ + ": opened read-only");
  if (header_.record_count == 0xFFFFFFFFu)
    return Status::InvalidArgument(path_ + ": the table is full");
  const uint64_t end = header_.header_length +
                       static_cast<uint64_t>(header_.record_count + 1) * header_.record_length;
  Status s = dbf_->Resize(end + 1);
  if (!s.ok()) return s;
  dbf_->mutable_data()[end] = 0x1A;
  *recno = header_.record_count + 1;
  return Status::Ok();
}

Status Table::AppendBlank(uint32_t* recno) {
  if (mode_ == Mode::kReadOnly) return Status::ReadOnly(path_ + ": opened read-only");
  Status s = LockAppend();
  if (!s.ok()) return s;
  uint32_t n = 0;
  s = Grow(&n);
  if (!s.ok()) {
    UnlockAppend();
    return s;
  }
  uint8_t* rec = dbf_->mutable_data() + header_.header_length +
                 static_cast<uint64_t>(n - 1) * header_.record_length;
  std::memcpy(rec, BlankRecord().data(), header_.record_length);
  // The record is complete before the header counts it: a kill in between leaves at worst an
  // uncounted record, never a counted one that holds garbage.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  header_.record_count = n;
  StoreCount();
  UnlockAppend();
  *recno = n;
  return Status::Ok();
}

const std::vector<uint8_t>& Table::BlankRecord() const {
  if (blank_.empty()) {
    // Text fields are blank; binary fields (and binary memo pointers) are zero.
    blank_.assign(header_.record_length, ' ');
    for (const auto& f : header_.fields) {
      bool binary = std::strchr("IBYT0", f.type) != nullptr ||
                    (IsMemoType(f.type) && header_.binary_memo_pointers());
      if (binary) std::memset(blank_.data() + f.offset, 0, static_cast<size_t>(f.width));
    }
  }
  return blank_;
}

Status Table::AppendRecord(const uint8_t* image, uint32_t* recno) {
  if (mode_ == Mode::kReadOnly) return Status::ReadOnly(path_ + ": opened read-only");
  Status s = LockAppend();
  if (!s.ok()) return s;
  uint32_t n = 0;
  s = Grow(&n);
  if (!s.ok()) {
    UnlockAppend();
    return s;
  }
  uint8_t* rec = dbf_->mutable_data() + header_.header_length +
                 static_cast<uint64_t>(n - 1) * header_.record_length;
  std::memcpy(rec, image, header_.record_length);
  if (rec[0] != '*') rec[0] = ' ';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  header_.record_count = n;
  StoreCount();
  UnlockAppend();
  *recno = n;
  return Status::Ok();
}

Status Table::WriteRecord(uint32_t recno, const uint8_t* image) {
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  uint8_t* rec = MutableRecord(recno);
  std::memcpy(rec, image, header_.record_length);
  if (rec[0] != '*') rec[0] = ' ';
  TouchDate();
  return Status::Ok();
}

Status Table::SetDeletedMark(uint32_t recno, bool deleted) {
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  MutableRecord(recno)[0] = deleted ? '*' : ' ';
  TouchDate();
  return Status::Ok();
}

Status Table::WriteField(uint32_t recno, int field, const uint8_t* bytes) {
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  if (field < 0 || field >= static_cast<int>(header_.fields.size()))
    return Status::InvalidArgument(path_ + ": no field number " + std::to_string(field + 1));
  const FieldDef& f = header_.fields[field];
  std::memcpy(MutableRecord(recno) + f.offset, bytes, static_cast<size_t>(f.width));
  TouchDate();
  return Status::Ok();
}

Status Table::ReadMemo(uint32_t recno, int field, const uint8_t** data, uint32_t* length) const {
  *data = nullptr;
  *length = 0;
  if (recno < 1 || recno > header_.record_count) return Status::Ok();  // the blank record
  if (field < 0 || field >= static_cast<int>(header_.fields.size()) ||
      !IsMemoType(header_.fields[field].type))
    return Status::InvalidArgument(path_ + ": not a memo field");
  const FieldDef& f = header_.fields[field];
  uint64_t block;
  if (!MemoFile::DecodePointer(Record(recno) + f.offset, f.width,
                               header_.binary_memo_pointers(), &block))
    return Status::Corrupt(path_ + ": record " + std::to_string(recno) + " field " + f.name +
                           " holds an invalid memo pointer");
  if (block == 0) return Status::Ok();
  if (!memo_) return Status::Corrupt(path_ + ": the table has no memo file");
  return memo_->Read(block, data, length);
}

Status Table::WriteMemo(uint32_t recno, int field, const uint8_t* data, uint64_t length) {
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  if (field < 0 || field >= static_cast<int>(header_.fields.size()) ||
      !IsMemoType(header_.fields[field].type))
    return Status::InvalidArgument(path_ + ": not a memo field");
  if (!memo_) return Status::Corrupt(path_ + ": the table has no memo file");
  const FieldDef& f = header_.fields[field];
  const bool binary = header_.binary_memo_pointers();
  uint64_t old_block = 0;
  if (!MemoFile::DecodePointer(Record(recno) + f.offset, f.width, binary, &old_block))
    old_block = 0;  // a damaged pointer is replaced, its blocks are not reused
  uint64_t new_block = 0;
  s = LockAppend();
  if (!s.ok()) return s;
  s = memo_->Write(old_block, data, length, &new_block);
  UnlockAppend();
  if (!s.ok()) return s;
  // The memo text is in its blocks before the record points at them.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  uint8_t pointer[10];
  MemoFile::EncodePointer(new_block, f.width, binary, pointer);
  std::memcpy(MutableRecord(recno) + f.offset, pointer, static_cast<size_t>(f.width));
  TouchDate();
  return Status::Ok();
}

Status Table::Commit() {
  if (mode_ == Mode::kReadOnly) return Status::Ok();
  if (memo_) {
    Status s = memo_->Sync();
    if (!s.ok()) return s;
  }
  return dbf_->Sync();
}

Status Table::LockRecord(uint32_t recno, int timeout_seconds) {
  for (uint32_t r : locks_)
    if (r == recno) return Status::Ok();
  struct flock fl {};
  fl.l_type = mode_ == Mode::kReadOnly ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase + recno;
  fl.l_len = 1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  while (fcntl(dbf_->fd(), F_OFD_SETLK, &fl) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR)
      return Status::IoError(path_ + ": cannot lock record " + std::to_string(recno));
    if (std::chrono::steady_clock::now() >= deadline)
      return Status::Locked(path_ + ": record " + std::to_string(recno) +
                            " is locked by another program");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  locks_.push_back(recno);
  return Status::Ok();
}

void Table::UnlockRecord(uint32_t recno) {
  for (size_t i = 0; i < locks_.size(); ++i) {
    if (locks_[i] != recno) continue;
    if (dbf_) {
      struct flock fl {};
      fl.l_type = F_UNLCK;
      fl.l_whence = SEEK_SET;
      fl.l_start = kLockBase + recno;
      fl.l_len = 1;
      fcntl(dbf_->fd(), F_OFD_SETLK, &fl);
    }
    locks_.erase(locks_.begin() + static_cast<long>(i));
    return;
  }
}

void Table::UnlockAll() {
  while (!locks_.empty()) UnlockRecord(locks_.back());
}

}  // namespace xb
