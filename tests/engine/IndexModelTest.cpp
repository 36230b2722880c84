// Index orders driven through the xb_ calls and checked against a model: per tag, the set of
// (key bytes, record number) pairs the table should give. Random appends, replaces, record
// images, deletions, recalls and runs of neighbouring changes keep the trees splitting and
// emptying leaves; seeks, skips, scopes and queries in every order are compared with walks of
// the model; the table is closed and reopened in both write modes, and finally packed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "CdxTestSupport.h"
#include "Engine.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

using Pair = std::pair<std::string, uint32_t>;

struct Rec {
  char flag = ' ';
  std::string code, name, text, longa, longb;  // without padding
  bool qty_blank = true;
  int cents = 0;
  std::string due;  // yyyymmdd or empty
  bool deleted = false;

  double qty() const { return qty_blank ? 0.0 : cents / 100.0; }
  bool flag_true() const { return flag == 'T' || flag == 't' || flag == 'Y' || flag == 'y'; }
};

std::string PadTo(const std::string& s, size_t width) {
  std::string out = s.substr(0, std::min(s.size(), width));
  out.resize(width, ' ');
  return out;
}

std::string DateKey(const std::string& due) {
  return cdxtest::NumericKey(due.empty() ? 0.0 : cdxtest::JulianDay(due));
}

enum class KeyType { kChar, kNumeric, kDate, kLogical };

struct TagSpec {
  const char* name;
  const char* key;
  bool descending;
  const char* condition;  // "" = every record
  KeyType type;
  size_t length;
  std::function<std::string(const Rec&)> key_of;
  std::function<bool(const Rec&)> in_tag;
};

const std::vector<TagSpec>& Tags() {
  auto always = [](const Rec&) { return true; };
  auto live = [](const Rec& r) { return !r.deleted; };
  auto positive = [](const Rec& r) { return r.qty() > 0; };
  auto logical = [](const Rec& r) { return std::string(1, r.flag_true() ? 'T' : 'F'); };
  auto longkey = [](const Rec& r) { return PadTo(r.longa, 180) + PadTo(r.longb, 60); };
  static const std::vector<TagSpec> kTags = {
      {"FLAG", "FLAG", false, "", KeyType::kLogical, 1, logical, always},
      {"FLAGD", "FLAG", true, ".NOT.DELETED()", KeyType::kLogical, 1, logical, live},
      {"CODE", "CODE", false, "QTY > 0", KeyType::kChar, 13,
       [](const Rec& r) { return PadTo(r.code, 13); }, positive},
      {"NAMED", "upper(NAME)", true, "", KeyType::kChar, 50,
       [](const Rec& r) { return cdxtest::Upper(PadTo(r.name, 50)); }, always},
      {"TEXT", "TEXT", false, ".NOT.DELETED()", KeyType::kChar, 60,
       [](const Rec& r) { return PadTo(r.text, 60); }, live},
      {"QTY", "QTY", false, "", KeyType::kNumeric, 8,
       [](const Rec& r) { return cdxtest::NumericKey(r.qty()); }, always},
      {"DUED", "DUE", true, ".NOT.DELETED()", KeyType::kDate, 8,
       [](const Rec& r) { return DateKey(r.due); }, live},
      {"LONG", "LONGA+LONGB", false, "", KeyType::kChar, 240, longkey, always},
      {"LONGD", "LONGA+LONGB", true, "QTY > 0", KeyType::kChar, 240, longkey, positive},
  };
  return kTags;
}

// What a key text given to a seek or a scope becomes in an order of this type.
std::string EncodeText(const TagSpec& t, const std::string& text) {
  switch (t.type) {
    case KeyType::kNumeric: return cdxtest::NumericKey(std::strtod(text.c_str(), nullptr));
    case KeyType::kDate: return DateKey(text);
    case KeyType::kLogical: {
      if (text.empty()) return "";
      char c = static_cast<char>(std::toupper(static_cast<unsigned char>(text[text[0] == '.' ? 1 : 0])));
      return std::string(1, c == 'T' || c == 'Y' ? 'T' : 'F');
    }
    case KeyType::kChar: break;
  }
  return text.substr(0, std::min(text.size(), t.length));
}

struct Query {
  const char* text;
  std::function<bool(const Rec&)> test;
};

const std::vector<Query>& Queries() {
  static const std::vector<Query> kQ = {
      {"QTY > 25", [](const Rec& r) { return r.qty() > 25; }},
      {"FLAG", [](const Rec& r) { return r.flag_true(); }},
      {".NOT. FLAG .AND. QTY < 10", [](const Rec& r) { return !r.flag_true() && r.qty() < 10; }},
  };
  return kQ;
}

// Navigation settings in force, as the model needs them.
struct Nav {
  int order = 0;
  std::string low, high;  // encoded scope ends, "" = open
  int query = -1;         // index into Queries(), -1 = none
  bool hide_deleted = false;
  bool soft = false;
};

std::string Hex(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    if (c >= 0x21 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      std::snprintf(buf, sizeof buf, "\\%02X", c);
      out += buf;
    }
  }
  return out;
}

class IndexModel {
 public:
  IndexModel(const std::string& path, uint32_t seed) : path_(path), rng_(seed) {
    for (int i = 0; i < 40; ++i) codes_.push_back(Word("AB", rng_() % 14));
    codes_.push_back("A\xE9");
    codes_.push_back("\x7F\x01Z");
    for (int i = 0; i < 3; ++i) prefixes_.push_back(std::string(150 + rng_() % 30, static_cast<char>('p' + i)));
    for (int i = 0; i < 60; ++i) {
      int y = 2020 + static_cast<int>(rng_() % 6), m = 1 + static_cast<int>(rng_() % 12),
          d = 1 + static_cast<int>(rng_() % 28);
      char buf[16];
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
      dates_.push_back(buf);
    }
    tags_.resize(Tags().size());
  }

