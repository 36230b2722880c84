#include "ZeroExtendedFile.h"

#include "RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The largest index file: whole 512-byte pages addressed by 32-bit offsets.
constexpr uint64_t kExtendedSize = 0xFFFFFE00u;

}  // namespace

xb::Status ZeroExtendedFile::Open(const std::string& path,
                                  std::unique_ptr<xb::CdxBlockDevice>* out) {
  struct stat st;
  std::string kind;
  const int fd = xb::OpenRegularFile(path, O_RDONLY, &st, &kind);
  if (fd < 0) {
    if (!kind.empty()) return xb::Status::IoError(xb::NotRegularMessage(path, kind));
    if (errno == ENOENT) return xb::Status::NotFound(path + ": no such index file");
    return xb::Status::IoError(path + ": cannot open for reading: " + std::strerror(errno));
  }
  out->reset(new ZeroExtendedFile(path, fd, static_cast<uint64_t>(st.st_size)));
  return xb::Status::Ok();
}

ZeroExtendedFile::~ZeroExtendedFile() { ::close(fd_); }

xb::Status ZeroExtendedFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t n) {
  if (offset + n > kExtendedSize)
    return xb::Status::Corrupt(path_ + ": a read past the largest possible index");
  size_t done = 0;
  while (done < n && offset + done < real_size_) {
    const ssize_t r = ::pread(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      return xb::Status::IoError(path_ + ": cannot read: " + std::strerror(errno));
    }
    if (r == 0) break;  // the file shrank meanwhile: the rest reads as zeros too
    done += static_cast<size_t>(r);
  }
  std::memset(buffer + done, 0, n - done);
  return xb::Status::Ok();
}

xb::Status ZeroExtendedFile::WriteAt(uint64_t, const uint8_t*, size_t) {
  return xb::Status::ReadOnly(path_ + ": opened only to read what is left of it");
}

xb::Status ZeroExtendedFile::Size(uint64_t* size) {
  *size = kExtendedSize;
  return xb::Status::Ok();
}

xb::Status ZeroExtendedFile::Truncate(uint64_t) {
  return xb::Status::ReadOnly(path_ + ": opened only to read what is left of it");
}
