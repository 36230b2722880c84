#include "report/ExportFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "db/Cp1252.h"

namespace {

// Lines are gathered up to this size before they go to the file: one write per line would make
// a long export spend its time in the kernel.
constexpr qsizetype kBufferSize = 256 * 1024;

// Written data is handed to the disk in pieces of this size while the export goes on.
[[maybe_unused]] constexpr qint64 kWritebackChunk = 8 * 1024 * 1024;

// The code page's byte for a character, "?" when it has none.
inline char FileByte(char16_t u) {
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return char(u);
  QByteArray byte;
  Cp1252::Encode(QString(QChar(u)), &byte);
  return byte.isEmpty() ? '?' : byte.at(0);
}

// The permissions a newly created file gets from the process's umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

ExportFile::ExportFile(QString fileName) : fileName_(std::move(fileName)) {}

ExportFile::~ExportFile() {
  Discard();
}

QString ExportFile::MessageForError(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
    case EBUSY:
      return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return QStringLiteral("Disk full");
    case ENOENT:
    case ENOTDIR:
      return QStringLiteral("File not found");
    default:
      return QStringLiteral("I/O error %1").arg(error);
  }
}

bool ExportFile::Fail(int error) {
  error_ = error != 0 ? error : EIO;
  Discard();
  return false;
}

void ExportFile::Discard() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.isEmpty()) {
    ::unlink(tempPath_.constData());
    tempPath_.clear();
  }
}

bool ExportFile::Open() {
  if (Failed()) return false;
  if (fileName_.isEmpty()) return Fail(ENOENT);
  const QFileInfo target(fileName_);
  // The temporary file must lie in the target's folder so that the final rename stays on one
  // file system and is atomic.
  QByteArray pattern = QFile::encodeName(target.absolutePath() + QLatin1String("/.") +
                                         target.fileName() + QLatin1String(".XXXXXX"));
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return Fail(errno);
  fd_ = fd;
  tempPath_ = pattern;
  // The replacement keeps the permissions of the file it replaces; a new file gets the usual
  // ones rather than mkstemp's private 0600.
  struct stat existing {};
  const QByteArray targetPath = QFile::encodeName(target.absoluteFilePath());
  const mode_t mode =
      ::stat(targetPath.constData(), &existing) == 0 ? (existing.st_mode & 07777) : NewFileMode();
  ::fchmod(fd_, mode);
  buffer_.resize(size_t(kBufferSize));
  used_ = 0;
  return true;
}

QByteArray ExportFile::Encode(QStringView text) {
  QByteArray out(text.size(), Qt::Uninitialized);
  char* p = out.data();
  for (const QChar c : text) *p++ = FileByte(c.unicode());
  return out;
}

bool ExportFile::WriteLine(QStringView line) {
  Write(line);
  return EndLine();
}

bool ExportFile::WriteLine(QLatin1String line) {
  Write(line);
  return EndLine();
}

char* ExportFile::Reserve(qsizetype bytes) {
  if (Failed() || fd_ < 0) return nullptr;
  if (used_ + bytes > qsizetype(buffer_.size())) {
    if (used_ > 0 && !Flush()) return nullptr;
    if (bytes > qsizetype(buffer_.size())) buffer_.resize(size_t(bytes));
  }
  char* start = buffer_.data() + used_;
  used_ += bytes;
  return start;
}

void ExportFile::Write(QStringView text) {
  // Most text is ASCII and goes straight into the buffer; only other characters need the code
  // page's table.
  char* out = Reserve(text.size());
  if (out == nullptr) return;
  for (const QChar c : text) *out++ = FileByte(c.unicode());
}

void ExportFile::Write(QLatin1String text) {
  Write(text.data(), text.size());
}

void ExportFile::Write(const char* bytes, qsizetype size) {
  char* out = Reserve(size);
  if (out != nullptr) std::memcpy(out, bytes, size_t(size));
}

void ExportFile::Write(QChar c) {
  Write(QStringView(&c, 1));
}

bool ExportFile::EndLine() {
  Write("\r\n", 2);
  return !Failed();
}

bool ExportFile::Flush() {
  const char* data = buffer_.data();
  qsizetype left = used_;
  while (left > 0) {
    const ssize_t written = ::write(fd_, data, size_t(left));
    if (written < 0) {
      if (errno == EINTR) continue;
      return Fail(errno);
    }
    data += written;
    left -= written;
  }
  fileSize_ += used_;
  used_ = 0;
  StartWriteback();
  return true;
}

void ExportFile::StartWriteback() {
#ifdef __linux__
  // A large export would otherwise leave all its pages for the final sync and wait for the disk
  // only at the end; handing them to the disk as they fill lets the disk work while the rows
  // are made. The final fsync still decides when the file is safe.
  if (fileSize_ - writebackStart_ < kWritebackChunk) return;
  ::sync_file_range(fd_, off_t(writebackStart_), off_t(fileSize_ - writebackStart_),
                    SYNC_FILE_RANGE_WRITE);
  writebackStart_ = fileSize_;
#endif
}

bool ExportFile::Commit() {
  if (Failed() || fd_ < 0) return false;
  if (!Flush()) return false;
  if (::fsync(fd_) != 0) return Fail(errno);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return Fail(errno);
  const QByteArray targetPath = QFile::encodeName(QFileInfo(fileName_).absoluteFilePath());
  if (::rename(tempPath_.constData(), targetPath.constData()) != 0) return Fail(errno);
  tempPath_.clear();
  return true;
}
