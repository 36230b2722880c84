#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <vector>

// One export file being written: single-byte Windows-1252 text, every line ending in CR LF.
// The lines go to a temporary file beside the target, which replaces the target only when the
// whole file has been written (Commit). An export that fails midway (disk full, a lost device)
// therefore never leaves a half-written file in place of an earlier, complete one; the temporary
// file is removed. After the first failure every further call does nothing and returns false,
// and ErrorMessage() tells the user what went wrong in the words of the program's file errors.
class ExportFile {
 public:
  explicit ExportFile(QString fileName);
  ~ExportFile();
  ExportFile(const ExportFile&) = delete;
  ExportFile& operator=(const ExportFile&) = delete;

  bool Open();
  // `line` must hold only characters the code page has (callers escape or replace the others);
  // any other character is written as "?".
  bool WriteLine(QStringView line);
  bool WriteLine(QLatin1String line);
  // A line built from pieces: Write appends to the line being written, EndLine closes it. A
  // long export writes its rows this way so that no row needs a string of its own.
  void Write(QStringView text);
  void Write(QLatin1String text);
  void Write(QChar c);
  // Bytes that are already the file's text (pieces made by Encode, markup).
  void Write(const char* bytes, qsizetype size);
  void Write(const QByteArray& bytes) { Write(bytes.constData(), bytes.size()); }
  bool EndLine();
  // Room for up to `bytes` bytes, filled in place by the caller and closed by Settle with the
  // end of what it wrote; null once the file has failed. Nothing else may be written between
  // the two.
  char* Claim(qsizetype bytes) { return Reserve(bytes); }
  void Settle(const char* end) { used_ = end - buffer_.data(); }
  // Flushes, syncs and puts the file in place of the target.
  bool Commit();

  bool Failed() const { return error_ != 0; }
  QString ErrorMessage() const { return MessageForError(error_); }
  // "File access denied", "Disk full", "File not found" or "I/O error %d" for an errno value.
  static QString MessageForError(int error);
  // The file's bytes for `text`: its code page bytes, "?" for a character the code page lacks.
  static QByteArray Encode(QStringView text);

 private:
  bool Flush();
  void StartWriteback();
  // Room for `bytes` more bytes at the end of the buffer, written out first when they do not
  // fit; null once the file has failed.
  char* Reserve(qsizetype bytes);
  bool Fail(int error);
  void Discard();

  QString fileName_;
  QByteArray tempPath_;
  int fd_ = -1;
  int error_ = 0;
  std::vector<char> buffer_;
  qsizetype used_ = 0;
  qint64 fileSize_ = 0;        // bytes written to the file so far
  qint64 writebackStart_ = 0;  // the first of them not yet handed to the disk
};
