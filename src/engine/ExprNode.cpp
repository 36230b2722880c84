#include "ExprNode.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "ExprConvert.h"

namespace xb {

namespace {

using Ptr = ExprNode::Ptr;
using Type = ExprValue::Type;

// Constant nodes never read the record, so they are evaluated at compile time with this.
constexpr EvalContext kNoRecord{nullptr, 0, false};

// memcpy with a null source is undefined even for zero bytes, and empty views may be null.
inline void CopyBytes(char* to, std::string_view from) {
  if (!from.empty()) std::memcpy(to, from.data(), from.size());
}

inline std::string_view FieldBytes(const EvalContext& c, int offset, int width) {
  return {reinterpret_cast<const char*>(c.record) + offset, static_cast<size_t>(width)};
}

inline std::string_view TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && s[n - 1] == ' ') --n;
  return s.substr(0, n);
}

inline std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  return s.substr(i);
}

// Three-way comparison of character values; see docs/expressions.md.
//   exact off: an empty right side is equal to anything; otherwise the left side is compared
//     over the length of the right side, and a left side that is shorter than the right one
//     but equal to its start is smaller. Trailing blanks count.
//   exact on: trailing blanks of both sides are ignored and the whole texts compare, byte by
//     byte (unsigned) over the shorter length, then the shorter text is smaller.
int CompareText(std::string_view a, std::string_view b, bool exact) {
  if (exact) return TrimRight(a).compare(TrimRight(b));
  if (b.empty()) return 0;
  if (a.size() >= b.size()) return a.substr(0, b.size()).compare(b);
  int r = a.compare(b.substr(0, a.size()));
  return r != 0 ? r : -1;
}

template <typename T>
bool Holds(ExprNode::CompareOp op, T cmp) {  // cmp: <0, 0, >0
  switch (op) {
    case ExprNode::CompareOp::kEq:
    case ExprNode::CompareOp::kExactEq:
      return cmp == 0;
    case ExprNode::CompareOp::kNe:
      return cmp != 0;
    case ExprNode::CompareOp::kLt:
      return cmp < 0;
    case ExprNode::CompareOp::kLe:
      return cmp <= 0;
    case ExprNode::CompareOp::kGt:
      return cmp > 0;
    case ExprNode::CompareOp::kGe:
      return cmp >= 0;
  }
  return false;
}

// Machine collation: only ASCII letters change, so keys match other tools byte for byte.
struct CaseTables {
  std::array<char, 256> upper{};
  std::array<char, 256> lower{};
};

constexpr CaseTables MakeCaseTables() {
  CaseTables t;
  for (int i = 0; i < 256; ++i) {
    t.upper[i] = static_cast<char>((i >= 'a' && i <= 'z') ? i - 'a' + 'A' : i);
    t.lower[i] = static_cast<char>((i >= 'A' && i <= 'Z') ? i - 'A' + 'a' : i);
  }
  return t;
}
constexpr CaseTables kCase = MakeCaseTables();

// ---- Leaves ------------------------------------------------------------------------------

class CharFieldNode final : public ExprNode {
 public:
  CharFieldNode(int offset, int width) : ExprNode(ExprValue::kCharacter, width), offset_(offset) {}
  std::string_view Character(const EvalContext& c) const override {
    return FieldBytes(c, offset_, width_);
  }

 private:
  int offset_;
};

class NumFieldNode final : public ExprNode {
 public:
  NumFieldNode(int offset, int width, int decimals)
      : ExprNode(ExprValue::kNumeric, 8), offset_(offset), field_width_(width) {
    decimals_ = std::clamp(decimals, 0, exprconv::kMaxStrDecimals);
    display_width_ = width;
  }
  double Numeric(const EvalContext& c) const override {
    return exprconv::ParseNumber(FieldBytes(c, offset_, field_width_));
  }

 private:
  int offset_;
  int field_width_;
};

class DateFieldNode final : public ExprNode {
 public:
  explicit DateFieldNode(int offset) : ExprNode(ExprValue::kDate, 8), offset_(offset) {}
  double Numeric(const EvalContext& c) const override {
    return exprconv::DateFromText(reinterpret_cast<const char*>(c.record) + offset_);
  }

