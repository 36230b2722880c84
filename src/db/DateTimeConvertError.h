#pragma once

#include <QString>
#include <stdexcept>

// Thrown when a text does not convert to a date or a time, or when a date or time cannot be
// built from its parts. Callers that only need a yes or no use the Try... functions or
// DateTimeText::IsValidDate / IsValidTime, which never throw.
class DateTimeConvertError : public std::runtime_error {
 public:
  explicit DateTimeConvertError(const QString& message);

  QString Message() const { return message_; }

 private:
  QString message_;
};
