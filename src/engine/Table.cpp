#include "Table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <thread>

#include "FaultInjection.h"
#include "Parallel.h"
#include "RegularFile.h"

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

// Suffix of the new files a pack writes before they replace the old ones.
constexpr const char* kPackSuffix = ".pack";

// Record locks live far past any real file offset, where they cannot collide with data.
constexpr off_t kLockBase = off_t{1} << 40;

// The file a pack writes its table into: records are laid out in a buffer and go to the file
// in large writes. Next() hands out room for one record; Commit() takes it (and may write the
// buffer out); Finish() writes the rest and makes it durable.
class PackOutput {
 public:
  explicit PackOutput(std::string path) : path_(std::move(path)) {}
  ~PackOutput() { Abandon(); }
  PackOutput(const PackOutput&) = delete;
  PackOutput& operator=(const PackOutput&) = delete;

  Status Open() {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) return Status::IoError(path_ + ": cannot create: " + std::strerror(errno));
    buffer_.reserve(kBufferSize + 4096);
    return Status::Ok();
  }
  uint8_t* Next(size_t length) {
    buffer_.resize(used_ + length);
    return buffer_.data() + used_;
  }
  Status Commit() {
    used_ = buffer_.size();
    return used_ >= kBufferSize ? Drain() : Status::Ok();
  }
  Status Append(const uint8_t* data, size_t length) {
    std::memcpy(Next(length), data, length);
    return Commit();
  }
  Status Finish() {
    Status s = Drain();
    if (!s.ok()) return s;
    s = FaultInjection::Point("sync", path_);
    if (!s.ok()) return s;
    if (::fsync(fd_) != 0) return Failed(errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return Failed(errno);
    return Status::Ok();
  }
  void Abandon() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  static constexpr size_t kBufferSize = size_t{1} << 20;
  static constexpr uint64_t kWritebackStep = uint64_t{16} << 20;

  Status Drain() {
    Status injected = FaultInjection::Point("write", path_);
    if (!injected.ok()) return injected;
    const uint8_t* p = buffer_.data();
    size_t left = used_;
    while (left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return Failed(errno);
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    written_ += used_;
    buffer_.clear();
    used_ = 0;
    // The disk starts on what is written while the rest is still being prepared.
    if (written_ - kicked_ >= kWritebackStep) {
      sync_file_range(fd_, static_cast<off64_t>(kicked_), static_cast<off64_t>(written_ - kicked_),
                      SYNC_FILE_RANGE_WRITE);
      kicked_ = written_;
    }
    return Status::Ok();
  }
  Status Failed(int error) {
    if (error == ENOSPC || error == EDQUOT) return Status::DiskFull(path_ + ": the disk is full");
    return Status::IoError(path_ + ": cannot write: " + std::strerror(error));
  }

  std::string path_;
  int fd_ = -1;
  std::vector<uint8_t> buffer_;
  size_t used_ = 0;
  uint64_t written_ = 0;
  uint64_t kicked_ = 0;
};

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
  // Other tools on a case-sensitive file system look for the memo and index under the table's
  // name with a lower-case extension, whatever the case of the table's own; so new files get
  // that spelling. A file stored under the upper-case spelling (as earlier versions wrote it for
  // an upper-case table name) is still found. When both exist the lower-case one is used, the
  // file the other tools see too, so every program shows the same notes.
  std::filesystem::path lower(dbf_path), upper(dbf_path);
  std::string lower_ext = std::string(".") + ext, upper_ext = lower_ext;
  for (char& c : lower_ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : upper_ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  lower.replace_extension(lower_ext);
  upper.replace_extension(upper_ext);
  std::error_code ec;
  if (!std::filesystem::exists(lower, ec) && std::filesystem::exists(upper, ec))
    return upper.string();
  return lower.string();
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
  Status rs = RecoverJournal(t->path_);
  if (!rs.ok()) return rs;
  t->mode_ = mode;
  const bool writable = mode != Mode::kReadOnly;
  MappedFile::Lock lock =
      mode == Mode::kExclusive ? MappedFile::Lock::kExclusive : MappedFile::Lock::kShared;
  Status s = MappedFile::Open(t->path_, writable, lock, &t->dbf_);
  if (!s.ok()) return s;
  if (mode == Mode::kShared) t->dbf_->SetExactGrowth(true);
  if (mode != Mode::kExclusive) {
    // Another program may be appending: the record count and the length of the file agree
    // only under the change lock, and the memo and index files are whole only there.
    s = t->LockChanges(F_RDLCK);
    if (!s.ok()) return s;
    t->lock_depth_ = 1;
    s = t->dbf_->Refresh();
    if (!s.ok()) return s;
  }
  s = DbfHeader::DecodeFrom(t->dbf_->data(), t->dbf_->size(), t->path_, &t->header_);
  if (!s.ok()) return s;
  if (t->header_.has_memo()) {
    s = MemoFile::Open(CompanionPath(t->path_, "FPT"), writable, &t->memo_);
    if (!s.ok()) return s;
  }
  if (mode == Mode::kShared && t->memo_) t->memo_->SetShared(true);
  if (writable && t->memo_ && t->memo_->header_behind()) {
    // The memo file's header says its next free block lies among the memos in use (or inside
    // the header itself): it is set past them, under the change lock other writers take. New
    // memos go past them in any case, so a table whose lock is busy opens all the same.
    LockScope repair(*t, true);
    if (repair.status().ok()) t->memo_->RepairHeader();
  }
  t->indexes_ = std::make_unique<IndexSet>(t.get());
  s = t->OpenStructuralIndex();
  if (!s.ok()) return s;
  t->End();
  if (!t->unusable_.empty()) return Status::Locked(t->unusable_);
  *out = std::move(t);
  return Status::Ok();
}

Status Table::Close() {
  Status result;
  SetReadLease(false);
  UnlockAll();
  if (indexes_) {
    // Indexes that cannot be written are left behind the table, marked so: the table itself
    // closes as well as it can.
    if (dbf_ && mode_ != Mode::kReadOnly && unusable_.empty()) {
      Status s = FlushIndexes();
      if (!s.ok()) DropIndexes(s);
    }
    Status s = indexes_->CloseAll();
    if (!s.ok()) DropIndexes(s);
    indexes_.reset();
  }
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
  lock_depth_ = 0;  // closing the file gave up every lock on it
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

Status Table::CheckUsable() const {
  if (mode_ == Mode::kReadOnly) return Status::ReadOnly(path_ + ": opened read-only");
  if (!unusable_.empty()) return Status::IoError(unusable_);
  return Status::Ok();
}

Status Table::CheckWritable(uint32_t recno) const {
  Status s = CheckUsable();
  if (!s.ok()) return s;
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
  if (lock_depth_ > 0) return Status::Ok();  // brought up to date when the lock was taken
  return RefreshCount(false);
}

// Without the lock another program may be between growing the file and counting its record,
// so the count only grows, and only over records the file holds. Under the lock the count is
// taken as it is (an append taken back lowers it).
Status Table::RefreshCount(bool exact) {
  Status s = dbf_->Refresh();
  if (!s.ok()) return s;
  const uint8_t* p = dbf_->data();
  uint32_t count = static_cast<uint32_t>(p[4]) | (static_cast<uint32_t>(p[5]) << 8) |
                   (static_cast<uint32_t>(p[6]) << 16) | (static_cast<uint32_t>(p[7]) << 24);
  uint64_t fits = (dbf_->size() - header_.header_length) / header_.record_length;
  if (count > fits) return Status::Ok();
  if (exact || count > header_.record_count) header_.record_count = count;
  return Status::Ok();
}

// The lock is a byte far past the records, next to the record locks. Waiting polls, with
// growing pauses: a look at the indexes takes microseconds, a change a little longer.
Status Table::LockChanges(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase - 1;
  fl.l_len = 1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  auto pause = std::chrono::microseconds(50);
  while (fcntl(dbf_->fd(), F_OFD_SETLK, &fl) != 0) {
    if (errno != EAGAIN && errno != EACCES && errno != EINTR)
      return Status::IoError(path_ + ": cannot lock the table: " + std::strerror(errno));
    if (std::chrono::steady_clock::now() >= deadline)
      return Status::Locked(path_ + ": another program keeps the table busy");
    std::this_thread::sleep_for(pause);
    pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(2));
  }
  return Status::Ok();
}

void Table::UnlockChanges() {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = kLockBase - 1;
  fl.l_len = 1;
  fcntl(dbf_->fd(), F_OFD_SETLK, &fl);
}

void Table::LockScope::Take(bool write) {
  status_ = write ? table_.BeginChange() : table_.BeginRead();
  held_ = status_.ok();
}

Status Table::BeginRead() { return Acquire(false); }

Status Table::BeginChange() { return Acquire(true); }

namespace {

// The tables of this program that may keep a lease, for ReleaseLeases and for a change, which
// must not wait behind a lease this program keeps itself (it would wait for ever). The engine
// is used from one thread.
std::vector<Table*>& LeaseTables() {
  static std::vector<Table*> tables;
  return tables;
}

void (*lease_notice)() = nullptr;
bool lease_notice_given = false;  // since the last ReleaseLeases

}  // namespace

void Table::SetReadLease(bool on) {
  if (mode_ == Mode::kExclusive || on == lease_enabled_) return;
  lease_enabled_ = on;
  auto& tables = LeaseTables();
  if (on) {
    tables.push_back(this);
  } else {
    GiveUpLease();
    tables.erase(std::remove(tables.begin(), tables.end(), this), tables.end());
  }
}

void Table::ReleaseLeases() {
  lease_notice_given = false;
  for (Table* t : LeaseTables()) t->GiveUpLease();
}

void Table::SetLeaseNotice(void (*notice)()) { lease_notice = notice; }

void Table::GiveUpLease() {
  if (!leased_) return;
  leased_ = false;
  if (dbf_) UnlockChanges();
}

Status Table::Acquire(bool write) {
  if (mode_ == Mode::kExclusive) return Status::Ok();
  if (!dbf_) return Status::NotOpen(path_ + ": the table is closed");
  if (write && mode_ == Mode::kReadOnly) return Status::ReadOnly(path_ + ": opened read-only");
  if (leased_) {
    const auto now = std::chrono::steady_clock::now();
    if (!write && now - lock_taken_ < kLeaseLimit) {
      leased_ = false;
      lock_depth_ = 1;
      lock_write_ = false;
      return Status::Ok();
    }
    GiveUpLease();
    if (!write) lease_resume_ = now + kLeasePause;
  }
  if (lock_depth_ > 0) {
    if (write && !lock_write_) {
      // A change inside a look: the lock becomes a write lock until it is given up.
      Status s = LockChanges(F_WRLCK);
      if (!s.ok()) return s;
      lock_write_ = true;
      if (memo_) memo_->Refresh();
    }
    ++lock_depth_;
    return Status::Ok();
  }
  if (write) ReleaseLeases();
  Status s = LockChanges(write ? F_WRLCK : F_RDLCK);
  if (!s.ok()) return s;
  lock_depth_ = 1;
  lock_write_ = write;
  if (lease_enabled_) lock_taken_ = std::chrono::steady_clock::now();
  CatchUp(write);
  return Status::Ok();
}

void Table::End() {
  if (mode_ == Mode::kExclusive || lock_depth_ == 0) return;
  if (--lock_depth_ != 0 || !dbf_) return;
  if (lease_enabled_ && !lock_write_) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= lease_resume_ && now - lock_taken_ < kLeaseLimit) {
      leased_ = true;
      if (lease_notice != nullptr && !lease_notice_given) {
        lease_notice_given = true;
        lease_notice();
      }
      return;
    }
    if (now >= lease_resume_) lease_resume_ = now + kLeasePause;
  }
  UnlockChanges();
}