 private:
  int offset_;
};

class LogicalFieldNode final : public ExprNode {
 public:
  explicit LogicalFieldNode(int offset) : ExprNode(ExprValue::kLogical, 1), offset_(offset) {}
  bool Logical(const EvalContext& c) const override {
    uint8_t b = c.record[offset_];
    return b == 'T' || b == 't' || b == 'Y' || b == 'y';
  }

 private:
  int offset_;
};

class CharLiteralNode final : public ExprNode {
 public:
  explicit CharLiteralNode(std::string_view bytes)
      : ExprNode(ExprValue::kCharacter, static_cast<int>(bytes.size())), value_(bytes) {}
  std::string_view Character(const EvalContext&) const override { return value_; }
  bool IsConstant() const override { return true; }

 private:
  std::string value_;
};

class NumLiteralNode final : public ExprNode {
 public:
  NumLiteralNode(double value, int decimals) : ExprNode(ExprValue::kNumeric, 8), value_(value) {
    decimals_ = std::clamp(decimals, 0, exprconv::kMaxStrDecimals);
  }
  double Numeric(const EvalContext&) const override { return value_; }
  bool IsConstant() const override { return true; }

 private:
  double value_;
};

class LogicalLiteralNode final : public ExprNode {
 public:
  explicit LogicalLiteralNode(bool value) : ExprNode(ExprValue::kLogical, 1), value_(value) {}
  bool Logical(const EvalContext&) const override { return value_; }
  bool IsConstant() const override { return true; }

 private:
  bool value_;
};

class DeletedNode final : public ExprNode {
 public:
  DeletedNode() : ExprNode(ExprValue::kLogical, 1) {}
  bool Logical(const EvalContext& c) const override { return c.record[0] == '*'; }
};

class RecnoNode final : public ExprNode {
 public:
  RecnoNode() : ExprNode(ExprValue::kNumeric, 8) {}
  double Numeric(const EvalContext& c) const override { return c.recno; }
};

// ---- Chains ------------------------------------------------------------------------------

// Character + and -. '-' moves the trailing blanks of everything to its left to the end of the
// result: "AB  " - "CD" is "ABCD  ".
class ConcatNode final : public ExprNode {
 public:
  explicit ConcatNode(Ptr first) : ExprNode(ExprValue::kCharacter, first->width()) {
    AddChild(std::move(first));
    set_buffer_size(static_cast<size_t>(width_));
  }
  void Append(ExprNode::AddOp op, Ptr next) {
    width_ += next->width();
    ops_.push_back(op);
    AddChild(std::move(next));
    set_buffer_size(static_cast<size_t>(width_));
  }
  std::string_view Character(const EvalContext& c) const override {
    char* out = buffer();
    std::string_view first = child(0).Character(c);
    CopyBytes(out, first);
    size_t n = first.size();
    for (size_t i = 1; i < child_count(); ++i) {
      std::string_view part = child(i).Character(c);
      if (ops_[i - 1] == ExprNode::AddOp::kPlus) {
        CopyBytes(out + n, part);
        n += part.size();
      } else {
        size_t blanks = 0;
        while (n > 0 && out[n - 1] == ' ') {
          --n;
          ++blanks;
        }
        CopyBytes(out + n, part);
        n += part.size();
        std::memset(out + n, ' ', blanks);
        n += blanks;
      }
    }
    return {out, n};
  }

 private:
  std::vector<ExprNode::AddOp> ops_;  // ops_[i - 1] joins child i to what precedes it
};

// Numeric and date + and -, evaluated left to right on a running value. Dates are day numbers;
// an empty date (0) stays empty when days are added or taken away, and the difference of two
// dates is 0 when either is empty.
class AddNode final : public ExprNode {
 public:
  enum Step { kNumPlus, kNumMinus, kDatePlusNum, kDateMinusNum, kNumPlusDate, kDateMinusDate };