  std::mt19937& rng() { return rng_; }
  size_t size() const { return recs_.size(); }
  const Nav& nav() const { return nav_; }

  // ---- random values ----
  std::string Word(const char* alphabet, size_t n) {
    std::string s(n, ' ');
    const size_t k = std::strlen(alphabet);
    for (char& c : s) c = alphabet[rng_() % k];
    return s;
  }
  std::string RandomText() {
    static const char kAlphabet[] = "aab c\x01\xE9\xFF~";
    return Word(kAlphabet, rng_() % 61);
  }
  std::string RandomName() {
    if (rng_() % 4 == 0) return Word("aAbBcC ", rng_() % 51);
    return Word("aAbB", 1 + rng_() % 4);  // few distinct keys, each in many letter cases
  }
  Rec RandomRec() {
    Rec r;
    r.flag = "TFTF tY"[rng_() % 7];
    r.code = codes_[rng_() % codes_.size()];
    r.name = RandomName();
    r.text = RandomText();
    r.qty_blank = rng_() % 10 == 0;
    r.cents = rng_() % 8 == 0 ? static_cast<int>(rng_() % 200000) - 50000
                              : (static_cast<int>(rng_() % 60) - 10) * 50;
    r.due = rng_() % 8 == 0 ? "" : dates_[rng_() % dates_.size()];
    r.longa = prefixes_[rng_() % prefixes_.size()] + Word("xy", rng_() % 20);
    r.longb = Word("ab", rng_() % 61);
    return r;
  }

  // ---- the table ----
  ::testing::AssertionResult Create() {
    if (xb_CreateNew(path_.c_str(), "", XB_DRIVER_FOX, 8) == 0) return Fail("create");
    xb_CreateField("FLAG", "L", 1, 0);
    xb_CreateField("CODE", "C", 13, 0);
    xb_CreateField("NAME", "C", 50, 0);
    xb_CreateField("TEXT", "C", 60, 0);
    xb_CreateField("QTY", "N", 10, 2);
    xb_CreateField("DUE", "D", 8, 0);
    xb_CreateField("LONGA", "C", 180, 0);
    xb_CreateField("LONGB", "C", 60, 0);
    if (!xb_CreateExec()) return Fail("create exec");
    for (const char* f : {"FLAG", "CODE", "NAME", "TEXT", "QTY", "DUE", "LONGA", "LONGB"})
      offset_[f] = xb_FieldOffset(xb_FieldNum(f)) - 1;
    if (xb_RecSize() != 383) return ::testing::AssertionFailure() << "record size " << xb_RecSize();
    return ::testing::AssertionSuccess();
  }

  ::testing::AssertionResult BuildTags() {
    for (size_t i = 0; i < Tags().size(); ++i) {
      const TagSpec& t = Tags()[i];
      int order = xb_IndexTag("", t.name, t.key, 0, t.descending ? 1 : 0, t.condition);
      if (order != static_cast<int>(i) + 1)
        return ::testing::AssertionFailure() << "tag " << t.name << " got order " << order << ": "
                                             << xb_ErrorText();
    }
    nav_ = Nav();
    nav_.order = static_cast<int>(Tags().size());  // xb_IndexTag selects the new order
    for (size_t i = 0; i < tags_.size(); ++i) {
      tags_[i].clear();
      for (size_t r = 0; r < recs_.size(); ++r) Add(i, static_cast<uint32_t>(r + 1));
    }
    return ::testing::AssertionSuccess();
  }

  std::string Image(const Rec& r) const {
    std::string img(383, ' ');
    img[0] = r.deleted ? '*' : ' ';
    auto put = [&](const char* f, const std::string& v) { img.replace(static_cast<size_t>(offset_.at(f)), v.size(), v); };
    put("FLAG", std::string(1, r.flag));
    put("CODE", PadTo(r.code, 13));
    put("NAME", PadTo(r.name, 50));
    put("TEXT", PadTo(r.text, 60));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%10.2f", r.cents / 100.0);
    put("QTY", r.qty_blank ? std::string(10, ' ') : std::string(buf));
    put("DUE", PadTo(r.due, 8));
    put("LONGA", PadTo(r.longa, 180));
    put("LONGB", PadTo(r.longb, 60));
    return img;
  }

  // Model bookkeeping around a change of record `recno`.
  void Remove(uint32_t recno) {
    ++version_;
    for (size_t i = 0; i < tags_.size(); ++i) {
      const Rec& r = recs_[recno - 1];
      if (Tags()[i].in_tag(r)) tags_[i].erase({Tags()[i].key_of(r), recno});
    }
  }
  void Add(size_t tag, uint32_t recno) {
    ++version_;
    const Rec& r = recs_[recno - 1];
    if (Tags()[tag].in_tag(r)) tags_[tag].insert({Tags()[tag].key_of(r), recno});
  }
  void AddAll(uint32_t recno) {
    for (size_t i = 0; i < tags_.size(); ++i) Add(i, recno);
  }

