#include "db/DateTimeConvertError.h"

DateTimeConvertError::DateTimeConvertError(const QString& message)
    : std::runtime_error(message.toStdString()), message_(message) {}
