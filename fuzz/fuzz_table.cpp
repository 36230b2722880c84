// Fuzz target for the table and memo readers: the input is split into a DBF and an FPT image,
// the pair is opened read-only and read whole, then opened for writing and changed a little.
// Any crash, leak or read outside the files is a finding.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "xbengine.h"

namespace {

std::string Dir() {
  static std::string dir = [] {
    char tmpl[] = "/tmp/fuzz-table-XXXXXX";
    return std::string(mkdtemp(tmpl));
  }();
  return dir;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t split = (static_cast<size_t>(data[0]) << 8 | data[1]) % (size - 1);
  const std::string dbf = Dir() + "/F.DBF";
  const std::string fpt = Dir() + "/F.FPT";
  Write(dbf, data + 2, split);
  Write(fpt, data + 2 + split, size - 2 - split);

  if (xb_Use(dbf.c_str(), "F", XB_READONLY, XB_DRIVER_FOX)) {
    ReadAll();
    xb_CloseAll();
  }
  if (xb_Use(dbf.c_str(), "F", XB_EXCLUSIVE, XB_DRIVER_FOX)) {
    xb_GoTop();
    for (int f = 1; f <= xb_FieldCount(); ++f) {
      if (xb_FieldType(f) == 'M') xb_ReplaceMemo(xb_FieldName(f), "fuzz text", 9);
      else xb_Replace(xb_FieldName(f), XB_VAL_STRING, "1");
    }
    xb_AppendBlank();
    xb_Delete();
    xb_GoBottom();
    xb_Recall();
    ReadAll();
    xb_CloseAll();
  }
  return 0;
}
