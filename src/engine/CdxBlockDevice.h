#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Status.h"

namespace xb {

// The bytes under an index file. A real file in production; an in-memory one for tests and the
// fuzzer, where it can also be told to fail writes.
class CdxBlockDevice {
 public:
  virtual ~CdxBlockDevice() = default;

  // Reads exactly n bytes; a short read is an error.
  virtual Status ReadAt(uint64_t offset, uint8_t* buffer, size_t n) = 0;
  // Writes exactly n bytes, growing the file when the range ends beyond it.
  virtual Status WriteAt(uint64_t offset, const uint8_t* data, size_t n) = 0;
  virtual Status Size(uint64_t* size) = 0;
  virtual Status Truncate(uint64_t size) = 0;
  virtual Status Sync() = 0;
  // Asks for what was written to start going to the disk, without waiting (a hint).
  virtual void StartWriteback() {}
  // True when reads are copies out of memory the device maps, with no system call: a cache in
  // front of it would only hold second copies.
  virtual bool MappedReads() const { return false; }
  // The name used in messages (the path for a real file).
  virtual const std::string& name() const = 0;
};

}  // namespace xb
