#include "MemoFile.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace xb {

namespace {

uint32_t GetBE32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}
void PutBE32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

}  // namespace

Status MemoFile::Create(const std::string& path, uint32_t block_size,
                        std::unique_ptr<MemoFile>* out) {
  if (block_size == 0 || block_size > 65535)
    return Status::InvalidArgument(path + ": memo block size " + std::to_string(block_size) +
                                   " is out of range");
  std::unique_ptr<MappedFile> f;
  Status s = MappedFile::Create(path, &f);
  if (!s.ok()) return s;
  std::unique_ptr<MemoFile> m(new MemoFile(std::move(f)));
  m->block_size_ = block_size;
  m->next_free_ = m->FirstBlock();
  uint8_t header[kHeaderSize] = {};
  PutBE32(header, m->next_free_);
  header[6] = static_cast<uint8_t>(block_size >> 8);
  header[7] = static_cast<uint8_t>(block_size);
  s = m->file_->Write(0, header, sizeof header);
  if (!s.ok()) return s;
  *out = std::move(m);
  return Status::Ok();
}

Status MemoFile::Open(const std::string& path, bool writable, std::unique_ptr<MemoFile>* out) {
  std::unique_ptr<MappedFile> f;
  Status s = MappedFile::Open(path, writable, MappedFile::Lock::kNone, &f);
  if (!s.ok()) {
    if (s.code() == Status::kNotFound)
      return Status::NotFound(path + ": the table's memo file is missing");
    return s;
  }
  if (f->size() < 8)
    return Status::Corrupt(path + ": too short for a memo file header (" +
                           std::to_string(f->size()) + " bytes)");
  const uint8_t* p = f->data();
  std::unique_ptr<MemoFile> m(new MemoFile(std::move(f)));
  m->next_free_ = GetBE32(p);
  m->block_size_ = static_cast<uint32_t>((p[6] << 8) | p[7]);
  if (m->block_size_ == 0) return Status::Corrupt(path + ": memo block size is 0");
  // Nothing can live past the end of the file, so a pointer far beyond it is damage; following
  // it would grow the file by up to terabytes at the next memo. New memos go to the end instead.
  if (m->next_free_ > m->EndBlock() + 1) m->next_free_ = static_cast<uint32_t>(m->EndBlock());
  // A pointer below the end of the file (inside the header, or back among the memos) would
  // make the next memo overwrite the header or another record's text: every memo in use lies
  // inside the file, so new ones go past its end.
  m->FollowFileEnd();
  *out = std::move(m);
  return Status::Ok();
}

uint64_t MemoFile::EndBlock() const {
  const uint64_t end = (file_->size() + block_size_ - 1) / block_size_;
  return std::min<uint64_t>(std::max<uint64_t>(end, FirstBlock()), 0xFFFFFFFFull);
}

void MemoFile::FollowFileEnd() {
  const uint64_t end = EndBlock();
  if (end > next_free_) next_free_ = static_cast<uint32_t>(end);
}

uint32_t MemoFile::header_next_free() const { return GetBE32(file_->data()); }

Status MemoFile::RepairHeader() {
  if (!file_->writable()) return Status::ReadOnly(path() + ": opened read-only");
  PutBE32(file_->mutable_data(), next_free_);
  return Status::Ok();
}

Status MemoFile::Refresh() {
  Status s = file_->Refresh();
  if (!s.ok()) return s;
  // Another writer moves the header only after its memo is in the file; a value past the end
  // of the file is damage and is not followed.
  const uint32_t next = header_next_free();
  if (next > next_free_ && next <= EndBlock() + 1) next_free_ = next;
  FollowFileEnd();
  return Status::Ok();
}