  explicit AddNode(Ptr first) : ExprNode(first->type(), 8) {
    decimals_ = first->decimals();
    AddChild(std::move(first));
  }
  // The caller has checked that the operand types allow the operation.
  void Append(ExprNode::AddOp op, Ptr next) {
    bool plus = op == ExprNode::AddOp::kPlus;
    Step step;
    if (type_ == ExprValue::kNumeric && next->type() == ExprValue::kNumeric) {
      step = plus ? kNumPlus : kNumMinus;
      decimals_ = std::max(decimals_, next->decimals());
    } else if (type_ == ExprValue::kDate && next->type() == ExprValue::kNumeric) {
      step = plus ? kDatePlusNum : kDateMinusNum;
    } else if (type_ == ExprValue::kNumeric) {
      step = kNumPlusDate;
      type_ = ExprValue::kDate;
      decimals_ = 0;
    } else {
      step = kDateMinusDate;
      type_ = ExprValue::kNumeric;
      decimals_ = 0;
    }
    steps_.push_back(step);
    AddChild(std::move(next));
  }
  double Numeric(const EvalContext& c) const override {
    double v = child(0).Numeric(c);
    for (size_t i = 1; i < child_count(); ++i) {
      double x = child(i).Numeric(c);
      switch (steps_[i - 1]) {
        case kNumPlus:
          v += x;
          break;
        case kNumMinus:
          v -= x;
          break;
        case kDatePlusNum:
          v = v == 0 ? 0 : v + std::trunc(x);
          break;
        case kDateMinusNum:
          v = v == 0 ? 0 : v - std::trunc(x);
          break;
        case kNumPlusDate:
          v = x == 0 ? 0 : std::trunc(v) + x;
          break;
        case kDateMinusDate:
          v = (v == 0 || x == 0) ? 0 : v - x;
          break;
      }
    }
    return std::isnan(v) ? 0 : v;  // inf - inf; keeps NaN out of keys and comparisons
  }
  bool IsConstant() const override { return ChildrenConstant(); }

 private:
  std::vector<Step> steps_;
};

// '*' and '/'. Division by zero gives 0: an evaluation cannot fail, and 0 keeps a key or a
// comparison meaningful where infinity or NaN would not.
class MulNode final : public ExprNode {
 public:
  explicit MulNode(Ptr first) : ExprNode(ExprValue::kNumeric, 8) {
    decimals_ = first->decimals();
    AddChild(std::move(first));
  }
  void Append(ExprNode::MulOp op, Ptr next) {
    if (op == ExprNode::MulOp::kTimes) {
      decimals_ = std::min(decimals_ + next->decimals(), exprconv::kMaxStrDecimals);
    } else {
      decimals_ = std::max({decimals_, next->decimals(), 2});
    }
    ops_.push_back(op);
    AddChild(std::move(next));
  }
  double Numeric(const EvalContext& c) const override {
    double v = child(0).Numeric(c);
    for (size_t i = 1; i < child_count(); ++i) {
      double x = child(i).Numeric(c);
      if (ops_[i - 1] == ExprNode::MulOp::kTimes) {
        v *= x;
      } else {
        v = x == 0 ? 0 : v / x;
      }
    }
    return std::isnan(v) ? 0 : v;
  }
  bool IsConstant() const override { return ChildrenConstant(); }

 private:
  std::vector<ExprNode::MulOp> ops_;
};

class AndNode final : public ExprNode {
 public:
  explicit AndNode(Ptr first) : ExprNode(ExprValue::kLogical, 1) { AddChild(std::move(first)); }
  void Append(Ptr next) { AddChild(std::move(next)); }
  bool Logical(const EvalContext& c) const override {
    for (size_t i = 0; i < child_count(); ++i) {
      if (!child(i).Logical(c)) return false;
    }
    return true;
  }
};

class OrNode final : public ExprNode {
 public:
  explicit OrNode(Ptr first) : ExprNode(ExprValue::kLogical, 1) { AddChild(std::move(first)); }
  void Append(Ptr next) { AddChild(std::move(next)); }
  bool Logical(const EvalContext& c) const override {
    for (size_t i = 0; i < child_count(); ++i) {
      if (child(i).Logical(c)) return true;
    }
    return false;
  }
};

// ---- Operators ---------------------------------------------------------------------------

class NegateNode final : public ExprNode {
 public:
  explicit NegateNode(Ptr operand) : ExprNode(ExprValue::kNumeric, 8) {
    decimals_ = operand->decimals();
    AddChild(std::move(operand));
  }
  double Numeric(const EvalContext& c) const override { return -child(0).Numeric(c); }
  bool IsConstant() const override { return ChildrenConstant(); }
};

