#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "bytes.h"

namespace quorvik {

// Finds the first occurrence of a fixed byte string, at any offset, in time linear in the
// haystack's length whatever both contain (Knuth-Morris-Pratt, skipping ahead with memchr
// while nothing is partly matched).
class ByteSearcher {
 public:
  explicit ByteSearcher(Bytes needle);

  std::optional<std::size_t> FindFirst(ByteView haystack) const;

 private:
  Bytes needle_;
  // fallback_[i]: length of the longest proper border of needle_[0, i].
  std::vector<std::size_t> fallback_;
};

}  // namespace quorvik
