// A task table whose index file is damaged (cut short, bytes changed in its headers, tag list,
// interior or leaf pages, loops in its links): the table still opens, the damage is either
// reported when it opens or met as a clean error while navigating or changing records, no call
// crashes or hangs, and a rebuild on a writable open repairs the index for good.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>

#include "CdxTestSupport.h"
#include "Engine.h"
#include "TaskOrders.h"
#include "TestUtil.h"
#include "xbengine.h"

using namespace xbtest;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr long kTasks = 3000;

// Where things are in the intact index file.
struct Layout {
  Bytes cdx;
  std::vector<uint32_t> headers;             // tag headers in order
  std::vector<uint32_t> roots;               // tag roots in order
  std::vector<std::vector<uint32_t>> leaves;  // each tag's leaves, left to right
  std::vector<std::vector<uint32_t>> interior;
};

Layout Map(const std::string& path) {
  Layout l;
  l.cdx = ReadBytes(path);
  std::unique_ptr<xb::CdxFile> file;
  EXPECT_TRUE(xb::CdxFile::Open(path, true, &file).ok());
  for (size_t t = 0; t < file->TagCount(); ++t) {
    xb::CdxTag* tag = file->Tag(t);
    l.headers.push_back(tag->header_offset());
    l.roots.push_back(tag->header().root);
    std::vector<uint32_t> pages;
    EXPECT_TRUE(tag->Check(&pages).ok());
    uint32_t first = 0;
    std::vector<uint32_t> inner;
    for (uint32_t p : pages) {
      if ((l.cdx[p] & xb::kCdxAttrLeaf) == 0) inner.push_back(p);
      else if (xb::CdxGetLE32(&l.cdx[p + 4]) == xb::kCdxNoPage) first = p;
    }
    std::vector<uint32_t> chain;
    for (uint32_t at = first; at != xb::kCdxNoPage && chain.size() <= pages.size(); at = xb::CdxGetLE32(&l.cdx[at + 8]))
      chain.push_back(at);
    l.leaves.push_back(chain);
    l.interior.push_back(inner);
  }
  return l;
}

void Put32(Bytes& b, size_t at, uint32_t v) { xb::CdxPutLE32(&b[at], v); }

struct Damage {
  std::string what;
  std::function<void(const Layout&, Bytes&)> apply;
  bool noticed = true;  // the damage is always found: at the open, or by the index check
};

