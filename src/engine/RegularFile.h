#pragma once

#include <sys/stat.h>

#include <string>

namespace xb {

// Opens a file the engine is to read or map, only when it is a regular file. A named pipe in
// place of a table would block the open (and every read) for ever, and a device may act on
// being opened: both are refused before they are opened. The open itself does not block
// either (O_NONBLOCK), for a file swapped for a pipe in between, and what was opened is
// checked again.
//
// Returns the descriptor (close-on-exec, blocking mode restored) with `*st` filled in; or -1
// with errno set by the failed open or stat; or -1 with errno EINVAL and `*kind` naming what the
// path is ("a named pipe", "a folder", ...) when it is not a regular file.
int OpenRegularFile(const std::string& path, int flags, struct stat* st, std::string* kind);

// What `path` is when it exists and is not a regular file ("a named pipe", ...); "" for a
// regular file, a link to one, or nothing at all.
std::string NonRegularKind(const std::string& path);

// "PATH: not a regular file but KIND; the table's files must be ordinary files".
std::string NotRegularMessage(const std::string& path, const std::string& kind);

// The file a symbolic link leads to (followed to the end), or `path` itself when it is not a
// link. Files kept elsewhere and linked into the data folder are replaced where they are: a
// new file renamed over the link itself would leave the real file behind, unchanged.
std::string ResolvedPath(const std::string& path);

}  // namespace xb
