#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvik::testing {

// A parsed JSON value. Numbers are limited to integers and strings to unescaped text, which is
// all the reports contain.
struct JsonValue {
  using Array = std::vector<JsonValue>;
  using Object = std::map<std::string, JsonValue>;
  std::variant<std::nullptr_t, bool, std::int64_t, std::string, Array, Object> value;

  bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }
  bool AsBool() const { return std::get<bool>(value); }
  std::int64_t AsInteger() const { return std::get<std::int64_t>(value); }
  const std::string& AsString() const { return std::get<std::string>(value); }
  const Array& AsArray() const { return std::get<Array>(value); }
  const Object& AsObject() const { return std::get<Object>(value); }
  // The member `name` of an object; throws when there is none.
  const JsonValue& operator[](const std::string& name) const { return AsObject().at(name); }
};

// Parses exactly one JSON value with nothing but white space around it; throws
// std::runtime_error naming the offset of the first thing it cannot read.
JsonValue ParseJson(std::string_view text);

}  // namespace quorvik::testing
