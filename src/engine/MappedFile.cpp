#include "MappedFile.h"

#include "RegularFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "FaultInjection.h"

namespace xb {

namespace {

std::string ErrnoText(int err) { return std::strerror(err); }

Status TakeLock(int fd, MappedFile::Lock lock, const std::string& path) {
  if (lock == MappedFile::Lock::kNone) return Status::Ok();
  int op = (lock == MappedFile::Lock::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  while (flock(fd, op) != 0) {
    if (errno == EINTR) continue;
    if (errno == EWOULDBLOCK)
      return Status::Locked(path + ": the file is in use by another program");
    return Status::IoError(path + ": cannot lock: " + ErrnoText(errno));
  }
  return Status::Ok();
}

constexpr uint64_t kPage = 4096;
uint64_t RoundUp(uint64_t v) { return (v + kPage - 1) / kPage * kPage; }

}  // namespace

MappedFile::MappedFile(std::string path, int fd, bool writable)
    : path_(std::move(path)), fd_(fd), writable_(writable) {}

MappedFile::~MappedFile() { Close(); }

Status MappedFile::Open(const std::string& path, bool writable, Lock lock,
                        std::unique_ptr<MappedFile>* out) {
  if (writable) {
    Status injected = FaultInjection::Point("open for writing", path);
    if (!injected.ok()) return injected;
  }
  struct stat st;
  std::string kind;
  int fd = OpenRegularFile(path, writable ? O_RDWR : O_RDONLY, &st, &kind);
  if (fd < 0) {
    int err = errno;
    if (!kind.empty()) return Status::InvalidArgument(NotRegularMessage(path, kind));
    if (err == ENOENT) return Status::NotFound(path + ": no such file");
    if (err == EACCES || err == EROFS)
      return Status::ReadOnly(path + ": " + ErrnoText(err));
    return Status::IoError(path + ": cannot open: " + ErrnoText(err));
  }
  std::unique_ptr<MappedFile> f(new MappedFile(path, fd, writable));
  Status s = TakeLock(fd, lock, path);
  if (!s.ok()) return s;
  // The size once the lock is held: a writer holding it before us may have changed it.
  if (fstat(fd, &st) != 0) return Status::IoError(path + ": cannot stat: " + ErrnoText(errno));
  f->size_ = f->original_size_ = static_cast<uint64_t>(st.st_size);
  s = f->Map(f->size_);
  if (!s.ok()) return s;
  *out = std::move(f);
  return Status::Ok();
}

Status MappedFile::Create(const std::string& path, std::unique_ptr<MappedFile>* out) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    int err = errno;
    return Status::IoError(path + ": cannot create: " + ErrnoText(err));
  }
  std::unique_ptr<MappedFile> f(new MappedFile(path, fd, true));
  Status s = TakeLock(fd, Lock::kExclusive, path);
  if (!s.ok()) return s;
  *out = std::move(f);
  return Status::Ok();
}

Status MappedFile::Map(uint64_t capacity) {
  if (capacity == 0) {
    capacity_ = 0;
    return Status::Ok();
  }
  int prot = PROT_READ | (writable_ ? PROT_WRITE : 0);
  void* p = nullptr;
  if (data_ == nullptr) {
    p = mmap(nullptr, capacity, prot, MAP_SHARED, fd_, 0);
  } else {
    p = mremap(data_, capacity_, capacity, MREMAP_MAYMOVE);
  }
  if (p == MAP_FAILED) return Status::IoError(path_ + ": cannot map: " + ErrnoText(errno));
  data_ = static_cast<uint8_t*>(p);
  capacity_ = capacity;
  return Status::Ok();
}

