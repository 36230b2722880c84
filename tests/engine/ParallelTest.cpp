// Jobs that may split over a second thread write the same bytes on one thread: the same table,
// indexed, changed in batches, flushed and packed, both ways, compared file by file.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "Parallel.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

// Builds and changes one table with every job split as far as it can be (kAlways) or with
// none split (kOneThread). The work is far below the usual thresholds, so that kAlways sends
// small jobs down the paths that large tables take.
void BuildTable(const TempDir& dir, xb::Parallel::Mode mode) {
  xb::Parallel::ModeScope scope(mode);
  ASSERT_NE(CreateTaskTable(dir.File("TASKS.DBF")), 0) << xb_ErrorText();
  unsigned seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int r = 0; r < 4000; ++r) {
    ASSERT_NE(xb_AppendBlank(), 0) << xb_ErrorText();
    char date[9];
    std::snprintf(date, sizeof date, "%04u%02u%02u", 1990 + next() % 40, 1 + next() % 12,
                  1 + next() % 28);
    const std::string text = "task " + std::to_string(next() % 997) + " of " + std::to_string(r);
    ASSERT_NE(xb_Replace("DATE", XB_VAL_STRING, date), 0) << xb_ErrorText();
    ASSERT_NE(xb_Replace("DESCRIPT", XB_VAL_STRING, text.c_str()), 0) << xb_ErrorText();
    ASSERT_NE(xb_Replace("DONE", XB_VAL_STRING, next() % 3 == 0 ? "T" : "F"), 0);
    if (r % 5 == 0) {
      const std::string note = "note " + std::to_string(r) + std::string(next() % 300, 'x');
      ASSERT_NE(xb_ReplaceMemo("NOTE", note.c_str(), static_cast<long>(note.size())), 0);
    }
  }
  ASSERT_GT(xb_IndexTag("", "BYDATE", "DATE+TIME", 0, 0, ""), 0) << xb_ErrorText();
  ASSERT_GT(xb_IndexTag("", "OPEN", "upper(DESCRIPT)", 0, 0, ".not.DONE"), 0) << xb_ErrorText();
  ASSERT_GT(xb_IndexTag("", "DONE", "DESCRIPT", 0, 1, "DONE"), 0) << xb_ErrorText();
  ASSERT_NE(xb_Commit(), 0) << xb_ErrorText();
  // Changes spread over many pages of every tag, then a flush; deletions, then a pack.
  for (long r = 1; r <= 4000; r += 3) {
    ASSERT_NE(xb_Go(r), 0) << xb_ErrorText();
    const std::string text = "changed " + std::to_string(next() % 5000);
    ASSERT_NE(xb_Replace("DESCRIPT", XB_VAL_STRING, text.c_str()), 0) << xb_ErrorText();
    if (r % 7 == 1) {
      ASSERT_NE(xb_Delete(), 0) << xb_ErrorText();
    }
  }
  ASSERT_NE(xb_Commit(), 0) << xb_ErrorText();
  ASSERT_NE(xb_Pack(), 0) << xb_ErrorText();
  xb_CloseAll();
}

TEST(ParallelJobs, OneThreadAndTwoWriteTheSameBytes) {
  TempDir one, two;
  const uint64_t before = xb::Parallel::splits();
  BuildTable(one, xb::Parallel::Mode::kOneThread);
  EXPECT_EQ(xb::Parallel::splits(), before);
  BuildTable(two, xb::Parallel::Mode::kAlways);
  EXPECT_GT(xb::Parallel::splits() - before, 0u);
  for (const char* name : {"TASKS.DBF", "TASKS.cdx", "TASKS.fpt"}) {
    const auto a = ReadBytes(one.File(name));
    ASSERT_FALSE(a.empty()) << name;
    EXPECT_TRUE(a == ReadBytes(two.File(name))) << name << " differs";
  }
}

TEST(ParallelJobs, ModeScopePutsTheSettingBack) {
  const xb::Parallel::Mode before = xb::Parallel::mode();
  {
    xb::Parallel::ModeScope scope(xb::Parallel::Mode::kOneThread);
    EXPECT_FALSE(xb::Parallel::Worth(1u << 30, 1));
    EXPECT_FALSE(xb::Parallel::Allowed());
    xb::Parallel::ModeScope inner(xb::Parallel::Mode::kAlways);
    EXPECT_TRUE(xb::Parallel::Worth(0, 1000));
  }
  EXPECT_EQ(xb::Parallel::mode(), before);
}

}  // namespace