  ::testing::AssertionResult Append() {
    Rec r = RandomRec();
    if (rng_() % 20 == 0) r.deleted = true;
    if (!xb_AppendBlank()) return Fail("append");
    recs_.emplace_back();  // the blank record is in the tags now
    const uint32_t recno = static_cast<uint32_t>(recs_.size());
    if (xb_RecNo() != static_cast<long>(recno)) return ::testing::AssertionFailure() << "appended at " << xb_RecNo();
    AddAll(recno);
    if (r.deleted || rng_() % 2) {
      std::string img = Image(r);
      if (!xb_PutRecord(img.data())) return Fail("put record");
    } else {
      int flag = r.flag_true();
      if (r.flag == ' ') {
        if (!xb_Replace("FLAG", XB_VAL_STRING, "")) return Fail("flag");
      } else if (!xb_Replace("FLAG", XB_VAL_LOGICAL, &flag)) {
        return Fail("flag");
      }
      r.flag = r.flag == ' ' ? ' ' : (flag ? 'T' : 'F');
      if (!xb_Replace("CODE", XB_VAL_STRING, r.code.c_str()) ||
          !xb_Replace("NAME", XB_VAL_STRING, r.name.c_str()) ||
          !xb_Replace("TEXT", XB_VAL_STRING, r.text.c_str()) ||
          !xb_Replace("DUE", XB_VAL_STRING, r.due.c_str()) ||
          !xb_Replace("LONGA", XB_VAL_STRING, r.longa.c_str()) ||
          !xb_Replace("LONGB", XB_VAL_STRING, r.longb.c_str()))
        return Fail("replace");
      double q = r.cents / 100.0;
      if (r.qty_blank ? !xb_Replace("QTY", XB_VAL_STRING, "") : !xb_Replace("QTY", XB_VAL_DOUBLE, &q))
        return Fail("qty");
    }
    Remove(recno);
    recs_.back() = r;
    AddAll(recno);
    return ::testing::AssertionSuccess();
  }

  // One field of one record gets a new value.
  ::testing::AssertionResult ReplaceField(uint32_t recno, int field, const Rec* forced = nullptr) {
    if (!xb_Go(recno)) return Fail("go");
    Rec r = recs_[recno - 1];
    Rec fresh = forced ? *forced : RandomRec();
    bool ok = true;
    switch (field) {
      case 0: {
        r.flag = fresh.flag_true() ? 'T' : 'F';
        int v = fresh.flag_true();
        ok = xb_Replace("FLAG", XB_VAL_LOGICAL, &v);
        break;
      }
      case 1: r.code = fresh.code; ok = xb_Replace("CODE", XB_VAL_STRING, r.code.c_str()); break;
      case 2: r.name = fresh.name; ok = xb_Replace("NAME", XB_VAL_STRING, r.name.c_str()); break;
      case 3: r.text = fresh.text; ok = xb_Replace("TEXT", XB_VAL_STRING, r.text.c_str()); break;
      case 4: {
        r.qty_blank = false;
        r.cents = fresh.cents;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", r.cents / 100.0);
        ok = xb_Replace("QTY", XB_VAL_STRING, buf);
        break;
      }
      case 5: r.due = fresh.due; ok = xb_Replace("DUE", XB_VAL_STRING, r.due.c_str()); break;
      case 6: r.longa = fresh.longa; ok = xb_Replace("LONGA", XB_VAL_STRING, r.longa.c_str()); break;
      default: r.longb = fresh.longb; ok = xb_Replace("LONGB", XB_VAL_STRING, r.longb.c_str()); break;
    }
    if (!ok) return Fail("replace field " + std::to_string(field));
    return Changed(recno, r);
  }

  ::testing::AssertionResult PutImage(uint32_t recno) {
    if (!xb_Go(recno)) return Fail("go");
    Rec r = recs_[recno - 1];
    Rec fresh = RandomRec();
    if (rng_() % 2) r.code = fresh.code;
    if (rng_() % 2) r.name = fresh.name;
    if (rng_() % 2) { r.qty_blank = fresh.qty_blank; r.cents = fresh.cents; }
    if (rng_() % 2) r.longb = fresh.longb;
    if (rng_() % 4 == 0) r.deleted = !r.deleted;
    if (rng_() % 3 == 0) r.flag = fresh.flag;
    std::string img = Image(r);
    if (!xb_PutRecord(img.data())) return Fail("put record");
    return Changed(recno, r);
  }

  ::testing::AssertionResult SetDeleted(uint32_t recno, bool deleted) {
    if (!xb_Go(recno)) return Fail("go");
    if (!(deleted ? xb_Delete() : xb_Recall())) return Fail(deleted ? "delete" : "recall");
    Rec r = recs_[recno - 1];
    r.deleted = deleted;
    return Changed(recno, r);
  }

  ::testing::AssertionResult Changed(uint32_t recno, const Rec& r) {
    Remove(recno);
    recs_[recno - 1] = r;
    AddAll(recno);
    return ::testing::AssertionSuccess();
  }

  // A run of neighbouring entries of one tag leaves it (deleted, QTY made negative, or moved to
  // a far key), so that whole leaves empty and are unlinked; or a run of marked records returns.
  ::testing::AssertionResult Run() {
    const size_t t = rng_() % Tags().size();
    const TagSpec& spec = Tags()[t];
    if (rng_() % 3 == 0) {  // recall a run of marked records in record order
      uint32_t start = static_cast<uint32_t>(rng_() % recs_.size()) + 1;
      for (uint32_t r = start; r < start + 300 && r <= recs_.size(); ++r) {
        if (!recs_[r - 1].deleted) continue;
        auto ok = SetDeleted(r, false);
        if (!ok) return ok;
      }
      return ::testing::AssertionSuccess();
    }
    if (tags_[t].empty()) return ::testing::AssertionSuccess();
    size_t from = rng_() % tags_[t].size();
    size_t length = 20 + rng_() % 300;
    std::vector<uint32_t> run;
    auto it = tags_[t].begin();
    std::advance(it, static_cast<long>(from));
    for (; it != tags_[t].end() && run.size() < length; ++it) run.push_back(it->second);
    for (uint32_t recno : run) {
      ::testing::AssertionResult ok = ::testing::AssertionSuccess();
      if (std::strcmp(spec.condition, ".NOT.DELETED()") == 0) {
        ok = SetDeleted(recno, true);
      } else if (std::strcmp(spec.condition, "QTY > 0") == 0) {
        Rec f;
        f.cents = -100;
        ok = ReplaceField(recno, 4, &f);
      } else {
        Rec f = RandomRec();
        f.flag = recs_[recno - 1].flag_true() ? 'F' : 'T';
        f.name = "zz" + std::to_string(rng_() % 5);
        f.cents = 9999999;
        f.longa = prefixes_[(1 + (recs_[recno - 1].longa[0] - 'p')) % 3];
        const int field = spec.type == KeyType::kLogical ? 0
                          : spec.type == KeyType::kNumeric ? 4
                          : std::strcmp(spec.name, "NAMED") == 0 ? 2 : 6;
        ok = ReplaceField(recno, field, &f);
      }
      if (!ok) return ok;
    }
    return ::testing::AssertionSuccess();
  }