std::vector<Damage> Damages() {
  std::vector<Damage> d;
  const size_t kDescript = 1, kDone = 2, kKeys = 3;
  // Cut short.
  for (size_t size : {size_t{0}, size_t{100}, size_t{512}, size_t{1024}, size_t{2000}}) {
    d.push_back({"cut to " + std::to_string(size) + " bytes", [size](const Layout&, Bytes& b) { b.resize(size); }});
  }
  d.push_back({"cut to half", [](const Layout&, Bytes& b) { b.resize(b.size() / 2 / 512 * 512); }});
  d.push_back({"last page missing", [](const Layout&, Bytes& b) { b.resize(b.size() - 512); }});
  d.push_back({"cut inside a page", [](const Layout&, Bytes& b) { b.resize(b.size() - 100); }});
  // The tag list's header and leaf.
  d.push_back({"tag list root outside the file", [](const Layout&, Bytes& b) { Put32(b, 0, 0x7FFFFE00); }});
  d.push_back({"tag list key length", [](const Layout&, Bytes& b) { b[12] = 11; }});
  d.push_back({"tag list options", [](const Layout&, Bytes& b) { b[14] = 0x60; }});
  d.push_back({"tag list leaf entry count", [](const Layout&, Bytes& b) { b[0x400 + 2] = 40; }});
  d.push_back({"tag list leaf holds a name twice", [](const Layout&, Bytes& b) {
                 // The key bytes of the leaf end with the first names stored: make one name
                 // another's by changing its stored letters.
                 for (size_t i = 0x5F0; i < 0x600; ++i) b[i] = 'A';
               }});
  // A tag's header.
  d.push_back({"tag root outside the file", [=](const Layout& l, Bytes& b) { Put32(b, l.headers[kDescript], 0x40000000); }});
  d.push_back({"tag root in a header page", [=](const Layout& l, Bytes& b) { Put32(b, l.headers[kDescript], 0x400 + 0x200); }});
  d.push_back({"two tags share a root", [=](const Layout& l, Bytes& b) { Put32(b, l.headers[kKeys], l.roots[kDescript]); }});
  d.push_back({"tag key length", [=](const Layout& l, Bytes& b) { b[l.headers[kDescript] + 12] = 49; }});
  d.push_back({"tag key expression names no field", [=](const Layout& l, Bytes& b) { b[l.headers[kDescript] + 512 + 10] = 'X'; }});
  d.push_back({"tag condition is not logical", [=](const Layout& l, Bytes& b) {
                 const size_t h = l.headers[kDone];
                 const size_t at = h + 512 + xb::CdxGetLE16(&b[h + 504]);
                 std::memcpy(&b[at], "DATE\0\0\0\0\0\0\0\0\0\0", 14);
               }});
  d.push_back({"tag option byte", [=](const Layout& l, Bytes& b) { b[l.headers[kKeys] + 14] = 0xFF; }});
  // Interior pages.
  d.push_back({"interior page count zero", [=](const Layout& l, Bytes& b) { b[l.roots[kKeys] + 2] = 0; }});
  d.push_back({"interior page count too large", [=](const Layout& l, Bytes& b) { b[l.roots[kKeys] + 2] = 200; }});
  d.push_back({"interior child in the header", [=](const Layout& l, Bytes& b) { xb::CdxPutBE32(&b[l.roots[kKeys] + 12 + 60 + 4], 0x200); }});
  d.push_back({"interior child misaligned", [=](const Layout& l, Bytes& b) { xb::CdxPutBE32(&b[l.roots[kKeys] + 12 + 60 + 4], l.roots[kKeys] + 3); }});
  d.push_back({"interior child is the root itself", [=](const Layout& l, Bytes& b) { xb::CdxPutBE32(&b[l.roots[kKeys] + 12 + 60 + 4], l.roots[kKeys]); }});
  d.push_back({"interior child is another tag's leaf", [=](const Layout& l, Bytes& b) {
                 xb::CdxPutBE32(&b[l.roots[kKeys] + 12 + 60 + 4], l.leaves[kDone][0]);
               }});
  d.push_back({"interior page marked as a leaf", [=](const Layout& l, Bytes& b) { b[l.roots[kKeys]] = 3; }});
  d.push_back({"interior right link to itself", [=](const Layout& l, Bytes& b) {
                 for (uint32_t p : l.interior[kKeys]) {
                   if (p != l.roots[kKeys]) {
                     Put32(b, p + 8, p);
                     return;
                   }
                 }
               }});
  // Leaf pages.
  d.push_back({"leaf count zero", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 2] = 0; }});
  d.push_back({"leaf count too large", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 2] = 255; }});
  d.push_back({"leaf free-space word", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 12] ^= 0x40; }});
  d.push_back({"leaf bit counts", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 20] = 30; }});
  d.push_back({"leaf entry bytes", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 23] = 9; }});
  d.push_back({"leaf key bytes", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 511] ^= 0x21; }});
  d.push_back({"leaf record number", [=](const Layout& l, Bytes& b) { b[l.leaves[kDescript][5] + 24] ^= 0x5; }});
  d.push_back({"leaf zeroed", [=](const Layout& l, Bytes& b) { std::fill_n(b.begin() + l.leaves[kKeys][3], 512, 0); }});
  // Loops and wrong turns in the sibling links.
  d.push_back({"right link back to an earlier leaf", [=](const Layout& l, Bytes& b) { Put32(b, l.leaves[kDescript][9] + 8, l.leaves[kDescript][2]); }});
  d.push_back({"right link to itself", [=](const Layout& l, Bytes& b) { Put32(b, l.leaves[kKeys][4] + 8, l.leaves[kKeys][4]); }});
  d.push_back({"left link forward to a later leaf", [=](const Layout& l, Bytes& b) { Put32(b, l.leaves[kDescript][4] + 4, l.leaves[kDescript][12]); }});
  d.push_back({"left link to itself", [=](const Layout& l, Bytes& b) { Put32(b, l.leaves[kDone][1] + 4, l.leaves[kDone][1]); }});
  d.push_back({"right link into another tag", [=](const Layout& l, Bytes& b) { Put32(b, l.leaves[kDescript][3] + 8, l.leaves[kKeys][3]); }});
  d.push_back({"right link to an interior page", [=](const Layout& l, Bytes& b) { Put32(b, l.leaves[kKeys][7] + 8, l.interior[kKeys][0]); }});
  // Scattered damage.
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    // Random bytes may land in unused parts of pages, where they change nothing.
    d.push_back({"random damage " + std::to_string(seed), [seed](const Layout&, Bytes& b) {
                   std::mt19937 rng(seed);
                   for (int k = 0; k < 6; ++k) b[1024 + rng() % (b.size() - 1024)] = static_cast<uint8_t>(rng());
                 }, false});
  }
  return d;
}

// ---- the exercise, in a child process so that a crash or a hang is seen as such ----
std::string g_problems;
constexpr const char* kUnnoticed = "the damage went unnoticed\n";

void Note(const std::string& what) {
  if (g_problems.size() < 2000) g_problems += what + "\n";
}

