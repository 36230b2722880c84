#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "CdxBlockDevice.h"
#include "CdxPager.h"
#include "CdxTag.h"
#include "CdxTypes.h"
#include "Status.h"

namespace xb {

class CdxBulkBuilder;

// A compound index file: the tag list at offset 0 and one tree per tag.
//
// Tags are numbered in the order of their header offsets, which is the order they were
// created in; Tag(0) is order 1. Changes stay in memory until Flush() (or Close(), or the
// destructor, which cannot report errors).
class CdxFile {
 public:
  // Opens an existing file and checks its headers and tag list.
  static Status Open(const std::string& path, bool read_only, std::unique_ptr<CdxFile>* out);
  // Writes a fresh file with no tags (an existing file is emptied). A full rebuild is Create
  // followed by AddTag for each tag.
  static Status Create(const std::string& path, std::unique_ptr<CdxFile>* out);
  // The same over any device (an in-memory file in tests and the fuzzer).
  static Status OpenDevice(std::unique_ptr<CdxBlockDevice> device, bool read_only,
                           std::unique_ptr<CdxFile>* out);
  static Status CreateOnDevice(std::unique_ptr<CdxBlockDevice> device,
                               std::unique_ptr<CdxFile>* out);

  ~CdxFile();
  CdxFile(const CdxFile&) = delete;
  CdxFile& operator=(const CdxFile&) = delete;

  const std::string& name() const { return pager_->name(); }
  bool read_only() const { return pager_->read_only(); }

  size_t TagCount() const { return tags_.size(); }
  // index 0 .. TagCount()-1, i.e. order number - 1. The tag reads keys with fill byte 0x20
  // until told otherwise (CdxTag::SetKeyFill).
  CdxTag* Tag(size_t index) { return index < tags_.size() ? tags_[index].get() : nullptr; }
  // By name, ignoring case; nullptr when there is none.
  CdxTag* FindTag(std::string_view name);
  std::vector<CdxTagInfo> Tags() const;

  // Builds a new tag from its (key, recno) pairs, in any order: `keys` holds recnos.size()
  // keys of spec.keyLength bytes back to back. The new tag gets the next order number.
  Status AddTag(const CdxTagSpec& spec, std::span<const uint8_t> keys,
                std::span<const uint32_t> recnos, CdxTag** tag = nullptr);
  // The same from pairs laid out as each key followed by its record number in big-endian
  // order (spec.keyLength + 4 bytes a pair), saving a copy of the keys. Pairs that are already
  // in order are not sorted again, so callers may sort them beforehand on other threads
  // (CdxBulkBuilder::SortRecords).
  Status AddTagRecords(const CdxTagSpec& spec, CdxPairBuffer records,
                       CdxTag** tag = nullptr);

  // Writes every change to the file (not synced to the disk: see Sync). A flush that writes
  // anything moves the change counter in the tag-list header, so that other programs sharing
  // the file can tell that it changed.
  Status Flush();
  // Takes in what another program changed since this object last read or wrote the file:
  // when the change counter moved, every cached page is dropped and the headers and the free
  // list are read afresh. For a file shared between programs, called with the file locked
  // against their changes and with nothing unwritten here. A file whose tags another program
  // added or removed cannot be followed: kCorrupt says so, and the object must be closed.
  Status Refresh();
  // The change counter as this object last read or wrote it.
  uint32_t FileVersion() const { return tag_list_->header().version; }
  // Closes without writing anything: for a file whose unwritten changes must not reach it.
  void Abandon();
  Status Sync();
  // Starts what Flush wrote on its way to the disk, so that a later Sync waits less.
  void StartWriteback() { pager_->StartWriteback(); }
  // Flushes and closes; the tags can no longer be used.
  Status Close();
  // Closes without writing anything more: changes not yet flushed are dropped. For a change
  // given up halfway, whose pages must not reach the file (see IndexSet::AddTag).
  void Discard();

  // Checks every tree, the tag list against the tags, and that each page of the file belongs
  // to exactly one tree, header or the free list.
  Status Check();
  size_t FreePageCount() const { return pager_->FreePages().size(); }

 private:
  explicit CdxFile(std::unique_ptr<CdxPager> pager);
  // Reads and checks the tag list's header at the start of the file.
  Status ReadTagListHeader(CdxHeader* out);
  Status Load();
  Status Reload();
  Status Initialize();
  Status ValidateSpec(const CdxTagSpec& spec) const;
  Status WriteTag(const CdxTagSpec& spec, CdxBulkBuilder* builder, CdxTag** tag);
  // Flushes with this many changed pages encode two tags at a time.
  static constexpr size_t kParallelWriteBack = 2000;

  std::unique_ptr<CdxPager> pager_;
  std::unique_ptr<CdxTag> tag_list_;
  std::vector<std::unique_ptr<CdxTag>> tags_;
  bool closed_ = false;
};

}  // namespace xb
