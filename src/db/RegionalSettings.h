#pragma once

#include <QLocale>
#include <QString>

#include "db/RegionalFormats.h"

// The program-wide regional settings that every date and time conversion reads. Two sets of
// five items take turns in force: the fixed set (RegionalFormats::Fixed), under which the
// program normally runs and its stored forms are built, and the user's own set, saved once at
// start-up and put in force only while the user types dates and times.
//
// Besides them the user's short time format ("t"), long time format ("tt"), long date format
// ("dddddd") and the language of day and month names come from the user's locale and are
// never switched. All of this is process-wide state of the user-interface thread; nothing here
// is safe to call from other threads.
//
// Until SaveUserFormats runs, the user set is taken from the system locale and the fixed set
// is in force.
class RegionalSettings {
 public:
  // Copies the user's short date format (widened to a four-digit year, see
  // WidenShortDateFormat), date and time separators and AM/PM texts from `locale` into the user
  // set, and takes the short and long time formats, the long date format and the day and month
  // names from it as well. Does not change the set in force.
  static void SaveUserFormats(const QLocale& locale = QLocale::system());
  // The same for a user set given item by item (the short date format in the program's pattern
  // letters); the short date format is widened, nothing else changes.
  static void SaveUserFormats(const RegionalFormats& user);

  static void UseFixedFormats();
  static void UseUserFormats();
  static void PutInForce(const RegionalFormats& formats);


  static const RegionalFormats& InForce();
  static const RegionalFormats& UserFormats();
  // Changes only the saved user set; it takes effect at the next UseUserFormats. Used to
  // narrow the user's pattern for a while and to put it back afterwards.
  static void SetUserShortDateFormat(const QString& format);
  // Change single items of the set in force (the engine environment does this).
  static void SetShortDateFormat(const QString& format);
  static void SetDateSeparator(const QString& separator);

  static QString ShortTimeFormat();
  static QString LongTimeFormat();
  static QString LongDateFormat();
  static void SetShortTimeFormat(const QString& format);
  static void SetLongTimeFormat(const QString& format);
  static void SetLongDateFormat(const QString& format);

  // Names in the user's language. `dayOfWeek` is 1 = Sunday ... 7 = Saturday, `month` 1..12;
  // out of range gives an empty text.
  static QString DayName(int dayOfWeek, bool abbreviated);
  static QString MonthName(int month, bool abbreviated);
  static QLocale NamesLocale();

  // The four-digit-year widening of a user's short date format: "YYYY" (in any case) leaves it
  // as it is; otherwise a run of three, two or one Y is made four long, or, with no Y at all,
  // the separator and YYYY are appended; a widened format is lower-cased.
  static QString WidenShortDateFormat(const QString& format, const QString& separator);
  // A Qt date or time format turned into the program's pattern letters: M stays (the program's
  // letters ignore case), minutes m become n, H becomes h, AP/ap become ampm, Qt's time zone is
  // dropped, quoted text and letters without meaning here become quoted literals.
  static QString FromQtFormat(const QString& qtFormat);
  // The separator a Qt format puts between two of the given field letters, blanks trimmed
  // (a single blank if the separator is only blanks); `fallback` when there is none.
  static QString SeparatorOf(const QString& qtFormat, const QString& fieldLetters,
                             const QString& fallback);
  // The user's five items as the locale gives them, before widening.
  static RegionalFormats LocaleFormats(const QLocale& locale);
};

// Puts the user's or the fixed formats in force for a scope; the set that was in force before
// comes back when the scope ends, however it ends, so an exception between the two halves
// cannot leave the user's formats under the program's stored forms.
class FormatsScope {
 public:
  enum class Set { User, Fixed };
  explicit FormatsScope(Set set);
  ~FormatsScope();
  FormatsScope(const FormatsScope&) = delete;
  FormatsScope& operator=(const FormatsScope&) = delete;

 private:
  RegionalFormats saved_;
};

// Replaces the user's short date pattern for a scope (it takes effect under the user's set)
// and puts the saved one back at the end.
class UserShortDateScope {
 public:
  explicit UserShortDateScope(const QString& pattern);
  ~UserShortDateScope();
  UserShortDateScope(const UserShortDateScope&) = delete;
  UserShortDateScope& operator=(const UserShortDateScope&) = delete;

 private:
  QString saved_;
};
