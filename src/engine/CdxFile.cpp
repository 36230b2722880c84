#include "CdxFile.h"

#include <algorithm>
#include <cctype>
#include <atomic>
#include <set>
#include <thread>

#include "CdxBulkBuilder.h"
#include "CdxHeader.h"
#include "CdxPosixFile.h"
#include "CdxWhere.h"
#include "Parallel.h"

namespace xb {

namespace {

const std::string kTagListName = "(tag list)";
const std::string kNoTag;

std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Tag names are stored blank-padded to 10 bytes.
std::string TrimName(std::string_view key) {
  size_t n = key.size();
  while (n > 0 && (key[n - 1] == ' ' || key[n - 1] == '\0')) --n;
  return std::string(key.substr(0, n));
}

}  // namespace

CdxFile::CdxFile(std::unique_ptr<CdxPager> pager) : pager_(std::move(pager)) {}

CdxFile::~CdxFile() {
  if (!closed_) Close();
}

Status CdxFile::Open(const std::string& path, bool read_only, std::unique_ptr<CdxFile>* out) {
  std::unique_ptr<CdxBlockDevice> device;
  RETURN_IF_ERROR(CdxPosixFile::Open(path, read_only, &device));
  return OpenDevice(std::move(device), read_only, out);
}

Status CdxFile::Create(const std::string& path, std::unique_ptr<CdxFile>* out) {
  std::unique_ptr<CdxBlockDevice> device;
  RETURN_IF_ERROR(CdxPosixFile::Create(path, &device));
  return CreateOnDevice(std::move(device), out);
}

Status CdxFile::OpenDevice(std::unique_ptr<CdxBlockDevice> device, bool read_only,
                           std::unique_ptr<CdxFile>* out) {
  std::unique_ptr<CdxFile> file(
      new CdxFile(std::make_unique<CdxPager>(std::move(device), read_only)));
  Status s = file->Load();
  if (!s.ok()) {
    file->closed_ = true;  // nothing to write back
    return s;
  }
  *out = std::move(file);
  return Status::Ok();
}

Status CdxFile::CreateOnDevice(std::unique_ptr<CdxBlockDevice> device,
                               std::unique_ptr<CdxFile>* out) {
  RETURN_IF_ERROR(device->Truncate(0));
  std::unique_ptr<CdxFile> file(new CdxFile(std::make_unique<CdxPager>(std::move(device), false)));
  Status s = file->Initialize();
  if (!s.ok()) {
    file->closed_ = true;
    return s;
  }
  *out = std::move(file);
  return Status::Ok();
}

// A new file: the tag-list header and an empty tag-list root, written at once so that the
// file is valid even if no tag is ever added.
Status CdxFile::Initialize() {
  RETURN_IF_ERROR(pager_->Open());
  uint32_t header_at = 0;
  RETURN_IF_ERROR(pager_->AllocateAtEnd(2, &header_at));
  tag_list_ = std::make_unique<CdxTag>(pager_.get(), pager_->name(), kTagListName, header_at,
                                      CdxHeader::ForTagList(0), ' ');
  RETURN_IF_ERROR(tag_list_->CreateEmptyRoot());
  return Flush();
}

Status CdxFile::ReadTagListHeader(CdxHeader* out) {
  uint8_t buf[kCdxHeaderSize];
  RETURN_IF_ERROR(pager_->Read(0, 2, buf));
  CdxWhere where(pager_->name(), kNoTag, 0, "tag-list header");
  RETURN_IF_ERROR(out->DecodeFrom(buf, where, true));
  if (!pager_->IsPage(out->root)) {
    return where.Corrupt("the tag list's root pointer " + CdxWhere::Hex(out->root) +
                         " is not a page of the file");
  }
  return Status::Ok();
}

Status CdxFile::Load() {
  RETURN_IF_ERROR(pager_->Open());
  const std::string& file = pager_->name();
  if (pager_->end() < kCdxHeaderSize + kCdxPageSize) {
    return Status::Corrupt(file + ": the file is too short to be an index; the index needs "
                                  "rebuilding");
  }
  CdxHeader list_header;
  RETURN_IF_ERROR(ReadTagListHeader(&list_header));
  const CdxWhere list_where(file, kNoTag, 0, "tag-list header");
  uint8_t buf[kCdxHeaderSize];
  tag_list_ = std::make_unique<CdxTag>(pager_.get(), file, kTagListName, 0, list_header, ' ');
  RETURN_IF_ERROR(tag_list_->Check());

  std::vector<std::pair<std::string, uint32_t>> entries;
  RETURN_IF_ERROR(tag_list_->ForEach([&](std::string_view key, uint32_t offset) {
    entries.emplace_back(TrimName(key), offset);
    return true;
  }));
  std::set<uint32_t> offsets;
  std::set<std::string> names;
  for (const auto& [name, offset] : entries) {
    CdxWhere where(file, name, offset, "header");
    if (name.empty()) return list_where.Corrupt("the tag list holds an empty name");
    if (!names.insert(Upper(name)).second) return where.Corrupt("the tag name appears twice");
    if (!pager_->IsPage(offset) || uint64_t{offset} + kCdxHeaderSize > pager_->end()) {
      return where.Corrupt("the header lies outside the file");
    }
    if (!offsets.insert(offset).second) return where.Corrupt("two tags share one header");
    RETURN_IF_ERROR(pager_->Read(offset, 2, buf));
    CdxHeader header;
    RETURN_IF_ERROR(header.DecodeFrom(buf, where, false));
    if (!pager_->IsPage(header.root)) {
      return where.Corrupt("the root pointer " + CdxWhere::Hex(header.root) +
                           " is not a page of the file");
    }
    tags_.push_back(std::make_unique<CdxTag>(pager_.get(), file, name, offset, header, ' '));
  }
  std::sort(tags_.begin(), tags_.end(), [](const auto& a, const auto& b) {
    return a->header_offset() < b->header_offset();
  });
  for (size_t i = 0; i < tags_.size(); ++i) tags_[i]->set_order(i + 1);
  // Readers never need the free list; writers take pages from it, so it must be sound.
  if (!pager_->read_only()) RETURN_IF_ERROR(pager_->LoadFreeList(list_header.free_list));
  return Status::Ok();
}

CdxTag* CdxFile::FindTag(std::string_view name) {
  const std::string wanted = Upper(TrimName(name));
  for (auto& tag : tags_) {
    if (Upper(tag->name()) == wanted) return tag.get();
  }
  return nullptr;
}

std::vector<CdxTagInfo> CdxFile::Tags() const {
  std::vector<CdxTagInfo> infos;
  for (const auto& tag : tags_) infos.push_back(tag->Info());
  return infos;
}

Status CdxFile::ValidateSpec(const CdxTagSpec& spec) const {
  const std::string prefix = pager_->name() + ": tag " + spec.name + ": ";
  // A new tag enters the tag list; one another tool wrote with its own collation cannot be
  // changed here, and finding that out after the build would leave the built pages unused.
  if (tag_list_->header().unknown_collation) {
    return Status::ReadOnly(prefix + "the tag list uses a collation this engine does not know; "
                                     "no tag can be added to this file");
  }
  if (spec.name.empty() || spec.name.size() > kCdxTagNameLength ||
      !std::isalpha(static_cast<unsigned char>(spec.name[0]))) {
    return Status::InvalidArgument(prefix + "a tag name has 1-10 characters and starts with a "
                                            "letter");
  }
  for (char c : spec.name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
      return Status::InvalidArgument(prefix + "a tag name holds only letters, digits and '_'");
    }
  }
  for (const auto& tag : tags_) {
    if (Upper(tag->name()) == Upper(spec.name)) {
      return Status::InvalidArgument(prefix + "the file already has a tag of this name");
    }
  }
  if (spec.key_length == 0 || spec.key_length > kCdxMaxKeyLength) {
    return Status::InvalidArgument(prefix + "the key length " + std::to_string(spec.key_length) +
                                   " is outside 1-240");
  }
  if (spec.key_expression.empty()) return Status::InvalidArgument(prefix + "no key expression");
  if (spec.key_expression.find('\0') != std::string::npos ||
      spec.for_expression.find('\0') != std::string::npos) {
    return Status::InvalidArgument(prefix + "an expression holds a zero byte");
  }
  if (!CdxHeader::ExpressionsFit(spec.key_expression, spec.for_expression)) {
    return Status::InvalidArgument(prefix + "the key and FOR expressions are longer than the "
                                            "510 bytes a header holds");
  }
  return Status::Ok();
}

