#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
  // Where the next memo goes: the header's next free block, but never below the end of the
  // file, which holds every memo in use, whatever a damaged header says.
  uint32_t next_free() const { return next_free_; }
  // The next free block as the header says it.
  uint32_t header_next_free() const;
  const std::string& path() const { return file_->path(); }

  // The memo at `block`: a view into the mapped file, valid until the next write.
  Status Read(uint64_t block, const uint8_t** data, uint32_t* length) const;
  // Stores `length` bytes for a field whose memo is now at `old_block` (0 = none). A text that
  // differs from the old one always goes to fresh blocks past every memo in the file, so the
  // old text stays whole until the record points at the new one; the old blocks become dead
  // space until a pack. An unchanged text keeps its blocks. `*new_block` is where the text is
  // (0 for an empty text, which needs no block).
  Status Write(uint64_t old_block, const uint8_t* data, uint64_t length, uint64_t* new_block);

  // Whether the header's next free block lies below the memos the file holds (damage, or a
  // program stopped after the file grew); RepairHeader writes the value next_free() uses.
  bool header_behind() const { return header_next_free() < next_free_; }
  Status RepairHeader();

  // For files shared with other writers: see their growth and their next free block.
  void SetShared(bool shared) { file_->SetExactGrowth(shared); }
  Status Refresh();

  // A memo a record points at, for Check.
  struct Use {
    uint32_t recno;
    std::string field;
    uint64_t block;
  };
  // Checks the header and every memo in `uses`: inside the file, past the header, a known type,
  // a length that stays in the file, no block shared by two memos, and the header's next free
  // block past all of them. One line per problem goes to `*problems` (at most `max_lines`);
  // returns how many problems there were.
  size_t Check(const std::vector<Use>& uses, std::vector<std::string>* problems,
               size_t max_lines) const;

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
  // The block just past the end of the file (and past the header).
  uint64_t EndBlock() const;
  // Raises next_free_ to EndBlock() when the file grew past it.
  void FollowFileEnd();
  // The memo at `block`, or false with the reason in `*why`.
  bool Locate(uint64_t block, uint32_t* type, const uint8_t** data, uint32_t* length,
              std::string* why) const;

  std::unique_ptr<MappedFile> file_;
  uint32_t block_size_ = 64;
  uint32_t next_free_ = 8;
  uint64_t written_back_ = 0;  // bytes StartWriteback has handed to the disk
};

}  // namespace xb
