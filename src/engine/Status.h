#pragma once

#include <string>
#include <utility>

namespace xb {

// Result of an engine operation: a code and a message that names the file and the problem.
// The engine never throws across its API; every fallible call hands one of these back.
class Status {
 public:
  enum Code {
    kOk = 0,
    kNotFound = 1,
    kCorrupt = 2,
    kIoError = 3,
    kInvalidArgument = 4,
    kLocked = 5,
    kNotOpen = 6,
    kReadOnly = 7,
    kDiskFull = 8,
    kSyntax = 9,
  };

  Status() = default;
  static Status Ok() { return Status(); }
  static Status NotFound(std::string msg) { return Status(kNotFound, std::move(msg)); }
  static Status Corrupt(std::string msg) { return Status(kCorrupt, std::move(msg)); }
  static Status IoError(std::string msg) { return Status(kIoError, std::move(msg)); }
  static Status InvalidArgument(std::string msg) { return Status(kInvalidArgument, std::move(msg)); }
  static Status Locked(std::string msg) { return Status(kLocked, std::move(msg)); }
  static Status NotOpen(std::string msg) { return Status(kNotOpen, std::move(msg)); }
  static Status ReadOnly(std::string msg) { return Status(kReadOnly, std::move(msg)); }
  static Status DiskFull(std::string msg) { return Status(kDiskFull, std::move(msg)); }
  static Status Syntax(std::string msg) { return Status(kSyntax, std::move(msg)); }

  bool ok() const { return code_ == kOk; }
  Code code() const { return code_; }
  const std::string& message() const { return message_; }
  std::string ToString() const;

 private:
  Status(Code code, std::string msg) : code_(code), message_(std::move(msg)) {}

  Code code_ = kOk;
  std::string message_;
};

}  // namespace xb

// Hands a failed Status straight back to the caller; the engine's way of propagating errors
// without exceptions. The local's name is unusual so it cannot shadow the caller's variables.
#define RETURN_IF_ERROR(expr)                            \
  do {                                                   \
    ::xb::Status returned_status_ = (expr);              \
    if (!returned_status_.ok()) return returned_status_; \
  } while (0)
