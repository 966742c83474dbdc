#pragma once

#include <filesystem>
#include <optional>

#include "platform.h"

namespace quorvik {

// The path a person means by a path typed or pasted into the window or given to the companion:
// without the blanks (spaces, tabs) around it, and without one pair of double quotes around the
// whole of it, as Explorer's "Copy as path" and many scripts quote paths. A Windows file name
// cannot hold a double quote, so no valid path loses anything; whatever else the text holds is
// kept as it is, and the path test then decides whether it names a file.
std::filesystem::path PathAsEntered(const std::filesystem::path& text);

// The drive letter, in capitals, that `path` begins with when this process runs elevated and
// has no such drive: most likely a drive mapped (or made with subst) in the user's normal
// session, which Windows does not show to elevated programs. Nullopt otherwise.
std::optional<char> DriveUnseenWhenElevated(const std::filesystem::path& path,
                                            SessionView& session = NativeSessionView());

}  // namespace quorvik