Status CdxFile::AddTag(const CdxTagSpec& spec, std::span<const uint8_t> keys,
                       std::span<const uint32_t> recnos, CdxTag** tag) {
  if (closed_ || pager_->closed()) return Status::NotOpen(name() + ": the index file is closed");
  if (pager_->read_only()) return Status::ReadOnly(name() + ": the index was opened read-only");
  RETURN_IF_ERROR(ValidateSpec(spec));
  CdxBulkBuilder builder(pager_.get(), spec.key_length, spec.key_fill,
                         name() + ": tag " + Upper(spec.name));
  RETURN_IF_ERROR(builder.Prepare(keys, recnos, spec.unique));
  return WriteTag(spec, &builder, tag);
}

Status CdxFile::AddTagRecords(const CdxTagSpec& spec, CdxPairBuffer records,
                              CdxTag** tag) {
  if (closed_ || pager_->closed()) return Status::NotOpen(name() + ": the index file is closed");
  if (pager_->read_only()) return Status::ReadOnly(name() + ": the index was opened read-only");
  RETURN_IF_ERROR(ValidateSpec(spec));
  CdxBulkBuilder builder(pager_.get(), spec.key_length, spec.key_fill,
                         name() + ": tag " + Upper(spec.name));
  RETURN_IF_ERROR(builder.PrepareRecords(std::move(records), spec.unique));
  return WriteTag(spec, &builder, tag);
}

