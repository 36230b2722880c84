#pragma once

#include <memory>
#include <string>

#include "CdxBlockDevice.h"

namespace xb {

// An index file on disk, written with pwrite and read through a shared read-only mapping.
//
// A search that reaches pages no cache holds reads one page at a time, scattered over the
// file; a system call per page cost more than the search itself. The mapping reserves more
// address space than the file has, so the file can grow without a new mapping each time, and
// reads are served from it only below the size this object knows the file to have: writes go
// through pwrite, which the mapping sees at once, and nothing past the end is ever touched.
// Where the mapping cannot be made, reads fall back to pread.
class CdxPosixFile : public CdxBlockDevice {
 public:
  // Opens an existing file. A file that cannot be opened for writing when writing was asked
  // for gives kReadOnly, so the caller can retry read-only.
  static Status Open(const std::string& path, bool read_only, std::unique_ptr<CdxBlockDevice>* out);
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
  bool MappedReads() const override { return map_ != nullptr; }
  const std::string& name() const override { return path_; }

 private:
  CdxPosixFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  Status Error(const char* action, int err) const;
  // Maps at least `size` bytes (with room to grow), or leaves reads to pread.
  void Map(uint64_t size);
  void Unmap();

  std::string path_;
  int fd_;
  const uint8_t* map_ = nullptr;
  uint64_t map_length_ = 0;  // address space reserved
  uint64_t size_ = 0;       // bytes known to be in the file: the readable part of the map
};

}  // namespace xb
