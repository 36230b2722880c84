// Every command that changes tasks, run with the first, second, ... n-th file write, growth,
// sync, rename or open for writing failing, until it runs to its end without meeting the
// failure. After each run the table is opened again as the program would open it: every task
// acknowledged before is there exactly once with its own note, a change reported as failed left
// no trace, one reported as done is there, and the index check passes.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "Engine.h"
#include "FaultInjection.h"
#include "TaskOrders.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

constexpr int kTasks = 40;

struct Task {
  std::string note;
  std::string keys;
  bool deleted = false;
};
using Tasks = std::map<std::string, Task>;

std::string Name(int i) { return "TASK-" + std::to_string(i); }

std::string NoteOf(const std::string& name, int version) {
  std::string note = "note of " + name + " version " + std::to_string(version) + "\r\n";
  note.append((name.size() * 37 + static_cast<size_t>(version) * 101) % 400, 'n');
  return note;
}

struct ToolRun {
  int exit_code = -1;
  std::string out, err;
  unsigned long long points = 0;  // fault points the command passed
};

std::string ReadFile(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Runs xbtool with the n-th fault point failing (0: none).
ToolRun RunTool(const TempDir& dir, const std::vector<std::string>& args, unsigned long long fail_at) {
  const std::string out = dir.File("out.txt"), err = dir.File("err.txt");
  pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(o, 1);
    dup2(e, 2);
    std::vector<char*> argv;
    std::string tool = XBTOOL_PATH;
    argv.push_back(tool.data());
    std::vector<std::string> copies = args;
    for (auto& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    setenv("XBTOOL_TEST_FAIL_IO_AT", std::to_string(fail_at).c_str(), 1);
    execv(tool.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ToolRun r;
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  const std::string marker = "xbtool: io points passed: ";
  const size_t at = r.err.rfind(marker);
  if (at != std::string::npos) r.points = std::stoull(r.err.substr(at + marker.size()));
  return r;
}

// A failure reported by a change says that nothing changed, unless the table could not even
// be opened.
bool SaysUnchanged(const ToolRun& run, const char* words) {
  return run.err.find(words) != std::string::npos ||
         run.err.find("xbtool: cannot open the table") == 0;
}

// Figures over all runs, for the report at the end.
struct Tally {
  size_t runs = 0, failed = 0, lost = 0, doubled = 0, torn = 0, unknown = 0;
};

class FaultedCommands : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const std::string path = dir_->File("LWISE.DBF");
    ASSERT_NE(CreateTaskTable(path), 0);
    tasks_ = new Tasks();
    for (int i = 1; i <= kTasks; ++i) {
      ASSERT_TRUE(xb_AppendBlank());
      Task t{NoteOf(Name(i), 0), "key " + std::to_string(i % 7), i % 9 == 4};
      ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, Name(i).c_str()));
      ASSERT_TRUE(xb_Replace("KEYS", XB_VAL_STRING, t.keys.c_str()));
      char date[16];
      std::snprintf(date, sizeof date, "2025%02d%02d", 1 + i % 12, 1 + i % 28);
      ASSERT_TRUE(xb_Replace("DATE", XB_VAL_STRING, date));
      ASSERT_TRUE(xb_ReplaceMemo("NOTE", t.note.data(), static_cast<long>(t.note.size())));
      if (t.deleted) {
        ASSERT_TRUE(xb_Delete());
      }
      (*tasks_)[Name(i)] = t;
    }
    BuildTaskTags();
    xb_CloseAll();
    for (const char* ext : {"DBF", "fpt", "cdx"})
      pristine_[ext] = ReadBytes(dir_->File(std::string("LWISE.") + ext));
  }
  static void TearDownTestSuite() {
    std::printf("fault injection: %zu runs, %zu reported failure, tasks lost %zu, doubled %zu, "
                "torn %zu, unknown %zu\n", tally_.runs, tally_.failed, tally_.lost, tally_.doubled,
                tally_.torn, tally_.unknown);
    delete tasks_;
    delete dir_;
  }

  std::string Path() const { return dir_->File("LWISE.DBF"); }

  // Puts the table back as it was before any command ran, and removes what runs left beside it.
  void Restore() const {
    xb_CloseAll();
    for (const auto& entry : std::filesystem::directory_iterator(dir_->path()))
      std::filesystem::remove(entry.path());
    for (const auto& [ext, bytes] : pristine_) WriteBytes(dir_->File(std::string("LWISE.") + ext), bytes);
  }

  // Opens the table as the program does (a writable open rebuilds an index left behind) and
  // compares it with `want`; `packed`: no record marked deleted may be left.
  void Verify(const Tasks& want, bool packed, const std::string& when) {
    ASSERT_NE(xb_Use(Path().c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << when << ": " << xb_ErrorText();
    std::map<std::string, int> seen;
    for (long r = 1; r <= xb_RecCount(); ++r) {
      xb_Go(r);
      std::string name = Field("DESCRIPT");
      name.erase(name.find_last_not_of(' ') + 1);
      ++seen[name];
      const auto it = want.find(name);
      if (it == want.end()) {
        ++tally_.unknown;
        ADD_FAILURE() << when << ": record " << r << " holds '" << name << "', which was never acknowledged";
        continue;
      }
      const std::string note = Memo("NOTE");
      std::string keys = Field("KEYS");
      keys.erase(keys.find_last_not_of(' ') + 1);
      if (note != it->second.note || keys != it->second.keys || (xb_Deleted() != 0) != it->second.deleted) {
        ++tally_.torn;
        ADD_FAILURE() << when << ": " << name << " is not as acknowledged (note '" << note.substr(0, 30)
                      << "', keys '" << keys << "', deleted " << xb_Deleted() << ")";
      }
    }
    for (const auto& [name, task] : want) {
      if (packed && task.deleted) {
        if (seen[name] != 0) ADD_FAILURE() << when << ": " << name << " was packed away but is there";
        continue;
      }
      if (seen[name] == 0) ++tally_.lost;
      if (seen[name] > 1) ++tally_.doubled;
      EXPECT_EQ(seen[name], 1) << when << ": task " << name;
    }
    EXPECT_TRUE(OrdersMatchTable(when));
    xb_CloseAll();
  }

  // Runs `args` with each fault point failing in turn. `expect(run, &want, &packed)` tells what
  // the table must hold after the run, from what the run reported. Returns the points tried.
  template <typename Expect>
  size_t Exercise(const std::string& what, const std::vector<std::string>& args, Expect expect) {
    size_t n = 1;
    for (;; ++n) {
      Restore();
      const ToolRun run = RunTool(*dir_, args, n);
      ++tally_.runs;
      if (run.exit_code != 0) ++tally_.failed;
      const std::string when = what + " with fault point " + std::to_string(n) + " (exit " +
                               std::to_string(run.exit_code) + ": " + run.err.substr(0, 300) + ")";
      EXPECT_TRUE(run.exit_code == 0 || run.exit_code == 1) << when;
      EXPECT_TRUE(run.exit_code == 0 || run.err.find("xbtool: /") != std::string::npos ||
                  run.err.find("xbtool: cannot") != std::string::npos) << when << ": a failure says what failed";
      Tasks want = *tasks_;
      bool packed = false;
      expect(run, &want, &packed);
      Verify(want, packed, when);
      if (HasFailure()) break;
      if (run.points < n) {
        // The command ran to its end without reaching the failing point: it must have worked.
        EXPECT_EQ(run.exit_code, 0) << when;
        break;
      }
      EXPECT_LT(n, 500u) << what << " never ends";
      if (n >= 500) break;
    }
    std::printf("%s: %zu fault points tried\n", what.c_str(), n);
    return n;
  }

  static TempDir* dir_;
  static Tasks* tasks_;
  static std::map<std::string, std::vector<uint8_t>> pristine_;
  static Tally tally_;
};

TempDir* FaultedCommands::dir_ = nullptr;
Tasks* FaultedCommands::tasks_ = nullptr;
std::map<std::string, std::vector<uint8_t>> FaultedCommands::pristine_;
Tally FaultedCommands::tally_;

}  // namespace

