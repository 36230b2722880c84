#pragma once

#include <memory>
#include <string>

#include "CdxBlockDevice.h"

namespace xb {

// An index file on disk, read and written with pread/pwrite.
class CdxPosixFile : public CdxBlockDevice {
 public:
  // Opens an existing file. A file that cannot be opened for writing when writing was asked
  // for gives kReadOnly, so the caller can retry read-only.
  static Status Open(const std::string& path, bool readOnly, std::unique_ptr<CdxBlockDevice>* out);
  // Creates the file, or empties an existing one.
  static Status Create(const std::string& path, std::unique_ptr<CdxBlockDevice>* out);

  ~CdxPosixFile() override;
  CdxPosixFile(const CdxPosixFile&) = delete;
  CdxPosixFile& operator=(const CdxPosixFile&) = delete;

  Status ReadAt(uint64_t offset, uint8_t* buffer, size_t n) override;
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t n) override;
  Status Size(uint64_t* size) override;
  Status Truncate(uint64_t size) override;
  Status Sync() override;
  void StartWriteback() override;
  const std::string& name() const override { return path_; }

 private:
  CdxPosixFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  Status Error(const char* action, int err) const;

  std::string path_;
  int fd_;
};

}  // namespace xb
