#pragma once

#include <filesystem>
#include <optional>

namespace quorvik {

// What this process sees of the user's session; tests stand in for it.
class SessionView {
 public:
  virtual ~SessionView() = default;
  // Whether the drive letter (A to Z) names a drive for this process.
  virtual bool HasDrive(char letter) = 0;
  // Whether this process runs with the administrator rights that Windows' user account control
  // gives a program started "as administrator".
  virtual bool IsElevated() = 0;
};

SessionView& NativeSessionView();

// The drive letter, in capitals, that `path` begins with when this process runs elevated and
// has no such drive: most likely a drive mapped (or made with subst) in the user's normal
// session, which Windows does not show to elevated programs. Nullopt otherwise.
std::optional<char> DriveUnseenWhenElevated(const std::filesystem::path& path,
                                            SessionView& session = NativeSessionView());

}  // namespace quorvik
