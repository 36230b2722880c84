#include "Expression.h"

#include <algorithm>
#include <cstring>

#include "ExprConvert.h"
#include "ExprNode.h"
#include "ExprParser.h"

namespace xb {

Status Expression::Compile(std::string_view text, const std::vector<FieldDef>& fields,
                           std::unique_ptr<Expression>* out) {
  if (out == nullptr)
    return Status::InvalidArgument("Expression::Compile needs somewhere to put the result");
  ExprParser parser(text, fields);
  std::unique_ptr<ExprNode> root;
  Status s = parser.Parse(&root);
  if (!s.ok()) return s;
  size_t bytes = root->BufferBytes();
  if (bytes > kMaxBufferBytes) {
    return Status::Syntax("Expression needs " + std::to_string(bytes) +
                          " bytes of working memory, more than " + std::to_string(kMaxBufferBytes) +
                          ", at position 1");
  }
  root->AllocateBuffers();
  out->reset(new Expression(std::string(text), std::move(root), parser.bare_words(),
                            parser.min_record_size()));
  return Status::Ok();
}

Expression::Expression(std::string text, std::unique_ptr<ExprNode> root,
                       std::vector<size_t> bare_words, int min_record_size)
    : text_(std::move(text)),
      root_(std::move(root)),
      bare_words_(std::move(bare_words)),
      type_(root_->type()),
      width_(root_->width()),
      min_record_size_(min_record_size) {}

Expression::~Expression() = default;

std::string Expression::StorageText() const {
  std::string out;
  out.reserve(text_.size() + 3 * bare_words_.size());
  size_t pos = 0;
  for (size_t word : bare_words_) {  // in text order: the parser meets them left to right
    out.append(text_, pos, word - pos);
    size_t end = word;
    std::string upper;
    for (; end < text_.size(); ++end) {  // ASCII only: a locale must not widen the word
      char ch = text_[end];
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
      if (ch < 'A' || ch > 'Z') break;
      upper += ch;
    }
    out += "." + upper + ".";
    // The dots delimit the operator, so the blanks that separated the bare word can go.
    while (end < text_.size() &&
           (text_[end] == ' ' || text_[end] == '\t' || text_[end] == '\r' || text_[end] == '\n')) {
      ++end;
    }
    pos = end;
  }
  out.append(text_, pos, std::string::npos);
  return out;
}

bool Expression::EvalLogical(const EvalContext& c) const {
  return type_ == kLogical && root_->Logical(c);
}

double Expression::EvalNumeric(const EvalContext& c) const {
  return type_ == kNumeric || type_ == kDate ? root_->Numeric(c) : 0;
}

std::string_view Expression::EvalCharacter(const EvalContext& c) const {
  if (type_ == kCharacter) return root_->Character(c);
  text_buffer_ = EvalString(c);
  return text_buffer_;
}

std::string Expression::EvalString(const EvalContext& c) const {
  switch (type_) {
    case kCharacter:
      return std::string(root_->Character(c));
    case kLogical:
      return root_->Logical(c) ? ".T." : ".F.";
    case kDate: {
      char text[8];
      exprconv::DateToText(root_->Numeric(c), text);
      return std::string(text, sizeof text);
    }
    case kNumeric:
      break;
  }
  char text[exprconv::kMaxNumberText];
  int width = std::min(root_->display_width(), exprconv::kMaxStrWidth);
  int len = exprconv::FormatNumberWide(root_->Numeric(c), width, root_->decimals(), text);
  return std::string(text, static_cast<size_t>(len));
}

void Expression::EvalKey(const EvalContext& c, uint8_t* out) const {
  switch (type_) {
    case kCharacter: {
      std::string_view v = root_->Character(c);
      size_t key = static_cast<size_t>(width_);
      size_t n = std::min(v.size(), key);
      if (n > 0) std::memcpy(out, v.data(), n);
      std::memset(out + n, ' ', key - n);
      return;
    }
    case kLogical:
      out[0] = root_->Logical(c) ? 'T' : 'F';
      return;
    case kNumeric:
    case kDate:
      exprconv::EncodeNumericKey(root_->Numeric(c), out);
      return;
  }
}

}  // namespace xb
