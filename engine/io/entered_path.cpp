#include "entered_path.h"

namespace quorvik {
namespace {

using Text = std::filesystem::path::string_type;

Text WithoutBlanksAround(const Text& text) {
  const auto isBlank = [](Text::value_type c) { return c == ' ' || c == '\t'; };
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace

std::filesystem::path PathAsEntered(const std::filesystem::path& text) {
  Text path = WithoutBlanksAround(text.native());
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  return path;
}

}  // namespace quorvik
