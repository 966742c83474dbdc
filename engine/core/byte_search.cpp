#include "byte_search.h"

#include <cstring>

namespace quorvik {
namespace {

std::vector<std::size_t> BorderTable(ByteView pattern) {
  std::vector<std::size_t> fallback(pattern.size());
  std::size_t border = 0;
  for (std::size_t i = 1; i < pattern.size(); ++i) {
    while (border > 0 && pattern[i] != pattern[border]) border = fallback[border - 1];
    if (pattern[i] == pattern[border]) ++border;
    fallback[i] = border;
  }
  return fallback;
}

// The length of the needle's opening run of its first two byte values (such as wide blanks),
// or 0 when the whole needle is such a run.
std::size_t LeadSize(ByteView needle) {
  if (needle.size() < 2) return 0;
  std::size_t lead = 0;
  while (lead < needle.size() && (needle[lead] == needle[0] || needle[lead] == needle[1])) ++lead;
  return lead == needle.size() ? 0 : lead;
}

}  // namespace

ByteSearcher::ByteSearcher(Bytes needle) : needle_(std::move(needle)) {
  leadSize_ = LeadSize(needle_);
  fallback_ = BorderTable(ByteView(needle_).subspan(leadSize_));
  const std::size_t bodySize = fallback_.size();
  const std::size_t bodyPeriod = bodySize == 0 ? 0 : bodySize - fallback_.back();
  if (bodyPeriod < leadSize_) {
    leadSize_ = 0;
    fallback_ = BorderTable(needle_);
  }
}

std::optional<std::size_t> ByteSearcher::FindFirst(ByteView haystack) const {
  const std::uint8_t* body = needle_.data() + leadSize_;
  const std::size_t m = needle_.size() - leadSize_;
  if (needle_.empty()) return 0;
  if (haystack.size() < needle_.size()) return std::nullopt;
  const std::uint8_t* data = haystack.data();
  const std::size_t n = haystack.size();
  std::size_t matched = 0;
  // A body before leadSize_ could not have its lead in front of it.
  std::size_t i = leadSize_;
  while (i < n) {
    if (matched == 0) {
      const void* hit = std::memchr(data + i, body[0], n - i);
      if (hit == nullptr) return std::nullopt;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    }
    while (matched > 0 && data[i] != body[matched]) matched = fallback_[matched - 1];
    if (data[i] == body[matched]) ++matched;
    ++i;
    if (matched == m) {
      const std::size_t start = i - m - leadSize_;
      if (std::memcmp(data + start, needle_.data(), leadSize_) == 0) return start;
      matched = fallback_[m - 1];
    }
  }
  return std::nullopt;
}

}  // namespace quorvik
