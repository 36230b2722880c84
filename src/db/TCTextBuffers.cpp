#include "db/TCTextBuffers.h"

#include "db/Cp1252.h"

bool TCTextBuffers::Add(const QString& text) {
  if (Count() >= kMaxTexts) return false;
  QByteArray bytes;
  // A character the code page cannot hold becomes "?", which no stored value contains, so an
  // expression with one matches nothing rather than something else.
  Cp1252::Encode(text, &bytes);
  slots_.push_back(bytes);
  return true;
}

const char* TCTextBuffers::Item(int index) const {
  if (index < 0 || index >= Count()) return "";
  return slots_[size_t(index)].constData();
}
