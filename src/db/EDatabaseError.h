#pragma once

#include <QString>
#include <stdexcept>

// The error a dataset raises when an operation fails (a refused post, a missing field, a table
// that cannot open). Callers catch it where the user must be told.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const QString& message, int status = 0)
      : std::runtime_error(message.toStdString()), message_(message), status_(status) {}
  const QString& Message() const { return message_; }
  int Status() const { return status_; }

 private:
  QString message_;
  int status_;
};
