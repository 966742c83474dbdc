#include "json.h"

#include <cctype>
#include <stdexcept>

namespace quorvik::testing {
namespace {

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  JsonValue ParseDocument() {
    JsonValue value = ParseValue();
    SkipSpace();
    if (position_ != text_.size()) Fail("text after the value");
    return value;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error("JSON: " + what + " at offset " + std::to_string(position_));
  }

  void SkipSpace() {
    while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_]))) {
      ++position_;
    }
  }

  char Peek() {
    SkipSpace();
    if (position_ == text_.size()) Fail("unexpected end");
    return text_[position_];
  }

  void Expect(char c) {
    if (Peek() != c) Fail(std::string("expected '") + c + "'");
    ++position_;
  }

  bool Consume(std::string_view word) {
    if (text_.substr(position_, word.size()) != word) return false;
    position_ += word.size();
    return true;
  }

  JsonValue ParseValue() {
    const char c = Peek();
    if (c == '{') return {ParseObject()};
    if (c == '[') return {ParseArray()};
    if (c == '"') return {ParseString()};
    if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) return {ParseInteger()};
    if (Consume("true")) return {true};
    if (Consume("false")) return {false};
    if (Consume("null")) return {nullptr};
    Fail("unexpected character");
  }

  JsonValue::Object ParseObject() {
    JsonValue::Object object;
    Expect('{');
    while (Peek() != '}') {
      if (!object.empty()) Expect(',');
      if (Peek() != '"') Fail("expected a member name");
      std::string name = ParseString();
      Expect(':');
      if (!object.emplace(std::move(name), ParseValue()).second) Fail("duplicate member");
    }
    ++position_;
    return object;
  }

  JsonValue::Array ParseArray() {
    JsonValue::Array array;
    Expect('[');
    while (Peek() != ']') {
      if (!array.empty()) Expect(',');
      array.push_back(ParseValue());
    }
    ++position_;
    return array;
  }

  std::int64_t ParseInteger() {
    const bool negative = text_[position_] == '-';
    if (negative) ++position_;
    const std::size_t start = position_;
    std::int64_t value = 0;
    while (position_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[position_]))) {
      value = value * 10 + (text_[position_++] - '0');
    }
    if (position_ == start) Fail("expected a digit");
    if (text_[start] == '0' && position_ - start > 1) Fail("leading zero");
    if (position_ < text_.size() &&
        (text_[position_] == '.' || text_[position_] == 'e' || text_[position_] == 'E')) {
      Fail("only integers are supported");
    }
    return negative ? -value : value;
  }

  // The reports hold no escaped characters, so an escape is reported rather than decoded.
  std::string ParseString() {
    Expect('"');
    const std::size_t end = text_.find('"', position_);
    if (end == std::string_view::npos) Fail("unterminated string");
    std::string result(text_.substr(position_, end - position_));
    for (const char c : result) {
      if (c == '\\' || static_cast<unsigned char>(c) < 0x20) Fail("escape or control character");
    }
    position_ = end + 1;
    return result;
  }

  std::string_view text_;
  std::size_t position_ = 0;
};

}  // namespace

JsonValue ParseJson(std::string_view text) { return Parser(text).ParseDocument(); }

}  // namespace quorvik::testing
