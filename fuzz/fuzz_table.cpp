// Fuzz target for the table and memo readers: the input is split into a DBF and an FPT image,
// the pair is opened read-only, read whole and checked, then opened for writing (shared, or
// exclusively when the first byte's top bit is set) and changed a little. Any crash, leak or
// read outside the files is a finding, and so is a memo that was stored but does not read back.
//
// The two files are written for every input, so they live in memory (/dev/shm when there is
// one): on a disk file system, creating, growing and truncating them cost more than everything
// the engine does with them.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Engine.h"
#include "xbengine.h"

namespace {

// The folder of this process's files; kept for the whole run (and removed at its end).
const std::string& Dir() {
  static const std::string* dir = [] {
    struct stat st;
    const char* env = std::getenv("FUZZ_TMPDIR");
    std::string base = env != nullptr && *env != 0                                ? env
                       : stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm"
                                                                            : "/tmp";
    std::string tmpl = base + "/fuzz-table-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) std::abort();
    auto* made = new std::string(tmpl);
    std::atexit([] {
      for (const char* name : {"/F.DBF", "/F.FPT", "/F.CDX"}) std::remove((Dir() + name).c_str());
      rmdir(Dir().c_str());
    });
    return made;
  }();
  return *dir;
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

void ReadAll() {
  std::vector<char> rec(static_cast<size_t>(xb_RecSize()) + 1);
  int guard = 0;
  for (xb_GoTop(); !xb_Eof() && guard < 10000; xb_Skip(1), ++guard) {
    xb_GetRecord(rec.data());
    for (int f = 1; f <= xb_FieldCount(); ++f) {
      char buf[300];
      xb_GetField(xb_FieldName(f), buf, sizeof buf);
      if (xb_FieldType(f) == 'M') {
        long len = 0;
        char* m = xb_GetMemo(xb_FieldName(f), &len);
        xb_MemDealloc(m);
      }
    }
  }
}

void Require(bool ok) {
  if (!ok) std::abort();
}

void CheckMemos() {
  xb::WorkArea* wa = xb::Engine::Instance().Current();
  if (wa != nullptr) (void)wa->table().CheckMemos(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool exclusive = (data[0] & 0x80) != 0;
  size_t split = (static_cast<size_t>(data[0] & 0x7F) << 8 | data[1]) % (size - 1);
  const std::string dbf = Dir() + "/F.DBF";
  const std::string fpt = Dir() + "/F.FPT";
  Write(dbf, data + 2, split);
  Write(fpt, data + 2 + split, size - 2 - split);

  if (xb_Use(dbf.c_str(), "F", XB_READONLY, XB_DRIVER_FOX)) {
    ReadAll();
    CheckMemos();
    xb_CloseAll();
  }
  // Shared opens grow the files by exactly what they need; exclusive ones in large steps.
  if (xb_Use(dbf.c_str(), "F", exclusive ? XB_EXCLUSIVE : XB_SHARED, XB_DRIVER_FOX)) {
    xb_GoTop();
    for (int f = 1; f <= xb_FieldCount(); ++f) {
      if (xb_FieldType(f) == 'M') {
        if (xb_ReplaceMemo(xb_FieldName(f), "fuzz text", 9)) {
          long len = 0;
          char* m = xb_GetMemo(xb_FieldName(f), &len);
          Require(len == 9 && std::string(m, 9) == "fuzz text");
          xb_MemDealloc(m);
        }
      } else {
        xb_Replace(xb_FieldName(f), XB_VAL_STRING, "1");
      }
    }
    CheckMemos();
    xb_AppendBlank();
    xb_Delete();
    xb_GoBottom();
    xb_Recall();
    ReadAll();
    xb_CloseAll();
  }
  return 0;
}
