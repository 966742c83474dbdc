#include "user_path.h"

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

std::optional<char> DriveUnseenWhenElevated(const std::filesystem::path& path,
                                            SessionView& session) {
  const auto& text = path.native();
  if (text.size() < 2 || text[1] != ':') return std::nullopt;
  const auto first = text[0];
  char letter = 0;
  if (first >= 'A' && first <= 'Z') letter = static_cast<char>(first);
  if (first >= 'a' && first <= 'z') letter = static_cast<char>(first - 'a' + 'A');
  if (letter == 0 || session.HasDrive(letter) || !session.IsElevated()) return std::nullopt;
  return letter;
}

}  // namespace quorvik
