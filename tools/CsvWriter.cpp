#include "CsvWriter.h"

#include <cerrno>
#include <cstring>

namespace {
constexpr size_t kFlushAt = 1 << 16;
}

void CsvWriter::Field(std::string_view text) {
  if (fields_in_row_ > 0) buffer_ += ',';
  ++fields_in_row_;
  if (!text.empty()) row_blank_ = false;
  if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
    buffer_ += text;
    return;
  }
  buffer_ += '"';
  for (char c : text) {
    if (c == '"') buffer_ += '"';
    buffer_ += c;
  }
  buffer_ += '"';
}

void CsvWriter::EndRow() {
  // A row of one empty field would be a blank line, which readers skip: quote it instead.
  if (fields_in_row_ == 1 && row_blank_) buffer_ += "\"\"";
  buffer_ += '\n';
  fields_in_row_ = 0;
  row_blank_ = true;
  if (buffer_.size() >= kFlushAt) Flush();
}

void CsvWriter::Flush() {
  if (!buffer_.empty() && write_errno_ == 0) {
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size())
      write_errno_ = errno != 0 ? errno : EIO;
  }
  buffer_.clear();
}

bool CsvWriter::Finish(std::string* error) {
  Flush();
  if (write_errno_ == 0 && std::fflush(out_) != 0) write_errno_ = errno != 0 ? errno : EIO;
  if (write_errno_ != 0) {
    *error = std::string("cannot write the output: ") + std::strerror(write_errno_);
    return false;
  }
  return true;
}