void Table::CatchUp(bool write) {
  bool index_changed = false;
  if (indexes_ && indexes_->active()) {
    // Every program clears the mark under this lock once its change is written: found set
    // here, it was left by a program that stopped (or failed) halfway through a change.
    if (IndexBusy()) {
      DropIndexes(Status::Corrupt(StructuralIndexPath() + ": the index may be behind the "
                                  "table (a program stopped while changing it)"));
    } else {
      Status s = indexes_->Refresh(&index_changed);
      if (!s.ok()) DropIndexes(s);
    }
  }
  // A writer needs the count and the next free memo block as they are; a reader needs the
  // records that index entries new to it may name.
  if (write || index_changed) RefreshCount(true);
  if (write && memo_) memo_->Refresh();
}

void Table::DropIndexes(const Status& why) {
  if (!indexes_) return;
  indexes_->Abandon();
  pending_append_ = 0;
  if (mode_ != Mode::kReadOnly && dbf_) SetIndexBusy(true);
  std::string text = why.message();
  if (text.find("rebuil") == std::string::npos) text += "; the index needs a rebuild";
  index_problem_ = text;
  ++change_count_;
}

bool Table::TakeWhole() {
  if (mode_ != Mode::kShared) return mode_ == Mode::kExclusive;
  if (flock(dbf_->fd(), LOCK_EX | LOCK_NB) == 0) return true;
  // A refused upgrade gives up the shared lock too (flock converts by unlocking first).
  GiveBackWhole();
  return false;
}

