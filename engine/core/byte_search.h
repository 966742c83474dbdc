#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "bytes.h"

namespace quorvik {

// Finds the first occurrence of a fixed byte string, at any offset, in time linear in the
// haystack's length whatever both contain.
//
// The product's texts begin with long runs of wide blanks, and so do large stretches of its
// file. So the search looks for the text's distinctive rest (the body) with Knuth-Morris-Pratt,
// skipping ahead with memchr while nothing is partly matched, and checks the lead in front of
// each body it finds. The lead is only split off when it is no longer than the body's period:
// bodies then lie at least that far apart, so the checks add at most one look per byte.
class ByteSearcher {
 public:
  explicit ByteSearcher(Bytes needle);

  std::optional<std::size_t> FindFirst(ByteView haystack) const;

 private:
  Bytes needle_;
  std::size_t leadSize_ = 0;
  // fallback_[i]: length of the longest proper border of the body's first i + 1 bytes.
  std::vector<std::size_t> fallback_;
};

}  // namespace quorvik
