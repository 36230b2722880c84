#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Status.h"

namespace xb {

// A file mapped into memory for reading and writing.
//
// Stores into a shared mapping land in the page cache at once: a record written through the
// engine is in the file when the call returns, and it survives the process being killed,
// without a system call per write. Growth reserves real disk blocks first (posix_fallocate),
// so a full disk is an error status and never a fault on a later store into the mapping.
// The file may be longer than `size()` while it is open; Close() and Sync() cut it back.
class MappedFile {
 public:
  enum class Lock { kNone, kShared, kExclusive };

  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  // Opens an existing file. `writable` maps it for writing; `lock` takes an advisory whole-file
  // lock (flock) that conflicts with other opens the usual way, failing at once with kLocked.
  static Status Open(const std::string& path, bool writable, Lock lock,
                     std::unique_ptr<MappedFile>* out);
  // Creates (or truncates) a file for writing with an exclusive lock.
  static Status Create(const std::string& path, std::unique_ptr<MappedFile>* out);

  const std::string& path() const { return path_; }
  // The file was renamed while open (put in place of another): messages name it by `path`.
  void Renamed(std::string path) { path_ = std::move(path); }
  bool writable() const { return writable_; }
  uint64_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  uint8_t* mutable_data() { return data_; }

  // Makes the logical size `new_size`, growing the mapping when needed. New bytes are zero.
  Status Resize(uint64_t new_size);
  // Writes `len` bytes at `offset`, growing the file when the range ends past size().
  Status Write(uint64_t offset, const void* src, uint64_t len);
  // Flushes the mapping and the file to the disk (msync + fsync) and trims reserved space.
  Status Sync();
  // Asks the kernel to start writing [from, to) to the disk now, without waiting: a long
  // sequential write then overlaps with the disk, and the final Sync has less left to wait on.
  void StartWriteback(uint64_t from, uint64_t to);
  // Trims reserved space, unmaps and closes. Safe to call twice.
  Status Close();

  // Shared files may be grown by other programs at the same time: grow them by exactly what is
  // needed and never cut them back, so no process removes what another one appended.
  void SetExactGrowth(bool exact) { exact_growth_ = exact; }
  // Picks up growth of the file by another program.
  Status Refresh();

  int fd() const { return fd_; }

 private:
  MappedFile(std::string path, int fd, bool writable);
  Status Map(uint64_t capacity);
  Status Trim();

  std::string path_;
  int fd_ = -1;
  bool writable_ = false;
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;      // logical size
  uint64_t capacity_ = 0;  // mapped length == physical size while open
  uint64_t original_size_ = 0;
  bool grown_ = false;
  bool exact_growth_ = false;
};

}  // namespace xb
