#pragma once

#include <filesystem>

namespace quorvik {

// The path a person means by a path typed or pasted into the window or given to the companion:
// without the blanks (spaces, tabs) around it, and without one pair of double quotes around the
// whole of it, as Explorer's "Copy as path" and many scripts quote paths. A Windows file name
// cannot hold a double quote, so no valid path loses anything; whatever else the text holds is
// kept as it is, and the path test then decides whether it names a file.
std::filesystem::path PathAsEntered(const std::filesystem::path& text);

}  // namespace quorvik
