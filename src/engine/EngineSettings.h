#pragma once

#include <map>

namespace xb {

// The engine-wide settings. Work areas read them at each call, so a change takes effect at once.
struct EngineSettings {
  bool century = false;
  int date_format = 0;
  bool deleted = false;     // navigation passes over records with the deletion mark
  bool exact = false;       // strict '=' on character values
  bool soft_seek = false;   // a failed seek lands on the next greater key
  int lock_timeout = 1;     // seconds a record lock waits
  int memo_block_size = 64; // for memo files created from now on
  bool turbo_read = false;
  int string_type = 1;
  int error_level = 1;
  std::map<int, long> properties;
  long gauge_window = 0;                       // progress reports go to this window
  void (*progress_sink)(long, int) = nullptr;  // and through this call  // engine properties without a meaning of their own here
};

}  // namespace xb