  // Marks the records of `count` neighbouring entries in the middle of tag TEXT: whole leaves
  // of it empty.
  ::testing::AssertionResult DeleteNeighbours(size_t count) {
    const size_t t = 4;
    if (std::strcmp(Tags()[t].name, "TEXT") != 0 || tags_[t].size() < count) return ::testing::AssertionFailure() << "no room";
    auto it = tags_[t].begin();
    std::advance(it, static_cast<long>((tags_[t].size() - count) / 2));
    std::vector<uint32_t> run;
    for (size_t i = 0; i < count; ++i, ++it) run.push_back(it->second);
    for (uint32_t recno : run) {
      auto ok = SetDeleted(recno, true);
      if (!ok) return ok;
    }
    return ::testing::AssertionSuccess();
  }

  // ---- navigation settings ----
  ::testing::AssertionResult SetOrder(int order) {
    if (xb_SetOrder(order) < 0) return Fail("set order " + std::to_string(order));
    nav_.order = order;
    nav_.low.clear();
    nav_.high.clear();
    return ::testing::AssertionSuccess();
  }

  // A text that would be a sensible seek or scope value in the order in force.
  std::string KeyText(bool partial) {
    const TagSpec& t = Tags()[static_cast<size_t>(nav_.order - 1)];
    const auto& entries = tags_[static_cast<size_t>(nav_.order - 1)];
    const Rec* from = recs_.empty() ? nullptr : &recs_[rng_() % recs_.size()];
    if (!entries.empty() && rng_() % 4) {
      auto it = entries.begin();
      std::advance(it, static_cast<long>(rng_() % entries.size()));
      from = &recs_[it->second - 1];
    }
    Rec other = RandomRec();
    if (from == nullptr || rng_() % 5 == 0) from = &other;
    switch (t.type) {
      case KeyType::kLogical: return rng_() % 3 ? std::string(1, from->flag_true() ? 'T' : 'F') : ".T.";
      case KeyType::kNumeric: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.2f", from->qty() + (rng_() % 4 == 0 ? 0.25 : 0.0));
        return buf;
      }
      case KeyType::kDate: return from->due.empty() ? dates_[rng_() % dates_.size()] : from->due;
      case KeyType::kChar: break;
    }
    std::string key = t.key_of(*from);
    if (std::strcmp(t.name, "NAMED") == 0 && rng_() % 2) {
      for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));  // a seek does not fold case
    }
    size_t n = partial ? 1 + rng_() % key.size() : key.size();
    key.resize(n);
    if (partial && rng_() % 3 == 0) {
      char c = static_cast<char>(key.back() + (rng_() % 2 ? 1 : -1));
      if (c != 0) key.back() = c;  // a NUL would end the C text early
    }
    return key;
  }

  ::testing::AssertionResult ChangeSettings() {
    switch (rng_() % 5) {
      case 0: {
        nav_.hide_deleted = !nav_.hide_deleted;
        xb_SetDeleted(nav_.hide_deleted);
        break;
      }
      case 1: {
        nav_.soft = !nav_.soft;
        xb_SetSoftSeek(nav_.soft);
        break;
      }
      case 2: {
        int q = static_cast<int>(rng_() % (Queries().size() + 2)) - 2;
        if (q < 0) q = -1;
        if (!xb_Query(q < 0 ? "" : Queries()[static_cast<size_t>(q)].text)) return Fail("query");
        nav_.query = q;
        break;
      }
      default: {
        if (nav_.order == 0) return SetOrder(1 + static_cast<int>(rng_() % Tags().size()));
        const TagSpec& t = Tags()[static_cast<size_t>(nav_.order - 1)];
        std::string low = rng_() % 3 ? KeyText(true) : "";
        std::string high = rng_() % 3 ? KeyText(true) : "";
        // An empty text leaves that end open.
        std::string el = low.empty() ? "" : EncodeText(t, low);
        std::string eh = high.empty() ? "" : EncodeText(t, high);
        if (!el.empty() && !eh.empty() && el > eh) {
          std::swap(low, high);
          std::swap(el, eh);
        }
        if (!xb_SetScope(low.c_str(), high.c_str())) return Fail("scope");
        nav_.low = el;
        nav_.high = eh;
        break;
      }
    }
    return ::testing::AssertionSuccess();
  }

  // ---- the model's view of the order in force ----
  bool Visible(uint32_t recno) const {
    const Rec& r = recs_[recno - 1];
    if (nav_.hide_deleted && r.deleted) return false;
    if (nav_.query >= 0 && !Queries()[static_cast<size_t>(nav_.query)].test(r)) return false;
    return true;
  }
  bool InScope(const std::string& key) const {
    if (!nav_.low.empty() && std::memcmp(key.data(), nav_.low.data(), nav_.low.size()) < 0) return false;
    if (!nav_.high.empty() && std::memcmp(key.data(), nav_.high.data(), nav_.high.size()) > 0) return false;
    return true;
  }
  // The entries navigation visits, in the order's direction; kept until the model or the
  // settings change, since walks ask for it at every step.
  const std::vector<const Pair*>& Visits() {
    if (cache_version_ == version_ && cache_nav_.order == nav_.order && cache_nav_.low == nav_.low &&
        cache_nav_.high == nav_.high && cache_nav_.query == nav_.query &&
        cache_nav_.hide_deleted == nav_.hide_deleted)
      return cache_;
    cache_version_ = version_;
    cache_nav_ = nav_;
    cache_.clear();
    if (nav_.order == 0) {
      natural_.clear();
      for (uint32_t r = 1; r <= recs_.size(); ++r)
        if (Visible(r)) natural_.emplace_back("", r);
      for (const Pair& p : natural_) cache_.push_back(&p);
      return cache_;
    }
    for (const Pair& p : tags_[static_cast<size_t>(nav_.order - 1)])
      if (InScope(p.first) && Visible(p.second)) cache_.push_back(&p);
    if (Tags()[static_cast<size_t>(nav_.order - 1)].descending) std::reverse(cache_.begin(), cache_.end());
    return cache_;
  }
  bool Before(const Pair& a, const Pair& b) const {  // a comes before b in the order in force
    if (nav_.order == 0) return a.second < b.second;
    return Tags()[static_cast<size_t>(nav_.order - 1)].descending ? b < a : a < b;
  }
  Pair PairOf(uint32_t recno) const {
    if (nav_.order == 0) return {"", recno};
    return {Tags()[static_cast<size_t>(nav_.order - 1)].key_of(recs_[recno - 1]), recno};
  }

  // Where the engine must stand: a record, or the end (with or without the begin flag).
  struct Spot {
    uint32_t recno;
    bool eof, bof;
  };
  Spot At(const std::vector<const Pair*>& visits, long index, bool bof) const {
    if (index < 0) {
      if (visits.empty()) return {static_cast<uint32_t>(recs_.size() + 1), true, true};
      return {visits[0]->second, false, true};
    }
    if (static_cast<size_t>(index) >= visits.size()) return {static_cast<uint32_t>(recs_.size() + 1), true, bof};
    return {visits[static_cast<size_t>(index)]->second, false, bof};
  }
  ::testing::AssertionResult Expect(const Spot& want, const std::string& what) const {
    Spot got{static_cast<uint32_t>(xb_RecNo()), xb_Eof() != 0, xb_Bof() != 0};
    if (got.recno != want.recno || got.eof != want.eof || got.bof != want.bof) {
      return ::testing::AssertionFailure()
             << what << " in " << Describe() << ": engine at record " << got.recno << (got.eof ? " eof" : "")
             << (got.bof ? " bof" : "") << ", model at record " << want.recno << (want.eof ? " eof" : "")
             << (want.bof ? " bof" : "") << " (" << xb_ErrorText() << ")" << KeysOf(got.recno, want.recno);
    }
    if (!want.eof && nav_.order != 0) {
      char buf[300];
      int n = xb_KeyData(buf, sizeof buf);
      std::string key(buf, static_cast<size_t>(n > 0 ? n : 0));
      std::string expect = PairOf(want.recno).first;
      if (key != expect)
        return ::testing::AssertionFailure() << what << ": key of record " << want.recno << " is "
                                             << Hex(key) << ", model " << Hex(expect);
    }
    return ::testing::AssertionSuccess();
  }
  // The model's keys of the records in a failure message.
  std::string KeysOf(uint32_t a, uint32_t b) const {
    std::string out;
    for (uint32_t r : {a, b}) {
      if (nav_.order == 0 || r < 1 || r > recs_.size()) continue;
      out += "; key of " + std::to_string(r) + " " + Hex(PairOf(r).first) +
             (recs_[r - 1].deleted ? " (marked)" : "");
    }
    return out;
  }
  std::string Describe() const {
    std::ostringstream o;
    o << "order " << nav_.order;
    if (nav_.order > 0) o << " (" << Tags()[static_cast<size_t>(nav_.order - 1)].name << ")";
    if (!nav_.low.empty() || !nav_.high.empty()) o << " scope [" << Hex(nav_.low) << ", " << Hex(nav_.high) << "]";
    if (nav_.query >= 0) o << " query '" << Queries()[static_cast<size_t>(nav_.query)].text << "'";
    if (nav_.hide_deleted) o << " hiding deleted";
    if (nav_.soft) o << " soft seek";
    return o.str();
  }

  ::testing::AssertionResult GoTop(bool top) {
    const auto& visits = Visits();
    if (!(top ? xb_GoTop() : xb_GoBottom())) return Fail(top ? "go top" : "go bottom");
    return Expect(visits.empty() ? Spot{static_cast<uint32_t>(recs_.size() + 1), true, true}
                                 : At(visits, top ? 0 : static_cast<long>(visits.size()) - 1, false),
                  top ? "go top" : "go bottom");
  }

  ::testing::AssertionResult Skip(long n) {
    const auto& visits = Visits();
    long target;
    if (xb_Eof()) {
      if (n > 0) {
        if (!xb_Skip(n)) return Fail("skip");
        return Expect({static_cast<uint32_t>(recs_.size() + 1), true, false}, "skip " + std::to_string(n) + " at the end");
      }
      target = static_cast<long>(visits.size()) + n;
    } else {
      const Pair here = PairOf(static_cast<uint32_t>(xb_RecNo()));
      auto it = std::lower_bound(visits.begin(), visits.end(), here,
                                 [&](const Pair* a, const Pair& b) { return Before(*a, b); });
      const long p = it - visits.begin();
      const bool on = it != visits.end() && **it == here;
      target = on || n < 0 ? p + n : p + n - 1;
    }
    const uint32_t from = static_cast<uint32_t>(xb_RecNo());
    const bool from_end = xb_Eof() != 0;
    if (!xb_Skip(n)) return Fail("skip");
    return Expect(At(visits, target, false), "skip " + std::to_string(n) + " from " +
                                                 (from_end ? "the end" : "record " + std::to_string(from) + KeysOf(from, 0)));
  }

  ::testing::AssertionResult Seek(const std::string& text) {
    const TagSpec& t = Tags()[static_cast<size_t>(nav_.order - 1)];
    const std::string key = EncodeText(t, text);
    const auto& visits = Visits();
    long index = -1;
    for (size_t i = 0; i < visits.size(); ++i) {
      int c = std::memcmp(visits[i]->first.data(), key.data(), key.size());
      if (t.descending ? c <= 0 : c >= 0) {
        index = static_cast<long>(i);
        break;
      }
    }
    bool found = index >= 0 &&
                 (std::memcmp(visits[static_cast<size_t>(index)]->first.data(), key.data(), key.size()) == 0 || nav_.soft);
    int got = xb_Seek(text.c_str());
    if (xb_Error() != 0) return Fail("seek");
    const std::string what = "seek '" + Hex(text) + "'";
    if ((got != 0) != found)
      return ::testing::AssertionFailure() << what << " in " << Describe() << " returned " << got << ", model "
                                           << found << " (engine at " << xb_RecNo() << ")";
    return Expect(found ? At(visits, index, false) : At(visits, static_cast<long>(visits.size()), false), what);
  }

  ::testing::AssertionResult CountMatches() {
    long want = static_cast<long>(Visits().size());
    long got = xb_QueryRecCount();
    if (got != want)
      return ::testing::AssertionFailure() << "query count in " << Describe() << ": " << got << ", model " << want;
    return Places();
  }

  // Where a few records come in the walk, asked without moving: the model's place in its
  // visits, or -1 for a record the walk passes by. The next steps start from where the engine
  // stood before.
  ::testing::AssertionResult Places() {
    const auto& visits = Visits();
    const long here = xb_RecNo();
    const bool at_end = xb_Eof() != 0;
    for (int i = 0; i < 3 && !recs_.empty(); ++i) {
      const uint32_t r = static_cast<uint32_t>(rng_() % recs_.size()) + 1;
      long want = -1;
      for (size_t k = 0; k < visits.size(); ++k)
        if (visits[k]->second == r) want = static_cast<long>(k);
      const long got = xb_QueryPosition(r);
      if (xb_Error() != 0) return Fail("position");
      if (got != want)
        return ::testing::AssertionFailure() << "place of record " << r << KeysOf(r, 0) << " in " << Describe() << ": "
                                             << got << ", model " << want;
    }
    if (xb_RecNo() != here || (xb_Eof() != 0) != at_end)
      return ::testing::AssertionFailure() << "asking for places moved the engine from " << here;
    return ::testing::AssertionSuccess();
  }

  // A random navigation exercise in a random order.
  ::testing::AssertionResult Navigate() {
    if (rng_() % 4 == 0) {
      auto ok = SetOrder(static_cast<int>(rng_() % (Tags().size() + 1)));
      if (!ok) return ok;
    }
    ::testing::AssertionResult ok = ::testing::AssertionSuccess();
    switch (rng_() % 4) {
      case 0: ok = GoTop(rng_() % 2); break;
      case 1: ok = nav_.order == 0 ? GoTop(true) : Seek(KeyText(rng_() % 2)); break;
      case 2: {
        if (recs_.empty()) break;
        uint32_t r = static_cast<uint32_t>(rng_() % recs_.size()) + 1;
        if (!xb_Go(r)) return Fail("go");
        break;
      }
      default: ok = Skip(rng_() % 2 ? 1 : -1); break;
    }
    if (!ok) return ok;
    for (int steps = static_cast<int>(rng_() % 12); steps > 0; --steps) {
      long n = static_cast<long>(rng_() % 5) + 1;
      if (rng_() % 8 == 0) n = static_cast<long>(rng_() % 400) + 1;
      ok = Skip(rng_() % 2 ? n : -n);
      if (!ok) return ok;
    }
    return ::testing::AssertionSuccess();
  }

  // Every order walked completely both ways with no scope, query or hidden records, the tags
  // compared entry by entry through the orders, and the engine's own check of the trees.
  ::testing::AssertionResult CheckAll(const std::string& when) {
    if (xb_SysProp(3000, -1) != static_cast<long>(Tags().size()))
      return ::testing::AssertionFailure() << when << ": " << xb_SysProp(3000, -1) << " orders";
    xb::WorkArea* wa = xb::Engine::Instance().Current();
    if (!wa->table().index_problem().empty())
      return ::testing::AssertionFailure() << when << ": " << wa->table().index_problem();
    std::vector<std::string> report;
    xb::Status s = wa->table().CheckIndexes(&report);
    if (!s.ok()) {
      std::ostringstream o;
      o << when << ": " << s.ToString();
      for (const auto& line : report) o << "\n  " << line;
      return ::testing::AssertionFailure() << o.str();
    }
    if (xb_RecCount() != static_cast<long>(recs_.size()))
      return ::testing::AssertionFailure() << when << ": " << xb_RecCount() << " records, model " << recs_.size();
    xb_Query("");
    xb_SetDeleted(0);
    xb_SetSoftSeek(0);
    nav_ = Nav();
    for (size_t i = 0; i < Tags().size(); ++i) {
      // The incremental model must agree with one computed afresh.
      std::set<Pair> fresh;
      for (uint32_t r = 1; r <= recs_.size(); ++r)
        if (Tags()[i].in_tag(recs_[r - 1])) fresh.insert({Tags()[i].key_of(recs_[r - 1]), r});
      if (fresh != tags_[i]) return ::testing::AssertionFailure() << "the model itself is inconsistent";
      auto ok = SetOrder(static_cast<int>(i) + 1);
      if (!ok) return ok;
      const auto& visits = Visits();
      std::vector<uint32_t> want, forward, backward;
      for (const Pair* p : visits) want.push_back(p->second);
      for (xb_GoTop(); !xb_Eof() && forward.size() <= want.size(); xb_Skip(1)) forward.push_back(static_cast<uint32_t>(xb_RecNo()));
      for (xb_GoBottom(); !xb_Eof() && !xb_Bof() && backward.size() <= want.size(); xb_Skip(-1))
        backward.push_back(static_cast<uint32_t>(xb_RecNo()));
      std::reverse(backward.begin(), backward.end());
      if (forward != want || backward != want) {
        size_t k = 0;
        while (k < want.size() && k < forward.size() && want[k] == forward[k]) ++k;
        return ::testing::AssertionFailure()
               << when << ": order " << Tags()[i].name << " walks " << forward.size() << " forward and "
               << backward.size() << " backward, model " << want.size() << "; first difference forward at "
               << k;
      }
    }
    return SetOrder(0);
  }

  ::testing::AssertionResult Reopen(int mode) {
    if (!xb_Close(0)) return Fail("close");
    if (xb_Use(path_.c_str(), "", mode, XB_DRIVER_FOX) == 0) return Fail("reopen");
    // A new work area: record order, no scope, no query; the engine-wide settings stay.
    nav_.order = 0;
    nav_.low.clear();
    nav_.high.clear();
    nav_.query = -1;
    return ::testing::AssertionSuccess();
  }

  // Pack: marked records go, the others are renumbered in their old order.
  ::testing::AssertionResult Pack() {
    if (!xb_Pack()) return Fail("pack");
    std::vector<Rec> kept;
    for (const Rec& r : recs_)
      if (!r.deleted) kept.push_back(r);
    recs_ = std::move(kept);
    for (size_t i = 0; i < tags_.size(); ++i) {
      tags_[i].clear();
      for (uint32_t r = 1; r <= recs_.size(); ++r) Add(i, r);
    }
    // The order in force and the settings stay as they were.
    return ::testing::AssertionSuccess();
  }

  size_t DeletedCount() const {
    return static_cast<size_t>(std::count_if(recs_.begin(), recs_.end(), [](const Rec& r) { return r.deleted; }));
  }
  size_t TagSize(size_t t) const { return tags_[t].size(); }

 private:
  static ::testing::AssertionResult Fail(const std::string& what) {
    return ::testing::AssertionFailure() << what << " failed: " << xb_ErrorText();
  }

  std::string path_;
  std::mt19937 rng_;
  std::vector<std::string> codes_, prefixes_, dates_;
  std::map<std::string, int> offset_;
  std::vector<Rec> recs_;
  std::vector<std::set<Pair>> tags_;
  Nav nav_;
  uint64_t version_ = 0;  // counts changes of the model
  uint64_t cache_version_ = ~uint64_t{0};
  Nav cache_nav_;
  std::vector<const Pair*> cache_;
  std::vector<Pair> natural_;
};

