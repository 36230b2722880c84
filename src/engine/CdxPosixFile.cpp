#include "CdxPosixFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

Status CdxPosixFile::Open(const std::string& path, bool readOnly,
                          std::unique_ptr<CdxBlockDevice>* out) {
  int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) {
    int err = errno;
    CdxPosixFile probe(path, -1);
    if (err == ENOENT) return Status::NotFound(path + ": no such index file");
    return probe.Error(readOnly ? "open for reading" : "open for writing", err);
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::IoError(path + ": not a regular file");
  }
  out->reset(new CdxPosixFile(path, fd));
  return Status::Ok();
}

Status CdxPosixFile::Create(const std::string& path, std::unique_ptr<CdxBlockDevice>* out) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return CdxPosixFile(path, -1).Error("create", errno);
  out->reset(new CdxPosixFile(path, fd));
  return Status::Ok();
}

CdxPosixFile::~CdxPosixFile() {
  if (fd_ >= 0) ::close(fd_);
}

Status CdxPosixFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t n) {
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
  size_t done = 0;
  while (done < n) {
    ssize_t w = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(offset + done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return Error("write", errno);
    }
    if (w == 0) return Error("write", ENOSPC);
    done += static_cast<size_t>(w);
  }
  return Status::Ok();
}

Status CdxPosixFile::Size(uint64_t* size) {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return Error("read the size of", errno);
  *size = static_cast<uint64_t>(st.st_size);
  return Status::Ok();
}

Status CdxPosixFile::Truncate(uint64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) return Error("truncate", errno);
  return Status::Ok();
}

void CdxPosixFile::StartWriteback() {
  // The whole file (a length of 0 runs to its end); a failure shows again at the next Sync.
  if (fd_ >= 0) sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
}

Status CdxPosixFile::Sync() {
  if (::fdatasync(fd_) != 0) return Error("sync", errno);
  return Status::Ok();
}

}  // namespace xb
