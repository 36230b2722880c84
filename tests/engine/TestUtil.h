#pragma once

// Helpers shared by the engine tests: a scratch folder per test, file bytes, the task table.

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "xbengine.h"

namespace xbtest {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "xbtest-XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    path_ = mkdtemp(buf.data());
  }
  ~TempDir() {
    xb_CloseAll();
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::string DataFile(const std::string& name) { return std::string(LISTWISE_TEST_DATA) + "/" + name; }

// Creates the seven-field task table and leaves it open (exclusively) in the current area.
inline int CreateTaskTable(const std::string& path) {
  int area = xb_CreateNew(path.c_str(), "", XB_DRIVER_FOX, 7);
  if (area == 0) return 0;
  xb_CreateField("DATE", "C", 8, 0);
  xb_CreateField("TIME", "C", 5, 0);
  xb_CreateField("DESCRIPT", "C", 50, 0);
  xb_CreateField("NOTE", "M", 10, 0);
  xb_CreateField("DONE", "L", 1, 0);
  xb_CreateField("KEYS", "C", 60, 0);
  xb_CreateField("PRIORITY", "C", 1, 0);
  return xb_CreateExec() ? area : 0;
}

inline std::string Field(const char* name) {
  char buf[300];
  int n = xb_GetField(name, buf, sizeof buf);
  return std::string(buf, static_cast<size_t>(n));
}

inline std::string Memo(const char* name) {
  long len = 0;
  char* m = xb_GetMemo(name, &len);
  std::string s(m, static_cast<size_t>(len));
  xb_MemDealloc(m);
  return s;
}

inline std::string Padded(std::string s, size_t width) {
  s.resize(width, ' ');
  return s;
}

}  // namespace xbtest