void Table::GiveBackWhole() {
  if (mode_ != Mode::kShared) return;
  if (flock(dbf_->fd(), LOCK_SH | LOCK_NB) != 0 && unusable_.empty())
    unusable_ = path_ + ": another program took the table for itself meanwhile; close it and "
                "open it again";
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
  Status s = CheckUsable();
  if (!s.ok()) return s;
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  uint32_t n = 0;
  s = Grow(&n);
  if (!s.ok()) return s;
  uint8_t* rec = dbf_->mutable_data() + header_.header_length +
                 static_cast<uint64_t>(n - 1) * header_.record_length;
  std::memcpy(rec, BlankRecord().data(), header_.record_length);
  // The record is complete before the header counts it: a kill in between leaves at worst an
  // uncounted record, never a counted one that holds garbage.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (indexes_->active()) SetIndexBusy(true);
  header_.record_count = n;
  StoreCount();
  *recno = n;
  ++change_count_;
  if (!indexes_->active()) return Status::Ok();
  if (mode_ == Mode::kShared) {
    // Other programs read the index files: each record goes into them at once.
    AfterIndexChange(indexes_->AfterAppend(n, rec));
    return Status::Ok();
  }
  if (pending_append_ == 0) pending_append_ = n;
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
  Status s = CheckUsable();
  if (!s.ok()) return s;
  if (pending_append_) SettleAppend();
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  uint32_t n = 0;
  s = Grow(&n);
  if (!s.ok()) return s;
  uint8_t* rec = dbf_->mutable_data() + header_.header_length +
                 static_cast<uint64_t>(n - 1) * header_.record_length;
  std::memcpy(rec, image, header_.record_length);
  if (rec[0] != '*') rec[0] = ' ';
  std::atomic_signal_fence(std::memory_order_seq_cst);
  if (indexes_->active()) SetIndexBusy(true);
  header_.record_count = n;
  StoreCount();
  *recno = n;
  ++change_count_;
  if (!indexes_->active()) return Status::Ok();
  AfterIndexChange(indexes_->AfterAppend(n, rec));
  return Status::Ok();
}

// Changes of a record read the record and write it back under the lock, so the indexes learn
// of exactly the image they replace, whatever other programs do meanwhile. Once the record is
// written the change stands: indexes that cannot take it are dropped and rebuilt later (see
// DropIndexes), they never make a written change look failed.
Status Table::WriteRecord(uint32_t recno, const uint8_t* image) {
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  BeginRecordChange(recno);
  uint8_t* rec = MutableRecord(recno);
  std::memcpy(rec, image, header_.record_length);
  if (rec[0] != '*') rec[0] = ' ';
  TouchDate();
  EndRecordChange(recno);
  return Status::Ok();
}

Status Table::SetDeletedMark(uint32_t recno, bool deleted) {
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  BeginRecordChange(recno);
  MutableRecord(recno)[0] = deleted ? '*' : ' ';
  TouchDate();
  EndRecordChange(recno);
  return Status::Ok();
}

Status Table::WriteField(uint32_t recno, int field, const uint8_t* bytes) {
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  if (field < 0 || field >= static_cast<int>(header_.fields.size()))
    return Status::InvalidArgument(path_ + ": no field number " + std::to_string(field + 1));
  const FieldDef& f = header_.fields[field];
  BeginRecordChange(recno);
  std::memcpy(MutableRecord(recno) + f.offset, bytes, static_cast<size_t>(f.width));
  TouchDate();
  EndRecordChange(recno);
  return Status::Ok();
}

Status Table::UndoAppend(uint32_t recno) {
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  if (recno != header_.record_count)
    return Status::InvalidArgument(path_ + ": record " + std::to_string(recno) +
                                   " is no longer the last one (another program appended "
                                   "after it), so it cannot be taken back");
  ++change_count_;
  // A record still waiting for its index work has nothing in the indexes to take out.
  const bool indexed = indexes_->active() && !(pending_append_ != 0 && recno >= pending_append_);
  if (indexed) {
    indexes_->BeforeChange(Record(recno));
    SetIndexBusy(true);
  }
  if (pending_append_ == recno) pending_append_ = 0;
  // The count goes first: stopped after it, the record is one the table does not count, and
  // index entries still naming it are behind a set busy mark.
  header_.record_count = recno - 1;
  StoreCount();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  const uint64_t end =
      header_.header_length + uint64_t{header_.record_count} * header_.record_length;
  dbf_->mutable_data()[end] = 0x1A;
  dbf_->Resize(end + 1);  // shrinking only moves the logical end
  if (indexed) AfterIndexChange(indexes_->AfterRemove(recno));
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
  const uint8_t* field_bytes = Record(recno) + f.offset;
  if (mode_ != Mode::kExclusive) {
    // The usual case, at the cost of a second look at the pointer's bytes; the careful path
    // below retries and reports.
    const PointerBytes before = PointerBytes::Of(field_bytes, f.width);
    uint64_t block;
    if (MemoFile::DecodePointer(field_bytes, f.width, header_.binary_memo_pointers(), &block)) {
      if (block == 0) return Status::Ok();  // no note, as of this moment
      if (memo_) {
        Status s = memo_->Read(block, data, length);
        if (s.ok() && PointerBytes::Of(field_bytes, f.width) == before) return s;
      }
    }
    return ReadSharedMemo(field_bytes, f, recno, data, length);
  }
  uint64_t block;
  if (!MemoFile::DecodePointer(field_bytes, f.width, header_.binary_memo_pointers(), &block))
    return Status::Corrupt(path_ + ": record " + std::to_string(recno) + " field " + f.name +
                           " holds an invalid memo pointer");
  if (block == 0) return Status::Ok();
  if (!memo_) return Status::Corrupt(path_ + ": the table has no memo file");
  Status s = memo_->Read(block, data, length);
  if (!s.ok())
    return Status::Corrupt("the memo of record " + std::to_string(recno) + " field " + f.name +
                           " cannot be read: " + s.message());
  return Status::Ok();
}

// Another program sharing the table may be writing this very note: its text goes to the memo
// file before the record points at it, so a pointer that reads the same before and after
// names a whole note, and a note beyond what this program has mapped of the file is one it
// appended.
Status Table::ReadSharedMemo(const uint8_t* field_bytes, const FieldDef& f, uint32_t recno,
                             const uint8_t** data, uint32_t* length) const {
  for (int attempt = 1;; ++attempt) {
    const PointerBytes before = PointerBytes::Of(field_bytes, f.width);
    uint64_t block = 0;
    const bool decoded =
        MemoFile::DecodePointer(field_bytes, f.width, header_.binary_memo_pointers(), &block);
    if (decoded && block != 0 && memo_) {
      Status s = memo_->Read(block, data, length);
      const bool same = PointerBytes::Of(field_bytes, f.width) == before;
      if (s.ok() && same) return s;
      if (attempt == 3)
        return s.ok() ? s
                      : Status::Corrupt("the memo of record " + std::to_string(recno) +
                                        " field " + f.name + " cannot be read: " + s.message());
      if (!s.ok()) memo_->Refresh();
      continue;
    }
    if (!(PointerBytes::Of(field_bytes, f.width) == before) && attempt < 3) continue;
    if (!decoded)
      return Status::Corrupt(path_ + ": record " + std::to_string(recno) + " field " + f.name +
                             " holds an invalid memo pointer");
    if (block == 0) return Status::Ok();
    return Status::Corrupt(path_ + ": the table has no memo file");
  }
}


