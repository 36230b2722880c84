#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

// Turns the program's texts into the NUL-terminated byte texts the engine takes, for one call.
// Each slot holds a whole text however long it is: a filter built from many key words can pass
// the 255 characters a fixed slot would hold, and the engine must receive it whole.
class TCTextBuffers {
 public:
  static constexpr int kMaxTexts = 4;

  // False (and nothing stored) once four texts are held.
  bool Add(const QString& text);
  const char* Item(int index) const;
  int Count() const { return int(slots_.size()); }

 private:
  std::vector<QByteArray> slots_;
};