class NotNode final : public ExprNode {
 public:
  explicit NotNode(Ptr operand) : ExprNode(ExprValue::kLogical, 1) {
    AddChild(std::move(operand));
  }
  bool Logical(const EvalContext& c) const override { return !child(0).Logical(c); }
};

class CharCompareNode final : public ExprNode {
 public:
  CharCompareNode(ExprNode::CompareOp op, Ptr left, Ptr right)
      : ExprNode(ExprValue::kLogical, 1), op_(op) {
    AddChild(std::move(left));
    AddChild(std::move(right));
  }
  bool Logical(const EvalContext& c) const override {
    std::string_view a = child(0).Character(c);
    std::string_view b = child(1).Character(c);
    if (op_ == ExprNode::CompareOp::kExactEq) return a == b;
    return Holds(op_, CompareText(a, b, c.exact));
  }

 private:
  ExprNode::CompareOp op_;
};

// Numbers and dates (day numbers, the empty date 0 below every real date).
class NumCompareNode final : public ExprNode {
 public:
  NumCompareNode(ExprNode::CompareOp op, Ptr left, Ptr right)
      : ExprNode(ExprValue::kLogical, 1), op_(op) {
    AddChild(std::move(left));
    AddChild(std::move(right));
  }
  bool Logical(const EvalContext& c) const override {
    double a = child(0).Numeric(c);
    double b = child(1).Numeric(c);
    return Holds(op_, a < b ? -1 : (a > b ? 1 : 0));
  }

 private:
  ExprNode::CompareOp op_;
};

// .F. sorts before .T.
class LogicalCompareNode final : public ExprNode {
 public:
  LogicalCompareNode(ExprNode::CompareOp op, Ptr left, Ptr right)
      : ExprNode(ExprValue::kLogical, 1), op_(op) {
    AddChild(std::move(left));
    AddChild(std::move(right));
  }
  bool Logical(const EvalContext& c) const override {
    int a = child(0).Logical(c) ? 1 : 0;
    int b = child(1).Logical(c) ? 1 : 0;
    return Holds(op_, a - b);
  }

 private:
  ExprNode::CompareOp op_;
};

// needle $ haystack; the empty text occurs in every text.
class ContainsNode final : public ExprNode {
 public:
  ContainsNode(Ptr needle, Ptr haystack) : ExprNode(ExprValue::kLogical, 1) {
    AddChild(std::move(needle));
    AddChild(std::move(haystack));
  }
  bool Logical(const EvalContext& c) const override {
    std::string_view needle = child(0).Character(c);
    std::string_view haystack = child(1).Character(c);
    return haystack.find(needle) != std::string_view::npos;
  }
};

// ---- Functions ---------------------------------------------------------------------------

class CaseNode final : public ExprNode {
 public:
  CaseNode(ExprNode::CaseMap map, Ptr text)
      : ExprNode(ExprValue::kCharacter, text->width()), upper_(map == ExprNode::CaseMap::kUpper) {
    AddChild(std::move(text));
    set_buffer_size(static_cast<size_t>(width_));
  }
  std::string_view Character(const EvalContext& c) const override {
    std::string_view in = child(0).Character(c);
    char* out = buffer();
    // Letters flip bit 0x20. Eight bytes at a time: a byte's high bit in `mask` says that it is
    // a letter of the range (found by adding offsets to its low 7 bits, which cannot carry into
    // the next byte) and was below 0x80 to begin with.
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    const uint64_t first = upper_ ? 'a' : 'A';
    const uint64_t below = (0x80 - first) * kOnes;       // high bit set when >= first
    const uint64_t above = (0x80 - first - 26) * kOnes;  // high bit set when > last
    const char* table = upper_ ? kCase.upper.data() : kCase.lower.data();
    size_t i = 0;
    for (; i + 8 <= in.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, in.data() + i, 8);
      uint64_t low = w & (0x7F * kOnes);
      uint64_t mask = (low + below) & ~(low + above) & ~w & (0x80 * kOnes);
      w ^= mask >> 2;
      std::memcpy(out + i, &w, 8);
    }
    for (; i < in.size(); ++i) out[i] = table[static_cast<uint8_t>(in[i])];
    return {out, in.size()};
  }

 private:
  bool upper_;
};

