#pragma once

// The compiled form of an expression: a tree of nodes, each evaluating itself for one record.
// The concrete node kinds live in ExprNode.cpp; the parser builds them through the factories
// below and checks types before it calls them, so the factories trust their arguments.

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "ExprValue.h"

namespace xb {

class ExprNode {
 public:
  using Ptr = std::unique_ptr<ExprNode>;
  using Type = ExprValue::Type;

  enum class CompareOp { kEq, kExactEq, kNe, kLt, kLe, kGt, kGe };
  enum class AddOp { kPlus, kMinus };
  enum class MulOp { kTimes, kDivide };
  enum class CaseMap { kUpper, kLower };
  enum class TrimMode { kRight, kLeft, kBoth };
  enum class Slice { kSubstr, kLeft, kRight };

  virtual ~ExprNode();
  ExprNode(const ExprNode&) = delete;
  ExprNode& operator=(const ExprNode&) = delete;

  Type type() const { return type_; }
  // Character nodes: the most bytes the value can have. Numeric and date nodes 8, logical 1.
  int width() const { return width_; }
  int decimals() const { return decimals_; }  // numeric nodes: digits shown after the point
  int display_width() const { return display_width_; }  // numeric nodes: width as text
  int depth() const { return depth_; }                  // 1 for a leaf

  // Evaluation. A node answers only the call of its type(); dates answer Numeric with their day
  // number, 0 for the empty date. Character results are views into the record, into the
  // expression text, or into a buffer of the node, valid until the next evaluation.
  virtual bool Logical(const EvalContext& c) const;
  virtual double Numeric(const EvalContext& c) const;
  virtual std::string_view Character(const EvalContext& c) const;

  // True when the value depends on no record and the node needs no buffer: such a node may be
  // evaluated at compile time, before buffers exist, with a context whose record is null.
  virtual bool IsConstant() const { return false; }

  // Bytes of evaluation buffers this subtree needs, and their allocation, done once after
  // the whole tree is built so that evaluation never allocates.
  size_t BufferBytes() const;
  void AllocateBuffers();

  // ---- Factories ---------------------------------------------------------------------------
  static Ptr CharField(int offset, int width);
  static Ptr NumField(int offset, int width, int decimals);
  static Ptr DateField(int offset);
  static Ptr LogicalField(int offset);
  static Ptr CharLiteral(std::string_view bytes);
  static Ptr NumLiteral(double value, int decimals);
  static Ptr LogicalLiteral(bool value);
  static Ptr Deleted();
  static Ptr Recno();

  // Left-associative chains: when `left` was itself built by the same factory, the right operand
  // is appended to it instead of growing the tree, so a + b + c + ... of any length stays flat.
  static Ptr Concat(Ptr left, AddOp op, Ptr right);  // character + and -
  // Numeric and date + and -: N+N, N-N -> N; D+N, N+D, D-N -> D; D-D -> N.
  static Ptr Add(Ptr left, AddOp op, Ptr right);
  static Ptr Mul(Ptr left, MulOp op, Ptr right);
  static Ptr And(Ptr left, Ptr right);
  static Ptr Or(Ptr left, Ptr right);

  static Ptr Negate(Ptr operand);
  static Ptr Not(Ptr operand);
  static Ptr Compare(CompareOp op, Ptr left, Ptr right);  // operands of one type
  static Ptr Contains(Ptr needle, Ptr haystack);          // needle $ haystack

  static Ptr ChangeCase(CaseMap map, Ptr text);
  static Ptr Trim(TrimMode mode, Ptr text);
  // SUBSTR(text, a[, b]), LEFT(text, a), RIGHT(text, a); `b` may be null.
  static Ptr SliceOf(Slice kind, Ptr text, Ptr a, Ptr b);
  static Ptr Len(Ptr text);
  static Ptr Dtos(Ptr date);
  static Ptr Str(Ptr number, int width, int decimals);  // 1..255 wide, 0..18 decimals
  static Ptr Val(Ptr text);
  static Ptr Iif(Ptr condition, Ptr when_true, Ptr when_false);  // branches of one type

 protected:
  ExprNode(Type type, int width);

  void AddChild(Ptr child);
  const ExprNode& child(size_t i) const { return *children_[i]; }
  size_t child_count() const { return children_.size(); }
  bool ChildrenConstant() const;
  // One byte more than asked, so that even a zero-width value has a real (non-null) buffer.
  void set_buffer_size(size_t bytes) { buffer_size_ = bytes + 1; }
  char* buffer() const { return buffer_.data(); }

  Type type_;
  int width_;
  int decimals_ = 0;
  int display_width_ = 10;

 private:
  int depth_ = 1;
  std::vector<Ptr> children_;
  size_t buffer_size_ = 0;
  mutable std::vector<char> buffer_;
};

}  // namespace xb