Status MappedFile::Resize(uint64_t new_size) {
  if (!writable_) return Status::ReadOnly(path_ + ": opened read-only");
  if (new_size > capacity_) {
    Status injected = FaultInjection::Point("grow", path_);
    if (!injected.ok()) return injected;
    // Grow in large steps so a million appends cost a handful of remaps.
    uint64_t target = new_size;
    if (!exact_growth_) {
      target = new_size + new_size / 4;
      if (target < new_size + (1u << 20)) target = new_size + (1u << 20);
      target = RoundUp(target);
    }
    int err = posix_fallocate(fd_, static_cast<off_t>(capacity_),
                              static_cast<off_t>(target - capacity_));
    if (err != 0) {
      // Reserve exactly what is needed before giving up: the disk may have just enough.
      target = RoundUp(new_size);
      err = posix_fallocate(fd_, static_cast<off_t>(capacity_),
                            static_cast<off_t>(target - capacity_));
      if (err != 0) {
        if (ftruncate(fd_, static_cast<off_t>(capacity_ > size_ ? capacity_ : size_)) != 0) {
          // The file keeps its old length; nothing else to undo.
        }
        if (err == ENOSPC || err == EDQUOT)
          return Status::DiskFull(path_ + ": the disk is full");
        return Status::IoError(path_ + ": cannot grow: " + ErrnoText(err));
      }
    }
    Status s = Map(target);
    if (!s.ok()) return s;
    grown_ = !exact_growth_;
  }
  if (new_size > size_) {
    // Bytes past the old logical end may hold leftovers of an earlier, longer file image.
    std::memset(data_ + size_, 0, new_size - size_);
  }
  size_ = new_size;
  return Status::Ok();
}

Status MappedFile::Write(uint64_t offset, const void* src, uint64_t len) {
  if (!writable_) return Status::ReadOnly(path_ + ": opened read-only");
  if (offset + len > size_) {
    Status s = Resize(offset + len);
    if (!s.ok()) return s;
  }
  std::memcpy(data_ + offset, src, len);
  return Status::Ok();
}

Status MappedFile::Refresh() {
  if (fd_ < 0) return Status::Ok();
  struct stat st;
  if (fstat(fd_, &st) != 0) return Status::IoError(path_ + ": cannot stat: " + ErrnoText(errno));
  uint64_t physical = static_cast<uint64_t>(st.st_size);
  if (physical > capacity_) {
    Status s = Map(physical);
    if (!s.ok()) return s;
  }
  if (physical > size_ && (exact_growth_ || !writable_)) size_ = physical;
  return Status::Ok();
}

Status MappedFile::Trim() {
  if (!writable_ || fd_ < 0 || exact_growth_) return Status::Ok();
  if (grown_ || size_ < original_size_) {
    Status injected = FaultInjection::Point("set the length of", path_);
    if (!injected.ok()) return injected;
    if (ftruncate(fd_, static_cast<off_t>(size_)) != 0)
      return Status::IoError(path_ + ": cannot set the file length: " + ErrnoText(errno));
    original_size_ = size_;
    grown_ = false;
    // The mapping may now reach past the end of the file; shrink it so no store can fault.
    if (data_ != nullptr) {
      if (size_ == 0) {
        munmap(data_, capacity_);
        data_ = nullptr;
        capacity_ = 0;
      } else {
        Status s = Map(size_);
        if (!s.ok()) return s;
      }
    }
  }
  return Status::Ok();
}

Status MappedFile::Sync() {
  if (!writable_ || fd_ < 0) return Status::Ok();
  Status injected = FaultInjection::Point("flush", path_);
  if (!injected.ok()) return injected;
  Status s = Trim();
  if (!s.ok()) return s;
  if (data_ != nullptr && msync(data_, capacity_, MS_SYNC) != 0)
    return Status::IoError(path_ + ": cannot flush: " + ErrnoText(errno));
  if (fsync(fd_) != 0) return Status::IoError(path_ + ": cannot flush: " + ErrnoText(errno));
  return Status::Ok();
}

void MappedFile::StartWriteback(uint64_t from, uint64_t to) {
  if (!writable_ || fd_ < 0 || to <= from) return;
  // Only a hint: a failure here is found again by the Sync that follows.
  sync_file_range(fd_, static_cast<off64_t>(from), static_cast<off64_t>(to - from),
                  SYNC_FILE_RANGE_WRITE);
}

Status MappedFile::Close() {
  if (fd_ < 0) return Status::Ok();
  Status s = Trim();
  if (data_ != nullptr) munmap(data_, capacity_);
  data_ = nullptr;
  capacity_ = 0;
  ::close(fd_);  // releases the flock as well
  fd_ = -1;
  return s;
}

}  // namespace xb