class TrimNode final : public ExprNode {
 public:
  TrimNode(ExprNode::TrimMode mode, Ptr text)
      : ExprNode(ExprValue::kCharacter, text->width()), mode_(mode) {
    AddChild(std::move(text));
  }
  std::string_view Character(const EvalContext& c) const override {
    std::string_view s = child(0).Character(c);
    if (mode_ != ExprNode::TrimMode::kLeft) s = TrimRight(s);
    if (mode_ != ExprNode::TrimMode::kRight) s = TrimLeft(s);
    return s;
  }
  bool IsConstant() const override { return ChildrenConstant(); }

 private:
  ExprNode::TrimMode mode_;
};

// SUBSTR(s, start[, count]): start counts from 1, and a start below 1 counts as 1; a start past
// the end or a count below 1 gives the empty text. LEFT(s, n) and RIGHT(s, n): the first or last
// n bytes, all of s when n is larger, nothing when n is below 1.
class SliceNode final : public ExprNode {
 public:
  SliceNode(ExprNode::Slice kind, Ptr text, Ptr a, Ptr b)
      : ExprNode(ExprValue::kCharacter, text->width()), kind_(kind), has_b_(b != nullptr) {
    width_ = StaticWidth(text->width(), a.get(), b.get());
    AddChild(std::move(text));
    AddChild(std::move(a));
    if (b) AddChild(std::move(b));
  }
  std::string_view Character(const EvalContext& c) const override {
    std::string_view s = child(0).Character(c);
    int a = exprconv::ClampToInt(child(1).Numeric(c), INT_MIN, INT_MAX);
    if (kind_ == ExprNode::Slice::kLeft) return s.substr(0, Count(a, s.size()));
    if (kind_ == ExprNode::Slice::kRight) {
      size_t n = Count(a, s.size());
      return s.substr(s.size() - n);
    }
    size_t start = a < 1 ? 0 : static_cast<size_t>(a) - 1;
    if (start >= s.size()) return {};
    size_t n = s.size() - start;
    if (has_b_) {
      n = std::min(n, Count(exprconv::ClampToInt(child(2).Numeric(c), INT_MIN, INT_MAX), n));
    }
    return s.substr(start, n);
  }
  bool IsConstant() const override { return ChildrenConstant(); }

 private:
  static size_t Count(int n, size_t limit) {
    return n < 1 ? 0 : std::min(static_cast<size_t>(n), limit);
  }
  // The most bytes the result can have, narrowed by whichever arguments are constants.
  int StaticWidth(int in, const ExprNode* a, const ExprNode* b) const {
    auto constant = [](const ExprNode* n) {
      return exprconv::ClampToInt(n->Numeric(kNoRecord), INT_MIN, INT_MAX);
    };
    size_t w = static_cast<size_t>(in);
    if (kind_ != ExprNode::Slice::kSubstr) {
      return a->IsConstant() ? static_cast<int>(Count(constant(a), w)) : in;
    }
    if (a->IsConstant()) {
      int start = constant(a);
      size_t skip = start < 1 ? 0 : static_cast<size_t>(start) - 1;
      w = skip >= w ? 0 : w - skip;
    }
    if (b && b->IsConstant()) w = Count(constant(b), w);
    return static_cast<int>(w);
  }

  ExprNode::Slice kind_;
  bool has_b_;
};

class LenNode final : public ExprNode {
 public:
  explicit LenNode(Ptr text) : ExprNode(ExprValue::kNumeric, 8) { AddChild(std::move(text)); }
  double Numeric(const EvalContext& c) const override {
    return static_cast<double>(child(0).Character(c).size());
  }
  bool IsConstant() const override { return ChildrenConstant(); }
};

class DtosNode final : public ExprNode {
 public:
  explicit DtosNode(Ptr date) : ExprNode(ExprValue::kCharacter, 8) {
    AddChild(std::move(date));
    set_buffer_size(8);
  }
  std::string_view Character(const EvalContext& c) const override {
    exprconv::DateToText(child(0).Numeric(c), buffer());
    return {buffer(), 8};
  }
};

