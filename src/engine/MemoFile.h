#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "MappedFile.h"
#include "Status.h"

namespace xb {

// The FPT memo file: a 512-byte header (next free block, block size; big-endian), then memos,
// each a run of whole blocks beginning with an 8-byte block header (type, length).
class MemoFile {
 public:
  static constexpr uint32_t kHeaderSize = 512;
  static constexpr uint32_t kTextType = 1;

  static Status Create(const std::string& path, uint32_t block_size, std::unique_ptr<MemoFile>* out);
  static Status Open(const std::string& path, bool writable, std::unique_ptr<MemoFile>* out);

  uint32_t block_size() const { return block_size_; }
  uint32_t next_free() const { return next_free_; }
  const std::string& path() const { return file_->path(); }

  // The memo at `block`: a view into the mapped file, valid until the next write.
  Status Read(uint64_t block, const uint8_t** data, uint32_t* length) const;
  // Stores `length` bytes for a field whose memo is now at `old_block` (0 = none). The text is
  // rewritten in place when it fits the blocks of the old memo, else appended at the next free
  // block. `*new_block` is where it went (0 for an empty text, which needs no block).
  Status Write(uint64_t old_block, const uint8_t* data, uint64_t length, uint64_t* new_block);

  // For files shared with other writers: see their growth and their next free block.
  void SetShared(bool shared) { file_->SetExactGrowth(shared); }
  Status Refresh();

  Status Sync() { return file_->Sync(); }
  // Starts writing the blocks filled since the last call to the disk (see MappedFile).
  void StartWriteback() {
    const uint64_t end = uint64_t{next_free_} * block_size_ / 4096 * 4096;
    file_->StartWriteback(written_back_, end);
    if (end > written_back_) written_back_ = end;
  }
  Status Close() { return file_->Close(); }

  // Block number from a memo field's stored bytes: ASCII digits padded with blanks (or zeros, or
  // NUL bytes); in binary-pointer tables a little-endian 32-bit number. Returns false when the
  // bytes are neither.
  static bool DecodePointer(const uint8_t* field, int width, bool binary, uint64_t* block);
  static void EncodePointer(uint64_t block, int width, bool binary, uint8_t* field);

 private:
  explicit MemoFile(std::unique_ptr<MappedFile> file) : file_(std::move(file)) {}
  uint32_t FirstBlock() const { return (kHeaderSize + block_size_ - 1) / block_size_; }

  std::unique_ptr<MappedFile> file_;
  uint32_t block_size_ = 64;
  uint32_t next_free_ = 8;
  uint64_t written_back_ = 0;  // bytes StartWriteback has handed to the disk
};

}  // namespace xb
