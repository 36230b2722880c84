#include "ExprParser.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "ExprConvert.h"

namespace xb {

namespace {

using Ptr = ExprNode::Ptr;

// Constant arguments are evaluated while compiling; constants read no record.
constexpr EvalContext kNoRecord{nullptr, 0, false};

// A DBF record length is a 16-bit number, so no field can end beyond this.
constexpr int64_t kMaxRecordSize = 65535;

enum Function {
  kUpper,
  kLower,
  kTrim,
  kRtrim,
  kLtrim,
  kAlltrim,
  kSubstr,
  kLeft,
  kRight,
  kLen,
  kDtos,
  kStr,
  kVal,
  kIif,
  kDeleted,
  kRecno,
};

const char* TypeName(ExprValue::Type type) {
  switch (type) {
    case ExprValue::kCharacter:
      return "character";
    case ExprValue::kNumeric:
      return "numeric";
    case ExprValue::kDate:
      return "date";
    case ExprValue::kLogical:
      return "logical";
  }
  return "unknown";
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// and/or/not are operators wherever they stand, so they can never name a field.
bool IsReservedWord(std::string_view name) {
  return EqualsNoCase(name, "AND") || EqualsNoCase(name, "OR") || EqualsNoCase(name, "NOT");
}

bool IsComparison(ExprToken::Kind kind) {
  switch (kind) {
    case ExprToken::kEq:
    case ExprToken::kExactEq:
    case ExprToken::kNe:
    case ExprToken::kLt:
    case ExprToken::kLe:
    case ExprToken::kGt:
    case ExprToken::kGe:
    case ExprToken::kDollar:
      return true;
    default:
      return false;
  }
}

ExprNode::CompareOp CompareOpOf(ExprToken::Kind kind) {
  switch (kind) {
    case ExprToken::kExactEq:
      return ExprNode::CompareOp::kExactEq;
    case ExprToken::kNe:
      return ExprNode::CompareOp::kNe;
    case ExprToken::kLt:
      return ExprNode::CompareOp::kLt;
    case ExprToken::kLe:
      return ExprNode::CompareOp::kLe;
    case ExprToken::kGt:
      return ExprNode::CompareOp::kGt;
    case ExprToken::kGe:
      return ExprNode::CompareOp::kGe;
    default:
      return ExprNode::CompareOp::kEq;
  }
}

std::string ArgumentCount(int min, int max) {
  if (min == max) return std::to_string(min) + (min == 1 ? " argument" : " arguments");
  if (max == min + 1) return std::to_string(min) + " or " + std::to_string(max) + " arguments";
  return std::to_string(min) + " to " + std::to_string(max) + " arguments";
}

}  // namespace

// Counts how deeply the parser has recursed through parentheses, calls and prefix operators.
class ExprParser::Nesting {
 public:
  explicit Nesting(int* level) : level_(level) { ++*level_; }
  ~Nesting() { --*level_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;
  bool too_deep() const { return *level_ > ExprValue::kMaxDepth; }

 private:
  int* level_;
};

namespace {

struct FunctionInfo {
  const char* name;
  int min_args;
  int max_args;
  Function id;
};

const FunctionInfo kFunctions[] = {
    {"UPPER", 1, 1, kUpper},   {"LOWER", 1, 1, kLower}, {"TRIM", 1, 1, kTrim},
    {"RTRIM", 1, 1, kRtrim},   {"LTRIM", 1, 1, kLtrim}, {"ALLTRIM", 1, 1, kAlltrim},
    {"SUBSTR", 2, 3, kSubstr}, {"LEFT", 2, 2, kLeft},   {"RIGHT", 2, 2, kRight},
    {"LEN", 1, 1, kLen},       {"DTOS", 1, 1, kDtos},   {"STR", 1, 3, kStr},
    {"VAL", 1, 1, kVal},       {"IIF", 3, 3, kIif},     {"DELETED", 0, 0, kDeleted},
    {"RECNO", 0, 0, kRecno},
};

const FunctionInfo* FindFunction(std::string_view name) {
  for (const auto& fn : kFunctions) {
    if (EqualsNoCase(name, fn.name)) return &fn;
  }
  return nullptr;
}

}  // namespace

Status ExprParser::Error(size_t position, const std::string& what) const {
  return Status::Syntax(what + " at position " + std::to_string(position));
}

Status ExprParser::TooDeep(size_t position) const {
  return Error(position, "Expression is nested too deeply (more than " +
                             std::to_string(ExprValue::kMaxDepth) + " levels)");
}

Status ExprParser::CheckDepth(const Ptr& node, size_t position) const {
  return node->depth() > ExprValue::kMaxDepth ? TooDeep(position) : Status::Ok();
}

Status ExprParser::CheckWidth(size_t width, size_t position) const {
  if (width <= static_cast<size_t>(ExprValue::kMaxCharacterWidth)) return Status::Ok();
  return Error(position, "Character value would be longer than " +
                             std::to_string(ExprValue::kMaxCharacterWidth) + " bytes");
}

Status ExprParser::NeedType(const Ptr& node, ExprValue::Type type, const std::string& who,
                            size_t position) const {
  if (node->type() == type) return Status::Ok();
  return Error(position,
               who + " needs a " + TypeName(type) + " value, not " + TypeName(node->type()));
}

bool ExprParser::TakeWordOperator(ExprToken::Kind dotted, std::string_view bare) {
  const ExprToken& t = Peek();
  if (t.kind == dotted) {
    Take();
    return true;
  }
  if (t.kind == ExprToken::kName && EqualsNoCase(t.text, bare)) {
    bare_words_.push_back(t.offset);
    Take();
    return true;
  }
  return false;
}

Status ExprParser::Parse(Ptr* root) {
  ExprLexer lexer(text_);
  for (;;) {
    ExprToken token;
    RETURN_IF_ERROR(lexer.Next(&token));
    tokens_.push_back(token);
    if (token.kind == ExprToken::kEnd) break;
  }
  if (tokens_.front().kind == ExprToken::kEnd) return Error(1, "Expression is empty");

  Ptr node;
  RETURN_IF_ERROR(ParseOr(&node));
  const ExprToken& t = Peek();
  if (t.kind == ExprToken::kRParen) return Error(t.position(), "Unmatched ')'");
  if (t.kind != ExprToken::kEnd) {
    return Error(t.position(),
                 "Expected an operator or the end of the expression but found " + t.Describe());
  }
  *root = std::move(node);
  return Status::Ok();
}

// or_expr := and_expr { ( ".OR." | "or" ) and_expr }
Status ExprParser::ParseOr(Ptr* out) {
  size_t start = Peek().position();
  Ptr left;
  RETURN_IF_ERROR(ParseAnd(&left));
  for (;;) {
    const ExprToken& op = Peek();
    if (!TakeWordOperator(ExprToken::kOr, "OR")) break;
    RETURN_IF_ERROR(NeedType(left, ExprValue::kLogical, "Operator " + op.Describe(), start));
    size_t right_start = Peek().position();
    Ptr right;
    RETURN_IF_ERROR(ParseAnd(&right));
    RETURN_IF_ERROR(
        NeedType(right, ExprValue::kLogical, "Operator " + op.Describe(), right_start));
    left = ExprNode::Or(std::move(left), std::move(right));
    RETURN_IF_ERROR(CheckDepth(left, op.position()));
  }
  *out = std::move(left);
  return Status::Ok();
}

// and_expr := not_expr { ( ".AND." | "and" ) not_expr }
Status ExprParser::ParseAnd(Ptr* out) {
  size_t start = Peek().position();
  Ptr left;
  RETURN_IF_ERROR(ParseNot(&left));
  for (;;) {
    const ExprToken& op = Peek();
    if (!TakeWordOperator(ExprToken::kAnd, "AND")) break;
    RETURN_IF_ERROR(NeedType(left, ExprValue::kLogical, "Operator " + op.Describe(), start));
    size_t right_start = Peek().position();
    Ptr right;
    RETURN_IF_ERROR(ParseNot(&right));
    RETURN_IF_ERROR(
        NeedType(right, ExprValue::kLogical, "Operator " + op.Describe(), right_start));
    left = ExprNode::And(std::move(left), std::move(right));
    RETURN_IF_ERROR(CheckDepth(left, op.position()));
  }
  *out = std::move(left);
  return Status::Ok();
}

// not_expr := ( ".NOT." | "not" | "!" ) not_expr | comparison
Status ExprParser::ParseNot(Ptr* out) {
  const ExprToken& op = Peek();
  bool negate = false;
  if (op.kind == ExprToken::kBang) {
    Take();
    negate = true;
  } else {
    negate = TakeWordOperator(ExprToken::kNot, "NOT");
  }
  if (!negate) return ParseComparison(out);

  Nesting nesting(&nesting_);
  if (nesting.too_deep()) return TooDeep(op.position());
  size_t start = Peek().position();
  Ptr operand;
  RETURN_IF_ERROR(ParseNot(&operand));
  RETURN_IF_ERROR(NeedType(operand, ExprValue::kLogical, "Operator " + op.Describe(), start));
  *out = ExprNode::Not(std::move(operand));
  return CheckDepth(*out, op.position());
}

// comparison := additive { ( "=" | "==" | "<>" | "#" | "!=" | "<" | "<=" | ">" | ">=" | "$" )
//                          additive }
Status ExprParser::ParseComparison(Ptr* out) {
  size_t start = Peek().position();
  Ptr left;
  RETURN_IF_ERROR(ParseAdditive(&left));
  while (IsComparison(Peek().kind)) {
    const ExprToken& op = Take();
    size_t right_start = Peek().position();
    Ptr right;
    RETURN_IF_ERROR(ParseAdditive(&right));
    if (op.kind == ExprToken::kDollar) {
      RETURN_IF_ERROR(NeedType(left, ExprValue::kCharacter, "Operator '$'", start));
      RETURN_IF_ERROR(NeedType(right, ExprValue::kCharacter, "Operator '$'", right_start));
      left = ExprNode::Contains(std::move(left), std::move(right));
    } else {
      if (left->type() != right->type()) {
        return Error(op.position(), std::string("Cannot compare ") + TypeName(left->type()) +
                                        " with " + TypeName(right->type()));
      }
      left = ExprNode::Compare(CompareOpOf(op.kind), std::move(left), std::move(right));
    }
    RETURN_IF_ERROR(CheckDepth(left, op.position()));
    start = op.position();
  }
  *out = std::move(left);
  return Status::Ok();
}

// additive := multiplicative { ( "+" | "-" ) multiplicative }
Status ExprParser::ParseAdditive(Ptr* out) {
  Ptr left;
  RETURN_IF_ERROR(ParseMultiplicative(&left));
  while (Peek().kind == ExprToken::kPlus || Peek().kind == ExprToken::kMinus) {
    const ExprToken& op = Take();
    Ptr right;
    RETURN_IF_ERROR(ParseMultiplicative(&right));
    bool plus = op.kind == ExprToken::kPlus;
    auto add_op = plus ? ExprNode::AddOp::kPlus : ExprNode::AddOp::kMinus;
    ExprValue::Type a = left->type();
    ExprValue::Type b = right->type();
    using E = ExprValue;
    if (a == E::kCharacter && b == E::kCharacter) {
      RETURN_IF_ERROR(CheckWidth(
          static_cast<size_t>(left->width()) + static_cast<size_t>(right->width()), op.position()));
      left = ExprNode::Concat(std::move(left), add_op, std::move(right));
    } else if ((a == E::kNumeric && b == E::kNumeric) || (a == E::kDate && b == E::kNumeric) ||
               (plus && a == E::kNumeric && b == E::kDate) ||
               (!plus && a == E::kDate && b == E::kDate)) {
      left = ExprNode::Add(std::move(left), add_op, std::move(right));
    } else {
      return Error(op.position(), "Operator " + op.Describe() + " cannot combine " + TypeName(a) +
                                      " and " + TypeName(b));
    }
    RETURN_IF_ERROR(CheckDepth(left, op.position()));
  }
  *out = std::move(left);
  return Status::Ok();
}

// multiplicative := unary { ( "*" | "/" ) unary }
Status ExprParser::ParseMultiplicative(Ptr* out) {
  size_t start = Peek().position();
  Ptr left;
  RETURN_IF_ERROR(ParseUnary(&left));
  while (Peek().kind == ExprToken::kStar || Peek().kind == ExprToken::kSlash) {
    const ExprToken& op = Take();
    RETURN_IF_ERROR(NeedType(left, ExprValue::kNumeric, "Operator " + op.Describe(), start));
    size_t right_start = Peek().position();
    Ptr right;
    RETURN_IF_ERROR(ParseUnary(&right));
    RETURN_IF_ERROR(
        NeedType(right, ExprValue::kNumeric, "Operator " + op.Describe(), right_start));
    auto mul_op = op.kind == ExprToken::kStar ? ExprNode::MulOp::kTimes : ExprNode::MulOp::kDivide;
    left = ExprNode::Mul(std::move(left), mul_op, std::move(right));
    RETURN_IF_ERROR(CheckDepth(left, op.position()));
  }
  *out = std::move(left);
  return Status::Ok();
}

// unary := ( "-" | "+" ) unary | primary
Status ExprParser::ParseUnary(Ptr* out) {
  const ExprToken& op = Peek();
  if (op.kind != ExprToken::kMinus && op.kind != ExprToken::kPlus) return ParsePrimary(out);
  Take();
  Nesting nesting(&nesting_);
  if (nesting.too_deep()) return TooDeep(op.position());
  size_t start = Peek().position();
  Ptr operand;
  RETURN_IF_ERROR(ParseUnary(&operand));
  RETURN_IF_ERROR(NeedType(operand, ExprValue::kNumeric, "Unary " + op.Describe(), start));
  *out = op.kind == ExprToken::kMinus ? ExprNode::Negate(std::move(operand)) : std::move(operand);
  return CheckDepth(*out, op.position());
}

// primary := number | string | ".T." | ".F." | ".Y." | ".N." | "(" or_expr ")"
//          | field | function "(" [ or_expr { "," or_expr } ] ")"
Status ExprParser::ParsePrimary(Ptr* out) {
  const ExprToken& t = Peek();
  switch (t.kind) {
    case ExprToken::kNumber:
      Take();
      *out = ExprNode::NumLiteral(t.number, t.decimals);
      return Status::Ok();
    case ExprToken::kString:
      RETURN_IF_ERROR(CheckWidth(t.value.size(), t.position()));
      Take();
      *out = ExprNode::CharLiteral(t.value);
      return Status::Ok();
    case ExprToken::kTrue:
    case ExprToken::kFalse:
      Take();
      *out = ExprNode::LogicalLiteral(t.kind == ExprToken::kTrue);
      return Status::Ok();
    case ExprToken::kLParen: {
      Take();
      Nesting nesting(&nesting_);
      if (nesting.too_deep()) return TooDeep(t.position());
      Ptr inner;
      RETURN_IF_ERROR(ParseOr(&inner));
      const ExprToken& close = Peek();
      if (close.kind == ExprToken::kEnd) return Error(t.position(), "Unclosed '('");
      if (close.kind != ExprToken::kRParen) {
        return Error(close.position(), "Expected ')' but found " + close.Describe());
      }
      Take();
      *out = std::move(inner);
      return Status::Ok();
    }
    case ExprToken::kName:
      if (IsReservedWord(t.text)) {
        return Error(t.position(), "Expected a value but found " + t.Describe());
      }
      Take();
      if (Peek().kind == ExprToken::kLParen) return ParseCall(t, out);
      return ParseField(t, out);
    case ExprToken::kEnd:
      return Error(t.position(), "Expected a value but the expression ends");
    default:
      return Error(t.position(), "Expected a value but found " + t.Describe());
  }
}

Status ExprParser::ParseField(const ExprToken& name, Ptr* out) {
  const FieldDef* field = nullptr;
  for (const FieldDef& f : fields_) {
    if (EqualsNoCase(f.name, name.text)) {
      field = &f;
      break;
    }
  }
  if (!field) return Error(name.position(), "Unknown field " + name.Describe());

  char type = field->type;
  if (type == 'M' || type == 'G' || type == 'P') {
    return Error(name.position(),
                 "Memo field " + name.Describe() + " cannot be used in an expression");
  }
  int64_t end = static_cast<int64_t>(field->offset) + field->width;
  int needed = type == 'D' ? 8 : 1;
  if (field->offset < 1 || field->width < needed || end > kMaxRecordSize) {
    return Status::InvalidArgument("Field " + field->name + " has width " +
                                   std::to_string(field->width) + " at offset " +
                                   std::to_string(field->offset) + ", which no record can hold");
  }
  switch (type) {
    case 'C':
      *out = ExprNode::CharField(field->offset, field->width);
      break;
    case 'N':
    case 'F':
      *out = ExprNode::NumField(field->offset, field->width, field->decimals);
      break;
    case 'D':
      *out = ExprNode::DateField(field->offset);
      break;
    case 'L':
      *out = ExprNode::LogicalField(field->offset);
      break;
    default:
      return Error(name.position(), "Field " + name.Describe() + " has type '" +
                                        std::string(1, type) + "', which expressions cannot use");
  }
  min_record_size_ = std::max(min_record_size_, static_cast<int>(end));
  return Status::Ok();
}

Status ExprParser::ParseCall(const ExprToken& name, Ptr* out) {
  const FunctionInfo* fn = FindFunction(name.text);
  if (!fn) return Error(name.position(), "Unknown function " + name.Describe());
  const ExprToken& open = Take();
  Nesting nesting(&nesting_);
  if (nesting.too_deep()) return TooDeep(name.position());

  std::vector<Ptr> args;
  std::vector<size_t> positions;
  if (Peek().kind == ExprToken::kRParen) {
    Take();
  } else {
    for (;;) {
      positions.push_back(Peek().position());
      Ptr arg;
      RETURN_IF_ERROR(ParseOr(&arg));
      args.push_back(std::move(arg));
      const ExprToken& t = Peek();
      if (t.kind == ExprToken::kComma) {
        Take();
        continue;
      }
      if (t.kind == ExprToken::kRParen) {
        Take();
        break;
      }
      if (t.kind == ExprToken::kEnd) return Error(open.position(), "Unclosed '('");
      return Error(t.position(), "Expected ',' or ')' but found " + t.Describe());
    }
  }
  int count = static_cast<int>(args.size());
  if (count < fn->min_args || count > fn->max_args) {
    return Error(name.position(), std::string("Function ") + fn->name + " expects " +
                                      ArgumentCount(fn->min_args, fn->max_args) + ", got " +
                                      std::to_string(count));
  }
  RETURN_IF_ERROR(BuildCall(fn->id, fn->name, name, &args, positions, out));
  return CheckDepth(*out, name.position());
}

Status ExprParser::BuildCall(int function, const char* fn_name, const ExprToken& name,
                             std::vector<Ptr>* args_in, const std::vector<size_t>& positions,
                             Ptr* out) {
  std::vector<Ptr>& args = *args_in;
  auto need = [&](size_t i, ExprValue::Type type) {
    if (args[i]->type() == type) return Status::Ok();
    return Error(positions[i], "Argument " + std::to_string(i + 1) + " of " + fn_name +
                                   " must be " + TypeName(type) + ", not " +
                                   TypeName(args[i]->type()));
  };
  // STR's width and decimals fix the width of its result, so they must be known now.
  auto constant = [&](size_t i, int lo, int hi, int* value) {
    RETURN_IF_ERROR(need(i, ExprValue::kNumeric));
    if (!args[i]->IsConstant()) {
      return Error(positions[i], "Argument " + std::to_string(i + 1) + " of " + fn_name +
                                     " must be a constant number");
    }
    double v = args[i]->Numeric(kNoRecord);
    if (!(v >= lo && v < static_cast<double>(hi) + 1)) {
      return Error(positions[i], "Argument " + std::to_string(i + 1) + " of " + fn_name +
                                     " must be from " + std::to_string(lo) + " to " +
                                     std::to_string(hi));
    }
    *value = exprconv::ClampToInt(v, lo, hi);
    return Status::Ok();
  };

  switch (static_cast<Function>(function)) {
    case kUpper:
    case kLower:
      RETURN_IF_ERROR(need(0, ExprValue::kCharacter));
      *out = ExprNode::ChangeCase(
          function == kUpper ? ExprNode::CaseMap::kUpper : ExprNode::CaseMap::kLower,
          std::move(args[0]));
      return Status::Ok();
    case kTrim:
    case kRtrim:
    case kLtrim:
    case kAlltrim: {
      RETURN_IF_ERROR(need(0, ExprValue::kCharacter));
      auto mode = function == kLtrim     ? ExprNode::TrimMode::kLeft
                  : function == kAlltrim ? ExprNode::TrimMode::kBoth
                                         : ExprNode::TrimMode::kRight;
      *out = ExprNode::Trim(mode, std::move(args[0]));
      return Status::Ok();
    }
    case kSubstr:
    case kLeft:
    case kRight: {
      RETURN_IF_ERROR(need(0, ExprValue::kCharacter));
      for (size_t i = 1; i < args.size(); ++i) RETURN_IF_ERROR(need(i, ExprValue::kNumeric));
      auto kind = function == kSubstr ? ExprNode::Slice::kSubstr
                  : function == kLeft ? ExprNode::Slice::kLeft
                                      : ExprNode::Slice::kRight;
      Ptr b = args.size() > 2 ? std::move(args[2]) : nullptr;
      *out = ExprNode::SliceOf(kind, std::move(args[0]), std::move(args[1]), std::move(b));
      return Status::Ok();
    }
    case kLen:
      RETURN_IF_ERROR(need(0, ExprValue::kCharacter));
      *out = ExprNode::Len(std::move(args[0]));
      return Status::Ok();
    case kDtos:
      RETURN_IF_ERROR(need(0, ExprValue::kDate));
      *out = ExprNode::Dtos(std::move(args[0]));
      return Status::Ok();
    case kStr: {
      RETURN_IF_ERROR(need(0, ExprValue::kNumeric));
      int width = 10;
      int decimals = 0;
      if (args.size() > 1) RETURN_IF_ERROR(constant(1, 1, exprconv::kMaxStrWidth, &width));
      if (args.size() > 2) {
        RETURN_IF_ERROR(constant(2, 0, exprconv::kMaxStrDecimals, &decimals));
      }
      *out = ExprNode::Str(std::move(args[0]), width, decimals);
      return Status::Ok();
    }
    case kVal:
      RETURN_IF_ERROR(need(0, ExprValue::kCharacter));
      *out = ExprNode::Val(std::move(args[0]));
      return Status::Ok();
    case kIif:
      RETURN_IF_ERROR(need(0, ExprValue::kLogical));
      if (args[1]->type() != args[2]->type()) {
        return Error(name.position(), std::string("The branches of IIF must have one type, not ") +
                                          TypeName(args[1]->type()) + " and " +
                                          TypeName(args[2]->type()));
      }
      *out = ExprNode::Iif(std::move(args[0]), std::move(args[1]), std::move(args[2]));
      return Status::Ok();
    case kDeleted:
      *out = ExprNode::Deleted();
      return Status::Ok();
    case kRecno:
      *out = ExprNode::Recno();
      return Status::Ok();
  }
  return Error(name.position(), "Unknown function " + name.Describe());
}

}  // namespace xb