bool MemoFile::DecodePointer(const uint8_t* field, int width, bool binary, uint64_t* block) {
  if (binary) {
    if (width != 4) return false;
    *block = static_cast<uint32_t>(field[0]) | (static_cast<uint32_t>(field[1]) << 8) |
             (static_cast<uint32_t>(field[2]) << 16) | (static_cast<uint32_t>(field[3]) << 24);
    return true;
  }
  static const uint8_t kBlanks[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                      ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if (width <= 16 && std::memcmp(field, kBlanks, static_cast<size_t>(width)) == 0) {
    *block = 0;  // the usual "no memo"
    return true;
  }
  uint64_t v = 0;
  bool digits = false;
  for (int i = 0; i < width; ++i) {
    uint8_t c = field[i];
    if (c >= '0' && c <= '9') {
      if (v > 1'000'000'000'000ull) return false;
      v = v * 10 + static_cast<uint64_t>(c - '0');
      digits = true;
    } else if (c == ' ' || c == 0) {
      if (digits) {
        // Blanks after the number: accept only trailing padding.
        for (int j = i; j < width; ++j)
          if (field[j] != ' ' && field[j] != 0) return false;
        break;
      }
    } else {
      return false;
    }
  }
  *block = v;
  return true;
}

void MemoFile::EncodePointer(uint64_t block, int width, bool binary, uint8_t* field) {
  if (binary) {
    uint32_t v = static_cast<uint32_t>(block);
    for (int i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(v >> (8 * i));
    return;
  }
  std::memset(field, ' ', static_cast<size_t>(width));
  if (block == 0) return;
  char digits[24];
  int n = 0;
  while (block > 0 && n < 24) {
    digits[n++] = static_cast<char>('0' + block % 10);
    block /= 10;
  }
  for (int i = 0; i < n && i < width; ++i) field[width - 1 - i] = static_cast<uint8_t>(digits[i]);
}

bool MemoFile::Locate(uint64_t block, uint32_t* type, const uint8_t** data, uint32_t* length,
                      std::string* why) const {
  const uint64_t size = file_->size();
  if (block < FirstBlock() || block > (1ull << 40) || block * block_size_ + 8 > size) {
    *why = "memo block " + std::to_string(block) + " is outside the memo file";
    return false;
  }
  const uint64_t offset = block * block_size_;
  const uint8_t* p = file_->data() + offset;
  *type = GetBE32(p);
  const uint32_t len = GetBE32(p + 4);
  if (*type > 2) {
    *why = "memo block " + std::to_string(block) + " has an unknown type " + std::to_string(*type);
    return false;
  }
  if (len > size - offset - 8) {
    *why = "memo at block " + std::to_string(block) + " claims " + std::to_string(len) +
           " bytes, past the end of the memo file";
    return false;
  }
  *data = p + 8;
  *length = len;
  return true;
}

Status MemoFile::Read(uint64_t block, const uint8_t** data, uint32_t* length) const {
  *data = nullptr;
  *length = 0;
  if (block == 0) return Status::Ok();
  uint32_t type;
  std::string why;
  if (!Locate(block, &type, data, length, &why)) {
    *data = nullptr;
    *length = 0;
    return Status::Corrupt(path() + ": " + why);
  }
  return Status::Ok();
}

Status MemoFile::Write(uint64_t old_block, const uint8_t* data, uint64_t length,
                       uint64_t* new_block) {
  *new_block = 0;
  if (!file_->writable()) return Status::ReadOnly(path() + ": opened read-only");
  if (length == 0) return Status::Ok();
  if (length > 0xFFFFFFF0ull)
    return Status::InvalidArgument(path() + ": a memo can hold at most 4 GB");
  if (old_block != 0) {
    // An unchanged text keeps its blocks: saving a record whose memo was not edited costs no
    // space.
    uint32_t old_type, old_len;
    const uint8_t* old_data;
    std::string why;
    if (Locate(old_block, &old_type, &old_data, &old_len, &why) && old_type == kTextType &&
        old_len == length && std::memcmp(old_data, data, length) == 0) {
      *new_block = old_block;
      return Status::Ok();
    }
  }
  // Never in place: a program stopped halfway through rewriting a memo would leave part old
  // text, part new. The new text goes to fresh blocks, and the old one stays whole until the
  // record points at the new one.
  FollowFileEnd();
  const uint64_t blocks_needed = (8 + length + block_size_ - 1) / block_size_;
  const uint64_t target = next_free_;
  if (target + blocks_needed > 0xFFFFFFFFull)
    return Status::DiskFull(path() + ": the memo file has no block numbers left");
  const uint64_t offset = target * block_size_;
  uint8_t head[8];
  PutBE32(head, kTextType);
  PutBE32(head + 4, static_cast<uint32_t>(length));
  // Bytes past the old end of the file are zero (Resize), so the last block's filler holds no
  // stale text.
  Status s = file_->Resize(std::max<uint64_t>(file_->size(), offset + 8 + length));
  if (!s.ok()) return s;
  uint8_t* p = file_->mutable_data() + offset;
  std::memcpy(p + 8, data, length);
  std::memcpy(p, head, 8);
  // The memo is in place before the header points past it.
  std::atomic_signal_fence(std::memory_order_seq_cst);
  next_free_ = static_cast<uint32_t>(target + blocks_needed);
  PutBE32(file_->mutable_data(), next_free_);
  *new_block = target;
  return Status::Ok();
}

size_t MemoFile::Check(const std::vector<Use>& uses, std::vector<std::string>* problems,
                       size_t max_lines) const {
  size_t count = 0;
  auto problem = [&](const std::string& line) {
    ++count;
    if (problems != nullptr && problems->size() < max_lines)
      problems->push_back(path() + ": " + line);
  };
  auto who = [](const Use& u) { return "record " + std::to_string(u.recno) + " field " + u.field; };
  const uint32_t header_next = header_next_free();
  if (header_next < FirstBlock())
    problem("the next free block " + std::to_string(header_next) + " lies inside the header");
  struct Span {
    uint64_t first, end;
    size_t use;
  };
  std::vector<Span> spans;
  spans.reserve(uses.size());
  for (size_t i = 0; i < uses.size(); ++i) {
    uint32_t type, len;
    const uint8_t* data;
    std::string why;
    if (!Locate(uses[i].block, &type, &data, &len, &why)) {
      problem(who(uses[i]) + ": " + why);
      continue;
    }
    const uint64_t blocks = (8 + uint64_t{len} + block_size_ - 1) / block_size_;
    spans.push_back({uses[i].block, uses[i].block + blocks, i});
  }
  std::sort(spans.begin(), spans.end(),
            [](const Span& a, const Span& b) { return a.first < b.first; });
  // Each memo against the one reaching furthest among those that start before it.
  const Span* furthest = nullptr;
  for (const Span& sp : spans) {
    if (furthest != nullptr && sp.first < furthest->end)
      problem(who(uses[sp.use]) + ": its memo at block " + std::to_string(sp.first) +
              " shares blocks with the memo of " + who(uses[furthest->use]) + " at block " +
              std::to_string(furthest->first));
    if (furthest == nullptr || sp.end > furthest->end) furthest = &sp;
  }
  if (furthest != nullptr && header_next >= FirstBlock() && header_next < furthest->end)
    problem("the next free block " + std::to_string(header_next) +
            " lies before the end of the memo of " + who(uses[furthest->use]) + " (blocks " +
            std::to_string(furthest->first) + " to " + std::to_string(furthest->end - 1) +
            "): a new memo would be written over it");
  return count;
}

}  // namespace xb
