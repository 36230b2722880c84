#include "RegularFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace xb {

namespace {

std::string KindOf(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "something else";
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, struct stat* st, std::string* kind) {
  // stat follows symbolic links: a link to a regular file is that file.
  if (::stat(path.c_str(), st) != 0) return -1;
  if (!S_ISREG(st->st_mode)) {
    *kind = KindOf(st->st_mode);
    errno = EINVAL;
    return -1;
  }
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  if (!S_ISREG(st->st_mode)) {
    ::close(fd);
    *kind = KindOf(st->st_mode);
    errno = EINVAL;
    return -1;
  }
  const int fl = ::fcntl(fd, F_GETFL);
  if (fl >= 0) ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

std::string NonRegularKind(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "";
  return KindOf(st.st_mode);
}

std::string NotRegularMessage(const std::string& path, const std::string& kind) {
  return path + ": not a regular file but " + kind + "; the table's files must be ordinary files";
}

std::string ResolvedPath(const std::string& path) {
  std::error_code ec;
  if (!std::filesystem::is_symlink(path, ec)) return path;
  const std::filesystem::path real = std::filesystem::canonical(path, ec);
  return ec ? path : real.string();
}

}  // namespace xb
