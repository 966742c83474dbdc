#include "wide_string.h"

namespace quorvik {

Bytes WidenString(std::string_view text) {
  Bytes wide;
  wide.reserve(text.size() * 2);
  for (const char c : text) {
    wide.push_back(static_cast<std::uint8_t>(c));
    wide.push_back(0);
  }
  return wide;
}

}  // namespace quorvik