TEST_F(FaultedCommands, AppendWithNote) {
  const std::string note = NoteOf("NEW-TASK", 0);
  for (const char* mode : {"", "--shared"}) {
    std::vector<std::string> args = {"append", Path(), "DESCRIPT=NEW-TASK", "KEYS=new",
                                     "DATE=20250606", "NOTE=" + note};
    if (*mode) args.push_back(mode);
    Exercise(std::string("append ") + mode, args, [&](const ToolRun& run, Tasks* want, bool*) {
      if (run.exit_code == 0) {
        (*want)["NEW-TASK"] = Task{note, "new", false};
      } else {
        EXPECT_TRUE(SaysUnchanged(run, "nothing was appended")) << run.err;
      }
    });
  }
}

TEST_F(FaultedCommands, EditFieldsAndNote) {
  const std::string note = NoteOf(Name(5), 1) + std::string(300, 'e');  // longer: new blocks
  for (const char* mode : {"", "--shared"}) {
    std::vector<std::string> args = {"edit", Path(), "5", "KEYS=edited", "NOTE=" + note};
    if (*mode) args.push_back(mode);
    Exercise(std::string("edit ") + mode, args, [&](const ToolRun& run, Tasks* want, bool*) {
      if (run.exit_code == 0) {
        (*want)[Name(5)].keys = "edited";
        (*want)[Name(5)].note = note;
      } else {
        EXPECT_TRUE(SaysUnchanged(run, "left as it was")) << run.err;
      }
    });
  }
}

