#pragma once

// The five tags of the task table as tests check them: their definitions, the key of the
// current record computed from its fields, and the walks every order must give.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "CdxTestSupport.h"
#include "Engine.h"
#include "TestUtil.h"
#include "xbengine.h"

namespace xbtest {

inline const char* const kTaskTags[] = {"DATETIME", "DESCRIPT", "DONE", "KEYS", "PRIORITY"};
inline const char* const kTaskKeys[] = {"DATE+TIME", "upper(DESCRIPT)", "DONE", "upper(KEYS)",
                                        "upper(PRIORITY)+DATE+TIME"};

// The key of the current record in tag `t`, computed from its fields as the task list defines it.
inline std::string TaskKey(int t) {
  switch (t) {
    case 0: return Field("DATE") + Field("TIME");
    case 1: return cdxtest::Upper(Field("DESCRIPT"));
    case 2: return Field("DONE").find_first_of("TtYy") == 0 ? "T" : "F";
    case 3: return cdxtest::Upper(Field("KEYS"));
    default: return cdxtest::Upper(Field("PRIORITY")) + Field("DATE") + Field("TIME");
  }
}

// The records order t + 1 must visit: live records by (key, record number).
inline std::vector<long> ExpectedOrder(int t) {
  std::vector<std::pair<std::string, long>> keys;
  const long n = xb_RecCount();
  for (long r = 1; r <= n; ++r) {
    xb_Go(r);
    if (!xb_Deleted()) keys.emplace_back(TaskKey(t), r);
  }
  std::sort(keys.begin(), keys.end());
  std::vector<long> out;
  for (const auto& k : keys) out.push_back(k.second);
  return out;
}

inline std::vector<long> WalkForward() {
  std::vector<long> out;
  const long bound = xb_RecCount() + 1;
  for (xb_GoTop(); !xb_Eof() && static_cast<long>(out.size()) <= bound; xb_Skip(1)) out.push_back(xb_RecNo());
  return out;
}

inline std::vector<long> WalkBackward() {
  std::vector<long> out;
  const long bound = xb_RecCount() + 1;
  for (xb_GoBottom(); !xb_Eof() && !xb_Bof() && static_cast<long>(out.size()) <= bound; xb_Skip(-1))
    out.insert(out.begin(), xb_RecNo());
  return out;
}

// The orders walk as the table says, both ways, and the engine's own comparison of every tag
// with the table finds nothing.
inline ::testing::AssertionResult OrdersMatchTable(const std::string& when) {
  if (xb_SysProp(3000, -1) != 5) return ::testing::AssertionFailure() << when << ": " << xb_SysProp(3000, -1) << " orders";
  xb::WorkArea* wa = xb::Engine::Instance().Current();
  if (!wa->table().index_problem().empty())
    return ::testing::AssertionFailure() << when << ": " << wa->table().index_problem();
  std::vector<std::string> report;
  xb::Status s = wa->table().CheckIndexes(&report);
  if (!s.ok()) {
    std::ostringstream o;
    for (const auto& line : report) o << "\n  " << line;
    return ::testing::AssertionFailure() << when << ": " << s.ToString() << o.str();
  }
  const int saved = xb_SetOrder(0);
  for (int t = 0; t < 5; ++t) {
    xb_SetOrder(0);
    const std::vector<long> want = ExpectedOrder(t);
    xb_SetOrder(t + 1);
    if (WalkForward() != want) return ::testing::AssertionFailure() << when << ": order " << kTaskTags[t] << " forward";
    if (WalkBackward() != want) return ::testing::AssertionFailure() << when << ": order " << kTaskTags[t] << " backward";
    // Every key seeks to the first record that has it.
    for (size_t i = 0; i < want.size(); i += 1 + want.size() / 50) {
      xb_SetOrder(0);
      xb_Go(want[i]);
      const std::string key = TaskKey(t);
      xb_SetOrder(t + 1);
      if (!xb_Seek(key.c_str())) return ::testing::AssertionFailure() << when << ": seek in " << kTaskTags[t];
      xb_SetOrder(0);
      const long found = xb_RecNo();
      if (TaskKey(t) != key) return ::testing::AssertionFailure() << when << ": seek in " << kTaskTags[t] << " found another key";
      const auto at = std::find(want.begin(), want.end(), found);
      if (at == want.end()) return ::testing::AssertionFailure() << when << ": seek in " << kTaskTags[t] << " found a record not in the order";
      if (at != want.begin()) {
        xb_Go(*(at - 1));
        if (TaskKey(t) == key)
          return ::testing::AssertionFailure() << when << ": seek in " << kTaskTags[t] << " did not land on the first record of its key";
      }
    }
  }
  xb_SetOrder(saved);
  return ::testing::AssertionSuccess();
}

inline void BuildTaskTags(const char* condition = "not Deleted()") {
  for (int i = 0; i < 5; ++i)
    ASSERT_EQ(xb_IndexTag("", kTaskTags[i], kTaskKeys[i], 0, 0, condition), i + 1) << xb_ErrorText();
}

}  // namespace xbtest
