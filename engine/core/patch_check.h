#pragma once

#include <cstdint>
#include <span>

#include "table_patch.h"

namespace quorvik {

enum class CheckVerdict {
  ReadyToUpdate,   // a patch run would complete
  AlreadyUpdated,  // a patch run would refuse, and every required Italian text is in place
  NotExpectedFile  // a patch run would refuse for any other reason
};

// What a patch run would meet in a file.
struct FileCheck {
  TableReport english;  // where each English text would be replaced, as a patch run sees it
  CheckVerdict verdict;
};

// Finds what a patch run would meet in the bytes by applying the table to them, so that
// overlapping texts each need a place of their own as they do in a real run, and undoing it:
// the bytes are as they were when it returns.
FileCheck CheckBytes(std::span<std::uint8_t> bytes);

}  // namespace quorvik
