#include "CdxMemoryFile.h"

#include <cstring>

namespace xb {

// The index never addresses more than 4 GiB; refusing larger ranges keeps a damaged offset
// from asking for an absurd allocation.
static constexpr uint64_t kMaxMemoryFile = uint64_t{1} << 32;

Status CdxMemoryFile::ReadAt(uint64_t offset, uint8_t* buffer, size_t n) {
  if (offset > bytes_->size() || n > bytes_->size() - offset) {
    return Status::Corrupt(name_ + ": the file ends inside the page at offset " +
                           std::to_string(offset) + "; the index needs rebuilding");
  }
  if (n != 0) std::memcpy(buffer, bytes_->data() + offset, n);
  return Status::Ok();
}

Status CdxMemoryFile::WriteAt(uint64_t offset, const uint8_t* data, size_t n) {
  if (read_only_) return Status::ReadOnly(name_ + ": cannot write: the file is read-only");
  if (n > write_budget_) {
    write_budget_ = 0;
    return Status::DiskFull(name_ + ": cannot write: no space left on device");
  }
  if (offset > kMaxMemoryFile || n > kMaxMemoryFile - offset) {
    return Status::IoError(name_ + ": cannot write beyond 4 GiB");
  }
  write_budget_ -= n;
  if (offset + n > bytes_->size()) bytes_->resize(offset + n, 0);
  if (n != 0) std::memcpy(bytes_->data() + offset, data, n);
  return Status::Ok();
}

Status CdxMemoryFile::Size(uint64_t* size) {
  *size = bytes_->size();
  return Status::Ok();
}

Status CdxMemoryFile::Truncate(uint64_t size) {
  if (read_only_) return Status::ReadOnly(name_ + ": cannot truncate: the file is read-only");
  if (size > kMaxMemoryFile) return Status::IoError(name_ + ": cannot grow beyond 4 GiB");
  bytes_->resize(size, 0);
  return Status::Ok();
}

}  // namespace xb