// Levels of a tree, counted down its first children.
size_t Depth(const std::vector<uint8_t>& file, uint32_t root, size_t key_length) {
  size_t depth = 1;
  for (uint32_t at = root; depth < 64 && at + 512 <= file.size() && (file[at] & xb::kCdxAttrLeaf) == 0; ++depth)
    at = xb::CdxGetBE32(&file[at + 12 + key_length + 4]);
  return depth;
}

// One random operation.
::testing::AssertionResult RandomStep(IndexModel& m) {
  auto& rng = m.rng();
  const int kind = static_cast<int>(rng() % 1000);
  const uint32_t recno = static_cast<uint32_t>(rng() % std::max<size_t>(m.size(), 1)) + 1;
  if (kind < 170 || m.size() == 0) return m.Append();
  if (kind < 420) return m.ReplaceField(recno, static_cast<int>(rng() % 8));
  if (kind < 470) return m.PutImage(recno);
  if (kind < 540) return m.SetDeleted(recno, true);
  if (kind < 590) return m.SetDeleted(recno, false);
  if (kind < 596) return m.Run();
  if (kind < 640) return m.ChangeSettings();
  if (kind < 650) return m.CountMatches();
  return m.Navigate();
}

}  // namespace

TEST(IndexModel, RandomChangesAndNavigationAgreeWithTheModelAcrossReopensAndPack) {
  TempDir dir;
  const std::string path = dir.File("MODEL.DBF");
  IndexModel m(path, 20240607);
  ASSERT_TRUE(m.Create());
  // Some records before the tags exist, so the first trees are built in one pass.
  for (int i = 0; i < 400; ++i) ASSERT_TRUE(m.Append());
  ASSERT_TRUE(m.BuildTags());
  ASSERT_TRUE(m.CheckAll("after building the tags"));

  const int kOps = 32000;
  for (int op = 1; op <= kOps; ++op) {
    ASSERT_TRUE(RandomStep(m)) << "operation " << op;
    if (op % 4000 == 0) {
      ASSERT_TRUE(m.CheckAll("operation " + std::to_string(op)));
      const int mode = (op / 4000) % 2 ? XB_SHARED : XB_EXCLUSIVE;
      ASSERT_TRUE(m.Reopen(mode)) << "operation " << op;
      ASSERT_TRUE(m.CheckAll("reopened " + std::string(mode == XB_SHARED ? "shared" : "exclusively") +
                             " after operation " + std::to_string(op)));
    }
  }
  // Trees of several levels, runs of changes and plenty of duplicates were all exercised, and
  // the runs emptied leaves that went back to the free list.
  EXPECT_GT(m.size(), 4000u);
  EXPECT_GT(m.DeletedCount(), 300u);
  ASSERT_TRUE(m.DeleteNeighbours(400));
  ASSERT_TRUE(xb_Close(0));
  {
    std::unique_ptr<xb::CdxFile> cdx;  // writable: only then is the free list read
    ASSERT_TRUE(xb::CdxFile::Open(dir.File("MODEL.cdx"), false, &cdx).ok());
    const std::vector<uint8_t> bytes = ReadBytes(dir.File("MODEL.cdx"));
    EXPECT_GT(cdx->FreePageCount(), 0u);
    for (const char* name : {"FLAG", "TEXT", "LONG", "LONGD"}) {
      xb::CdxTag* tag = cdx->FindTag(name);
      ASSERT_NE(tag, nullptr);
      EXPECT_GE(Depth(bytes, tag->header().root, tag->key_length()), std::strcmp(name, "FLAG") == 0 ? 2u : 3u) << name;
    }
  }
  ASSERT_TRUE(m.Reopen(XB_EXCLUSIVE));
  ASSERT_TRUE(m.Pack());
  ASSERT_TRUE(m.CheckAll("after the pack"));
  for (int op = 1; op <= 2000; ++op) ASSERT_TRUE(RandomStep(m)) << "operation " << op << " after the pack";
  ASSERT_TRUE(m.Reopen(XB_READONLY));
  ASSERT_TRUE(m.CheckAll("reopened read-only after the pack"));
}

