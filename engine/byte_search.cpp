#include "byte_search.h"

#include <cstring>

namespace quorvik {

ByteSearcher::ByteSearcher(Bytes needle) : needle_(std::move(needle)), fallback_(needle_.size()) {
  std::size_t border = 0;
  for (std::size_t i = 1; i < needle_.size(); ++i) {
    while (border > 0 && needle_[i] != needle_[border]) border = fallback_[border - 1];
    if (needle_[i] == needle_[border]) ++border;
    fallback_[i] = border;
  }
}

std::optional<std::size_t> ByteSearcher::FindFirst(ByteView haystack) const {
  const std::size_t m = needle_.size();
  if (m == 0) return 0;
  const std::uint8_t* data = haystack.data();
  const std::size_t n = haystack.size();
  std::size_t matched = 0;
  std::size_t i = 0;
  while (i < n) {
    if (matched == 0) {
      const void* hit = std::memchr(data + i, needle_[0], n - i);
      if (hit == nullptr) return std::nullopt;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    }
    while (matched > 0 && data[i] != needle_[matched]) matched = fallback_[matched - 1];
    if (data[i] == needle_[matched]) ++matched;
    ++i;
    if (matched == m) return i - m;
  }
  return std::nullopt;
}

}  // namespace quorvik
