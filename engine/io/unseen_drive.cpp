#include "unseen_drive.h"

namespace quorvik {

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
