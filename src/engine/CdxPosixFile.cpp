#include "CdxPosixFile.h"

#include "RegularFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "FaultInjection.h"

namespace xb {

Status CdxPosixFile::Error(const char* action, int err) const {
  std::string msg = path_ + ": cannot " + action + ": " + std::strerror(err);
  switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return Status::DiskFull(msg);
    case EROFS:
    case EACCES:
    case EPERM:
    case EBADF: return Status::ReadOnly(msg);
    default: return Status::IoError(msg);
  }
}

Status CdxPosixFile::Open(const std::string& path, bool read_only,
                          std::unique_ptr<CdxBlockDevice>* out) {
  struct stat st;
  std::string kind;
  int fd = OpenRegularFile(path, read_only ? O_RDONLY : O_RDWR, &st, &kind);
  if (fd < 0) {
    int err = errno;
    if (!kind.empty()) return Status::InvalidArgument(NotRegularMessage(path, kind));
    CdxPosixFile probe(path, -1);
    if (err == ENOENT) return Status::NotFound(path + ": no such index file");
    return probe.Error(read_only ? "open for reading" : "open for writing", err);
  }
  auto* file = new CdxPosixFile(path, fd);
  out->reset(file);
  file->size_ = static_cast<uint64_t>(st.st_size);
  file->Map(file->size_);
  return Status::Ok();
}

Status CdxPosixFile::Create(const std::string& path, std::unique_ptr<CdxBlockDevice>* out) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return CdxPosixFile(path, -1).Error("create", errno);
  auto* file = new CdxPosixFile(path, fd);
  out->reset(file);
  file->Map(0);
  return Status::Ok();
}

CdxPosixFile::~CdxPosixFile() {
  Unmap();
  if (fd_ >= 0) ::close(fd_);
}

void CdxPosixFile::Unmap() {
  if (map_ != nullptr) ::munmap(const_cast<uint8_t*>(map_), map_length_);
  map_ = nullptr;
  map_length_ = 0;
}

void CdxPosixFile::Map(uint64_t size) {
  // Twice the file, and never less than 64 MB: address space costs nothing until it is read.
  const uint64_t length = std::max<uint64_t>(size * 2, uint64_t{64} << 20);
  if (length > SIZE_MAX) return;
  Unmap();
  void* p = ::mmap(nullptr, static_cast<size_t>(length), PROT_READ, MAP_SHARED, fd_, 0);
  if (p == MAP_FAILED) return;
  map_ = static_cast<const uint8_t*>(p);
  map_length_ = length;
}

Status CdxPosixFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t n) {
  if (offset + n > size_ && offset + n <= map_length_) {
    // The file may have been grown by another program since this object last looked.
    struct stat st;
    if (::fstat(fd_, &st) == 0) size_ = std::max(size_, static_cast<uint64_t>(st.st_size));
  }
  if (offset + n > map_length_ && map_ != nullptr && offset + n <= size_) Map(size_);
  if (map_ != nullptr && offset + n <= size_ && offset + n <= map_length_) {
    std::memcpy(buffer, map_ + offset, n);
    return Status::Ok();
  }
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pread(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return Error("read", errno);
    }
    if (r == 0) {
      return Status::Corrupt(path_ + ": the file ends inside the page at offset " +
                             std::to_string(offset) + "; the index needs rebuilding");
    }
    done += static_cast<size_t>(r);
  }
  return Status::Ok();
}

Status CdxPosixFile::WriteAt(uint64_t offset, const uint8_t* data, size_t n) {
  Status injected = FaultInjection::Point("write", path_);
  if (!injected.ok()) return injected;
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return Error("write", errno);
    }
    if (w == 0) return Error("write", ENOSPC);
    done += static_cast<size_t>(w);
    size_ = std::max(size_, offset + done);
  }
  return Status::Ok();
}

Status CdxPosixFile::Size(uint64_t* size) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Error("read the size of", errno);
  *size = static_cast<uint64_t>(st.st_size);
  size_ = *size;
  return Status::Ok();
}

Status CdxPosixFile::Truncate(uint64_t size) {
  Status injected = FaultInjection::Point("truncate", path_);
  if (!injected.ok()) return injected;
  // Shrink what reads may touch first: the mapped pages past the new end stop being readable.
  if (size < size_) size_ = size;
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Error("truncate", errno);
  size_ = size;
  return Status::Ok();
}

void CdxPosixFile::StartWriteback() {
  // The whole file (a length of 0 runs to its end); a failure shows again at the next Sync.
  if (fd_ >= 0) sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

Status CdxPosixFile::Sync() {
  Status injected = FaultInjection::Point("sync", path_);
  if (!injected.ok()) return injected;
  if (::fdatasync(fd_) != 0) return Error("sync", errno);
  return Status::Ok();
}

}  // namespace xb