// A failed call must say what failed; a successful one leaves no message.
bool Checked(int ok, const std::string& call) {
  if (!ok && (xb_Error() == 0 || xb_ErrorText()[0] == 0)) Note(call + " failed without a message");
  return ok != 0;
}

void Walk(int order, bool forward) {
  const long bound = xb_RecCount() + 2;
  if (!Checked(forward ? xb_GoTop() : xb_GoBottom(), "go top/bottom")) return;
  long steps = 0;
  while (!xb_Eof() && !(!forward && xb_Bof())) {
    if (++steps > bound) {
      Note("order " + std::to_string(order) + (forward ? ": the forward walk" : ": the backward walk") + " does not end");
      return;
    }
    if (!Checked(xb_Skip(forward ? 1 : -1), "skip")) return;
  }
}

void Exercise(const std::string& path, int mode) {
  if (xb_Use(path.c_str(), "", mode, XB_DRIVER_FOX) == 0) {
    Note(std::string("the table does not open: ") + xb_ErrorText());
    return;
  }
  if (xb_RecCount() != kTasks) Note("the table lost records");
  const std::string problem = xb::Engine::Instance().Current()->table().index_problem();
  const int orders = static_cast<int>(xb_SysProp(3000, -1));
  if (!problem.empty()) {
    if (orders != 0) Note("an index reported as unusable is in use");
    if (problem.find("rebuild") == std::string::npos) Note("the problem does not say what to do: " + problem);
  } else if (mode == XB_READONLY) {
    std::vector<std::string> report;
    xb::Table& table = xb::Engine::Instance().Current()->table();
    if (table.CheckIndexes(&report).ok()) g_problems += kUnnoticed;
  }
  for (int o = 0; o <= orders; ++o) {
    xb_SetOrder(o);
    Walk(o, true);
    Walk(o, false);
    if (o == 0) continue;
    for (const char* key : {"2024", "TASK 1", "T", "K", "A", ""}) {
      xb_Seek(key);
      Checked(xb_Error() == 0, std::string("seek ") + key);
    }
    xb_SetScope("A", "M");
    Checked(xb_QueryRecCount() >= 0 && xb_Error() == 0, "count in a scope");
    xb_SetScope("", "");
  }
  if (mode != XB_READONLY) {
    xb_SetOrder(orders > 1 ? 2 : 0);
    for (long r = 1; r <= kTasks; r += 97) {
      xb_Go(r);
      Checked(xb_Replace("DESCRIPT", XB_VAL_STRING, ("changed " + std::to_string(r)).c_str()), "replace");
      xb_Go(r + 1);
      Checked(xb_Delete(), "delete");
      Checked(xb_Recall(), "recall");
      Checked(xb_Skip(1), "skip after a change");
    }
    for (int i = 0; i < 20; ++i) {
      if (Checked(xb_AppendBlank(), "append")) Checked(xb_Replace("KEYS", XB_VAL_STRING, "appended"), "replace after append");
    }
    Checked(xb_Commit(), "commit");
  }
  xb_CloseAll();
}

// Runs the exercise in a child; returns what went wrong ("" when nothing did).
std::string ExerciseInChild(const std::string& path, int mode) {
  int fds[2];
  if (pipe(fds) != 0) return "no pipe";
  xb_CloseAll();
  pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    alarm(60);  // a hang ends the child with SIGALRM
    Exercise(path, mode);
    if (!g_problems.empty() && write(fds[1], g_problems.data(), g_problems.size()) < 0) _exit(3);
    _exit(g_problems.empty() ? 0 : 1);
  }
  close(fds[1]);
  std::string out;
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status))
    out += WTERMSIG(status) == SIGALRM ? "a call hung\n" : "crashed with signal " + std::to_string(WTERMSIG(status)) + "\n";
  else if (WEXITSTATUS(status) > 1)
    out += "the exercise ended with status " + std::to_string(WEXITSTATUS(status)) + "\n";
  return out;
}