Status CdxFile::WriteTag(const CdxTagSpec& spec, CdxBulkBuilder* builder, CdxTag** tag) {
  const std::string upper_name = Upper(spec.name);

  // Headers follow each other in creation order, so the header goes at the end of the file
  // before the tag's nodes.
  uint32_t header_at = 0;
  RETURN_IF_ERROR(pager_->AllocateAtEnd(2, &header_at));
  CdxHeader header;
  Status built = builder->Write(&header.root);
  if (!built.ok()) {
    // The builder gave back its own pages; the header's go back too.
    pager_->Free(header_at);
    pager_->Free(header_at + kCdxPageSize);
    return built;
  }
  header.key_length = static_cast<uint16_t>(spec.key_length);
  header.options = kCdxOptCompact | kCdxOptCompound;
  if (spec.unique) header.options |= kCdxOptUnique;
  if (!spec.for_expression.empty()) header.options |= kCdxOptFor;
  header.descending = spec.descending;
  header.key_expression = spec.key_expression;
  header.for_expression = spec.for_expression;
  uint8_t buf[kCdxHeaderSize];
  header.EncodeTo(buf);
  pager_->Write(header_at, 2, buf, true);

  std::string list_key = upper_name;
  list_key.resize(kCdxTagNameLength, ' ');
  RETURN_IF_ERROR(tag_list_->Insert(list_key, header_at));
  tags_.push_back(
      std::make_unique<CdxTag>(pager_.get(), name(), upper_name, header_at, header, spec.key_fill));
  tags_.back()->set_order(tags_.size());
  if (tag != nullptr) *tag = tags_.back().get();
  return Status::Ok();
}

Status CdxFile::Flush() {
  if (closed_ || pager_->closed()) return Status::NotOpen(name() + ": the index file is closed");
  // Nothing to write means nothing to touch: the headers held here may be older than the file
  // when another program shares it.
  bool changed = pager_->DirtyPageCount() != 0 || tag_list_->HasChanges();
  for (auto& tag : tags_) changed = changed || tag->HasChanges();
  if (!changed) return Status::Ok();
  size_t dirty = 0;
  for (auto& tag : tags_) dirty += tag->DirtyPageCount();
  if (tags_.size() > 1 && Parallel::Worth(dirty, kParallelWriteBack)) {
    // Encoding thousands of changed pages is shared between two threads, a tag at a time.
    std::vector<Status> results(tags_.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
      for (size_t i; (i = next++) < tags_.size();) results[i] = tags_[i]->WriteBack();
    };
    std::thread helper(work);
    work();
    helper.join();
    for (const Status& s : results) RETURN_IF_ERROR(s);
  } else {
    for (auto& tag : tags_) RETURN_IF_ERROR(tag->WriteBack());
  }
  if (!pager_->read_only()) {
    tag_list_->SetFreeListHead(pager_->FreeListHead());
    tag_list_->BumpVersion();
  }
  RETURN_IF_ERROR(tag_list_->WriteBack());
  return pager_->Flush();
}

Status CdxFile::Refresh() {
  if (closed_ || pager_->closed()) return Status::NotOpen(name() + ": the index file is closed");
  uint8_t word[4];
  RETURN_IF_ERROR(pager_->ReadFresh(8, sizeof word, word));
  if (CdxGetLE32(word) == tag_list_->header().version) return Status::Ok();
  return Reload();
}

