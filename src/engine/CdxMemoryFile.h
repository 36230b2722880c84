#pragma once

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "CdxBlockDevice.h"

namespace xb {

// An index file held in memory. The bytes are shared with whoever made it, so a test can look
// at (or damage) what the index wrote, and it can be told to fail writes like a full or
// read-only disk.
class CdxMemoryFile : public CdxBlockDevice {
 public:
  using Bytes = std::vector<uint8_t>;

  explicit CdxMemoryFile(std::shared_ptr<Bytes> bytes, std::string name = "<memory>")
      : bytes_(std::move(bytes)), name_(std::move(name)) {}

  // Writes fail with kDiskFull once this many more bytes have been written.
  void FailWritesAfter(uint64_t bytes) { write_budget_ = bytes; }
  // Every write fails with kReadOnly.
  void SetReadOnly(bool read_only) { read_only_ = read_only; }

  Status ReadAt(uint64_t offset, uint8_t* buffer, size_t n) override;
  Status WriteAt(uint64_t offset, const uint8_t* data, size_t n) override;
  Status Size(uint64_t* size) override;
  Status Truncate(uint64_t size) override;
  Status Sync() override { return Status::Ok(); }
  const std::string& name() const override { return name_; }

 private:
  std::shared_ptr<Bytes> bytes_;
  std::string name_;
  uint64_t write_budget_ = std::numeric_limits<uint64_t>::max();
  bool read_only_ = false;
};

}  // namespace xb