namespace {

// Writes a memo pointer's bytes into a record with a single store instruction where it can: a
// program killed between two stores of a plain copy would leave a pointer part old and part
// new, naming blocks that hold neither memo. The 16 bytes stored lie inside the record, so
// only bytes of this record are rewritten (with their own values, apart from the pointer).
void StorePointer(uint8_t* record, size_t record_length, size_t offset, const uint8_t* bytes,
                  size_t width) {
  typedef uint8_t Bytes16 __attribute__((vector_size(16), aligned(1)));
  if (width > 16 || record_length < 16) {
    std::memcpy(record + offset, bytes, width);
    return;
  }
  const size_t start = std::min(offset, record_length - 16);
  Bytes16 v;
  std::memcpy(&v, record + start, 16);
  std::memcpy(reinterpret_cast<uint8_t*>(&v) + (offset - start), bytes, width);
  *reinterpret_cast<volatile Bytes16*>(record + start) = v;
}

}  // namespace

Status Table::WriteMemo(uint32_t recno, int field, const uint8_t* data, uint64_t length) {
  // Other programs append notes too: the next free block is theirs to move as well.
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  Status s = CheckWritable(recno);
  if (!s.ok()) return s;
  if (field < 0 || field >= static_cast<int>(header_.fields.size()) ||
      !IsMemoType(header_.fields[field].type))
    return Status::InvalidArgument(path_ + ": not a memo field");
  if (!memo_) return Status::Corrupt(path_ + ": the table has no memo file");
  const FieldDef& f = header_.fields[field];
  const bool binary = header_.binary_memo_pointers();
  uint64_t old_block = 0;
  const bool pointer_readable =
      MemoFile::DecodePointer(Record(recno) + f.offset, f.width, binary, &old_block);
  if (!pointer_readable) old_block = 0;  // replaced by a new memo; its blocks are not reused
  uint64_t new_block = 0;
  if (length == 0) {
    // An empty text over a memo that cannot be read keeps the pointer: the text it names may
    // still be recovered, and a caller writing back what it read (nothing) would lose it.
    const uint8_t* old_data;
    uint32_t old_len;
    if (!pointer_readable || !ReadMemo(recno, field, &old_data, &old_len).ok())
      return Status::Ok();
  }
  s = memo_->Write(old_block, data, length, &new_block);
  if (!s.ok()) return s;
  if (pointer_readable && new_block == old_block) return Status::Ok();  // the same text
  // The memo text is in its blocks before the record points at them.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  uint8_t pointer[16];
  MemoFile::EncodePointer(new_block, f.width, binary, pointer);
  StorePointer(MutableRecord(recno), static_cast<size_t>(header_.record_length),
               static_cast<size_t>(f.offset), pointer, static_cast<size_t>(f.width));
  ++change_count_;  // the record changed, though no index sees its memo pointers
  TouchDate();
  return Status::Ok();
}

Status Table::CheckMemos(std::vector<std::string>* problems, size_t max_lines) const {
  if (!memo_) return Status::Ok();
  std::vector<MemoFile::Use> uses;
  size_t bad = 0;
  const bool binary = header_.binary_memo_pointers();
  for (uint32_t r = 1; r <= header_.record_count; ++r) {
    const uint8_t* rec = Record(r);
    for (const FieldDef& f : header_.fields) {
      if (!IsMemoType(f.type)) continue;
      uint64_t block = 0;
      if (!MemoFile::DecodePointer(rec + f.offset, f.width, binary, &block)) {
        ++bad;
        if (problems != nullptr && problems->size() < max_lines)
          problems->push_back(path_ + ": record " + std::to_string(r) + " field " + f.name +
                              " holds an invalid memo pointer");
      } else if (block != 0) {
        uses.push_back({r, f.name, block});
      }
    }
  }
  bad += memo_->Check(uses, problems, max_lines);
  if (bad == 0) return Status::Ok();
  return Status::Corrupt(std::to_string(bad) + (bad == 1 ? " problem" : " problems") +
                         " found in the memo file " + memo_->path());
}

