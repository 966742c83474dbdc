#pragma once

#include <cstdint>
#include <span>

namespace quorvik {

enum class RevertOutcome {
  InvalidPath,    // the path does not open for reading as a regular file
  NotUpdated,     // a required Italian text is missing: the file is not an updated program
  NotReversible,  // patching the reverted bytes would not give back the file as it is
  Reverted,       // the file now holds the English texts again
};

// Turns updated bytes back into English in place: the table applied from Italian to English,
// all or nothing, first occurrences, and only when patching the result would give back exactly
// the bytes as they are. Bytes that held Italian texts before they were patched cannot be told
// apart and are reverted at the first places found. Returns NotUpdated, NotReversible (leaving
// the bytes as they were) or Reverted.
RevertOutcome RevertBytes(std::span<std::uint8_t> bytes);

}  // namespace quorvik
