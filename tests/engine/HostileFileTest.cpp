// Task files that are not what they should be: a pipe, a folder or a device in a file's place,
// files linked in from elsewhere, an index with a page of zeros, a tag build that fails half
// way. None of them may block, lose a task, or leave an index the check rejects.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "CdxFile.h"
#include "CdxTag.h"
#include "Engine.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;
namespace fs = std::filesystem;

namespace {

// Runs `body` in a child process that is killed if it takes longer than `seconds`; the child's
// exit code, or 100 + the signal that ended it.
template <typename F>
int InChild(F body, unsigned seconds = 30) {
  pid_t pid = fork();
  if (pid == 0) {
    alarm(seconds);
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

std::string Description(long r) { return "task number " + std::to_string(r * 7919 % 1000) + " of " + std::to_string(r); }

// A closed task table of `count` tasks with notes and two tags (trees of several levels).
void MakeIndexed(const std::string& path, long count) {
  ASSERT_NE(CreateTaskTable(path), 0) << xb_ErrorText();
  for (long r = 1; r <= count; ++r) {
    ASSERT_TRUE(xb_AppendBlank());
    xb_Replace("DESCRIPT", XB_VAL_STRING, Description(r).c_str());
    const std::string note = "note " + std::to_string(r);
    xb_ReplaceMemo("NOTE", note.data(), static_cast<long>(note.size()));
  }
  ASSERT_NE(xb_IndexTag("", "DESCRIPT", "DESCRIPT", 0, 0, ""), 0) << xb_ErrorText();
  ASSERT_NE(xb_IndexTag("", "DESCDOWN", "UPPER(DESCRIPT)", 0, 1, ""), 0) << xb_ErrorText();
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();
}

xb::Table& CurrentTable() { return xb::Engine::Instance().Current()->table(); }

std::string IndexCheck() {
  std::vector<std::string> report;
  xb::Status s = CurrentTable().CheckIndexes(&report);
  return s.ok() ? "" : s.message() + (report.empty() ? "" : ": " + report[0]);
}

}  // namespace

// A named pipe in place of any of the table's files (or of the journal a pack leaves), a
// folder, a device: every open is refused at once, saying what is wrong, never blocked.
TEST(HostileFiles, NonRegularFilesAreRefusedAtOnce) {
  TempDir dir;
  const std::string path = dir.File("T.DBF");
  MakeIndexed(path, 10);
  for (const char* name : {"T.DBF", "T.fpt", "T.cdx", "T.DBF-journal"}) {
    for (const char* kind : {"pipe", "folder", "device"}) {
      const std::string file = dir.File(name);
      if (fs::exists(file)) fs::rename(file, file + ".real");
      if (std::string(kind) == "pipe") {
        ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
      } else if (std::string(kind) == "folder") {
        fs::create_directory(file);
      } else {
        fs::create_symlink("/dev/null", file);
      }
      const int rc = InChild([&] {
        for (const int mode : {XB_READONLY, XB_SHARED, XB_EXCLUSIVE}) {
          if (xb_Use(path.c_str(), "", mode, XB_DRIVER_FOX) != 0) return 1;
          const std::string message = xb_ErrorText();
          if (message.find("not a regular file") == std::string::npos) return 2;
          if (message.find(name) == std::string::npos) return 3;
        }
        return 0;
      });
      EXPECT_EQ(rc, 0) << name << " as a " << kind << (rc == 100 + SIGALRM ? ": the open blocked" : "");
      fs::remove(file);
      if (fs::exists(file + ".real")) fs::rename(file + ".real", file);
    }
  }
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 10);
  EXPECT_EQ(IndexCheck(), "");
}

// Files kept elsewhere and linked into the folder: pack and reindex write their new files
// beside the real ones and replace those; the links stay links and see every change.
TEST(HostileFiles, LinkedFilesAreReplacedWhereTheyAre) {
  TempDir dir;
  const std::string real = dir.File("synced");
  const std::string data = dir.File("data");
  fs::create_directory(real);
  fs::create_directory(data);
  MakeIndexed(real + "/T.DBF", 40);
  for (const char* name : {"T.DBF", "T.fpt", "T.cdx"})
    fs::create_symlink(real + "/" + name, data + "/" + name);
  const std::string path = data + "/T.DBF";

  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << xb_ErrorText();
  for (long r = 1; r <= 40; r += 4) {
    xb_Go(r);
    ASSERT_TRUE(xb_Delete());
  }
  ASSERT_TRUE(xb_Pack()) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 30);
  ASSERT_TRUE(CurrentTable().RebuildIndexes(nullptr).ok());
  ASSERT_TRUE(xb_Commit());
  xb_CloseAll();

