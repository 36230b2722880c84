#pragma once

#include <QObject>
#include <QString>

class QLineEdit;
class QPlainTextEdit;

// Keeps text the task file cannot hold out of the editing controls. The task files store
// Windows-1252 bytes; a character without a byte there would otherwise turn into "?" on the
// way to the file, silently. So such characters are taken out again the moment they are typed
// or pasted, and the user is told which ones, while everything else typed stays.
//
// The guard works on what the user does only: text a caller puts into a control came from the
// task file and is always storable.
class TaskEditorTextGuard : public QObject {
  Q_OBJECT

 public:
  // Guards the control for its lifetime (the guard is the control's child).
  static void Guard(QLineEdit* edit);
  static void Guard(QPlainTextEdit* edit);

  // The characters of `text` the code page has no byte for, in the order met; a character
  // outside the basic plane counts as one (both halves of its surrogate pair).
  static QString Unencodable(const QString& text);
  // `text` without them.
  static QString Strip(const QString& text);
  // The short message naming the characters that were left out.
  static QString RefusalMessage(const QString& refused);

 private:
  explicit TaskEditorTextGuard(QObject* control);
  void LineEdited(QLineEdit* edit, const QString& text);
  void MemoChanged(QPlainTextEdit* memo);

  bool fixing_ = false;  // our own removal must not be checked again
};
