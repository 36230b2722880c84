#include "Status.h"

namespace xb {

std::string Status::ToString() const {
  if (ok()) return "OK";
  const char* kind = "Error";
  switch (code_) {
    case kOk: break;
    case kNotFound: kind = "Not found"; break;
    case kCorrupt: kind = "Corrupt file"; break;
    case kIoError: kind = "I/O error"; break;
    case kInvalidArgument: kind = "Invalid argument"; break;
    case kLocked: kind = "Locked"; break;
    case kNotOpen: kind = "Not open"; break;
    case kReadOnly: kind = "Read-only"; break;
    case kDiskFull: kind = "Disk full"; break;
    case kSyntax: kind = "Syntax error"; break;
  }
  return std::string(kind) + ": " + message_;
}

}  // namespace xb
