#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "CdxBlockDevice.h"
#include "Status.h"

// An index file read as if it went on with zero bytes up to the largest size an index can
// have. An index cut short (a full disk, a copy that stopped) still holds the headers that
// were written before the cut; read this way, the pointers into the lost part no longer stop
// the reader from getting at them. Read-only: every write fails.
class ZeroExtendedFile : public xb::CdxBlockDevice {
 public:
  static xb::Status Open(const std::string& path, std::unique_ptr<xb::CdxBlockDevice>* out);
  ~ZeroExtendedFile() override;
  ZeroExtendedFile(const ZeroExtendedFile&) = delete;
  ZeroExtendedFile& operator=(const ZeroExtendedFile&) = delete;

  xb::Status ReadAt(uint64_t offset, uint8_t* buffer, size_t n) override;
  xb::Status WriteAt(uint64_t offset, const uint8_t* data, size_t n) override;
  xb::Status Size(uint64_t* size) override;
  xb::Status Truncate(uint64_t size) override;
  xb::Status Sync() override { return xb::Status::Ok(); }
  const std::string& name() const override { return path_; }

 private:
  ZeroExtendedFile(std::string path, int fd, uint64_t real_size)
      : path_(std::move(path)), fd_(fd), real_size_(real_size) {}

  std::string path_;
  int fd_;
  uint64_t real_size_;
};