// Equal keys in a descending order come in descending record order (the ascending (key,
// record) order of the file walked backwards), and a soft seek in a descending order lands on
// the next smaller key.
TEST(IndexModel, DescendingOrdersReverseTiesAndSeekDownwards) {
  TempDir dir;
  ASSERT_NE(xb_CreateNew(dir.File("DESC.DBF").c_str(), "", XB_DRIVER_FOX, 2), 0);
  xb_CreateField("K", "C", 3, 0);
  xb_CreateField("N", "N", 6, 1);
  ASSERT_TRUE(xb_CreateExec());
  const char* keys[] = {"b", "a", "b", "c", "a", "b"};
  for (const char* k : keys) {
    ASSERT_TRUE(xb_AppendBlank());
    ASSERT_TRUE(xb_Replace("K", XB_VAL_STRING, k));
    double n = k[0] - 'a';
    ASSERT_TRUE(xb_Replace("N", XB_VAL_DOUBLE, &n));
  }
  ASSERT_EQ(xb_IndexTag("", "KD", "K", 0, 1, ""), 1);
  ASSERT_EQ(xb_IndexTag("", "ND", "N", 0, 1, ""), 2);
  for (int order : {1, 2}) {
    xb_SetOrder(order);
    std::vector<long> walk, back;
    for (xb_GoTop(); !xb_Eof(); xb_Skip(1)) walk.push_back(xb_RecNo());
    EXPECT_EQ(walk, (std::vector<long>{4, 6, 3, 1, 5, 2})) << "order " << order;
    for (xb_GoBottom(); !xb_Bof(); xb_Skip(-1)) back.push_back(xb_RecNo());
    EXPECT_EQ(back, (std::vector<long>{2, 5, 1, 3, 6, 4})) << "order " << order;
  }
  xb_SetOrder(1);
  EXPECT_TRUE(xb_Seek("b"));
  EXPECT_EQ(xb_RecNo(), 6);  // the first "b" of the order is the highest record
  EXPECT_FALSE(xb_Seek("bb"));
  xb_SetSoftSeek(1);
  EXPECT_TRUE(xb_Seek("bb"));
  EXPECT_EQ(xb_RecNo(), 6);  // "b  " is the next key downwards
  EXPECT_FALSE(xb_Seek(" "));
  EXPECT_TRUE(xb_Eof());
  xb_SetSoftSeek(0);
  xb_SetOrder(2);
  EXPECT_TRUE(xb_Seek("1"));
  EXPECT_EQ(xb_RecNo(), 6);
  // Skipping back from the end stands on the last record of the order, no longer at the end.
  xb_GoBottom();
  ASSERT_TRUE(xb_Skip(1));
  EXPECT_TRUE(xb_Eof());
  ASSERT_TRUE(xb_Skip(-1));
  EXPECT_EQ(xb_RecNo(), 2);
  EXPECT_FALSE(xb_Eof());
  EXPECT_FALSE(xb_Bof());
}

