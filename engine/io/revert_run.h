#pragma once

#include <filesystem>

namespace quorvik {

enum class RevertOutcome {
  InvalidPath,    // the path does not open for reading as a regular file
  NotUpdated,     // a required Italian text is missing: the file is not an updated program
  NotReversible,  // patching the reverted bytes would not give back the file as it is
  Reverted,       // the file now holds the English texts again
};

// Turns an updated program file back into English: the table applied from Italian to English,
// all or nothing, first occurrences, and only when patching the result would give back exactly
// the current bytes. A file that held Italian texts before it was patched cannot be told apart
// and is reverted at the first places found. Anything but Reverted leaves the file untouched;
// failures while reading or rewriting throw FileError and leave it as it was.
RevertOutcome RevertRun(const std::filesystem::path& path);

}  // namespace quorvik
