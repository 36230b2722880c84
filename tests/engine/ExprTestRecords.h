#pragma once

// Record images and field lists shared by the expression tests, built by hand so that every
// byte the expression reads is visible in the test.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Expression.h"

namespace xb::exprtest {

// The task table: DATE C8, TIME C5, DESCRIPT C50, NOTE M10, DONE L1, KEYS C60, PRIORITY C1.
inline std::vector<FieldDef> TaskFields() {
  return {{"DATE", 'C', 8, 0, 1},      {"TIME", 'C', 5, 0, 9},  {"DESCRIPT", 'C', 50, 0, 14},
          {"NOTE", 'M', 10, 0, 64},    {"DONE", 'L', 1, 0, 74}, {"KEYS", 'C', 60, 0, 75},
          {"PRIORITY", 'C', 1, 0, 135}};
}

struct Task {
  std::string date = "20240105";
  std::string time = "09:30";
  std::string descript = "Call dentist";
  char done = 'F';
  std::string keys = "HOME call";
  std::string priority = "A";
  bool deleted = false;
};

inline void Put(std::string* record, int offset, int width, const std::string& value) {
  record->replace(
      static_cast<size_t>(offset), static_cast<size_t>(width),
      (value + std::string(static_cast<size_t>(width), ' ')).substr(0, static_cast<size_t>(width)));
}

inline std::string TaskRecord(const Task& t = Task()) {
  std::string r(136, ' ');
  r[0] = t.deleted ? '*' : ' ';
  Put(&r, 1, 8, t.date);
  Put(&r, 9, 5, t.time);
  Put(&r, 14, 50, t.descript);
  Put(&r, 64, 10, "         8");
  r[74] = t.done;
  Put(&r, 75, 60, t.keys);
  Put(&r, 135, 1, t.priority);
  return r;
}

// A table of the other field types: AMOUNT N(10,2), COUNT N(5,0), DUE D, FLAG L, NAME C10,
// START D, RATE F(8,3).
inline std::vector<FieldDef> TypeFields() {
  return {{"AMOUNT", 'N', 10, 2, 1}, {"COUNT", 'N', 5, 0, 11}, {"DUE", 'D', 8, 0, 16},
          {"FLAG", 'L', 1, 0, 24},   {"NAME", 'C', 10, 0, 25}, {"START", 'D', 8, 0, 35},
          {"RATE", 'F', 8, 3, 43}};
}

struct Typed {
  std::string amount = "    -12.50";
  std::string count = "   42";
  std::string due = "20240229";
  char flag = 'T';
  std::string name = "Zoe";
  std::string start = "        ";
  std::string rate = "   1.125";
};

inline std::string TypeRecord(const Typed& t = Typed()) {
  std::string r(51, ' ');
  Put(&r, 1, 10, t.amount);
  Put(&r, 11, 5, t.count);
  Put(&r, 16, 8, t.due);
  r[24] = t.flag;
  Put(&r, 25, 10, t.name);
  Put(&r, 35, 8, t.start);
  Put(&r, 43, 8, t.rate);
  return r;
}

inline std::unique_ptr<Expression> MustCompile(const std::string& text,
                                               const std::vector<FieldDef>& fields) {
  std::unique_ptr<Expression> e;
  Status s = Expression::Compile(text, fields, &e);
  EXPECT_TRUE(s.ok()) << text << ": " << s.ToString();
  return e;
}

inline EvalContext Context(const std::string& record, uint32_t recno = 1, bool exact = false) {
  return EvalContext{reinterpret_cast<const uint8_t*>(record.data()), recno, exact};
}

}  // namespace xb::exprtest