// Keys of 240 bytes leave room for two entries in an interior page. Appending records with
// such keys in random order (here in shared mode, where each change goes to the file at once)
// must keep every change working: the tree may not grow deeper than the index can be read.
TEST(IndexModel, LongKeysInRandomOrderKeepEveryChangeWorking) {
  TempDir dir;
  const std::string path = dir.File("LONGKEY.DBF");
  ASSERT_NE(xb_CreateNew(path.c_str(), "", XB_DRIVER_FOX, 1), 0);
  xb_CreateField("K", "C", 240, 0);
  ASSERT_TRUE(xb_CreateExec());
  ASSERT_EQ(xb_IndexTag("", "K", "K", 0, 0, ".NOT.DELETED()"), 1) << xb_ErrorText();
  ASSERT_TRUE(xb_CloseAll());
  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << xb_ErrorText();
  std::mt19937 rng(1);
  std::vector<std::string> keys;
  for (int i = 1; i <= 5000; ++i) {
    std::string k(240, ' ');
    for (char& c : k) c = static_cast<char>('a' + rng() % 26);
    ASSERT_TRUE(xb_AppendBlank()) << "record " << i << ": " << xb_ErrorText();
    ASSERT_TRUE(xb_Replace("K", XB_VAL_STRING, k.c_str())) << "record " << i << ": " << xb_ErrorText();
    keys.push_back(k);
  }
  std::vector<std::string> report;
  xb::Status s = xb::Engine::Instance().Current()->table().CheckIndexes(&report);
  ASSERT_TRUE(s.ok()) << s.ToString();
  std::vector<size_t> want(keys.size());
  for (size_t i = 0; i < want.size(); ++i) want[i] = i;
  std::sort(want.begin(), want.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
  ASSERT_GE(xb_SetOrder(1), 0);
  size_t i = 0;
  for (xb_GoTop(); !xb_Eof() && i < want.size(); xb_Skip(1), ++i) ASSERT_EQ(xb_RecNo(), static_cast<long>(want[i] + 1));
  EXPECT_EQ(i, want.size());
  ASSERT_TRUE(xb_CloseAll());
  std::unique_ptr<xb::CdxFile> cdx;
  ASSERT_TRUE(xb::CdxFile::Open(dir.File("LONGKEY.cdx"), true, &cdx).ok());
  // A sound tree of 5000 such keys has about 13 levels (two entries a page); allow twice that.
  EXPECT_LE(Depth(ReadBytes(dir.File("LONGKEY.cdx")), cdx->Tag(0)->header().root, 240), 26u);
}