class IndexDamage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    const std::string path = dir_->File("DAMAGE.DBF");
    ASSERT_NE(CreateTaskTable(path), 0);
    std::mt19937 rng(4);
    for (long n = 1; n <= kTasks; ++n) {
      ASSERT_TRUE(xb_AppendBlank());
      const std::string d = "task " + std::to_string(rng() % 2000) + " " + std::string(rng() % 40, 'x');
      const std::string k = std::string(1 + rng() % 40, static_cast<char>('a' + rng() % 26)) + std::to_string(n);
      char date[16];
      std::snprintf(date, sizeof date, "2024%02u%02u", 1 + static_cast<unsigned>(rng() % 12), 1 + static_cast<unsigned>(rng() % 28));
      int done = static_cast<int>(rng() % 2);
      ASSERT_TRUE(xb_Replace("DESCRIPT", XB_VAL_STRING, d.c_str()) && xb_Replace("KEYS", XB_VAL_STRING, k.c_str()) &&
                  xb_Replace("DATE", XB_VAL_STRING, date) && xb_Replace("PRIORITY", XB_VAL_STRING, rng() % 2 ? "A" : "B") &&
                  xb_Replace("DONE", XB_VAL_LOGICAL, &done));
      if (n % 13 == 0) {
        ASSERT_TRUE(xb_Delete());
      }
    }
    BuildTaskTags();
    xb_CloseAll();
    dbf_ = new Bytes(ReadBytes(path));
    fpt_ = new Bytes(ReadBytes(dir_->File("DAMAGE.fpt")));
    layout_ = new Layout(Map(dir_->File("DAMAGE.cdx")));
  }
  static void TearDownTestSuite() {
    delete layout_;
    delete dbf_;
    delete fpt_;
    delete dir_;
  }

  std::string Path() const { return dir_->File("DAMAGE.DBF"); }
  void Install(const Bytes& cdx) const {
    WriteBytes(dir_->File("DAMAGE.DBF"), *dbf_);
    WriteBytes(dir_->File("DAMAGE.fpt"), *fpt_);
    WriteBytes(dir_->File("DAMAGE.cdx"), cdx);
  }

  // A writable open and a rebuild leave a sound index with the five tags, and it stays so. A
  // rebuild that cannot recover the tag definitions must say so; the program then deletes the
  // unreadable file and creates the tags again.
  void Repair(const std::string& what) {
    ASSERT_NE(xb_Use(Path().c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << what << ": " << xb_ErrorText();
    const std::string problem = xb::Engine::Instance().Current()->table().index_problem();
    xb::Status s = xb::Engine::Instance().Current()->table().RebuildIndexes(nullptr);
    xb::Engine::Instance().Current()->OrdersChanged();
    if (!s.ok()) {
      EXPECT_NE(s.message(), "") << what;
      xb_CloseAll();
      ASSERT_TRUE(std::filesystem::remove(dir_->File("DAMAGE.cdx"))) << what;
      ASSERT_NE(xb_Use(Path().c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << what << ": " << xb_ErrorText();
      BuildTaskTags();
    } else {
      EXPECT_EQ(xb_SysProp(3000, -1), 5) << what << ": the rebuild reported success but left "
                                         << xb_SysProp(3000, -1) << " orders (problem at open: " << problem << ")";
    }
    EXPECT_EQ(xb::Engine::Instance().Current()->table().index_problem(), "") << what;
    xb_CloseAll();
    ASSERT_NE(xb_Use(Path().c_str(), "", XB_EXCLUSIVE, XB_DRIVER_FOX), 0) << what << ": " << xb_ErrorText();
    EXPECT_EQ(xb::Engine::Instance().Current()->table().index_problem(), "") << what << ": the repair did not last";
    if (xb_SysProp(3000, -1) == 5) {
      EXPECT_TRUE(OrdersMatchTable(what + ", repaired"));
    }
    xb_CloseAll();
  }

  static TempDir* dir_;
  static Bytes* dbf_;
  static Bytes* fpt_;
  static Layout* layout_;
};

TempDir* IndexDamage::dir_ = nullptr;
Bytes* IndexDamage::dbf_ = nullptr;
Bytes* IndexDamage::fpt_ = nullptr;
Layout* IndexDamage::layout_ = nullptr;

}  // namespace

TEST_F(IndexDamage, TheIntactIndexPassesTheExercise) {
  ASSERT_GT(layout_->interior[3].size(), 2u);  // KEYS has interior levels
  ASSERT_GT(layout_->leaves[1].size(), 13u);
  Install(layout_->cdx);
  EXPECT_EQ(ExerciseInChild(Path(), XB_READONLY), kUnnoticed);
  EXPECT_EQ(ExerciseInChild(Path(), XB_EXCLUSIVE), "");
  Repair("intact");
}

TEST_F(IndexDamage, DamagedIndexesFailCleanlyAndARebuildRepairsThem) {
  for (const Damage& d : Damages()) {
    Bytes bad = layout_->cdx;
    d.apply(*layout_, bad);
    ASSERT_NE(bad, layout_->cdx) << d.what << ": the damage changed nothing";
    Install(bad);
    std::string found = ExerciseInChild(Path(), XB_READONLY);
    if (!d.noticed && found.find(kUnnoticed) == 0) found.erase(0, std::strlen(kUnnoticed));
    EXPECT_EQ(found, "") << d.what << ", read-only";
    EXPECT_EQ(ExerciseInChild(Path(), XB_SHARED), "") << d.what << ", shared";
    Install(bad);
    EXPECT_EQ(ExerciseInChild(Path(), XB_EXCLUSIVE), "") << d.what << ", exclusive";
    // Repair what the exclusive exercise left behind.
    Repair(d.what);
  }
}
