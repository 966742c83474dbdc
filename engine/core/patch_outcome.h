#pragma once

namespace quorvik {

enum class PatchOutcome {
  InvalidPath,   // the path does not open for reading as a regular file
  CannotUpdate,  // a required English text is missing: already updated, or not the product
  Completed,     // the file now holds every replacement
};

}  // namespace quorvik
