#include "FieldList.h"

#include <cctype>
#include <cstring>

namespace {

constexpr size_t kMaxFields = 254;

std::vector<std::string_view> Split(std::string_view text, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t end = text.find(sep, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// Small non-negative integers only: anything else in a width or decimals slot is a typo.
bool ParseCount(const std::string& s, int* value) {
  if (s.empty() || s.size() > 5) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *value = v;
  return true;
}

int FixedWidth(char type) {
  switch (type) {
    case 'L':
      return 1;
    case 'D':
      return 8;
    case 'M':
      return 10;
    default:
      return 0;
  }
}

bool ParseEntry(const std::vector<std::string>& words, FieldSpec* f, std::string* error) {
  if (words.size() < 2 || words.size() > 4) {
    *error = "write NAME TYPE WIDTH [DECIMALS]";
    return false;
  }
  const std::string& name = words[0];
  if (name.size() > 10) {
    *error = "the name " + name + " is longer than 10 characters";
    return false;
  }
  if (!std::isalpha(static_cast<unsigned char>(name[0]))) {
    *error = "the name " + name + " must start with a letter";
    return false;
  }
  for (char c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
      *error = "the name " + name + " may hold only letters, digits and _";
      return false;
    }
    f->name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  const std::string& type = words[1];
  if (type.size() != 1 || std::strchr("CNFLDMcnfldm", type[0]) == nullptr) {
    *error = "type '" + type + "' is not one of C, N, F, L, D, M";
    return false;
  }
  f->type = static_cast<char>(std::toupper(static_cast<unsigned char>(type[0])));
  const int fixed = FixedWidth(f->type);
  if (words.size() < 3) {
    if (fixed == 0) {
      *error = std::string("a field of type ") + f->type + " needs a width";
      return false;
    }
    f->width = fixed;
  } else if (!ParseCount(words[2], &f->width)) {
    *error = "width '" + words[2] + "' is not a whole number";
    return false;
  }
  if (words.size() == 4 && !ParseCount(words[3], &f->decimals)) {
    *error = "decimals '" + words[3] + "' is not a whole number";
    return false;
  }
  switch (f->type) {
    case 'C':
      if (f->width < 1 || f->width > 254) {
        *error = "a character field needs a width of 1 to 254";
        return false;
      }
      break;
    case 'N':
    case 'F':
      if (f->width < 1 || f->width > 20) {
        *error = "a numeric field needs a width of 1 to 20";
        return false;
      }
      // Room for the point and a digit before it.
      if (f->decimals > 0 && f->decimals > f->width - 2) {
        *error = "width " + std::to_string(f->width) + " has no room for " +
                 std::to_string(f->decimals) + " decimals";
        return false;
      }
      break;
    default:
      if (f->width != fixed) {
        *error = std::string("a field of type ") + f->type + " has width " + std::to_string(fixed);
        return false;
      }
      break;
  }
  if (f->decimals != 0 && f->type != 'N' && f->type != 'F') {
    *error = "only numeric fields have decimals";
    return false;
  }
  return true;
}

}  // namespace

bool FieldList::Parse(std::string_view text, std::vector<FieldSpec>* out, std::string* error) {
  out->clear();
  const std::vector<std::string_view> entries = Split(text, ',');
  for (size_t i = 0; i < entries.size(); ++i) {
    const std::string where = "field " + std::to_string(i + 1);
    const std::vector<std::string> words = Words(entries[i]);
    if (words.empty()) {
      *error = entries.size() == 1 ? std::string("the field list is empty")
                                   : where + " is empty (a stray comma?)";
      return false;
    }
    FieldSpec f;
    std::string problem;
    if (!ParseEntry(words, &f, &problem)) {
      std::string shown;
      for (const std::string& w : words) shown += (shown.empty() ? "" : " ") + w;
      *error = where + " (\"" + shown + "\"): " + problem;
      return false;
    }
    for (const FieldSpec& earlier : *out) {
      if (earlier.name == f.name) {
        *error = where + ": the name " + f.name + " is used twice";
        return false;
      }
    }
    out->push_back(std::move(f));
  }
  if (out->size() > kMaxFields) {
    *error = "a table can have at most " + std::to_string(kMaxFields) + " fields, not " +
             std::to_string(out->size());
    return false;
  }
  return true;
}