// The file as another program left it: the same tags at the same places, with new trees.
Status CdxFile::Reload() {
  RETURN_IF_ERROR(pager_->Reload());
  const std::string& file = pager_->name();
  CdxHeader list_header;
  RETURN_IF_ERROR(ReadTagListHeader(&list_header));
  tag_list_->Reload(list_header);
  uint8_t buf[kCdxHeaderSize];
  std::set<std::pair<std::string, uint32_t>> listed, ours;
  RETURN_IF_ERROR(tag_list_->ForEach([&](std::string_view key, uint32_t offset) {
    listed.emplace(Upper(TrimName(key)), offset);
    return true;
  }));
  for (const auto& tag : tags_) ours.emplace(Upper(tag->name()), tag->header_offset());
  if (listed != ours) {
    return Status::Corrupt(file + ": another program added or removed tags; close the table "
                                  "and open it again");
  }
  for (auto& tag : tags_) {
    CdxWhere where(file, tag->name(), tag->header_offset(), "header");
    if (uint64_t{tag->header_offset()} + kCdxHeaderSize > pager_->end()) {
      return where.Corrupt("the header lies outside the file");
    }
    RETURN_IF_ERROR(pager_->Read(tag->header_offset(), 2, buf));
    CdxHeader header;
    RETURN_IF_ERROR(header.DecodeFrom(buf, where, false));
    if (!pager_->IsPage(header.root)) {
      return where.Corrupt("the root pointer " + CdxWhere::Hex(header.root) +
                           " is not a page of the file");
    }
    tag->Reload(header);
  }
  if (!pager_->read_only()) RETURN_IF_ERROR(pager_->LoadFreeList(list_header.free_list));
  return Status::Ok();
}

void CdxFile::Abandon() {
  if (closed_) return;
  pager_->Close();
  closed_ = true;
}

Status CdxFile::Sync() {
  RETURN_IF_ERROR(Flush());
  return pager_->Sync();
}

Status CdxFile::Close() {
  if (closed_) return Status::Ok();
  Status s = Flush();
  pager_->Close();
  closed_ = true;
  return s;
}

void CdxFile::Discard() {
  if (closed_) return;
  pager_->Close();
  closed_ = true;
}

Status CdxFile::Check() {
  if (closed_ || pager_->closed()) return Status::NotOpen(name() + ": the index file is closed");
  const std::string& file = name();
  const size_t page_count = static_cast<size_t>(pager_->end() / kCdxPageSize);
  std::vector<uint8_t> owned(page_count, 0);
  auto claim = [&](uint32_t offset, const char* what) -> Status {
    const size_t page = offset / kCdxPageSize;
    if (page >= page_count) {
      return CdxWhere(file, kNoTag, offset, what).Corrupt("the page lies outside the file");
    }
    if (owned[page] != 0) {
      return CdxWhere(file, kNoTag, offset, what).Corrupt("the page is used twice");
    }
    owned[page] = 1;
    return Status::Ok();
  };
  RETURN_IF_ERROR(claim(0, "tag-list header"));
  RETURN_IF_ERROR(claim(kCdxPageSize, "tag-list header"));
  std::vector<uint32_t> pages;
  RETURN_IF_ERROR(tag_list_->Check(&pages));
  for (uint32_t p : pages) RETURN_IF_ERROR(claim(p, "tag-list page"));

  // The tag list must name exactly the tags, each with its header offset.
  std::set<std::pair<std::string, uint32_t>> listed, expected;
  RETURN_IF_ERROR(tag_list_->ForEach([&](std::string_view key, uint32_t offset) {
    listed.emplace(TrimName(key), offset);
    return true;
  }));
  for (auto& tag : tags_) {
    expected.emplace(tag->name(), tag->header_offset());
    RETURN_IF_ERROR(claim(tag->header_offset(), "tag header"));
    RETURN_IF_ERROR(claim(tag->header_offset() + kCdxPageSize, "tag header"));
    pages.clear();
    RETURN_IF_ERROR(tag->Check(&pages));
    for (uint32_t p : pages) RETURN_IF_ERROR(claim(p, "node page"));
  }
  if (listed != expected) {
    return CdxWhere(file, kNoTag, 0, "tag list").Corrupt("the tag list does not match the tags");
  }
  if (pager_->read_only()) {
    RETURN_IF_ERROR(pager_->LoadFreeList(tag_list_->header().free_list));
  }
  for (uint32_t p : pager_->FreePages()) RETURN_IF_ERROR(claim(p, "free page"));
  for (size_t page = 0; page < page_count; ++page) {
    if (owned[page] == 0) {
      return CdxWhere(file, kNoTag, static_cast<uint32_t>(page * kCdxPageSize), "page")
          .Corrupt("the page belongs to no tag and is not on the free list");
    }
  }
  return Status::Ok();
}

}  // namespace xb
