#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Writes RFC 4180 CSV: a field holding a comma, a quote, CR or LF is quoted with its quotes
// doubled, and rows end with LF. Output is buffered; Finish() tells whether all of it was written.
class CsvWriter {
 public:
  explicit CsvWriter(std::FILE* out) : out_(out) {}

  void Field(std::string_view text);
  void EndRow();
  // Flushes. False with the system's message when any write failed (a full disk, a closed pipe).
  bool Finish(std::string* error);

 private:
  void Flush();

  std::FILE* out_;
  std::string buffer_;
  int fields_in_row_ = 0;
  bool row_blank_ = true;
  int write_errno_ = 0;
};
