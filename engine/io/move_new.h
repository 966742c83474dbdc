#pragma once

#include <filesystem>

namespace quorvik {

// Gives the file `source` the name `destination` in one step, never replacing a file that has
// that name: returns false, changing nothing, when `destination` exists. Throws FileError on any
// other failure.
bool MoveWithoutReplacing(const std::filesystem::path& source,
                          const std::filesystem::path& destination);

}  // namespace quorvik
