#pragma once

#include <QObject>

// The engine-wide settings as a component: each property is kept here and pushed to the
// storage engine by its setter. The constructor only stores the defaults and calls no setter,
// so a component left at its defaults leaves the engine at the engine's own defaults.
// Century and DateFormat also set the program's short date format and date separator in force.
class TEngineEnv : public QObject {
  Q_OBJECT
  Q_PROPERTY(bool Exact READ Exact WRITE SetExact)
  Q_PROPERTY(bool Century READ Century WRITE SetCentury)
  Q_PROPERTY(TDateFormat DateFormat READ DateFormat WRITE SetDateFormat)
  Q_PROPERTY(int LockTimeout READ LockTimeout WRITE SetLockTimeout)
  Q_PROPERTY(int MemoBlockSize READ MemoBlockSize WRITE SetMemoBlockSize)
  Q_PROPERTY(bool SoftSeek READ SoftSeek WRITE SetSoftSeek)
  Q_PROPERTY(bool Deleted READ Deleted WRITE SetDeleted)

 public:
  // The engine's date format codes, 0 to 6.
  enum TDateFormat { dfAmerican, dfAnsi, dfBritish, dfFrench, dfGerman, dfItalian, dfSpanish };
  Q_ENUM(TDateFormat)

  explicit TEngineEnv(QObject* parent = nullptr);

  bool Exact() const { return exact_; }
  bool Century() const { return century_; }
  TDateFormat DateFormat() const { return dateFormat_; }
  int LockTimeout() const { return lockTimeout_; }
  int MemoBlockSize() const { return memoBlockSize_; }
  bool SoftSeek() const { return softSeek_; }
  bool Deleted() const { return deleted_; }

  void SetExact(bool value);
  // Also puts the date format's short date format, with or without century, in force.
  void SetCentury(bool value);
  // Also puts the format's separator and short date format without century in force, then
  // applies Century again when it is on, which widens the format to the four-digit year.
  void SetDateFormat(TDateFormat value);
  void SetLockTimeout(int value);
  void SetMemoBlockSize(int value);
  void SetSoftSeek(bool value);
  void SetDeleted(bool value);

  // The separator and short date format that go with an engine date format.
  static QString SeparatorFor(TDateFormat format);
  static QString ShortDateFormatFor(TDateFormat format, bool century);

 private:
  bool exact_ = false;
  bool century_ = false;
  TDateFormat dateFormat_ = dfAmerican;
  int lockTimeout_ = 1;
  int memoBlockSize_ = 64;
  bool softSeek_ = false;
  bool deleted_ = false;
};
