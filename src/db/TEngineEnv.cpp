#include "db/TEngineEnv.h"

#include "db/RegionalSettings.h"
#include "xbengine.h"

TEngineEnv::TEngineEnv(QObject* parent) : QObject(parent) {}

void TEngineEnv::SetExact(bool value) {
  exact_ = value;
  xb_SetExact(value ? 1 : 0);
}

void TEngineEnv::SetCentury(bool value) {
  century_ = value;
  xb_SetCentury(value ? 1 : 0);
  RegionalSettings::SetShortDateFormat(ShortDateFormatFor(dateFormat_, value));
}

void TEngineEnv::SetDateFormat(TDateFormat value) {
  // A value outside the enumeration (from a cast) would give the engine a code it does not
  // know; the American format is the engine's default.
  if (value < dfAmerican || value > dfSpanish) value = dfAmerican;
  dateFormat_ = value;
  xb_SetDateFormat(static_cast<int>(value));
  RegionalSettings::SetDateSeparator(SeparatorFor(value));
  RegionalSettings::SetShortDateFormat(ShortDateFormatFor(value, false));
  if (century_) SetCentury(true);
}

void TEngineEnv::SetLockTimeout(int value) {
  lockTimeout_ = value;
  xb_SetLockTimeout(value);
}

void TEngineEnv::SetMemoBlockSize(int value) {
  memoBlockSize_ = value;
  xb_SetMemoBlockSize(value);
}

void TEngineEnv::SetSoftSeek(bool value) {
  softSeek_ = value;
  xb_SetSoftSeek(value ? 1 : 0);
}

void TEngineEnv::SetDeleted(bool value) {
  deleted_ = value;
  xb_SetDeleted(value ? 1 : 0);
}

QString TEngineEnv::SeparatorFor(TDateFormat format) {
  switch (format) {
    case dfAnsi:
    case dfGerman:
      return QStringLiteral(".");
    case dfItalian:
    case dfSpanish:
      return QStringLiteral("-");
    default:
      return QStringLiteral("/");
  }
}

QString TEngineEnv::ShortDateFormatFor(TDateFormat format, bool century) {
  const QString year = century ? QStringLiteral("yyyy") : QStringLiteral("yy");
  switch (format) {
    case dfAnsi:
      return year + QStringLiteral(".mm.dd");
    case dfBritish:
    case dfFrench:
      return QStringLiteral("dd/mm/") + year;
    case dfGerman:
      return QStringLiteral("dd.mm.") + year;
    case dfItalian:
    case dfSpanish:
      return QStringLiteral("dd-mm-") + year;
    default:
      return QStringLiteral("mm/dd/") + year;
  }
}
