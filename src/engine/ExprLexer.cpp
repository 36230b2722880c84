#include "ExprLexer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace xb {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
bool IsLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool IsNameStart(char c) {
  return IsLetter(c) || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || IsDigit(c);
}
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Printable ASCII as 'c', anything else by its code, so a message never carries control bytes.
std::string DescribeChar(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b > 0x20 && b < 0x7F) return std::string("'") + c + "'";
  char hex[16];
  std::snprintf(hex, sizeof hex, "byte 0x%02X", b);
  return hex;
}

}  // namespace

std::string ExprToken::Describe() const {
  if (kind == kEnd) return "the end of the expression";
  constexpr size_t kShown = 20;
  std::string out = "'";
  for (size_t i = 0; i < text.size() && i < kShown; ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    out += (b >= 0x20 && b < 0x7F) ? text[i] : '?';
  }
  if (text.size() > kShown) out += "...";
  return out + "'";
}

Status ExprLexer::Error(size_t offset, const std::string& what) const {
  return Status::Syntax(what + " at position " + std::to_string(offset + 1));
}

Status ExprLexer::Next(ExprToken* token) {
  while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
  *token = ExprToken();
  token->offset = pos_;
  if (pos_ >= text_.size()) {
    token->kind = ExprToken::kEnd;
    token->text = text_.substr(pos_);
    return Status::Ok();
  }
  char c = text_[pos_];
  char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';

  if (IsDigit(c) || (c == '.' && IsDigit(next))) return ReadNumber(token);
  if (c == '.') return ReadDotted(token);
  if (c == '"' || c == '\'') return ReadString(c, token);
  if (c == '[') return ReadString(']', token);
  if (IsNameStart(c)) {
    size_t end = pos_ + 1;
    while (end < text_.size() && IsNameChar(text_[end])) ++end;
    token->kind = ExprToken::kName;
    token->text = text_.substr(pos_, end - pos_);
    pos_ = end;
    return Status::Ok();
  }

  ExprToken::Kind kind = ExprToken::kEnd;
  size_t len = 1;
  switch (c) {
    case '+':
      kind = ExprToken::kPlus;
      break;
    case '-':
      kind = ExprToken::kMinus;
      break;
    case '*':
      kind = ExprToken::kStar;
      break;
    case '/':
      kind = ExprToken::kSlash;
      break;
    case '(':
      kind = ExprToken::kLParen;
      break;
    case ')':
      kind = ExprToken::kRParen;
      break;
    case ',':
      kind = ExprToken::kComma;
      break;
    case '$':
      kind = ExprToken::kDollar;
      break;
    case '#':
      kind = ExprToken::kNe;
      break;
    case '=':
      kind = next == '=' ? ExprToken::kExactEq : ExprToken::kEq;
      len = next == '=' ? 2 : 1;
      break;
    case '!':
      kind = next == '=' ? ExprToken::kNe : ExprToken::kBang;
      len = next == '=' ? 2 : 1;
      break;
    case '<':
      if (next == '=') {
        kind = ExprToken::kLe;
        len = 2;
      } else if (next == '>') {
        kind = ExprToken::kNe;
        len = 2;
      } else {
        kind = ExprToken::kLt;
      }
      break;
    case '>':
      kind = next == '=' ? ExprToken::kGe : ExprToken::kGt;
      len = next == '=' ? 2 : 1;
      break;
    default:
      return Error(pos_, "Unexpected character " + DescribeChar(c));
  }
  token->kind = kind;
  token->text = text_.substr(pos_, len);
  pos_ += len;
  return Status::Ok();
}

// number := digits [ "." digits ] | "." digits
// A point not followed by a digit ends the number, so "1.and.x" reads as 1 .and. x.
Status ExprLexer::ReadNumber(ExprToken* token) {
  size_t start = pos_;
  size_t end = pos_;
  while (end < text_.size() && IsDigit(text_[end])) ++end;
  int decimals = 0;
  if (end + 1 < text_.size() && text_[end] == '.' && IsDigit(text_[end + 1])) {
    ++end;
    while (end < text_.size() && IsDigit(text_[end])) {
      ++end;
      ++decimals;
    }
  }
  double value = 0;
  auto res =
      std::from_chars(text_.data() + start, text_.data() + end, value, std::chars_format::fixed);
  if (res.ec != std::errc() || res.ptr != text_.data() + end || !std::isfinite(value)) {
    return Error(start, "Number out of range");
  }
  token->kind = ExprToken::kNumber;
  token->text = text_.substr(start, end - start);
  token->number = value;
  token->decimals = decimals;
  pos_ = end;
  return Status::Ok();
}

// Strings have no escapes: "..." may hold ' and ], '...' may hold " and so on.
Status ExprLexer::ReadString(char close, ExprToken* token) {
  size_t start = pos_;
  size_t end = text_.find(close, start + 1);
  if (end == std::string_view::npos) return Error(start, "Unterminated string starting");
  token->kind = ExprToken::kString;
  token->text = text_.substr(start, end + 1 - start);
  token->value = text_.substr(start + 1, end - start - 1);
  pos_ = end + 1;
  return Status::Ok();
}

// dotted := "." letters "."  — .AND. .OR. .NOT. .T. .F. .Y. .N. in any case.
Status ExprLexer::ReadDotted(ExprToken* token) {
  size_t start = pos_;
  size_t end = start + 1;
  while (end < text_.size() && IsLetter(text_[end])) ++end;
  if (end == start + 1 || end >= text_.size() || text_[end] != '.') {
    return Error(start, "Unexpected character '.'");
  }
  std::string word;
  for (size_t i = start + 1; i < end; ++i) word += Upper(text_[i]);
  token->text = text_.substr(start, end + 1 - start);
  if (word == "AND") {
    token->kind = ExprToken::kAnd;
  } else if (word == "OR") {
    token->kind = ExprToken::kOr;
  } else if (word == "NOT") {
    token->kind = ExprToken::kNot;
  } else if (word == "T" || word == "Y") {
    token->kind = ExprToken::kTrue;
  } else if (word == "F" || word == "N") {
    token->kind = ExprToken::kFalse;
  } else {
    token->kind = ExprToken::kName;  // so that Describe quotes it, shortened if long
    return Error(start, "Unknown operator " + token->Describe());
  }
  pos_ = end + 1;
  return Status::Ok();
}

}  // namespace xb