  std::set<std::string> in_data, in_real;
  for (const auto& e : fs::directory_iterator(data)) {
    in_data.insert(e.path().filename().string());
    EXPECT_TRUE(fs::is_symlink(e.path())) << e.path() << " is no longer a link";
  }
  for (const auto& e : fs::directory_iterator(real)) in_real.insert(e.path().filename().string());
  EXPECT_EQ(in_data, (std::set<std::string>{"T.DBF", "T.fpt", "T.cdx"}));
  EXPECT_EQ(in_real, (std::set<std::string>{"T.DBF", "T.fpt", "T.cdx"}));  // no leftovers
  ASSERT_NE(xb_Use((real + "/T.DBF").c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0) << xb_ErrorText();
  EXPECT_EQ(xb_RecCount(), 30);
  EXPECT_EQ(IndexCheck(), "");
  EXPECT_TRUE(CurrentTable().CheckMemos(nullptr).ok());
  xb_Go(1);
  EXPECT_EQ(Memo("NOTE"), "note 2");
}

// A tag build that fails (another tool's collation in the tag list; a full disk) leaves the
// index file byte for byte as it was, or no index file when the build was to create it.
TEST(HostileFiles, FailedTagBuildLeavesTheIndexAsItWas) {
  TempDir dir;
  const std::string path = dir.File("T.DBF");
  MakeIndexed(path, 3000);
  const std::string cdx = dir.File("T.cdx");
  const std::vector<uint8_t> good = ReadBytes(cdx);

  // The tag list marked with a collation this engine does not know.
  std::vector<uint8_t> foreign = good;
  foreign[24] = 1;
  WriteBytes(cdx, foreign);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_IndexTag("", "NEWTAG", "DATE+DESCRIPT", 0, 0, ""), 0);
  EXPECT_NE(std::string(xb_ErrorText()).find("collation"), std::string::npos) << xb_ErrorText();
  xb_CloseAll();
  EXPECT_TRUE(ReadBytes(cdx) == foreign);
  WriteBytes(cdx, good);

  // No room for the new tag's pages.
  const rlim_t room = static_cast<rlim_t>(good.size() + 16 * 1024);
  auto build_with_little_room = [&] {
    return InChild([&] {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit lim = {room, room};
      setrlimit(RLIMIT_FSIZE, &lim);
      if (xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX) == 0) return 1;
      if (xb_IndexTag("", "NEWTAG", "DESCRIPT+DESCRIPT", 0, 0, "") != 0) return 2;
      if (xb_Error() != 8) return 3;  // kDiskFull
      xb_CloseAll();
      return 0;
    });
  };
  EXPECT_EQ(build_with_little_room(), 0);
  EXPECT_TRUE(ReadBytes(cdx) == good);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_TagName(3), std::string());
  EXPECT_EQ(IndexCheck(), "");
  xb_CloseAll();

  // The same when the build was to create the index file.
  fs::remove(cdx);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0);  // the flag is dropped
  xb_CloseAll();
  EXPECT_EQ(build_with_little_room(), 0);
  EXPECT_FALSE(fs::exists(cdx));
  ASSERT_NE(xb_Use(path.c_str(), "", XB_READONLY, XB_DRIVER_FOX), 0);
  EXPECT_EQ(xb_TagName(1), std::string());
  EXPECT_EQ(CurrentTable().index_problem(), "");
}

// Any page of a tag's tree zeroed: a writable open does not use the index (the program then
// rebuilds it as if it were missing) instead of failing on it later; a rebuild mends it.
TEST(HostileFiles, ZeroedIndexPageIsFoundAtOpen) {
  TempDir dir;
  const std::string path = dir.File("T.DBF");
  MakeIndexed(path, 600);
  const std::string cdx = dir.File("T.cdx");
  const std::vector<uint8_t> good = ReadBytes(cdx);
  std::vector<uint32_t> pages;
  {
    std::unique_ptr<xb::CdxFile> file;
    ASSERT_TRUE(xb::CdxFile::Open(cdx, true, &file).ok());
    for (size_t t = 0; t < file->TagCount(); ++t) ASSERT_TRUE(file->Tag(t)->Check(&pages).ok());
  }
  ASSERT_GT(pages.size(), 10u);
  for (uint32_t page : pages) {
    std::vector<uint8_t> bad = good;
    std::fill(bad.begin() + page, bad.begin() + page + 512, 0);
    {
      // While another program has the table open, the damaged index is left unused and
      // marked behind the table.
      WriteBytes(cdx, good);
      std::unique_ptr<xb::Table> other;
      ASSERT_TRUE(xb::Table::Open(path, xb::Table::Mode::kReadOnly, &other).ok());
      WriteBytes(cdx, bad);
      ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << xb_ErrorText();
      EXPECT_NE(CurrentTable().index_problem(), "") << "page " << page;
      EXPECT_EQ(xb_TagName(1), std::string()) << "page " << page;
      EXPECT_EQ(xb_RecCount(), 600);
      xb_CloseAll();
    }
    // Alone with the table, a program builds the index afresh as it opens it.
    ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0) << xb_ErrorText();
    EXPECT_EQ(CurrentTable().index_problem(), "") << "page " << page;
    EXPECT_EQ(xb_TagName(1), std::string("DESCRIPT")) << "page " << page;
    EXPECT_EQ(IndexCheck(), "") << "page " << page;
    xb_CloseAll();
  }
  WriteBytes(cdx, good);
  std::vector<uint8_t> bad = good;
  std::fill(bad.begin() + pages.back(), bad.begin() + pages.back() + 512, 0);
  WriteBytes(cdx, bad);
  // Rebuilt from the definitions the damaged file still holds.
  ASSERT_EQ(system((std::string(XBTOOL_PATH) + " reindex '" + path + "' > /dev/null").c_str()), 0);
  ASSERT_NE(xb_Use(path.c_str(), "", XB_SHARED, XB_DRIVER_FOX), 0);
  EXPECT_EQ(CurrentTable().index_problem(), "");
  EXPECT_EQ(IndexCheck(), "");
}