Status Table::Commit() {
  if (mode_ == Mode::kReadOnly) return Status::Ok();
  Status s = CheckUsable();
  if (!s.ok()) return s;
  // Indexes that cannot be written stay behind the table, marked so in its header (see
  // DropIndexes); the records and notes are what must reach the disk.
  Status is = FlushIndexes();
  if (!is.ok()) DropIndexes(is);
  // The table goes to the disk last: its records point into the memo file, and its header
  // says whether the indexes are current. The memo and index files do not depend on each
  // other and are synced at once (each sync mostly waits on the device).
  Status memo_synced;
  std::thread memo_sync;
  if (memo_ && Parallel::Allowed()) {
    memo_sync = std::thread([&] { memo_synced = memo_->Sync(); });
  } else if (memo_) {
    memo_synced = memo_->Sync();
  }
  is = indexes_->Sync();
  if (memo_sync.joinable()) memo_sync.join();
  if (!is.ok()) DropIndexes(is);
  if (!memo_synced.ok()) return memo_synced;
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

namespace xb {

void Table::SetIndexBusy(bool busy) {
  if (mode_ == Mode::kReadOnly) return;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  dbf_->mutable_data()[kIndexBusyByte] = busy ? 1 : 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void Table::SetStructuralFlag(bool on) {
  if (mode_ == Mode::kReadOnly) return;
  if (on)
    header_.flags |= DbfHeader::kFlagStructuralIndex;
  else
    header_.flags &= static_cast<uint8_t>(~DbfHeader::kFlagStructuralIndex);
  dbf_->mutable_data()[28] = header_.flags;
}

Status Table::OpenStructuralIndex() {
  index_problem_.clear();
  const bool writable = mode_ != Mode::kReadOnly;
  if ((header_.flags & DbfHeader::kFlagStructuralIndex) == 0) {
    if (IndexBusy()) SetIndexBusy(false);
    return Status::Ok();
  }
  const std::string path = StructuralIndexPath();
  // Something other than a file in the index's place (a pipe, a folder) is refused with the
  // table, not set aside and rebuilt: it was put there on purpose, or by a mistake to be seen.
  const std::string kind = NonRegularKind(path);
  if (!kind.empty()) return Status::InvalidArgument(NotRegularMessage(path, kind));
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    index_problem_ = path + ": the table's index file is missing";
    // The flag promises other tools an index file; without one they may refuse the table.
    if (writable) {
      SetStructuralFlag(false);
      SetIndexBusy(false);
    }
    return Status::Ok();
  }
  Status s = indexes_->OpenStructural(path, writable);
  if (!s.ok()) {
    index_problem_ = s.message();
    return Status::Ok();
  }
  std::string why = path + ": the index may be behind the table (a program stopped while "
                    "changing it); it needs a rebuild";
  if (!IndexBusy()) {
    // A page that is no node at all (zeroed, overwritten) would stop the first walk through
    // its tag, so a program could not even start. An index whose trees lose their shape is
    // marked behind the table, so that no program trusts it, and rebuilt like one a stopped
    // program left behind. (Read-only opens find it when they walk, or check.)
    if (!writable) return Status::Ok();
    s = indexes_->CheckShapes();
    if (s.ok()) return Status::Ok();
    why = s.message() + "; the index needs a rebuild";
    SetIndexBusy(true);
  }
  // A program was stopped while the index was behind the table: build it afresh when no other
  // program has the table open, else leave it unused.
  bool alone = mode_ == Mode::kExclusive || (mode_ == Mode::kShared && TakeWhole());
  if (alone) {
    s = indexes_->RebuildAll(nullptr);
    if (s.ok()) SetIndexBusy(false);
    GiveBackWhole();
    if (s.ok()) return Status::Ok();
    index_problem_ = s.message();
  } else {
    index_problem_ = why;
  }
  indexes_->CloseAll();
  return Status::Ok();
}

void Table::SettleAppend() {
  uint32_t first = pending_append_;
  pending_append_ = 0;
  if (first == 0 || first > header_.record_count || !indexes_->active()) return;
  // A large batch of records goes to the disk while its keys are worked into the indexes, so
  // the commit that follows has little left to wait for.
  if (header_.record_count - first + 1 >= kWritebackBatch) {
    const uint64_t from = header_.header_length + uint64_t{first - 1} * header_.record_length;
    dbf_->StartWriteback(from / 4096 * 4096,
                         header_.header_length +
                             uint64_t{header_.record_count} * header_.record_length);
    if (memo_) memo_->StartWriteback();
  }
  Status s = indexes_->AfterAppends(first, header_.record_count);
  unflushed_ += header_.record_count - first;
  AfterIndexChange(s);
}

void Table::BeginRecordChange(uint32_t recno) {
  ++change_count_;
  if (!indexes_->active()) return;
  // Records appended since the last index work are keyed once, when they are settled.
  if (pending_append_ != 0 && recno >= pending_append_) return;
  indexes_->BeforeChange(Record(recno));
  SetIndexBusy(true);
}

void Table::EndRecordChange(uint32_t recno) {
  if (!indexes_->active()) return;
  if (pending_append_ != 0 && recno >= pending_append_) return;
  AfterIndexChange(indexes_->AfterChange(recno, Record(recno)));
}

void Table::AfterIndexChange(const Status& changed) {
  if (!changed.ok()) {
    DropIndexes(changed);
    return;
  }
  // Shared tables are written through at once, so other programs see the change; exclusive
  // ones keep changes in memory for speed, bounded, and marked by the busy byte meanwhile.
  if (mode_ == Mode::kShared || ++unflushed_ >= kFlushEvery) {
    Status s = FlushIndexes();
    if (!s.ok()) DropIndexes(s);
  }
}

Status Table::FlushIndexes() {
  unflushed_ = 0;
  // Only indexes this object holds and has written can be vouched for: a busy mark left by a
  // dropped index, or by another program, stays.
  if (!indexes_ || mode_ == Mode::kReadOnly || !indexes_->active()) return Status::Ok();
  LockScope lock(*this, true);
  if (!lock.status().ok()) return lock.status();
  if (pending_append_ != 0) SettleAppend();
  if (!indexes_->active()) return Status::Ok();
  if (indexes_->dirty()) {
    Status s = indexes_->Flush();
    if (!s.ok()) return s;
  }
  if (!indexes_->failed().ok()) return indexes_->failed();
  if (IndexBusy()) SetIndexBusy(false);
  return Status::Ok();
}

// Building or rebuilding tags changes the index files in ways other programs holding them
// cannot follow (tags they do not know of, files replaced under them): in a shared open it is
// done only while no other program has the table open.
namespace {
class Whole {
 public:
  Whole(bool shared, const std::function<bool()>& take, std::function<void()> give_back)
      : shared_(shared), give_back_(std::move(give_back)), taken_(!shared || take()) {}
  ~Whole() {
    if (shared_ && taken_) give_back_();
  }
  bool taken() const { return taken_; }

 private:
  bool shared_;
  std::function<void()> give_back_;
  bool taken_;
};
}  // namespace

Status Table::CheckIndexes(std::vector<std::string>* report) {
  LockScope look(*this, false, SharesIndexes());
  if (!look.status().ok()) return look.status();
  // Dropped when the lock was taken: another program left them behind the table.
  if (!indexes().HasFiles() && !index_problem_.empty())
    return Status::Corrupt(index_problem_);
  return indexes().Check(report);
}

Status Table::AddTag(const std::string& file, const std::string& tag, const std::string& key,
                     const std::string& condition, bool descending,
                     const IndexSet::Progress& progress, int* order) {
  Status s = CheckUsable();
  if (!s.ok()) return s;
  Whole whole(mode_ == Mode::kShared, [this] { return TakeWhole(); }, [this] { GiveBackWhole(); });
  if (!whole.taken())
    return Status::Locked(path_ + ": another program has the table open; building an index "
                          "needs the table to itself");
  s = FlushIndexes();
  if (!s.ok()) return s;
  const std::string structural = StructuralIndexPath();
  const bool to_structural = file.empty() || file == structural;
  std::error_code ec;
  // An index file that could not be read is kept aside rather than overwritten: its tag
  // definitions may still be salvaged from it. (A file the table does not name as its index,
  // left by a first build that was stopped, is simply replaced.)
  if (to_structural && !indexes_->HasStructural() &&
      (header_.flags & DbfHeader::kFlagStructuralIndex) && std::filesystem::exists(structural, ec)) {
    const std::string real = ResolvedPath(structural);
    const std::string aside = real + ".damaged";
    if (std::rename(real.c_str(), aside.c_str()) != 0)
      return Status::IoError(structural + ": cannot move the unreadable index aside: " +
                             std::strerror(errno));
  }
  SetIndexBusy(true);
  s = indexes_->AddTag(file, structural, tag, key, condition, descending, progress, order);
  if (to_structural && indexes_->HasStructural()) SetStructuralFlag(true);
  ++change_count_;
  if (!s.ok()) return s;
  index_problem_.clear();
  s = FlushIndexes();
  // Tags are often built one after another: the disk takes this one's pages meanwhile.
  if (s.ok()) indexes_->StartWriteback();
  return s;
}

Status Table::OpenIndex(const std::string& file, int* first_order) {
  if (pending_append_) SettleAppend();
  ++change_count_;
  return indexes_->OpenFile(file, mode_ != Mode::kReadOnly, first_order);
}

Status Table::CloseIndexes() {
  Status s = FlushIndexes();
  Status c = indexes_->CloseAll();
  ++change_count_;
  return s.ok() ? c : s;
}

Status Table::RebuildIndexes(const IndexSet::Progress& progress) {
  Status usable = CheckUsable();
  if (!usable.ok()) return usable;
  Whole whole(mode_ == Mode::kShared, [this] { return TakeWhole(); }, [this] { GiveBackWhole(); });
  if (!whole.taken())
    return Status::Locked(path_ + ": another program has the table open; rebuilding the "
                          "indexes needs the table to itself");
  if (!indexes_->HasStructural() && !index_problem_.empty() &&
      (header_.flags & DbfHeader::kFlagStructuralIndex)) {
    // The tags' definitions live only in the file that could not be read.
    return Status::Corrupt(index_problem_ + "; its tags must be built again from their " +
                           "definitions");
  }
  SetIndexBusy(true);
  pending_append_ = 0;  // the rebuild keys every record as it is now
  Status s = indexes_->RebuildAll(progress);
  ++change_count_;
  if (!s.ok()) return s;
  SetIndexBusy(false);
  index_problem_.clear();
  return Status::Ok();
}

}  // namespace xb

namespace xb {

namespace {

Status SyncDirectoryOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  if (dir.empty()) dir = ".";
  Status injected = FaultInjection::Point("flush the folder", dir);
  if (!injected.ok()) return injected;
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Status::IoError(dir + ": cannot open the folder: " + std::strerror(errno));
  int rc = fsync(fd);
  ::close(fd);
  if (rc != 0) return Status::IoError(dir + ": cannot flush the folder: " + std::strerror(errno));
  return Status::Ok();
}

// rename(2) with the failure as a status.
Status Rename(const std::string& from, const std::string& to, const char* what) {
  Status injected = FaultInjection::Point("rename", from);
  if (!injected.ok()) return Status::IoError(to + ": cannot put " + what + " in place: " +
                                             injected.message());
  if (std::rename(from.c_str(), to.c_str()) != 0)
    return Status::IoError(to + ": cannot put " + what + " in place: " + std::strerror(errno));
  return Status::Ok();
}

}  // namespace

Status Table::RecoverJournal(const std::string& dbf_path) {
  const std::string journal = JournalPath(dbf_path);
  std::error_code ec;
  if (!std::filesystem::exists(journal, ec)) {
    // Files of a pack or rebuild that stopped before its journal was complete: never in force.
    const std::string leftovers[] = {ResolvedPath(dbf_path) + kPackSuffix,
                                     ResolvedPath(CompanionPath(dbf_path, "FPT")) + kPackSuffix,
                                     ResolvedPath(CompanionPath(dbf_path, "CDX")) + ".new"};
    bool any = false;
    for (const auto& f : leftovers) any = any || std::filesystem::exists(f, ec);
    if (!any) return Status::Ok();
    std::unique_ptr<MappedFile> probe;
    Status s = MappedFile::Open(dbf_path, false, MappedFile::Lock::kExclusive, &probe);
    if (!s.ok()) return Status::Ok();  // in use (or missing): not ours to tidy now
    for (const auto& f : leftovers) std::remove(f.c_str());
    return Status::Ok();
  }
  // A program that still holds the table is in the middle of its work: leave it alone.
  std::unique_ptr<MappedFile> probe;
  Status s = MappedFile::Open(dbf_path, false, MappedFile::Lock::kExclusive, &probe);
  if (s.code() == Status::kLocked) return Status::Ok();
  struct stat st;
  std::string kind;
  const int fd = OpenRegularFile(journal, O_RDONLY, &st, &kind);
  if (fd < 0 && !kind.empty()) return Status::InvalidArgument(NotRegularMessage(journal, kind));
  FILE* f = fd < 0 ? nullptr : fdopen(fd, "r");
  if (f == nullptr) {
    if (fd >= 0) ::close(fd);
    return Status::IoError(journal + ": cannot read the journal");
  }
  std::vector<std::pair<std::string, std::string>> renames;
  char line[8192];
  bool complete = false;
  while (std::fgets(line, sizeof line, f)) {
    std::string l(line);
    while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
    if (l == "end") complete = true;
    if (l.rfind("rename\t", 0) != 0) continue;
    size_t tab = l.find('\t', 7);
    if (tab == std::string::npos) continue;
    renames.emplace_back(l.substr(7, tab - 7), l.substr(tab + 1));
  }
  std::fclose(f);
  // A journal cut short was never in force: the new files are discarded, the old set stays.
  for (const auto& [from, to] : renames) {
    if (!std::filesystem::exists(from, ec)) continue;
    if (complete) {
      if (std::rename(from.c_str(), to.c_str()) != 0)
        return Status::IoError(to + ": cannot finish an interrupted pack: " +
                               std::strerror(errno));
    } else {
      std::remove(from.c_str());
    }
  }
  // A journal cut short may not name its files at all (killed before its lines were
  // written): the new files of a pack are removed by their names as well.
  if (!complete) {
    std::remove((ResolvedPath(dbf_path) + kPackSuffix).c_str());
    std::remove((ResolvedPath(CompanionPath(dbf_path, "FPT")) + kPackSuffix).c_str());
  }
  // Index copies written for the new table are not in the journal: they were to follow it
  // into place after the journal was gone. The new table's header says its indexes are
  // behind, so the next open rebuilds them; a copy left now would never be used.
  std::remove((ResolvedPath(CompanionPath(dbf_path, "CDX")) + ".new").c_str());
  SyncDirectoryOf(ResolvedPath(dbf_path));
  SyncDirectoryOf(dbf_path);
  std::remove(journal.c_str());
  return Status::Ok();
}

Status Table::Pack(const IndexSet::Progress& progress) { return Rewrite(true, progress); }

Status Table::Zap() { return Rewrite(false, nullptr); }

// Rewrite in three steps. Until the journal is complete on the disk, a failure removes what was
// written and leaves the table as it was. From then on the rewrite has happened: the next open
// finishes whatever this one could not do.
Status Table::Rewrite(bool keep_all_live, const IndexSet::Progress& progress) {
  const bool pack = keep_all_live;
  const char* what = pack ? "pack" : "empty";
  Status usable = CheckUsable();
  if (!usable.ok()) return usable;
  if (mode_ != Mode::kExclusive)
    return Status::Locked(path_ + ": the table must be opened exclusively to " + what + " it");
  Status s = FlushIndexes();
  if (!s.ok()) return s;

  RewriteFiles files;
  // Files linked into the folder are replaced where they really are, and the links stay.
  files.real_dbf = ResolvedPath(path_);
  files.tmp_dbf = files.real_dbf + kPackSuffix;
  if (memo_) {
    files.memo_path = memo_->path();
    files.real_fpt = ResolvedPath(files.memo_path);
    files.tmp_fpt = files.real_fpt + kPackSuffix;
  }
  files.journal = JournalPath(path_);
  // The indexes are rebuilt after the switch; until then the new table says they are behind.
  files.indexed = (header_.flags & DbfHeader::kFlagStructuralIndex) || indexes_->active();

  s = WriteRewrittenCopy(pack, progress, &files);
  if (!s.ok()) return s;
  s = WriteSwitchJournal(&files);
  if (!s.ok()) return s;
  s = SwitchRewrittenFiles(&files);
  if (!s.ok()) return RewriteDecided(pack, s);
  return ReopenRewritten(pack, progress, &files);
}

void Table::RewriteFiles::Discard() {
  next_dbf.reset();
  std::remove(tmp_dbf.c_str());
  if (!tmp_fpt.empty()) std::remove(tmp_fpt.c_str());
}

void Table::RewriteFiles::DiscardIndexCopies() {
  for (const auto& c : index_copies) std::remove(c.first.c_str());
  index_copies.clear();
}

Status Table::RewriteDecided(bool pack, const Status& why) {
  // This object's files are the old ones, so after a failure it must not write to them again.
  unusable_ = path_ + ": the table was " + (pack ? "packed" : "emptied") + ", but " +
              why.message() + "; close it and open it again (the next open completes it)";
  return Status::IoError(unusable_);
}

namespace {

// The two files go to the disk at once: each sync mostly waits on the device, and `meanwhile`
// runs on this thread in the time. The table's failure is reported before the memo file's.
Status SyncBoth(PackOutput* out, MemoFile* memo, const std::function<void()>& meanwhile) {
  Status memo_synced, dbf_synced;
  std::thread memo_sync, dbf_sync;
  if (Parallel::Allowed()) {
    if (memo) memo_sync = std::thread([&] { memo_synced = memo->Sync(); });
    dbf_sync = std::thread([&] { dbf_synced = out->Finish(); });
  } else {
    if (memo) memo_synced = memo->Sync();
    dbf_synced = out->Finish();
  }
  meanwhile();
  if (dbf_sync.joinable()) dbf_sync.join();
  if (memo_sync.joinable()) memo_sync.join();
  return dbf_synced.ok() ? memo_synced : dbf_synced;
}

}  // namespace

std::vector<uint8_t> Table::RewrittenHeader(const DbfHeader& old, uint32_t records, bool indexed) {
  DbfHeader h = old;
  h.record_count = records;
  Today(&h.year, &h.month, &h.day);
  std::vector<uint8_t> head;
  h.EncodeTo(&head);
  if (indexed) head[kIndexBusyByte] = 1;
  return head;
}

template <typename Visit>
Status Table::ForEachLiveRecord(const IndexSet::Progress& progress, Visit visit) {
  const uint32_t n = header_.record_count;
  int last = -1;
  for (uint32_t r = 1; r <= n; ++r) {
    if (progress && (r & 0x3FFF) == 0) {
      int p = static_cast<int>(static_cast<uint64_t>(r) * 100 / n);
      if (p != last) progress(last = p);
    }
    if (IsDeleted(r)) continue;
    Status s = visit(r);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status Table::CopyRecordMemos(uint32_t r, bool binary, MemoFile* memo, uint8_t* copy) {
  for (size_t fi = 0; fi < header_.fields.size(); ++fi) {
    const FieldDef& f = header_.fields[fi];
    if (!IsMemoType(f.type)) continue;
    const uint8_t* data;
    uint32_t len;
    Status s = ReadMemo(r, static_cast<int>(fi), &data, &len);
    if (!s.ok()) return Status::Corrupt(s.message() + "; nothing was packed");
    uint64_t block = 0;
    s = memo->Write(0, data, len, &block);
    MemoFile::EncodePointer(block, f.width, binary, copy + f.offset);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

// Step 1: the new table (and memo file) beside the old ones, on the disk, with renumbered copies
// of the indexes. On failure nothing of it is left.
Status Table::WriteRewrittenCopy(bool pack, const IndexSet::Progress& progress,
                                 RewriteFiles* files) {
  const uint32_t n = header_.record_count;
  uint32_t live = 0;
  if (pack)
    for (uint32_t r = 1; r <= n; ++r) live += IsDeleted(r) ? 0 : 1;

  std::unique_ptr<MemoFile> new_memo;
  Status s;
  if (memo_) {
    s = MemoFile::Create(files->tmp_fpt, memo_->block_size(), &new_memo);
    if (!s.ok()) return s;
  }
  // The new table is written with plain writes through a buffer: it is written once, front
  // to back, and a mapping of a new file would have every page zeroed by the kernel before it
  // is filled.
  PackOutput out(files->tmp_dbf);
  s = out.Open();
  if (!s.ok()) {
    new_memo.reset();
    files->Discard();
    return s;
  }
  const std::vector<uint8_t> head = RewrittenHeader(header_, live, files->indexed);
  s = out.Append(head.data(), head.size());
  const bool binary = header_.binary_memo_pointers();
  // The tags open now are current (just flushed): after the pack they can be rebuilt from
  // their own entries with the records' new numbers. Not so for an index that could not be
  // opened, or one left behind by a program that stopped while changing it.
  std::vector<uint32_t>& renumbered = files->renumbered;
  if (pack && files->indexed && index_problem_.empty() && indexes_->active())
    renumbered.assign(n + 1, 0);
  uint32_t kept = 0;
  if (s.ok() && pack) {
    s = ForEachLiveRecord(progress, [&](uint32_t r) {
      ++kept;
      if (!renumbered.empty()) renumbered[r] = kept;
      uint8_t* rec = out.Next(header_.record_length);
      std::memcpy(rec, Record(r), header_.record_length);
      Status copied = new_memo ? CopyRecordMemos(r, binary, new_memo.get(), rec) : Status::Ok();
      if (copied.ok()) copied = out.Commit();
      if (new_memo && (kept & 0x3FFF) == 0) new_memo->StartWriteback();
      return copied;
    });
  }
  if (s.ok()) {
    const uint8_t eof = 0x1A;
    s = out.Append(&eof, 1);
  }
  // Meanwhile the indexes are written, renumbered, from their old entries into copies beside
  // them; they take their places only after the new table, whose header says its indexes are
  // behind until then.
  if (s.ok()) {
    s = SyncBoth(&out, new_memo.get(), [&] {
      if (!renumbered.empty() && index_problem_.empty())
        indexes_->PrepareAfterPack(renumbered, progress, &files->index_copies);
    });
  }
  if (s.ok() && new_memo) s = new_memo->Close();
  // The new table is locked before it takes the old one's place, as the old one is: a program
  // opening the table during the switch is refused as "in use" (and leaves the journal
  // alone), and cannot hold the new file open when this object reopens it.
  if (s.ok())
    s = MappedFile::Open(files->tmp_dbf, true, MappedFile::Lock::kExclusive, &files->next_dbf);
  if (!s.ok()) {
    out.Abandon();
    new_memo.reset();
    files->Discard();
    files->DiscardIndexCopies();
    return s;
  }
  return Status::Ok();
}

// Step 2a: the journal makes the switch of the files one step: once it is complete on the disk,
// an interrupted switch is finished by the next open. On failure the copies are removed.
Status Table::WriteSwitchJournal(RewriteFiles* files) {
  const std::string& journal = files->journal;
  FILE* j = std::fopen(journal.c_str(), "w");
  if (j == nullptr) {
    files->Discard();
    files->DiscardIndexCopies();
    return Status::IoError(journal + ": cannot write the journal: " + std::strerror(errno));
  }
  if (!files->tmp_fpt.empty())
    std::fprintf(j, "rename\t%s\t%s\n", files->tmp_fpt.c_str(), files->real_fpt.c_str());
  std::fprintf(j, "rename\t%s\t%s\nend\n", files->tmp_dbf.c_str(), files->real_dbf.c_str());
  bool ok = FaultInjection::Point("write", journal).ok() && std::fflush(j) == 0 &&
            FaultInjection::Point("sync", journal).ok() && fsync(fileno(j)) == 0;
  ok = std::fclose(j) == 0 && ok;
  // The journal is in force once it is in the folder on the disk too.
  Status synced = ok ? SyncDirectoryOf(path_) : Status::IoError("");
  if (!ok || !synced.ok()) {
    std::remove(journal.c_str());
    files->Discard();
    files->DiscardIndexCopies();
    return Status::IoError(journal + ": cannot write the journal" +
                           (ok ? ": " + synced.message() : std::string()) +
                           "; nothing was packed");
  }
  return Status::Ok();
}

// Step 2b: the new files take the old ones' places, as the journal says.
Status Table::SwitchRewrittenFiles(RewriteFiles* files_in) {
  RewriteFiles& files = *files_in;
  Status s;
  if (!files.tmp_fpt.empty()) {
    s = Rename(files.tmp_fpt, files.real_fpt, "the new memo file");
    if (!s.ok()) return s;
  }
  s = Rename(files.tmp_dbf, files.real_dbf, "the new table");
  if (!s.ok()) return s;
  files.next_dbf->Renamed(path_);
  // Without the folder on the disk the journal stays: the next open finds nothing left to do
  // but to remove it.
  // (A linked table or memo file was replaced where it really is, so its folder is synced.)
  bool synced_dirs = SyncDirectoryOf(files.real_dbf).ok();
  if (!files.real_fpt.empty() && !SyncDirectoryOf(files.real_fpt).ok()) synced_dirs = false;
  if (synced_dirs && SyncDirectoryOf(path_).ok()) std::remove(files.journal.c_str());
  return Status::Ok();
}

// Step 3: reopen the new files and bring back the indexes that were open, from the renumbered
// copies when they could be put in place, else by a rebuild.
Status Table::ReopenRewritten(bool pack, const IndexSet::Progress& progress,
                              RewriteFiles* files) {
  std::vector<uint32_t>& renumbered = files->renumbered;
  std::vector<std::string> extra;
  for (int o = 1; o <= indexes_->OrderCount(); ++o) {
    const std::string& f = indexes_->GetOrder(o)->file_path;
    if (f != StructuralIndexPath() && std::find(extra.begin(), extra.end(), f) == extra.end())
      extra.push_back(f);
  }
  indexes_->CloseAll();
  // The new table is in place, so the index copies can follow. One that cannot leaves its
  // file behind the table, which the busy mark in the new header makes the next open rebuild;
  // here the rebuild below is done the slow way instead.
  bool indexes_ready = !files->index_copies.empty();
  for (const auto& c : files->index_copies) {
    if (FaultInjection::Point("rename", c.first).ok() &&
        std::rename(c.first.c_str(), c.second.c_str()) == 0)
      renumbered.clear();  // a file holds the new numbers: never renumber its entries again
    else
      indexes_ready = false;
  }
  files->DiscardIndexCopies();
  std::unique_ptr<MappedFile> dbf = std::move(files->next_dbf);
  DbfHeader fresh;
  Status s = DbfHeader::DecodeFrom(dbf->data(), dbf->size(), path_, &fresh);
  std::unique_ptr<MemoFile> memo;
  if (s.ok() && fresh.has_memo()) s = MemoFile::Open(files->memo_path, true, &memo);
  if (!s.ok()) {
    return RewriteDecided(pack,
                          Status::IoError("it could not be opened again (" + s.message() + ")"));
  }
  if (memo_) memo_->Close();
  dbf_->Close();
  dbf_ = std::move(dbf);
  memo_ = std::move(memo);
  header_ = std::move(fresh);
  blank_.clear();
  ++change_count_;
  indexes_ = std::make_unique<IndexSet>(this);
  if (!files->indexed) return Status::Ok();
  const std::string structural = StructuralIndexPath();
  std::error_code ec;
  if ((header_.flags & DbfHeader::kFlagStructuralIndex) && std::filesystem::exists(structural, ec)) {
    s = indexes_->OpenStructural(structural, true);
    if (!s.ok()) index_problem_ = s.message();
  }
  for (const auto& f : extra) {
    int first;
    indexes_->OpenFile(f, true, &first);
  }
  if (indexes_ready && index_problem_.empty()) {
    SetIndexBusy(false);
    return Status::Ok();
  }
  s = renumbered.empty() ? indexes_->RebuildAll(progress)
                         : indexes_->RebuildAfterPack(renumbered, progress);
  // The pack itself is done; indexes that could not be built stay marked behind the table.
  if (!s.ok()) {
    DropIndexes(s);
    return Status::Ok();
  }
  if (index_problem_.empty()) SetIndexBusy(false);
  return Status::Ok();
}

}  // namespace xb
