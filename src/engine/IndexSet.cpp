#include "IndexSet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include <atomic>
#include <bit>
#include <condition_variable>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "CdxBulkBuilder.h"
#include "FaultInjection.h"
#include "Parallel.h"
#include "RegularFile.h"
#include "TextCase.h"

namespace xb {

IndexSet::IndexSet(const RecordSource* table) : table_(table) {}

IndexSet::~IndexSet() { CloseAll(); }

Status IndexSet::Compile(const std::string& text, std::unique_ptr<Expression>* out) const {
  return Expression::Compile(text, table_->fields(), out);
}

Status IndexSet::LoadOrders(File* file, int* first_order) {
  CdxFile* cdx = file->cdx.get();
  std::vector<std::unique_ptr<Order>> loaded;
  for (size_t i = 0; i < cdx->TagCount(); ++i) {
    CdxTag* tag = cdx->Tag(i);
    CdxTagInfo info = tag->Info();
    auto order = std::make_unique<Order>();
    order->file = cdx;
    order->file_path = file->path;
    order->tag = tag;
    order->name = UpperAscii(info.name);
    order->descending = info.descending;
    order->unique = info.unique;
    Status s = Compile(info.key_expression, &order->key);
    if (!s.ok())
      return Status::Corrupt(file->path + ": tag " + info.name + ": key expression '" +
                             info.key_expression + "' does not fit the table (" + s.message() +
                             "); the index needs a rebuild");
    if (!info.for_expression.empty()) {
      s = Compile(info.for_expression, &order->condition);
      if (!s.ok() || order->condition->type() != Expression::kLogical)
        return Status::Corrupt(file->path + ": tag " + info.name + ": condition '" +
                               info.for_expression + "' is not a logical expression of the table" +
                               "; the index needs a rebuild");
    }
    if (static_cast<size_t>(order->key->KeyLength()) != info.key_length)
      return Status::Corrupt(file->path + ": tag " + info.name + ": key length " +
                             std::to_string(info.key_length) + " does not match its expression (" +
                             std::to_string(order->key->KeyLength()) +
                             "); the index needs a rebuild");
    s = tag->SetKeyFill(order->key->KeyFill());
    if (!s.ok()) return s;
    // Decoded pages of a tag over a million records take tens of megabytes; a smaller cache
    // would evict and decode the same pages over and over during bulk changes.
    tag->SetCacheLimit(kTagCacheBytes);
    loaded.push_back(std::move(order));
  }
  // Orders are numbered structural index first, then the other files in the order opened.
  const size_t at = file == structural_ ? 0 : orders_.size();
  if (first_order) *first_order = loaded.empty() ? 0 : static_cast<int>(at) + 1;
  orders_.insert(orders_.begin() + static_cast<long>(at), std::make_move_iterator(loaded.begin()),
                 std::make_move_iterator(loaded.end()));
  return Status::Ok();
}

Status IndexSet::OpenStructural(const std::string& path, bool writable) {
  auto file = std::make_unique<File>();
  file->path = path;
  Status s = CdxFile::Open(path, !writable, &file->cdx);
  if (!s.ok()) return s;
  structural_ = file.get();
  files_.insert(files_.begin(), std::move(file));
  s = LoadOrders(structural_, nullptr);
  if (!s.ok()) {
    orders_.clear();
    files_.erase(files_.begin());
    structural_ = nullptr;
  }
  return s;
}

Status IndexSet::OpenFile(const std::string& path, bool writable, int* first_order) {
  for (const auto& f : files_)
    if (f->path == path) return Status::InvalidArgument(path + ": the index is already open");
  auto file = std::make_unique<File>();
  file->path = path;
  Status s = CdxFile::Open(path, !writable, &file->cdx);
  if (!s.ok()) return s;
  File* raw = file.get();
  files_.push_back(std::move(file));
  s = LoadOrders(raw, first_order);
  if (!s.ok()) {
    std::erase_if(orders_, [&](const auto& o) { return o->file == raw->cdx.get(); });
    files_.pop_back();
  }
  return s;
}

Status IndexSet::CloseAll() {
  Status result;
  orders_.clear();
  for (auto& f : files_) {
    Status s = f->cdx->Close();
    if (!s.ok() && result.ok()) result = s;
  }
  files_.clear();
  structural_ = nullptr;
  dirty_ = false;
  return result;
}

void IndexSet::Abandon() {
  orders_.clear();
  for (auto& f : files_) f->cdx->Abandon();
  files_.clear();
  structural_ = nullptr;
  dirty_ = false;
  failed_ = Status::Ok();
}

Status IndexSet::Refresh(bool* changed) {
  *changed = false;
  for (auto& f : files_) {
    // The counter is compared inside; only a file that moved is read again.
    const uint32_t before = f->cdx->FileVersion();
    Status s = f->cdx->Refresh();
    if (!s.ok()) return s;
    if (f->cdx->FileVersion() != before) *changed = true;
  }
  return Status::Ok();
}

Status IndexSet::AfterRemove(uint32_t recno) {
  Status result;
  for (auto& o : orders_) {
    if (!Qualifies(*o, old_image_.data(), recno)) continue;
    KeyOf(*o, old_image_.data(), recno, &old_key_);
    dirty_ = true;
    Status s = o->tag->Remove(old_key_, recno);
    if (!s.ok() && s.code() != Status::kNotFound && result.ok()) result = s;
  }
  return Note(result);
}

int IndexSet::FindOrder(std::string_view tag_name) const {
  std::string want = UpperAscii(std::string(tag_name));
  while (!want.empty() && want.back() == ' ') want.pop_back();
  for (size_t i = 0; i < orders_.size(); ++i)
    if (orders_[i]->name == want) return static_cast<int>(i) + 1;
  return 0;
}

void IndexSet::KeyOf(const Order& order, const uint8_t* image, uint32_t recno,
                     std::string* key) const {
  key->resize(static_cast<size_t>(order.key->KeyLength()));
  EvalContext c{image, recno, false};
  order.key->EvalKey(c, reinterpret_cast<uint8_t*>(key->data()));
}

bool IndexSet::Qualifies(const Order& order, const uint8_t* image, uint32_t recno) const {
  if (!order.condition) return true;
  EvalContext c{image, recno, false};
  return order.condition->EvalLogical(c);
}

void IndexSet::BeforeChange(const uint8_t* old_image) {
  old_image_.assign(old_image, old_image + table_->record_length());
}

Status IndexSet::AfterChange(uint32_t recno, const uint8_t* new_image) {
  Status result = DoAfterChange(recno, new_image);
  return Note(result);
}

Status IndexSet::DoAfterChange(uint32_t recno, const uint8_t* new_image) {
  Status result;
  for (auto& o : orders_) {
    bool was = Qualifies(*o, old_image_.data(), recno);
    bool now = Qualifies(*o, new_image, recno);
    if (!was && !now) continue;
    KeyOf(*o, old_image_.data(), recno, &old_key_);
    KeyOf(*o, new_image, recno, &new_key_);
    if (was && now && old_key_ == new_key_) continue;
    dirty_ = true;
    if (was) {
      Status s = o->tag->Remove(old_key_, recno);
      if (!s.ok() && s.code() != Status::kNotFound && result.ok()) result = s;
    }
    if (now) {
      if (o->unique) {
        CdxSeekResult where;
        Status s = o->tag->Seek(new_key_, &where);
        if (s.ok() && where == CdxSeekResult::kExact) continue;
      }
      Status s = o->tag->Insert(new_key_, recno);
      if (!s.ok() && s.code() != Status::kInvalidArgument && result.ok()) result = s;
    }
  }
  return result;
}

Status IndexSet::AfterAppend(uint32_t recno, const uint8_t* new_image) {
  return Note(DoAfterAppend(recno, new_image));
}

Status IndexSet::DoAfterAppend(uint32_t recno, const uint8_t* new_image) {
  Status result;
  for (auto& o : orders_) {
    if (!Qualifies(*o, new_image, recno)) continue;
    KeyOf(*o, new_image, recno, &new_key_);
    dirty_ = true;
    if (o->unique) {
      CdxSeekResult where;
      Status s = o->tag->Seek(new_key_, &where);
      if (s.ok() && where == CdxSeekResult::kExact) continue;
    }
    Status s = o->tag->Insert(new_key_, recno);
    if (!s.ok() && result.ok()) result = s;
  }
  return result;
}

Status IndexSet::AfterAppends(uint32_t first, uint32_t last) {
  if (first == last) return AfterAppend(first, table_->Record(first));
  return Note(DoAfterAppends(first, last));
}

Status IndexSet::DoAfterAppends(uint32_t first, uint32_t last) {
  // Keys first, for every order (expressions are not shared between threads), then the tags
  // take their batches, two tags at a time when the batches are large: each tag is changed by
  // one thread only, and the index file's pages are shared under its pager's lock.
  const size_t orders = orders_.size();
  std::vector<CdxPairBuffer> batches(orders);
  std::vector<size_t> counts(orders, 0);
  auto collect = [&](size_t k) {
    const Order& o = *orders_[k];
    const size_t klen = static_cast<size_t>(o.key->KeyLength());
    const size_t size = klen + 4;
    CdxPairBuffer& pairs = batches[k];
    pairs.resize(static_cast<size_t>(last - first + 1) * size);
    size_t count = 0;
    for (uint32_t r = first; r <= last; ++r) {
      const uint8_t* rec = table_->Record(r);
      EvalContext c{rec, r, false};
      if (o.condition && !o.condition->EvalLogical(c)) continue;
      uint8_t* pair = pairs.data() + count * size;
      o.key->EvalKey(c, pair);
      CdxPutBE32(pair + klen, r);
      ++count;
    }
    // Collected in record order, so sorting the keys alone puts the pairs in order.
    if (count != 0) CdxBulkBuilder::SortRecords(pairs.data(), count, size, klen, true);
    counts[k] = count;
  };
  // A large batch is keyed on two threads, an order at a time: each order's expressions are
  // used by one thread only.
  const bool two_threads =
      orders > 1 && Parallel::Worth(size_t{last - first + 1} * orders, kParallelBatch);
  {
    std::atomic<size_t> next_order{0};
    auto collect_some = [&] {
      for (size_t k; (k = next_order++) < orders;) collect(k);
    };
    std::thread helper;
    if (two_threads) helper = std::thread(collect_some);
    collect_some();
    if (helper.joinable()) helper.join();
  }
  size_t total = 0;
  for (size_t k = 0; k < orders; ++k) total += counts[k];
  if (total != 0) dirty_ = true;
  std::vector<Status> results(orders);
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t k; (k = next++) < orders;) {
      if (counts[k] != 0) results[k] = InsertBatch(*orders_[k], batches[k].data(), counts[k]);
    }
  };
  if (orders > 1 && Parallel::Worth(total, kParallelBatch)) {
    std::thread helper(work);
    work();
    helper.join();
  } else {
    work();
  }
  for (const Status& s : results) {
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status IndexSet::InsertBatch(const Order& o, const uint8_t* pairs, size_t count) {
  const size_t klen = static_cast<size_t>(o.key->KeyLength());
  const size_t size = klen + 4;
  if (!o.unique) {
    size_t skipped = 0;
    Status s = o.tag->InsertSorted(pairs, count, &skipped, table_->record_count());
    if (s.ok() && skipped != 0) {
      s = Status::InvalidArgument(o.file_path + ": tag " + o.name + ": " +
                                  std::to_string(skipped) +
                                  " appended records were already in the tag");
    }
    return s;
  }
  // A unique tag takes a record only when its key is not there yet.
  Status result;
  for (size_t i = 0; i < count; ++i) {
    const std::string_view key(reinterpret_cast<const char*>(pairs + i * size), klen);
    CdxSeekResult where;
    Status s = o.tag->Seek(key, &where);
    if (s.ok() && where == CdxSeekResult::kExact) continue;
    s = o.tag->Insert(key, CdxGetBE32(pairs + i * size + klen));
    if (!s.ok() && result.ok()) result = s;
  }
  return result;
}

Status IndexSet::Flush() {
  Status result;
  for (auto& f : files_) {
    if (f->cdx->read_only()) continue;
    Status s = f->cdx->Flush();
    if (!s.ok() && result.ok()) result = s;
  }
  if (result.ok()) dirty_ = false;
  return result;
}

void IndexSet::StartWriteback() {
  for (auto& f : files_) {
    if (!f->cdx->read_only()) f->cdx->StartWriteback();
  }
}

Status IndexSet::Sync() {
  for (auto& f : files_) {
    if (f->cdx->read_only()) continue;
    Status s = f->cdx->Sync();
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

size_t IndexSet::CollectKeys(const Expression& key, const Expression* cond, uint32_t first,
                             uint32_t last, uint8_t* out,
                             const std::function<void(uint32_t)>& progress) const {
  const size_t klen = static_cast<size_t>(key.KeyLength());
  size_t count = 0;
  for (uint32_t r = first; r <= last && r >= first; ++r) {
    const uint8_t* rec = table_->Record(r);
    EvalContext c{rec, r, false};
    if (cond && !cond->EvalLogical(c)) continue;
    uint8_t* pair = out + count * (klen + 4);
    key.EvalKey(c, pair);
    CdxPutBE32(pair + klen, r);
    ++count;
    if (progress && (r & 0xFFF) == 0) progress(r);
  }
  return count;
}

// Keys every record of the table that qualifies into the build's pairs, in record order.
Status IndexSet::CollectAll(TagBuild* build, const Expression& key, const Expression* cond,
                            bool threads, const Progress& progress) const {
  const std::string& key_text = build->key_text;
  const std::string& cond_text = build->cond_text;
  const size_t klen = static_cast<size_t>(key.KeyLength());
  const size_t size = klen + 4;
  const uint32_t n = table_->record_count();
  // Pairs go straight into the layout the bulk builder sorts: key, then big-endian record
  // number. One buffer for the whole table; a condition that fails leaves its tail unused.
  CdxPairBuffer& records = build->records;
  records.resize(static_cast<size_t>(n) * size);
  // Keys of a large table are computed on two threads at once, each with its own compiled
  // expressions (an expression keeps its evaluation buffers, so it serves one thread). The
  // threads take slices of records in turn rather than a half each: the buffer's later pages
  // are often fresh memory, slower to fill, and one thread would be left waiting for the other.
  const bool split = threads && Parallel::Worth(n, kParallelKeys);
  constexpr uint32_t kSlice = 1 << 16;
  const uint32_t slices = n == 0 ? 0 : (n - 1) / kSlice + 1;
  std::vector<size_t> counts(slices, 0);
  std::atomic<uint32_t> next_slice{0};
  std::atomic<uint32_t> done{0};
  auto work = [&](const Expression& k, const Expression* c, bool report) {
    for (uint32_t i; (i = next_slice++) < slices;) {
      const uint32_t from = i * kSlice + 1;
      const uint32_t to = std::min(n, from + kSlice - 1);
      std::function<void(uint32_t)> report_at;
      if (report && progress) {
        report_at = [&, from](uint32_t r) {
          const uint64_t seen = uint64_t{done.load()} * kSlice + (r - from);
          progress(static_cast<int>(std::min<uint64_t>(seen, n) * 90 / n));
        };
      }
      counts[i] = CollectKeys(k, c, from, to, records.data() + size_t{from - 1} * size, report_at);
      ++done;
    }
  };
  Status s2;
  std::thread other;
  if (split) {
    other = std::thread([&] {
      std::unique_ptr<Expression> k2, c2;
      s2 = Compile(key_text, &k2);
      if (s2.ok() && cond != nullptr) s2 = Compile(cond_text, &c2);
      if (s2.ok()) work(*k2, c2.get(), false);
    });
  }
  work(key, cond, true);
  if (split) {
    other.join();
    if (!s2.ok()) return s2;
  }
  // Slices where the condition left records out leave gaps: close them up, in record order.
  size_t count = 0;
  for (uint32_t i = 0; i < slices; ++i) {
    const size_t at = size_t{i} * kSlice;
    if (count != at && counts[i] != 0)
      std::memmove(records.data() + count * size, records.data() + at * size, counts[i] * size);
    count += counts[i];
  }
  records.resize(count * size);
  return Status::Ok();
}

bool IndexSet::ReusePackedEntries(TagBuild* build, size_t key_length,
                                  const Progress& progress) const {
  const Renumbering& renumbered = *renumbered_;
  const size_t size = key_length + 4;
  const uint32_t n = table_->record_count();
  const size_t previous_count = renumbered.live.size() * 64;
  CdxPairBuffer& records = build->records;
  records.resize(static_cast<size_t>(n) * size);
  size_t count = 0;
  bool usable = true;
  // Each build reads its own tag of the old file; the file's pages are shared under its
  // pager's lock, so two builds read their tags at once.
  const Status s = build->previous->ForEach([&](std::string_view key, uint32_t old) {
    // Entries that do not fit the table as it was are a damaged tag: build it from the records.
    if (key.size() != key_length || old == 0 || old > previous_count) {
      usable = false;
      return false;
    }
    const uint32_t now = renumbered.New(old);
    if (now == 0) return true;
    if (count == n) {
      usable = false;
      return false;
    }
    uint8_t* pair = records.data() + count * size;
    std::memcpy(pair, key.data(), key_length);
    CdxPutBE32(pair + key_length, now);
    ++count;
    if (progress && (count & 0xFFF) == 0) progress(static_cast<int>(uint64_t{count} * 90 / n));
    return true;
  });
  if (!s.ok() || !usable) {
    CdxPairBuffer().swap(records);
    return false;
  }
  records.resize(count * size);
  return true;
}

Status IndexSet::PrepareTag(TagBuild* build, bool threads, const Progress& progress) const {
  std::unique_ptr<Expression> key, cond;
  const std::string& key_text = build->key_text;
  const std::string& cond_text = build->cond_text;
  Status s = Compile(key_text, &key);
  if (!s.ok()) return Status::Syntax("index key '" + key_text + "': " + s.message());
  if (key->KeyLength() < 1 || key->KeyLength() > static_cast<int>(kCdxMaxKeyLength))
    return Status::InvalidArgument("index key '" + key_text + "' is " +
                                   std::to_string(key->KeyLength()) +
                                   " bytes long; keys can have 1 to 240 bytes");
  if (!cond_text.empty()) {
    s = Compile(cond_text, &cond);
    if (!s.ok()) return Status::Syntax("index condition '" + cond_text + "': " + s.message());
    if (cond->type() != Expression::kLogical)
      return Status::Syntax("index condition '" + cond_text + "' is not a logical expression");
  }
  const size_t klen = static_cast<size_t>(key->KeyLength());
  if (build->previous != nullptr && ReusePackedEntries(build, klen, progress)) {
    build->sorted = true;
  } else if (require_reuse_) {
    return Status::InvalidArgument("tag " + build->name + ": its old entries cannot be reused");
  } else {
    build->sorted = false;
    s = CollectAll(build, *key, cond.get(), threads, progress);
    if (!s.ok()) return s;
  }
  CdxTagSpec& spec = build->spec;
  spec.name = UpperAscii(build->name);
  // Other tools read the stored text, and some of them know only the dotted operators.
  spec.key_expression = key->StorageText();
  spec.for_expression = cond ? cond->StorageText() : std::string();
  spec.key_length = klen;
  spec.descending = build->descending;
  spec.unique = build->unique;
  spec.key_fill = key->KeyFill();
  return Status::Ok();
}

Status IndexSet::BuildTag(CdxFile* cdx, const std::string& tag, const std::string& key_text,
                          const std::string& cond_text, bool descending, bool unique,
                          const Progress& progress) {
  TagBuild build;
  build.name = tag;
  build.key_text = key_text;
  build.cond_text = cond_text;
  build.descending = descending;
  build.unique = unique;
  return BuildTag(cdx, &build, progress);
}

Status IndexSet::BuildTag(CdxFile* cdx, TagBuild* build, const Progress& progress) {
  Status s = PrepareTag(build, true, progress);
  if (!s.ok()) return s;
  s = cdx->AddTagRecords(build->spec, std::move(build->records));
  if (!s.ok()) return s;
  if (progress) progress(100);
  return Status::Ok();
}

Status IndexSet::AddTag(const std::string& file_path, const std::string& structural_path,
                        const std::string& tag, const std::string& key,
                        const std::string& condition, bool descending, const Progress& progress,
                        int* order) {
  File* target = nullptr;
  bool created = false;  // the file is new: a failed build removes it again
  if (file_path.empty() || file_path == structural_path) {
    if (structural_ == nullptr) {
      auto file = std::make_unique<File>();
      file->path = structural_path;
      Status s = CdxFile::Create(structural_path, &file->cdx);
      if (!s.ok()) return s;
      structural_ = file.get();
      files_.insert(files_.begin(), std::move(file));
      created = true;
    }
    target = structural_;
  } else {
    for (auto& f : files_)
      if (f->path == file_path) target = f.get();
    if (target == nullptr) {
      auto file = std::make_unique<File>();
      file->path = file_path;
      Status s = CdxFile::Open(file_path, false, &file->cdx);
      if (s.code() == Status::kNotFound || s.code() == Status::kIoError) {
        s = CdxFile::Create(file_path, &file->cdx);
        created = s.ok();
      }
      if (!s.ok()) return s;
      target = file.get();
      files_.push_back(std::move(file));
    }
  }
  if (target->cdx->FindTag(tag) != nullptr)
    return Status::InvalidArgument(target->path + ": a tag named " + UpperAscii(tag) +
                                   " already exists");
  // The file as it stands, flushed: a build that fails goes back to it.
  Status s = target->cdx->Flush();
  if (!s.ok()) return s;
  struct stat st;
  if (::stat(target->path.c_str(), &st) != 0)
    return Status::IoError(target->path + ": cannot read the index file's size: " +
                           std::strerror(errno));
  s = BuildTag(target->cdx.get(), tag, key, condition, descending, false, progress);
  if (s.ok()) s = target->cdx->Flush();
  if (!s.ok()) {
    GiveUpBuild(target, created, static_cast<uint64_t>(st.st_size));
    return s;
  }
  // Number the orders afresh: the new tag may sit between the structural and other files.
  orders_.clear();
  for (auto& f : files_) {
    s = LoadOrders(f.get(), nullptr);
    if (!s.ok()) return s;
  }
  *order = FindOrderIn(target->cdx.get(), tag);
  return Status::Ok();
}

void IndexSet::GiveUpBuild(File* target, bool created, uint64_t size) {
  // Nothing of the build was flushed but pages past the old end of the file, which a bulk
  // build writes straight to it: dropping the cache and cutting the file back restores it.
  target->cdx->Discard();
  target->cdx.reset();
  bool keep = !created;
  if (created) {
    std::remove(target->path.c_str());
  } else if (::truncate(target->path.c_str(), static_cast<off_t>(size)) != 0 ||
             !CdxFile::Open(target->path, false, &target->cdx).ok()) {
    // The file is still as it was up to its old end; this open just cannot use it now.
    Note(Status::IoError(target->path + ": cannot reopen the index after a failed build"));
    keep = false;
  }
  if (!keep) {
    if (target == structural_) structural_ = nullptr;
    std::erase_if(files_, [&](const std::unique_ptr<File>& f) { return f.get() == target; });
  }
  // The orders pointed into the file object just closed.
  orders_.clear();
  for (auto& f : files_) Note(LoadOrders(f.get(), nullptr));
}

int IndexSet::FindOrderIn(const CdxFile* file, const std::string& tag) const {
  std::string want = UpperAscii(tag);
  for (size_t i = 0; i < orders_.size(); ++i)
    if (orders_[i]->file == file && orders_[i]->name == want) return static_cast<int>(i) + 1;
  return 0;
}

// Builds the file's tags afresh into a new file beside it, then puts that in place: a failure
// (a full disk) or a stop halfway leaves the old file, with every tag definition, as it was.
Status IndexSet::RebuildFile(File* file, const Progress& progress) {
  // A linked index file is replaced where it really is; the link stays.
  const std::string real = ResolvedPath(file->path);
  const std::string tmp = real + ".new";
  Status s = BuildCopy(file, tmp, progress);
  if (!s.ok()) return s;
  s = FaultInjection::Point("rename", tmp);
  if (!s.ok() || std::rename(tmp.c_str(), real.c_str()) != 0) {
    std::remove(tmp.c_str());
    return Status::IoError(file->path + ": cannot put the rebuilt index in place");
  }
  file->cdx->Close();
  file->cdx.reset();
  return CdxFile::Open(file->path, false, &file->cdx);
}

Status IndexSet::BuildCopy(File* file, const std::string& tmp, const Progress& progress) {
  std::unique_ptr<CdxFile> fresh;
  Status s = CdxFile::Create(tmp, &fresh);
  if (!s.ok()) return s;
  std::vector<TagBuild> builds;
  for (const auto& info : file->cdx->Tags()) {
    TagBuild b;
    b.name = info.name;
    b.key_text = info.key_expression;
    b.cond_text = info.for_expression;
    b.descending = info.descending;
    b.unique = info.unique;
    // Reused entries keep their keys and their order, which holds only when neither key nor
    // condition looks at the record number, and when a unique tag cannot need a record it
    // left out before (a removed record may have been the one it kept).
    if (renumbered_ != nullptr && !b.unique &&
        UpperAscii(b.key_text + " " + b.cond_text).find("RECNO") == std::string::npos)
      b.previous = file->cdx->FindTag(b.name);
    if (require_reuse_ && b.previous == nullptr) {
      fresh.reset();
      std::remove(tmp.c_str());
      return Status::InvalidArgument("tag " + b.name + " cannot reuse its old entries");
    }
    builds.push_back(std::move(b));
  }
  const bool parallel =
      builds.size() > 1 && Parallel::Worth(table_->record_count(), kParallelRebuild);
  if (parallel) {
    s = BuildTagsInParallel(fresh.get(), &builds, progress);
  } else {
    for (auto& b : builds) {
      s = BuildTag(fresh.get(), &b, progress);
      if (!s.ok()) break;
    }
  }
  if (s.ok()) s = fresh->Flush();
  if (s.ok()) s = fresh->Sync();
  if (s.ok()) s = fresh->Close();
  if (!s.ok()) {
    fresh.reset();
    std::remove(tmp.c_str());
  }
  return s;
}

// The tags of a large table: keys are computed and sorted for two tags at a time, one on a
// second thread, while this thread writes the finished ones in their order (the order of the
// headers is the order of the tags). Progress is reported from this thread only: the hook
// reaches the program's window.
Status IndexSet::BuildTagsInParallel(CdxFile* cdx, std::vector<TagBuild>* builds,
                                     const Progress& progress) {
  const size_t count = builds->size();
  std::vector<Status> results(count);
  std::vector<bool> ready(count, false);
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<size_t> next{0};
  std::atomic<bool> stop{false};
  auto prepare = [&](size_t i, const Progress& report) {
    TagBuild& b = (*builds)[i];
    Status st = PrepareTag(&b, false, report);
    if (st.ok() && !b.sorted) {
      const size_t size = b.spec.key_length + 4;
      CdxBulkBuilder::SortRecords(b.records.data(), b.records.size() / size, size,
                                  b.spec.key_length);
    }
    std::lock_guard<std::mutex> lock(mutex);
    results[i] = st;
    ready[i] = true;
    changed.notify_all();
  };
  std::thread helper([&] {
    for (size_t i; !stop && (i = next++) < count;) prepare(i, nullptr);
  });
  Status result;
  size_t written = 0;
  // Writes every tag that is ready and next in line; with `wait`, waits for the next one.
  auto write_ready = [&](bool wait) {
    while (written < count && result.ok()) {
      {
        std::unique_lock<std::mutex> lock(mutex);
        if (wait) changed.wait(lock, [&] { return ready[written]; });
        if (!ready[written]) return;
      }
      TagBuild& b = (*builds)[written];
      result = results[written];
      if (result.ok()) result = cdx->AddTagRecords(b.spec, std::move(b.records));
      CdxPairBuffer().swap(b.records);
      if (result.ok() && progress) progress(100);
      ++written;
    }
  };
  for (size_t i; result.ok() && (i = next++) < count;) {
    prepare(i, progress);
    write_ready(false);
  }
  if (!result.ok()) stop = true;
  write_ready(true);
  stop = true;
  helper.join();
  return result;
}

uint32_t IndexSet::Renumbering::New(uint32_t old) const {
  const size_t word = old >> 6;
  const uint64_t bit = uint64_t{1} << (old & 63);
  if (word >= live.size() || (live[word] & bit) == 0) return 0;
  return before[word] + static_cast<uint32_t>(std::popcount(live[word] & (bit - 1))) + 1;
}

bool IndexSet::MakeRenumbering(const std::vector<uint32_t>& renumbered, Renumbering* map) {
  map->live.assign(renumbered.size() / 64 + 1, 0);
  map->before.assign(map->live.size(), 0);
  for (size_t r = 1; r < renumbered.size(); ++r)
    if (renumbered[r] != 0) map->live[r >> 6] |= uint64_t{1} << (r & 63);
  uint32_t kept = 0;
  for (size_t w = 0; w < map->live.size(); ++w) {
    map->before[w] = kept;
    kept += static_cast<uint32_t>(std::popcount(map->live[w]));
  }
  // The numbers given must be the ones the records were given: kept records numbered in order.
  for (size_t r = 1; r < renumbered.size(); ++r)
    if (renumbered[r] != map->New(static_cast<uint32_t>(r))) return false;
  return true;
}

Status IndexSet::RebuildAfterPack(const std::vector<uint32_t>& renumbered,
                                  const Progress& progress) {
  Renumbering map;
  if (!MakeRenumbering(renumbered, &map)) return RebuildAll(progress);
  renumbered_ = &map;
  Status s = RebuildAll(progress);
  renumbered_ = nullptr;
  return s;
}

Status IndexSet::PrepareAfterPack(const std::vector<uint32_t>& renumbered,
                                  const Progress& progress,
                                  std::vector<std::pair<std::string, std::string>>* copies) {
  copies->clear();
  Renumbering map;
  if (files_.empty() || dirty_ || !failed_.ok() || !MakeRenumbering(renumbered, &map))
    return Status::InvalidArgument("the indexes cannot be prepared before the pack");
  renumbered_ = &map;
  require_reuse_ = true;
  Status s;
  for (auto& f : files_) {
    const std::string real = ResolvedPath(f->path);
    const std::string copy = real + ".new";
    s = BuildCopy(f.get(), copy, progress);
    if (!s.ok()) break;
    copies->emplace_back(copy, real);
  }
  require_reuse_ = false;
  renumbered_ = nullptr;
  if (!s.ok()) {
    for (const auto& c : *copies) std::remove(c.first.c_str());
    copies->clear();
  }
  return s;
}

Status IndexSet::RebuildAll(const Progress& progress) {
  orders_.clear();
  Status result;
  for (auto& f : files_) {
    Status s = RebuildFile(f.get(), progress);
    if (!s.ok() && result.ok()) result = s;
  }
  for (auto it = files_.begin(); it != files_.end();) {
    if ((*it)->cdx == nullptr) {
      if (it->get() == structural_) structural_ = nullptr;
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  for (auto& f : files_) {
    Status s = LoadOrders(f.get(), nullptr);
    if (!s.ok() && result.ok()) result = s;
  }
  if (result.ok()) {
    failed_ = Status::Ok();
    dirty_ = false;
  }
  return result;
}

Status IndexSet::CheckShapes() {
  for (auto& o : orders_) {
    Status s = o->tag->CheckShape();
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status IndexSet::Check(std::vector<std::string>* report) {
  size_t problems = 0;
  auto problem = [&](const std::string& line) {
    ++problems;
    if (report && report->size() < 200) report->push_back(line);
  };
  for (auto& f : files_) {
    Status s = f->cdx->Check();
    if (!s.ok()) problem(s.message());
  }
  const uint32_t n = table_->record_count();
  for (auto& o : orders_) {
    const std::string label = o->file_path + " tag " + o->name + ": ";
    Status s = o->tag->Check();
    if (!s.ok()) {
      problem(label + s.message());
      continue;
    }
    std::vector<std::pair<std::string, uint32_t>> want;
    want.reserve(n);
    std::string key;
    for (uint32_t r = 1; r <= n; ++r) {
      const uint8_t* rec = table_->Record(r);
      if (!Qualifies(*o, rec, r)) continue;
      KeyOf(*o, rec, r, &key);
      want.emplace_back(key, r);
    }
    std::sort(want.begin(), want.end());
    if (o->unique) {
      auto last = std::unique(want.begin(), want.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; });
      want.erase(last, want.end());
    }
    size_t i = 0;
    size_t shown = 0;
    s = o->tag->ForEach([&](std::string_view k, uint32_t r) {
      if (i >= want.size()) {
        if (shown++ < 5) problem(label + "entry for record " + std::to_string(r) +
                                 " that should not be there");
        else ++problems;
        return true;
      }
      if (want[i].second != r || want[i].first != k) {
        if (shown++ < 5)
          problem(label + "entry " + std::to_string(i + 1) + " is record " + std::to_string(r) +
                  ", expected record " + std::to_string(want[i].second) +
                  (want[i].second == r ? " with another key" : ""));
        else ++problems;
      }
      ++i;
      return true;
    });
    if (!s.ok()) problem(label + s.message());
    if (i < want.size())
      problem(label + std::to_string(want.size() - i) + " qualifying records are missing");
  }
  if (problems == 0) return Status::Ok();
  return Status::Corrupt(std::to_string(problems) + (problems == 1 ? " problem" : " problems") +
                         " found; the index needs a rebuild");
}

}  // namespace xb
