#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "bytes.h"

namespace quorvik {

// Where one string was found: its first offsets in ascending order, at most the limit asked
// for. `complete` is false when the limit cut the list short.
struct Occurrences {
  std::vector<std::size_t> offsets;
  bool complete = true;
};

// A string to look for, and the offset of the byte within it that the single pass keys on.
struct PatternToFind {
  ByteView bytes;
  std::size_t anchor;
};

// The offset of the byte a pass should key on: one of the string's rarest byte values. Blanks,
// stars and the zero bytes of wide text repeat within a text, and whole stretches of a file are
// made of them; a letter that occurs once rarely starts a near-match.
std::size_t AnchorOffset(ByteView bytes);

// How the single pass looks at the buffer. Both ways find exactly the same, and give up alike:
// sixteen positions at once with SSE2 vector instructions, or one position at a time on any
// processor.
enum class ScanMethod { Sse2, Plain };

// The quicker way that this processor can run: Sse2 where it has SSE2.
ScanMethod QuickestScanMethod();

// Finds the first occurrences of up to 32 non-empty strings in one pass over the buffer.
// Returns nullopt, having given up early, when the buffer holds so many near-matches that one
// pass would cost much more than a linear search for each string on its own. Sse2 must only be
// asked for where the processor has SSE2.
std::optional<std::vector<Occurrences>> FindFirstOccurrences(
    ByteView buffer, std::span<const PatternToFind> patterns, std::size_t limit,
    ScanMethod method = QuickestScanMethod());

}  // namespace quorvik