class StrNode final : public ExprNode {
 public:
  StrNode(Ptr number, int width, int decimals)
      : ExprNode(ExprValue::kCharacter, width), decimals_wanted_(decimals) {
    AddChild(std::move(number));
    set_buffer_size(static_cast<size_t>(width));
  }
  std::string_view Character(const EvalContext& c) const override {
    exprconv::FormatStr(child(0).Numeric(c), width_, decimals_wanted_, buffer());
    return {buffer(), static_cast<size_t>(width_)};
  }

 private:
  int decimals_wanted_;
};

class ValNode final : public ExprNode {
 public:
  explicit ValNode(Ptr text) : ExprNode(ExprValue::kNumeric, 8) {
    decimals_ = 2;
    AddChild(std::move(text));
  }
  double Numeric(const EvalContext& c) const override {
    return exprconv::ParseNumber(child(0).Character(c));
  }
  bool IsConstant() const override { return ChildrenConstant(); }
};

// IIF(condition, a, b). A character result always has the width of the wider branch: the
// narrower value is padded with blanks, so the result is as wide whichever branch is taken.
class IifNode final : public ExprNode {
 public:
  IifNode(Ptr condition, Ptr a, Ptr b)
      : ExprNode(a->type(), a->type() == ExprValue::kCharacter ? std::max(a->width(), b->width())
                                                                : a->width()) {
    decimals_ = std::max(a->decimals(), b->decimals());
    AddChild(std::move(condition));
    AddChild(std::move(a));
    AddChild(std::move(b));
    if (type_ == ExprValue::kCharacter) set_buffer_size(static_cast<size_t>(width_));
  }
  bool Logical(const EvalContext& c) const override { return Branch(c).Logical(c); }
  double Numeric(const EvalContext& c) const override { return Branch(c).Numeric(c); }
  std::string_view Character(const EvalContext& c) const override {
    std::string_view v = Branch(c).Character(c);
    size_t w = static_cast<size_t>(width_);
    if (v.size() >= w) return v;
    char* out = buffer();
    CopyBytes(out, v);
    std::memset(out + v.size(), ' ', w - v.size());
    return {out, w};
  }

 private:
  const ExprNode& Branch(const EvalContext& c) const {
    return child(0).Logical(c) ? child(1) : child(2);
  }
};

}  // namespace

// ---- ExprNode ----------------------------------------------------------------------------

ExprNode::ExprNode(Type type, int width) : type_(type), width_(width) {}

ExprNode::~ExprNode() = default;

bool ExprNode::Logical(const EvalContext&) const {
  return false;
}
double ExprNode::Numeric(const EvalContext&) const {
  return 0;
}
std::string_view ExprNode::Character(const EvalContext&) const {
  return {};
}

void ExprNode::AddChild(Ptr child) {
  depth_ = std::max(depth_, child->depth_ + 1);
  children_.push_back(std::move(child));
}

bool ExprNode::ChildrenConstant() const {
  for (const Ptr& c : children_) {
    if (!c->IsConstant()) return false;
  }
  return true;
}

size_t ExprNode::BufferBytes() const {
  size_t total = buffer_size_;
  for (const Ptr& c : children_) total += c->BufferBytes();
  return total;
}

void ExprNode::AllocateBuffers() {
  buffer_.assign(buffer_size_, ' ');
  for (Ptr& c : children_) c->AllocateBuffers();
}

Ptr ExprNode::CharField(int offset, int width) {
  return std::make_unique<CharFieldNode>(offset, width);
}
Ptr ExprNode::NumField(int offset, int width, int decimals) {
  return std::make_unique<NumFieldNode>(offset, width, decimals);
}
Ptr ExprNode::DateField(int offset) {
  return std::make_unique<DateFieldNode>(offset);
}
Ptr ExprNode::LogicalField(int offset) {
  return std::make_unique<LogicalFieldNode>(offset);
}
Ptr ExprNode::CharLiteral(std::string_view bytes) {
  return std::make_unique<CharLiteralNode>(bytes);
}
Ptr ExprNode::NumLiteral(double value, int decimals) {
  return std::make_unique<NumLiteralNode>(value, decimals);
}
Ptr ExprNode::LogicalLiteral(bool value) {
  return std::make_unique<LogicalLiteralNode>(value);
}
Ptr ExprNode::Deleted() {
  return std::make_unique<DeletedNode>();
}
Ptr ExprNode::Recno() {
  return std::make_unique<RecnoNode>();
}