TEST_F(FaultedCommands, DeleteAndRecall) {
  ASSERT_FALSE((*tasks_)[Name(7)].deleted);
  ASSERT_TRUE((*tasks_)[Name(4)].deleted);
  for (const char* mode : {"", "--shared"}) {
    std::vector<std::string> del = {"delete", Path(), "7"};
    std::vector<std::string> rec = {"recall", Path(), "4"};
    if (*mode) {
      del.push_back(mode);
      rec.push_back(mode);
    }
    Exercise(std::string("delete ") + mode, del, [&](const ToolRun& run, Tasks* want, bool*) {
      if (run.exit_code == 0) (*want)[Name(7)].deleted = true;
      else EXPECT_TRUE(SaysUnchanged(run, "left as it was")) << run.err;
    });
    Exercise(std::string("recall ") + mode, rec, [&](const ToolRun& run, Tasks* want, bool*) {
      if (run.exit_code == 0) (*want)[Name(4)].deleted = false;
      else EXPECT_TRUE(SaysUnchanged(run, "left as it was")) << run.err;
    });
  }
}

TEST_F(FaultedCommands, Pack) {
  Exercise("pack", {"pack", Path()}, [&](const ToolRun& run, Tasks*, bool* packed) {
    // A pack whose switch of files was decided says so even when it could not finish: the
    // next open finishes it.
    *packed = run.exit_code == 0 || run.err.find("was packed, but") != std::string::npos;
  });
}

TEST_F(FaultedCommands, Reindex) {
  Exercise("reindex", {"reindex", Path()}, [&](const ToolRun&, Tasks*, bool*) {});
}

// After a pack has put the new files in place, a table object that cannot open them again
// must not go on writing to the old files it still holds.
TEST_F(FaultedCommands, PackThatCannotReopenRefusesFurtherChanges) {
  bool seen = false;
  for (uint64_t n = 1; n < 200 && !seen; ++n) {
    Restore();
    ASSERT_NE(xb_Use(Path().c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
    xb::FaultInjection::Arm(n);
    const int packed = xb_Pack();
    const bool fired = xb::FaultInjection::Fired();
    xb::FaultInjection::Disarm();
    const std::string message = xb_ErrorText();
    if (!packed && message.find("could not be opened again") != std::string::npos) {
      seen = true;
      EXPECT_FALSE(xb_AppendBlank());
      EXPECT_NE(std::string(xb_ErrorText()).find("close it and open it again"), std::string::npos)
          << xb_ErrorText();
      xb_Go(1);
      EXPECT_FALSE(xb_Replace("KEYS", XB_VAL_STRING, "lost"));
      EXPECT_FALSE(xb_Delete());
      EXPECT_FALSE(xb_Commit());
    }
    xb_CloseAll();
    if (!fired) break;
  }
  EXPECT_TRUE(seen) << "no fault point lay in the reopen after the switch";
  Verify(*tasks_, true, "after a pack whose reopen failed");
}

// One damaged page in a tag: changes still go through and say so, the index is set aside and
// rebuilt at the next open, and a second try never doubles a task.
TEST_F(FaultedCommands, DamagedIndexPageNeitherFailsNorDoublesChanges) {
  for (const char* mode : {"", "--shared"}) {
    Restore();
    {
      // Zero the root page of the DATETIME tag: every change of that tag meets it.
      std::unique_ptr<xb::CdxFile> cdx;
      ASSERT_TRUE(xb::CdxFile::Open(dir_->File("LWISE.cdx"), true, &cdx).ok());
      const uint32_t root = cdx->FindTag("DATETIME")->header().root;
      cdx.reset();
      std::vector<uint8_t> bytes = ReadBytes(dir_->File("LWISE.cdx"));
      std::fill_n(bytes.begin() + root, 512, 0);
      WriteBytes(dir_->File("LWISE.cdx"), bytes);
    }
    Tasks want = *tasks_;
    auto run = [&](std::vector<std::string> args) {
      if (*mode) args.push_back(mode);
      const ToolRun r = RunTool(*dir_, args, 0);
      EXPECT_EQ(r.exit_code, 0) << args[0] << " " << mode << ": " << r.err;
      return r;
    };
    const std::string note = NoteOf("NEW-TASK", 0);
    const ToolRun appended =
        run({"append", Path(), "DESCRIPT=NEW-TASK", "KEYS=new", "DATE=20250606", "NOTE=" + note});
    // The open finds the page and builds the index afresh, or the change finds it and leaves
    // the index behind the table: either way the change is made once.
    (void)appended;
    want["NEW-TASK"] = Task{note, "new", false};
    run({"delete", Path(), "7"});
    want[Name(7)].deleted = true;
    run({"recall", Path(), "4"});
    want[Name(4)].deleted = false;
    Verify(want, false, std::string("changes over a damaged index page ") + mode);
  }
}