Ptr ExprNode::Concat(Ptr left, AddOp op, Ptr right) {
  if (auto* chain = dynamic_cast<ConcatNode*>(left.get())) {
    chain->Append(op, std::move(right));
    return left;
  }
  auto chain = std::make_unique<ConcatNode>(std::move(left));
  chain->Append(op, std::move(right));
  return chain;
}

Ptr ExprNode::Add(Ptr left, AddOp op, Ptr right) {
  if (auto* chain = dynamic_cast<AddNode*>(left.get())) {
    chain->Append(op, std::move(right));
    return left;
  }
  auto chain = std::make_unique<AddNode>(std::move(left));
  chain->Append(op, std::move(right));
  return chain;
}

Ptr ExprNode::Mul(Ptr left, MulOp op, Ptr right) {
  if (auto* chain = dynamic_cast<MulNode*>(left.get())) {
    chain->Append(op, std::move(right));
    return left;
  }
  auto chain = std::make_unique<MulNode>(std::move(left));
  chain->Append(op, std::move(right));
  return chain;
}

Ptr ExprNode::And(Ptr left, Ptr right) {
  if (auto* chain = dynamic_cast<AndNode*>(left.get())) {
    chain->Append(std::move(right));
    return left;
  }
  auto chain = std::make_unique<AndNode>(std::move(left));
  chain->Append(std::move(right));
  return chain;
}

Ptr ExprNode::Or(Ptr left, Ptr right) {
  if (auto* chain = dynamic_cast<OrNode*>(left.get())) {
    chain->Append(std::move(right));
    return left;
  }
  auto chain = std::make_unique<OrNode>(std::move(left));
  chain->Append(std::move(right));
  return chain;
}

Ptr ExprNode::Negate(Ptr operand) {
  return std::make_unique<NegateNode>(std::move(operand));
}
Ptr ExprNode::Not(Ptr operand) {
  return std::make_unique<NotNode>(std::move(operand));
}

Ptr ExprNode::Compare(CompareOp op, Ptr left, Ptr right) {
  switch (left->type()) {
    case ExprValue::kCharacter:
      return std::make_unique<CharCompareNode>(op, std::move(left), std::move(right));
    case ExprValue::kLogical:
      return std::make_unique<LogicalCompareNode>(op, std::move(left), std::move(right));
    case ExprValue::kNumeric:
    case ExprValue::kDate:
      break;
  }
  return std::make_unique<NumCompareNode>(op, std::move(left), std::move(right));
}

Ptr ExprNode::Contains(Ptr needle, Ptr haystack) {
  return std::make_unique<ContainsNode>(std::move(needle), std::move(haystack));
}

Ptr ExprNode::ChangeCase(CaseMap map, Ptr text) {
  return std::make_unique<CaseNode>(map, std::move(text));
}
Ptr ExprNode::Trim(TrimMode mode, Ptr text) {
  return std::make_unique<TrimNode>(mode, std::move(text));
}
Ptr ExprNode::SliceOf(Slice kind, Ptr text, Ptr a, Ptr b) {
  return std::make_unique<SliceNode>(kind, std::move(text), std::move(a), std::move(b));
}
Ptr ExprNode::Len(Ptr text) {
  return std::make_unique<LenNode>(std::move(text));
}
Ptr ExprNode::Dtos(Ptr date) {
  return std::make_unique<DtosNode>(std::move(date));
}
Ptr ExprNode::Str(Ptr number, int width, int decimals) {
  return std::make_unique<StrNode>(std::move(number), width, decimals);
}
Ptr ExprNode::Val(Ptr text) {
  return std::make_unique<ValNode>(std::move(text));
}
Ptr ExprNode::Iif(Ptr condition, Ptr when_true, Ptr when_false) {
  return std::make_unique<IifNode>(std::move(condition), std::move(when_true),
                                   std::move(when_false));
}

}  // namespace xb
